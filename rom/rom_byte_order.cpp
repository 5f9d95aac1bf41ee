#include <windows.h>

#include "rom/rom_image.h"

#define XXH_INLINE_ALL
#include "xxhash.h"

int NormaliseRomByteOrder(uint8_t* buffer, uint32_t length)
{
    if (buffer[0] == 0x50 && buffer[1] == 0x4B) return ROMCHECK_ZIP_ARCHIVE;
    if (buffer[0] == 0x37 && buffer[1] == 0x80) {
        for (uint32_t i = 0; i + 1 < length; i += 2) {
            uint8_t t = buffer[i];
            buffer[i] = buffer[i + 1];
            buffer[i + 1] = t;
        }
    } else if (buffer[0] == 0x40 && buffer[1] == 0x12) {
        for (uint32_t i = 0; i + 3 < length; i += 4) {
            uint8_t t0 = buffer[i], t1 = buffer[i + 1];
            buffer[i] = buffer[i + 3];
            buffer[i + 1] = buffer[i + 2];
            buffer[i + 2] = t1;
            buffer[i + 3] = t0;
        }
    }
    if (buffer[0] != 0x80 || buffer[1] != 0x37 || buffer[2] != 0x12 || buffer[3] != 0x40)
        return ROMCHECK_NOT_N64_ROM;
    return ROMCHECK_ACCEPTED;
}

uint64_t HashRomImage(const uint8_t* image, uint32_t length)
{
    return XXH3_64bits(image, length);
}
