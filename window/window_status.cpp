// How an install run reaches the window: the status channel's listener posts each report to
// the window's handle as a private message, which the window procedure handles on the window
// thread. Posted, never sent: the worker runs on a thread of its own and never waits for the
// window.
#include <windows.h>

#include "base/status_channel.h"
#include "window/setup_window.h"

static int PostStatusLine(wchar_t* block)
{
    return PostMessageW(g_window.handle, WM_SETUP_STATUS, 0, (LPARAM)block) != 0;
}

static void PostProgress(int permille) { PostMessageW(g_window.handle, WM_SETUP_PROGRESS, (WPARAM)permille, 0); }

static void PostRunEnd(int failed) { PostMessageW(g_window.handle, WM_SETUP_DONE, (WPARAM)failed, 0); }

void ListenToInstallRuns(HWND window)
{
    g_window.handle = window;
    const StatusListener listener = {PostStatusLine, PostProgress, PostRunEnd};
    SetStatusListener(&listener);
}
