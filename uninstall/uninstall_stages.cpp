#include <windows.h>
#include <ntsecapi.h>
#include <shlwapi.h>
#include <string.h>
#include <wchar.h>
#include <wctype.h>

#include "base/command_line.h"
#include "base/file_deletion.h"
#include "base/file_replacement.h"
#include "base/folder_identity.h"
#include "base/path_helpers.h"
#include "base/run_lock.h"
#include "package/package_digest.h"
#include "package/package_format.h"
#include "base/setup_state.h"
#include "base/text_format.h"
#include "install/test_hooks.h"
#include "uninstall/uninstaller.h"

// Both children are named by full path, never searched for (a search starts in the
// program's own folder, here the temporary folder, where anyone can put a cmd.exe), and
// start in the system folder, so that neither holds on to the install folder.
static int StartProcess(const wchar_t* program, wchar_t* command_line, DWORD flags,
                        const wchar_t* current_folder)
{
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(program, command_line, nullptr, nullptr, FALSE, flags, nullptr,
                        current_folder, &startup, &process))
        return 0;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

static int ReadSystemFolder(wchar_t* folder)
{
    UINT units = GetSystemDirectoryW(folder, SETUP_PATH_UNITS);
    return units > 0 && units < SETUP_PATH_UNITS;
}

// Without its own path the uninstaller cannot tell which folder it belongs to.
static int RefuseWithoutOwnPath(void)
{
    if (!g_setup.silent)
        MessageBoxW(nullptr, L"The uninstaller's path is too long to be read. Nothing was removed.",
                    UNINSTALL_CAPTION, MB_ICONERROR);
    return UNINSTALL_DECLINED;
}

void ScheduleSelfDelete(void)
{
    wchar_t system[SETUP_PATH_UNITS], cmd[SETUP_JOIN_UNITS], command[UNINSTALL_STAGE_COMMAND_UNITS];
    // cmd expands %...% even between quotes, so such a path could name another file; a cut
    // command could too. Then nothing is deleted.
    if (!g_setup.own_path[0] || wcschr(g_setup.own_path, L'%') || !ReadSystemFolder(system) ||
        JoinPath(cmd, SETUP_JOIN_UNITS, system, L"cmd.exe") < 0)
        return;
    // /s: cmd strips exactly the outer pair of quotes; /d: no AutoRun commands first.
    if (FormatText(command, UNINSTALL_STAGE_COMMAND_UNITS,
                   L"\"%s\" /d /s /c \"\"%s\\PING.EXE\" 127.0.0.1 -n 3 >nul & del /f /q \"%s\"\"",
                   cmd, system, g_setup.own_path) < 0)
        return;
    if (g_test_hooks.note) g_test_hooks.note("self-delete");
    StartProcess(cmd, command, CREATE_NO_WINDOW, system);
}

// A copy under a name no one can know in advance, and never over an existing file: a file
// placed there beforehand is neither replaced nor run.
static int CopyToNewTemporaryFile(wchar_t* copy)
{
    wchar_t temp[SETUP_PATH_UNITS];
    DWORD units = GetTempPathW(SETUP_PATH_UNITS, temp);
    if (units == 0 || units >= SETUP_PATH_UNITS) return 0;
    for (int attempt = 0; attempt < 8; attempt++) {
        ULONG random[2];
        int named = g_test_hooks.copy_name && g_test_hooks.copy_name(attempt, random);
        if ((!named && !RtlGenRandom(random, sizeof random)) ||
            FormatText(copy, SETUP_JOIN_UNITS, UNINSTALL_TEMP_COPY_FORMAT, temp,
                       (unsigned long)random[0], (unsigned long)random[1]) < 0)
            return 0;
        DWORD error = 0;
        if (CopyBytesToNewFile(g_setup.own_path, copy, &error)) return 1;  // without the zone mark
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return 0;
    }
    return 0;
}

