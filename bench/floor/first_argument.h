// The arguments of the process's command line, without going through shell32 (which
// would load a dozen libraries at start under Wine and blur what the floor costs).
// Quotes around an argument are dropped; an empty text when there is none left.
#pragma once
#include <windows.h>

// The next argument at *cursor, terminated in place; *cursor moves past it.
static inline wchar_t* NextArgument(wchar_t** cursor)
{
    wchar_t* p = *cursor;
    while (*p == L' ' || *p == L'\t') p++;
    wchar_t* start = p;
    if (*p == L'"') {
        start = ++p;
        while (*p && *p != L'"') p++;
    } else {
        while (*p && *p != L' ' && *p != L'\t') p++;
    }
    if (*p) *p++ = L'\0';
    *cursor = p;
    return start;
}

// The command line past the program's own name.
static inline wchar_t* ArgumentsCursor(void)
{
    wchar_t* cursor = GetCommandLineW();
    NextArgument(&cursor);
    return cursor;
}

static inline wchar_t* FirstArgument(void)
{
    wchar_t* cursor = ArgumentsCursor();
    return NextArgument(&cursor);
}
