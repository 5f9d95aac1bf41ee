// The setup window: its controls, its start-up, its behaviour and its snapshot.
#pragma once
#include <windows.h>
#include <shtypes.h>

#define SETUP_WINDOW_CLASS L"TorrentinePCSetup"
#define SETUP_WINDOW_CAPTION L"Torrentine PC - Setup"
#define SETUP_WINDOW_STYLE (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX)
#define SNAPSHOT_EX_STYLE (WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW)
#define SETUP_CLIENT_WIDTH 560
#define SETUP_CLIENT_HEIGHT 396
// The message line of an idle window.
#define HINT_TEXT L"Needs about 70 MB. Settings, saves and the ROM copy stay in the install folder."

#define ID_ICON 99
#define ID_ROM_BOX 100
#define ID_ROM_BROWSE 101
#define ID_FOLDER_BOX 102
#define ID_FOLDER_BROWSE 103
#define ID_DESKTOP_CHECK 104
#define ID_START_MENU_CHECK 105
#define ID_VERDICT 106
#define ID_PROGRESS 107
#define ID_MESSAGE 108
#define ID_INSTALL 109
#define ID_CLOSE 110

#define VALIDATION_TIMER_ID 1
#define VALIDATION_DELAY_MS 350
#define VERDICT_UNITS 512

#define VERDICT_RED   RGB(190, 30, 30)
#define VERDICT_GREEN RGB(20, 130, 40)
#define VERDICT_GREY  RGB(70, 70, 70)

// How the room between the check boxes and the buttons is shared.
#define VERDICT_LAYOUT_IDLE 0      // verdict, progress bar, one message line
#define VERDICT_LAYOUT_FAILURE 1   // the failure in the verdict, over all of the room
#define VERDICT_LAYOUT_FINISHED 2  // the verdict, then the last status line wrapped below it

// Private messages from the install worker to the window, posted (never sent) by the status
// channel's listener that the window supplies (window_status.cpp).
#define WM_SETUP_PROGRESS (WM_APP + 1)  // wParam: progress in permille, 0 to 1000
#define WM_SETUP_STATUS   (WM_APP + 2)  // lParam: LocalAlloc'd UTF-16 status text; receiver frees it
#define WM_SETUP_DONE     (WM_APP + 3)  // wParam: the failure flag of the run that just ended

// What the window alone keeps: written and read on the window thread only, but for the
// handle, which the status listener reads on the worker's thread.
struct WindowState {
    HWND handle;         // set on WM_CREATE, before any worker exists
    int dpi;             // the layout's DPI, read at start-up: Scaled's
    int monitor_dpi;     // the DPI of the monitor the window is on; the layout's (dpi) is
                         // lower when the window would not fit that monitor's work area
    int system_dpi;      // the DPI that the system's font metrics are given in
    int high_contrast;   // the system's high-contrast mode, read at start and on each change
    int verdict_layout;  // VERDICT_LAYOUT_*
    HWND focus;          // the control that had the focus when the window was last deactivated
    HFONT normal_font;   // fonts and icon for the layout's DPI (the snapshot and tests read them)
    HFONT semibold_font;
    HFONT title_font;
    HICON large_icon;
    HBRUSH white_brush;
    int busy;            // a worker runs: the inputs are disabled
    int finished;        // an install succeeded: Install has become Play
    int inputs_refused;  // the last validation refused the inputs
    int package_damaged; // the package failed its digest at start-up
};
extern WindowState g_window;

// Makes window the one that hears install runs: the status channel's lines, progress and end
// are posted to it as WM_SETUP_* messages.
void ListenToInstallRuns(HWND window);

// The window run mode: the window or its snapshot; returns the process exit code.
int RunSetupWindow(HINSTANCE instance, int show, int argc, wchar_t** argv);

// A geometry number in 96-DPI units, scaled to the layout's DPI (g_window.dpi).
int Scaled(int value);

// The highest layout DPI, at most dpi, at which the client area and a frame of the given
// size fit a work area of the given size (never below a quarter of dpi).
int FitLayoutDpi(int dpi, int work_width, int work_height, int frame_width, int frame_height);
// The frame (caption and borders) that the window's style has at dpi.
SIZE WindowFrameAt(int dpi);
// Lays the window out for a monitor of the given DPI and work area: the fitting layout
// DPI, fonts and icon made for it, every control placed, and the window sized to its
// client area and placed at where's top-left (or centred when where is null), inside the
// work area.
void ScaleSetupWindow(HWND window, int dpi, const RECT* work_area, const RECT* where);
// The work area of the monitor that holds most of area (or of the primary one).
void MonitorWorkArea(const RECT* area, RECT* work_area);
// Fonts and the large icon for the layout DPI in g_window.dpi; the previous ones are
// returned for the caller to delete once no control uses them.
void CreateWindowFonts(HFONT old_out[3], HICON* old_icon);
// Places every control at the layout DPI, with its font.
void LayOutControls(HWND window);
void ApplyVerdictLayout(HWND window, int layout);