// The copy stage 1 makes: in the temporary folder, under the name it gives its copies.
static int IsTemporaryCopy(const wchar_t* path)
{
    wchar_t temp[SETUP_PATH_UNITS], folder[SETUP_PATH_UNITS];
    DWORD units = GetTempPathW(SETUP_PATH_UNITS, temp);
    if (units == 0 || units >= SETUP_PATH_UNITS) return 0;
    wmemcpy(folder, path, SETUP_PATH_UNITS);
    const wchar_t* name = PathFindFileNameW(path);
    if (!PathRemoveFileSpecW(folder) || !IsSameFile(folder, temp)) return 0;
    static const wchar_t prefix[] = UNINSTALL_TEMP_COPY_PREFIX;
    size_t prefix_units = wcslen(prefix);
    if (wcslen(name) != prefix_units + 16 + 4 || _wcsnicmp(name, prefix, prefix_units) != 0 ||
        _wcsicmp(name + prefix_units + 16, L".exe") != 0)
        return 0;
    for (size_t i = prefix_units; i < prefix_units + 16; i++)
        if (!iswxdigit(name[i])) return 0;
    return 1;
}

// Stage 1 starts stage 2 and waits for its verdict, so that whoever ran "UninstallString"
// sees the uninstall's result as the exit code. Stage 2 writes to an inherited pipe: one
// byte once it holds the run lock, then the verdict ('0' + UninstallResult) once it is
// known, before it removes "Uninstall.exe", which stage 1 runs from. A stage 2 that never
// says it holds the lock within this time is stopped, and stage 1 goes on in place.
#define STAGE2_START_MS 60000
#define STAGE2_HOLDS_LOCK 'L'

static HANDLE g_verdict_pipe = nullptr;  // stage 2's end, while the verdict is not yet sent

void ReportUninstallVerdict(int result)
{
    if (!g_verdict_pipe) return;
    char byte = (char)('0' + result);
    DWORD written = 0;
    WriteFile(g_verdict_pipe, &byte, 1, &written, nullptr);
    CloseHandle(g_verdict_pipe);
    g_verdict_pipe = nullptr;
}

static void SayHoldsLock(void)
{
    char byte = STAGE2_HOLDS_LOCK;
    DWORD written = 0;
    if (g_verdict_pipe) WriteFile(g_verdict_pipe, &byte, 1, &written, nullptr);
}

// One byte from stage 2, waiting at most timeout_ms (INFINITE: until it ends). -1 when stage 2
// ended (or its pipe closed) without one, -2 when the time ran out.
static int ReadStage2Byte(HANDLE pipe, HANDLE process, DWORD timeout_ms)
{
    DWORD waited = 0;
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return -1;  // closed
        if (available) {
            char byte = 0;
            DWORD read = 0;
            return ReadFile(pipe, &byte, 1, &read, nullptr) && read == 1 ? (unsigned char)byte : -1;
        }
        // The pipe may hold a last byte written just before the process ended: looked at again.
        if (WaitForSingleObject(process, 50) == WAIT_OBJECT_0) {
            if (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available) continue;
            return -1;
        }
        waited += 50;
        if (timeout_ms != INFINITE && waited >= timeout_ms) return -2;
    }
}

static int ExitCodeOf(HANDLE process)
{
    DWORD code = UNINSTALL_INCOMPLETE;
    WaitForSingleObject(process, INFINITE);
    if (!GetExitCodeProcess(process, &code)) code = UNINSTALL_INCOMPLETE;
    return (int)code;
}

