// make_setup_icon OUT_ICO
// Draws the setup program's icon (a blue rounded badge with a white arrow pointing down
// into a tray) at 16, 24, 32, 48, 64, 128 and 256 pixels and stores each image as a
// 32-bit PNG inside one icon file. Deterministic; zlib compresses the pixel rows.
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <vector>

#include <zlib.h>

static uint32_t g_crc_table[256];

static void InitCrc(void)
{
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        g_crc_table[n] = c;
    }
}

static uint32_t Crc(const uint8_t* data, size_t count, uint32_t crc = 0xFFFFFFFFu)
{
    for (size_t i = 0; i < count; i++) crc = g_crc_table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

static void PutBe32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 3; i >= 0; i--) out.push_back((uint8_t)(v >> (8 * i)));
}

static void Chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& body)
{
    PutBe32(png, (uint32_t)body.size());
    size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), body.begin(), body.end());
    PutBe32(png, Crc(png.data() + start, png.size() - start) ^ 0xFFFFFFFFu);
}

// A PNG of RGBA rows without filters, deflated at the best level: the icon is mostly flat.
static std::vector<uint8_t> EncodePng(const std::vector<uint8_t>& rgba, int size)
{
    std::vector<uint8_t> raw;
    for (int y = 0; y < size; y++) {
        raw.push_back(0);  // no filter
        raw.insert(raw.end(), rgba.begin() + (size_t)y * size * 4,
                   rgba.begin() + (size_t)(y + 1) * size * 4);
    }
    uLongf packed = compressBound((uLong)raw.size());
    std::vector<uint8_t> z(packed);
    if (compress2(z.data(), &packed, raw.data(), (uLong)raw.size(), Z_BEST_COMPRESSION) != Z_OK)
        return {};
    z.resize(packed);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBe32(header, (uint32_t)size);
    PutBe32(header, (uint32_t)size);
    header.insert(header.end(), {8, 6, 0, 0, 0});
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", {});
    return png;
}

static double RoundedBox(double px, double py, double cx, double cy, double hw, double hh, double r)
{
    double qx = fabs(px - cx) - (hw - r), qy = fabs(py - cy) - (hh - r);
    double ox = qx > 0 ? qx : 0, oy = qy > 0 ? qy : 0;
    double inside = qx > qy ? qx : qy;
    return sqrt(ox * ox + oy * oy) + (inside < 0 ? inside : 0) - r;
}

// Coverage-sampled drawing in unit coordinates (0..1 across the icon).
static void DrawIcon(std::vector<uint8_t>& rgba, int size)
{
    const int samples = 4;
    for (int y = 0; y < size; y++) {
        for (int x = 0; x < size; x++) {
            double badge = 0, white = 0, shade = 0;
            for (int sy = 0; sy < samples; sy++) {
                for (int sx = 0; sx < samples; sx++) {
                    double u = (x + (sx + 0.5) / samples) / size;
                    double v = (y + (sy + 0.5) / samples) / size;
                    if (RoundedBox(u, v, 0.5, 0.5, 0.46, 0.46, 0.14) <= 0) {
                        badge += 1;
                        shade += v;
                        int stem = fabs(u - 0.5) <= 0.085 && v >= 0.18 && v <= 0.52;
                        int head = v >= 0.46 && v <= 0.68 && fabs(u - 0.5) <= (0.68 - v) * 1.05;
                        int tray = v >= 0.74 && v <= 0.82 && u >= 0.22 && u <= 0.78;
                        if (stem || head || tray) white += 1;
                    }
                }
            }
            double n = samples * samples;
            double coverage = badge / n;
            double mean_v = badge > 0 ? shade / badge : 0;
            double w = badge > 0 ? white / badge : 0;
            double r = 24 + 20 * mean_v, g = 96 + 70 * mean_v, b = 200 + 35 * mean_v;
            uint8_t* p = rgba.data() + ((size_t)y * size + x) * 4;
            p[0] = (uint8_t)(r + (255 - r) * w + 0.5);
            p[1] = (uint8_t)(g + (255 - g) * w + 0.5);
            p[2] = (uint8_t)(b + (255 - b) * w + 0.5);
            p[3] = (uint8_t)(255 * coverage + 0.5);
        }
    }
}

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        fwprintf(stderr, L"usage: make_setup_icon OUT_ICO\n");
        return 2;
    }
    InitCrc();
    const int sizes[7] = {16, 24, 32, 48, 64, 128, 256};
    std::vector<std::vector<uint8_t>> pngs;
    for (int size : sizes) {
        std::vector<uint8_t> rgba((size_t)size * size * 4);
        DrawIcon(rgba, size);
        pngs.push_back(EncodePng(rgba, size));
        if (pngs.back().empty()) {
            fwprintf(stderr, L"make_setup_icon: error: cannot compress the %d-pixel image\n", size);
            return 1;
        }
    }
    std::vector<uint8_t> file = {0, 0, 1, 0, 7, 0};
    uint32_t offset = 6 + 16 * 7;
    for (int k = 0; k < 7; k++) {
        uint32_t bytes = (uint32_t)pngs[k].size();
        uint8_t entry[16] = {(uint8_t)(sizes[k] & 0xFF), (uint8_t)(sizes[k] & 0xFF), 0, 0, 1, 0, 32, 0};
        memcpy(entry + 8, &bytes, 4);
        memcpy(entry + 12, &offset, 4);
        file.insert(file.end(), entry, entry + 16);
        offset += bytes;
    }
    for (const std::vector<uint8_t>& png : pngs) file.insert(file.end(), png.begin(), png.end());

    HANDLE out = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    BOOL ok = out != INVALID_HANDLE_VALUE &&
              WriteFile(out, file.data(), (DWORD)file.size(), &written, nullptr) &&
              written == file.size();
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (!ok) {
        fwprintf(stderr, L"make_setup_icon: error: cannot write \"%ls\"\n", argv[1]);
        return 1;
    }
    return 0;
}
