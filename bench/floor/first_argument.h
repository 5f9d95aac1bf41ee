// The first argument of the process's command line, without going through shell32 (which
// would load a dozen libraries at start under Wine and blur what the floor costs).
// Quotes around the argument are dropped; returns an empty text when there is none.
#pragma once
#include <windows.h>

static inline wchar_t* FirstArgument(void)
{
    wchar_t* p = GetCommandLineW();
    if (*p == L'"') {
        for (p++; *p && *p != L'"'; p++) {}
        if (*p) p++;
    } else {
        while (*p && *p != L' ' && *p != L'\t') p++;
    }
    while (*p == L' ' || *p == L'\t') p++;
    if (*p == L'"') {
        wchar_t* start = ++p;
        while (*p && *p != L'"') p++;
        *p = L'\0';
        return start;
    }
    wchar_t* start = p;
    while (*p && *p != L' ' && *p != L'\t') p++;
    *p = L'\0';
    return start;
}
