#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "rom/rom_image.h"
#include "tests/support/test_support.h"

namespace {

class RomImageTest : public ::testing::Test {
protected:
    void SetUp() override { folder = MakeScratchFolder(L"rom"); }
    void TearDown() override { RemoveScratchFolder(folder); }

    int Load(const std::wstring& path, std::vector<uint8_t>* image = nullptr)
    {
        uint8_t* bytes = (uint8_t*)1;
        uint32_t length = 77;
        int code = LoadRomImage(path.c_str(), &bytes, &length);
        if (code == ROMCHECK_ACCEPTED) {
            EXPECT_NE(bytes, nullptr);
            if (image) image->assign(bytes, bytes + length);
            FreeRomImage(bytes);
        } else {
            EXPECT_EQ(bytes, nullptr);
            EXPECT_EQ(length, 0u);
        }
        return code;
    }

    std::wstring Put(const wchar_t* name, const std::vector<uint8_t>& bytes)
    {
        std::wstring path = folder + L"\\" + name;
        EXPECT_TRUE(WriteBytes(path, bytes.data(), bytes.size()));
        return path;
    }

    std::wstring folder;
};

std::vector<uint8_t> Starting(std::vector<uint8_t> head, size_t size)
{
    std::vector<uint8_t> bytes(size, 0x5A);
    for (size_t i = 0; i < head.size() && i < size; i++) bytes[i] = head[i];
    return bytes;
}

const std::vector<uint8_t> N64_HEADER = {0x80, 0x37, 0x12, 0x40};

}  // namespace

TEST_F(RomImageTest, AllThreeByteOrdersGiveTheSameBigEndianImage)
{
    std::vector<uint8_t> z64, v64, n64;
    ASSERT_EQ(Load(FixturePath(L"fixture.z64"), &z64), ROMCHECK_ACCEPTED);
    ASSERT_EQ(Load(FixturePath(L"fixture.v64"), &v64), ROMCHECK_ACCEPTED);
    ASSERT_EQ(Load(FixturePath(L"fixture.n64"), &n64), ROMCHECK_ACCEPTED);
    EXPECT_EQ(z64.size(), 16u << 20);
    EXPECT_TRUE(z64 == v64);
    EXPECT_TRUE(z64 == n64);
    EXPECT_EQ(std::vector<uint8_t>(z64.begin(), z64.begin() + 4), N64_HEADER);
    EXPECT_TRUE(z64 == ReadBytes(FixturePath(L"fixture.z64")));
}

TEST_F(RomImageTest, SizeWindow)
{
    struct Case {
        size_t size;
        std::vector<uint8_t> head;
        int code;
    };
    const Case cases[] = {
        {0, {}, ROMCHECK_NOT_N64_ROM},
        {4095, N64_HEADER, ROMCHECK_NOT_N64_ROM},
        {4096, N64_HEADER, ROMCHECK_DIFFERENT_ROM},          // read and hashed
        {4096, {0x80, 0x37, 0x12, 0x41}, ROMCHECK_NOT_N64_ROM},
        {67108864, N64_HEADER, ROMCHECK_DIFFERENT_ROM},      // the largest, read whole
        {67108865, N64_HEADER, ROMCHECK_NOT_N64_ROM},
        {4097, N64_HEADER, ROMCHECK_DIFFERENT_ROM},
    };
    for (const Case& c : cases) {
        std::wstring path = Put(L"sized.bin", Starting(c.head, c.size));
        EXPECT_EQ(Load(path), c.code) << "size " << c.size;
    }
}

TEST_F(RomImageTest, SignaturesDecideTheCode)
{
    struct Case {
        std::vector<uint8_t> head;
        size_t size;
        int code;
    };
    const Case cases[] = {
        {{'P', 'K', 3, 4}, 8192, ROMCHECK_ZIP_ARCHIVE},
        {{'P', 'K', 3, 4}, 100, ROMCHECK_NOT_N64_ROM},        // size test comes first
        {{'P', 'K', 3, 4}, 67108865, ROMCHECK_NOT_N64_ROM},
        {{'P', 'k', 3, 4}, 8192, ROMCHECK_NOT_N64_ROM},
        {{0x37, 0x80, 0x40, 0x12}, 8192, ROMCHECK_DIFFERENT_ROM},  // .v64 of a foreign ROM
        {{0x37, 0x80, 0x40, 0x13}, 8192, ROMCHECK_NOT_N64_ROM},
        {{0x37, 0x81, 0x40, 0x12}, 8192, ROMCHECK_NOT_N64_ROM},
        {{0x40, 0x12, 0x37, 0x80}, 8192, ROMCHECK_DIFFERENT_ROM},  // .n64 of a foreign ROM
        {{0x40, 0x12, 0x37, 0x81}, 8192, ROMCHECK_NOT_N64_ROM},
        {{0x40, 0x13, 0x37, 0x80}, 8192, ROMCHECK_NOT_N64_ROM},
        {{0x12, 0x40, 0x80, 0x37}, 8192, ROMCHECK_NOT_N64_ROM},    // a word-swapped order is not taken
    };
    for (const Case& c : cases) {
        std::wstring path = Put(L"signed.bin", Starting(c.head, c.size));
        EXPECT_EQ(Load(path), c.code) << (int)c.head[0] << "," << (int)c.head[1] << " size " << c.size;
    }
}

