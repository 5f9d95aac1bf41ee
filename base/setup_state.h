// The one process-wide record that the entry point, the window and the install worker
// share. Each field's writer and reader thread is fixed; see the comments.
#pragma once
#include <windows.h>

#define SETUP_PATH_UNITS 260   // install request paths, own path: 259 units and a terminator
#define SETUP_JOIN_UNITS 520   // a folder joined with a name

// Private messages from the install worker to the window; posted, never sent.
#define WM_SETUP_PROGRESS (WM_APP + 1)  // wParam: progress in permille, 0 to 1000
#define WM_SETUP_STATUS   (WM_APP + 2)  // lParam: LocalAlloc'd UTF-16 status text; receiver frees it
#define WM_SETUP_DONE     (WM_APP + 3)  // wParam: the failure flag of the run that just ended

#define SETUP_TEST_GO_ON 0
#define SETUP_TEST_CANCEL 1  // as if the player had answered Yes to the stop question
#define SETUP_TEST_FAIL 2    // as if the entry's write had failed
#define SETUP_TEST_KILL 3    // as if the process were killed

#define FAILED_INPUT_ROM 1
#define FAILED_INPUT_FOLDER 2

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
    int busy;                      // window only
    int finished;                  // window only
    int inputs_refused;            // window only: the last validation refused the inputs
    int last_progress;             // status channel only; -1 at start
    HWND window;                   // set on WM_CREATE, before any worker exists

    int dpi;                       // LOGPIXELSY, read once at window start-up
    HFONT normal_font;
    HFONT semibold_font;
    HFONT title_font;
    HICON large_icon;
    HBRUSH white_brush;

    // The test flavour's way to stop a run at a chosen moment; null in the release. Called
    // before each package entry is written (phase 0) and committed (phase 1); returns a
    // SETUP_TEST_* action.
    int (*test_stop)(int phase, int entry);
    // The test flavour's way to name the uninstaller's temporary copies: fills the 64 bits
    // of attempt's name and returns 1, or returns 0 for the random ones; null in the release.
    int (*test_copy_name)(int attempt, ULONG bits[2]);
    // The test flavour's record of a moment a test cannot see from outside (the
    // uninstaller's self-deletion being scheduled); null in the release.
    void (*test_note)(const char* event);

    int package_damaged;  // window only: its package failed its digest at start-up
    int failed_input;     // the worker's last failure concerned: FAILED_INPUT_* (window reads)
    HANDLE package_check; // the package's check started with the program; the first user takes it
};

extern SetupState g_setup;

// The state's first values that are not zero (the progress not yet shown, the default dpi);
// the program's first step, before any other function reads the state.
void InitSetupState(void);
