#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "package/package_format.h"
#include "packer/package_writer.h"
#include "tests/support/test_support.h"

namespace {

class PackerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        game = MakeScratchFolder(L"game");
        out_folder = MakeScratchFolder(L"pack");
        output = out_folder + L"\\package.bin";
    }
    void TearDown() override
    {
        RemoveScratchFolder(game);
        RemoveScratchFolder(out_folder);
    }

    void Make(const std::wstring& relative, const std::vector<uint8_t>& data)
    {
        std::wstring path = game + L"\\" + relative;
        std::wstring parent = path.substr(0, path.rfind(L'\\'));
        SHCreateDirectoryExW(nullptr, parent.c_str(), nullptr);
        ASSERT_TRUE(WriteBytes(path, data.data(), data.size())) << Utf8(path);
    }

    // Packs and expects a failure whose message mentions `mention`; no package is left.
    void ExpectRefused(const wchar_t* mention)
    {
        wchar_t error[PACKER_ERROR_UNITS];
        uint32_t entries = 1;
        uint64_t bytes = 1;
        EXPECT_EQ(WriteGamePackage(game.c_str(), output.c_str(), error, &entries, &bytes), 0)
            << "expected a refusal mentioning " << Utf8(mention);
        EXPECT_NE(std::wstring(error).find(mention), std::wstring::npos) << Utf8(error);
        EXPECT_EQ(wcschr(error, L'\n'), nullptr);
        EXPECT_FALSE(FileExists(output));
        EXPECT_FALSE(FileExists(output + L".partial"));
    }

    std::wstring game, out_folder, output;
};

std::vector<uint8_t> Random(size_t count, uint32_t seed)
{
    std::vector<uint8_t> bytes(count);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t& b : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = (uint8_t)state;
    }
    return bytes;
}

struct Collected {
    std::vector<std::wstring> names;
    std::map<std::wstring, std::vector<uint8_t>> data;
};

int Collect(const wchar_t* name, const uint8_t* data, uint64_t size, void* context)
{
    Collected* c = (Collected*)context;
    c->names.push_back(name);
    c->data[name] = std::vector<uint8_t>(data, data + size);
    return 1;
}

}  // namespace

TEST_F(PackerTest, RoundTripThroughTheWalkerAtSeveralSizes)
{
    std::map<std::wstring, std::vector<uint8_t>> files = {
        {L"TorrentinePC.exe", Random(1 << 20, 1)},
        {L"zero.dll", {}},
        {L"one.dll", Random(1, 2)},
        {L"assets\\page.bin", Random(4095, 3)},
        {L"assets\\b\\sixty-four-k.bin", Random(65536, 4)},
        {L"assets\\b\\c\\big.bin", Random((5 << 20) + 3, 5)},  // more than one copy chunk
        {L"assets\\\u00dcbung \u6e38\u620f.txt", Random(17, 6)},
    };
    for (const auto& f : files) Make(f.first, f.second);

    wchar_t error[PACKER_ERROR_UNITS];
    uint32_t entries = 0;
    uint64_t bytes = 0;
    ASSERT_EQ(WriteGamePackage(game.c_str(), output.c_str(), error, &entries, &bytes), 1) << Utf8(error);
    EXPECT_EQ(entries, files.size());
    std::vector<uint8_t> package = ReadBytes(output);
    ASSERT_EQ(package.size(), bytes);
    EXPECT_EQ(std::string(package.begin(), package.begin() + 4), "TNPK");
    EXPECT_EQ(package[4], 1);

    Collected collected;
    ASSERT_EQ(WalkPackageBytes(package.data(), (uint32_t)package.size(), Collect, &collected), 1);
    EXPECT_EQ(collected.names.size(), files.size());
    EXPECT_EQ(collected.names[0], L"TorrentinePC.exe");
    for (const auto& f : files) EXPECT_TRUE(collected.data[f.first] == f.second) << Utf8(f.first);
}

