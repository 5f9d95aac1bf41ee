#include "base/message_box_caption.h"

#include <wchar.h>

static HHOOK g_caption_hook;

int CaptionWidthNeeded(const wchar_t* caption)
{
    NONCLIENTMETRICSW metrics;
    ZeroMemory(&metrics, sizeof metrics);
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return 0;
    HFONT font = CreateFontIndirectW(&metrics.lfCaptionFont);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE text = {0, 0};
    GetTextExtentPoint32W(dc, caption, (int)wcslen(caption), &text);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    DeleteObject(font);
    // The icon, the close button and one more button's room, the borders, a little air.
    int frame = GetSystemMetrics(SM_CXFIXEDFRAME) + GetSystemMetrics(SM_CXEDGE);
    return text.cx + 3 * metrics.iCaptionWidth + 2 * frame + 16;
}

static void FitCaption(HWND box)
{
    wchar_t class_name[16], caption[256];
    if (!GetClassNameW(box, class_name, 16) || wcscmp(class_name, L"#32770") != 0) return;
    if (!GetWindowTextW(box, caption, 256)) return;
    RECT outer;
    GetWindowRect(box, &outer);
    int width = outer.right - outer.left;
    int grow = CaptionWidthNeeded(caption) - width;
    if (grow <= 0) return;
    SetWindowPos(box, nullptr, outer.left - grow / 2, outer.top, width + grow, outer.bottom - outer.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, box, (POINT*)&r, 2);
        SetWindowPos(child, nullptr, r.left + grow / 2, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// A message box lays itself out as it handles WM_INITDIALOG: right after that, its size is
// known and it is not shown yet.
static LRESULT CALLBACK AfterMessage(int code, WPARAM wparam, LPARAM lparam)
{
    const CWPRETSTRUCT* message = (const CWPRETSTRUCT*)lparam;
    if (code == HC_ACTION && message->message == WM_INITDIALOG) FitCaption(message->hwnd);
    return CallNextHookEx(g_caption_hook, code, wparam, lparam);
}

void FitMessageBoxCaptions(void)
{
    if (!g_caption_hook)
        g_caption_hook = SetWindowsHookExW(WH_CALLWNDPROCRET, AfterMessage, nullptr, GetCurrentThreadId());
}
