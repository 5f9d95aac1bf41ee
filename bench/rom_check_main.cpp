// The setup program's ROM check in a process of its own: CheckRomFile on one file, its code
// as the exit code (0 when the file is the accepted ROM).
//
//   rom_check.exe ROM_FILE
#include <windows.h>

#include "bench/floor/first_argument.h"
#include "formats/icon_images.h"
#include "rom/rom_image.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const wchar_t* argument = FirstArgument();
    if (!argument[0]) return 10;
    static uint8_t picture[ICON_PICTURE_BYTES];  // kept, as setup keeps it for the icon
    uint32_t length = 0;
    return CheckRomFile(argument, &length, ICON_PICTURE_OFFSET, ICON_PICTURE_BYTES, picture);
}
