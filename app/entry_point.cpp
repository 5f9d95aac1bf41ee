// The setup program's entry point: records its own path, reads the command line and runs
// one mode: uninstall stage 1 or 2, a silent install, or the window.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <wchar.h>

#include "app/default_folder.h"
#include "base/command_line.h"
#include "base/message_box_caption.h"
#include "base/run_lock.h"
#include "base/status_channel.h"
#include "base/setup_state.h"
#include "package/package_digest.h"
#include "install/install_worker.h"
#include "uninstall/uninstaller.h"
#include "window/setup_window.h"

// Setup is usually started from a downloads folder full of other people's files: never
// load a library from there, and never let Windows raise critical-error boxes.
static void HardenProcess(void)
{
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryW(L"");
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

// Attaches to the parent's console for the status lines, but keeps an output that the
// caller redirected (a pipe or a file) rather than the console behind it.
static void AttachParentConsole(void)
{
    HANDLE given = GetStdHandle(STD_OUTPUT_HANDLE);
    AttachConsole(ATTACH_PARENT_PROCESS);
    if (given != nullptr && given != INVALID_HANDLE_VALUE) SetStdHandle(STD_OUTPUT_HANDLE, given);
}

// A path that does not fit comes back cut, and a cut path names another file or folder
// (cut at a backslash, the install folder's parent): then the own path stays empty and
// each mode that needs it refuses. One unit more than the field tells a cut apart.
static void RecordOwnPath(void)
{
    wchar_t own[SETUP_PATH_UNITS + 1];
    DWORD units = GetModuleFileNameW(nullptr, own, SETUP_PATH_UNITS + 1);
    if (units > 0 && units < SETUP_PATH_UNITS) wmemcpy(g_setup.own_path, own, units + 1);
}

// Double-clicked in its installation, "Uninstall.exe" uninstalls, as every Windows user
// expects of a file of that name; the setup window stays the downloaded setup's.
static int StartedAsUninstaller(int argc)
{
    return argc == 1 && g_setup.own_path[0] &&
           CompareStringOrdinal(PathFindFileNameW(g_setup.own_path), -1, L"Uninstall.exe", -1, TRUE) ==
               CSTR_EQUAL;
}

// A value option given as the last argument, with nothing after it: an error, never a
// silent fall-back to a default.
static int OptionLacksValue(int argc, wchar_t** argv, const wchar_t* option)
{
    return argc > 1 && MatchesOption(argv[argc - 1], option) && !OptionValue(argc, argv, option);
}

// Another setup window is open: bring it to the front.
static void ShowRunningSetup(void)
{
    HWND other = FindWindowW(SETUP_WINDOW_CLASS, nullptr);
    if (!other) return;
    if (IsIconic(other)) ShowWindow(other, SW_RESTORE);
    SetForegroundWindow(other);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    InitSetupState();
    HardenProcess();
    RecordOwnPath();
    // The package's check reads 50 MB on the other core: begun before the libraries load,
    // it is done when an install, the window or the uninstaller asks for its result. Only
    // the uninstaller's second stage, started by the first with this very option, never
    // asks (the command line is read later, through a library that takes time to load).
    if (!wcsstr(GetCommandLineW(), L" /uninstall2")) g_setup.package_check = StartPackageCheck();

    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) argc = 0;

    g_setup.silent = HasFlag(argc, argv, L"/S");
    if (g_setup.silent) AttachParentConsole();

    // Only the window needs a single-threaded apartment (its file dialog). Under Wine that
    // apartment starts the desktop process; the shell link object works in either, so the
    // silent install and the uninstaller join the multithreaded one and start none.
    bool uninstall = HasFlag(argc, argv, L"/uninstall");
    bool uninstall2 = HasFlag(argc, argv, L"/uninstall2");
    bool windowless = g_setup.silent || uninstall || uninstall2;
    CoInitializeEx(nullptr, windowless ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);

    if ((uninstall || uninstall2 || StartedAsUninstaller(argc)) && !g_setup.silent) FitMessageBoxCaptions();
    if (uninstall || StartedAsUninstaller(argc)) return RunUninstallStage1(argc, argv);
    if (uninstall2) return RunUninstallStage2(argc, argv);

    ReadDefaultInstallFolder(g_setup.install_folder);

    if (g_setup.silent) {
        if (!TakeRunLock()) {
            ReportFailure(L"%s", RUN_LOCK_BUSY_TEXT);
            return 1;
        }
        if (OptionLacksValue(argc, argv, L"/dir")) {
            ReportFailure(L"The /dir option needs a folder after it.");
            return 1;
        }
        if (OptionLacksValue(argc, argv, L"/rom")) {
            ReportFailure(L"The /rom option needs a ROM file after it.");
            return 1;
        }
        const wchar_t* rom = OptionValue(argc, argv, L"/rom");
        if (rom) g_setup.rom_path_too_long = !CopyOptionValue(g_setup.rom_path, rom);
        const wchar_t* dir = OptionValue(argc, argv, L"/dir");
        if (dir) g_setup.install_folder_too_long = !CopyOptionValue(g_setup.install_folder, dir);
        g_setup.make_desktop_shortcut = !HasFlag(argc, argv, L"/nodesktop");
        g_setup.make_start_menu_shortcut = !HasFlag(argc, argv, L"/nostartmenu");
        InstallWorker(nullptr);
        ReleaseRunLock();
        return g_setup.failed;
    }
    // The window holds the lock while it is open; a second one shows the first instead.
    if (!OptionValue(argc, argv, L"/snapshot") && !TakeRunLock()) {
        ShowRunningSetup();
        return 0;
    }
    int result = RunSetupWindow(instance, show, argc, argv);
    ReleaseRunLock();
    return result;
}
