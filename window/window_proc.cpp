#include <windows.h>
#include <commctrl.h>
#include <knownfolders.h>
#include <shellapi.h>

#include "base/setup_state.h"
#include "base/status_channel.h"
#include "base/text_format.h"
#include "install/install_request.h"
#include "install/install_worker.h"
#include "window/setup_window.h"

// A picked or dropped path: a folder goes to "Install to" through the folder rule, a file
// to the ROM box.
static void TakePath(HWND window, int folder_mode, const wchar_t* picked)
{
    if (folder_mode) {
        wchar_t folder[SETUP_JOIN_UNITS];
        ApplyFolderRule(picked, folder);
        SetDlgItemTextW(window, ID_FOLDER_BOX, folder);
    } else {
        SetDlgItemTextW(window, ID_ROM_BOX, picked);
    }
    ValidateInputs(window);
}

static void OnBrowse(HWND window, int folder_mode)
{
    wchar_t picked[SETUP_JOIN_UNITS], current[SETUP_JOIN_UNITS];
    GetDlgItemTextW(window, folder_mode ? ID_FOLDER_BOX : ID_ROM_BOX, current, SETUP_JOIN_UNITS);
    // The dialog takes the focus away; a window that is not a dialog gets none back by
    // itself, so the control that had it (the Browse button, or a box after Alt+B) gets it
    // back here, whatever the dialog's answer.
    HWND focus = GetFocus();
    int chosen = PickPath(window, folder_mode, current, picked);
    if (focus && IsChild(window, focus) && GetFocus() != focus) SetFocus(focus);
    if (chosen) TakePath(window, folder_mode, picked);
}

static void StartInstall(HWND window)
{
    // A text too long for the request is refused by the worker, never cut.
    g_setup.rom_path_too_long = !ReadPathBox(window, ID_ROM_BOX, g_setup.rom_path);
    g_setup.install_folder_too_long = !ReadPathBox(window, ID_FOLDER_BOX, g_setup.install_folder);
    g_setup.make_desktop_shortcut = IsDlgButtonChecked(window, ID_DESKTOP_CHECK) == BST_CHECKED;
    g_setup.make_start_menu_shortcut = IsDlgButtonChecked(window, ID_START_MENU_CHECK) == BST_CHECKED;
    g_setup.cancel_request = 0;
    // A validation still pending from the last keystroke would come after the worker's
    // messages and overwrite what they show: it runs now instead, so that what the window
    // shows, and lets start, is about these inputs.
    if (KillTimer(window, VALIDATION_TIMER_ID)) ValidateInputs(window);
    RestoreVerdictLayout(window);
    SetBusyState(window, 1);
    SetFocus(GetDlgItem(window, ID_CLOSE));  // Cancel: Install is disabled while busy
    SendDlgItemMessageW(window, ID_PROGRESS, PBM_SETPOS, 0, 0);

    HANDLE thread = CreateThread(nullptr, 0, InstallWorker, nullptr, 0, nullptr);
    if (thread) {
        CloseHandle(thread);
        return;
    }
    // No worker means no WM_SETUP_DONE: go back to idle here rather than stay busy for ever.
    SetAnnouncedText(window, ID_MESSAGE,
                     L"Setup could not start the installation. Close other programs and try again.");
    SetBusyState(window, 0);
}

static void Play(HWND window)
{
    wchar_t game[SETUP_JOIN_UNITS];
    JoinPath(game, SETUP_JOIN_UNITS, g_setup.install_folder, L"TorrentinePC.exe");
    ShellExecuteW(window, L"open", game, nullptr, g_setup.install_folder, SW_SHOWNORMAL);
    DestroyWindow(window);
}

static void SayStopCameTooLate(HWND window)
{
    wchar_t text[STATUS_TEXT_UNITS];
    FormatText(text, STATUS_TEXT_UNITS,
               L"The installation had already finished: Torrentine PC is installed in %s",
               g_setup.install_folder);
    SetAnnouncedText(window, ID_MESSAGE, text);
}

static void OnClose(HWND window)
{
    if (!g_window.busy) {
        DestroyWindow(window);
        return;
    }
    if (MessageBoxW(window, L"Stop the installation?", L"Torrentine PC", MB_YESNO | MB_ICONQUESTION) !=
        IDYES)
        return;
    InterlockedExchange(&g_setup.cancel_request, 1);
    // The install may have ended while the question was open: say the stop came too late.
    if (!g_window.busy && g_window.finished) SayStopCameTooLate(window);
}

