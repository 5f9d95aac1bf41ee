#include "formats/bitmap_file.h"

#include <string.h>

#include "base/little_endian.h"

uint32_t BitmapRowStride(int width) { return ((uint32_t)width * 3 + 3) & ~3u; }

void FillBitmapHeaders(uint8_t* headers, int width, int height)
{
    memset(headers, 0, BITMAP_HEADERS_BYTES);
    headers[0] = 'B';
    headers[1] = 'M';
    PutLe32(headers + 2, BITMAP_HEADERS_BYTES + BitmapRowStride(width) * (uint32_t)height);
    PutLe32(headers + 10, BITMAP_HEADERS_BYTES);
    PutLe32(headers + 14, 40);
    PutLe32(headers + 18, (uint32_t)width);
    PutLe32(headers + 22, (uint32_t)height);
    PutLe16(headers + 26, 1);
    PutLe16(headers + 28, 24);
}
