#include "rom/rom_image.h"

#include <windows.h>

#include "base/setup_state.h"
#include "base/text_format.h"

void FreeRomImage(uint8_t* image)
{
    if (image) HeapFree(GetProcessHeap(), 0, image);
}

int LoadRomImage(const wchar_t* path, uint8_t** image, uint32_t* length)
{
    *image = nullptr;
    *length = 0;

    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ROMCHECK_CANNOT_OPEN;

    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        return ROMCHECK_CANNOT_OPEN;
    }
    // Unsigned: a size below the minimum wraps to a huge value and fails the same test.
    if ((uint64_t)size.QuadPart - ROM_MIN_FILE_BYTES > ROM_MAX_FILE_BYTES - ROM_MIN_FILE_BYTES) {
        CloseHandle(file);
        return ROMCHECK_NOT_N64_ROM;
    }
    DWORD file_bytes = (DWORD)size.QuadPart;
    uint32_t buffer_length = (file_bytes + 3) & ~3u;

    uint8_t* buffer = (uint8_t*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, buffer_length);
    DWORD read = 0;
    BOOL good = buffer && ReadFile(file, buffer, file_bytes, &read, nullptr) && read == file_bytes;
    CloseHandle(file);
    if (!good) {
        FreeRomImage(buffer);
        return ROMCHECK_CANNOT_OPEN;
    }

    int code = NormaliseRomByteOrder(buffer, buffer_length);
    if (code == ROMCHECK_ACCEPTED && HashRomImage(buffer, buffer_length) != ROM_ACCEPTED_HASH)
        code = ROMCHECK_DIFFERENT_ROM;
    if (code != ROMCHECK_ACCEPTED) {
        FreeRomImage(buffer);
        return code;
    }
    *image = buffer;
    *length = buffer_length;
    return ROMCHECK_ACCEPTED;
}

bool HasInstalledRomCopy(const wchar_t* folder)
{
    wchar_t path[SETUP_JOIN_UNITS];
    JoinPath(path, SETUP_JOIN_UNITS, folder, ROM_COPY_NAME);
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    uint8_t* image = nullptr;
    uint32_t length = 0;
    int code = LoadRomImage(path, &image, &length);
    FreeRomImage(image);
    return code == ROMCHECK_ACCEPTED;
}

const wchar_t* RomCheckMessage(int code)
{
    switch (code) {
    case ROMCHECK_ACCEPTED:
        return L"\u2714  Torrentine (prototype, Jun 15 1999) found.";
    case ROMCHECK_CANNOT_OPEN:
        return L"Can't open that file.";
    case ROMCHECK_NOT_N64_ROM:
        return L"That file isn't a Nintendo 64 ROM.";
    case ROMCHECK_DIFFERENT_ROM:
        return L"That's a different ROM. Setup needs the Torrentine prototype dated Jun 15, "
               L"1999 (16 MB).";
    case ROMCHECK_ZIP_ARCHIVE:
        return L"That's a .zip archive: unzip it first, then choose the .z64 / .v64 / .n64 "
               L"file inside.";
    }
    return L"";
}
