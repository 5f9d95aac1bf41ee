#include "base/status_channel.h"

#include <windows.h>

#include "base/setup_state.h"
#include "base/text_format.h"

// Written once before the first run starts, read by the thread that runs it.
static StatusListener g_listener;

void SetStatusListener(const StatusListener* listener) { g_listener = *listener; }

static void WriteConsoleLine(const wchar_t* text)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    char utf8[STATUS_UTF8_BYTES];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    if (n <= 0 || out == nullptr || out == INVALID_HANDLE_VALUE) return;
    utf8[n - 1] = '\n';  // the terminator becomes the line feed: no CR, no BOM
    DWORD written = 0;
    WriteFile(out, utf8, (DWORD)n, &written, nullptr);
}

static void EmitStatusV(const wchar_t* format, va_list args)
{
    wchar_t* block = (wchar_t*)LocalAlloc(LMEM_FIXED, STATUS_BLOCK_BYTES);
    if (!block) return;  // out of memory: this one line is dropped
    FormatTextV(block, STATUS_TEXT_UNITS, format, args);

    if (g_setup.silent) {
        WriteConsoleLine(block);
        LocalFree(block);
        return;
    }
    if (!g_listener.line || !g_listener.line(block)) LocalFree(block);
}

void StatusLine(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    EmitStatusV(format, args);
    va_end(args);
}

void ReportFailure(const wchar_t* format, ...)
{
    wchar_t text[STATUS_TEXT_UNITS];
    va_list args;
    va_start(args, format);
    FormatTextV(text, STATUS_TEXT_UNITS, format, args);
    va_end(args);
    // The text is an argument, never a format: a percent sign in a path stays as it is.
    StatusLine(L"%s", text);
    g_setup.failed = 1;
}

void ReportProgressPermille(int permille)
{
    if (permille == g_setup.last_progress) return;
    g_setup.last_progress = permille;
    if (!g_setup.silent && g_listener.progress) g_listener.progress(permille);
}

void ReportProgress(uint64_t done, uint64_t total)
{
    uint64_t permille = total == 0 ? 0 : (done * 1000) / total;
    ReportProgressPermille((int)permille);
}

void ReportRunEnd(void)
{
    if (!g_setup.silent && g_listener.done) g_listener.done(g_setup.failed);
}
