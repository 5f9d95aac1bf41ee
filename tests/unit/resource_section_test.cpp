// The resource-section writer: the layout of the file it makes, byte by byte, and the
// resources the loader reads back from it, beside those of the system's update path.
#include <gtest/gtest.h>

#include <windows.h>
#include <imagehlp.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "base/little_endian.h"
#include "install/game_icon.h"
#include "formats/icon_images.h"
#include "formats/resource_section.h"
#include "rom/rom_image.h"
#include "tests/support/setup_runner.h"
#include "tests/support/test_support.h"

namespace {

typedef std::vector<uint8_t> Bytes;

std::wstring ResourceFixture(const wchar_t* name)
{
    return WindowsPath(TEST_WIDEN(TORRENTINE_TEST_RESOURCE_FIXTURES)) + L"\\" + name;
}

std::wstring StandinGame() { return StandinGameFolder() + L"\\TorrentinePC.exe"; }

// --- Reading a PE file in the test, independently of the writer ---------------------------

uint32_t U32(const Bytes& b, size_t at) { return ReadLe32(b.data() + at); }
void SetU32(Bytes* b, size_t at, uint32_t v) { PutLe32(b->data() + at, v); }

struct Headers {
    uint32_t pe, optional, table;
    int count;
};

Headers HeadersOf(const Bytes& b)
{
    Headers h;
    h.pe = U32(b, 60);
    h.optional = h.pe + 24;
    h.table = h.optional + ReadLe16(b.data() + h.pe + 20);
    h.count = ReadLe16(b.data() + h.pe + 6);
    return h;
}

struct SectionInfo {
    std::string name;
    uint32_t virtual_bytes, address, raw_bytes, raw_at, header_at;
};

std::vector<SectionInfo> SectionsOf(const Bytes& b)
{
    Headers h = HeadersOf(b);
    std::vector<SectionInfo> sections;
    for (int i = 0; i < h.count; i++) {
        size_t at = h.table + 40 * i;
        SectionInfo s;
        s.name.assign((const char*)b.data() + at, strnlen((const char*)b.data() + at, 8));
        s.virtual_bytes = U32(b, at + 8);
        s.address = U32(b, at + 12);
        s.raw_bytes = U32(b, at + 16);
        s.raw_at = U32(b, at + 20);
        s.header_at = (uint32_t)at;
        sections.push_back(s);
    }
    return sections;
}

int SectionIndex(const Bytes& b, const char* name)
{
    std::vector<SectionInfo> sections = SectionsOf(b);
    for (size_t i = 0; i < sections.size(); i++)
        if (sections[i].name == name) return (int)i;
    return -1;
}

uint32_t Optional(const Bytes& b, int offset) { return U32(b, HeadersOf(b).optional + offset); }
size_t DirectoryAt(const Bytes& b, int index) { return HeadersOf(b).optional + 112 + 8 * index; }
uint64_t Align(uint64_t v, uint32_t a) { return (v + a - 1) / a * a; }

// CheckSumMappedFile's checksum of the bytes as they are. A zero byte follows them: at an
// odd length Wine 8 reads the last word whole, one byte past the end (Windows and later
// Wine add the last byte alone, which comes to the same with a zero after it).
uint32_t SystemChecksum(Bytes bytes)
{
    DWORD header = 0, sum = 0, length = (DWORD)bytes.size();
    bytes.push_back(0);
    EXPECT_NE(CheckSumMappedFile(bytes.data(), length, &header, &sum), nullptr);
    return sum;
}

// --- Resources as the loader reads them ----------------------------------------------------

struct Resource {
    std::wstring type, name;
    int language;
    Bytes bytes;
    bool operator<(const Resource& o) const
    {
        return std::tie(type, name, language) < std::tie(o.type, o.name, o.language);
    }
    bool operator==(const Resource& o) const
    {
        return type == o.type && name == o.name && language == o.language && bytes == o.bytes;
    }
};

void PrintTo(const Resource& r, std::ostream* out)
{
    *out << Utf8(r.type) << "/" << Utf8(r.name) << "/" << r.language << " (" << r.bytes.size()
         << " bytes)";
}

std::wstring Key(LPCWSTR id)
{
    return IS_INTRESOURCE(id) ? L"#" + std::to_wstring((ULONG_PTR)id) : std::wstring(id);
}

BOOL CALLBACK DumpLanguage(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR param)
{
    Resource r = {Key(type), Key(name), language, {}};
    HRSRC found = FindResourceExW(module, type, name, language);
    const uint8_t* bytes = found ? (const uint8_t*)LockResource(LoadResource(module, found)) : nullptr;
    if (bytes) r.bytes.assign(bytes, bytes + SizeofResource(module, found));
    else r.language = -1 - language;  // listed but not found: shows in any comparison
    ((std::vector<Resource>*)param)->push_back(r);
    return TRUE;
}

BOOL CALLBACK DumpName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param)
{
    EnumResourceLanguagesW(module, type, name, DumpLanguage, param);
    return TRUE;
}