static void OnCommand(HWND window, int id, int code)
{
    switch (id) {
    case ID_ROM_BOX:
    case ID_FOLDER_BOX:
        if (code == EN_CHANGE) SetTimer(window, VALIDATION_TIMER_ID, VALIDATION_DELAY_MS, nullptr);
        break;
    case ID_ROM_BROWSE:
        OnBrowse(window, 0);
        break;
    case ID_FOLDER_BROWSE:
        OnBrowse(window, 1);
        break;
    case ID_INSTALL:
        if (g_window.finished)
            Play(window);
        else
            StartInstall(window);
        break;
    case IDCANCEL:
    case ID_CLOSE:
        OnClose(window);
        break;
    }
}

static LRESULT OnCtlColorStatic(HDC dc, HWND control)
{
    SetBkMode(dc, TRANSPARENT);
    if (GetDlgCtrlID(control) == ID_VERDICT) {
        wchar_t text[8] = {0};
        GetWindowTextW(control, text, 8);
        SetTextColor(dc, VerdictColour(text));
    } else if (g_window.high_contrast) {
        SetTextColor(dc, GetSysColor(IsWindowEnabled(control) ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
    }
    return (LRESULT)BackgroundBrush();
}

// Windows moves the window to a monitor of another scale, or the scale changes: the
// rectangle it suggests is taken, and fonts and controls are made again for the new DPI.
static void OnDpiChanged(HWND window, int dpi, const RECT* suggested)
{
    RECT work_area;
    MonitorWorkArea(suggested, &work_area);
    ScaleSetupWindow(window, dpi, &work_area, suggested);
}

// Before a DPI change Windows asks which size the window wants at the new DPI, so that the
// rectangle it then suggests is exactly the window's.
static LRESULT OnGetDpiScaledSize(HWND window, int dpi, SIZE* size)
{
    RECT placed;
    GetWindowRect(window, &placed);
    RECT work_area;
    MonitorWorkArea(&placed, &work_area);
    SIZE frame = WindowFrameAt(dpi);
    int layout = FitLayoutDpi(dpi, work_area.right - work_area.left, work_area.bottom - work_area.top,
                              frame.cx, frame.cy);
    size->cx = MulDiv(SETUP_CLIENT_WIDTH, layout, 96) + frame.cx;
    size->cy = MulDiv(SETUP_CLIENT_HEIGHT, layout, 96) + frame.cy;
    return TRUE;
}

// As a dialog does: the control that had the focus gets it back when the window is
// activated again (after another program, a message box or a picker).
static LRESULT OnActivate(HWND window, WPARAM wparam, LPARAM lparam)
{
    if (LOWORD(wparam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(window, focus)) g_window.focus = focus;
        return 0;
    }
    HWND focus = g_window.focus;
    if (!HIWORD(wparam) && focus && IsWindow(focus) && IsChild(window, focus) && IsWindowEnabled(focus)) {
        SetFocus(focus);
        return 0;
    }
    return DefWindowProcW(window, WM_ACTIVATE, wparam, lparam);
}

static LRESULT OnEraseBackground(HWND window, HDC dc)
{
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, BackgroundBrush());
    return 1;
}

static void OnDropFiles(HWND window, HDROP drop)
{
    wchar_t path[SETUP_JOIN_UNITS];
    // The finished state keeps its inputs disabled: a drop there changes nothing. A path is
    // taken whole (one too long for the request is then refused by the validation), never
    // cut; one too long even for this buffer is ignored like one that cannot be queried.
    UINT units = DragQueryFileW(drop, 0, nullptr, 0);
    if (!g_window.busy && !g_window.finished && units > 0 && units < SETUP_JOIN_UNITS &&
        DragQueryFileW(drop, 0, path, SETUP_JOIN_UNITS)) {
        DWORD attributes = GetFileAttributesW(path);
        TakePath(window, attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY),
                 path);
    }
    DragFinish(drop);
}

