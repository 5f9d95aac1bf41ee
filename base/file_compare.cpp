#include "base/file_compare.h"

#include "base/file_helpers.h"

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


static int MapOpenFile(HANDLE file, uint64_t size, MappedFile* mapped)
{
    mapped->file = file;
    mapped->mapping = nullptr;
    mapped->bytes = nullptr;
    mapped->size = size;
    if (file == INVALID_HANDLE_VALUE) return 0;
    if (size == 0) return 1;
    if (size > (uint64_t)(SIZE_T)-1) return 0;
    mapped->mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapped->mapping) mapped->bytes = (const uint8_t*)MapViewOfFile(mapped->mapping, FILE_MAP_READ, 0, 0, 0);
    return mapped->bytes != nullptr;
}

int MapFileInFolder(const wchar_t* folder, const wchar_t* name, MappedFile* mapped)
{
    uint64_t size = 0;
    HANDLE file = OpenFileInFolder(folder, name, &size);
    return MapOpenFile(file, size, mapped);
}

int MapFileAt(const wchar_t* path, MappedFile* mapped)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size;
    size.QuadPart = 0;
    if (file != INVALID_HANDLE_VALUE && !GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }
    return MapOpenFile(file, (uint64_t)size.QuadPart, mapped);
}

void UnmapFile(MappedFile* mapped)
{
    if (mapped->bytes) UnmapViewOfFile(mapped->bytes);
    if (mapped->mapping) CloseHandle(mapped->mapping);
    if (mapped->file != INVALID_HANDLE_VALUE) CloseHandle(mapped->file);
    mapped->bytes = nullptr;
    mapped->mapping = nullptr;
    mapped->file = INVALID_HANDLE_VALUE;
}

int FileInFolderHolds(const wchar_t* folder, const wchar_t* name, const uint8_t* data, uint64_t size)
{
    MappedFile installed;
    int same = MapFileInFolder(folder, name, &installed) && installed.size == size &&
               (size == 0 || memcmp(installed.bytes, data, (size_t)size) == 0);
    UnmapFile(&installed);
    return same;
}

int FileInFolderEquals(const wchar_t* folder, const wchar_t* name, const wchar_t* path)
{
    MappedFile installed = {INVALID_HANDLE_VALUE, nullptr, nullptr, 0};
    MappedFile source = {INVALID_HANDLE_VALUE, nullptr, nullptr, 0};
    int same = MapFileInFolder(folder, name, &installed) && MapFileAt(path, &source) &&
               installed.size == source.size &&
               (source.size == 0 || memcmp(installed.bytes, source.bytes, (size_t)source.size) == 0);
    UnmapFile(&installed);
    UnmapFile(&source);
    return same;
}
