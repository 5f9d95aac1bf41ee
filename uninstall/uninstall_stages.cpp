#include <windows.h>
#include <ntsecapi.h>
#include <shlwapi.h>
#include <wchar.h>
#include <wctype.h>

#include "base/command_line.h"
#include "base/file_helpers.h"
#include "base/folder_identity.h"
#include "base/path_helpers.h"
#include "base/run_lock.h"
#include "package/package_digest.h"
#include "base/setup_state.h"
#include "base/text_format.h"
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
        int named = g_setup.test_copy_name && g_setup.test_copy_name(attempt, random);
        if ((!named && !RtlGenRandom(random, sizeof random)) ||
            FormatText(copy, SETUP_JOIN_UNITS, UNINSTALL_TEMP_COPY_FORMAT, temp,
                       (unsigned long)random[0], (unsigned long)random[1]) < 0)
            return 0;
        if (CopyFileW(g_setup.own_path, copy, TRUE)) return 1;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return 0;
    }
    return 0;
}

// Stage 2 gets the run lock without a gap: an inheritable handle of it, named on its
// command line. Stage 1 then ends without giving the lock back; stage 2 gives it back.
static int StartStage2(const wchar_t* copy, const wchar_t* folder, int delete_saves)
{
    wchar_t system[SETUP_PATH_UNITS], quoted_copy[UNINSTALL_STAGE_COMMAND_UNITS];
    wchar_t quoted_folder[UNINSTALL_STAGE_COMMAND_UNITS], command[UNINSTALL_STAGE_COMMAND_UNITS];
    wchar_t lock_text[24];
    HANDLE lock = InheritableRunLock(lock_text, 24);
    if (!lock) return 0;
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    int started = ReadSystemFolder(system) &&
                  QuoteArgument(quoted_copy, UNINSTALL_STAGE_COMMAND_UNITS, copy) >= 0 &&
                  QuoteArgument(quoted_folder, UNINSTALL_STAGE_COMMAND_UNITS, folder) >= 0 &&
                  FormatText(command, UNINSTALL_STAGE_COMMAND_UNITS, L"%s /uninstall2 %s%s%s /lock %s",
                             quoted_copy, quoted_folder, g_setup.silent ? L" /S" : L"",
                             delete_saves ? L" /delsaves" : L"", lock_text) >= 0 &&
                  CreateProcessW(copy, command, nullptr, nullptr, TRUE, 0, nullptr, system, &startup,
                                 &process);
    CloseHandle(lock);  // the child has its own copy now
    if (!started) return 0;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
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

    wchar_t copy[SETUP_JOIN_UNITS];
    if (CopyToNewTemporaryFile(copy)) {
        if (StartStage2(copy, folder, delete_saves)) return 0;  // the lock went with it
        DeletePathItself(copy);  // this run's own copy, never started
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

int RunUninstallStage2(int argc, wchar_t** argv)
{
    if (!g_setup.own_path[0]) return RefuseWithoutOwnPath();  // cannot even delete itself
    int lock = TakeHandedRunLock(OptionValue(argc, argv, L"/lock"));
    if (!lock) return SayBusy();
    // Only the temporary copy that stage 1 made and started deletes itself: run by hand, this
    // program may be the player's downloaded setup or an installation's uninstaller.
    int from_stage1 = lock == RUN_LOCK_HANDED_OVER && IsTemporaryCopy(g_setup.own_path);
    const wchar_t* folder = OptionValue(argc, argv, L"/uninstall2");
    int result = UNINSTALL_DECLINED;
    if (folder && IsUsableFolder(folder))
        result = UninstallFolder(folder, !g_setup.silent, HasFlag(argc, argv, L"/delsaves"));
    ReleaseRunLock();
    if (from_stage1) ScheduleSelfDelete();
    return result;
}