TEST_F(RomImageTest, TailIsZeroFilledToAWholeGroupOfFour)
{
    // The fixture ends in four zero bytes, so any of its last three bytes may be left off.
    std::vector<uint8_t> whole = ReadBytes(FixturePath(L"fixture.z64"));
    ASSERT_EQ(whole.size(), 16u << 20);
    for (size_t cut = 1; cut <= 3; cut++) {
        std::vector<uint8_t> shorter(whole.begin(), whole.end() - cut);
        std::vector<uint8_t> image;
        EXPECT_EQ(Load(Put(L"short.z64", shorter), &image), ROMCHECK_ACCEPTED) << cut;
        EXPECT_EQ(image.size(), whole.size());
        EXPECT_TRUE(image == whole);
    }
    std::vector<uint8_t> four_short(whole.begin(), whole.end() - 4);
    EXPECT_EQ(Load(Put(L"short4.z64", four_short)), ROMCHECK_DIFFERENT_ROM);
    std::vector<uint8_t> longer = whole;
    longer.push_back(0);
    EXPECT_EQ(Load(Put(L"long.z64", longer)), ROMCHECK_DIFFERENT_ROM);
}

TEST_F(RomImageTest, OddLengthV64SwapsTheZeroTailToo)
{
    std::vector<uint8_t> bytes = Starting({0x37, 0x80, 0x40, 0x12}, 4099);
    bytes[4098] = 0xAB;
    std::vector<uint8_t> copy = bytes;
    copy.resize(4100, 0);
    EXPECT_EQ(NormaliseRomByteOrder(copy.data(), 4100), ROMCHECK_ACCEPTED);
    EXPECT_EQ(copy[4098], 0x00);
    EXPECT_EQ(copy[4099], 0xAB);
    EXPECT_EQ(Load(Put(L"odd.v64", bytes)), ROMCHECK_DIFFERENT_ROM);
}

// Each order put back by its definition, for every length of whole groups of four up to a
// few words past the eight-byte steps, and one of a ROM's sizes: .v64 swaps each pair of
// bytes, .n64 reverses each group of four, up to the very last one.
TEST(NormaliseRomBytes, EveryGroupUpToTheLastIsPutInOrder)
{
    std::vector<uint32_t> lengths;
    for (uint32_t length = 4; length <= 40; length += 4) lengths.push_back(length);
    lengths.push_back(4100);  // 8k + 4
    for (uint32_t length : lengths) {
        std::vector<uint8_t> image(length);
        for (uint32_t i = 0; i < length; i++) image[i] = (uint8_t)(i * 7 + 1);
        std::vector<uint8_t> v64(length), n64(length);
        for (uint32_t i = 0; i < length; i++) {
            v64[i] = image[i ^ 1];
            n64[i] = image[i ^ 3];
        }
        NormaliseRomBytes(v64.data(), length, ROM_ORDER_PAIRS_SWAPPED);
        NormaliseRomBytes(n64.data(), length, ROM_ORDER_REVERSED);
        EXPECT_TRUE(v64 == image) << "v64, length " << length;
        EXPECT_TRUE(n64 == image) << "n64, length " << length;
    }
}

TEST_F(RomImageTest, CannotOpen)
{
    EXPECT_EQ(Load(folder + L"\\missing.z64"), ROMCHECK_CANNOT_OPEN);
    EXPECT_EQ(Load(folder), ROMCHECK_CANNOT_OPEN);
    EXPECT_EQ(Load(L""), ROMCHECK_CANNOT_OPEN);

    std::wstring copy = Put(L"held.z64", ReadBytes(FixturePath(L"fixture.z64")));
    HANDLE writer = CreateFileW(copy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Load(copy), ROMCHECK_CANNOT_OPEN);
    CloseHandle(writer);
    EXPECT_EQ(Load(copy), ROMCHECK_ACCEPTED);

    // A reader that lets others read does not stop the loader.
    HANDLE reader = CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(Load(copy), ROMCHECK_ACCEPTED);
    CloseHandle(reader);
}

