#include <gtest/gtest.h>

#include <vector>

#include "formats/icon_images.h"

namespace {

struct Rgba {
    uint8_t r, g, b, a;
};

std::vector<uint8_t> Pixels(const std::vector<Rgba>& pixels)
{
    std::vector<uint8_t> bytes;
    for (const Rgba& p : pixels) bytes.insert(bytes.end(), {p.r, p.g, p.b, p.a});
    return bytes;
}

Rgba At(const std::vector<uint8_t>& image, int width, int x, int y)
{
    const uint8_t* p = image.data() + ((size_t)y * width + x) * 4;
    return {p[0], p[1], p[2], p[3]};
}

}  // namespace

TEST(ResampleRgba, TransparentColourDoesNotBleedAndHalfAlphaRoundsUp)
{
    std::vector<uint8_t> source = Pixels({{255, 0, 0, 255}, {0, 0, 255, 0}});
    std::vector<uint8_t> out(4);
    ResampleRgba(source.data(), 2, 1, out.data(), 1, 1);
    EXPECT_EQ(out, std::vector<uint8_t>({255, 0, 0, 128}));
}

TEST(ResampleRgba, FullyTransparentBecomesTransparentBlackAtEverySize)
{
    std::vector<uint8_t> source(144 * 144 * 4);
    for (size_t i = 0; i < source.size(); i += 4) {
        source[i] = 200;
        source[i + 1] = 100;
        source[i + 2] = 50;
        source[i + 3] = 0;
    }
    for (int size : {256, 64, 48, 32, 24, 16}) {
        std::vector<uint8_t> out((size_t)size * size * 4, 0xEE);
        ResampleRgba(source.data(), 144, 144, out.data(), size, size);
        EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0)) << size;
    }
}

TEST(ResampleRgba, BoxRangesWhenShrinking144To64)
{
    std::vector<Rgba> row;
    for (int x = 0; x < 144; x++) row.push_back({(uint8_t)x, 0, 0, 255});
    std::vector<uint8_t> source = Pixels(row);
    std::vector<uint8_t> out(64 * 4);
    ResampleRgba(source.data(), 144, 1, out.data(), 64, 1);
    EXPECT_EQ(At(out, 64, 0, 0).r, 1);  // columns 0 and 1: 0.5 rounds up
    EXPECT_EQ(At(out, 64, 2, 0).r, 5);  // columns 4 and 5
    EXPECT_EQ(At(out, 64, 3, 0).r, 7);  // columns 6, 7 and 8
    EXPECT_EQ(At(out, 64, 63, 0).r, 142);
}

TEST(ResampleRgba, BilinearEdgesClampWhenEnlarging144To256)
{
    std::vector<Rgba> row;
    for (int x = 0; x < 144; x++) row.push_back({(uint8_t)(x == 0 ? 100 : (x == 143 ? 40 : 200)), 0, 0, 255});
    std::vector<uint8_t> source = Pixels(row);
    std::vector<uint8_t> out(256 * 4);
    ResampleRgba(source.data(), 144, 1, out.data(), 256, 1);
    // Column 0 samples source columns -1 and 0, both clamped to 0 (fx 0.78125).
    EXPECT_EQ(At(out, 256, 0, 0).r, 100);
    // Column 1: sx = 1.5 * 144 / 256 - 0.5 = 0.34375, so 0.65625 of column 0 and the rest of 1.
    EXPECT_EQ(At(out, 256, 1, 0).r, (int)(100 * 0.65625 + 200 * 0.34375 + 0.5));
    // The last column samples 143 and 144, clamped to 143.
    EXPECT_EQ(At(out, 256, 255, 0).r, 40);
}

TEST(ResampleRgba, BilinearWeighsColourByAlpha)
{
    std::vector<uint8_t> source = Pixels({{255, 0, 0, 255}, {0, 255, 0, 51}});
    std::vector<uint8_t> out(4 * 4);
    ResampleRgba(source.data(), 2, 1, out.data(), 4, 1);
    // Column 1: sx = 0.25, weights 0.75 and 0.25; alpha 0.75*255 + 0.25*51 = 204.
    Rgba p = At(out, 4, 1, 0);
    EXPECT_EQ(p.a, 204);
    EXPECT_EQ(p.r, (int)((0.75 * 255) / (204.0 / 255) + 0.5));
    EXPECT_EQ(p.g, (int)((0.25 * 255 * 0.2) / (204.0 / 255) + 0.5));
}

