#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "base/setup_state.h"
#include "window/setup_window.h"

#define FONT_NORMAL 0
#define FONT_SEMIBOLD 1
#define FONT_TITLE 2

// The sixteen controls in creation order, which is also their tab order and the order in
// which screen readers and the dialog manager look for a box's label: each caption comes
// right before its box. Geometry in 96-DPI units.
struct ControlRow {
    const wchar_t* class_name;
    const wchar_t* text;  // null: the install folder of the request
    DWORD style;
    short x, y, width, height;
    int id;
    int font;
};

static const ControlRow CONTROL_ROWS[] = {
    {L"STATIC", L"", SS_ICON, 20, 16, 48, 48, ID_ICON, FONT_NORMAL},
    {L"STATIC", L"Torrentine PC", SS_LEFT, 84, 16, 456, 30, 0, FONT_TITLE},
    {L"STATIC", L"Setup: makes the PC version from your own Torrentine ROM.", SS_LEFT, 84, 48, 456,
     20, 0, FONT_NORMAL},
    // Access keys (Alt + the underlined letter) for every labelled control; Enter installs,
    // Esc closes.
    {L"STATIC", L"1.  Your &ROM", SS_LEFT, 20, 88, 300, 20, 0, FONT_SEMIBOLD},
    {L"EDIT", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 20, 110, 442, 26, ID_ROM_BOX,
     FONT_NORMAL},
    {L"BUTTON", L"&Browse...", WS_TABSTOP | BS_PUSHBUTTON, 466, 110, 74, 26, ID_ROM_BROWSE,
     FONT_NORMAL},
    {L"STATIC", L"2.  Install &to", SS_LEFT, 20, 150, 300, 20, 0, FONT_SEMIBOLD},
    {L"EDIT", nullptr, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 20, 172, 442, 26, ID_FOLDER_BOX,
     FONT_NORMAL},
    {L"BUTTON", L"Br&owse...", WS_TABSTOP | BS_PUSHBUTTON, 466, 172, 74, 26, ID_FOLDER_BROWSE,
     FONT_NORMAL},
    {L"BUTTON", L"&Desktop shortcut", WS_TABSTOP | BS_AUTOCHECKBOX, 20, 210, 170, 22,
     ID_DESKTOP_CHECK, FONT_NORMAL},
    {L"BUTTON", L"&Start menu shortcut", WS_TABSTOP | BS_AUTOCHECKBOX, 200, 210, 200, 22,
     ID_START_MENU_CHECK, FONT_NORMAL},
    // Lines break between words, and inside a path too long for one line.
    {L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL, 20, 242, 520, 40, ID_VERDICT,
     FONT_NORMAL},
    {PROGRESS_CLASSW, L"", PBS_SMOOTH, 20, 290, 520, 16, ID_PROGRESS, FONT_NORMAL},
    {L"STATIC", HINT_TEXT, SS_ENDELLIPSIS | SS_NOPREFIX, 20, 312, 520, 20, ID_MESSAGE, FONT_NORMAL},
    {L"BUTTON", L"Install", WS_TABSTOP | BS_DEFPUSHBUTTON, 340, 346, 96, 30, ID_INSTALL,
     FONT_SEMIBOLD},
    {L"BUTTON", L"Close", WS_TABSTOP | BS_PUSHBUTTON, 444, 346, 96, 30, ID_CLOSE, FONT_NORMAL},
};

#define CONTROL_COUNT (sizeof CONTROL_ROWS / sizeof CONTROL_ROWS[0])

static HFONT FontOf(int kind)
{
    if (kind == FONT_TITLE) return g_window.title_font;
    return kind == FONT_SEMIBOLD ? g_window.semibold_font : g_window.normal_font;
}

HWND CreateChildControl(HWND parent, const wchar_t* class_name, const wchar_t* text, DWORD style,
                        int x, int y, int width, int height, int id, HFONT font)
{
    HWND control = CreateWindowExW(0, class_name, text, style | WS_CHILD | WS_VISIBLE, Scaled(x),
                                   Scaled(y), Scaled(width), Scaled(height), parent,
                                   (HMENU)(INT_PTR)id, nullptr, nullptr);
    SendMessageW(control, WM_SETFONT, (WPARAM)font, TRUE);
    return control;
}

