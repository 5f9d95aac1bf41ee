// Bounded printf-style formatting over UTF-16 ("%s" takes a wide string, "%.0f" a double,
// "%lu" an unsigned 32-bit number). A text that does not fit is cut to capacity - 1 units
// and terminated.
#pragma once
#include <stdarg.h>
#include <stddef.h>

// Returns the units written without the terminator, or -1 when the text was cut.
int FormatText(wchar_t* buffer, size_t capacity, const wchar_t* format, ...);
int FormatTextV(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args);

// The joining rule: "%s\\%s" into a buffer (normally SETUP_JOIN_UNITS units).
int JoinPath(wchar_t* buffer, size_t capacity, const wchar_t* folder, const wchar_t* name);