TEST_F(RomImageTest, HasInstalledRomCopy)
{
    EXPECT_FALSE(HasInstalledRomCopy(folder.c_str()));
    std::wstring copy = folder + L"\\" + ROM_COPY_NAME;

    ASSERT_TRUE(CreateDirectoryW(copy.c_str(), nullptr));
    EXPECT_FALSE(HasInstalledRomCopy(folder.c_str()));
    RemoveDirectoryW(copy.c_str());

    std::vector<uint8_t> n64 = ReadBytes(FixturePath(L"fixture.n64"));
    ASSERT_TRUE(WriteBytes(copy, n64.data(), n64.size()));
    EXPECT_TRUE(HasInstalledRomCopy(folder.c_str()));

    n64[1000] ^= 0xFF;  // damaged copy
    ASSERT_TRUE(WriteBytes(copy, n64.data(), n64.size()));
    EXPECT_FALSE(HasInstalledRomCopy(folder.c_str()));
    EXPECT_FALSE(HasInstalledRomCopy((folder + L"\\missing").c_str()));
}

// Setup itself never holds the image whole: the check keeps only an excerpt (the icon's
// picture), and the copy is written from a second reading of the file.
TEST_F(RomImageTest, AnExcerptIsTheImagesBytesInEveryByteOrder)
{
    std::vector<uint8_t> image = ReadBytes(FixturePath(L"fixture.z64"));
    struct Excerpt {
        uint32_t offset, count;
    };
    const Excerpt excerpts[] = {
        {2573456, 35712},                          // the icon's picture
        {ROM_PIECE_BYTES - 10, 20},                // across the first pieces' boundary
        {0, 4},                                    // the header
        {(16u << 20) - 7, 7},                      // the very end
    };
    for (const wchar_t* name : {L"fixture.z64", L"fixture.v64", L"fixture.n64"}) {
        for (const Excerpt& e : excerpts) {
            SCOPED_TRACE(::testing::Message() << Utf8(name) << " at " << e.offset);
            std::vector<uint8_t> excerpt(e.count, 0xCC);
            uint32_t length = 0;
            ASSERT_EQ(CheckRomFile(FixturePath(name).c_str(), &length, e.offset, e.count, excerpt.data()),
                      ROMCHECK_ACCEPTED);
            EXPECT_EQ(length, 16u << 20);
            EXPECT_TRUE(std::equal(excerpt.begin(), excerpt.end(), image.begin() + e.offset));
        }
    }
    // An excerpt the image does not reach is no picture: that is no ROM of the game.
    std::vector<uint8_t> beyond(16);
    uint32_t length = 0;
    EXPECT_EQ(CheckRomFile(FixturePath(L"fixture.z64").c_str(), &length, (16u << 20) - 8, 16, beyond.data()),
              ROMCHECK_NOT_N64_ROM);
    EXPECT_EQ(length, 0u);
}

static int StopAtSecondPiece(void* context, uint32_t offset, const uint8_t*, uint32_t)
{
    ++*(int*)context;
    return offset == 0;
}

TEST_F(RomImageTest, AVisitorThatStopsTheReadingFailsIt)
{
    int pieces = 0;
    uint32_t length = 77;
    EXPECT_EQ(ReadRomFile(FixturePath(L"fixture.v64").c_str(), &length, StopAtSecondPiece, &pieces),
              ROMCHECK_CANNOT_OPEN);
    EXPECT_EQ(pieces, 2);
    EXPECT_EQ(length, 0u);
}

