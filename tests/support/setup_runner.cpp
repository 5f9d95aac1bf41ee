#include "tests/support/setup_runner.h"

#include <stdio.h>

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>

#include "tests/support/test_support.h"
#include "package/setup_file_digest.h"

std::wstring TestSetupExe() { return WindowsPath(TEST_WIDEN(TORRENTINE_TEST_SETUP_EXE)); }
std::wstring ReleaseSetupExe() { return WindowsPath(TEST_WIDEN(TORRENTINE_RELEASE_SETUP_EXE)); }
std::wstring TestReleaseExe(int release)
{
    return WindowsPath(release == 2 ? TEST_WIDEN(TORRENTINE_TEST_RELEASE2_EXE)
                                    : TEST_WIDEN(TORRENTINE_TEST_RELEASE3_EXE));
}
std::wstring ReleaseGameFolder(int release)
{
    if (release == 1) return StandinGameFolder();
    return WindowsPath(TEST_WIDEN(TORRENTINE_TEST_STANDIN_DIR)) + L"\\game-release" + std::to_wstring(release);
}
std::wstring StandinGameFolder() { return WindowsPath(TEST_WIDEN(TORRENTINE_TEST_GAME_DIR)); }
std::wstring PackagePath() { return WindowsPath(TEST_WIDEN(TORRENTINE_TEST_PACKAGE)); }

std::wstring Quoted(const std::wstring& text)
{
    // Backslashes before the closing quote are doubled, or the quote would be read as text.
    size_t trailing = text.size() - text.find_last_not_of(L'\\') - 1;
    if (text.find_last_not_of(L'\\') == std::wstring::npos) trailing = text.size();
    return L"\"" + text + std::wstring(trailing, L'\\') + L"\"";
}

SetupRun RunProgram(const std::wstring& exe, const std::wstring& arguments, DWORD timeout_ms,
                    const wchar_t* working_folder)
{
    SetupRun run = {0xFFFFFFFF, "", false, 0};
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return run;
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherit, OPEN_EXISTING, 0, nullptr);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = write_end;
    startup.hStdError = nul;
    std::wstring command = Quoted(exe) + (arguments.empty() ? L"" : L" " + arguments);
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    PROCESS_INFORMATION process = {};
    // A start that fails is said (and tried again for a few seconds): seen once or twice on a
    // machine loaded by builds, a run gave no output and no exit code at once, and the log
    // must then tell a failed start from a run that ended early.
    BOOL started = FALSE;
    for (int attempt = 0; !started && attempt < 20; attempt++) {
        if (attempt) Sleep(100);
        started = CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, working_folder,
                                 &startup, &process);
        if (!started) fprintf(stderr, "RunProgram: CreateProcessW failed (error %lu)\n", GetLastError());
    }
    CloseHandle(write_end);
    CloseHandle(nul);
    if (started) run.process_id = process.dwProcessId;
    if (!started) {
        CloseHandle(read_end);
        return run;
    }
    // Read on this thread until the pipe closes; the child writes little. Under Wine the
    // pipe can report its end (the child closed it on its way out) before the process
    // counts as ended: what is left is still read, and the end is then waited for, never
    // taken as a hang.
    // A 64-bit count, and a step back taken as no time at all: a clock that seemed to go back
    // would otherwise end the wait at once and kill the run.
    const ULONGLONG start = GetTickCount64();
    auto elapsed = [start]() -> ULONGLONG {
        ULONGLONG now = GetTickCount64();
        return now > start ? now - start : 0;
    };
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr)) {
            char chunk[4096];
            DWORD got = 0;
            while (ReadFile(read_end, chunk, sizeof chunk, &got, nullptr) && got > 0) run.out.append(chunk, got);
            break;
        }
        if (available > 0) {
            char chunk[4096];
            DWORD got = 0;
            if (!ReadFile(read_end, chunk, sizeof chunk, &got, nullptr) || got == 0) break;
            run.out.append(chunk, got);
            continue;
        }
        if (WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0) {
            // Drain what is left.
            while (PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr) && available) {
                char chunk[4096];
                DWORD got = 0;
                if (!ReadFile(read_end, chunk, sizeof chunk, &got, nullptr) || got == 0) break;
                run.out.append(chunk, got);
            }
            break;
        }
        if (elapsed() > timeout_ms) break;
    }
    ULONGLONG spent = elapsed();
    DWORD left = spent < timeout_ms ? (DWORD)(timeout_ms - spent) : 0;
    if (WaitForSingleObject(process.hProcess, left) == WAIT_OBJECT_0) {
        run.finished = true;
        GetExitCodeProcess(process.hProcess, &run.exit_code);
    } else {
        fprintf(stderr, "RunProgram: still running after %llu ms: killed\n", elapsed());
        TerminateProcess(process.hProcess, 255);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(read_end);
    return run;
}

