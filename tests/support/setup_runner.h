// Running the real setup program as a user or a script would, and reading back what it
// left in the shell and the registry.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#define TEST_UNINSTALL_KEY L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TorrentinePC"

struct SetupRun {
    DWORD exit_code;
    std::string out;  // standard output, exactly as written
    bool finished;
    DWORD process_id;
};

std::wstring TestSetupExe();      // the test flavour
std::wstring ReleaseSetupExe();   // the release flavour
// Later releases of the test flavour: 2 ships more files than the first, 3 fewer.
std::wstring TestReleaseExe(int release);
// The game folder each release packs (1: the first release's).
std::wstring ReleaseGameFolder(int release);
std::wstring StandinGameFolder();
std::wstring PackagePath();

// text as one command-line argument, as CommandLineToArgvW reads it back.
std::wstring Quoted(const std::wstring& text);
// Runs exe with the given arguments (already quoted as needed), standard output into a
// pipe; waits up to timeout_ms and kills it if it is still running then.
SetupRun RunProgram(const std::wstring& exe, const std::wstring& arguments,
                    DWORD timeout_ms = 120000, const wchar_t* working_folder = nullptr);

// The uninstall key and both shortcuts, removed so that a test starts clean.
void RemoveShellEntries();
std::wstring DesktopShortcut();
std::wstring StartMenuShortcut();

struct ShortcutInfo {
    bool loaded;
    std::wstring target, working_folder, icon_path, description;
    int icon_index;
};
ShortcutInfo ReadShortcut(const std::wstring& path);

struct RegValue {
    bool present;
    DWORD type;
    std::vector<uint8_t> bytes;
    std::wstring Text() const;
    DWORD Dword() const;
};
RegValue ReadUninstallValue(const wchar_t* name);
std::vector<std::wstring> UninstallValueNames();
void WriteUninstallValue(const wchar_t* name, DWORD type, const void* data, DWORD bytes);

// Polls until path no longer exists; false when it is still there after timeout_ms.
bool WaitUntilGone(const std::wstring& path, DWORD timeout_ms);
bool WaitUntilPresent(const std::wstring& path, DWORD timeout_ms);

// A link to a folder, as Wine shows one: a Unix symbolic link made with /bin/ln.
bool MakeFolderLink(const std::wstring& link, const std::wstring& target);
// A second name for a file: a Unix symbolic link (which Wine shows as a plain file) or a
// hard link, made with /bin/ln.
bool MakeFileLink(const std::wstring& link, const std::wstring& target, bool symbolic);

// Message boxes of another process, found by caption, read and answered as a person would.
HWND WaitForMessageBox(const wchar_t* caption, DWORD timeout_ms);
std::wstring MessageBoxText(HWND box);
void AnswerMessageBox(HWND box, int answer);
// Waits for the process owning window to end and returns its exit code (or 0xFFFFFFFF).
DWORD WaitForWindowProcess(HANDLE process, DWORD timeout_ms);
HANDLE OpenWindowProcess(HWND window);

// Every file below folder, as paths relative to it.
std::vector<std::wstring> ListFilesBelow(const std::wstring& folder);
// Every file below folder with its bytes, to show that nothing there changed.
std::vector<std::pair<std::wstring, std::vector<uint8_t>>> FilesAndBytesBelow(const std::wstring& folder);

// A copy of exe whose package resource is replaced by bytes (or removed when empty), sealed
// with its new whole-file digest as the build seals a setup: only the package is changed.
bool CopyWithPackage(const std::wstring& exe, const std::wstring& copy,
                     const std::vector<uint8_t>& package, bool remove);

// Wine cannot start a program whose path passes 259 units; the host can. Runs exe through
// the build's wine-run.sh from a shell script in scratch, its standard output into
// scratch\stdout.txt. HostExitCode waits for the run's end and gives its exit code as the
// shell prints it ("1\n").
PROCESS_INFORMATION StartThroughHost(const std::wstring& scratch, const std::wstring& exe,
                                     const std::vector<std::wstring>& arguments);
std::string HostExitCode(const std::wstring& scratch, PROCESS_INFORMATION& shell);

// The game running from an installation for real: the stand-in executable started from
// folder, returned once its window is up (its image mapped, as Windows runs a program).
// EndGame kills it and waits for its end. hProcess is null when it did not start.
PROCESS_INFORMATION StartGame(const std::wstring& folder);
void EndGame(PROCESS_INFORMATION& game);