BOOL CALLBACK DumpType(HMODULE module, LPWSTR type, LONG_PTR param)
{
    EnumResourceNamesW(module, type, DumpName, param);
    return TRUE;
}

std::vector<Resource> ResourcesOf(const std::wstring& exe)
{
    std::vector<Resource> all;
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    EXPECT_NE(module, nullptr) << Utf8(exe);
    if (!module) return all;
    EnumResourceTypesW(module, DumpType, (LONG_PTR)&all);
    FreeLibrary(module);
    std::sort(all.begin(), all.end());
    return all;
}

// --- The writer's input and output -----------------------------------------------------

class ResourceSectionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        uint8_t* image = nullptr;
        uint32_t length = 0;
        ASSERT_EQ(LoadRomImage(FixturePath(L"fixture.z64").c_str(), &image, &length), ROMCHECK_ACCEPTED);
        ASSERT_EQ(BuildIconImages(&icon, image, length), 1);
        FreeRomImage(image);
        FillIconGroupRecord(group, icon.image_bytes);
    }
    static void TearDownTestSuite() { FreeIconImages(&icon); }
    void SetUp() override { folder = MakeScratchFolder(L"rsrc"); }
    void TearDown() override { RemoveScratchFolder(folder); }

    static NewIconResources NewIcons()
    {
        NewIconResources icons;
        for (int k = 0; k < ICON_IMAGE_COUNT; k++) {
            icons.images[k] = icon.images[k];
            icons.image_bytes[k] = icon.image_bytes[k];
        }
        icons.group = group;
        icons.group_bytes = sizeof group;
        return icons;
    }

    // The writer's file for exe, or the refusal code.
    static int LayOut(const Bytes& exe, Bytes* out, int* language = nullptr)
    {
        NewIconResources icons = NewIcons();
        ExecutableLayout layout;
        int code = LayOutIconResources(exe.data(), (uint32_t)exe.size(), &icons, &layout);
        out->clear();
        for (int i = 0; i < layout.piece_count; i++) {
            const FilePiece& piece = layout.pieces[i];
            if (piece.bytes) out->insert(out->end(), piece.bytes, piece.bytes + piece.count);
            else out->insert(out->end(), piece.count, 0);
        }
        if (code == LAYOUT_DONE) {
            EXPECT_EQ(out->size(), layout.file_bytes);
        } else {
            EXPECT_EQ(layout.pieces, nullptr);
        }
        if (language) *language = layout.language;
        FreeExecutableLayout(&layout);
        return code;
    }

    // What both paths must leave: the old resources without the numbered icons and
    // groups, and the six new icons with their group in the given language.
    static std::vector<Resource> Expected(std::vector<Resource> before, int language)
    {
        before.erase(std::remove_if(before.begin(), before.end(),
                                    [](const Resource& r) {
                                        return (r.type == L"#3" || r.type == L"#14") && r.name[0] == L'#';
                                    }),
                     before.end());
        for (int k = 0; k < ICON_IMAGE_COUNT; k++)
            before.push_back({L"#3", L"#" + std::to_wstring(k + 1), language,
                              Bytes(icon.images[k], icon.images[k] + icon.image_bytes[k])});
        before.push_back({L"#14", L"#1", language, Bytes(group, group + sizeof group)});
        std::sort(before.begin(), before.end());
        return before;
    }

    std::wstring folder;
    static GameIconImages icon;
    static uint8_t group[ICON_GROUP_BYTES];
};

GameIconImages ResourceSectionTest::icon;
uint8_t ResourceSectionTest::group[ICON_GROUP_BYTES];

const char OVERLAY[] = "appended data of odd length";  // 27 bytes, then a terminator