static std::wstring KnownFolder(REFKNOWNFOLDERID id)
{
    PWSTR path = nullptr;
    std::wstring result;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path))) result = path;
    CoTaskMemFree(path);
    return result;
}

std::wstring DesktopShortcut() { return KnownFolder(FOLDERID_Desktop) + L"\\Torrentine PC.lnk"; }
std::wstring StartMenuShortcut() { return KnownFolder(FOLDERID_Programs) + L"\\Torrentine PC.lnk"; }

void RemoveShellEntries()
{
    RegDeleteTreeW(HKEY_CURRENT_USER, TEST_UNINSTALL_KEY);
    RegDeleteKeyW(HKEY_CURRENT_USER, TEST_UNINSTALL_KEY);
    DeleteFileW(DesktopShortcut().c_str());
    DeleteFileW(StartMenuShortcut().c_str());
}

ShortcutInfo ReadShortcut(const std::wstring& path)
{
    ShortcutInfo info = {false, L"", L"", L"", L"", -1};
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                (void**)&link)))
        return info;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&file))) {
        if (SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
            wchar_t text[1024];
            info.loaded = true;
            // The target as the shell resolves it, from the item list (Wine's raw path
            // keeps only what the ANSI code page can hold).
            PIDLIST_ABSOLUTE items = nullptr;
            if (SUCCEEDED(link->GetIDList(&items)) && items && SHGetPathFromIDListW(items, text))
                info.target = text;
            CoTaskMemFree(items);
            if (SUCCEEDED(link->GetWorkingDirectory(text, 1024))) info.working_folder = text;
            int index = -1;
            if (SUCCEEDED(link->GetIconLocation(text, 1024, &index))) {
                info.icon_path = text;
                info.icon_index = index;
            }
            if (SUCCEEDED(link->GetDescription(text, 1024))) info.description = text;
        }
        file->Release();
    }
    link->Release();
    return info;
}

std::wstring RegValue::Text() const
{
    std::wstring text((const wchar_t*)bytes.data(), bytes.size() / 2);
    return text;
}

DWORD RegValue::Dword() const
{
    DWORD value = 0;
    if (bytes.size() == 4) memcpy(&value, bytes.data(), 4);
    return value;
}

RegValue ReadUninstallValue(const wchar_t* name)
{
    RegValue value = {false, 0, {}};
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, TEST_UNINSTALL_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return value;
    DWORD bytes = 0;
    if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &bytes) == ERROR_SUCCESS) {
        value.bytes.resize(bytes);
        if (RegQueryValueExW(key, name, nullptr, &value.type, value.bytes.data(), &bytes) ==
            ERROR_SUCCESS) {
            value.present = true;
            value.bytes.resize(bytes);
        }
    }
    RegCloseKey(key);
    return value;
}

std::vector<std::wstring> UninstallValueNames()
{
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, TEST_UNINSTALL_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; i++) {
        wchar_t name[256];
        DWORD units = 256;
        if (RegEnumValueW(key, i, name, &units, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    RegCloseKey(key);
    return names;
}

void WriteUninstallValue(const wchar_t* name, DWORD type, const void* data, DWORD bytes)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, TEST_UNINSTALL_KEY, 0, nullptr, 0, KEY_WRITE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, type, (const BYTE*)data, bytes);
    RegCloseKey(key);
}

