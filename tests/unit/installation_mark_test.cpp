#include <gtest/gtest.h>

#include <string>

#include "install/installation_mark.h"
#include "tests/support/test_support.h"

namespace {

// Exactly what setup writes as "portable.txt", the mark of its installations.
const std::string MARK_TEXT = "Settings, saves, mods and the ROM copy are kept in this folder.\r\n";

}  // namespace

// Only setup's exact note makes a folder an installation: a note that merely starts with
// its text (a player's notes added below it, the text twice) is someone else's file.
TEST(InstallationMark, OnlyTheExactNoteMarksAnInstallation)
{
    struct Case {
        const char* what;
        std::string note;
        bool marked;
    };
    const Case cases[] = {
        {"setup's note", MARK_TEXT, true},
        {"setup's note and one byte more", MARK_TEXT + "x", false},
        {"setup's note and a player's notes", MARK_TEXT + "My own notes: slot 2 is the good one.\r\n", false},
        {"setup's note twice", MARK_TEXT + MARK_TEXT, false},
        {"setup's note without its last byte", MARK_TEXT.substr(0, MARK_TEXT.size() - 1), false},
        {"setup's note with a Unix line end", MARK_TEXT.substr(0, MARK_TEXT.size() - 2) + "\n", false},
        {"an empty note", "", false},
    };
    std::wstring folder = MakeScratchFolder(L"mark");
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteBytes(folder + L"\\portable.txt", c.note.data(), c.note.size())) << c.what;
        EXPECT_EQ(FolderHoldsInstallation(folder.c_str()) != 0, c.marked) << c.what;
    }
    DeleteFileW((folder + L"\\portable.txt").c_str());
    EXPECT_EQ(FolderHoldsInstallation(folder.c_str()), 0) << "no note";
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\portable.txt").c_str(), nullptr));
    EXPECT_EQ(FolderHoldsInstallation(folder.c_str()), 0) << "a folder of that name";
    RemoveScratchFolder(folder);
}
