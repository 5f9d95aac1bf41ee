#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "install/game_icon.h"
#include "rom/rom_image.h"
#include "tests/support/setup_runner.h"
#include "tests/support/test_support.h"

namespace {

typedef std::vector<std::pair<int, int>> IdLanguages;

struct Listing {
    IdLanguages icons, groups, rcdata;
    std::vector<std::wstring> named_icons;
};

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR name, WORD language, LONG_PTR param)
{
    ((IdLanguages*)param)->push_back({IS_INTRESOURCE(name) ? (int)(ULONG_PTR)name : -1, language});
    return TRUE;
}

BOOL CALLBACK AddName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param)
{
    EnumResourceLanguagesW(module, type, name, AddLanguage, param);
    return TRUE;
}

BOOL CALLBACK AddStringName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param)
{
    if (!IS_INTRESOURCE(name)) ((std::vector<std::wstring>*)param)->push_back(name);
    return TRUE;
}

Listing List(const std::wstring& exe)
{
    Listing listing;
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return listing;
    EnumResourceNamesW(module, RT_ICON, AddName, (LONG_PTR)&listing.icons);
    EnumResourceNamesW(module, RT_GROUP_ICON, AddName, (LONG_PTR)&listing.groups);
    EnumResourceNamesW(module, RT_RCDATA, AddName, (LONG_PTR)&listing.rcdata);
    EnumResourceNamesW(module, RT_ICON, AddStringName, (LONG_PTR)&listing.named_icons);
    FreeLibrary(module);
    for (IdLanguages* list : {&listing.icons, &listing.groups, &listing.rcdata})
        std::sort(list->begin(), list->end());
    return listing;
}

IdLanguages SixIn(int language)
{
    IdLanguages six;
    for (int id = 1; id <= 6; id++) six.push_back({id, language});
    return six;
}

class GameIconTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = MakeScratchFolder(L"icon");
        exe = folder + L"\\TorrentinePC.exe";
        ASSERT_TRUE(CopyFileW((StandinGameFolder() + L"\\TorrentinePC.exe").c_str(), exe.c_str(), FALSE));
        ASSERT_EQ(LoadRomImage(FixturePath(L"fixture.z64").c_str(), &image, &length), ROMCHECK_ACCEPTED);
    }
    void TearDown() override
    {
        FreeRomImage(image);
        RemoveScratchFolder(folder);
    }

    // Rewrites the game's resources: every icon and group given, plus RCDATA 200.
    void Prepare(const IdLanguages& icons, const IdLanguages& groups, bool string_named_icon)
    {
        std::vector<uint8_t> padding = {1, 2, 3};
        std::vector<uint8_t> tiny(40 + 16 * 16 * 4 + 64, 0);
        HANDLE update = BeginUpdateResourceW(exe.c_str(), TRUE);
        ASSERT_NE(update, nullptr);
        for (auto& icon : icons)
            UpdateResourceW(update, RT_ICON, MAKEINTRESOURCEW(icon.first), (WORD)icon.second,
                            tiny.data(), (DWORD)tiny.size());
        std::vector<uint8_t> group(6 + 14, 0);
        for (auto& g : groups)
            UpdateResourceW(update, RT_GROUP_ICON, MAKEINTRESOURCEW(g.first), (WORD)g.second,
                            group.data(), (DWORD)group.size());
        if (string_named_icon)
            UpdateResourceW(update, RT_ICON, L"ARTWORK", 1033, tiny.data(), (DWORD)tiny.size());
        UpdateResourceW(update, RT_RCDATA, MAKEINTRESOURCEW(200), 1033, padding.data(), 3);
        ASSERT_TRUE(EndUpdateResourceW(update, FALSE));
    }

    std::wstring folder, exe;
    uint8_t* image = nullptr;
    uint32_t length = 0;
};

}  // namespace

TEST_F(GameIconTest, ReplacesTheIconsAndKeepsEverythingElse)
{
    std::vector<uint8_t> padding_before;
    ASSERT_EQ(BuildGameIcon(folder.c_str(), image, length), 1);
    EXPECT_EQ(ReadBytes(folder + L"\\Torrentine PC.ico").size(), 304886u);
    Listing after = List(exe);
    EXPECT_EQ(after.icons, SixIn(1033));
    EXPECT_EQ(after.groups, IdLanguages({{1, 1033}}));
    EXPECT_EQ(after.rcdata, IdLanguages({{200, 1033}}));
}