// Appends data after the sections; with a certificate, an 8-aligned table that the
// security directory names, and more data after it.
Bytes WithAppendedData(Bytes exe, bool certificate)
{
    exe.insert(exe.end(), OVERLAY, OVERLAY + sizeof OVERLAY);
    if (certificate) {
        exe.resize(Align(exe.size(), 8), 0);
        uint32_t at = (uint32_t)exe.size();
        Bytes table(24, 0xCE);
        PutLe32(table.data(), 24);
        exe.insert(exe.end(), table.begin(), table.end());
        SetU32(&exe, DirectoryAt(exe, 4), at);
        SetU32(&exe, DirectoryAt(exe, 4) + 4, 24);
        exe.insert(exe.end(), {'T', 'A', 'I', 'L'});
    }
    return exe;
}

}  // namespace

TEST_F(ResourceSectionTest, BothPathsGiveTheLoaderTheSameResources)
{
    enum Extra { NOTHING, APPENDED, CERTIFICATE };
    struct Case {
        const char* what;
        std::wstring exe;
        Extra extra;
        int code;
        int language;
        bool runs;  // a fixture program: its exit code is the size of its icon group 1
    };
    const Case cases[] = {
        {"the stand-in game", StandinGame(), NOTHING, LAYOUT_DONE, 1033, false},
        {"groups in German, then English", ResourceFixture(L"german.exe"), NOTHING, LAYOUT_DONE, 1031, true},
        {"string-named types and names", ResourceFixture(L"named.exe"), NOTHING, LAYOUT_DONE, 1033, true},
        {"no icons at all", ResourceFixture(L"no_icons.exe"), NOTHING, LAYOUT_DONE, 1033, true},
        {"75 old icons in 25 groups", ResourceFixture(L"many_icons.exe"), NOTHING, LAYOUT_DONE, 1033, true},
        {"resources last, no .reloc", ResourceFixture(L"named_last.exe"), NOTHING, LAYOUT_DONE, 1033, true},
        {"debug sections after .reloc", ResourceFixture(L"named_unstripped.exe"), NOTHING,
         LAYOUT_SECTION_AFTER, 1033, true},
        {"appended data", ResourceFixture(L"named.exe"), APPENDED, LAYOUT_DONE, 1033, true},
        {"a certificate table (signed: kept as it is)", ResourceFixture(L"named.exe"), CERTIFICATE,
         LAYOUT_DONE, 1033, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes original = ReadBytes(c.exe);
        ASSERT_FALSE(original.empty());
        if (c.extra != NOTHING) original = WithAppendedData(original, c.extra == CERTIFICATE);
        std::wstring before = folder + L"\\before.exe";
        ASSERT_TRUE(WriteBytes(before, original.data(), original.size()));
        // A signed executable keeps every byte: its resources stay the old ones.
        bool kept = c.extra == CERTIFICATE;
        std::vector<Resource> expected = kept ? ResourcesOf(before) : Expected(ResourcesOf(before), c.language);

        Bytes laid_out;
        EXPECT_EQ(LayOut(original, &laid_out), c.code);

        // The extraction's path: written once with the new icons, or as it is and then
        // updated at the icon step.
        std::wstring written = folder + L"\\written", updated = folder + L"\\updated";
        CreateDirectoryW(written.c_str(), nullptr);
        CreateDirectoryW(updated.c_str(), nullptr);
        GameIconImages images = icon;
        int created = 0;
        ASSERT_EQ(WriteGameExecutable((written + L"\\TorrentinePC.exe").c_str(), original.data(),
                                      (uint32_t)original.size(), &images, &created), 1);
        EXPECT_EQ(created, 1);
        EXPECT_EQ(images.executable_written, c.code == LAYOUT_DONE && !kept);
        if (c.code == LAYOUT_DONE && !kept) {
            EXPECT_TRUE(ReadBytes(written + L"\\TorrentinePC.exe") == laid_out);
        }
        EXPECT_EQ(StoreGameIcon(written.c_str(), &images), 1);

        // The update path alone, as for an executable the writer does not handle.
        ASSERT_TRUE(WriteBytes(updated + L"\\TorrentinePC.exe", original.data(), original.size()));
        images.executable_written = 0;
        EXPECT_EQ(StoreGameIcon(updated.c_str(), &images), 1);
        if (kept) {
            EXPECT_TRUE(ReadBytes(written + L"\\TorrentinePC.exe") == original);
            EXPECT_TRUE(ReadBytes(updated + L"\\TorrentinePC.exe") == original);
            EXPECT_TRUE(FileExists(written + L"\\Torrentine PC.ico"));
        }

        std::vector<Resource> from_writer = ResourcesOf(written + L"\\TorrentinePC.exe");
        EXPECT_EQ(from_writer, expected);
        EXPECT_EQ(ResourcesOf(updated + L"\\TorrentinePC.exe"), expected);
        if (c.runs && !kept) {
            EXPECT_EQ(RunProgram(written + L"\\TorrentinePC.exe", L"", 60000).exit_code,
                      (DWORD)ICON_GROUP_BYTES);
        }
        RemoveScratchFolder(written);
        RemoveScratchFolder(updated);
    }
}

TEST_F(ResourceSectionTest, TheHeadersDescribeTheNewLayout)
{
    bool grew = false, shrank = false;  // .reloc moves up for some, down for 75 old icons
    for (const std::wstring& exe : {StandinGame(), ResourceFixture(L"named.exe"),
                                    ResourceFixture(L"named_last.exe"), ResourceFixture(L"many_icons.exe")}) {
        SCOPED_TRACE(Utf8(exe));
        Bytes old = ReadBytes(exe), out;
        ASSERT_EQ(LayOut(old, &out), LAYOUT_DONE);
        std::vector<SectionInfo> before = SectionsOf(old), after = SectionsOf(out);
        ASSERT_EQ(after.size(), before.size());
        int r = SectionIndex(out, ".rsrc");
        ASSERT_GE(r, 0);
        uint32_t file_alignment = Optional(out, 36), section_alignment = Optional(out, 32);
        uint32_t headers = Optional(out, 60);

        // Everything before the resources stays where and as it was.
        for (int i = 0; i < r; i++) {
            EXPECT_TRUE(std::equal(old.begin() + before[i].header_at, old.begin() + before[i].header_at + 40,
                                   out.begin() + after[i].header_at));
        }
        EXPECT_TRUE(std::equal(old.begin() + headers, old.begin() + before[r].raw_at, out.begin() + headers));
        EXPECT_EQ(HeadersOf(out).table, HeadersOf(old).table);

        // The resource section: same place, new size, padded to the file alignment.
        const SectionInfo& rsrc = after[r];
        EXPECT_EQ(rsrc.address, before[r].address);
        EXPECT_EQ(rsrc.raw_at, before[r].raw_at);
        EXPECT_EQ(U32(out, DirectoryAt(out, 2)), rsrc.address);
        EXPECT_EQ(U32(out, DirectoryAt(out, 2) + 4), rsrc.virtual_bytes);
        EXPECT_EQ(rsrc.raw_bytes, Align(rsrc.virtual_bytes, file_alignment));
        EXPECT_EQ(Optional(out, 8) - Optional(old, 8), rsrc.raw_bytes - before[r].raw_bytes);
        grew = grew || rsrc.raw_bytes > before[r].raw_bytes;
        shrank = shrank || rsrc.raw_bytes < before[r].raw_bytes;

        // .reloc, when there is one, right after it, with the same bytes and its directory.
        const SectionInfo& last = after.back();
        if (r + 1 < (int)after.size()) {
            EXPECT_EQ(last.name, ".reloc");
            EXPECT_EQ(last.address, Align(rsrc.address + rsrc.virtual_bytes, section_alignment));
            EXPECT_EQ(last.raw_at, rsrc.raw_at + rsrc.raw_bytes);
            EXPECT_EQ(last.raw_bytes, before.back().raw_bytes);
            EXPECT_TRUE(std::equal(old.begin() + before.back().raw_at,
                                   old.begin() + before.back().raw_at + last.raw_bytes,
                                   out.begin() + last.raw_at));
            EXPECT_EQ(U32(out, DirectoryAt(out, 5)) - last.address,
                      U32(old, DirectoryAt(old, 5)) - before.back().address);
            EXPECT_EQ(U32(out, DirectoryAt(out, 5) + 4), U32(old, DirectoryAt(old, 5) + 4));
        }
        EXPECT_EQ(Optional(out, 56), Align(last.address + last.virtual_bytes, section_alignment));
        EXPECT_EQ(out.size(), (size_t)last.raw_at + last.raw_bytes);

        // The checksum: nonzero in the linker's output, recomputed for the new bytes.
        ASSERT_NE(Optional(old, 64), 0u);
        EXPECT_EQ(Optional(out, 64), SystemChecksum(out));
        EXPECT_NE(Optional(out, 64), Optional(old, 64));
    }
    EXPECT_TRUE(grew);
    EXPECT_TRUE(shrank);
}

TEST_F(ResourceSectionTest, AppendedDataIsKeptAndACertificateDropped)
{
    Bytes plain = ReadBytes(ResourceFixture(L"named.exe")), plain_out;
    ASSERT_EQ(LayOut(plain, &plain_out), LAYOUT_DONE);
    const Bytes overlay(OVERLAY, OVERLAY + sizeof OVERLAY);

    // Appended data, with a symbol table pointer into it: both move with the sections' end.
    Bytes appended = WithAppendedData(plain, false), out;
    Headers h = HeadersOf(appended);
    SetU32(&appended, h.pe + 12, (uint32_t)plain.size() + 4);
    ASSERT_EQ(LayOut(appended, &out), LAYOUT_DONE);
    ASSERT_EQ(out.size(), plain_out.size() + overlay.size());
    EXPECT_TRUE(std::equal(overlay.begin(), overlay.end(), out.end() - overlay.size()));
    EXPECT_EQ(U32(out, h.pe + 12), (uint32_t)plain_out.size() + 4);
    EXPECT_EQ(Optional(out, 64), SystemChecksum(out));

    // A certificate table: it no longer matches the file, so it goes with its directory
    // entry; the data around it stays.
    Bytes signed_exe = WithAppendedData(plain, true);
    ASSERT_EQ(LayOut(signed_exe, &out), LAYOUT_DONE);
    EXPECT_EQ(U32(out, DirectoryAt(out, 4)), 0u);
    EXPECT_EQ(U32(out, DirectoryAt(out, 4) + 4), 0u);
    Bytes tail(out.begin() + plain_out.size(), out.end());
    Bytes expected_tail = overlay;
    expected_tail.resize(Align(plain.size() + overlay.size(), 8) - plain.size(), 0);
    expected_tail.insert(expected_tail.end(), {'T', 'A', 'I', 'L'});
    EXPECT_TRUE(tail == expected_tail);
    EXPECT_EQ(Optional(out, 64), SystemChecksum(out));
}

// Where a change would move or rewrite something that is found by address or offset, or
// the loader could read the directory otherwise, the writer refuses and the update path
// takes over.
TEST_F(ResourceSectionTest, LayoutsItDoesNotHandleAreRefused)
{
    const Bytes named = ReadBytes(ResourceFixture(L"named.exe"));
    ASSERT_FALSE(named.empty());
    const Headers h = HeadersOf(named);
    const std::vector<SectionInfo> sections = SectionsOf(named);
    const SectionInfo rsrc = sections[SectionIndex(named, ".rsrc")];
    const SectionInfo reloc = sections[SectionIndex(named, ".reloc")];
    const uint32_t root = rsrc.raw_at;
    const uint32_t named_types = ReadLe16(named.data() + root + 12);
    ASSERT_GE(ReadLe16(named.data() + root + 14), 2);  // two numbered types to swap

    // The first leaf: down the first entry of each level.
    uint32_t table = root;
    for (int level = 0; level < 2; level++) table = root + (U32(named, table + 20) & 0x7FFFFFFF);
    const uint32_t first_data_entry = root + U32(named, table + 20);

    struct Case {
        const char* what;
        void (*patch)(Bytes*, const Headers&, const SectionInfo&, const SectionInfo&, uint32_t, uint32_t);
        int code;
    };
    const Case cases[] = {
        {"a 32-bit image", [](Bytes* b, const Headers& h, const SectionInfo&, const SectionInfo&, uint32_t, uint32_t) {
             PutLe16(b->data() + h.optional, 0x10B); }, LAYOUT_NOT_PE},
        {"no MZ", [](Bytes* b, const Headers&, const SectionInfo&, const SectionInfo&, uint32_t, uint32_t) {
             (*b)[0] = 'X'; }, LAYOUT_NOT_PE},
        {"cut inside the headers", [](Bytes* b, const Headers& h, const SectionInfo&, const SectionInfo&, uint32_t, uint32_t) {
             b->resize(h.optional + 100); }, LAYOUT_NOT_PE},
        {"cut inside the sections", [](Bytes* b, const Headers&, const SectionInfo& rsrc, const SectionInfo&, uint32_t, uint32_t) {
             b->resize(rsrc.raw_at + 16); }, LAYOUT_NOT_PE},
        {"no section named .rsrc", [](Bytes* b, const Headers&, const SectionInfo& rsrc, const SectionInfo&, uint32_t, uint32_t) {
             (*b)[rsrc.header_at + 4] = 'x'; }, LAYOUT_NO_RESOURCES},
        {"no resource directory", [](Bytes* b, const Headers&, const SectionInfo&, const SectionInfo&, uint32_t, uint32_t) {
             SetU32(b, DirectoryAt(*b, 2), 0); }, LAYOUT_NO_RESOURCES},
        {"another section after the resources", [](Bytes* b, const Headers&, const SectionInfo&, const SectionInfo& reloc, uint32_t, uint32_t) {
             memcpy(b->data() + reloc.header_at, ".data2\0", 8); }, LAYOUT_SECTION_AFTER},
        {"debug data inside the resources", [](Bytes* b, const Headers&, const SectionInfo& rsrc, const SectionInfo&, uint32_t, uint32_t) {
             SetU32(b, DirectoryAt(*b, 6), rsrc.address + 16);
             SetU32(b, DirectoryAt(*b, 6) + 4, 28); }, LAYOUT_REFERENCED},
        {"a fixup inside the resources", [](Bytes* b, const Headers&, const SectionInfo& rsrc, const SectionInfo& reloc, uint32_t, uint32_t) {
             SetU32(b, reloc.raw_at, rsrc.address); }, LAYOUT_REFERENCED},
        {"a symbol table inside the sections", [](Bytes* b, const Headers& h, const SectionInfo& rsrc, const SectionInfo&, uint32_t, uint32_t) {
             SetU32(b, h.pe + 12, rsrc.raw_at); }, LAYOUT_REFERENCED},
        {"a certificate inside the sections", [](Bytes* b, const Headers&, const SectionInfo& rsrc, const SectionInfo&, uint32_t, uint32_t) {
             SetU32(b, DirectoryAt(*b, 4), rsrc.raw_at);
             SetU32(b, DirectoryAt(*b, 4) + 4, 16); }, LAYOUT_REFERENCED},
        {"numbered types out of order", [](Bytes* b, const Headers&, const SectionInfo& rsrc, const SectionInfo&, uint32_t named_types, uint32_t) {
             uint8_t* first = b->data() + rsrc.raw_at + 16 + 8 * named_types;
             for (int i = 0; i < 8; i++) std::swap(first[i], first[8 + i]); }, LAYOUT_ODD_DIRECTORY},
        {"a table outside the section", [](Bytes* b, const Headers&, const SectionInfo& rsrc, const SectionInfo&, uint32_t, uint32_t) {
             SetU32(b, rsrc.raw_at + 20, 0x80000000u | (rsrc.raw_bytes - 8)); }, LAYOUT_ODD_DIRECTORY},
        {"a table that leads back to the root", [](Bytes* b, const Headers&, const SectionInfo& rsrc, const SectionInfo&, uint32_t, uint32_t) {
             SetU32(b, rsrc.raw_at + 20, 0x80000000u); }, LAYOUT_ODD_DIRECTORY},
        {"resource data outside the section", [](Bytes* b, const Headers&, const SectionInfo&, const SectionInfo&, uint32_t, uint32_t entry) {
             SetU32(b, entry, 0x1000); }, LAYOUT_ODD_DIRECTORY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes patched = named, out;
        c.patch(&patched, h, rsrc, reloc, named_types, first_data_entry);
        EXPECT_EQ(LayOut(patched, &out), c.code);
    }
}

// The checksum over pieces that start and end at odd places, with runs of zeros given as
// pieces without bytes, is the system's over the whole file.
TEST_F(ResourceSectionTest, ChecksumMatchesTheSystemsOverAnySplit)
{
    for (size_t extra : {0, 1}) {
        Bytes file = ReadBytes(StandinGame());
        ASSERT_FALSE(file.empty());
        file.resize(file.size() + extra, 0x5A);  // an odd length too
        SetU32(&file, HeadersOf(file).optional + 64, 0);
        uint32_t expected = SystemChecksum(file);

        std::vector<FilePiece> pieces;
        size_t at = 0;
        for (uint32_t step : {1u, 3u, 2u, 7u, 4096u, 5u, 0u}) {
            pieces.push_back({file.data() + at, step});
            at += step;
        }
        int zero_pieces = 0;
        for (; at < file.size(); at += 61) {  // odd steps: pieces start at either parity
            uint32_t count = (uint32_t)std::min<size_t>(61, file.size() - at);
            bool zero = std::all_of(file.begin() + at, file.begin() + at + count,
                                    [](uint8_t b) { return b == 0; });
            pieces.push_back({zero ? nullptr : file.data() + at, count});
            zero_pieces += zero;
        }
        EXPECT_GT(zero_pieces, 0);
        EXPECT_EQ(ImageChecksumOfPieces(pieces.data(), (int)pieces.size()), expected) << extra;
    }
}