void BuildSetupLayout(HWND window)
{
    ListenToInstallRuns(window);
    g_window.verdict_layout = VERDICT_LAYOUT_IDLE;
    g_window.focus = nullptr;
    for (const ControlRow& row : CONTROL_ROWS)
        CreateChildControl(window, row.class_name, row.text ? row.text : g_setup.install_folder,
                           row.style, row.x, row.y, row.width, row.height, row.id, FontOf(row.font));

    SendDlgItemMessageW(window, ID_ICON, STM_SETICON, (WPARAM)g_window.large_icon, 0);
    SendDlgItemMessageW(window, ID_ROM_BOX, EM_SETCUEBANNER, TRUE,
                        (LPARAM)L"Torrentine ROM file (.z64, .v64 or .n64)");
    CheckDlgButton(window, ID_DESKTOP_CHECK, BST_CHECKED);
    CheckDlgButton(window, ID_START_MENU_CHECK, BST_CHECKED);
    SendDlgItemMessageW(window, ID_PROGRESS, PBM_SETRANGE32, 0, 1000);
    DescribeControlsForScreenReaders(window);

    DragAcceptFiles(window, TRUE);
    ValidateInputs(window);
}

void LayOutControls(HWND window)
{
    // Children keep their creation order (it is also the tab order), so the rows are walked
    // alongside them.
    HWND child = GetWindow(window, GW_CHILD);
    for (size_t i = 0; i < CONTROL_COUNT && child; i++, child = GetWindow(child, GW_HWNDNEXT)) {
        const ControlRow& row = CONTROL_ROWS[i];
        SetWindowPos(child, nullptr, Scaled(row.x), Scaled(row.y), Scaled(row.width),
                     Scaled(row.height), SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(child, WM_SETFONT, (WPARAM)FontOf(row.font), FALSE);
    }
    SendDlgItemMessageW(window, ID_ICON, STM_SETICON, (WPARAM)g_window.large_icon, 0);
    ApplyVerdictLayout(window, g_window.verdict_layout);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
}

static void Place(HWND window, int id, int y, int height, int shown)
{
    HWND control = GetDlgItem(window, id);
    SetWindowPos(control, nullptr, Scaled(20), Scaled(y), Scaled(520), Scaled(height),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(control, shown ? SW_SHOW : SW_HIDE);
}

// The height, in 96-DPI units, that the verdict's text takes at its width.
static int VerdictTextHeight(HWND window)
{
    HWND verdict = GetDlgItem(window, ID_VERDICT);
    wchar_t text[VERDICT_UNITS];
    GetWindowTextW(verdict, text, VERDICT_UNITS);
    HDC dc = GetDC(verdict);
    HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageW(verdict, WM_GETFONT, 0, 0));
    RECT needed = {0, 0, Scaled(520), 0};
    DrawTextW(dc, text, -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(verdict, dc);
    return MulDiv(needed.bottom - needed.top, 96, g_window.dpi) + 1;
}

// The room from the verdict (y 242) to the buttons (y 346) is shared by state: an idle
// window shows the verdict over two lines, the progress bar and one message line; a
// failure after Install gets all of it, six lines, so that its advice is never cut off;
// the finished state gives the message line, with "Done! ... installed in" and a folder
// of up to 259 characters, every line that the verdict leaves.
void ApplyVerdictLayout(HWND window, int layout)
{
    g_window.verdict_layout = layout;
    HWND message = GetDlgItem(window, ID_MESSAGE);
    LONG old_style = GetWindowLongW(message, GWL_STYLE);
    LONG style = old_style & ~(SS_ENDELLIPSIS | SS_EDITCONTROL);
    if (layout == VERDICT_LAYOUT_FINISHED) {
        int verdict = VerdictTextHeight(window);
        if (verdict > 40) verdict = 40;
        Place(window, ID_VERDICT, 242, verdict, 1);
        Place(window, ID_PROGRESS, 290, 16, 0);
        SetWindowLongW(message, GWL_STYLE, style | SS_EDITCONTROL);
        Place(window, ID_MESSAGE, 246 + verdict, 340 - (246 + verdict), 1);
    } else {
        int failure = layout == VERDICT_LAYOUT_FAILURE;
        Place(window, ID_VERDICT, 242, failure ? 98 : 40, 1);
        Place(window, ID_PROGRESS, 290, 16, !failure);
        SetWindowLongW(message, GWL_STYLE, style | SS_ENDELLIPSIS);
        Place(window, ID_MESSAGE, 312, 20, !failure);
    }
    // A line that now wraps, or no longer does, is drawn again; moved controls are anyway.
    if (GetWindowLongW(message, GWL_STYLE) != old_style) InvalidateRect(message, nullptr, TRUE);
}

void RestoreVerdictLayout(HWND window) { ApplyVerdictLayout(window, VERDICT_LAYOUT_IDLE); }
