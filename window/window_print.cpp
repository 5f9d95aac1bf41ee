#include <windows.h>

#include "window/setup_window.h"

// The frame that the window mode has, whatever style this window was created with: the
// snapshot's tool-window style must not show in the picture.
static void FrameLayout(RECT* caption, POINT* client_origin, int width)
{
    RECT frame = {0, 0, 0, 0};
    AdjustWindowRect(&frame, SETUP_WINDOW_STYLE, FALSE);
    int border = -frame.left;
    client_origin->x = -frame.left;
    client_origin->y = -frame.top;
    SetRect(caption, border, border, width - border, client_origin->y - 1);
}

#define CAPTION_CLOSE 0
#define CAPTION_MAXIMIZE 1
#define CAPTION_MINIMIZE 2

// Caption buttons are drawn with lines: the symbol font that DrawFrameControl relies on is
// missing under Wine, which would show letters instead of the symbols.
static void PaintCaptionButton(HDC dc, const RECT* caption, int kind)
{
    int height = caption->bottom - caption->top - 4;
    int width = height + 2;
    // Close stands alone at the right; maximise and minimise touch, two pixels to its left.
    int right = caption->right - 2 - (kind == CAPTION_CLOSE ? 0 : 2 + kind * width);
    RECT button = {right - width, caption->top + 2, right, caption->top + 2 + height};
    DrawEdge(dc, &button, EDGE_RAISED, BF_RECT | BF_MIDDLE);

    int unit = height / 4 > 1 ? height / 4 : 1;
    int left = button.left + (width - 2 * unit) / 2 - unit, top = button.top + unit;
    int glyph = 2 * unit + 1;
    COLORREF colour = GetSysColor(kind == CAPTION_MAXIMIZE ? COLOR_GRAYTEXT : COLOR_BTNTEXT);
    HPEN pen = CreatePen(PS_SOLID, unit > 2 ? 2 : 1, colour);
    HGDIOBJ old_pen = SelectObject(dc, pen);
    if (kind == CAPTION_CLOSE) {
        MoveToEx(dc, left, top, nullptr);
        LineTo(dc, left + glyph + 1, top + glyph + 1);
        MoveToEx(dc, left + glyph, top, nullptr);
        LineTo(dc, left - 1, top + glyph + 1);
    } else if (kind == CAPTION_MAXIMIZE) {
        HGDIOBJ old_brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
        Rectangle(dc, left, top, left + glyph + 1, top + glyph + 1);
        SelectObject(dc, old_brush);
    } else {
        MoveToEx(dc, left, top + glyph, nullptr);
        LineTo(dc, left + glyph, top + glyph);
    }
    SelectObject(dc, old_pen);
    DeleteObject(pen);
}

static void PaintNonClient(HWND window, HDC dc, int width, int height)
{
    RECT whole = {0, 0, width, height};
    FillRect(dc, &whole, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(dc, &whole, EDGE_RAISED, BF_RECT);
    RECT caption;
    POINT client_origin;
    FrameLayout(&caption, &client_origin, width);
    DrawCaption(window, dc, &caption, DC_ACTIVE | DC_TEXT | DC_ICON | DC_GRADIENT);
    PaintCaptionButton(dc, &caption, CAPTION_CLOSE);
    PaintCaptionButton(dc, &caption, CAPTION_MAXIMIZE);
    PaintCaptionButton(dc, &caption, CAPTION_MINIMIZE);
}

// An access key's "&" is never drawn: its letter is underlined as the control shows it,
// or not at all while the system hides keyboard cues (until Alt is pressed).
static UINT AccessKeyFormat(HWND control, int no_prefix)
{
    if (no_prefix) return DT_NOPREFIX;
    LRESULT state = SendMessageW(control, WM_QUERYUISTATE, 0, 0);
    return (state & UISF_HIDEACCEL) ? DT_HIDEPREFIX : 0;
}

// Under Wine a static control or a check box drawn into another device context shows
// nothing, so these two kinds are drawn here the way the controls draw themselves.
static void PaintStatic(HWND child, HDC dc, const RECT* client)
{
    HWND parent = GetParent(child);
    LONG style = GetWindowLongW(child, GWL_STYLE);
    HBRUSH brush = (HBRUSH)SendMessageW(parent, WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)child);
    FillRect(dc, client, brush ? brush : GetSysColorBrush(COLOR_BTNFACE));
    if ((style & SS_TYPEMASK) == SS_ICON) {
        HICON icon = (HICON)SendMessageW(child, STM_GETICON, 0, 0);
        if (icon) DrawIconEx(dc, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL);
        return;
    }
    wchar_t text[1024];
    GetWindowTextW(child, text, 1024);
    HGDIOBJ old_font = SelectObject(dc, (HFONT)SendMessageW(child, WM_GETFONT, 0, 0));
    UINT format = DT_LEFT | DT_EXPANDTABS | AccessKeyFormat(child, (style & SS_NOPREFIX) != 0);
    format |= (style & SS_ENDELLIPSIS) ? DT_END_ELLIPSIS | DT_SINGLELINE : DT_WORDBREAK;
    if (style & SS_EDITCONTROL) format |= DT_EDITCONTROL;
    RECT area = *client;
    DrawTextW(dc, text, -1, &area, format);
    SelectObject(dc, old_font);
}

