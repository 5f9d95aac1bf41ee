#include <windows.h>

#include "base/setup_state.h"
#include "window/setup_window.h"

int Scaled(int value) { return MulDiv(value, g_window.dpi, 96); }

int FitLayoutDpi(int dpi, int work_width, int work_height, int frame_width, int frame_height)
{
    // The client area grows with the layout DPI and the frame does not: the highest DPI at
    // which both fit, found downwards (at most a few hundred steps, each a few MulDivs).
    int lowest = dpi / 4 > 24 ? dpi / 4 : 24;
    int layout = dpi;
    while (layout > lowest && (MulDiv(SETUP_CLIENT_WIDTH, layout, 96) + frame_width > work_width ||
                               MulDiv(SETUP_CLIENT_HEIGHT, layout, 96) + frame_height > work_height))
        layout--;
    return layout;
}

typedef BOOL(WINAPI* AdjustForDpiFunction)(RECT*, DWORD, BOOL, DWORD, UINT);

SIZE WindowFrameAt(int dpi)
{
    RECT frame = {0, 0, 0, 0};
    // Windows 10 1607 and later give each monitor's DPI its own frame; older ones, and
    // Wine, the system's.
    AdjustForDpiFunction adjust = (AdjustForDpiFunction)(void*)GetProcAddress(
        GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi");
    if (!adjust || !adjust(&frame, SETUP_WINDOW_STYLE, FALSE, 0, (UINT)dpi))
        AdjustWindowRect(&frame, SETUP_WINDOW_STYLE, FALSE);
    SIZE size = {frame.right - frame.left, frame.bottom - frame.top};
    return size;
}

void MonitorWorkArea(const RECT* area, RECT* work_area)
{
    POINT origin = {0, 0};
    HMONITOR monitor = area ? MonitorFromRect(area, MONITOR_DEFAULTTONEAREST)
                            : MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    if (GetMonitorInfoW(monitor, &info)) {
        *work_area = info.rcWork;
    } else {
        SetRect(work_area, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    }
}

void CreateWindowFonts(HFONT old_out[3], HICON* old_icon)
{
    old_out[0] = g_window.normal_font;
    old_out[1] = g_window.semibold_font;
    old_out[2] = g_window.title_font;
    *old_icon = g_window.large_icon;

    NONCLIENTMETRICSW metrics;
    ZeroMemory(&metrics, sizeof metrics);
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    LOGFONTW font = metrics.lfMessageFont;
    // The system gives its message font at the system's DPI; the window's texts are drawn at
    // the layout's, so that they keep their size relative to the controls.
    if (g_window.system_dpi > 0 && g_window.system_dpi != g_window.dpi)
        font.lfHeight = MulDiv(font.lfHeight, g_window.dpi, g_window.system_dpi);
    g_window.normal_font = CreateFontIndirectW(&font);
    font.lfWeight = 600;
    g_window.semibold_font = CreateFontIndirectW(&font);
    font.lfWeight = 700;
    font.lfHeight = -Scaled(22);
    g_window.title_font = CreateFontIndirectW(&font);
    g_window.large_icon = (HICON)LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1),
                                           IMAGE_ICON, Scaled(48), Scaled(48), LR_DEFAULTCOLOR);
}

// Inside the work area when it fits there, its top-left corner first.
static int Clamp(int value, int low, int high) { return value > high ? high : value < low ? low : value; }

void ScaleSetupWindow(HWND window, int dpi, const RECT* work_area, const RECT* where)
{
    SIZE frame = WindowFrameAt(dpi);
    int work_width = work_area->right - work_area->left;
    int work_height = work_area->bottom - work_area->top;
    g_window.monitor_dpi = dpi;
    g_window.dpi = FitLayoutDpi(dpi, work_width, work_height, frame.cx, frame.cy);

    HFONT old_fonts[3];
    HICON old_icon;
    CreateWindowFonts(old_fonts, &old_icon);
    LayOutControls(window);
    // The controls hold the new fonts now; the class keeps its own icon.
    for (HFONT font : old_fonts) DeleteObject(font);
    if (old_icon && old_icon != (HICON)GetClassLongPtrW(window, GCLP_HICON)) DestroyIcon(old_icon);

    int client_width = Scaled(SETUP_CLIENT_WIDTH), client_height = Scaled(SETUP_CLIENT_HEIGHT);
    int width = client_width + frame.cx, height = client_height + frame.cy;
    int x = where ? where->left : work_area->left + (work_width - width) / 2;
    int y = where ? where->top : work_area->top + (work_height - height) / 2;
    x = Clamp(x, work_area->left, work_area->right - width);
    y = Clamp(y, work_area->top, work_area->bottom - height);
    SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    // Where the frame came out otherwise than asked (Wine gives the system's frame at every
    // DPI), the window grows or shrinks by the difference: the client area is what counts.
    RECT client;
    GetClientRect(window, &client);
    if (client.right != client_width || client.bottom != client_height) {
        width += client_width - client.right;
        height += client_height - client.bottom;
        SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}
