#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "install/install_folder_check.h"
#include "tests/support/test_support.h"

namespace {

const std::wstring OTHER_FILES_TEXT =
    L"That folder already holds other files: choose a new or empty folder just for the game.";

std::wstring TooLongText(int limit)
{
    return L"That folder path is too long: keep it to " + std::to_wstring(limit) + L" characters or fewer.";
}

class InstallFolderCheckTest : public ::testing::Test {
protected:
    void SetUp() override { scratch = MakeScratchFolder(L"folder check"); }
    void TearDown() override { RemoveScratchFolder(scratch); }

    // 1 or 0 as CheckInstallFolder gives it, with its message.
    int Check(const std::wstring& folder, int limit, std::wstring* message)
    {
        wchar_t text[512] = L"untouched";
        int accepted = CheckInstallFolder(folder.c_str(), limit, text, 512);
        *message = text;
        return accepted;
    }

    std::wstring scratch;
};

}  // namespace

// The limit holds for the path the folder really has: an 8.3 name, also behind "..", is
// short text for a long path, whose files would not fit and fail part way through the
// install.
TEST_F(InstallFolderCheckTest, TheResolvedPathMustFitNotOnlyItsText)
{
    std::wstring long_name(120, L'L');
    std::wstring parent = scratch + L"\\" + long_name;
    std::wstring game = parent + L"\\game";
    ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(game.c_str(), nullptr));
    wchar_t short_form[MAX_PATH];
    DWORD units = GetShortPathNameW(game.c_str(), short_form, MAX_PATH);
    ASSERT_TRUE(units > 0 && units < MAX_PATH);
    std::wstring short_game = short_form;
    ASSERT_LT(short_game.size() + 100, game.size()) << Utf8(short_game);
    std::wstring short_name = short_game.substr(0, short_game.rfind(L'\\'));
    short_name = short_name.substr(short_name.rfind(L'\\') + 1);
    std::wstring through_dots = short_game + L"\\..\\..\\" + short_name + L"\\game";

    struct Case {
        const char* what;
        std::wstring folder;
        int limit;
        bool accepted;
    };
    const int resolved = (int)game.size();
    const Case cases[] = {
        {"the long path at the limit", game, resolved, true},
        {"its 8.3 name at the long path's limit", short_game, resolved, true},
        {"its 8.3 name within its own length", short_game, (int)short_game.size(), false},
        {"its 8.3 name one short of the long path", short_game, resolved - 1, false},
        {"its 8.3 name behind \"..\" within its own length", through_dots, (int)through_dots.size(), false},
        {"its 8.3 name behind \"..\" at the long path's limit", through_dots, resolved, true},
    };
    for (const Case& c : cases) {
        ASSERT_LE((int)c.folder.size(), c.limit) << c.what;  // the text alone fits
        std::wstring message;
        EXPECT_EQ(Check(c.folder, c.limit, &message) != 0, c.accepted) << c.what;
        if (!c.accepted) {
            EXPECT_EQ(message, TooLongText(c.limit)) << c.what;
        }
    }
}

// A folder that cannot be listed may hold anything: refused as another's folder, never taken
// for an empty one. Windows refuses the listing without the right to list; Wine running as
// root lists everything, so a folder held open without sharing stands in (listing it fails
// with a sharing violation, while what it is can still be read).
TEST_F(InstallFolderCheckTest, AFolderThatCannotBeListedIsNotEmpty)
{
    std::wstring folder = scratch + L"\\held";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    std::wstring message;
    ASSERT_EQ(Check(folder, 200, &message), 1) << Utf8(message);  // empty and listed

    HANDLE held = CreateFileW(folder.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    DWORD error = GetLastError();
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE) << "the held folder was listed";
    EXPECT_EQ(error, (DWORD)ERROR_SHARING_VIOLATION);
    EXPECT_EQ(Check(folder, 200, &message), 0);
    EXPECT_EQ(message, OTHER_FILES_TEXT);
    CloseHandle(held);
}