// Starts stage 2 from copy; *ran says whether it ran (then the result is its verdict),
// otherwise stage 1 still holds the lock and goes on in place.
static int RunStage2(const wchar_t* copy, const wchar_t* folder, int delete_saves, int* ran)
{
    *ran = 0;
    wchar_t system[SETUP_PATH_UNITS], quoted_copy[UNINSTALL_STAGE_COMMAND_UNITS];
    wchar_t quoted_folder[UNINSTALL_STAGE_COMMAND_UNITS], command[UNINSTALL_STAGE_COMMAND_UNITS];
    wchar_t lock_text[24];
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr, self = nullptr;
    if (!WriteRunLockHandle(lock_text, 24) || !CreatePipe(&read_end, &write_end, &inherited, 0)) return 0;
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    int started = DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                                  PROCESS_DUP_HANDLE | SYNCHRONIZE, TRUE, 0) &&
                  ReadSystemFolder(system) &&
                  QuoteArgument(quoted_copy, UNINSTALL_STAGE_COMMAND_UNITS, copy) >= 0 &&
                  QuoteArgument(quoted_folder, UNINSTALL_STAGE_COMMAND_UNITS, folder) >= 0 &&
                  FormatText(command, UNINSTALL_STAGE_COMMAND_UNITS,
                             L"%s /uninstall2 %s%s%s /lock %s /from %llX /report %llX", quoted_copy,
                             quoted_folder, g_setup.silent ? L" /S" : L"", delete_saves ? L" /delsaves" : L"",
                             lock_text, (unsigned long long)(ULONG_PTR)self,
                             (unsigned long long)(ULONG_PTR)write_end) >= 0 &&
                  CreateProcessW(copy, command, nullptr, nullptr, TRUE, 0, nullptr, system, &startup,
                                 &process);
    if (self) CloseHandle(self);  // the child has its own copies now
    CloseHandle(write_end);
    if (!started) {
        CloseHandle(read_end);
        return 0;
    }
    CloseHandle(process.hThread);
    int result = UNINSTALL_INCOMPLETE;
    int first = ReadStage2Byte(read_end, process.hProcess, STAGE2_START_MS);
    if (first == -2) {
        // Never reached its work: it holds nothing, and stage 1 does the work itself.
        TerminateProcess(process.hProcess, UNINSTALL_INCOMPLETE);
        WaitForSingleObject(process.hProcess, INFINITE);
    } else {
        *ran = 1;
        if (first == STAGE2_HOLDS_LOCK) {
            LeaveRunLockToChild();
            first = ReadStage2Byte(read_end, process.hProcess, INFINITE);
        }
        result = first >= '0' && first <= '9' ? first - '0' : ExitCodeOf(process.hProcess);
    }
    CloseHandle(read_end);
    CloseHandle(process.hProcess);
    return result;
}

// A program that carries a package of this setup's kind (sealed with its digest's mark): a
// copy of some release of this setup, not a file someone else put at such a name.
static int CarriesSetupPackage(const wchar_t* path)
{
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return 0;
    const uint8_t* bytes = nullptr;
    uint32_t size = 0;
    int ours = FindPackage(module, &bytes, &size) && size >= PACKAGE_HEADER_BYTES + PACKAGE_DIGEST_BYTES &&
               memcmp(bytes, "TNPK", 4) == 0 &&
               memcmp(bytes + size - PACKAGE_DIGEST_BYTES, PACKAGE_DIGEST_MAGIC, 4) == 0;
    FreeLibrary(module);
    return ours;
}

