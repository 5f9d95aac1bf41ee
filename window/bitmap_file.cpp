#include "window/bitmap_file.h"

#include <string.h>

uint32_t BitmapRowStride(int width) { return ((uint32_t)width * 3 + 3) & ~3u; }

static void Put16(uint8_t* p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

static void Put32(uint8_t* p, uint32_t v)
{
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

void FillBitmapHeaders(uint8_t* headers, int width, int height)
{
    memset(headers, 0, BITMAP_HEADERS_BYTES);
    headers[0] = 'B';
    headers[1] = 'M';
    Put32(headers + 2, BITMAP_HEADERS_BYTES + BitmapRowStride(width) * (uint32_t)height);
    Put32(headers + 10, BITMAP_HEADERS_BYTES);
    Put32(headers + 14, 40);
    Put32(headers + 18, (uint32_t)width);
    Put32(headers + 22, (uint32_t)height);
    Put16(headers + 26, 1);
    Put16(headers + 28, 24);
}
