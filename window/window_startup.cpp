#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include "base/command_line.h"
#include "base/setup_state.h"
#include "package/package_digest.h"
#include "window/setup_window.h"

WindowState g_window;

// The screen's DPI, the layout's that fits the primary monitor, and fonts and icon for it.
static void CreateDrawingObjects(const RECT* work_area)
{
    HDC screen = GetDC(nullptr);
    g_window.system_dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    g_window.monitor_dpi = g_window.system_dpi;
    SIZE frame = WindowFrameAt(g_window.monitor_dpi);
    g_window.dpi = FitLayoutDpi(g_window.monitor_dpi, work_area->right - work_area->left,
                               work_area->bottom - work_area->top, frame.cx, frame.cy);
    g_window.normal_font = g_window.semibold_font = g_window.title_font = nullptr;
    g_window.large_icon = nullptr;
    HFONT none[3];
    HICON no_icon;
    CreateWindowFonts(none, &no_icon);
    g_window.white_brush = (HBRUSH)GetStockObject(WHITE_BRUSH);
    g_window.high_contrast = HighContrastIsOn();
}

static ATOM RegisterSetupClass(HINSTANCE instance)
{
    WNDCLASSEXW window_class;
    ZeroMemory(&window_class, sizeof window_class);
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = SetupWindowProc;
    window_class.hInstance = instance;
    window_class.hIcon = g_window.large_icon;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = g_window.white_brush;
    window_class.lpszClassName = SETUP_WINDOW_CLASS;
    window_class.hIconSm = (HICON)LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR);
    return RegisterClassExW(&window_class);
}

HWND CreateSetupWindow(HINSTANCE instance, int snapshot, int* width, int* height)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    // The window opens on the primary monitor and fits its work area, at any scale: a
    // layout too large for it (192 dpi on a 1366 x 768 screen) is drawn at a lower DPI.
    RECT work_area;
    MonitorWorkArea(nullptr, &work_area);
    CreateDrawingObjects(&work_area);
    ATOM registered = RegisterSetupClass(instance);

    RECT outer = {0, 0, Scaled(SETUP_CLIENT_WIDTH), Scaled(SETUP_CLIENT_HEIGHT)};
    AdjustWindowRect(&outer, SETUP_WINDOW_STYLE, FALSE);
    *width = outer.right - outer.left;
    *height = outer.bottom - outer.top;

    int x = -10000, y = -10000;
    DWORD ex_style = SNAPSHOT_EX_STYLE;
    if (!snapshot) {
        x = work_area.left + (work_area.right - work_area.left - *width) / 2;
        y = work_area.top + (work_area.bottom - work_area.top - *height) / 2;
        ex_style = 0;
    }
    if (!registered && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
    HWND window = CreateWindowExW(ex_style, SETUP_WINDOW_CLASS, SETUP_WINDOW_CAPTION,
                                  SETUP_WINDOW_STYLE, x, y, *width, *height, nullptr, nullptr,
                                  instance, nullptr);
    if (!window) return nullptr;
    // Where the window's own monitor has another DPI than the system's (Windows 10 and
    // later, per monitor), it is laid out again for that monitor.
    typedef UINT(WINAPI * DpiForWindowFunction)(HWND);
    DpiForWindowFunction dpi_for_window = (DpiForWindowFunction)(void*)GetProcAddress(
        GetModuleHandleW(L"user32.dll"), "GetDpiForWindow");
    int window_dpi = dpi_for_window ? (int)dpi_for_window(window) : 0;
    if (!snapshot && window_dpi > 0 && window_dpi != g_window.monitor_dpi) {
        RECT placed;
        GetWindowRect(window, &placed);
        MonitorWorkArea(&placed, &work_area);
        ScaleSetupWindow(window, window_dpi, &work_area, nullptr);
    }
    RECT placed;
    GetWindowRect(window, &placed);
    *width = placed.right - placed.left;
    *height = placed.bottom - placed.top;
    return window;
}

int RunSetupWindow(HINSTANCE instance, int show, int argc, wchar_t** argv)
{
    const wchar_t* bitmap = OptionValue(argc, argv, L"/snapshot");
    // A damaged download shows at once, before the player fills anything in.
    g_window.package_damaged = !JoinPackageCheck(TakePackageCheck());
    int width = 0, height = 0;
    HWND window = CreateSetupWindow(instance, bitmap != nullptr, &width, &height);
    if (!window) {
        // Without a window the message loop would wait for ever: say so and stop.
        if (bitmap) return 0;  // the snapshot mode always ends with 0
        MessageBoxW(nullptr, L"Setup could not open its window.", L"Torrentine PC",
                    MB_OK | MB_ICONERROR);
        return 1;
    }
    if (bitmap) return RunWindowSnapshot(window, width, height, bitmap, argc, argv);

    ShowWindow(window, show);
    UpdateWindow(window);
    SetFocus(GetDlgItem(window, ID_ROM_BOX));  // typing goes straight to the ROM
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    CoUninitialize();
    return 0;
}