TEST(IconCanvas, SixteenPixelsHaveTransparentBandsAboveAndBelow)
{
    std::vector<uint8_t> rom(ICON_PICTURE_END, 0xFF);  // an opaque white picture
    std::vector<uint8_t> canvas(ICON_CANVAS_BYTES, 0);
    CopyPictureToCanvas(rom.data() + ICON_PICTURE_OFFSET, canvas.data());
    EXPECT_EQ(At(canvas, 144, 0, 40).a, 0);
    EXPECT_EQ(At(canvas, 144, 0, 41).a, 255);
    EXPECT_EQ(At(canvas, 144, 143, 102).a, 255);
    EXPECT_EQ(At(canvas, 144, 143, 103).a, 0);

    std::vector<uint8_t> out(16 * 16 * 4);
    ResampleRgba(canvas.data(), 144, 144, out.data(), 16, 16);
    for (int y = 0; y < 16; y++) {
        bool transparent = y <= 3 || y >= 12;
        for (int x = 0; x < 16; x++)
            EXPECT_EQ(At(out, 16, x, y).a == 0, transparent) << x << "," << y;
    }
}

TEST(IconImage, HeaderPixelsBottomUpInBgraAndAZeroMask)
{
    int size = 24;
    std::vector<uint8_t> rgba((size_t)size * size * 4);
    for (int y = 0; y < size; y++)
        for (int x = 0; x < size; x++) {
            uint8_t* p = &rgba[((size_t)y * size + x) * 4];
            p[0] = (uint8_t)x;
            p[1] = (uint8_t)y;
            p[2] = 7;
            p[3] = 9;
        }
    uint32_t bytes = IconImageBytes(size);
    EXPECT_EQ(bytes, 2440u);
    std::vector<uint8_t> image(bytes, 0);
    FillIconImage(image.data(), size, rgba.data());
    auto u32 = [&](size_t at) { return image[at] | (image[at + 1] << 8) | (image[at + 2] << 16) | ((uint32_t)image[at + 3] << 24); };
    EXPECT_EQ(u32(0), 40u);
    EXPECT_EQ(u32(4), 24u);
    EXPECT_EQ(u32(8), 48u);
    EXPECT_EQ(image[12], 1);
    EXPECT_EQ(image[14], 32);
    EXPECT_EQ(u32(16), 0u);
    EXPECT_EQ(u32(20), 2400u);
    // Top row of the picture (y = 0) is the last bitmap row; bytes are B, G, R, A.
    const uint8_t* last_row = &image[40 + (size_t)(size - 1) * size * 4];
    EXPECT_EQ(last_row[4 * 5 + 0], 7);
    EXPECT_EQ(last_row[4 * 5 + 1], 0);
    EXPECT_EQ(last_row[4 * 5 + 2], 5);
    EXPECT_EQ(last_row[4 * 5 + 3], 9);
    EXPECT_EQ(image[40 + 1], 23);  // first bitmap row is the picture's bottom row (y = 23)
    for (size_t i = 40 + (size_t)size * size * 4; i < bytes; i++) ASSERT_EQ(image[i], 0) << i;
}

TEST(IconFile, DirectoryAndGroupRecord)
{
    const uint32_t expected_bytes[6] = {270376, 16936, 9640, 4264, 2440, 1128};
    const uint32_t expected_offsets[6] = {102, 270478, 287414, 297054, 301318, 303758};
    uint32_t bytes[6];
    for (int k = 0; k < 6; k++) {
        bytes[k] = IconImageBytes(ICON_SIZES[k]);
        EXPECT_EQ(bytes[k], expected_bytes[k]);
    }
    uint8_t header[ICON_FILE_HEADER_BYTES];
    FillIconFileHeader(header, bytes);
    EXPECT_EQ(header[2], 1);
    EXPECT_EQ(header[4], 6);
    for (int k = 0; k < 6; k++) {
        const uint8_t* e = header + 6 + 16 * k;
        EXPECT_EQ(e[0], k == 0 ? 0 : ICON_SIZES[k]);
        EXPECT_EQ(e[1], e[0]);
        EXPECT_EQ(e[4], 1);
        EXPECT_EQ(e[6], 32);
        EXPECT_EQ(e[12] | (e[13] << 8) | (e[14] << 16), (int)expected_offsets[k]);
    }
    EXPECT_EQ(expected_offsets[5] + expected_bytes[5], 304886u);

    uint8_t group[ICON_GROUP_BYTES];
    FillIconGroupRecord(group, bytes);
    EXPECT_EQ(sizeof group, 90u);
    for (int k = 0; k < 6; k++) {
        const uint8_t* e = group + 6 + 14 * k;
        EXPECT_EQ(e[0], k == 0 ? 0 : ICON_SIZES[k]);
        EXPECT_EQ(e[8] | (e[9] << 8) | (e[10] << 16), (int)expected_bytes[k]);
        EXPECT_EQ(e[12], k + 1);
        EXPECT_EQ(e[13], 0);
    }
}
