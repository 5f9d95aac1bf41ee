#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/package_digest.h"
#include "install/package_extraction.h"
#include "package/package_format.h"
#include "tests/support/package_builder.h"
#include "tests/support/setup_runner.h"
#include "tests/support/test_support.h"

namespace {

struct Visit {
    std::wstring name;
    std::vector<uint8_t> data;
};

struct Recorder {
    std::vector<Visit> visits;
    int stop_after = -1;  // return 0 on this visit (0-based); -1 never
};

int RecordVisit(const wchar_t* name, const uint8_t* data, uint64_t size, void* context)
{
    Recorder* recorder = (Recorder*)context;
    recorder->visits.push_back({name, std::vector<uint8_t>(data, data + size)});
    return (int)recorder->visits.size() - 1 != recorder->stop_after;
}

// Walks bytes placed right before an unreadable page: an over-read crashes the test.
int WalkGuarded(const std::vector<uint8_t>& bytes, Recorder* recorder)
{
    GuardedBytes guarded = PlaceBeforeGuardPage(bytes);
    int result = WalkPackageBytes(guarded.bytes, guarded.size, RecordVisit, recorder);
    ReleaseGuarded(&guarded);
    return result;
}

std::vector<uint8_t> Bytes(const char* text) { return std::vector<uint8_t>(text, text + strlen(text)); }

}  // namespace

TEST(WalkPackageBytes, VisitsEveryEntryInOrderWithItsBytes)
{
    std::vector<CraftedEntry> entries = {
        {"TorrentinePC.exe", Bytes("MZ game")},
        {"assets\\fonts\\title.ttf", Bytes("font")},
        {"assets\\empty.bin", {}},
        {"assets\\\xC3\x9C" "bung \xE6\xB8\xB8.txt", Bytes("x")},
    };
    Recorder recorder;
    EXPECT_EQ(WalkGuarded(BuildPackage(entries), &recorder), 1);
    ASSERT_EQ(recorder.visits.size(), 4u);
    EXPECT_EQ(recorder.visits[0].name, L"TorrentinePC.exe");
    EXPECT_EQ(recorder.visits[0].data, Bytes("MZ game"));
    EXPECT_EQ(recorder.visits[1].name, L"assets\\fonts\\title.ttf");
    EXPECT_TRUE(recorder.visits[2].data.empty());
    EXPECT_EQ(recorder.visits[3].name, L"assets\\\u00dcbung \u6e38.txt");
}

TEST(WalkPackageBytes, EmptyPackageAndAnyValueAtOffsetFour)
{
    Recorder recorder;
    EXPECT_EQ(WalkGuarded(BuildPackage({}), &recorder), 1);
    EXPECT_EQ(WalkGuarded(BuildPackage({{"a.txt", Bytes("a")}}, 0xDEADBEEF), &recorder), 1);
    EXPECT_EQ(recorder.visits.size(), 1u);
}

TEST(WalkPackageBytes, RefusesShortOrForeignHeadersWithoutVisiting)
{
    std::vector<uint8_t> valid = BuildPackage({{"a.txt", Bytes("a")}});
    std::vector<uint8_t> eleven(valid.begin(), valid.begin() + 11);
    std::vector<uint8_t> wrong_magic = valid;
    wrong_magic[3] = 'X';
    std::vector<uint8_t> lower_magic = valid;
    lower_magic[0] = 't';
    for (const std::vector<uint8_t>* bytes : {&eleven, &wrong_magic, &lower_magic}) {
        Recorder recorder;
        EXPECT_EQ(WalkGuarded(*bytes, &recorder), 0);
        EXPECT_TRUE(recorder.visits.empty());
    }
    Recorder recorder;
    EXPECT_EQ(WalkPackageBytes(nullptr, 0, RecordVisit, &recorder), 0);
}

