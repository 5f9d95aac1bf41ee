// The floor of the ROM check: one read of the whole file into a freshly allocated buffer
// and one XXH3 of it. Exit code 0 when the hash is the accepted one, 1 when not, 2 when
// the file cannot be read.
//
//   rom_read_floor.exe ROM_FILE
#include <windows.h>
#include <stdint.h>

#define XXH_INLINE_ALL
#include "xxhash.h"

#include "bench/floor/first_argument.h"
#include "rom/rom_image.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const wchar_t* argument = FirstArgument();
    if (!argument[0]) return 2;
    HANDLE file = CreateFileW(argument, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart > ROM_MAX_FILE_BYTES) return 2;
    DWORD bytes = (DWORD)size.QuadPart;
    uint8_t* buffer = (uint8_t*)HeapAlloc(GetProcessHeap(), 0, bytes ? bytes : 1);
    DWORD read = 0;
    if (!buffer || !ReadFile(file, buffer, bytes, &read, nullptr) || read != bytes) return 2;
    CloseHandle(file);
    return XXH3_64bits(buffer, bytes) == ROM_ACCEPTED_HASH ? 0 : 1;
}
