#include <gtest/gtest.h>

#include <string>
#include <cstdint>
#include <vector>

#include "base/entry_itself.h"
#include "base/file_compare.h"
#include "base/file_deletion.h"
#include "base/file_helpers.h"
#include "base/file_replacement.h"
#include "tests/support/setup_runner.h"
#include "tests/support/test_support.h"

namespace {

class FileHelpersTest : public ::testing::Test {
protected:
    void SetUp() override { folder = MakeScratchFolder(L"files"); }
    void TearDown() override { RemoveScratchFolder(folder); }

    std::wstring P(const std::wstring& relative) { return folder + L"\\" + relative; }
    void Make(const std::wstring& relative, size_t bytes)
    {
        std::wstring path = P(relative);
        std::wstring parent = path.substr(0, path.rfind(L'\\'));
        SHCreateDirectoryExW(nullptr, parent.c_str(), nullptr);
        std::vector<uint8_t> data(bytes, 'x');
        ASSERT_TRUE(WriteBytes(path, data.data(), data.size())) << Utf8(path);
    }

    std::wstring folder;
};

}  // namespace

TEST_F(FileHelpersTest, WriteWholeFileCreatesReplacesAndEmpties)
{
    EXPECT_EQ(WriteWholeFile(P(L"a.bin").c_str(), "hello", 5), 1);
    EXPECT_EQ(ReadBytes(P(L"a.bin")), std::vector<uint8_t>({'h', 'e', 'l', 'l', 'o'}));
    EXPECT_EQ(WriteWholeFile(P(L"a.bin").c_str(), "hi", 2), 1);
    EXPECT_EQ(ReadBytes(P(L"a.bin")).size(), 2u);
    EXPECT_EQ(WriteWholeFile(P(L"a.bin").c_str(), "", 0), 1);
    EXPECT_TRUE(FileExists(P(L"a.bin")));
    EXPECT_EQ(ReadBytes(P(L"a.bin")).size(), 0u);
}