static void PaintCheckBox(HWND child, HDC dc, const RECT* client)
{
    HWND parent = GetParent(child);
    HBRUSH brush = (HBRUSH)SendMessageW(parent, WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)child);
    FillRect(dc, client, brush ? brush : GetSysColorBrush(COLOR_BTNFACE));
    int enabled = IsWindowEnabled(child);
    int box = Scaled(13);
    int top = (client->bottom - box) / 2;
    RECT mark = {0, top, box, top + box};
    UINT state = DFCS_BUTTONCHECK;
    if (SendMessageW(child, BM_GETCHECK, 0, 0) == BST_CHECKED) state |= DFCS_CHECKED;
    if (!enabled) state |= DFCS_INACTIVE;
    DrawFrameControl(dc, &mark, DFC_BUTTON, state);

    wchar_t text[256];
    GetWindowTextW(child, text, 256);
    HGDIOBJ old_font = SelectObject(dc, (HFONT)SendMessageW(child, WM_GETFONT, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    int text_colour = g_window.high_contrast ? COLOR_WINDOWTEXT : COLOR_BTNTEXT;
    SetTextColor(dc, GetSysColor(enabled ? text_colour : COLOR_GRAYTEXT));
    RECT label = {box + box / 3 + 1, 0, client->right, client->bottom};
    DrawTextW(dc, text, -1, &label, DT_LEFT | DT_VCENTER | DT_SINGLELINE | AccessKeyFormat(child, 0));
    SelectObject(dc, old_font);
}

// Each child draws itself into dc at its own place.
static BOOL CALLBACK PrintChild(HWND child, LPARAM param)
{
    HDC dc = (HDC)param;
    HWND parent = GetParent(child);
    if (!IsWindowVisible(child) || !parent) return TRUE;
    POINT origin = {0, 0};
    MapWindowPoints(child, parent, &origin, 1);
    int saved = SaveDC(dc);
    OffsetViewportOrgEx(dc, origin.x, origin.y, nullptr);
    RECT client;
    GetClientRect(child, &client);
    IntersectClipRect(dc, 0, 0, client.right, client.bottom);
    wchar_t class_name[32];
    GetClassNameW(child, class_name, 32);
    LONG button_type = GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK;
    if (lstrcmpiW(class_name, L"Static") == 0)
        PaintStatic(child, dc, &client);
    else if (lstrcmpiW(class_name, L"Button") == 0 && button_type == BS_AUTOCHECKBOX)
        PaintCheckBox(child, dc, &client);
    else
        SendMessageW(child, WM_PRINT, (WPARAM)dc, PRF_CLIENT | PRF_ERASEBKGND | PRF_CHILDREN);
    RestoreDC(dc, saved);
    return TRUE;
}

void PrintWholeWindow(HWND window, HDC dc, LPARAM flags)
{
    RECT outer;
    GetWindowRect(window, &outer);
    int width = outer.right - outer.left, height = outer.bottom - outer.top;
    if (flags & PRF_NONCLIENT) PaintNonClient(window, dc, width, height);

    RECT caption;
    POINT origin;
    FrameLayout(&caption, &origin, width);
    int saved = SaveDC(dc);
    OffsetViewportOrgEx(dc, origin.x, origin.y, nullptr);
    RECT client = {0, 0, Scaled(SETUP_CLIENT_WIDTH), Scaled(SETUP_CLIENT_HEIGHT)};
    IntersectClipRect(dc, 0, 0, client.right, client.bottom);
    FillRect(dc, &client, BackgroundBrush());
    if (flags & (PRF_CLIENT | PRF_CHILDREN)) EnumChildWindows(window, PrintChild, (LPARAM)dc);
    RestoreDC(dc, saved);
}
