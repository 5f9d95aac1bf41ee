#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "base/setup_state.h"
#include "base/status_channel.h"
#include "base/text_format.h"
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
    if (!PickPath(window, folder_mode, current, picked)) return;
    TakePath(window, folder_mode, picked);
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
    g_setup.failed_input = 0;
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
    SetDlgItemTextW(window, ID_MESSAGE,
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
    SetDlgItemTextW(window, ID_MESSAGE, text);
}

static void OnClose(HWND window)
{
    if (!g_setup.busy) {
        DestroyWindow(window);
        return;
    }
    if (MessageBoxW(window, L"Stop the installation?", L"Torrentine PC", MB_YESNO | MB_ICONQUESTION) !=
        IDYES)
        return;
    InterlockedExchange(&g_setup.cancel_request, 1);
    // The install may have ended while the question was open: say the stop came too late.
    if (!g_setup.busy && g_setup.finished) SayStopCameTooLate(window);
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
        if (g_setup.finished)
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
    }
    return (LRESULT)g_setup.white_brush;
}

static void OnDropFiles(HWND window, HDROP drop)
{
    wchar_t path[SETUP_JOIN_UNITS];
    // The finished state keeps its inputs disabled: a drop there changes nothing. A path is
    // taken whole (one too long for the request is then refused by the validation), never
    // cut; one too long even for this buffer is ignored like one that cannot be queried.
    UINT units = DragQueryFileW(drop, 0, nullptr, 0);
    if (!g_setup.busy && !g_setup.finished && units > 0 && units < SETUP_JOIN_UNITS &&
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
    g_setup.finished = 1;
    // A stop asked for after the last file had started does not stop the install.
    if (g_setup.cancel_request) SayStopCameTooLate(window);
    SetDlgItemTextW(window, ID_INSTALL, L"Play");
    EnableWindow(GetDlgItem(window, ID_INSTALL), TRUE);  // Play, whatever the last verdict was
    SetDlgItemTextW(window, ID_VERDICT,
                    FinishedText(g_setup.make_desktop_shortcut, g_setup.make_start_menu_shortcut));
    static const int inputs[] = {ID_ROM_BOX,       ID_ROM_BROWSE,      ID_FOLDER_BOX,
                                 ID_FOLDER_BROWSE, ID_DESKTOP_CHECK, ID_START_MENU_CHECK};
    for (int id : inputs) EnableWindow(GetDlgItem(window, id), FALSE);
    SetFocus(GetDlgItem(window, ID_INSTALL));  // Play; Esc still closes
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
        if (!g_setup.busy) break;
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
    case WM_SETUP_PROGRESS:
        SendDlgItemMessageW(window, ID_PROGRESS, PBM_SETPOS, wparam, 0);
        return 0;
    case WM_SETUP_STATUS:
        SetDlgItemTextW(window, ID_MESSAGE, (const wchar_t*)lparam);
        LocalFree((HLOCAL)lparam);
        return 0;
    case WM_SETUP_DONE:
        OnSetupDone(window, (int)wparam);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}