TEST_F(PackerTest, OrderIsTheGameFirstThenFilesByNameThenFolders)
{
    for (const wchar_t* name : {L"zeta.dll", L"assets\\b.txt", L"Alpha.dll", L"TorrentinePC.exe",
                                L"assets\\a\\deep.txt", L"assets\\A.txt", L"beta.dll"})
        Make(name, {1});
    wchar_t error[PACKER_ERROR_UNITS];
    uint32_t entries = 0;
    uint64_t bytes = 0;
    ASSERT_EQ(WriteGamePackage(game.c_str(), output.c_str(), error, &entries, &bytes), 1);
    std::vector<uint8_t> first = ReadBytes(output);
    std::vector<uint8_t> package = first;
    Collected collected;
    ASSERT_EQ(WalkPackageBytes(package.data(), (uint32_t)package.size(), Collect, &collected), 1);
    std::vector<std::wstring> expected = {L"TorrentinePC.exe", L"Alpha.dll", L"beta.dll",
                                          L"zeta.dll", L"assets\\A.txt", L"assets\\b.txt",
                                          L"assets\\a\\deep.txt"};
    EXPECT_EQ(collected.names, expected);

    // Deterministic: packing again gives the same bytes.
    ASSERT_EQ(WriteGamePackage(game.c_str(), output.c_str(), error, &entries, &bytes), 1);
    EXPECT_TRUE(ReadBytes(output) == first);
}

TEST_F(PackerTest, RefusesAMissingOrEmptyFolderOrOneWithoutTheGame)
{
    RemoveScratchFolder(game);
    ExpectRefused(L"does not exist");
    CreateDirectoryW(game.c_str(), nullptr);
    ExpectRefused(L"is empty");
    Make(L"SDL2.dll", {1});
    ExpectRefused(L"has no TorrentinePC.exe");
    CreateDirectoryW((game + L"\\TorrentinePC.exe").c_str(), nullptr);
    ExpectRefused(L"has no TorrentinePC.exe");
}

TEST_F(PackerTest, RefusesNamesTheWalkerWouldRefuse)
{
    Make(L"TorrentinePC.exe", {1});
    Make(L"assets\\a..b.txt", {1});
    ExpectRefused(L"\"..\"");
    DeleteFileW((game + L"\\assets\\a..b.txt").c_str());

    // "assets\\" (7) + 200 + "\\" (1) + 52 = 260 units once relative to the game folder.
    std::wstring long_name = L"assets\\" + std::wstring(200, L'x') + L"\\" + std::wstring(52, L'y');
    Make(long_name, {1});
    ExpectRefused(L"longer than 259");
}

TEST_F(PackerTest, AcceptsANameOfExactly259Units)
{
    Make(L"TorrentinePC.exe", {1});
    Make(L"assets\\" + std::wstring(200, L'x') + L"\\" + std::wstring(51, L'y'), {2});
    wchar_t error[PACKER_ERROR_UNITS];
    uint32_t entries = 0;
    uint64_t bytes = 0;
    EXPECT_EQ(WriteGamePackage(game.c_str(), output.c_str(), error, &entries, &bytes), 1) << Utf8(error);
    EXPECT_EQ(entries, 2u);
}

// Sparse files: sizes past 4 GiB cost no disk.
static bool MakeSparse(const std::wstring& path, uint64_t size)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)size;
    BOOL ok = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return ok;
}

TEST_F(PackerTest, RefusesSizesAResourceCannotHold)
{
    Make(L"TorrentinePC.exe", {1});
    ASSERT_TRUE(MakeSparse(game + L"\\huge.bin", 0x100000000ull));
    ExpectRefused(L"larger than a resource can hold");
    DeleteFileW((game + L"\\huge.bin").c_str());

    ASSERT_TRUE(MakeSparse(game + L"\\half1.bin", 0x80000000ull));
    ASSERT_TRUE(MakeSparse(game + L"\\half2.bin", 0x80000000ull));
    ExpectRefused(L"add up to more than a resource can hold");
}

TEST_F(PackerTest, AFailureLeavesAnEarlierPackageAsItWas)
{
    ASSERT_TRUE(WriteText(output, "an earlier, complete package"));
    Make(L"SDL2.dll", {1});
    wchar_t error[PACKER_ERROR_UNITS];
    uint32_t entries = 0;
    uint64_t bytes = 0;
    EXPECT_EQ(WriteGamePackage(game.c_str(), output.c_str(), error, &entries, &bytes), 0);
    std::vector<uint8_t> kept = ReadBytes(output);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "an earlier, complete package");
}
