// The one process-wide record that every run mode shares: the entry point, the install
// worker, the uninstaller and the window. Each field's writer and reader thread is fixed;
// see the comments. What the window alone keeps is in window/setup_window.h, the test
// flavour's hooks in install/test_hooks.h.
#pragma once
#include <windows.h>

#define SETUP_PATH_UNITS 260   // install request paths, own path: 259 units and a terminator
#define SETUP_JOIN_UNITS 520   // a folder joined with a name

struct SetupState {
    wchar_t own_path[SETUP_PATH_UNITS];        // entry point, first step; read-only afterwards;
                                               // empty when the path does not fit (never cut)
    int silent;                                // "/S"; settled once before anything else

    // The install request: written by the entry point (silent) or the window (Install).
    wchar_t rom_path[SETUP_PATH_UNITS];
    wchar_t install_folder[SETUP_PATH_UNITS];
    int rom_path_too_long;        // the given text did not fit: refused, never cut
    int install_folder_too_long;
    int make_desktop_shortcut;
    int make_start_menu_shortcut;

    volatile LONG cancel_request;  // window sets it with InterlockedExchange; worker reads it
    int failed;                    // cleared by the worker, set only by ReportFailure
    int failed_input;     // the input the worker's last failure concerned (install/install_request.h);
                          // written by the worker before its end is reported, read by the window
    int last_progress;             // status channel only; -1 at start
    HANDLE package_check; // the package's check started with the program; the first user takes it
};

extern SetupState g_setup;

// The state's first values that are not zero (the progress not yet shown); the program's
// first step, before any other function reads the state.
void InitSetupState(void);