// Temporary copies that earlier uninstalls left behind (a stage 2 killed before its
// self-deletion): each is removed unless it still runs, which Windows refuses. Only copies
// of this setup go; a file someone else put at such a name stays.
static void RemoveLeftTemporaryCopies(void)
{
    wchar_t temp[SETUP_PATH_UNITS], search[SETUP_JOIN_UNITS], path[SETUP_JOIN_UNITS];
    DWORD units = GetTempPathW(SETUP_PATH_UNITS, temp);
    if (units == 0 || units >= SETUP_PATH_UNITS ||
        FormatText(search, SETUP_JOIN_UNITS, L"%s" UNINSTALL_TEMP_COPY_PREFIX L"*.exe", temp) < 0)
        return;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileExW(search, FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            FormatText(path, SETUP_JOIN_UNITS, L"%s%s", temp, entry.cFileName) < 0 ||
            !IsTemporaryCopy(path) || _wcsicmp(path, g_setup.own_path) == 0 || !CarriesSetupPackage(path))
            continue;
        DeletePathItself(path);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

static int SayBusy(void)
{
    if (!g_setup.silent) MessageBoxW(nullptr, RUN_LOCK_BUSY_TEXT, UNINSTALL_CAPTION, MB_ICONWARNING);
    return UNINSTALL_DECLINED;
}

int RunUninstallStage1(int argc, wchar_t** argv)
{
    int delete_saves = HasFlag(argc, argv, L"/delsaves");
    if (!g_setup.own_path[0]) return RefuseWithoutOwnPath();
    if (!TakeRunLock()) return SayBusy();
    if (!JoinPackageCheck(TakePackageCheck())) {
        // A damaged uninstaller may not be the program it claims to be: it removes nothing.
        ReleaseRunLock();
        if (!g_setup.silent)
            MessageBoxW(nullptr, PACKAGE_DAMAGED_TEXT, UNINSTALL_CAPTION, MB_ICONERROR);
        return UNINSTALL_DECLINED;
    }
    wchar_t folder[SETUP_PATH_UNITS];
    wmemcpy(folder, g_setup.own_path, SETUP_PATH_UNITS);
    PathRemoveFileSpecW(folder);
    if (!ConfirmInstallation(folder, !g_setup.silent)) return UNINSTALL_DECLINED;

    RemoveLeftTemporaryCopies();
    wchar_t copy[SETUP_JOIN_UNITS];
    if (CopyToNewTemporaryFile(copy)) {
        int ran = 0;
        int result = RunStage2(copy, folder, delete_saves, &ran);
        if (ran) {
            ReleaseRunLock();  // still held only when stage 2 never took it over
            return result;
        }
        DeletePathItself(copy);  // this run's own copy, never run
    }
    int result = UninstallFolder(folder, !g_setup.silent, delete_saves);
    ReleaseRunLock();
    return result;
}

// Only a full path names a folder to remove: a relative one, or one relative to a drive's
// current folder ("R:", "\Games"), would resolve against whatever is current; a device
// path ("\\?\", "\\.\") is refused as the install refuses it.
static int IsUsableFolder(const wchar_t* folder)
{
    return FolderPathForm(folder) == PATH_FORM_FULL && wcslen(folder) < SETUP_PATH_UNITS;
}

int RunUninstallStage2(int argc, wchar_t** argv)
{
    g_verdict_pipe = ParseHandleText(OptionValue(argc, argv, L"/report"));
    if (g_verdict_pipe && GetFileType(g_verdict_pipe) != FILE_TYPE_PIPE) g_verdict_pipe = nullptr;
    if (!g_setup.own_path[0]) {
        ReportUninstallVerdict(UNINSTALL_DECLINED);
        return RefuseWithoutOwnPath();  // cannot even delete itself
    }
    int lock = TakeHandedRunLock(OptionValue(argc, argv, L"/lock"), OptionValue(argc, argv, L"/from"));
    if (!lock) {
        ReportUninstallVerdict(UNINSTALL_DECLINED);
        return SayBusy();
    }
    SayHoldsLock();
    // Only the temporary copy that stage 1 made and started deletes itself: run by hand, this
    // program may be the player's downloaded setup or an installation's uninstaller.
    int from_stage1 = lock == RUN_LOCK_HANDED_OVER && IsTemporaryCopy(g_setup.own_path);
    const wchar_t* folder = OptionValue(argc, argv, L"/uninstall2");
    int result = UNINSTALL_DECLINED;
    if (folder && IsUsableFolder(folder))
        result = UninstallFolder(folder, !g_setup.silent, HasFlag(argc, argv, L"/delsaves"));
    ReportUninstallVerdict(result);  // unless it went before "Uninstall.exe"
    RemoveLeftTemporaryCopies();
    ReleaseRunLock();
    if (from_stage1) ScheduleSelfDelete();
    return result;
}