TEST(WalkPackageBytes, EveryCutThroughTheLastEntryFailsAfterTheEarlierOnes)
{
    std::vector<uint8_t> full = BuildPackage({{"first.bin", Bytes("12345")},
                                              {"second.bin", Bytes("abcdef")}});
    size_t second_start = 12 + 2 + 9 + 8 + 5;
    // Cut inside the length field, the name, the size field and the data (one byte short).
    for (size_t size = second_start; size < full.size(); size++) {
        std::vector<uint8_t> cut(full.begin(), full.begin() + size);
        Recorder recorder;
        EXPECT_EQ(WalkGuarded(cut, &recorder), 0) << "size " << size;
        ASSERT_EQ(recorder.visits.size(), 1u) << "size " << size;
        EXPECT_EQ(recorder.visits[0].name, L"first.bin");
    }
    Recorder recorder;
    EXPECT_EQ(WalkGuarded(full, &recorder), 1);
}

TEST(WalkPackageBytes, BytesAfterTheLastEntryAreIgnored)
{
    std::vector<uint8_t> bytes = BuildPackage({{"a.txt", Bytes("a")}});
    bytes.insert(bytes.end(), {'j', 'u', 'n', 'k'});
    Recorder recorder;
    EXPECT_EQ(WalkGuarded(bytes, &recorder), 1);
    EXPECT_EQ(recorder.visits.size(), 1u);
}

TEST(WalkPackageBytes, CountLargerThanTheEntriesFails)
{
    Recorder recorder;
    EXPECT_EQ(WalkGuarded(BuildPackageWithCount({{"a.txt", Bytes("a")}}, 2), &recorder), 0);
    EXPECT_EQ(recorder.visits.size(), 1u);
    EXPECT_EQ(WalkGuarded(BuildPackageWithCount({}, 0xFFFFFFFF), &recorder), 0);
}

TEST(WalkPackageBytes, DataSizesThatWouldWrapFail)
{
    for (uint64_t huge : {0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFF0ull, 0x100000000ull,
                          0x8000000000000000ull}) {
        std::vector<uint8_t> bytes = BuildPackage({{"a.txt", Bytes("abc")}});
        for (int i = 0; i < 8; i++) bytes[12 + 2 + 5 + i] = (uint8_t)(huge >> (8 * i));
        Recorder recorder;
        EXPECT_EQ(WalkGuarded(bytes, &recorder), 0);
        EXPECT_TRUE(recorder.visits.empty());
    }
}

TEST(WalkPackageBytes, NameRules)
{
    struct Case {
        std::string name;
        int accepted;
    };
    std::string e_acute;
    for (int i = 0; i < 259; i++) e_acute += "\xC3\xA9";
    const Case cases[] = {
        {"", 0},
        {"..\\evil.txt", 0},
        {"assets\\..\\..\\evil.txt", 0},
        {"a..b.txt", 0},  // refused although it stays inside the folder
        {"assets\\.hidden", 1},
        {"assets\\a.b.c", 1},
        {std::string(259, 'n'), 1},
        {std::string(260, 'n'), 0},
        {e_acute, 1},                // 518 bytes, 259 units
        {e_acute + "\xC3\xA9", 0},  // 260 units
    };
    for (const Case& c : cases) {
        Recorder recorder;
        int result = WalkGuarded(BuildPackage({{c.name, Bytes("x")}}), &recorder);
        EXPECT_EQ(result, c.accepted) << "name of " << c.name.size() << " bytes: " << c.name.substr(0, 24);
        EXPECT_EQ(recorder.visits.size(), (size_t)c.accepted);
        if (c.accepted) {
            EXPECT_EQ(recorder.visits[0].name.size(), c.name == e_acute ? 259u : c.name.size());
        }
    }
}

TEST(WalkPackageBytes, VisitorReturningZeroStopsAtOnce)
{
    Recorder recorder;
    recorder.stop_after = 1;
    EXPECT_EQ(WalkGuarded(BuildPackage({{"a", Bytes("1")}, {"b", Bytes("2")}, {"c", Bytes("3")}}),
                          &recorder),
              0);
    EXPECT_EQ(recorder.visits.size(), 2u);
}

