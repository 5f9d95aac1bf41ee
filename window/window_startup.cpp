#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include "base/command_line.h"
#include "base/setup_state.h"
#include "package/package_digest.h"
#include "window/setup_window.h"

int Scaled(int value) { return MulDiv(value, g_setup.dpi, 96); }

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
    g_setup.window = window;
    HFONT normal = g_setup.normal_font, semibold = g_setup.semibold_font;

    HWND icon = CreateChildControl(window, L"STATIC", L"", SS_ICON, 20, 16, 48, 48, ID_ICON, normal);
    SendMessageW(icon, STM_SETICON, (WPARAM)g_setup.large_icon, 0);
    CreateChildControl(window, L"STATIC", L"Torrentine PC", SS_LEFT, 84, 16, 456, 30, 0,
                       g_setup.title_font);
    CreateChildControl(window, L"STATIC",
                       L"Setup: makes the PC version from your own Torrentine ROM.", SS_LEFT, 84,
                       48, 456, 20, 0, normal);
    // Access keys (Alt + the underlined letter) for every labelled control; Enter installs,
    // Esc closes.
    CreateChildControl(window, L"STATIC", L"1.  Your &ROM", SS_LEFT, 20, 88, 300, 20, 0, semibold);
    HWND rom_box = CreateChildControl(window, L"EDIT", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL,
                                      20, 110, 442, 26, ID_ROM_BOX, normal);
    SendMessageW(rom_box, EM_SETCUEBANNER, TRUE, (LPARAM)L"Torrentine ROM file (.z64, .v64 or .n64)");

    CreateChildControl(window, L"BUTTON", L"&Browse...", WS_TABSTOP | BS_PUSHBUTTON, 466, 110, 74,
                       26, ID_ROM_BROWSE, normal);
    CreateChildControl(window, L"STATIC", L"2.  Install &to", SS_LEFT, 20, 150, 300, 20, 0, semibold);
    CreateChildControl(window, L"EDIT", g_setup.install_folder,
                       WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 20, 172, 442, 26, ID_FOLDER_BOX,
                       normal);
    CreateChildControl(window, L"BUTTON", L"Br&owse...", WS_TABSTOP | BS_PUSHBUTTON, 466, 172, 74,
                       26, ID_FOLDER_BROWSE, normal);
    CreateChildControl(window, L"BUTTON", L"&Desktop shortcut", WS_TABSTOP | BS_AUTOCHECKBOX, 20,
                       210, 170, 22, ID_DESKTOP_CHECK, normal);
    CreateChildControl(window, L"BUTTON", L"&Start menu shortcut", WS_TABSTOP | BS_AUTOCHECKBOX,
                       200, 210, 200, 22, ID_START_MENU_CHECK, normal);
    CheckDlgButton(window, ID_DESKTOP_CHECK, BST_CHECKED);
    CheckDlgButton(window, ID_START_MENU_CHECK, BST_CHECKED);

    // Lines break between words, and inside a path too long for one line.
    CreateChildControl(window, L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL, 20, 242, 520,
                       40, ID_VERDICT, normal);
    HWND progress = CreateChildControl(window, PROGRESS_CLASSW, L"", PBS_SMOOTH, 20, 290, 520, 16,
                                       ID_PROGRESS, normal);
    SendMessageW(progress, PBM_SETRANGE32, 0, 1000);

    CreateChildControl(window, L"STATIC", HINT_TEXT, SS_ENDELLIPSIS | SS_NOPREFIX, 20, 312, 520, 20, ID_MESSAGE, normal);
    CreateChildControl(window, L"BUTTON", L"Install", WS_TABSTOP | BS_DEFPUSHBUTTON, 340, 346, 96,
                       30, ID_INSTALL, semibold);
    CreateChildControl(window, L"BUTTON", L"Close", WS_TABSTOP | BS_PUSHBUTTON, 444, 346, 96, 30,
                       ID_CLOSE, normal);

    DragAcceptFiles(window, TRUE);
    ValidateInputs(window);
}

static void CreateDrawingObjects(HINSTANCE instance)
{
    HDC screen = GetDC(nullptr);
    g_setup.dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);

    NONCLIENTMETRICSW metrics;
    ZeroMemory(&metrics, sizeof metrics);
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    LOGFONTW font = metrics.lfMessageFont;
    g_setup.normal_font = CreateFontIndirectW(&font);
    font.lfWeight = 600;
    g_setup.semibold_font = CreateFontIndirectW(&font);
    font.lfWeight = 700;
    font.lfHeight = -Scaled(22);
    g_setup.title_font = CreateFontIndirectW(&font);

    g_setup.large_icon = (HICON)LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, Scaled(48),
                                           Scaled(48), LR_DEFAULTCOLOR);
    g_setup.white_brush = (HBRUSH)GetStockObject(WHITE_BRUSH);
}

static ATOM RegisterSetupClass(HINSTANCE instance)
{
    WNDCLASSEXW window_class;
    ZeroMemory(&window_class, sizeof window_class);
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = SetupWindowProc;
    window_class.hInstance = instance;
    window_class.hIcon = g_setup.large_icon;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = g_setup.white_brush;
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
    CreateDrawingObjects(instance);
    ATOM registered = RegisterSetupClass(instance);

    RECT outer = {0, 0, Scaled(SETUP_CLIENT_WIDTH), Scaled(SETUP_CLIENT_HEIGHT)};
    AdjustWindowRect(&outer, SETUP_WINDOW_STYLE, FALSE);
    *width = outer.right - outer.left;
    *height = outer.bottom - outer.top;

    int x = -10000, y = -10000;
    DWORD ex_style = SNAPSHOT_EX_STYLE;
    if (!snapshot) {
        x = (GetSystemMetrics(SM_CXSCREEN) - *width) / 2;
        y = (GetSystemMetrics(SM_CYSCREEN) - *height) / 2;
        ex_style = 0;
    }
    if (!registered && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
    return CreateWindowExW(ex_style, SETUP_WINDOW_CLASS, SETUP_WINDOW_CAPTION, SETUP_WINDOW_STYLE, x,
                           y, *width, *height, nullptr, nullptr, instance, nullptr);
}

int RunSetupWindow(HINSTANCE instance, int show, int argc, wchar_t** argv)
{
    const wchar_t* bitmap = OptionValue(argc, argv, L"/snapshot");
    // A damaged download shows at once, before the player fills anything in.
    g_setup.package_damaged = !JoinPackageCheck(TakePackageCheck());
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