// Drawing objects, class and the window itself, placed for the window or the snapshot mode;
// null when it cannot be made. width and height receive the outer size.
HWND CreateSetupWindow(HINSTANCE instance, int snapshot, int* width, int* height);
LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
void BuildSetupLayout(HWND window);
HWND CreateChildControl(HWND parent, const wchar_t* class_name, const wchar_t* text, DWORD style,
                        int x, int y, int width, int height, int id, HFONT font);

void ValidateInputs(HWND window);
// Reads a path box into a 260-unit buffer and returns 1; a text longer than 259 units is
// not cut: the buffer stays empty and the result is 0. A Linux path typed or pasted under
// Wine is read as the Windows path Wine gives it.
int ReadPathBox(HWND window, int id, wchar_t* path);
// Under Wine, a path that starts with "/" is a Linux one (a player's "/home/me/Games"):
// path becomes Wine's Windows spelling of it (Z:\home\me\Games) and the result is 1; 0 when
// there is nothing to change (not such a path, or not Wine); -1 when the Windows spelling
// does not fit capacity (path unchanged).
int UnixPathAsWindowsPath(wchar_t* path, size_t capacity);
void SetBusyState(HWND window, int busy);
// path_out holds SETUP_JOIN_UNITS units; 1 when a path was chosen and fits it whole. The
// dialog opens at start_at (a box's text), or the nearest folder above it that exists.
int PickPath(HWND owner, int folder_mode, const wchar_t* start_at, wchar_t* path_out);
// The nearest existing folder at or above path (a file's own folder); empty when none.
void NearestExistingFolder(const wchar_t* path, wchar_t* folder_out);
// Where a Browse dialog opens: near the box's path (PICKER_START_HERE), or for an empty ROM
// box in Downloads unless the dialog was used before (PICKER_START_UNLESS_USED); or where
// the dialog likes (PICKER_START_ANYWHERE, folder_out empty). folder_out holds
// SETUP_JOIN_UNITS units.
#define PICKER_START_ANYWHERE 0
#define PICKER_START_HERE 1
#define PICKER_START_UNLESS_USED 2
int PickerStartFolder(int folder_mode, const wchar_t* box_text, wchar_t* folder_out);
// The folder Browse rule: a picked folder named "Torrentine PC", or one that already holds
// an installation, is kept; any other gets "Torrentine PC" appended. folder_out holds
// SETUP_JOIN_UNITS units: a result too long for the request stays whole, for the
// validation to refuse.
void ApplyFolderRule(const wchar_t* picked, wchar_t* folder_out);
// The finished state's verdict, naming only the shortcuts that were made.
const wchar_t* FinishedText(int desktop_shortcut, int start_menu_shortcut);
// The same, followed by the shortcuts that were asked for and are not there: Windows can
// refuse one without a word to the program that asked (Controlled Folder Access keeps
// unknown programs from writing to the desktop).
void FinishedVerdict(int desktop_asked, int desktop_made, int start_menu_asked, int start_menu_made,
                     wchar_t* verdict, size_t capacity);
// A shortcut of setup's name in the known folder where, leading into folder.
int ShortcutLeadsInto(REFKNOWNFOLDERID where, const wchar_t* folder);
// The layout of an idle window: the verdict line over its own two lines, the progress bar
// and the message line below it (after a failure, the verdict spans all three).
void ShowFailureInVerdict(HWND window, const wchar_t* failure);
void RestoreVerdictLayout(HWND window);
COLORREF VerdictColour(const wchar_t* text);
// The colour choice itself: with high contrast on, every colour is the system's.
COLORREF VerdictColourFor(const wchar_t* text, int high_contrast);
// The system's high-contrast mode (SPI_GETHIGHCONTRAST, HCF_HIGHCONTRASTON).
int HighContrastIsOn(void);
// The window's background: white, or the system's window colour in high contrast.
HBRUSH BackgroundBrush(void);
// A theme, colour or high-contrast change while the window is open: read it again and
// repaint everything.
void OnLookChanged(HWND window);

// Names for screen readers where the visible text is not enough (two "Browse..." buttons,
// the progress bar), and the verdict and message lines made polite live regions.
void DescribeControlsForScreenReaders(HWND window);
// Sets a line's text, and tells screen readers when it changed.
void SetAnnouncedText(HWND window, int id, const wchar_t* text);

// The dialog-manager messages that a window which is not a dialog must answer itself.
void OnNextDialogControl(HWND window, WPARAM wparam, LPARAM lparam);

// Draws the window as it looks, caption and borders included, into dc (whose origin is the
// window's top-left corner): what WM_PRINT asks for.
void PrintWholeWindow(HWND window, HDC dc, LPARAM flags);

int RunWindowSnapshot(HWND window, int width, int height, const wchar_t* bitmap_path, int argc,
                      wchar_t** argv);
