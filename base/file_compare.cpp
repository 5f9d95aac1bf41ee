#include "base/file_compare.h"

#include "base/file_helpers.h"
#include "base/text_format.h"
#include "base/setup_state.h"

int NextBytesAre(HANDLE file, const uint8_t* bytes, uint64_t count, uint8_t* buffer)
{
    while (count) {
        DWORD part = count < COMPARE_BUFFER_BYTES ? (DWORD)count : COMPARE_BUFFER_BYTES;
        DWORD read = 0;
        if (!ReadFile(file, buffer, part, &read, nullptr) || read != part) return 0;
        if (bytes) {
            if (memcmp(buffer, bytes, part) != 0) return 0;
            bytes += part;
        } else {
            for (DWORD i = 0; i < part; i++)
                if (buffer[i]) return 0;
        }
        count -= part;
    }
    return 1;
}

// The file must end where the bytes do: nothing more to read.
static int AtEnd(HANDLE file, uint8_t* buffer)
{
    DWORD read = 0;
    return ReadFile(file, buffer, 1, &read, nullptr) && read == 0;
}

int FileInFolderHolds(const wchar_t* folder, const wchar_t* name, const uint8_t* data, uint64_t size,
                      uint8_t* buffer)
{
    // Another size settles it without opening the file as itself (half a millisecond a file
    // under Wine): it is then written again, which is safe whatever stands at the name. The
    // same size is only a hint: the file itself is opened and read.
    wchar_t path[SETUP_JOIN_UNITS];
    WIN32_FILE_ATTRIBUTE_DATA listed;
    if (JoinPath(path, SETUP_JOIN_UNITS, folder, name) >= 0 &&
        GetFileAttributesExW(path, GetFileExInfoStandard, &listed) &&
        !(listed.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (((uint64_t)listed.nFileSizeHigh << 32) | listed.nFileSizeLow) != size)
        return 0;
    uint64_t installed = 0;
    HANDLE file = OpenFileInFolder(folder, name, &installed);
    if (file == INVALID_HANDLE_VALUE) return 0;
    int same = 0;
    if (installed == size) {
        uint8_t* own = buffer ? nullptr : (uint8_t*)HeapAlloc(GetProcessHeap(), 0, COMPARE_BUFFER_BYTES);
        if (!buffer) buffer = own;
        same = buffer && NextBytesAre(file, data, size, buffer) && AtEnd(file, buffer);
        if (own) HeapFree(GetProcessHeap(), 0, own);
    }
    CloseHandle(file);
    return same;
}

int FileInFolderEquals(const wchar_t* folder, const wchar_t* name, const wchar_t* path)
{
    uint64_t installed = 0;
    HANDLE file = OpenFileInFolder(folder, name, &installed);
    if (file == INVALID_HANDLE_VALUE) return 0;
    HANDLE source = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    LARGE_INTEGER size;
    uint8_t* buffers = nullptr;
    int same = source != INVALID_HANDLE_VALUE && GetFileSizeEx(source, &size) &&
               (uint64_t)size.QuadPart == installed &&
               (buffers = (uint8_t*)HeapAlloc(GetProcessHeap(), 0, 2 * (SIZE_T)COMPARE_BUFFER_BYTES)) != nullptr;
    for (uint64_t left = installed; same && left;) {
        DWORD part = left < COMPARE_BUFFER_BYTES ? (DWORD)left : COMPARE_BUFFER_BYTES;
        DWORD read = 0;
        same = ReadFile(source, buffers, part, &read, nullptr) && read == part &&
               NextBytesAre(file, buffers, part, buffers + COMPARE_BUFFER_BYTES);
        left -= part;
    }
    same = same && AtEnd(file, buffers);
    if (buffers) HeapFree(GetProcessHeap(), 0, buffers);
    if (source != INVALID_HANDLE_VALUE) CloseHandle(source);
    CloseHandle(file);
    return same;
}
