#include <gtest/gtest.h>
#include <windows.h>
#include <imagehlp.h>

#include <string.h>

#include <vector>

#include "formats/image_checksum.h"
#include "formats/section_file_alignment.h"

// A small 64-bit image laid out as the linker lays out the setup program: headers, then
// sections at a file alignment of 512, each starting a page of memory.
struct SectionShape {
    const char* name;
    uint32_t address;
    uint32_t file_offset;
    uint32_t file_bytes;
};

static std::vector<uint8_t> MakeImage(const std::vector<SectionShape>& shapes, uint32_t file_bytes)
{
    std::vector<uint8_t> image(file_bytes, 0);
    IMAGE_DOS_HEADER* dos = (IMAGE_DOS_HEADER*)image.data();
    dos->e_magic = IMAGE_DOS_SIGNATURE;
    dos->e_lfanew = 0x80;
    IMAGE_NT_HEADERS64* nt = (IMAGE_NT_HEADERS64*)(image.data() + 0x80);
    nt->Signature = IMAGE_NT_SIGNATURE;
    nt->FileHeader.Machine = IMAGE_FILE_MACHINE_AMD64;
    nt->FileHeader.NumberOfSections = (WORD)shapes.size();
    nt->FileHeader.SizeOfOptionalHeader = sizeof(IMAGE_OPTIONAL_HEADER64);
    nt->OptionalHeader.Magic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    nt->OptionalHeader.FileAlignment = 512;
    nt->OptionalHeader.SectionAlignment = 4096;
    nt->OptionalHeader.SizeOfHeaders = 0x400;
    nt->OptionalHeader.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
    IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);
    for (size_t i = 0; i < shapes.size(); i++) {
        strncpy((char*)sections[i].Name, shapes[i].name, 8);
        sections[i].VirtualAddress = shapes[i].address;
        sections[i].Misc.VirtualSize = shapes[i].file_bytes;
        sections[i].PointerToRawData = shapes[i].file_offset;
        sections[i].SizeOfRawData = shapes[i].file_bytes;
        for (uint32_t b = 0; b < shapes[i].file_bytes && shapes[i].file_offset + b < file_bytes; b++)
            image[shapes[i].file_offset + b] = (uint8_t)(i * 37 + b);  // each section's own bytes
    }
    return image;
}

static IMAGE_NT_HEADERS64* Nt(std::vector<uint8_t>& image)
{
    return (IMAGE_NT_HEADERS64*)(image.data() + 0x80);
}

static std::vector<uint8_t> Apply(const std::vector<uint8_t>& image, uint32_t at, uint32_t padding)
{
    std::vector<uint8_t> out(image.begin(), image.begin() + at);
    out.resize(at + padding, 0);
    out.insert(out.end(), image.begin() + at, image.end());
    return out;
}

static const std::vector<SectionShape> kSetupShape = {
    {".text", 0x1000, 0x400, 0x600}, {".pdata", 0x2000, 0xA00, 0x200},
    {".rsrc", 0x3000, 0xC00, 0x1000}, {".reloc", 0x4000, 0x1C00, 0x200}};

TEST(SectionFileAlignment, TheResourceSectionMovesOntoAPageAndTheOthersFollow)
{
    std::vector<uint8_t> image = MakeImage(kSetupShape, 0x1E00);
    std::vector<uint8_t> original = image;
    uint32_t at = 0, padding = 0;
    ASSERT_EQ(PlanPageAlignedSection(image.data(), (uint32_t)image.size(), ".rsrc", &at, &padding),
              SECTION_ALIGN_DONE);
    EXPECT_EQ(at, 0xC00u);
    EXPECT_EQ(padding, 0x400u);
    std::vector<uint8_t> moved = Apply(image, at, padding);
    IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(Nt(moved));
    const uint32_t expected_offsets[] = {0x400, 0xA00, 0x1000, 0x2000};
    for (int i = 0; i < 4; i++) {
        SCOPED_TRACE(kSetupShape[i].name);
        EXPECT_EQ(sections[i].PointerToRawData, expected_offsets[i]);
        // Every section's bytes are where its header now says.
        EXPECT_EQ(0, memcmp(moved.data() + sections[i].PointerToRawData,
                            original.data() + kSetupShape[i].file_offset, kSetupShape[i].file_bytes));
    }
    EXPECT_EQ(Nt(moved)->OptionalHeader.CheckSum, 0u);  // a zero checksum stays zero

    // Done twice, nothing more moves.
    ASSERT_EQ(PlanPageAlignedSection(moved.data(), (uint32_t)moved.size(), ".rsrc", &at, &padding),
              SECTION_ALIGN_DONE);
    EXPECT_EQ(padding, 0u);
}

TEST(SectionFileAlignment, AChecksumIsMadeForTheNewFile)
{
    std::vector<uint8_t> image = MakeImage(kSetupShape, 0x1E00);
    Nt(image)->OptionalHeader.CheckSum = 0x1234;
    uint32_t at = 0, padding = 0;
    ASSERT_EQ(PlanPageAlignedSection(image.data(), (uint32_t)image.size(), ".rsrc", &at, &padding),
              SECTION_ALIGN_DONE);
    std::vector<uint8_t> moved = Apply(image, at, padding);
    uint32_t stored = Nt(moved)->OptionalHeader.CheckSum;
    Nt(moved)->OptionalHeader.CheckSum = 0;
    DWORD header_sum = 0, file_sum = 0;
    ASSERT_NE(CheckSumMappedFile(moved.data(), (DWORD)moved.size(), &header_sum, &file_sum), nullptr);
    EXPECT_EQ(stored, file_sum);
}

TEST(SectionFileAlignment, ImagesItCannotMoveSafelyAreLeftAlone)
{
    struct Case {
        const char* what;
        std::vector<SectionShape> shape;
        void (*change)(std::vector<uint8_t>&);
        int expected;
    };
    const Case cases[] = {
        {"not an image", kSetupShape, [](std::vector<uint8_t>& image) { image[0] = 'X'; }, SECTION_ALIGN_NOT_PE},
        {"cut short", kSetupShape, [](std::vector<uint8_t>& image) { image.resize(0x1A00); }, SECTION_ALIGN_NOT_PE},
        {"no resource section", {{".text", 0x1000, 0x400, 0x600}}, nullptr, SECTION_ALIGN_NO_SECTION},
        {"resources off a page of memory", {{".text", 0x1000, 0x400, 0x600}, {".rsrc", 0x2200, 0xA00, 0x200}},
         nullptr, SECTION_ALIGN_NOT_MAPPABLE},
        {"signed", kSetupShape,
         [](std::vector<uint8_t>& image) {
             Nt(image)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY] = {0x1E00, 0x100};
         },
         SECTION_ALIGN_REFERENCED},
        {"debug data", kSetupShape,
         [](std::vector<uint8_t>& image) {
             Nt(image)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DEBUG] = {0x1010, 0x1C};
         },
         SECTION_ALIGN_REFERENCED},
        {"symbols after it", kSetupShape,
         [](std::vector<uint8_t>& image) { Nt(image)->FileHeader.PointerToSymbolTable = 0x1C00; },
         SECTION_ALIGN_REFERENCED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> image = MakeImage(c.shape, 0x1E00);
        if (c.change) c.change(image);
        std::vector<uint8_t> before = image;
        uint32_t at = 1, padding = 1;
        EXPECT_EQ(PlanPageAlignedSection(image.data(), (uint32_t)image.size(), ".rsrc", &at, &padding), c.expected);
        EXPECT_EQ(padding, 0u);
        EXPECT_TRUE(image == before);
    }
}
