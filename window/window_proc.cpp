#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "base/setup_state.h"
#include "base/status_channel.h"
#include "base/text_format.h"
#include "install/install_worker.h"
#include "window/setup_window.h"

static void OnBrowse(HWND window, int folder_mode)
{
    wchar_t picked[SETUP_JOIN_UNITS];
    if (!PickPath(window, folder_mode, picked)) return;
    if (folder_mode) {
        wchar_t folder[SETUP_JOIN_UNITS];
        ApplyFolderRule(picked, folder);
        SetDlgItemTextW(window, ID_FOLDER_BOX, folder);
    } else {
        SetDlgItemTextW(window, ID_ROM_BOX, picked);
    }
    ValidateInputs(window);
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
    // messages and overwrite what they show.
    KillTimer(window, VALIDATION_TIMER_ID);
    SetBusyState(window, 1);
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
        SetDlgItemTextW(window, ID_ROM_BOX, path);
        ValidateInputs(window);
    }
    DragFinish(drop);
}

static void OnSetupDone(HWND window, int failed)
{
    SetBusyState(window, 0);
    if (failed) {
        SendDlgItemMessageW(window, ID_PROGRESS, PBM_SETPOS, 0, 0);
        return;
    }
    g_setup.finished = 1;
    // A stop asked for after the last file had started does not stop the install.
    if (g_setup.cancel_request) SayStopCameTooLate(window);
    SetDlgItemTextW(window, ID_INSTALL, L"Play");
    EnableWindow(GetDlgItem(window, ID_INSTALL), TRUE);  // Play, whatever the last verdict was
    SetDlgItemTextW(window, ID_VERDICT,
                    L"\u2714  All set. Use the desktop / Start menu shortcut to play. Press Esc in "
                    L"the game for its settings.");
    static const int inputs[] = {ID_ROM_BOX,       ID_ROM_BROWSE,      ID_FOLDER_BOX,
                                 ID_FOLDER_BROWSE, ID_DESKTOP_CHECK, ID_START_MENU_CHECK};
    for (int id : inputs) EnableWindow(GetDlgItem(window, id), FALSE);
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
