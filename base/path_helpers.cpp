#include "base/path_helpers.h"

#include <wchar.h>

#include "base/setup_state.h"
#include "base/text_format.h"

static int IsSpaceOrQuote(wchar_t c) { return c == L' ' || c == L'"'; }

void TrimInputPath(wchar_t* path)
{
    size_t start = 0;
    while (IsSpaceOrQuote(path[start])) start++;
    if (start > 0) wmemmove(path, path + start, wcslen(path + start) + 1);

    size_t length = wcslen(path);
    while (length > 0 && IsSpaceOrQuote(path[length - 1])) path[--length] = L'\0';
    while (length > 3 && path[length - 1] == L'\\') path[--length] = L'\0';
}

void KnownFolderFilePath(REFKNOWNFOLDERID folder_id, const wchar_t* name, wchar_t* buffer,
                         size_t capacity)
{
    if (capacity == 0) return;
    buffer[0] = L'\0';
    PWSTR folder = nullptr;
    if (FAILED(SHGetKnownFolderPath(folder_id, 0, nullptr, &folder))) {
        CoTaskMemFree(folder);  // documented: freed even on failure (null is fine)
        return;
    }
    if (JoinPath(buffer, capacity, folder, name) < 0) buffer[0] = L'\0';
    CoTaskMemFree(folder);
}

static int IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

int FolderPathForm(const wchar_t* path)
{
    if (IsSeparator(path[0]) && IsSeparator(path[1])) {
        if (path[2] == L'.' || path[2] == L'?') return PATH_FORM_DEVICE;
        // "\\server\share": both names present.
        const wchar_t* server = path + 2;
        const wchar_t* end = server;
        while (*end && !IsSeparator(*end)) end++;
        if (end == server || !*end || !end[1] || IsSeparator(end[1])) return PATH_FORM_NOT_FULL;
        return PATH_FORM_FULL;
    }
    if (IsSeparator(path[0]) && path[1] == L'?' && path[2] == L'?') return PATH_FORM_DEVICE;
    wchar_t letter = (wchar_t)(path[0] | 0x20);
    if (letter >= L'a' && letter <= L'z' && path[1] == L':' && IsSeparator(path[2]))
        return PATH_FORM_FULL;
    return PATH_FORM_NOT_FULL;
}

int NormaliseFolderPath(wchar_t* path)
{
    wchar_t full[SETUP_PATH_UNITS];
    DWORD units = GetFullPathNameW(path, SETUP_PATH_UNITS, full, nullptr);
    if (units == 0 || units >= SETUP_PATH_UNITS) return 0;
    while (units > 3 && full[units - 1] == L'\\') full[--units] = L'\0';
    wmemcpy(path, full, units + 1);
    return 1;
}