static void ListInto(const std::wstring& root, const std::wstring& relative,
                     std::vector<std::wstring>* out)
{
    WIN32_FIND_DATAW entry;
    std::wstring base = relative.empty() ? root : root + L"\\" + relative;
    HANDLE find = FindFirstFileW((base + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring child = relative.empty() ? name : relative + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListInto(root, child, out);
        else
            out->push_back(child);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

std::vector<std::wstring> ListFilesBelow(const std::wstring& folder)
{
    std::vector<std::wstring> files;
    ListInto(folder, L"", &files);
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::pair<std::wstring, std::vector<uint8_t>>> FilesAndBytesBelow(const std::wstring& folder)
{
    std::vector<std::pair<std::wstring, std::vector<uint8_t>>> files;
    for (const std::wstring& name : ListFilesBelow(folder))
        files.push_back({name, ReadBytes(folder + L"\\" + name)});
    return files;
}

bool CopyWithPackage(const std::wstring& exe, const std::wstring& copy,
                     const std::vector<uint8_t>& package, bool remove)
{
    if (!CopyFileW(exe.c_str(), copy.c_str(), FALSE)) return false;
    // Wine cannot delete one resource; removing means starting from no resources at all.
    HANDLE update = BeginUpdateResourceW(copy.c_str(), remove);
    if (!update) return false;
    BOOL ok = remove || UpdateResourceW(update, RT_RCDATA, MAKEINTRESOURCEW(101),
                                        MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                        (void*)package.data(), (DWORD)package.size());
    if (!EndUpdateResourceW(update, !ok) || !ok) return false;
    std::vector<uint8_t> image = ReadBytes(copy);
    return !image.empty() && SealSetupFileBytes(image.data(), (uint32_t)image.size()) == SEAL_DONE &&
           WriteBytes(copy, image.data(), image.size());
}

bool WaitUntilGone(const std::wstring& path, DWORD timeout_ms)
{
    DWORD start = GetTickCount();
    while (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start > timeout_ms) return false;
        Sleep(50);
    }
    return true;
}

bool WaitUntilPresent(const std::wstring& path, DWORD timeout_ms)
{
    DWORD start = GetTickCount();
    while (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start > timeout_ms) return false;
        Sleep(50);
    }
    return true;
}

HWND WaitForMessageBox(const wchar_t* caption, DWORD timeout_ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND box = FindWindowW(L"#32770", caption);
        if (box && IsWindowVisible(box)) return box;
        if (GetTickCount() - start > timeout_ms) return nullptr;
        Sleep(50);
    }
}

std::wstring MessageBoxText(HWND box)
{
    wchar_t text[2048] = {0};
    HWND label = GetDlgItem(box, 0xFFFF);
    if (label) SendMessageW(label, WM_GETTEXT, 2048, (LPARAM)text);
    return text;
}

void AnswerMessageBox(HWND box, int answer)
{
    // Wait until this box is gone, so that the next one can be told apart; answer again now
    // and then in case a busy machine lost the answer.
    DWORD start = GetTickCount();
    while (IsWindow(box) && GetTickCount() - start < 60000) {
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
        for (int i = 0; i < 120 && IsWindow(box); i++) Sleep(25);
    }
}

HANDLE OpenWindowProcess(HWND window)
{
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    return OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, id);
}

DWORD WaitForWindowProcess(HANDLE process, DWORD timeout_ms)
{
    DWORD code = 0xFFFFFFFF;
    if (process && WaitForSingleObject(process, timeout_ms) == WAIT_OBJECT_0)
        GetExitCodeProcess(process, &code);
    if (process) CloseHandle(process);
    return code;
}

