#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/setup_state.h"
#include "install/package_extraction.h"
#include "package/package_format.h"
#include "tests/support/package_builder.h"
#include "tests/support/test_support.h"

namespace {

class ExtractTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = MakeScratchFolder(L"extract");
        g_setup.silent = 1;
        g_setup.cancel_request = 0;
        g_setup.last_progress = -1;
    }
    void TearDown() override
    {
        g_setup.cancel_request = 0;
        RemoveScratchFolder(folder);
    }

    int Extract(const std::vector<uint8_t>& package, ExtractContext* context)
    {
        *context = {};
        context->install_folder = folder.c_str();
        WalkPackageBytes(package.data(), (uint32_t)package.size(), SumEntrySize, context);
        return WalkPackageBytes(package.data(), (uint32_t)package.size(), ExtractEntry, context);
    }

    std::wstring folder;
};

std::vector<uint8_t> Filled(size_t count, uint8_t value) { return std::vector<uint8_t>(count, value); }

}  // namespace

TEST_F(ExtractTest, WritesEveryEntryBelowTheFolderCreatingSubfolders)
{
    ExtractContext context;
    std::vector<uint8_t> package = BuildPackage({{"TorrentinePC.exe", Filled(5000, 'g')},
                                                 {"assets\\a\\b\\c\\deep.bin", Filled(3, 'd')},
                                                 {"assets\\empty.txt", {}}});
    ASSERT_EQ(Extract(package, &context), 1);
    EXPECT_EQ(ReadBytes(folder + L"\\TorrentinePC.exe"), Filled(5000, 'g'));
    EXPECT_EQ(ReadBytes(folder + L"\\assets\\a\\b\\c\\deep.bin"), Filled(3, 'd'));
    EXPECT_TRUE(FileExists(folder + L"\\assets\\empty.txt"));
    EXPECT_EQ(context.bytes_written, 5003u);
    EXPECT_EQ(context.total_bytes, 5003u);
    EXPECT_EQ(context.failing_path[0], L'\0');
    EXPECT_EQ(g_setup.last_progress, 1000);
}

TEST_F(ExtractTest, FoldersComingBackInAnyOrder)
{
    ExtractContext context;
    std::vector<uint8_t> package = BuildPackage({{"a\\1.bin", Filled(1, '1')},
                                                 {"b\\c\\2.bin", Filled(1, '2')},
                                                 {"a\\3.bin", Filled(1, '3')},
                                                 {"top.bin", Filled(1, '4')},
                                                 {"b\\c\\5.bin", Filled(1, '5')}});
    ASSERT_EQ(Extract(package, &context), 1);
    for (const wchar_t* name : {L"a\\1.bin", L"b\\c\\2.bin", L"a\\3.bin", L"top.bin", L"b\\c\\5.bin"})
        EXPECT_TRUE(FileExists(folder + L"\\" + name)) << Utf8(name);
}

TEST_F(ExtractTest, ProgressCountsBytesNotEntries)
{
    ExtractContext context;
    int seen[8] = {};
    int count = 0;
    std::vector<uint8_t> package = BuildPackage({{"big.bin", Filled(488, 'b')},
                                                 {"small1.bin", Filled(256, 's')},
                                                 {"small2.bin", Filled(256, 's')}});
    context = {};
    context.install_folder = folder.c_str();
    WalkPackageBytes(package.data(), (uint32_t)package.size(), SumEntrySize, &context);
    // Watch the progress after each entry through a wrapping visitor.
    struct Watch {
        ExtractContext* extract;
        int* seen;
        int* count;
    } watch = {&context, seen, &count};
    auto visitor = [](const wchar_t* name, const uint8_t* data, uint64_t size, void* c) -> int {
        Watch* w = (Watch*)c;
        int ok = ExtractEntry(name, data, size, w->extract);
        w->seen[(*w->count)++] = g_setup.last_progress;
        return ok;
    };
    ASSERT_EQ(WalkPackageBytes(package.data(), (uint32_t)package.size(), visitor, &watch), 1);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(seen[0], 488);
    EXPECT_EQ(seen[1], 744);
    EXPECT_EQ(seen[2], 1000);
}

TEST_F(ExtractTest, EmptyEntryStillReportsProgressWithUnchangedCounts)
{
    ExtractContext context = {};
    context.install_folder = folder.c_str();
    context.bytes_written = 1;
    context.total_bytes = 3;
    g_setup.last_progress = 7;
    ASSERT_EQ(ExtractEntry(L"zero.bin", nullptr, 0, &context), 1);
    EXPECT_EQ(context.bytes_written, 1u);
    EXPECT_EQ(g_setup.last_progress, 333);
    EXPECT_TRUE(FileExists(folder + L"\\zero.bin"));
}

TEST_F(ExtractTest, CancelBeforeTheFirstEntryCreatesNothing)
{
    g_setup.cancel_request = 1;
    ExtractContext context;
    EXPECT_EQ(Extract(BuildPackage({{"sub\\a.bin", Filled(4, 'a')}}), &context), 0);
    EXPECT_FALSE(FolderExists(folder + L"\\sub"));
    EXPECT_EQ(context.failing_path[0], L'\0');
}

// Every entry is made as a new file: a file that another program put at an entry's name is
// a failure, never replaced, and only the files this run made are recorded for its undo.
TEST_F(ExtractTest, AnExistingNameIsAFailureAndKeepsItsBytes)
{
    ASSERT_TRUE(WriteText(folder + L"\\b.bin", "another program's"));
    ExtractContext context = {};
    context.install_folder = folder.c_str();
    uint8_t slots[4];
    memset(slots, PARTIAL_SLOT_NONE, sizeof slots);
    context.slots = slots;
    std::vector<uint8_t> package =
        BuildPackage({{"a.bin", Filled(2, 'a')}, {"b.bin", Filled(2, 'n')}, {"c.bin", Filled(1, 'c')}});
    EXPECT_EQ(WalkPackageBytes(package.data(), (uint32_t)package.size(), ExtractEntry, &context), 0);
    EXPECT_EQ(std::wstring(context.failing_path), folder + L"\\b.bin");
    std::string kept = "another program's";
    EXPECT_EQ(ReadBytes(folder + L"\\b.bin"), std::vector<uint8_t>(kept.begin(), kept.end()));
    EXPECT_EQ(slots[0], 0);                   // made by this run
    EXPECT_EQ(slots[1], PARTIAL_SLOT_NONE);   // not this run's
    EXPECT_EQ(slots[2], PARTIAL_SLOT_NONE);   // never reached
    EXPECT_FALSE(FileExists(folder + L"\\c.bin"));
}

TEST_F(ExtractTest, FileHeldOpenByAnotherProgramFailsAndIsRecorded)
{
    std::wstring held = folder + L"\\TorrentinePC.exe";
    ASSERT_TRUE(WriteText(held, "running game"));
    HANDLE open = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    ExtractContext context;
    EXPECT_EQ(Extract(BuildPackage({{"first.dll", Filled(1, '1')},
                                    {"TorrentinePC.exe", Filled(9, 'g')},
                                    {"after.dll", Filled(1, '2')}}),
                      &context),
              0);
    CloseHandle(open);
    EXPECT_EQ(std::wstring(context.failing_path), held);
    EXPECT_TRUE(FileExists(folder + L"\\first.dll"));  // nothing is rolled back
    EXPECT_FALSE(FileExists(folder + L"\\after.dll"));
    EXPECT_EQ(ReadBytes(held), std::vector<uint8_t>({'r', 'u', 'n', 'n', 'i', 'n', 'g', ' ', 'g', 'a', 'm', 'e'}));
}
