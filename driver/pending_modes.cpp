// Modes this build does not have yet. They say so and fail rather than pretend to work.
#include "driver/run_modes.h"
#include "driver/setup_state.h"
#include "driver/status_channel.h"

static int NotYetAvailable(const wchar_t* what)
{
    if (g_setup.silent)
        StatusLine(L"%s is not available in this build of setup.", what);
    else
        MessageBoxW(nullptr, what, L"Torrentine PC - Setup", MB_OK | MB_ICONERROR);
    return 1;
}

int RunSetupWindow(HINSTANCE, int, int, wchar_t**) { return NotYetAvailable(L"The setup window"); }