// Wine cannot make a directory link itself, but it shows a Unix symbolic link to a folder
// as one (directory and reparse-point bits), so tests make them through /bin/ln.
bool MakeFolderLink(const std::wstring& link, const std::wstring& target)
{
    std::wstring unix_link = UnixPath(link), unix_target = UnixPath(target);
    if (unix_link.empty() || unix_target.empty()) return false;
    if (!RunHostCommand(L"ln", L"-s \"" + unix_target + L"\" \"" + unix_link + L"\"")) return false;
    return WaitUntilPresent(link, 30000);
}

bool MakeFileLink(const std::wstring& link, const std::wstring& target, bool symbolic)
{
    std::wstring unix_link = UnixPath(link), unix_target = UnixPath(target);
    if (unix_link.empty() || unix_target.empty()) return false;
    std::wstring options = symbolic ? L"-s " : L"";
    if (!RunHostCommand(L"ln", options + L"\"" + unix_target + L"\" \"" + unix_link + L"\""))
        return false;
    return WaitUntilPresent(link, 30000);
}

// Wine cannot start a program whose path passes 259 units, but its loader started from the
// host can: a shell script runs exe through the build's wine-run.sh and writes the exit
// code into a file, its standard output into "stdout.txt" beside it. Returns the started shell, for HostExitCode.
PROCESS_INFORMATION StartThroughHost(const std::wstring& scratch, const std::wstring& exe,
                                            const std::vector<std::wstring>& arguments)
{
    std::wstring build = TestSetupExe().substr(0, TestSetupExe().rfind(L'\\'));
    std::string script = "'" + Utf8(UnixPath(build)) + "/wine-run.sh' '" + Utf8(UnixPath(exe)) + "'";
    for (const std::wstring& argument : arguments) script += " '" + Utf8(argument) + "'";
    script += " > '" + Utf8(UnixPath(scratch)) + "/stdout.txt'";
    script += "\necho $? > '" + Utf8(UnixPath(scratch)) + "/exit-code.txt'\n";
    DeleteFileW((scratch + L"\\exit-code.txt").c_str());
    WriteText(scratch + L"\\run.sh", script.c_str());
    std::wstring sh = L"Z:\\bin\\sh", command = Quoted(sh) + L" " + Quoted(UnixPath(scratch + L"\\run.sh"));
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    CreateProcessW(sh.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    return process;
}

// Wine's handle on a host process does not wait for it: the code file, once written whole,
// says that the run has ended.
std::string HostExitCode(const std::wstring& scratch, PROCESS_INFORMATION& shell)
{
    CloseHandle(shell.hThread);
    CloseHandle(shell.hProcess);
    std::string code;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 60000; Sleep(50)) {
        std::vector<uint8_t> bytes = ReadBytes(scratch + L"\\exit-code.txt");
        code.assign(bytes.begin(), bytes.end());
        if (!code.empty() && code.back() == '\n') break;
    }
    return code;
}

namespace {
struct GameWindowSearch {
    DWORD process_id;
    bool found;
};

BOOL CALLBACK FindGameWindow(HWND window, LPARAM param)
{
    GameWindowSearch* search = (GameWindowSearch*)param;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[64];
    if (owner == search->process_id && GetClassNameW(window, name, 64) && wcscmp(name, L"TorrentineStandinGame") == 0)
        search->found = true;
    return !search->found;
}
}  // namespace

PROCESS_INFORMATION StartGame(const std::wstring& folder)
{
    std::wstring exe = folder + L"\\TorrentinePC.exe";
    std::wstring command = Quoted(exe);
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION game = {};
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &game))
        return game;
    GameWindowSearch search = {game.dwProcessId, false};
    for (DWORD start = GetTickCount(); !search.found && GetTickCount() - start < 60000;) {
        EnumWindows(FindGameWindow, (LPARAM)&search);
        if (!search.found) Sleep(50);
    }
    return game;
}

void EndGame(PROCESS_INFORMATION& game)
{
    if (!game.hProcess) return;
    TerminateProcess(game.hProcess, 0);
    WaitForSingleObject(game.hProcess, 60000);
    CloseHandle(game.hProcess);
    CloseHandle(game.hThread);
    game.hProcess = game.hThread = nullptr;
}
