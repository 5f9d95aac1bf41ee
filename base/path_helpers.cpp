#include "base/path_helpers.h"

#include <wchar.h>

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
