// File identities on volumes whose ids cannot be trusted (FAT, exFAT, network drives): the
// decisions fed made-up records, as Windows would give them, and a real folder under Wine.
#include <gtest/gtest.h>

#include <string.h>

#include "base/folder_identity.h"
#include "tests/support/test_support.h"

namespace {

FileIdentity Made(uint64_t volume, uint64_t id, bool trusted, const wchar_t* place)
{
    FileIdentity identity;
    ZeroMemory(&identity, sizeof identity);
    identity.volume = volume;
    memcpy(identity.id, &id, sizeof id);
    identity.id_trusted = trusted;
    wcsncpy(identity.place, place, IDENTITY_PLACE_UNITS - 1);
    return identity;
}

}  // namespace

TEST(FolderIdentity, AnIdIsTrustedOnlyWhereTheFileSystemKeepsIt)
{
    const uint8_t zero[16] = {0};
    const uint8_t some[16] = {0x25, 0x05, 0x52};
    struct Case {
        const char* what;
        const uint8_t* id;
        DWORD flags;
        const wchar_t* file_system;
        int remote;
        int trusted;
    };
    const Case cases[] = {
        {"NTFS, opens by id", some, FILE_SUPPORTS_OPEN_BY_FILE_ID, L"NTFS", 0, 1},
        {"a zero id, even where ids are kept", zero, FILE_SUPPORTS_OPEN_BY_FILE_ID, L"NTFS", 0, 0},
        {"FAT32: the id is a directory entry's place", some, 0, L"FAT32", 0, 0},
        {"FAT", some, 0, L"FAT", 0, 0},
        {"exFAT", some, 0, L"exFAT", 0, 0},
        {"a network share that says nothing", some, 0, L"NTFS", 1, 0},
        {"a network share that opens by id", some, FILE_SUPPORTS_OPEN_BY_FILE_ID, L"NTFS", 1, 1},
        {"local NTFS without the flag (as Wine reports every volume)", some, 0x0A, L"NTFS", 0, 1},
        {"local ReFS without the flag", some, 0, L"ReFS", 0, 1},
        {"an unknown file system", some, 0, L"", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(FileIdIsTrusted(c.id, c.flags, c.file_system, c.remote), c.trusted);
    }
}

TEST(FolderIdentity, AnUntrustedIdIsNeverTheSameFolderByItself)
{
    struct Case {
        const char* what;
        FileIdentity a, b;
        int same;
    };
    const Case cases[] = {
        {"trusted, one id", Made(7, 42, true, L"\\Games\\A"), Made(7, 42, true, L"\\Other"), 1},
        {"trusted, two ids", Made(7, 42, true, L"\\Games\\A"), Made(7, 43, true, L"\\Games\\A"), 0},
        {"trusted, two volumes", Made(7, 42, true, L"\\A"), Made(8, 42, true, L"\\A"), 0},
        {"zero ids, two places", Made(7, 0, false, L"\\Games\\A"), Made(7, 0, false, L"\\Games\\B"), 0},
        {"zero ids, one place", Made(7, 0, false, L"\\Games\\A"), Made(7, 0, false, L"\\games\\a"), 1},
        {"FAT: one id, two places", Made(7, 42, false, L"\\Games\\A"), Made(7, 42, false, L"\\Saves"), 0},
        {"FAT: two ids, one place", Made(7, 42, false, L"\\Games\\A"), Made(7, 99, false, L"\\Games\\A"), 1},
        {"one trusted, one not", Made(7, 42, true, L"\\Games\\A"), Made(7, 42, false, L"\\Games\\B"), 0},
        {"no place known", Made(7, 0, false, L""), Made(7, 0, false, L""), 0},
        {"one place, two volumes", Made(7, 0, false, L"\\A"), Made(8, 0, false, L"\\A"), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(SameIdentity(&c.a, &c.b), c.same);
        EXPECT_EQ(SameIdentity(&c.b, &c.a), c.same);
    }
}

TEST(FolderIdentity, TwoSpellingsOfARealFolderAreTheSame)
{
    std::wstring folder = MakeScratchFolder(L"identity");
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\Sub").c_str(), nullptr));
    FileIdentity a, b, c;
    ASSERT_EQ(ReadFileIdentity(folder.c_str(), &a), 1);
    ASSERT_EQ(ReadFileIdentity((folder + L"\\Sub\\..\\.").c_str(), &b), 1);
    ASSERT_EQ(ReadFileIdentity((folder + L"\\Sub").c_str(), &c), 1);
    EXPECT_EQ(SameIdentity(&a, &b), 1);
    EXPECT_EQ(SameIdentity(&a, &c), 0);
    EXPECT_NE(a.place[0], L'\0');
    RemoveScratchFolder(folder);
}

namespace {

FileIdentity Identity(uint64_t volume, uint64_t low, uint64_t high = 0)
{
    FileIdentity identity;
    ZeroMemory(&identity, sizeof identity);
    identity.volume = volume;
    memcpy(identity.id, &low, 8);
    memcpy(identity.id + 8, &high, 8);
    identity.id_trusted = low != 0 || high != 0;
    return identity;
}

}  // namespace

// A file's number is unique on its volume only: the same number on two volumes (two drives,
// a USB stick, a network share, each counting from the start) is two folders, and neither
// may stand for the other in a refusal or an uninstall.
TEST(SameIdentity, TheVolumeAndTheWholeIdDecide)
{
    struct Case {
        const char* what;
        FileIdentity a, b;
        bool same;
    };
    const Case cases[] = {
        {"one file", Identity(0x1234ABCD, 42), Identity(0x1234ABCD, 42), true},
        {"one 128-bit id", Identity(7, 42, 99), Identity(7, 42, 99), true},
        {"the same number on two volumes", Identity(0x1234ABCD, 42), Identity(0x5678EF01, 42), false},
        {"number 0 on two volumes", Identity(1, 0), Identity(2, 0), false},
        {"volumes apart in their high half", Identity(0x100000001ull, 42), Identity(1, 42), false},
        {"two numbers on one volume", Identity(7, 42), Identity(7, 43), false},
        {"128-bit ids apart in their high half", Identity(7, 42, 1), Identity(7, 42, 2), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SameIdentity(&c.a, &c.b) != 0, c.same) << c.what;
        EXPECT_EQ(SameIdentity(&c.b, &c.a) != 0, c.same) << c.what;
    }
}
