// The setup program's ROM check in a process of its own: LoadRomImage on one file, its code
// as the exit code (0 when the file is the accepted ROM).
//
//   rom_check.exe ROM_FILE
#include <windows.h>

#include "bench/floor/first_argument.h"
#include "rom/rom_image.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const wchar_t* argument = FirstArgument();
    if (!argument[0]) return 10;
    uint8_t* image = nullptr;
    uint32_t length = 0;
    int code = LoadRomImage(argument, &image, &length);
    FreeRomImage(image);
    return code;
}
