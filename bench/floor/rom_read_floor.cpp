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
#include "bench/floor/read_whole_file.h"
#include "rom/rom_image.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const wchar_t* argument = FirstArgument();
    if (!argument[0]) return 2;
    DWORD bytes = 0;
    uint8_t* buffer = ReadWholeFile(argument, ROM_MAX_FILE_BYTES, &bytes);
    if (!buffer) return 2;
    return XXH3_64bits(buffer, bytes) == ROM_ACCEPTED_HASH ? 0 : 1;
}
