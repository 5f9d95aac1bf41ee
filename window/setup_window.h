// The setup window: its controls, its start-up, its behaviour and its snapshot.
#pragma once
#include <windows.h>

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

// The window run mode: the window or its snapshot; returns the process exit code.
int RunSetupWindow(HINSTANCE instance, int show, int argc, wchar_t** argv);

// A geometry number in 96-DPI units, scaled to the screen.
int Scaled(int value);

// Drawing objects, class and the window itself, placed for the window or the snapshot mode;
// null when it cannot be made. width and height receive the outer size.
HWND CreateSetupWindow(HINSTANCE instance, int snapshot, int* width, int* height);
LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
void BuildSetupLayout(HWND window);
HWND CreateChildControl(HWND parent, const wchar_t* class_name, const wchar_t* text, DWORD style,
                        int x, int y, int width, int height, int id, HFONT font);

void ValidateInputs(HWND window);
// Reads a path box into a 260-unit buffer and returns 1; a text longer than 259 units is
// not cut: the buffer stays empty and the result is 0.
int ReadPathBox(HWND window, int id, wchar_t* path);
void SetBusyState(HWND window, int busy);
// path_out holds SETUP_JOIN_UNITS units; 1 when a path was chosen and fits it whole. The
// dialog opens at start_at (a box's text), or the nearest folder above it that exists.
int PickPath(HWND owner, int folder_mode, const wchar_t* start_at, wchar_t* path_out);
// The nearest existing folder at or above path (a file's own folder); empty when none.
void NearestExistingFolder(const wchar_t* path, wchar_t* folder_out);
// The folder Browse rule: a picked folder named "Torrentine PC", or one that already holds
// an installation, is kept; any other gets "Torrentine PC" appended. folder_out holds
// SETUP_JOIN_UNITS units: a result too long for the request stays whole, for the
// validation to refuse.
void ApplyFolderRule(const wchar_t* picked, wchar_t* folder_out);
// The finished state's verdict, naming only the shortcuts that were made.
const wchar_t* FinishedText(int desktop_shortcut, int start_menu_shortcut);
// The layout of an idle window: the verdict line over its own two lines, the progress bar
// and the message line below it (after a failure, the verdict spans all three).
void ShowFailureInVerdict(HWND window, const wchar_t* failure);
void RestoreVerdictLayout(HWND window);
COLORREF VerdictColour(const wchar_t* text);

// Draws the window as it looks, caption and borders included, into dc (whose origin is the
// window's top-left corner): what WM_PRINT asks for.
void PrintWholeWindow(HWND window, HDC dc, LPARAM flags);

int RunWindowSnapshot(HWND window, int width, int height, const wchar_t* bitmap_path, int argc,
                      wchar_t** argv);