TEST_F(GameIconTest, NewIconsTakeTheLanguageOfTheOldGroup)
{
    Prepare({{1, 1031}, {2, 1031}}, {{7, 1031}}, false);
    ASSERT_EQ(BuildGameIcon(folder.c_str(), image, length), 1);
    Listing after = List(exe);
    EXPECT_EQ(after.icons, SixIn(1031));
    EXPECT_EQ(after.groups, IdLanguages({{1, 1031}}));
    EXPECT_EQ(after.rcdata, IdLanguages({{200, 1033}}));
}

TEST_F(GameIconTest, OldIconsGoInEveryLanguageAndStringNamedOnesStay)
{
    Prepare({{1, 1033}, {2, 1033}, {9, 1033}, {1, 1031}, {9, 1031}, {12, 1036}},
            {{1, 1033}, {3, 1031}}, true);
    ASSERT_EQ(BuildGameIcon(folder.c_str(), image, length), 1);
    Listing after = List(exe);
    IdLanguages expected = SixIn(1033);
    expected.insert(expected.begin(), {-1, 1033});  // the string-named icon
    EXPECT_EQ(after.icons, expected);
    EXPECT_EQ(after.groups, IdLanguages({{1, 1033}}));
    EXPECT_EQ(after.named_icons, std::vector<std::wstring>({L"ARTWORK"}));
}

TEST_F(GameIconTest, NoGroupAtAllGivesEnglish)
{
    Prepare({}, {}, false);
    ASSERT_EQ(BuildGameIcon(folder.c_str(), image, length), 1);
    EXPECT_EQ(List(exe).groups, IdLanguages({{1, 1033}}));
}

TEST_F(GameIconTest, AnExecutableThatCannotBeRewrittenKeepsItsIcons)
{
    std::vector<uint8_t> before = ReadBytes(exe);
    HANDLE held = CreateFileW(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(BuildGameIcon(folder.c_str(), image, length), 0);
    CloseHandle(held);
    EXPECT_TRUE(ReadBytes(exe) == before);
    EXPECT_EQ(ReadBytes(folder + L"\\Torrentine PC.ico").size(), 304886u);

    DeleteFileW(exe.c_str());
    DeleteFileW((folder + L"\\Torrentine PC.ico").c_str());
    EXPECT_EQ(BuildGameIcon(folder.c_str(), image, length), 0);
    EXPECT_EQ(ReadBytes(folder + L"\\Torrentine PC.ico").size(), 304886u);
}

TEST_F(GameIconTest, NoPictureNoIconAndTheProgramUntouched)
{
    std::vector<uint8_t> before = ReadBytes(exe);
    EXPECT_EQ(BuildGameIcon(folder.c_str(), nullptr, 0), 0);
    EXPECT_EQ(BuildGameIcon(folder.c_str(), image, 2609167), 0);  // one byte short
    EXPECT_FALSE(FileExists(folder + L"\\Torrentine PC.ico"));
    EXPECT_TRUE(ReadBytes(exe) == before);
    EXPECT_EQ(BuildGameIcon(folder.c_str(), image, 2609168), 1);  // exactly long enough
}

// The icon's bytes are pinned for the generated fixture ROM: a compiler, a flag or a change
// of arithmetic that moves a single byte of the resampled images shows here.
TEST_F(GameIconTest, IconBytesAreTheSameOnEveryBuild)
{
    if (HashRomImage(image, length) != 0x629B8C893B602C86ull)
        GTEST_SKIP() << "built around another test ROM";
    ASSERT_EQ(BuildGameIcon(folder.c_str(), image, length), 1);
    std::vector<uint8_t> icon = ReadBytes(folder + L"\\Torrentine PC.ico");
    ASSERT_EQ(icon.size(), 304886u);
    EXPECT_EQ(HashRomImage(icon.data(), (uint32_t)icon.size()), 0x25F366334EB0AF89ull);
}
