#include "base/text_format.h"

#include <stdio.h>
#include <wchar.h>

int FormatTextV(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args)
{
    if (capacity == 0) return -1;
    // The CRT's own _vsnwprintf: "%s" is a wide string there, whatever the C library
    // configuration of the compiler says about the standard names.
    int written = _vsnwprintf(buffer, capacity, format, args);
    if (written < 0 || (size_t)written >= capacity) {
        buffer[capacity - 1] = L'\0';
        return -1;
    }
    return written;
}

int FormatText(wchar_t* buffer, size_t capacity, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int written = FormatTextV(buffer, capacity, format, args);
    va_end(args);
    return written;
}

int JoinPath(wchar_t* buffer, size_t capacity, const wchar_t* folder, const wchar_t* name)
{
    return FormatText(buffer, capacity, L"%s\\%s", folder, name);
}