TEST(WalkPackageBytes, GivesPointersIntoThePackageWithoutCopying)
{
    std::vector<uint8_t> bytes = BuildPackage({{"a.bin", Bytes("payload")}});
    struct Seen {
        const uint8_t* data;
    } seen = {nullptr};
    auto visitor = [](const wchar_t*, const uint8_t* data, uint64_t, void* context) -> int {
        ((Seen*)context)->data = data;
        return 1;
    };
    EXPECT_EQ(WalkPackageBytes(bytes.data(), (uint32_t)bytes.size(), visitor, &seen), 1);
    EXPECT_EQ(seen.data, bytes.data() + 12 + 2 + 5 + 8);
}

// The program's own RT_RCDATA 101 is the package of the stand-in game folder.
TEST(WalkPackage, WalksTheOwnResourceInShippedOrder)
{
    Recorder recorder;
    ASSERT_EQ(WalkPackage(RecordVisit, &recorder), 1);
    ASSERT_EQ(recorder.visits.size(), 39u);
    EXPECT_EQ(recorder.visits[0].name, L"TorrentinePC.exe");
    EXPECT_EQ(recorder.visits[0].data[0], 'M');
    EXPECT_EQ(recorder.visits[0].data[1], 'Z');
    const wchar_t* libraries[] = {L"SDL2.dll", L"dxcompiler.dll", L"dxil.dll", L"msvcp140.dll",
                                  L"msvcp140_atomic_wait.dll", L"vcruntime140.dll",
                                  L"vcruntime140_1.dll"};
    for (int i = 0; i < 7; i++) EXPECT_EQ(recorder.visits[1 + i].name, libraries[i]);
    for (size_t i = 8; i < 39; i++) {
        EXPECT_EQ(recorder.visits[i].name.rfind(L"assets\\", 0), 0u) << i;
        int depth = 0;
        for (wchar_t c : recorder.visits[i].name) depth += c == L'\\';
        EXPECT_LE(depth, 4);
    }

    ExtractContext sums = {};
    ASSERT_EQ(WalkPackage(SumEntrySize, &sums), 1);
    uint64_t expected = 0;
    for (const Visit& v : recorder.visits) expected += v.data.size();
    EXPECT_EQ(sums.total_bytes, expected);

    // Its last entry ends exactly where the digest's trailer (20 bytes) begins, and the
    // digest checks.
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(101), RT_RCDATA);
    uint64_t framing = 12;
    for (const Visit& v : recorder.visits) framing += 10 + Utf8(v.name).size();
    EXPECT_EQ(SizeofResource(nullptr, resource), framing + expected + PACKAGE_DIGEST_BYTES);
    EXPECT_EQ(PackageIsIntact(), 1);
}

// The digest: the packer's trailer checks, and any one byte changed anywhere (data, names,
// framing, the trailer itself) or a package cut anywhere does not.
TEST(PackageDigest, AnyChangedByteOrCutFailsTheCheck)
{
    std::vector<uint8_t> package = ReadBytes(PackagePath());
    ASSERT_EQ(PackageBytesAreIntact(package.data(), (uint32_t)package.size()), 1);
    for (size_t at = 0; at < package.size(); at += 97) {
        package[at] ^= 0x01;
        EXPECT_EQ(PackageBytesAreIntact(package.data(), (uint32_t)package.size()), 0) << at;
        package[at] ^= 0x01;
    }
    package.back() ^= 0x80;
    EXPECT_EQ(PackageBytesAreIntact(package.data(), (uint32_t)package.size()), 0);
    package.back() ^= 0x80;
    for (size_t cut : {1u, 19u, 20u, 21u, 4096u})
        EXPECT_EQ(PackageBytesAreIntact(package.data(), (uint32_t)(package.size() - cut)), 0) << cut;
    EXPECT_EQ(PackageBytesAreIntact(package.data(), 0), 0);
    EXPECT_EQ(PackageBytesAreIntact(nullptr, 100), 0);
}