static void OnSetupDone(HWND window, int failed)
{
    SetBusyState(window, 0);
    if (failed) {
        SendDlgItemMessageW(window, ID_PROGRESS, PBM_SETPOS, 0, 0);
        // The whole failure, with its advice, where it has room; the focus where it failed.
        wchar_t failure[STATUS_TEXT_UNITS];
        GetDlgItemTextW(window, ID_MESSAGE, failure, STATUS_TEXT_UNITS);
        ShowFailureInVerdict(window, failure);
        int focus = g_setup.failed_input == FAILED_INPUT_ROM ? ID_ROM_BOX : ID_FOLDER_BOX;
        SetFocus(GetDlgItem(window, focus));
        SendDlgItemMessageW(window, focus, EM_SETSEL, 0, -1);
        return;
    }
    g_window.finished = 1;
    // A stop asked for after the last file had started does not stop the install.
    if (g_setup.cancel_request) SayStopCameTooLate(window);
    SetDlgItemTextW(window, ID_INSTALL, L"Play");
    EnableWindow(GetDlgItem(window, ID_INSTALL), TRUE);  // Play, whatever the last verdict was
    // What the finish text promises is what is there: a shortcut asked for is looked for.
    int desktop = g_setup.make_desktop_shortcut && ShortcutLeadsInto(FOLDERID_Desktop, g_setup.install_folder);
    int start_menu = g_setup.make_start_menu_shortcut &&
                     ShortcutLeadsInto(FOLDERID_Programs, g_setup.install_folder);
    wchar_t verdict[VERDICT_UNITS];
    FinishedVerdict(g_setup.make_desktop_shortcut, desktop, g_setup.make_start_menu_shortcut, start_menu,
                    verdict, VERDICT_UNITS);
    SetAnnouncedText(window, ID_VERDICT, verdict);
    // "Done! ... installed in" and the whole folder, wrapped below the verdict.
    ApplyVerdictLayout(window, VERDICT_LAYOUT_FINISHED);
    static const int inputs[] = {ID_ROM_BOX,       ID_ROM_BROWSE,      ID_FOLDER_BOX,
                                 ID_FOLDER_BROWSE, ID_DESKTOP_CHECK, ID_START_MENU_CHECK};
    for (int id : inputs) EnableWindow(GetDlgItem(window, id), FALSE);
    SetFocus(GetDlgItem(window, ID_INSTALL));  // Play; Esc still closes
}

void OnNextDialogControl(HWND window, WPARAM wparam, LPARAM lparam)
{
    HWND target = LOWORD(lparam) ? (HWND)wparam : GetNextDlgTabItem(window, GetFocus(), wparam != 0);
    if (!target || !IsChild(window, target)) return;
    SetFocus(target);
    // A box reached from the keyboard is selected whole, for typing over, as in a dialog.
    if (SendMessageW(target, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageW(target, EM_SETSEL, 0, -1);
}

LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE:
        BuildSetupLayout(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_CLOSE:
        if (!g_window.busy) break;
        SendMessageW(window, WM_COMMAND, ID_CLOSE, 0);
        return 0;
    case WM_COMMAND:
        OnCommand(window, LOWORD(wparam), HIWORD(wparam));
        return 0;
    case DM_GETDEFID:
        // Enter in a box or on a check box starts the default action, as in a dialog.
        return MAKELRESULT(ID_INSTALL, DC_HASDEFID);
    case WM_TIMER:
        KillTimer(window, VALIDATION_TIMER_ID);
        ValidateInputs(window);
        return 0;
    case WM_CTLCOLORSTATIC:
        return OnCtlColorStatic((HDC)wparam, (HWND)lparam);
    case WM_DROPFILES:
        OnDropFiles(window, (HDROP)wparam);
        return 0;
    case WM_PRINT:
        PrintWholeWindow(window, (HDC)wparam, lparam);
        return 0;
    case WM_ERASEBKGND:
        return OnEraseBackground(window, (HDC)wparam);
    case WM_ACTIVATE:
        return OnActivate(window, wparam, lparam);
    case WM_NEXTDLGCTL:
        // The dialog manager's answer to a label's access key: the focus to the label, then
        // on to the next control, its box.
        OnNextDialogControl(window, wparam, lparam);
        return 0;
    case WM_DPICHANGED:
        OnDpiChanged(window, HIWORD(wparam), (const RECT*)lparam);
        return 0;
    case WM_GETDPISCALEDSIZE:
        return OnGetDpiScaledSize(window, (int)wparam, (SIZE*)lparam);
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
        OnLookChanged(window);
        return 0;
    case WM_SETTINGCHANGE:
        OnLookChanged(window);
        // A new message font (the text size of Windows' settings) gives new fonts here too.
        if (wparam == SPI_SETNONCLIENTMETRICS) {
            RECT placed, work_area;
            GetWindowRect(window, &placed);
            MonitorWorkArea(&placed, &work_area);
            ScaleSetupWindow(window, g_window.monitor_dpi, &work_area, &placed);
        }
        return 0;
    case WM_SETUP_PROGRESS:
        SendDlgItemMessageW(window, ID_PROGRESS, PBM_SETPOS, wparam, 0);
        return 0;
    case WM_SETUP_STATUS:
        SetAnnouncedText(window, ID_MESSAGE, (const wchar_t*)lparam);
        LocalFree((HLOCAL)lparam);
        return 0;
    case WM_SETUP_DONE:
        OnSetupDone(window, (int)wparam);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}
