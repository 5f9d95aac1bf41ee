// The game icon's byte layouts: the picture cut from the ROM, the resampler, the
// BMP-in-ICO images, the icon file's directory and the group icon record.
#pragma once
#include <stdint.h>

#define ICON_PICTURE_OFFSET 2573456u  // 0x274490 in the big-endian ROM image
#define ICON_PICTURE_END    2609168u  // one past the picture's last byte
#define ICON_PICTURE_WIDTH  144
#define ICON_PICTURE_HEIGHT 62
#define ICON_PICTURE_BYTES  (ICON_PICTURE_END - ICON_PICTURE_OFFSET)  // RGBA rows
#define ICON_CANVAS_SIZE    144
#define ICON_CANVAS_BYTES   (ICON_CANVAS_SIZE * ICON_CANVAS_SIZE * 4)
#define ICON_CANVAS_FIRST_ROW 41
#define ICON_WORK_BYTES     (256 * 256 * 4)
#define ICON_IMAGE_COUNT    6
#define ICON_FILE_HEADER_BYTES (6 + 16 * ICON_IMAGE_COUNT)
#define ICON_GROUP_BYTES    (6 + 14 * ICON_IMAGE_COUNT)

// Sizes in the order of the icon file's entries and of resource ids 1 to 6.
extern const int ICON_SIZES[ICON_IMAGE_COUNT];

// RGBA to RGBA, rows top-down: box filter when shrinking the width, bilinear otherwise;
// colours are alpha-weighted so a transparent pixel's colour never bleeds in.
void ResampleRgba(const uint8_t* source, int source_width, int source_height,
                  uint8_t* destination, int destination_width, int destination_height);

// Copies the ROM's 144 x 62 picture (its ICON_PICTURE_BYTES, from ICON_PICTURE_OFFSET of
// the image) into rows 41 to 102 of a zeroed 144 x 144 canvas.
void CopyPictureToCanvas(const uint8_t* picture, uint8_t* canvas);

// 40-byte header, s x s BGRA pixels bottom-up, then a zero AND mask.
uint32_t IconImageBytes(int size);
// Fills a zero-filled block of IconImageBytes(size) bytes from size x size RGBA pixels.
void FillIconImage(uint8_t* image, int size, const uint8_t* rgba);

void FillIconFileHeader(uint8_t* header, const uint32_t image_bytes[ICON_IMAGE_COUNT]);
void FillIconGroupRecord(uint8_t* record, const uint32_t image_bytes[ICON_IMAGE_COUNT]);
