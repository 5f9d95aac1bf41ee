#include "formats/icon_images.h"

#include <math.h>
#include <string.h>

#include "base/little_endian.h"

const int ICON_SIZES[ICON_IMAGE_COUNT] = {256, 64, 48, 32, 24, 16};

struct PixelSums {
    double weight, alpha, red, green, blue;
};

// Each colour term is R * (A / 255) * g, in that order: the icon's bytes depend on it.
static void AddSample(PixelSums* sums, const uint8_t* pixel, double g)
{
    double a = pixel[3];
    sums->weight += g;
    sums->alpha += a * g;
    sums->red += pixel[0] * (a / 255) * g;
    sums->green += pixel[1] * (a / 255) * g;
    sums->blue += pixel[2] * (a / 255) * g;
}

static uint8_t ColourByte(double sum, double weight, double mean_alpha)
{
    double v = mean_alpha > 0 ? (sum / weight) / (mean_alpha / 255) : 0;
    if (v > 255) return 255;
    return (uint8_t)(int)(v + 0.5);
}

static int Clamp(int v, int limit) { return v < 0 ? 0 : (v >= limit ? limit - 1 : v); }

// floor() for the sample positions (between -1 and the picture's size): the same values,
// without the runtime's general function.
static int FloorToInt(double v)
{
    int i = (int)v;
    return i > v ? i - 1 : i;
}

void ResampleRgba(const uint8_t* source, int w, int h, uint8_t* destination, int W, int H)
{
    int box = W < w;
    for (int y = 0; y < H; y++) {
        for (int x = 0; x < W; x++) {
            PixelSums sums = {0, 0, 0, 0, 0};
            if (box) {
                int x0 = x * w / W, x1 = (x + 1) * w / W;
                int y0 = y * h / H, y1 = (y + 1) * h / H;
                if (x1 <= x0) x1 = x0 + 1;
                if (y1 <= y0) y1 = y0 + 1;
                for (int sy = y0; sy < y1; sy++)
                    for (int sx = x0; sx < x1; sx++)
                        AddSample(&sums, source + ((size_t)sy * w + sx) * 4, 1.0);
            } else {
                double sx = ((x + 0.5) * w) / W - 0.5;
                double sy = ((y + 0.5) * h) / H - 0.5;
                int x0 = FloorToInt(sx), y0 = FloorToInt(sy);
                double fx = sx - x0, fy = sy - y0;
                for (int j = 0; j < 2; j++) {
                    for (int i = 0; i < 2; i++) {
                        int cy = Clamp(y0 + j, h), cx = Clamp(x0 + i, w);
                        double g = (j == 1 ? fy : 1 - fy) * (i == 1 ? fx : 1 - fx);
                        AddSample(&sums, source + ((size_t)cy * w + cx) * 4, g);
                    }
                }
            }
            double mean_alpha = sums.alpha / sums.weight;
            uint8_t* out = destination + ((size_t)y * W + x) * 4;
            out[0] = ColourByte(sums.red, sums.weight, mean_alpha);
            out[1] = ColourByte(sums.green, sums.weight, mean_alpha);
            out[2] = ColourByte(sums.blue, sums.weight, mean_alpha);
            out[3] = (uint8_t)(int)(mean_alpha + 0.5);
        }
    }
}

void CopyPictureToCanvas(const uint8_t* picture, uint8_t* canvas)
{
    const size_t row_bytes = ICON_PICTURE_WIDTH * 4;
    memcpy(canvas + (size_t)ICON_CANVAS_FIRST_ROW * row_bytes, picture, ICON_PICTURE_BYTES);
}

static uint32_t MaskRowBytes(int size) { return (uint32_t)((size + 31) / 32) * 4; }

static uint32_t SizeImage(int size)
{
    return (uint32_t)size * size * 4 + (uint32_t)size * MaskRowBytes(size);
}

uint32_t IconImageBytes(int size) { return 40 + SizeImage(size); }

void FillIconImage(uint8_t* image, int size, const uint8_t* rgba)
{
    PutLe32(image + 0, 40);
    PutLe32(image + 4, (uint32_t)size);
    PutLe32(image + 8, (uint32_t)(2 * size));
    PutLe16(image + 12, 1);
    PutLe16(image + 14, 32);
    PutLe32(image + 16, 0);
    PutLe32(image + 20, SizeImage(size));
    uint8_t* pixels = image + 40;
    for (int r = 0; r < size; r++) {
        const uint8_t* from = rgba + (size_t)r * size * 4;
        uint8_t* to = pixels + (size_t)(size - 1 - r) * size * 4;
        for (int x = 0; x < size; x++) {
            to[x * 4 + 0] = from[x * 4 + 2];
            to[x * 4 + 1] = from[x * 4 + 1];
            to[x * 4 + 2] = from[x * 4 + 0];
            to[x * 4 + 3] = from[x * 4 + 3];
        }
    }
}

static void FillDirectoryEntry(uint8_t* entry, int size, uint32_t bytes)
{
    entry[0] = (uint8_t)(size & 0xFF);
    entry[1] = (uint8_t)(size & 0xFF);
    entry[2] = 0;
    entry[3] = 0;
    PutLe16(entry + 4, 1);
    PutLe16(entry + 6, 32);
    PutLe32(entry + 8, bytes);
}

void FillIconFileHeader(uint8_t* header, const uint32_t image_bytes[ICON_IMAGE_COUNT])
{
    PutLe16(header + 0, 0);
    PutLe16(header + 2, 1);
    PutLe16(header + 4, ICON_IMAGE_COUNT);
    uint32_t offset = ICON_FILE_HEADER_BYTES;
    for (int k = 0; k < ICON_IMAGE_COUNT; k++) {
        uint8_t* entry = header + 6 + 16 * k;
        FillDirectoryEntry(entry, ICON_SIZES[k], image_bytes[k]);
        PutLe32(entry + 12, offset);
        offset += image_bytes[k];
    }
}

void FillIconGroupRecord(uint8_t* record, const uint32_t image_bytes[ICON_IMAGE_COUNT])
{
    PutLe16(record + 0, 0);
    PutLe16(record + 2, 1);
    PutLe16(record + 4, ICON_IMAGE_COUNT);
    for (int k = 0; k < ICON_IMAGE_COUNT; k++) {
        uint8_t* entry = record + 6 + 14 * k;
        FillDirectoryEntry(entry, ICON_SIZES[k], image_bytes[k]);
        PutLe16(entry + 12, (uint32_t)(k + 1));
    }
}
