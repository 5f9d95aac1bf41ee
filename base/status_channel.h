// How the install worker tells the user what happens: UTF-8 lines on standard output in
// silent mode, otherwise whatever the listener that the window supplied does with them.
#pragma once
#include <stdint.h>

#define STATUS_BLOCK_BYTES 2048
#define STATUS_TEXT_UNITS  1024
#define STATUS_UTF8_BYTES  2046

void StatusLine(const wchar_t* format, ...);
void ReportFailure(const wchar_t* format, ...);
void ReportProgress(uint64_t done, uint64_t total);
// The progress rule applied to a permille value directly (the worker's final 1000).
void ReportProgressPermille(int permille);

// How a window hears an install run. The window supplies it before it starts its first run
// (the worker then runs on a thread of its own, so each call must only pass the value on);
// in silent mode it is never called.
struct StatusListener {
    // block: a LocalAlloc'd UTF-16 status text of STATUS_BLOCK_BYTES. Nonzero when the
    // listener took it (and frees it later); 0 when the channel must free it itself.
    int (*line)(wchar_t* block);
    void (*progress)(int permille);  // 0 to 1000, only when the value changed
    void (*done)(int failed);        // the run's last report: its failure flag
};
void SetStatusListener(const StatusListener* listener);

// The install worker's last act: the listener hears the run's failure flag (silent mode: the
// flag is the exit code, and nothing is said).
void ReportRunEnd(void);
