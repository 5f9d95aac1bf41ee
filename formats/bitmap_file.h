// The 24-bit bottom-up BMP that the snapshot writes: a 14-byte file header and a 40-byte
// info header, then the rows, each padded to a multiple of 4 bytes.
#pragma once
#include <stdint.h>

#define BITMAP_HEADERS_BYTES 54

uint32_t BitmapRowStride(int width);
// Fills both headers; image size and resolutions stay 0.
void FillBitmapHeaders(uint8_t* headers, int width, int height);