TEST_F(FileHelpersTest, WriteWholeFileFailsWithoutTouchingAnything)
{
    // (A read-only file cannot stand in here: Wine running as root writes it anyway.)
    CreateDirectoryW(P(L"a folder").c_str(), nullptr);
    EXPECT_EQ(WriteWholeFile(P(L"a folder").c_str(), "new data", 8), 0);
    EXPECT_TRUE(FolderExists(P(L"a folder")));

    EXPECT_EQ(WriteWholeFile(P(L"missing\\a.bin").c_str(), "x", 1), 0);
    EXPECT_FALSE(FolderExists(P(L"missing")));

    Make(L"held.bin", 4);
    HANDLE held = CreateFileW(P(L"held.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(WriteWholeFile(P(L"held.bin").c_str(), "x", 1), 0);
    CloseHandle(held);
    EXPECT_EQ(ReadBytes(P(L"held.bin")).size(), 4u);
}

TEST_F(FileHelpersTest, DeleteInFolderDeletesOneFile)
{
    Make(L"Uninstall.exe", 1);
    EXPECT_NE(DeleteInFolder(folder.c_str(), L"Uninstall.exe"), 0);
    EXPECT_FALSE(FileExists(P(L"Uninstall.exe")));
    EXPECT_EQ(DeleteInFolder(folder.c_str(), L"Uninstall.exe"), 0);
}

TEST_F(FileHelpersTest, DeleteMatchingOnlyFilesDirectlyInTheFolder)
{
    Make(L"a.log", 1);
    Make(L"b.LOG", 1);
    Make(L"keep.txt", 1);
    Make(L"a.log.txt", 1);
    Make(L"sub\\c.log", 1);
    CreateDirectoryW(P(L"x.log").c_str(), nullptr);
    Make(L"settings.json", 1);
    Make(L"settings.json.bak", 1);
    Make(L"readonly.log", 1);
    Make(L"chat.logs", 1);  // its short name ends in .LOG
    Make(L"notes.json5", 1);
    SetFileAttributesW(P(L"readonly.log").c_str(), FILE_ATTRIBUTE_READONLY);

    DeleteMatching(folder.c_str(), L"*.log");
    EXPECT_FALSE(FileExists(P(L"a.log")));
    EXPECT_FALSE(FileExists(P(L"b.LOG")));
    EXPECT_TRUE(FileExists(P(L"keep.txt")));
    EXPECT_TRUE(FileExists(P(L"a.log.txt")));
    EXPECT_TRUE(FileExists(P(L"sub\\c.log")));
    EXPECT_TRUE(FolderExists(P(L"x.log")));
    EXPECT_TRUE(FileExists(P(L"chat.logs")));
    EXPECT_TRUE(FileExists(P(L"readonly.log")));  // attributes are not changed first
    SetFileAttributesW(P(L"readonly.log").c_str(), FILE_ATTRIBUTE_NORMAL);

    DeleteMatching(folder.c_str(), L"*.json");
    EXPECT_FALSE(FileExists(P(L"settings.json")));
    EXPECT_TRUE(FileExists(P(L"settings.json.bak")));
    EXPECT_TRUE(FileExists(P(L"notes.json5")));
    DeleteMatching(folder.c_str(), L"*.json.bak");
    EXPECT_FALSE(FileExists(P(L"settings.json.bak")));
    DeleteMatching(P(L"missing").c_str(), L"*.log");
}

TEST_F(FileHelpersTest, DeleteTreeRemovesEverythingIncludingReadOnlyAndHiddenFiles)
{
    Make(L"assets\\a.bin", 10);
    Make(L"assets\\fonts\\b.ttf", 10);
    Make(L"assets\\x\\y\\z\\deep.bin", 10);
    CreateDirectoryW(P(L"assets\\empty").c_str(), nullptr);
    SetFileAttributesW(P(L"assets\\a.bin").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(P(L"assets\\fonts\\b.ttf").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    Make(L"sibling.txt", 1);

    EXPECT_NE(DeleteTree(P(L"assets").c_str()), 0);
    EXPECT_FALSE(FolderExists(P(L"assets")));
    EXPECT_TRUE(FileExists(P(L"sibling.txt")));
    EXPECT_EQ(DeleteTree(P(L"assets").c_str()), 0);  // missing: nothing happens
}

// Links where a player or a mod manager puts them, each pointing at an outside folder full
// of files (or at an empty one, which a deletion through the link would remove); nothing
// outside may change. Wine cannot remove a Unix symbolic link, so there the link stays.
TEST_F(FileHelpersTest, DeletionsNeverActThroughALink)
{
    struct Case {
        const char* what;
        const wchar_t* link;     // below the folder
        bool to_file;            // the link names outside\data.bin, else a folder
        bool empty_target;       // the folder link names outside\empty
        int how;                 // 0 DeleteTree(folder\assets), 1 DeleteInFolder, 2 DeleteMatching *.log
    };
    const Case cases[] = {
        {"assets itself links to a full folder", L"assets", false, false, 0},
        {"assets itself links to an empty folder", L"assets", false, true, 0},
        {"a folder link deep inside", L"assets\\x\\y\\saves", false, false, 0},
        {"an empty-folder link inside", L"assets\\cloud", false, true, 0},
        {"a file link inside", L"assets\\fonts\\font.bin", true, false, 0},
        {"a file link by its name", L"SDL2.dll", true, false, 1},
        {"a folder link by its name", L"portable.txt", false, true, 1},
        {"a file link matching *.log", L"linked.log", true, false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring outside = MakeScratchFolder(L"outside");
        ASSERT_TRUE(WriteText(outside + L"\\data.bin", "player data"));
        SHCreateDirectoryExW(nullptr, (outside + L"\\deeper\\more").c_str(), nullptr);
        ASSERT_TRUE(WriteText(outside + L"\\deeper\\more\\slot1.sav", "save"));
        ASSERT_TRUE(WriteText(outside + L"\\settings.json", "{}"));
        CreateDirectoryW((outside + L"\\empty").c_str(), nullptr);
        auto before = FilesAndBytesBelow(outside);

        Make(L"assets\\real.bin", 3);
        Make(L"assets\\x\\y\\z.bin", 3);
        std::wstring link = P(c.link);
        SHCreateDirectoryExW(nullptr, link.substr(0, link.rfind(L'\\')).c_str(), nullptr);
        if (c.how == 0 && std::wstring(c.link) == L"assets") RemoveScratchFolder(link);
        std::wstring target = c.to_file ? outside + L"\\data.bin"
                                        : c.empty_target ? outside + L"\\empty" : outside;
        ASSERT_TRUE(MakeFolderLink(link, target));  // /bin/ln -s makes file links just as well

        if (c.how == 0) DeleteTree(P(L"assets").c_str());
        if (c.how == 1) DeleteInFolder(folder.c_str(), c.link);
        if (c.how == 2) DeleteMatching(folder.c_str(), L"*.log");

        EXPECT_TRUE(FilesAndBytesBelow(outside) == before);
        EXPECT_TRUE(FolderExists(outside + L"\\empty"));
        if (c.how == 0 && std::wstring(c.link) != L"assets") {
            EXPECT_FALSE(FileExists(P(L"assets\\real.bin")));  // the rest still goes
            EXPECT_FALSE(FileExists(P(L"assets\\x\\y\\z.bin")));
        }
        RemoveScratchFolder(outside);
        RemoveScratchFolder(folder);
        folder = MakeScratchFolder(L"files");
    }
}

TEST_F(FileHelpersTest, TreeSizeSumsFilesOfAllLevels)
{
    Make(L"five.bin", 5);
    Make(L"sub\\seven.bin", 7);
    EXPECT_EQ(TreeSize(folder.c_str()), 12u);
    Make(L"sub\\deeper\\more\\big.bin", 100000);
    EXPECT_EQ(TreeSize(folder.c_str()), 100012u);
    EXPECT_EQ(TreeSize(P(L"missing").c_str()), 0u);
}

// A folder link counts as itself (nothing): not the outside folder, not a loop, and not
// the whole file system behind Z:\, which would take minutes to walk.
TEST_F(FileHelpersTest, TreeSizeNeverFollowsLinks)
{
    std::wstring outside = MakeScratchFolder(L"outside");
    ASSERT_TRUE(WriteBytes(outside + L"\\data.bin", "12345678", 8));
    Make(L"one.bin", 1);
    Make(L"sub\\two.bin", 2);
    ASSERT_TRUE(MakeFolderLink(P(L"to-outside"), outside));
    ASSERT_TRUE(MakeFolderLink(P(L"loop"), folder));
    ASSERT_TRUE(MakeFolderLink(P(L"sub\\everything"), L"Z:\\"));
    ASSERT_TRUE(MakeFolderLink(P(L"sub\\usr"), L"Z:\\usr"));
    ASSERT_TRUE(MakeFolderLink(outside + L"\\back", folder));
    EXPECT_EQ(TreeSize(folder.c_str()), 3u);
    RemoveScratchFolder(outside);
}

// Joins that do not fit in 520 units are cut; a cut path names some other file, which must
// be neither deleted nor measured.
TEST_F(FileHelpersTest, CutPathsAreNeverDeletedOrMeasured)
{
    std::wstring deep = P(std::wstring(240, L'd'));
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr)) << "long paths unsupported here";
    size_t cut_at = 519 - (deep.size() + 1);
    std::wstring long_log = std::wstring(250, L'L') + L".log";  // its join is cut...
    ASSERT_GT(deep.size() + 1 + long_log.size(), 519u);
    std::wstring prefix = long_log.substr(0, cut_at);  // ...to this name
    ASSERT_TRUE(WriteText(deep + L"\\" + long_log, "log"));
    ASSERT_TRUE(WriteText(deep + L"\\" + prefix, "not a log"));
    DeleteMatching(deep.c_str(), L"*.log");
    EXPECT_TRUE(FileExists(deep + L"\\" + prefix));

    // A folder whose join is cut is neither measured nor entered; files are measured by
    // the sizes their listing gives, without a join.
    std::wstring long_folder = std::wstring(250, L'F');
    ASSERT_TRUE(CreateDirectoryW((deep + L"\\" + long_folder).c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(deep + L"\\" + long_folder + L"\\x.bin", "1234567", 7));
    EXPECT_EQ(TreeSize(deep.c_str()), 3u + 9u);

    // DeleteTree joins no name into a cut path: below the folder it joins in the long form,
    // so the entries past the limit go with the rest, each by its own name.
    EXPECT_EQ(DeleteTree(deep.c_str()), 1);
    EXPECT_FALSE(FileExists(deep + L"\\" + prefix));
    EXPECT_FALSE(FileExists(L"\\\\?\\" + deep + L"\\" + long_log));
    EXPECT_FALSE(FileExists(L"\\\\?\\" + deep + L"\\" + long_folder + L"\\x.bin"));
    EXPECT_FALSE(FolderExists(deep));
}

// On a real drive that fills up half-way, the existing file must survive whole.
TEST(ReplaceWholeFile, ADiskFullHalfWayKeepsTheOldFile)
{
    ULARGE_INTEGER available;
    if (!HasSmallDrive())
        GTEST_SKIP() << "no small drive T: (the test run mounts one when it runs as root)";
    std::wstring folder = L"T:\\replace-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    std::wstring copy = folder + L"\\torrentine.n64.proto.19990615.z64";
    // A 24 MiB drive: an 8 MiB copy and 10 MiB of other files leave room for neither a
    // second 16 MiB copy beside it nor, once emptied, the 16 MiB written over it.
    std::vector<uint8_t> old_bytes(8u << 20, 0x11), new_bytes(16u << 20, 0x22);
    std::vector<uint8_t> other(10u << 20, 0x33);
    ASSERT_TRUE(WriteBytes(copy, old_bytes.data(), old_bytes.size()));
    ASSERT_TRUE(WriteBytes(folder + L"\\other.bin", other.data(), other.size()));
    ASSERT_TRUE(GetDiskFreeSpaceExW(L"T:\\", &available, nullptr, nullptr));
    ASSERT_LT(available.QuadPart, new_bytes.size());

    EXPECT_EQ(ReplaceWholeFile(copy.c_str(), new_bytes.data(), (uint32_t)new_bytes.size()), 0);
    EXPECT_TRUE(ReadBytes(copy) == old_bytes);
    EXPECT_FALSE(FileExists(copy + L".partial"));

    // What a plain create-and-write does in the same place: the only copy is lost.
    EXPECT_EQ(WriteWholeFile(copy.c_str(), new_bytes.data(), (uint32_t)new_bytes.size()), 0);
    EXPECT_FALSE(ReadBytes(copy) == old_bytes);
    RemoveScratchFolder(folder);
}

TEST(ReplaceWholeFile, ReplacesAndCleansUp)
{
    std::wstring folder = MakeScratchFolder(L"replace");
    std::wstring path = folder + L"\\copy.z64";
    ASSERT_TRUE(WriteText(path, "old"));
    EXPECT_EQ(ReplaceWholeFile(path.c_str(), "newer", 5), 1);
    EXPECT_EQ(ReadBytes(path).size(), 5u);
    EXPECT_FALSE(FileExists(path + L".partial"));
    // A folder in the way: the write goes nowhere and reports failure.
    CreateDirectoryW((folder + L"\\dir.z64").c_str(), nullptr);
    EXPECT_EQ(ReplaceWholeFile((folder + L"\\dir.z64").c_str(), "x", 1), 0);
    EXPECT_FALSE(FileExists(folder + L"\\dir.z64.partial"));
    EXPECT_TRUE(FolderExists(folder + L"\\dir.z64"));
    RemoveScratchFolder(folder);
}

// Writing a file of the installation as a new one: whatever stood at its name (a plain
// file, a symbolic or hard link to a file outside, a partial file left by an interrupted
// run, itself possibly a link) is replaced as a name, and every file outside keeps its
// bytes. A folder in the way stays and the write fails, leaving no partial file.
TEST_F(FileHelpersTest, WriteWholeFileAsNewReplacesNamesNeverWritesThrough)
{
    ASSERT_TRUE(CreateDirectoryW(P(L"outside").c_str(), nullptr));
    ASSERT_TRUE(WriteText(P(L"outside\\a.bin"), "outside a"));
    ASSERT_TRUE(WriteText(P(L"outside\\b.bin"), "outside b"));
    ASSERT_TRUE(WriteText(P(L"outside\\c.bin"), "outside c"));
    ASSERT_TRUE(WriteText(P(L"plain.bin"), "old and longer"));
    ASSERT_TRUE(MakeFileLink(P(L"symbolic.bin"), P(L"outside\\a.bin"), true));
    ASSERT_TRUE(MakeFileLink(P(L"hard.bin"), P(L"outside\\b.bin"), false));
    ASSERT_TRUE(WriteText(P(L"stale.bin"), "old"));
    ASSERT_TRUE(WriteText(P(L"stale.bin.partial"), "half of an earlier run"));
    ASSERT_TRUE(WriteText(P(L"linked partial.bin"), "old"));
    ASSERT_TRUE(MakeFileLink(P(L"linked partial.bin.partial"), P(L"outside\\c.bin"), true));

    for (const wchar_t* name : {L"new.bin", L"plain.bin", L"symbolic.bin", L"hard.bin", L"stale.bin",
                                L"linked partial.bin"}) {
        EXPECT_EQ(WriteWholeFileAsNew(P(name).c_str(), "new", 3), 1) << Utf8(name);
        EXPECT_EQ(ReadBytes(P(name)), std::vector<uint8_t>({'n', 'e', 'w'})) << Utf8(name);
        EXPECT_FALSE(FileExists(P(name) + L".partial1")) << Utf8(name);
    }
    // Leftovers of an interrupted run are passed over, never opened, moved or deleted.
    EXPECT_EQ(ReadBytes(P(L"stale.bin.partial")).size(), 22u);
    EXPECT_TRUE(FileExists(P(L"linked partial.bin.partial")));
    EXPECT_EQ(WriteWholeFileAsNew(P(L"new.bin").c_str(), "", 0), 1);
    EXPECT_TRUE(ReadBytes(P(L"new.bin")).empty());
    const char* const outside[] = {"outside a", "outside b", "outside c"};
    for (int k = 0; k < 3; k++) {
        std::vector<uint8_t> bytes = ReadBytes(P(L"outside\\") + (wchar_t)(L'a' + k) + L".bin");
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), outside[k]);
    }

    ASSERT_TRUE(CreateDirectoryW(P(L"a folder").c_str(), nullptr));
    EXPECT_EQ(WriteWholeFileAsNew(P(L"a folder").c_str(), "x", 1), 0);
    EXPECT_TRUE(FolderExists(P(L"a folder")));
    EXPECT_FALSE(FileExists(P(L"a folder.partial")));
    EXPECT_FALSE(FileExists(P(L"a folder.partial1")));
    EXPECT_EQ(WriteWholeFileAsNew(P(L"missing\\a.bin").c_str(), "x", 1), 0);
    EXPECT_FALSE(FolderExists(P(L"missing")));

    // A copy goes by the same rule.
    ASSERT_TRUE(MakeFileLink(P(L"copied.exe"), P(L"outside\\a.bin"), false));
    EXPECT_EQ(CopyFileAsNew(P(L"plain.bin").c_str(), P(L"copied.exe").c_str()), 1);
    EXPECT_EQ(ReadBytes(P(L"copied.exe")), std::vector<uint8_t>({'n', 'e', 'w'}));
    std::vector<uint8_t> a = ReadBytes(P(L"outside\\a.bin"));
    EXPECT_EQ(std::string(a.begin(), a.end()), "outside a");
}

// Every partial name of a file is taken (by leftovers of interrupted runs, the last one a
// link to a file outside): the replacement fails, and neither the file, nor any leftover,
// nor the file the link leads to loses a byte. A partial name this run did not make is
// never deleted, renamed or written.
TEST_F(FileHelpersTest, AReplaceWithEveryPartialNameTakenFailsAndTouchesNothing)
{
    ASSERT_TRUE(WriteText(P(L"outside.bin"), "the player's"));
    ASSERT_TRUE(WriteText(P(L"game.dll"), "old"));
    for (int i = 0; i < 9; i++) {
        std::wstring name = i == 0 ? std::wstring(L"game.dll.partial") : L"game.dll.partial" + std::to_wstring(i);
        ASSERT_TRUE(WriteText(P(name), ("leftover " + std::to_string(i)).c_str()));
    }
    ASSERT_TRUE(MakeFileLink(P(L"game.dll.partial9"), P(L"outside.bin"), true));
    auto before = FilesAndBytesBelow(folder);

    for (int writer = 0; writer < 2; writer++) {
        int written = writer == 0 ? WriteWholeFileAsNew(P(L"game.dll").c_str(), "new", 3)
                                  : ReplaceWholeFile(P(L"game.dll").c_str(), "new", 3);
        EXPECT_EQ(written, 0) << writer;
        EXPECT_TRUE(FilesAndBytesBelow(folder) == before) << writer;
    }
    std::vector<uint8_t> theirs = ReadBytes(P(L"outside.bin"));
    EXPECT_EQ(std::string(theirs.begin(), theirs.end()), "the player's");
}

// The uninstaller's copies are made from the file's bytes alone: whole at every size (the
// copy goes a piece at a time), never over an existing name, and without the source's
// alternate data streams (the zone mark of a download). Wine stores no streams: there the
// last part shows only that a name with a stream is not made beside the copy.
TEST_F(FileHelpersTest, CopiesAreTheBytesAloneAndOnlyNewFiles)
{
    for (size_t bytes : {(size_t)0, (size_t)1, (size_t)1024 * 1024, (size_t)2 * 1024 * 1024 + 7}) {
        SCOPED_TRACE(bytes);
        std::vector<uint8_t> data(bytes);
        for (size_t i = 0; i < bytes; i++) data[i] = (uint8_t)(i * 7 + i / 4096);
        ASSERT_TRUE(WriteBytes(P(L"source.exe"), data.data(), data.size()));
        int created = 0;
        EXPECT_EQ(CopyToNewFile(P(L"source.exe").c_str(), P(L"copy.exe").c_str(), &created), 1);
        EXPECT_EQ(created, 1);
        EXPECT_TRUE(ReadBytes(P(L"copy.exe")) == data);
        // A name that exists stays as it is; the failure says why.
        DWORD error = 0;
        ASSERT_TRUE(WriteText(P(L"taken.exe"), "someone else's"));
        EXPECT_EQ(CopyBytesToNewFile(P(L"source.exe").c_str(), P(L"taken.exe").c_str(), &error), 0);
        EXPECT_EQ(error, (DWORD)ERROR_FILE_EXISTS);
        std::vector<uint8_t> taken = ReadBytes(P(L"taken.exe"));
        EXPECT_EQ(std::string(taken.begin(), taken.end()), "someone else's");
        EXPECT_EQ(CopyToNewFile(P(L"source.exe").c_str(), P(L"taken.exe").c_str(), &created), 0);
        EXPECT_EQ(created, 0);
        DeleteFileW(P(L"copy.exe").c_str());
    }
    int created = 1;
    EXPECT_EQ(CopyToNewFile(P(L"missing.exe").c_str(), P(L"copy.exe").c_str(), &created), 0);
    EXPECT_EQ(created, 0);
    EXPECT_FALSE(FileExists(P(L"copy.exe")));

    // Where the file system keeps streams, the source's zone mark stays behind.
    bool streams = WriteText(P(L"source.exe:Zone.Identifier"), "[ZoneTransfer]\r\nZoneId=3\r\n") &&
                   ReadBytes(P(L"source.exe:Zone.Identifier")).size() > 0 && FileExists(P(L"source.exe"));
    EXPECT_EQ(CopyFileAsNew(P(L"source.exe").c_str(), P(L"copy.exe").c_str()), 1);
    EXPECT_TRUE(ReadBytes(P(L"copy.exe")) == ReadBytes(P(L"source.exe")));
    EXPECT_EQ(GetFileAttributesW(P(L"copy.exe:Zone.Identifier").c_str()), INVALID_FILE_ATTRIBUTES);
    if (!streams) printf("note: this file system keeps no alternate data streams\n");
}

// Only name-surrogate reparse points are links; the tags are Windows' own (Wine has no
// reparse points but its symbolic links, which the deletions tell by where they lead).
TEST(ReparsePoints, OnlyNameSurrogatesAreLinks)
{
    const DWORD REPARSE = FILE_ATTRIBUTE_REPARSE_POINT, FOLDER = FILE_ATTRIBUTE_DIRECTORY;
    struct Case {
        const char* what;
        DWORD attributes, tag;
        int link;
    };
    const Case cases[] = {
        {"a junction or mount point", FOLDER | REPARSE, 0xA0000003, 1},
        {"a symbolic link to a folder", FOLDER | REPARSE, 0xA000000C, 1},
        {"a symbolic link to a file", REPARSE, 0xA000000C, 1},
        {"a cloud folder placeholder", FOLDER | REPARSE, 0x9000001A, 0},
        {"a cloud file placeholder", REPARSE, 0x9000601A, 0},
        {"a projected file", REPARSE, 0x9000001C, 0},
        {"a deduplicated file", REPARSE, 0x80000013, 0},
        {"a compressed system file", REPARSE, 0x80000017, 0},
        {"an app execution alias", REPARSE, 0x8000001B, 0},
        {"no reparse point at all", FOLDER, 0xA0000003, 0},
        {"a reparse point without a tag", FOLDER | REPARSE, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(IsLinkReparsePoint(c.attributes, c.tag), c.link);
    }
}

TEST_F(FileHelpersTest, AFolderThatIsALinkIsTold)
{
    ASSERT_TRUE(CreateDirectoryW(P(L"real").c_str(), nullptr));
    ASSERT_TRUE(MakeFolderLink(P(L"link"), P(L"real")));
    EXPECT_EQ(IsLinkItself(P(L"real").c_str()), 0);
    EXPECT_EQ(IsLinkItself(P(L"link").c_str()), 1);
    EXPECT_EQ(IsLinkItself(P(L"missing").c_str()), 0);
}

// Saves and mods deeper than the platform's path limit (made here through the long form,
// as Windows and Wine both allow) go with the tree, down to the last level; another
// installation nested that deep stays whole.
TEST_F(FileHelpersTest, ATreeDeeperThanThePathLimitGoesWhole)
{
    const std::wstring level = L"a mod folder with a long name, level ";
    std::wstring deep = L"\\\\?\\" + P(L"saves");
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    std::wstring kept;
    for (int i = 0; i < 28; i++) {
        deep += L"\\" + level + std::to_wstring(i);
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr)) << i;
        ASSERT_TRUE(WriteText(deep + L"\\slot.sav", "player data")) << i;
        if (i == 20) {
            kept = deep + L"\\nested installation";
            ASSERT_TRUE(CreateDirectoryW(kept.c_str(), nullptr));
            ASSERT_TRUE(WriteText(kept + L"\\portable.txt", "mark"));
        }
    }
    ASSERT_GT(deep.size(), 1100u);  // past MAX_PATH and past the old 1024-unit places
    auto keep = [](const wchar_t* path) -> int {
        char bytes[8];
        return ReadFileInFolder(path, L"portable.txt", bytes, sizeof bytes) == 4;
    };
    EXPECT_EQ(DeleteTreeKeeping(P(L"saves").c_str(), keep), DELETION_KEPT);
    EXPECT_EQ(GetFileAttributesW(deep.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(FileExists(kept + L"\\portable.txt"));
    // Without the guard, nothing at any depth stays.
    EXPECT_EQ(DeleteTreeKeeping(P(L"saves").c_str(), nullptr), DELETION_GONE);
    EXPECT_FALSE(FolderExists(P(L"saves")));
}

// Whether an installed file already holds an entry's bytes decides whether an update leaves
// it alone: any difference (one byte anywhere, across the comparison's 1 MiB pieces, a
// length) is "other", and so is a name that is not a file of the folder itself.
TEST_F(FileHelpersTest, AFileHoldsGivenBytesOnlyWhenEveryByteAndTheLengthAgree)
{
    std::vector<uint8_t> data(COMPARE_BUFFER_BYTES * 2 + 7);
    for (size_t i = 0; i < data.size(); i++) data[i] = (uint8_t)(i * 31 + i / 977);
    struct Case {
        const char* what;
        size_t flip;      // the byte changed, or SIZE_MAX for none
        int length_change;
        bool holds;
    };
    const Case cases[] = {
        {"the same bytes", SIZE_MAX, 0, true},
        {"the first byte", 0, 0, false},
        {"the last byte of the first piece", COMPARE_BUFFER_BYTES - 1, 0, false},
        {"the first byte of the second piece", COMPARE_BUFFER_BYTES, 0, false},
        {"the last byte", data.size() - 1, 0, false},
        {"one byte more", SIZE_MAX, 1, false},
        {"one byte less", SIZE_MAX, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> installed = data;
        if (c.flip != SIZE_MAX) installed[c.flip] ^= 1;
        if (c.length_change > 0) installed.push_back(0);
        if (c.length_change < 0) installed.pop_back();
        ASSERT_TRUE(WriteBytes(P(L"entry.bin"), installed.data(), installed.size()));
        EXPECT_EQ(FileInFolderHolds(folder.c_str(), L"entry.bin", data.data(), data.size(), nullptr), c.holds ? 1 : 0);
        EXPECT_EQ(FileInFolderEquals(folder.c_str(), L"entry.bin", P(L"source.bin").c_str()), 0);  // no source
        ASSERT_TRUE(WriteBytes(P(L"source.bin"), data.data(), data.size()));
        EXPECT_EQ(FileInFolderEquals(folder.c_str(), L"entry.bin", P(L"source.bin").c_str()), c.holds ? 1 : 0);
        DeleteFileW(P(L"source.bin").c_str());
    }
    // Empty both ways; a missing name; a folder at the name; a link to a file that holds the
    // bytes (its target is not the folder's file, and the update replaces the link as a name).
    ASSERT_TRUE(WriteBytes(P(L"empty.bin"), "", 0));
    EXPECT_EQ(FileInFolderHolds(folder.c_str(), L"empty.bin", nullptr, 0, nullptr), 1);
    EXPECT_EQ(FileInFolderHolds(folder.c_str(), L"missing.bin", nullptr, 0, nullptr), 0);
    CreateDirectoryW(P(L"a folder").c_str(), nullptr);
    EXPECT_EQ(FileInFolderHolds(folder.c_str(), L"a folder", nullptr, 0, nullptr), 0);
    Make(L"outside\\same.bin", 0);
    ASSERT_TRUE(WriteBytes(P(L"outside\\same.bin"), data.data(), data.size()));
    ASSERT_TRUE(MakeFileLink(P(L"linked.bin"), P(L"outside\\same.bin"), true));
    EXPECT_EQ(FileInFolderHolds(folder.c_str(), L"linked.bin", data.data(), data.size(), nullptr), 0);
}