TEST_F(RomImageTest, TheCopyIsTheBigEndianImageCheckedAgainWhileWritten)
{
    std::vector<uint8_t> image = ReadBytes(FixturePath(L"fixture.z64"));
    const uint32_t length = (uint32_t)image.size();
    std::wstring target = folder + L"\\" + ROM_COPY_NAME;
    EXPECT_EQ(CopyRomImage(FixturePath(L"fixture.n64").c_str(), length, target.c_str(), 1), ROMCHECK_ACCEPTED);
    EXPECT_TRUE(ReadBytes(target) == image);

    // The file given changed after its check (here: another file, and the same file damaged):
    // the copy there stays as it was, and nothing else is left beside it.
    std::vector<uint8_t> damaged = ReadBytes(FixturePath(L"fixture.v64"));
    damaged[5000000] ^= 0x01;
    std::wstring changed = Put(L"changed.v64", damaged);
    EXPECT_EQ(CopyRomImage(changed.c_str(), length, target.c_str(), 1), ROMCHECK_DIFFERENT_ROM);
    std::wstring foreign = Put(L"foreign.z64", Starting(N64_HEADER, 8192));
    EXPECT_EQ(CopyRomImage(foreign.c_str(), length, target.c_str(), 1), ROMCHECK_DIFFERENT_ROM);
    EXPECT_EQ(CopyRomImage((folder + L"\\gone.z64").c_str(), length, target.c_str(), 1), ROMCHECK_CANNOT_OPEN);
    EXPECT_TRUE(ReadBytes(target) == image);
    EXPECT_FALSE(FileExists(target + L".partial"));

    // A place that cannot be written is the copy's failure, not the ROM's.
    EXPECT_EQ(CopyRomImage(FixturePath(L"fixture.z64").c_str(), length, (folder + L"\\no\\such\\copy.z64").c_str(), 1),
              ROMCOPY_CANNOT_WRITE);
}

// A new install's copy never replaces a file that appeared at its name, and a copy that
// fails leaves nothing of its own behind.
TEST_F(RomImageTest, ANewCopyNeverReplacesAnExistingName)
{
    std::vector<uint8_t> image = ReadBytes(FixturePath(L"fixture.z64"));
    const uint32_t length = (uint32_t)image.size();
    std::wstring target = folder + L"\\" + ROM_COPY_NAME;
    ASSERT_TRUE(WriteText(target, "another program's file"));
    EXPECT_EQ(CopyRomImage(FixturePath(L"fixture.v64").c_str(), length, target.c_str(), 0), ROMCOPY_CANNOT_WRITE);
    EXPECT_TRUE(ReadBytes(target) == std::vector<uint8_t>(std::begin("another program's file"),
                                                           std::end("another program's file") - 1));

    std::wstring fresh = folder + L"\\fresh.z64";
    std::vector<uint8_t> damaged = ReadBytes(FixturePath(L"fixture.z64"));
    damaged[length - 1] ^= 0x01;
    std::wstring changed = Put(L"changed-late.z64", damaged);
    EXPECT_EQ(CopyRomImage(changed.c_str(), length, fresh.c_str(), 0), ROMCHECK_DIFFERENT_ROM);
    EXPECT_FALSE(FileExists(fresh));
    EXPECT_EQ(CopyRomImage(FixturePath(L"fixture.n64").c_str(), length, fresh.c_str(), 0), ROMCHECK_ACCEPTED);
    EXPECT_TRUE(ReadBytes(fresh) == image);
}

// The hash taken a piece at a time is the one-shot hash of the same bytes, however the
// pieces fall; setup's digest serves only inputs longer than 240 bytes.
TEST(RomHash, PiecesGiveTheOneShotHash)
{
    std::vector<uint8_t> bytes((1u << 20) + 68);
    for (size_t i = 0; i < bytes.size(); i++) bytes[i] = (uint8_t)(i * 131 + (i >> 9));
    const uint32_t lengths[] = {241, 1024, 4096, 65536 + 17 * 4, (uint32_t)bytes.size()};
    const uint32_t piece_sizes[] = {1, 64, 1000, ROM_PIECE_BYTES};
    for (uint32_t length : lengths) {
        for (uint32_t piece : piece_sizes) {
            RomHash* hash = StartRomHash();
            ASSERT_NE(hash, nullptr);
            for (uint32_t at = 0; at < length; at += piece)
                ASSERT_TRUE(AddToRomHash(hash, bytes.data() + at, std::min(piece, length - at)));
            EXPECT_EQ(FinishRomHash(hash), HashRomImage(bytes.data(), length)) << length << " in " << piece;
        }
    }
    RomHash* hash = StartRomHash();
    AddToRomHash(hash, bytes.data(), 240);
    EXPECT_EQ(FinishRomHash(hash), 0u);
}

TEST(RomCheckMessage, TextsOfEveryCode)
{
    EXPECT_STREQ(RomCheckMessage(0), L"\u2714  Torrentine (prototype, Jun 15 1999) found.");
    EXPECT_STREQ(RomCheckMessage(1), L"Can't open that file.");
    EXPECT_STREQ(RomCheckMessage(2), L"That file isn't a Nintendo 64 ROM.");
    EXPECT_STREQ(RomCheckMessage(3),
                 L"That's a different ROM. Setup needs the Torrentine prototype dated Jun 15, 1999 (16 MB).");
    EXPECT_STREQ(RomCheckMessage(4),
                 L"That's a .zip archive: unzip it first, then choose the .z64 / .v64 / .n64 file inside.");
}
