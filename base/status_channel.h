// How the install worker tells the user what happens: UTF-8 lines on standard output in
// silent mode, private messages posted to the setup window otherwise.
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
