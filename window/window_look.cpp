#include <windows.h>

#include "base/setup_state.h"
#include "window/setup_window.h"

int HighContrastIsOn(void)
{
    HIGHCONTRASTW contrast;
    ZeroMemory(&contrast, sizeof contrast);
    contrast.cbSize = sizeof contrast;
    if (!SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0)) return 0;
    return (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

HBRUSH BackgroundBrush(void)
{
    return g_window.high_contrast ? GetSysColorBrush(COLOR_WINDOW) : g_window.white_brush;
}

void OnLookChanged(HWND window)
{
    g_window.high_contrast = HighContrastIsOn();
    // Common controls learn of new system colours only from their parent.
    SendDlgItemMessageW(window, ID_PROGRESS, WM_SYSCOLORCHANGE, 0, 0);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
}
