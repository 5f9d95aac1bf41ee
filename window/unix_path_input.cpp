#include <windows.h>

#include "base/path_helpers.h"
#include "base/setup_state.h"
#include "base/text_format.h"
#include "window/setup_window.h"

typedef WCHAR*(CDECL* DosFileNameFunction)(const char*);

int UnixPathAsWindowsPath(wchar_t* path, size_t capacity)
{
    wchar_t trimmed[SETUP_JOIN_UNITS];
    if (path[0] == L'\0' || FormatText(trimmed, SETUP_JOIN_UNITS, L"%s", path) < 0) return 0;
    TrimInputPath(trimmed);
    // "//server" is no Linux path anyone types; on Windows "/" starts a rooted path, which
    // the folder check refuses with its own advice.
    if (trimmed[0] != L'/' || trimmed[1] == L'/') return 0;
    DosFileNameFunction dos_file_name = (DosFileNameFunction)(void*)GetProcAddress(
        GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name");
    if (!dos_file_name) return 0;
    char unix_path[3 * SETUP_JOIN_UNITS];
    if (!WideCharToMultiByte(CP_UTF8, 0, trimmed, -1, unix_path, sizeof unix_path, nullptr, nullptr))
        return 0;
    WCHAR* dos = dos_file_name(unix_path);
    if (!dos) return 0;
    // Whole or not at all, as every path of the request.
    wchar_t converted[SETUP_JOIN_UNITS];
    int whole = FormatText(converted, SETUP_JOIN_UNITS, L"%s", dos) >= 0;
    HeapFree(GetProcessHeap(), 0, dos);
    if (!whole || FormatText(path, capacity, L"%s", converted) < 0) return -1;
    return 1;
}
