// The real test-flavour setup program, run silently in a child process as a script would,
// and what it leaves on disk, in the registry and in the shell.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <map>
#include <set>
#include <functional>
#include <string>
#include <vector>

#include "base/little_endian.h"
#include "formats/file_digest.h"
#include "formats/image_signature.h"
#include "install/game_icon.h"
#include "formats/icon_images.h"
#include "formats/resource_section.h"
#include "install/package_extraction.h"
#include "install/release_files.h"
#include "package/package_format.h"
#include "tests/support/look_alike_folders.h"
#include "package/setup_file_digest.h"
#include "tests/support/package_builder.h"
#include "tests/support/setup_runner.h"
#include "tests/support/test_support.h"

namespace {

const char* const ROM_TEXTS[5] = {
    "",
    "Can't open that file.",
    "That file isn't a Nintendo 64 ROM.",
    "That's a different ROM. Setup needs the Torrentine prototype dated Jun 15, 1999 (16 MB).",
    "That's a .zip archive: unzip it first, then choose the .z64 / .v64 / .n64 file inside.",
};

std::string InstalledOutput(const std::wstring& folder, bool with_rom = true)
{
    std::string out;
    if (with_rom) out += "Checking the ROM...\n";
    out += "Writing the PC version...\n";
    if (with_rom) out += "Storing the ROM...\n";
    out += "Adding the game icon...\n";
    out += "Done! Torrentine PC is installed in " + Utf8(folder) + "\n";
    return out;
}

// Every entry directly in folder, files with their size and last write: what an install
// into that folder would change. (A folder's own times change with what happens below it,
// such as the temporary folders of other tests.)
std::vector<std::string> TopLevelEntries(const std::wstring& folder)
{
    std::vector<std::string> entries;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return entries;
    do {
        char facts[96] = "|folder";
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            snprintf(facts, sizeof facts, "|%lu|%lu|%lu", entry.nFileSizeLow,
                     entry.ftLastWriteTime.dwLowDateTime, entry.ftLastWriteTime.dwHighDateTime);
        entries.push_back(Utf8(entry.cFileName) + facts);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    std::sort(entries.begin(), entries.end());
    return entries;
}

// Every file below folder with its bytes.
std::vector<std::pair<std::wstring, std::vector<uint8_t>>> FilesWithBytes(const std::wstring& folder)
{
    std::vector<std::pair<std::wstring, std::vector<uint8_t>>> files;
    for (const std::wstring& relative : ListFilesBelow(folder))
        files.push_back({relative, ReadBytes(folder + L"\\" + relative)});
    return files;
}

std::wstring KnownFolder(REFKNOWNFOLDERID id)
{
    PWSTR path = nullptr;
    std::wstring text;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path))) text = path;
    CoTaskMemFree(path);
    return text;
}

const char* const TOO_LONG_START = "That folder path is too long: keep it to ";
const char* const ROM_TOO_LONG =
    "That ROM path is too long: move the file to a shorter path (at most 259 characters).\n";
const char* const RESERVED_TEXT =
    "That folder belongs to Windows or holds your own files: choose a folder just for the game.\n";
const char* const NOT_FULL_TEXT = "Use a full install path (for example C:\\Games\\Torrentine PC).\n";
const char* const DEVICE_TEXT =
    "Use a plain folder path (for example C:\\Games\\Torrentine PC), without \\\\?\\ or \\\\.\\ in front.\n";
// Exactly what setup writes as "portable.txt", the mark of its installations.
const char* const MARK_TEXT = "Settings, saves, mods and the ROM copy are kept in this folder.\r\n";
const char* const OTHER_FILES_TEXT =
    "That folder already holds other files: choose a new or empty folder just for the game.\n";

class SilentInstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        RemoveShellEntries();
        root = MakeScratchFolder(L"silent");
        folder = root + L"\\Torrentine PC";
    }
    void TearDown() override
    {
        RemoveShellEntries();
        RemoveScratchFolder(root);
    }

    SetupRun Install(const std::wstring& arguments) { return RunProgram(TestSetupExe(), arguments); }
    std::wstring InFolder(const wchar_t* name) { return folder + L"\\" + name; }

    std::wstring root, folder;
};

std::wstring RomArgument(const wchar_t* fixture) { return L"/rom " + Quoted(FixturePath(fixture)); }

uint64_t PackageTotalBytes()
{
    std::vector<uint8_t> package = ReadBytes(PackagePath());
    ExtractContext sums = {};
    WalkPackageBytes(package.data(), (uint32_t)package.size(), SumEntrySize, &sums);
    return sums.total_bytes;
}

struct IconResources {
    bool loaded;
    std::vector<std::pair<int, int>> icons;   // (id, language)
    std::vector<std::pair<int, int>> groups;
    std::vector<std::vector<uint8_t>> icon_bytes;  // ids 1 to 6 when present
    std::vector<uint8_t> group_bytes;
    std::vector<uint8_t> padding;  // the stand-in game's own RCDATA 200
};

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR name, WORD language, LONG_PTR param)
{
    auto* list = (std::vector<std::pair<int, int>>*)param;
    list->push_back({IS_INTRESOURCE(name) ? (int)(ULONG_PTR)name : -1, language});
    return TRUE;
}

BOOL CALLBACK AddName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param)
{
    EnumResourceLanguagesW(module, type, name, AddLanguage, param);
    return TRUE;
}

std::vector<uint8_t> ResourceBytes(HMODULE module, LPCWSTR type, int id)
{
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!found) return {};
    const uint8_t* bytes = (const uint8_t*)LockResource(LoadResource(module, found));
    return std::vector<uint8_t>(bytes, bytes + SizeofResource(module, found));
}

IconResources ReadIconResources(const std::wstring& exe)
{
    IconResources icons = {};
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return icons;
    icons.loaded = true;
    EnumResourceNamesW(module, RT_ICON, AddName, (LONG_PTR)&icons.icons);
    EnumResourceNamesW(module, RT_GROUP_ICON, AddName, (LONG_PTR)&icons.groups);
    for (int id = 1; id <= 6; id++) icons.icon_bytes.push_back(ResourceBytes(module, RT_ICON, id));
    icons.group_bytes = ResourceBytes(module, RT_GROUP_ICON, 1);
    icons.padding = ResourceBytes(module, RT_RCDATA, 200);
    FreeLibrary(module);
    return icons;
}

// The game executable as the extraction writes it: the package's own, laid out anew by the
// resource-section writer with the icons of the fixture ROM (a z64 file is already the
// big-endian image), all in one file.
const std::vector<uint8_t>& GameExecutableWithNewIcons()
{
    static std::vector<uint8_t> out;
    if (!out.empty()) return out;
    std::vector<uint8_t> rom = ReadBytes(FixturePath(L"fixture.z64"));
    std::vector<uint8_t> exe = ReadBytes(StandinGameFolder() + L"\\TorrentinePC.exe");
    GameIconImages icon;
    if (!BuildIconImages(&icon, rom.data(), (uint32_t)rom.size())) return out;
    uint8_t group[ICON_GROUP_BYTES];
    FillIconGroupRecord(group, icon.image_bytes);
    NewIconResources resources;
    for (int k = 0; k < ICON_IMAGE_COUNT; k++) {
        resources.images[k] = icon.images[k];
        resources.image_bytes[k] = icon.image_bytes[k];
    }
    resources.group = group;
    resources.group_bytes = sizeof group;
    ExecutableLayout layout;
    if (LayOutIconResources(exe.data(), (uint32_t)exe.size(), &resources, &layout) == LAYOUT_DONE) {
        for (int i = 0; i < layout.piece_count; i++) {
            const FilePiece& piece = layout.pieces[i];
            if (piece.bytes) out.insert(out.end(), piece.bytes, piece.bytes + piece.count);
            else out.insert(out.end(), piece.count, 0);
        }
    }
    FreeExecutableLayout(&layout);
    FreeIconImages(&icon);
    return out;
}

uint32_t U32(const std::vector<uint8_t>& bytes, size_t at)
{
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | ((uint32_t)bytes[at + 3] << 24);
}

// Everything a full install leaves in the folder, in the executable and in the shell.
void ExpectInstalled(const std::wstring& folder, bool desktop, bool start_menu)
{
    // Every package file, byte for byte; the game's icons are rewritten, the rest kept.
    std::wstring game = StandinGameFolder();
    for (const std::wstring& relative : ListFilesBelow(game)) {
        if (relative == L"TorrentinePC.exe") continue;
        EXPECT_TRUE(ReadBytes(folder + L"\\" + relative) == ReadBytes(game + L"\\" + relative))
            << Utf8(relative);
    }
    std::vector<uint8_t> note = ReadBytes(folder + L"\\portable.txt");
    EXPECT_EQ(std::string(note.begin(), note.end()),
              "Settings, saves, mods and the ROM copy are kept in this folder.\r\n");
    EXPECT_EQ(note.size(), 65u);
    EXPECT_TRUE(ReadBytes(folder + L"\\torrentine.n64.proto.19990615.z64") ==
                ReadBytes(FixturePath(L"fixture.z64")));
    EXPECT_FALSE(FileExists(folder + L"\\torrentine.n64.proto.19990615.z64.partial"));
    EXPECT_TRUE(ReadBytes(folder + L"\\Uninstall.exe") == ReadBytes(TestSetupExe()));

    std::vector<uint8_t> ico = ReadBytes(folder + L"\\Torrentine PC.ico");
    ASSERT_EQ(ico.size(), 304886u);
    const uint32_t offsets[6] = {102, 270478, 287414, 297054, 301318, 303758};
    const uint32_t sizes[6] = {270376, 16936, 9640, 4264, 2440, 1128};
    EXPECT_EQ(ico[2], 1);
    EXPECT_EQ(ico[4], 6);
    IconResources icons = ReadIconResources(folder + L"\\TorrentinePC.exe");
    ASSERT_TRUE(icons.loaded);
    std::vector<std::pair<int, int>> expected_icons;
    for (int id = 1; id <= 6; id++) expected_icons.push_back({id, 1033});
    EXPECT_EQ(icons.icons, expected_icons);  // the stand-in's own three icons are gone
    EXPECT_EQ(icons.groups, (std::vector<std::pair<int, int>>{{1, 1033}}));
    ASSERT_EQ(icons.group_bytes.size(), 90u);
    for (int k = 0; k < 6; k++) {
        EXPECT_EQ(U32(ico, 6 + 16 * k + 8), sizes[k]);
        EXPECT_EQ(U32(ico, 6 + 16 * k + 12), offsets[k]);
        std::vector<uint8_t> image(ico.begin() + offsets[k], ico.begin() + offsets[k] + sizes[k]);
        EXPECT_TRUE(icons.icon_bytes[k] == image) << "icon " << k + 1;
        EXPECT_EQ(U32(icons.group_bytes, 6 + 14 * k + 8), sizes[k]);
        EXPECT_EQ(icons.group_bytes[6 + 14 * k + 12], k + 1);
    }
    EXPECT_EQ(icons.padding.size(), ReadIconResources(game + L"\\TorrentinePC.exe").padding.size());
    EXPECT_FALSE(icons.padding.empty());
    // Written once, with its new icons, during the extraction (not rewritten afterwards).
    ASSERT_FALSE(GameExecutableWithNewIcons().empty());
    EXPECT_TRUE(ReadBytes(folder + L"\\TorrentinePC.exe") == GameExecutableWithNewIcons());

    // Shortcuts as the shell reads them back.
    std::wstring exe = folder + L"\\TorrentinePC.exe";
    std::wstring icon = folder + L"\\Torrentine PC.ico";
    for (int which = 0; which < 2; which++) {
        std::wstring path = which == 0 ? DesktopShortcut() : StartMenuShortcut();
        bool wanted = which == 0 ? desktop : start_menu;
        EXPECT_EQ(FileExists(path), wanted) << Utf8(path);
        if (!wanted) continue;
        ShortcutInfo link = ReadShortcut(path);
        ASSERT_TRUE(link.loaded);
        EXPECT_EQ(link.target, exe);
        EXPECT_EQ(link.working_folder, folder);
        EXPECT_EQ(link.icon_path, icon);
        EXPECT_EQ(link.icon_index, 0);
        EXPECT_EQ(link.description, L"Torrentine PC");
    }

    // The uninstall entry: eleven values with their types (Wine lists values by name).
    std::vector<std::wstring> names = {L"DisplayIcon", L"DisplayName", L"DisplayVersion",
                                       L"EstimatedSize", L"InstallDate", L"InstallLocation", L"NoModify",
                                       L"NoRepair", L"Publisher", L"QuietUninstallString", L"UninstallString"};
    std::vector<std::wstring> listed = UninstallValueNames();
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, names);
    struct Text {
        const wchar_t* name;
        std::wstring value;
    };
    const Text texts[] = {
        {L"DisplayName", L"Torrentine PC"},
        {L"DisplayIcon", icon},
        {L"UninstallString", L"\"" + folder + L"\\Uninstall.exe\" /uninstall"},
        {L"QuietUninstallString", L"\"" + folder + L"\\Uninstall.exe\" /uninstall /S"},
        {L"InstallLocation", folder},
        {L"Publisher", L"Torrentine PC port"},
        {L"DisplayVersion", L"1.0"},
    };
    for (const Text& t : texts) {
        RegValue value = ReadUninstallValue(t.name);
        EXPECT_EQ(value.type, (DWORD)REG_SZ) << Utf8(t.name);
        EXPECT_EQ(value.bytes.size(), (t.value.size() + 1) * 2) << Utf8(t.name);
        EXPECT_EQ(value.Text(), t.value + std::wstring(1, L'\0')) << Utf8(t.name);
    }
    EXPECT_EQ(ReadUninstallValue(L"NoModify").Dword(), 1u);
    EXPECT_EQ(ReadUninstallValue(L"NoRepair").type, (DWORD)REG_DWORD);
    uint64_t bytes = 0;
    for (const std::wstring& relative : ListFilesBelow(folder))
        bytes += ReadBytes(folder + L"\\" + relative).size();
    EXPECT_EQ(ReadUninstallValue(L"EstimatedSize").Dword(), (DWORD)(bytes >> 10));
}

}  // namespace

TEST_F(SilentInstall, RefusalsPrintTheirTextAndWriteNothing)
{
    std::wstring not_rom = root + L"\\notes.txt";
    std::vector<uint8_t> text(8192, 'a');
    ASSERT_TRUE(WriteBytes(not_rom, text.data(), text.size()));
    std::wstring foreign = root + L"\\other.z64";
    std::vector<uint8_t> other = ReadBytes(FixturePath(L"fixture.z64"));
    other[0x1000] ^= 1;
    ASSERT_TRUE(WriteBytes(foreign, other.data(), other.size()));
    std::wstring zip = root + L"\\rom.zip";
    std::vector<uint8_t> archive(8192, 0);
    archive[0] = 'P';
    archive[1] = 'K';
    ASSERT_TRUE(WriteBytes(zip, archive.data(), archive.size()));

    struct Case {
        std::wstring arguments;
        std::string out;
    };
    const std::string checking = "Checking the ROM...\n";
    const Case cases[] = {
        {L"/S /dir \"\"", "Choose a folder to install to.\n"},
        {L"/S /dir \"  \" " + RomArgument(L"fixture.z64"), "Choose a folder to install to.\n"},
        {L"/S /dir \"Games\\Torrentine PC\" " + RomArgument(L"fixture.z64"),
         "Use a full install path (for example C:\\Games\\Torrentine PC).\n"},
        {L"/S /dir " + Quoted(folder) + L" /rom " + Quoted(root + L"\\missing.z64"),
         checking + ROM_TEXTS[1] + "\n"},
        {L"/S /dir " + Quoted(folder) + L" /rom " + Quoted(not_rom), checking + ROM_TEXTS[2] + "\n"},
        {L"/S /dir " + Quoted(folder) + L" /rom " + Quoted(foreign), checking + ROM_TEXTS[3] + "\n"},
        {L"/S /dir " + Quoted(folder) + L" /rom " + Quoted(zip), checking + ROM_TEXTS[4] + "\n"},
        {L"/S /dir " + Quoted(folder), "Choose your Torrentine ROM file (.z64, .v64 or .n64).\n"},
        // Refused as the window refuses it, before the ROM is read.
        {L"/S /dir \"Q:\\Games\\Torrentine PC\" " + RomArgument(L"fixture.z64"),
         "There is no drive Q: on this computer: choose a folder on another drive.\n"},
        // A value option as the last argument is an error, never a fall-back to a default.
        {L"/S /dir " + Quoted(folder) + L" /rom", "The /rom option needs a ROM file after it.\n"},
        {L"/S " + RomArgument(L"fixture.z64") + L" /dir", "The /dir option needs a folder after it.\n"},
        // The value of "/rom" is whatever follows it, here "/dir".
        {L"/S /rom /dir " + Quoted(folder), checking + ROM_TEXTS[1] + "\n"},
        {L"/s /DIR " + Quoted(folder) + L" /ROM " + Quoted(zip), checking + ROM_TEXTS[4] + "\n"},
    };
    for (const Case& c : cases) {
        SetupRun run = Install(c.arguments);
        EXPECT_TRUE(run.finished) << Utf8(c.arguments);
        EXPECT_EQ(run.exit_code, 1u) << Utf8(c.arguments);
        EXPECT_EQ(run.out, c.out) << Utf8(c.arguments);
        EXPECT_FALSE(FolderExists(folder)) << Utf8(c.arguments);
        EXPECT_FALSE(ReadUninstallValue(L"DisplayName").present);
    }
}

TEST_F(SilentInstall, ABadRomIsNotRescuedByAValidCopyInTheFolder)
{
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    std::vector<uint8_t> copy = ReadBytes(FixturePath(L"fixture.n64"));
    ASSERT_TRUE(WriteBytes(InFolder(L"torrentine.n64.proto.19990615.z64"), copy.data(), copy.size()));
    ASSERT_TRUE(WriteText(InFolder(L"portable.txt"), MARK_TEXT));
    SetupRun run = Install(L"/S /dir " + Quoted(folder) + L" /rom " + Quoted(root + L"\\none.z64"));
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.out, std::string("Checking the ROM...\n") + ROM_TEXTS[1] + "\n");
    EXPECT_EQ(ListFilesBelow(folder).size(), 2u);
    EXPECT_TRUE(ReadBytes(InFolder(L"torrentine.n64.proto.19990615.z64")) == copy);
}

TEST_F(SilentInstall, AFolderThatCannotBeCreated)
{
    ASSERT_TRUE(WriteText(root + L"\\a file", "x"));
    std::wstring below_file = root + L"\\a file\\Torrentine PC";
    SetupRun run = Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(below_file));
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.out, "Checking the ROM...\nCan't create the folder \"" + Utf8(below_file) +
                           "\". Pick another place (one you can write to).\n");
}

TEST_F(SilentInstall, TooLittleFreeSpaceOnARealSmallDrive)
{
    if (!HasSmallDrive())
        GTEST_SKIP() << "no small drive T: (the test run mounts one when it runs as root)";
    ULARGE_INTEGER available;
    ASSERT_TRUE(GetDiskFreeSpaceExW(L"T:\\", &available, nullptr, nullptr));
    std::wstring small = L"T:\\silent-" + std::to_wstring(GetCurrentProcessId());
    // The package, the margin, the ROM copy and the uninstaller (a copy of setup).
    uint64_t needed = PackageTotalBytes() + 16777216ull + (16u << 20) + ReadBytes(TestSetupExe()).size();
    ASSERT_LT(available.QuadPart, needed);
    SetupRun run = Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(small));
    EXPECT_EQ(run.exit_code, 1u);
    char mb[32];
    snprintf(mb, sizeof mb, "%.0f", (double)needed / 1048576.0);
    EXPECT_EQ(run.out, std::string("Checking the ROM...\nNot enough free space: needs ") + mb + " MB.\n");
    EXPECT_TRUE(ListFilesBelow(small).empty());
    RemoveScratchFolder(small);
}

// A damaged setup program (a bad download, a bad disk, a tampered mirror): one byte changed
// in the first entry's data, in the last entry's, in a name, or in the digest itself, a
// package cut short or not there. Each is refused before anything is written, a new
// install and an update alike (the installation stays byte for byte), and its uninstaller
// removes nothing.
TEST_F(SilentInstall, ADamagedPackageIsReportedAsSuch)
{
    std::vector<uint8_t> package = ReadBytes(PackagePath());
    ASSERT_GT(package.size(), 1000u);
    ASSERT_EQ(std::string(package.end() - 20, package.end() - 16), "TNDG");
    const size_t first_data = 12 + 2 + 16 + 8;  // after "TorrentinePC.exe", the first entry's name
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        bool remove;
    };
    std::vector<Case> cases;
    auto changed = [&](const char* what, size_t at) {
        std::vector<uint8_t> bytes = package;
        bytes[at] ^= 0x20;
        cases.push_back({what, bytes, false});
    };
    changed("a byte of the first entry's data", first_data);
    changed("a byte of the last entry's data", package.size() - 21);
    changed("a byte of a name", 14);
    changed("a byte of the digest", package.size() - 1);
    changed("the magic", 0);
    cases.push_back({"cut short", std::vector<uint8_t>(package.begin(), package.end() - 30), false});
    cases.push_back({"cut by one byte", std::vector<uint8_t>(package.begin(), package.end() - 1), false});
    cases.push_back({"no digest", std::vector<uint8_t>(package.begin(), package.end() - 20), false});
    cases.push_back({"no package", package, true});

    ASSERT_EQ(Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(folder) +
                      L" /nodesktop /nostartmenu").exit_code, 0u);
    const auto installed = FilesWithBytes(folder);
    std::wstring fresh = root + L"\\Fresh";
    for (const Case& c : cases) {
        std::wstring copy = root + L"\\damaged setup.exe";
        ASSERT_TRUE(CopyWithPackage(TestSetupExe(), copy, c.bytes, c.remove)) << c.what;
        SetupRun run = RunProgram(copy, L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(fresh));
        EXPECT_EQ(run.exit_code, 1u) << c.what;
        EXPECT_EQ(run.out, "Checking the ROM...\nThe setup file is damaged: download it again.\n") << c.what;
        EXPECT_FALSE(FolderExists(fresh)) << c.what;
        run = RunProgram(copy, L"/S /dir " + Quoted(folder));
        EXPECT_EQ(run.exit_code, 1u) << c.what;
        EXPECT_EQ(run.out, "The setup file is damaged: download it again.\n") << c.what;
        EXPECT_TRUE(FilesWithBytes(folder) == installed) << c.what;
        EXPECT_TRUE(ReadUninstallValue(L"DisplayName").present) << c.what;
    }

    // A damaged uninstaller in the installation removes nothing.
    ASSERT_TRUE(CopyWithPackage(TestSetupExe(), root + L"\\damaged.exe", cases[0].bytes, false));
    ASSERT_TRUE(DeleteFileW(InFolder(L"Uninstall.exe").c_str()));
    ASSERT_TRUE(CopyFileW((root + L"\\damaged.exe").c_str(), InFolder(L"Uninstall.exe").c_str(), TRUE));
    const auto with_damaged = FilesWithBytes(folder);
    SetupRun run = RunProgram(InFolder(L"Uninstall.exe"), L"/uninstall /S /delsaves");
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_TRUE(FilesWithBytes(folder) == with_damaged);
}

namespace {

struct PackageEntries {
    std::vector<CraftedEntry> entries;
};

int CollectEntry(const wchar_t* name, const uint8_t* data, uint64_t size, void* context)
{
    ((PackageEntries*)context)->entries.push_back({Utf8(name), std::vector<uint8_t>(data, data + size)});
    return 1;
}

// The package's entries, in their order (the game executable first).
std::vector<CraftedEntry> PackageEntryList()
{
    std::vector<uint8_t> package = ReadBytes(PackagePath());
    PackageEntries collected;
    WalkPackageBytes(package.data(), (uint32_t)package.size(), CollectEntry, &collected);
    return collected.entries;
}

}  // namespace

// The file offset of a resource of the setup program exe: where the loader finds it, in
// the file. 0 when it has none.
uint32_t ResourceFileOffset(const std::wstring& exe, const std::vector<uint8_t>& image, const wchar_t* type,
                            const wchar_t* name)
{
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return 0;
    HRSRC found = FindResourceW(module, name, type);
    const uint8_t* bytes = found ? (const uint8_t*)LockResource(LoadResource(module, found)) : nullptr;
    uint32_t count = found ? SizeofResource(module, found) : 0;
    uint32_t rva = bytes ? (uint32_t)(bytes - (const uint8_t*)((ULONG_PTR)module & ~(ULONG_PTR)3)) : 0;
    FreeLibrary(module);
    return bytes ? FileOffsetOfRva(image.data(), FILE_DIGEST_HEADER_BYTES, rva, count) : 0;
}

size_t FindBytes(const std::vector<uint8_t>& image, const std::vector<uint8_t>& needle, size_t from, size_t to)
{
    auto at = std::search(image.begin() + from, image.begin() + to, needle.begin(), needle.end());
    return at == image.begin() + to ? 0 : (size_t)(at - image.begin());
}

// An update learns which files the installed release shipped from the installation's own
// uninstaller, read from its file: whole, every name; one changed byte anywhere in its
// package (the first, one in the last entry's data, the digest), not at all. This test
// program carries no package, so the installed one is never taken for its own.
TEST_F(SilentInstall, AnInstalledUninstallersNamesCountOnlyWhenItsPackageIsWhole)
{
    const std::wstring release2 = TestReleaseExe(2);
    HMODULE module = LoadLibraryExW(release2.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    const std::vector<uint8_t> package = ResourceBytes(module, RT_RCDATA, PACKAGE_RESOURCE_ID);
    FreeLibrary(module);
    ASSERT_GT(package.size(), 1000u);
    std::set<std::wstring> shipped;
    for (const std::wstring& name : ListFilesBelow(ReleaseGameFolder(2))) shipped.insert(name);
    ASSERT_FALSE(shipped.empty());

    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    struct Case {
        const char* what;
        size_t flipped;  // SIZE_MAX: none
    };
    const Case cases[] = {{"whole", SIZE_MAX},
                          {"the magic", 0},
                          {"the last entry's data", package.size() - 21},
                          {"the digest", package.size() - 1}};
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = package;
        if (c.flipped != SIZE_MAX) bytes[c.flipped] ^= 0x01;
        DeleteFileW(InFolder(L"Uninstall.exe").c_str());
        ASSERT_TRUE(CopyWithPackage(release2, InFolder(L"Uninstall.exe"), bytes, false)) << c.what;
        ReleaseNames names = {nullptr, 0};
        int read = ReadInstalledReleaseNames(folder.c_str(), &names);
        std::set<std::wstring> found;
        const wchar_t* name = names.names;
        for (uint32_t i = 0; name && i < names.count; i++, name += wcslen(name) + 1) found.insert(name);
        FreeReleaseNames(&names);
        EXPECT_EQ(read, c.flipped == SIZE_MAX ? 1 : 0) << c.what;
        EXPECT_TRUE(found == (c.flipped == SIZE_MAX ? shipped : std::set<std::wstring>())) << c.what;
    }
}

// Every build of the setup program is sealed with its whole file's digest, and sealing one
// again changes no byte (so the build stays reproducible); a signed file is never sealed
// over its signature.
TEST(SetupFileSeal, EveryFlavourIsSealedOnceAndForAll)
{
    for (const std::wstring& exe : {TestSetupExe(), ReleaseSetupExe(), TestReleaseExe(2), TestReleaseExe(3)}) {
        std::vector<uint8_t> image = ReadBytes(exe);
        ASSERT_GT(image.size(), 100000u) << Utf8(exe);
        EXPECT_EQ(SetupFileBytesAreSealed(image.data(), (uint32_t)image.size()), 1) << Utf8(exe);
        std::vector<uint8_t> again = image;
        EXPECT_EQ(SealSetupFileBytes(again.data(), (uint32_t)again.size()), SEAL_DONE) << Utf8(exe);
        EXPECT_TRUE(again == image) << Utf8(exe);
    }
    std::vector<uint8_t> image = ReadBytes(TestSetupExe());
    SignatureRegions regions;
    ASSERT_TRUE(ReadSignatureRegions(image.data(), FILE_DIGEST_HEADER_BYTES, &regions));
    PutLe32(&image[regions.certificate_entry_at], (uint32_t)image.size());
    PutLe32(&image[regions.certificate_entry_at + 4], 16);
    image.resize(image.size() + 16, 0);
    EXPECT_EQ(SealSetupFileBytes(image.data(), (uint32_t)image.size()), SEAL_SIGNED);
}

// One damaged byte anywhere in the setup program's file, not only in its package, is
// refused before anything is written: in the headers, in the code, in an icon image, in the
// package, in the digest itself, at the very end. What a signer changes (the checksum, a
// certificate table appended with its entry set) is left out, and such a file installs.
TEST_F(SilentInstall, ADamagedByteAnywhereInTheFileIsRefused)
{
    const std::wstring exe = TestSetupExe();
    const std::vector<uint8_t> image = ReadBytes(exe);
    ASSERT_GT(image.size(), 100000u);
    SignatureRegions regions;
    ASSERT_TRUE(ReadSignatureRegions(image.data(), FILE_DIGEST_HEADER_BYTES, &regions));
    uint32_t pe = ReadLe32(&image[0x3C]);
    uint32_t record_at = 0;
    ASSERT_EQ(FindFileDigestRecord(image.data(), (uint32_t)image.size(), &record_at), 1);
    // Code that never runs: the padding after a jump, in the first section (the code).
    uint32_t table = pe + 24 + ReadLe16(&image[pe + 20]);
    ASSERT_EQ(std::string((const char*)&image[table], 5), ".text");
    uint32_t code_at = ReadLe32(&image[table + 20]), code_bytes = ReadLe32(&image[table + 8]);
    size_t jump = 0;
    for (size_t at = code_at; at + 7 < code_at + code_bytes && !jump; at++)
        if (image[at] == 0xE9 && image[at + 5] == 0x90 && image[at + 6] == 0x90) jump = at;
    ASSERT_NE(jump, 0u);
    uint32_t icon_at = ResourceFileOffset(exe, image, RT_ICON, MAKEINTRESOURCEW(1));
    uint32_t package_at = ResourceFileOffset(exe, image, RT_RCDATA, MAKEINTRESOURCEW(101));
    ASSERT_NE(icon_at, 0u);
    ASSERT_NE(package_at, 0u);
    size_t stub_text = FindBytes(image, {'T', 'h', 'i', 's', ' ', 'p', 'r', 'o', 'g'}, 0, pe);
    ASSERT_NE(stub_text, 0u);

    struct Case {
        const char* what;
        size_t at;
    };
    const Case refused[] = {
        {"the DOS stub's text", stub_text + 3},
        {"the PE header's time stamp", pe + 8},
        {"code after a jump", jump + 5},
        {"an icon image", icon_at + 40},
        {"the package", package_at + 100},
        {"the file's digest", record_at + FILE_DIGEST_MAGIC_BYTES + 5},
        {"the last byte", image.size() - 1},
    };
    std::wstring fresh = root + L"\\Fresh";
    std::wstring copy = root + L"\\damaged setup.exe";
    for (const Case& c : refused) {
        std::vector<uint8_t> damaged = image;
        damaged[c.at] ^= 0x20;
        ASSERT_TRUE(WriteBytes(copy, damaged.data(), damaged.size())) << c.what;
        SetupRun run = RunProgram(copy, L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(fresh) +
                                            L" /nodesktop /nostartmenu");
        EXPECT_EQ(run.exit_code, 1u) << c.what;
        EXPECT_EQ(run.out, "Checking the ROM...\nThe setup file is damaged: download it again.\n") << c.what;
        EXPECT_FALSE(FolderExists(fresh)) << c.what;
    }

    // As a signer leaves it: another checksum, and a certificate table after the last byte.
    std::vector<uint8_t> checksum = image;
    checksum[regions.checksum_at + 1] ^= 0x20;
    std::vector<uint8_t> signed_like = checksum;
    PutLe32(&signed_like[regions.certificate_entry_at], (uint32_t)image.size());
    PutLe32(&signed_like[regions.certificate_entry_at + 4], 16);
    const uint8_t certificate[16] = {16, 0, 0, 0, 0x00, 0x02, 0x02, 0x00, 'n', 'o', 't', ' ', 'r', 'e', 'a', 'l'};
    signed_like.insert(signed_like.end(), certificate, certificate + 16);
    const std::pair<const char*, const std::vector<uint8_t>*> accepted[] = {
        {"another checksum", &checksum}, {"a certificate table", &signed_like}};
    int n = 0;
    for (const auto& a : accepted) {
        std::wstring target = root + L"\\Accepted " + std::to_wstring(++n);
        std::wstring setup = root + L"\\accepted setup " + std::to_wstring(n) + L".exe";
        ASSERT_TRUE(WriteBytes(setup, a.second->data(), a.second->size())) << a.first;
        SetupRun run = RunProgram(setup, L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(target) +
                                             L" /nodesktop /nostartmenu");
        EXPECT_EQ(run.exit_code, 0u) << a.first << "\n" << run.out;
        EXPECT_TRUE(FileExists(target + L"\\TorrentinePC.exe")) << a.first;
    }
}

TEST_F(SilentInstall, AFileHeldOpenByTheRunningGame)
{
    const std::wstring install = L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(folder);
    ASSERT_EQ(Install(install).exit_code, 0u);
    const std::string running = "Checking the ROM...\nThe game seems to be running. Close it and run setup again. "
                                "The previous version is still installed.\n";
    // The game started from the folder for real: Windows runs it from a mapped image, which
    // refuses writing though an open for deletion would pass. Found before anything is
    // written, and the folder stays byte for byte.
    {
        const auto before = FilesWithBytes(folder);
        PROCESS_INFORMATION game = StartGame(folder);
        ASSERT_NE(game.hProcess, nullptr);
        SetupRun run = Install(install);
        EndGame(game);
        EXPECT_EQ(run.exit_code, 1u);
        EXPECT_EQ(run.out, running);
        EXPECT_TRUE(FilesWithBytes(folder) == before);
    }
    // A file of the game held open by a program, against a next version in which every file
    // differs: the game executable without shared writing is the game to the player, as to
    // the uninstaller; any file without shared deletion cannot be renamed aside; one held
    // with shared deletion can, and the update completes. A file the update does not need
    // to change (the same release run again) may be held by a reader, without shared
    // deletion: it is compared, found right and left alone.
    std::vector<CraftedEntry> entries = PackageEntryList();
    for (CraftedEntry& entry : entries) entry.data.push_back('+');
    const std::wstring next_setup = root + L"\\next setup.exe";
    ASSERT_TRUE(CopyWithPackage(TestSetupExe(), next_setup, SealPackage(BuildPackage(entries)), false));
    struct Held {
        const wchar_t* name;
        DWORD sharing;
        bool next, updates;
    };
    for (const Held& h : {Held{L"vcruntime140.dll", FILE_SHARE_READ, false, true}, Held{L"TorrentinePC.exe", 0, true, false},
                          Held{L"vcruntime140.dll", 0, true, false},
                          Held{L"TorrentinePC.exe", FILE_SHARE_READ, true, false},
                          Held{L"SDL2.dll", FILE_SHARE_READ | FILE_SHARE_WRITE, true, false},
                          Held{L"dxil.dll", FILE_SHARE_READ | FILE_SHARE_DELETE, true, true}}) {
        const wchar_t* held = h.name;
        SCOPED_TRACE(Utf8(held) + (h.next ? " (next version)" : " (same release)"));
        const auto before = FilesWithBytes(folder);
        HANDLE file = CreateFileW(InFolder(held).c_str(), GENERIC_READ, h.sharing, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        SetupRun run = RunProgram(h.next ? next_setup : TestSetupExe(), install);
        CloseHandle(file);
        if (h.updates) {
            EXPECT_EQ(run.exit_code, 0u);
            EXPECT_EQ(run.out, InstalledOutput(folder));
            for (const CraftedEntry& entry : entries) {
                if (h.next && entry.name == Utf8(held)) {
                    EXPECT_TRUE(ReadBytes(InFolder(held)) == entry.data);
                }
            }
            continue;
        }
        EXPECT_EQ(run.exit_code, 1u);
        if (_wcsicmp(held, L"TorrentinePC.exe") == 0)
            EXPECT_EQ(run.out, running);
        else
            EXPECT_EQ(run.out, "Checking the ROM...\nCan't write \"" + Utf8(InFolder(held)) +
                                   "\". If the game is running, close it and try again. The previous version is "
                                   "still installed.\n");
        EXPECT_TRUE(FilesWithBytes(folder) == before);
    }
}

TEST_F(SilentInstall, FullInstallFromEachByteOrderAndEachShortcutChoice)
{
    struct Case {
        const wchar_t* rom;
        const wchar_t* flags;
        bool desktop, start_menu;
    };
    const Case cases[] = {
        {L"fixture.z64", L"", true, true},
        {L"fixture.v64", L" /nodesktop", false, true},
        {L"fixture.n64", L" /NoStartMenu", true, false},
        {L"fixture.z64", L" /NODESKTOP /nostartmenu", false, false},
    };
    std::vector<uint8_t> first_icon;
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8(c.rom) + Utf8(c.flags));
        RemoveShellEntries();
        RemoveScratchFolder(folder);
        SetupRun run = Install(L"/S " + RomArgument(c.rom) + L" /dir " + Quoted(folder) + c.flags);
        EXPECT_EQ(run.exit_code, 0u);
        EXPECT_EQ(run.out, InstalledOutput(folder));
        ExpectInstalled(folder, c.desktop, c.start_menu);
        std::vector<uint8_t> icon = ReadBytes(InFolder(L"Torrentine PC.ico"));
        if (first_icon.empty()) first_icon = icon;
        EXPECT_TRUE(icon == first_icon);  // the same icon from every byte order
    }
}

TEST_F(SilentInstall, PathsWithSpacesAndOtherScripts)
{
    folder = root + L"\\Spiele\\\u00dcbung \u6e38\u620f";
    SetupRun run = Install(L"/S " + RomArgument(L"fixture.n64") + L" /dir " + Quoted(folder));
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.out, InstalledOutput(folder));
    EXPECT_NE(run.out.find("\xC3\x9C" "bung \xE6\xB8\xB8\xE6\x88\x8F\n"), std::string::npos);
    ExpectInstalled(folder, true, true);
}

TEST_F(SilentInstall, UpdateWithoutTheRomKeepsTheCopyAndTheSaves)
{
    SetupRun first = Install(L"/S " + RomArgument(L"fixture.v64") + L" /dir " + Quoted(folder));
    ASSERT_EQ(first.exit_code, 0u) << first.out;
    std::wstring copy = InFolder(L"torrentine.n64.proto.19990615.z64");
    WIN32_FILE_ATTRIBUTE_DATA before;
    ASSERT_TRUE(GetFileAttributesExW(copy.c_str(), GetFileExInfoStandard, &before));
    std::vector<uint8_t> icon = ReadBytes(InFolder(L"Torrentine PC.ico"));
    ASSERT_TRUE(DeleteFileW(InFolder(L"Torrentine PC.ico").c_str()));
    ASSERT_TRUE(WriteText(InFolder(L"SDL2.dll"), "changed by hand"));
    CreateDirectoryW(InFolder(L"saves").c_str(), nullptr);
    ASSERT_TRUE(WriteText(InFolder(L"saves\\slot1.sav"), "progress"));
    ASSERT_TRUE(WriteText(InFolder(L"settings.json"), "{}"));
    // A fixed pause, as nothing can be waited on here: a rewrite of the ROM copy must get a
    // later write time than the first install gave it, whatever the file system's clock step.
    Sleep(1100);

    SetupRun run = Install(L"/S /dir " + Quoted(folder));
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.out, InstalledOutput(folder, false));
    WIN32_FILE_ATTRIBUTE_DATA after;
    ASSERT_TRUE(GetFileAttributesExW(copy.c_str(), GetFileExInfoStandard, &after));
    EXPECT_EQ(CompareFileTime(&before.ftLastWriteTime, &after.ftLastWriteTime), 0);
    EXPECT_TRUE(ReadBytes(InFolder(L"Torrentine PC.ico")) == icon);  // rebuilt from the copy
    EXPECT_TRUE(ReadBytes(InFolder(L"SDL2.dll")) == ReadBytes(StandinGameFolder() + L"\\SDL2.dll"));
    EXPECT_EQ(ReadBytes(InFolder(L"saves\\slot1.sav")).size(), 8u);
    EXPECT_EQ(ReadBytes(InFolder(L"settings.json")).size(), 2u);
    ExpectInstalled(folder, true, true);
}

TEST_F(SilentInstall, TheRomCopyItselfAsTheRom)
{
    ASSERT_EQ(Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(folder)).exit_code, 0u);
    std::wstring copy = InFolder(L"torrentine.n64.proto.19990615.z64");
    SetupRun run = Install(L"/S /rom " + Quoted(copy) + L" /dir " + Quoted(folder));
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.out, InstalledOutput(folder));
    EXPECT_TRUE(ReadBytes(copy) == ReadBytes(FixturePath(L"fixture.z64")));
    EXPECT_FALSE(FileExists(copy + L".partial"));
}

TEST_F(SilentInstall, DefaultFolderComesFromTheRegisteredInstallation)
{
    ASSERT_EQ(Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(folder)).exit_code, 0u);
    // No "/dir": the registered folder is updated in place.
    SetupRun run = Install(L"/S /nodesktop /nostartmenu");
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.out, InstalledOutput(folder, false));

    PWSTR profile = nullptr;
    ASSERT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Profile, 0, nullptr, &profile)));
    std::wstring profile_default = std::wstring(profile) + L"\\Games\\Torrentine PC";
    CoTaskMemFree(profile);

    std::wstring full(260, L'A');
    std::wstring over(300, L'B');
    struct Case {
        const char* what;
        DWORD type;
        std::wstring text;
        DWORD bytes;
    };
    const Case cases[] = {
        {"REG_EXPAND_SZ", REG_EXPAND_SZ, folder, (DWORD)((folder.size() + 1) * 2)},
        {"empty REG_SZ", REG_SZ, L"", 2},
        {"520 bytes, no terminator", REG_SZ, full, 520},
        {"longer than 520 bytes", REG_SZ, over, 602},
    };
    for (const Case& c : cases) {
        WriteUninstallValue(L"InstallLocation", c.type, c.text.c_str(), c.bytes);
        run = Install(L"/S /nodesktop /nostartmenu " + RomArgument(L"fixture.z64"));
        EXPECT_EQ(run.exit_code, 0u) << c.what;
        EXPECT_EQ(run.out, InstalledOutput(profile_default)) << c.what;
    }
    // A shorter value stored without its terminator still names the folder.
    WriteUninstallValue(L"InstallLocation", REG_SZ, folder.c_str(), (DWORD)(folder.size() * 2));
    run = Install(L"/S /nodesktop /nostartmenu");
    EXPECT_EQ(run.out, InstalledOutput(folder, false));
    RemoveScratchFolder(profile_default);
}

TEST_F(SilentInstall, RepeatedOptionsAndSnapshotBesideS)
{
    std::wstring other = root + L"\\Other";
    std::wstring bitmap = root + L"\\shot.bmp";
    SetupRun run = Install(L"/S /dir " + Quoted(folder) + L" /dir " + Quoted(other) + L" " +
                           RomArgument(L"fixture.z64") + L" /rom " + Quoted(root + L"\\none") +
                           L" /snapshot " + Quoted(bitmap));
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.out, InstalledOutput(folder));
    EXPECT_FALSE(FolderExists(other));
    EXPECT_FALSE(FileExists(bitmap));
}

TEST_F(SilentInstall, TheReleaseFlavourRefusesTheFixtureRom)
{
    SetupRun run = RunProgram(ReleaseSetupExe(), L"/S " + RomArgument(L"fixture.v64") + L" /dir " + Quoted(folder));
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.out, std::string("Checking the ROM...\n") + ROM_TEXTS[3] + "\n");
    EXPECT_FALSE(FolderExists(folder));
}

// Setup runs from a downloads folder: a look-alike of every system library placed beside
// it must never be loaded.
TEST_F(SilentInstall, NoLibraryIsLoadedFromTheSetupFolder)
{
    std::wstring downloads = root + L"\\Downloads";
    ASSERT_TRUE(CreateDirectoryW(downloads.c_str(), nullptr));
    std::wstring setup = downloads + L"\\TorrentinePCSetup.exe";
    ASSERT_TRUE(CopyFileW(TestSetupExe().c_str(), setup.c_str(), FALSE));
    std::wstring marker = WindowsPath(TEST_WIDEN(TORRENTINE_TEST_MARKER_DLL));
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((std::wstring(system) + L"\\*.dll").c_str(), &entry);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    int planted = 0;
    do {
        if (CopyFileW(marker.c_str(), (downloads + L"\\" + entry.cFileName).c_str(), FALSE)) planted++;
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    ASSERT_GT(planted, 100);

    SetupRun run = RunProgram(setup, L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(folder),
                              120000, downloads.c_str());
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.out, InstalledOutput(folder));
    std::vector<std::wstring> loaded;
    for (const std::wstring& name : ListFilesBelow(downloads))
        if (name.rfind(L"loaded-", 0) == 0) loaded.push_back(name);
    EXPECT_TRUE(loaded.empty()) << Utf8(loaded.empty() ? L"" : loaded[0]);
}

// A folder or ROM path longer than the request holds is refused whole, never cut; so is a
// folder in which the installation's own paths would not fit Windows' path limits. The
// refusals write nothing, beside other files, and name the longest folder that works,
// which then installs with every path inside those limits.
TEST_F(SilentInstall, LongPathsAreRefusedNeverCut)
{
    std::wstring parent = root + L"\\parent";
    ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
    ASSERT_TRUE(WriteText(parent + L"\\notes.txt", "keep me"));
    ASSERT_TRUE(CreateDirectoryW((parent + L"\\assets").c_str(), nullptr));
    ASSERT_TRUE(WriteText(parent + L"\\assets\\other.bin", "another game's"));
    const auto files_before = FilesWithBytes(parent);
    const auto entries_before = TopLevelEntries(parent);

    std::wstring full = parent + L"\\" + std::wstring(259 - parent.size() - 1, L'x');
    ASSERT_EQ(full.size(), 259u);
    SetupRun run = Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(full));
    ASSERT_EQ(run.out.rfind(TOO_LONG_START, 0), 0u) << run.out;
    size_t limit = (size_t)atoi(run.out.c_str() + strlen(TOO_LONG_START));
    ASSERT_GT(limit, parent.size() + 20);
    ASSERT_LT(limit, 248u);
    const std::string too_long = TOO_LONG_START + std::to_string(limit) + " characters or fewer.\n";

    std::wstring at_limit = parent + L"\\" + std::wstring(limit - parent.size() - 1, L'y');
    std::wstring over_300 = parent + L"\\" + std::wstring(300 - parent.size() - 1, L'z');
    std::wstring rom_300 = root + L"\\" + std::wstring(296 - root.size() - 1, L'r') + L".z64";
    struct Case {
        std::wstring arguments, folder;
        std::string out;
    };
    const Case cases[] = {
        {L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(full), full, too_long},
        {L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(over_300), over_300, too_long},
        {L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(at_limit + L"y"), at_limit + L"y",
         too_long},
        // Spaces and separators that the trim removes do not count.
        {L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(L" " + at_limit + L"y\\"),
         at_limit + L"y", too_long},
        {L"/S /rom " + Quoted(rom_300) + L" /dir " + Quoted(at_limit), at_limit, ROM_TOO_LONG},
    };
    for (const Case& c : cases) {
        run = Install(c.arguments);
        EXPECT_EQ(run.exit_code, 1u) << Utf8(c.arguments);
        EXPECT_EQ(run.out, c.out) << Utf8(c.arguments);
        EXPECT_FALSE(FolderExists(c.folder)) << Utf8(c.arguments);
        EXPECT_TRUE(FilesWithBytes(parent) == files_before) << Utf8(c.arguments);
        EXPECT_EQ(TopLevelEntries(parent), entries_before) << Utf8(c.arguments);
        EXPECT_FALSE(ReadUninstallValue(L"DisplayName").present);
    }

    // At the limit: installed, then installed again over itself (each file replaced through
    // a partial name beside it), and every path stays within MAX_PATH, every folder within what
    // the folder functions take.
    for (int pass = 0; pass < 2; pass++) {
        run = Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(at_limit));
        EXPECT_EQ(run.exit_code, 0u) << pass;
        EXPECT_EQ(run.out, InstalledOutput(at_limit)) << pass;
    }
    ExpectInstalled(at_limit, true, true);
    size_t longest_file = 0, longest_folder = at_limit.size();
    for (const std::wstring& relative : ListFilesBelow(at_limit)) {
        longest_file = std::max(longest_file, at_limit.size() + 1 + relative.size() + wcslen(L".partial9"));
        size_t folder_part = relative.rfind(L'\\');
        if (folder_part != std::wstring::npos)
            longest_folder = std::max(longest_folder, at_limit.size() + 1 + folder_part);
    }
    EXPECT_LE(longest_file, 259u);
    EXPECT_LE(longest_folder, 247u);
    EXPECT_TRUE(longest_file == 259u || longest_folder == 247u);  // and no stricter than that
    for (const auto& file : files_before)
        EXPECT_TRUE(ReadBytes(parent + L"\\" + file.first) == file.second) << Utf8(file.first);

    // Setup itself at a path past the limit cannot read its own path, so it could not copy
    // itself as the uninstaller: it refuses before writing anything.
    std::wstring deep = parent + L"\\" + std::wstring(262 - parent.size() - 1 - 10, L'd');
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(TestSetupExe().c_str(), (deep + L"\\setup.exe").c_str(), FALSE));
    std::wstring elsewhere = root + L"\\Torrentine PC";
    PROCESS_INFORMATION shell = StartThroughHost(
        root, deep + L"\\setup.exe", {L"/S", L"/rom", FixturePath(L"fixture.z64"), L"/dir", elsewhere});
    EXPECT_EQ(HostExitCode(root, shell), "1\n");
    std::vector<uint8_t> out = ReadBytes(root + L"\\stdout.txt");
    EXPECT_EQ(std::string(out.begin(), out.end()),
              "The setup program's path is too long to be read: move it to a shorter path and run "
              "it again.\n");
    EXPECT_FALSE(FolderExists(elsewhere));
}

namespace {

// A drive letter of this Wine prefix for folder (a link among the prefix's drives); it is
// given back when the object ends.
struct MappedDrive {
    std::wstring root, link;
    explicit MappedDrive(const std::wstring& folder)
    {
        wchar_t prefix[MAX_PATH];
        DWORD units = GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH);
        if (units == 0 || units >= MAX_PATH) return;
        for (wchar_t letter = L'k'; letter <= L's' && link.empty(); letter++) {
            std::wstring drive = std::wstring(1, letter) + L":\\";
            if (GetDriveTypeW(drive.c_str()) != DRIVE_NO_ROOT_DIR) continue;
            std::wstring candidate = std::wstring(prefix) + L"/dosdevices/" + letter + L":";
            RunHostCommand(L"ln", L"-s \"" + UnixPath(folder) + L"\" \"" + candidate + L"\"");
            if (WaitUntilPresent(drive, 5000)) {
                root = drive;
                link = candidate;
            }
        }
    }
    ~MappedDrive()
    {
        if (!link.empty()) RunHostCommand(L"rm", L"-f \"" + link + L"\"");
    }
};

}  // namespace

// Folders whose later uninstall could remove what is not the game's: a drive's root, the
// user's own and Windows' folders, and a folder of someone else's files. Each is refused
// before anything is written, and nothing in it changes. An earlier installation is still
// updated where it is.
TEST_F(SilentInstall, FoldersAnUninstallWouldEndangerAreRefused)
{
    std::wstring drive_folder = root + L"\\drive";
    ASSERT_TRUE(CreateDirectoryW(drive_folder.c_str(), nullptr));
    ASSERT_TRUE(WriteText(drive_folder + L"\\photos.txt", "someone's"));
    MappedDrive drive(drive_folder);
    ASSERT_FALSE(drive.root.empty());

    std::wstring downloads = root + L"\\Downloads";
    ASSERT_TRUE(CreateDirectoryW(downloads.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((downloads + L"\\assets").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((downloads + L"\\saves").c_str(), nullptr));
    const char* const names[] = {"other setup.exe", "SDL2.dll", "chat.log", "assets\\x.png",
                                 "saves\\slot.sav", "settings.json"};
    for (const char* name : names)
        ASSERT_TRUE(WriteText(downloads + L"\\" + std::wstring(name, name + strlen(name)), name));
    std::wstring one_dll = root + L"\\Shared";
    ASSERT_TRUE(CreateDirectoryW(one_dll.c_str(), nullptr));
    ASSERT_TRUE(WriteText(one_dll + L"\\SDL2.dll", "another game's"));
    // Only a name that really ends in ".log" is the game's (never by its short 8.3 name).
    std::wstring chat = root + L"\\Chat";
    ASSERT_TRUE(CreateDirectoryW(chat.c_str(), nullptr));
    ASSERT_TRUE(WriteText(chat + L"\\chat.logs", "someone's"));

    const std::string root_text = "Choose a folder, not a whole drive (for example C:\\Games\\Torrentine PC).\n";
    std::wstring profile = KnownFolder(FOLDERID_Profile);
    std::wstring desktop = KnownFolder(FOLDERID_Desktop);
    std::wstring upper_desktop = desktop;
    for (wchar_t& c : upper_desktop) c = towupper(c);
    // Other spellings of the profile and its folders: the host's path behind Z:, a link to
    // Documents.
    std::wstring profile_on_z = L"Z:" + UnixPath(profile);
    for (wchar_t& c : profile_on_z)
        if (c == L'/') c = L'\\';
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    std::wstring documents_link = root + L"\\documents link";
    ASSERT_TRUE(MakeFolderLink(documents_link, KnownFolder(FOLDERID_Documents)));
    // A folder that is itself a link (a junction on Windows): its files would lie behind it.
    std::wstring link_target = root + L"\\link target", empty_link = root + L"\\empty link";
    ASSERT_TRUE(CreateDirectoryW(link_target.c_str(), nullptr));
    ASSERT_TRUE(MakeFolderLink(empty_link, link_target));
    const std::string link_text =
        "That folder is a link to another place: choose the folder it leads to, or a new folder.\n";
    struct Case {
        std::wstring folder;
        std::string out;
    };
    const Case cases[] = {
        {drive.root, root_text},
        {drive.root + L"\\", root_text},
        {drive.root.substr(0, 2), NOT_FULL_TEXT},  // "K:", the drive's current folder
        {drive.root + L".", root_text},
        {drive_folder, root_text},  // the drive's root by the folder's own name
        {profile, RESERVED_TEXT},
        {profile + L"\\AppData", RESERVED_TEXT},
        {upper_desktop + L"\\", RESERVED_TEXT},
        {KnownFolder(FOLDERID_Documents) + L"\\.", RESERVED_TEXT},
        {KnownFolder(FOLDERID_Downloads), RESERVED_TEXT},
        {KnownFolder(FOLDERID_RoamingAppData), RESERVED_TEXT},
        {KnownFolder(FOLDERID_LocalAppData), RESERVED_TEXT},
        {KnownFolder(FOLDERID_Programs), RESERVED_TEXT},
        {KnownFolder(FOLDERID_SavedGames), RESERVED_TEXT},
        {KnownFolder(FOLDERID_Windows), RESERVED_TEXT},
        // Inside Windows or a temporary folder, which other programs share; and the
        // per-user programs folder itself, which Wine leaves undefined as a known folder.
        {KnownFolder(FOLDERID_Windows) + L"\\temp\\Torrentine PC", RESERVED_TEXT},
        {KnownFolder(FOLDERID_Windows) + L"\\Torrentine PC", RESERVED_TEXT},
        {std::wstring(temp) + L"Torrentine PC", RESERVED_TEXT},
        {std::wstring(temp) + L"a\\b\\Torrentine PC", RESERVED_TEXT},
        {KnownFolder(FOLDERID_LocalAppData) + L"\\Programs", RESERVED_TEXT},
        {KnownFolder(FOLDERID_LocalAppData) + L"\\Temp\\Torrentine PC", RESERVED_TEXT},
        {KnownFolder(FOLDERID_ProgramFiles), RESERVED_TEXT},
        {KnownFolder(FOLDERID_ProgramFilesX86), RESERVED_TEXT},
        {profile_on_z, RESERVED_TEXT},
        {documents_link, RESERVED_TEXT},
        {empty_link, link_text},
        {L"\\\\.\\" + profile, DEVICE_TEXT},
        {L"\\\\?\\" + desktop, DEVICE_TEXT},
        {L"\\??\\" + desktop, DEVICE_TEXT},
        {L"\\\\?\\" + root + L"\\new", DEVICE_TEXT},
        {L"\\Games\\BI", NOT_FULL_TEXT},
        {L"C:Games\\BI", NOT_FULL_TEXT},
        {L"\\\\server", NOT_FULL_TEXT},
        {downloads, OTHER_FILES_TEXT},
        {one_dll, OTHER_FILES_TEXT},
        {chat, OTHER_FILES_TEXT},
    };
    const auto downloads_before = FilesWithBytes(downloads);
    for (const Case& c : cases) {
        ASSERT_GT(c.folder.size(), 1u);
        bool existed = FolderExists(c.folder);
        const auto entries_before = TopLevelEntries(c.folder);
        SetupRun run = Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(c.folder));
        EXPECT_EQ(run.exit_code, 1u) << Utf8(c.folder);
        EXPECT_EQ(run.out, c.out) << Utf8(c.folder);
        EXPECT_EQ(FolderExists(c.folder), existed) << Utf8(c.folder);
        EXPECT_EQ(TopLevelEntries(c.folder), entries_before) << Utf8(c.folder);
        EXPECT_FALSE(ReadUninstallValue(L"DisplayName").present) << Utf8(c.folder);
    }
    EXPECT_TRUE(FilesWithBytes(downloads) == downloads_before);

    // A drive letter mapped onto Documents: by any name a root, and refused as one.
    {
        MappedDrive documents_drive(KnownFolder(FOLDERID_Documents));
        ASSERT_FALSE(documents_drive.root.empty());
        const auto entries_before = TopLevelEntries(documents_drive.root);
        SetupRun run = Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(documents_drive.root));
        EXPECT_EQ(run.exit_code, 1u);
        EXPECT_EQ(run.out, root_text);
        EXPECT_EQ(TopLevelEntries(documents_drive.root), entries_before);
    }
    EXPECT_EQ(ReadBytes(one_dll + L"\\SDL2.dll").size(), 14u);
    EXPECT_EQ(ListFilesBelow(drive_folder), std::vector<std::wstring>{L"photos.txt"});

    // Not even an earlier installation is updated at a drive's root: no exception.
    std::vector<uint8_t> copy = ReadBytes(FixturePath(L"fixture.n64"));
    ASSERT_TRUE(WriteBytes(drive_folder + L"\\torrentine.n64.proto.19990615.z64", copy.data(), copy.size()));
    ASSERT_TRUE(WriteText(drive_folder + L"\\portable.txt", MARK_TEXT));
    const auto drive_before = FilesWithBytes(drive_folder);
    SetupRun update = Install(L"/S /dir " + Quoted(drive.root) + L" /nodesktop /nostartmenu");
    EXPECT_EQ(update.exit_code, 1u);
    EXPECT_EQ(update.out, root_text);
    EXPECT_TRUE(FilesWithBytes(drive_folder) == drive_before);

    // A folder inside the per-user programs folder is a good place.
    std::wstring user_programs = KnownFolder(FOLDERID_LocalAppData) + L"\\Programs\\Torrentine PC " +
                                 std::to_wstring(GetCurrentProcessId());
    SetupRun in_programs = Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(user_programs) +
                                   L" /nodesktop /nostartmenu");
    EXPECT_EQ(in_programs.exit_code, 0u);
    EXPECT_EQ(in_programs.out, InstalledOutput(user_programs));
    RemoveScratchFolder(user_programs);

    // A folder below the profile, as the default one is, stays a good place.
    std::wstring below_profile = profile + L"\\Games\\Torrentine PC " + std::to_wstring(GetCurrentProcessId());
    SetupRun run = Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(below_profile) +
                           L" /nodesktop /nostartmenu");
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.out, InstalledOutput(below_profile));
    RemoveScratchFolder(below_profile);
}

// What a plain uninstall leaves (setup's note, saves, settings, mods, logs) is still the
// game's folder: a reinstall there is accepted and keeps all of it.
TEST_F(SilentInstall, TheGamesLeftoversInAnInstallationAreKept)
{
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    for (const wchar_t* sub : {L"saves", L"mods", L"mods\\big mod", L"mod_config"})
        ASSERT_TRUE(CreateDirectoryW(InFolder(sub).c_str(), nullptr));
    const wchar_t* const kept[] = {L"saves\\slot1.sav", L"mods\\big mod\\mod.bin", L"mod_config\\a.ini",
                                   L"settings.json", L"Settings.JSON.bak", L"tn_framerate_v1", L"game.log"};
    for (const wchar_t* name : kept) ASSERT_TRUE(WriteText(InFolder(name), Utf8(name).c_str()));
    ASSERT_TRUE(WriteText(InFolder(L"portable.txt"), MARK_TEXT));

    SetupRun run = Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(folder));
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.out, InstalledOutput(folder));
    for (const wchar_t* name : kept) {
        std::vector<uint8_t> bytes = ReadBytes(InFolder(name));
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), Utf8(name));
    }
    ExpectInstalled(folder, true, true);
}

// A folder is the game's only by setup's own mark. Names anyone's files can have (a ROM
// under the copy's name, a game executable, saves, settings, logs, look-alikes of them, a
// note of another text, the note as a link to a file elsewhere) make a folder someone
// else's: refused, with not a byte changed. So is the shared temporary folder, empty or
// not; an empty folder of one's own is fine.
TEST_F(SilentInstall, OnlyANewOrEmptyFolderOrAnInstallationIsAccepted)
{
    std::wstring outside_note = root + L"\\outside-note.txt";
    ASSERT_TRUE(WriteText(outside_note, MARK_TEXT));
    int n = 0;
    for (const LookAlikeFolder& c : LookAlikeFolders()) {
        SCOPED_TRACE(c.what);
        std::wstring player = root + L"\\player" + std::to_wstring(++n);
        ASSERT_TRUE(MakeLookAlikeFolder(c, player, outside_note));
        std::wstring rom_copy = player + L"\\torrentine.n64.proto.19990615.z64";
        const auto before = FilesWithBytes(player);
        // Given as the ROM too, the copy is no pass: the folder is still refused.
        for (const std::wstring& rom_argument :
             {RomArgument(L"fixture.z64"), c.rom_copy ? L"/rom " + Quoted(rom_copy) : std::wstring()}) {
            SetupRun run = Install(L"/S " + rom_argument + L" /dir " + Quoted(player));
            EXPECT_EQ(run.exit_code, 1u) << Utf8(rom_argument);
            EXPECT_EQ(run.out, OTHER_FILES_TEXT) << Utf8(rom_argument);
            EXPECT_TRUE(FilesWithBytes(player) == before);
        }
        EXPECT_FALSE(ReadUninstallValue(L"DisplayName").present);
    }
    std::vector<uint8_t> note = ReadBytes(outside_note);
    EXPECT_EQ(std::string(note.begin(), note.end()), MARK_TEXT);

    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    SetupRun run = Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(temp));
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.out, RESERVED_TEXT);

    std::wstring empty = root + L"\\empty";
    ASSERT_TRUE(CreateDirectoryW(empty.c_str(), nullptr));
    run = Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(empty) + L" /nodesktop /nostartmenu");
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.out, InstalledOutput(empty));
}

// A reinstall over files that are links (a symbolic link, which Wine shows as a plain
// file, or a hard link shared with a mod manager's store) replaces the names; the files
// they lead to outside the folder keep their bytes.
TEST_F(SilentInstall, AReinstallReplacesLinksInsteadOfWritingThroughThem)
{
    ASSERT_EQ(Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(folder)).exit_code, 0u);
    std::wstring asset;
    for (const std::wstring& relative : ListFilesBelow(StandinGameFolder()))
        if (asset.empty() && relative.rfind(L"assets\\", 0) == 0) asset = relative;
    ASSERT_FALSE(asset.empty());

    std::wstring outside = root + L"\\outside";
    ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
    struct Link {
        std::wstring name;
        bool symbolic;
    };
    const Link links[] = {
        {L"SDL2.dll", true},        {asset, false},
        {L"TorrentinePC.exe", false},
        {L"torrentine.n64.proto.19990615.z64", true},
        {L"Torrentine PC.ico", true}, {L"Uninstall.exe", false},
    };
    int k = 0;
    for (const Link& link : links) {
        std::wstring target = outside + L"\\file" + std::to_wstring(k++) + L".bin";
        ASSERT_TRUE(WriteText(target, ("outside bytes of " + Utf8(link.name)).c_str()));
        ASSERT_TRUE(DeleteFileW(InFolder(link.name.c_str()).c_str())) << Utf8(link.name);
        ASSERT_TRUE(MakeFileLink(InFolder(link.name.c_str()), target, link.symbolic)) << Utf8(link.name);
    }
    const auto outside_before = FilesWithBytes(outside);
    ASSERT_EQ(outside_before.size(), std::size(links));

    SetupRun run = Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(folder));
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.out, InstalledOutput(folder));
    EXPECT_TRUE(FilesWithBytes(outside) == outside_before);
    ExpectInstalled(folder, true, true);
    for (const std::wstring& relative : ListFilesBelow(folder))
        EXPECT_EQ(relative.find(L".partial"), std::wstring::npos) << Utf8(relative);
}

// When storing the ROM fails (a folder holds the copy's name), no uninstall entry is made;
// the folder still holds setup's mark, so the next run is accepted and completes.
TEST_F(SilentInstall, AFailedRomCopyComesAfterTheNote)
{
    ASSERT_EQ(Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(folder)).exit_code, 0u);
    RemoveShellEntries();
    std::wstring copy = InFolder(L"torrentine.n64.proto.19990615.z64");
    ASSERT_TRUE(DeleteFileW(copy.c_str()));
    ASSERT_TRUE(CreateDirectoryW(copy.c_str(), nullptr));

    SetupRun run = Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(folder));
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.out, "Checking the ROM...\nWriting the PC version...\nStoring the ROM...\nCan't write \"" +
                           Utf8(copy) + "\". The previous version is still installed.\n");
    EXPECT_TRUE(FileExists(InFolder(L"portable.txt")));
    EXPECT_TRUE(FolderExists(copy));
    EXPECT_FALSE(FileExists(copy + L".partial"));
    EXPECT_FALSE(ReadUninstallValue(L"DisplayName").present);

    ASSERT_TRUE(RemoveDirectoryW(copy.c_str()));
    run = Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(folder));
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.out, InstalledOutput(folder));
}

namespace {

// Runs the setup program with the test hook asking for a stop ("write 3 cancel", ...).
SetupRun RunWithStop(const std::wstring& exe, const std::wstring& arguments, const wchar_t* stop)
{
    SetEnvironmentVariableW(L"TORRENTINE_TEST_STOP", stop);
    SetupRun run = RunProgram(exe, arguments);
    SetEnvironmentVariableW(L"TORRENTINE_TEST_STOP", nullptr);
    return run;
}

std::vector<std::pair<std::wstring, std::vector<uint8_t>>> WithoutPartialFiles(
    std::vector<std::pair<std::wstring, std::vector<uint8_t>>> files)
{
    files.erase(std::remove_if(files.begin(), files.end(),
                               [](const auto& file) { return file.first.find(L".partial") != std::wstring::npos; }),
                files.end());
    return files;
}

bool NoPartialFiles(const std::wstring& folder)
{
    for (const std::wstring& relative : ListFilesBelow(folder))
        if (relative.find(L".partial") != std::wstring::npos) return false;
    return true;
}

}  // namespace

// An update (a setup with another version of every file) stopped before its commit, by a
// cancel at an entry, a failed write or a killed process, leaves the previous version byte
// for byte and no partial file; a killed run's partial files go with the next run, which
// completes. A kill in the middle of the commit is completed by the next run too.
TEST_F(SilentInstall, AnUpdateStoppedAtAnyPointLeavesThePreviousVersion)
{
    ASSERT_EQ(Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(folder) +
                      L" /nodesktop /nostartmenu").exit_code, 0u);
    std::vector<CraftedEntry> entries = PackageEntryList();
    ASSERT_GT(entries.size(), 5u);
    // The next version: every file differs (the game executable by a byte after its image).
    for (size_t i = 0; i < entries.size(); i++) entries[i].data.push_back('+');
    std::wstring next_setup = root + L"\\next setup.exe";
    ASSERT_TRUE(CopyWithPackage(TestSetupExe(), next_setup, SealPackage(BuildPackage(entries)), false));
    const std::wstring update = L"/S /dir " + Quoted(folder) + L" /nodesktop /nostartmenu";
    const std::string left = " The previous version is still installed.\n";
    const std::string last = std::to_string(entries.size() - 1);
    struct Case {
        std::string stop;
        std::string out;  // after "Writing the PC version...\n"; empty for a killed run
    };
    const Case cases[] = {
        {"write 0 cancel", "Cancelled." + left},
        {"write 3 cancel", "Cancelled." + left},
        {"write " + last + " cancel", "Cancelled." + left},
        {"write 0 fail", "Can't write \"" + Utf8(InFolder(L"TorrentinePC.exe")) +
                             "\". If the game is running, close it and try again." + left},
        {"write 4 fail", "Can't write \"" + Utf8(folder) + "\\" + entries[4].name +
                             "\". If the game is running, close it and try again." + left},
        {"write 2 kill", ""},
        {"write " + last + " kill", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stop);
        const auto before = WithoutPartialFiles(FilesWithBytes(folder));
        std::wstring stop(c.stop.begin(), c.stop.end());
        SetupRun run = RunWithStop(next_setup, update, stop.c_str());
        if (c.out.empty()) {
            EXPECT_EQ(run.exit_code, 9u);  // killed
        } else {
            EXPECT_EQ(run.exit_code, 1u);
            EXPECT_EQ(run.out, "Writing the PC version...\n" + c.out);
            EXPECT_TRUE(NoPartialFiles(folder));
        }
        // Whatever the partial files, every file of the previous version is as it was.
        EXPECT_TRUE(WithoutPartialFiles(FilesWithBytes(folder)) == before);
    }

    // A kill half-way through the commit: the next run puts the previous version back
    // first and says so, and a whole run completes.
    const auto installed = WithoutPartialFiles(FilesWithBytes(folder));  // the killed runs' go now
    SetupRun killed = RunWithStop(next_setup, update, L"commit 3 kill");
    EXPECT_EQ(killed.exit_code, 9u);
    SetupRun failed = RunWithStop(next_setup, update, L"write 1 fail");
    EXPECT_EQ(failed.exit_code, 1u);
    EXPECT_EQ(failed.out, "An earlier update had stopped while moving its files: the previous version was put "
                          "back.\nWriting the PC version...\nCan't write \"" + Utf8(folder) + "\\" + entries[1].name +
                              "\". If the game is running, close it and try again. The previous version is still "
                              "installed.\n");
    EXPECT_TRUE(FilesWithBytes(folder) == installed);
    SetupRun next = RunProgram(next_setup, update);
    EXPECT_EQ(next.exit_code, 0u);
    EXPECT_EQ(next.out, InstalledOutput(folder, false));
    EXPECT_TRUE(NoPartialFiles(folder));
    for (size_t i = 1; i < entries.size(); i++) {
        std::wstring name(entries[i].name.begin(), entries[i].name.end());
        EXPECT_TRUE(ReadBytes(InFolder(name.c_str())) == entries[i].data) << entries[i].name;
    }
}

// The journal of an update stopped in its commit is a file in the folder that anything may
// have written: a name in it that leads outside the folder is never renamed or removed, and
// the update goes on.
TEST_F(SilentInstall, AJournalNeverLeadsOutsideTheFolder)
{
    const std::wstring update = L"/S /dir " + Quoted(folder) + L" /nodesktop /nostartmenu";
    ASSERT_EQ(Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(folder) +
                      L" /nodesktop /nostartmenu").exit_code, 0u);
    ASSERT_TRUE(WriteText(root + L"\\victim.txt", "a player's file"));
    for (const char* line : {"0- ..\\victim.txt", "00 ..\\victim.txt", "0- C:victim.txt", "0- \\victim.txt",
                             "0- assets\\..\\..\\victim.txt", "0- . .\\victim.txt"}) {
        SCOPED_TRACE(line);
        std::string journal = std::string("An update of Torrentine PC was moving its files into place here.\r\n") +
                              line + "\r\n";
        ASSERT_TRUE(WriteText(InFolder(L"update-in-progress.txt"), journal.c_str()));
        SetupRun run = RunProgram(TestSetupExe(), update);
        EXPECT_EQ(run.exit_code, 0u) << run.out;
        EXPECT_EQ(ReadBytes(root + L"\\victim.txt"), std::vector<uint8_t>({'a', ' ', 'p', 'l', 'a', 'y', 'e', 'r', '\'',
                                                                          's', ' ', 'f', 'i', 'l', 'e'}));
        EXPECT_FALSE(FileExists(InFolder(L"update-in-progress.txt")));
    }
}

// The commit is all or nothing: old files renamed aside, new ones renamed in, setup's
// uninstaller with them. A rename that fails at any step puts every name back; a kill at any
// step leaves a journal from which the next run puts the previous version back, saying so.
// Either way the folder is the previous version byte for byte.
TEST_F(SilentInstall, AnUpdatesCommitIsAllOrNothing)
{
    ASSERT_EQ(Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(folder) +
                      L" /nodesktop /nostartmenu").exit_code, 0u);
    std::vector<CraftedEntry> entries = PackageEntryList();
    for (size_t i = 0; i < entries.size(); i++) entries[i].data.push_back('+');  // every file differs
    std::wstring next_setup = root + L"\\next setup.exe";
    ASSERT_TRUE(CopyWithPackage(TestSetupExe(), next_setup, SealPackage(BuildPackage(entries)), false));
    const std::wstring update = L"/S /dir " + Quoted(folder) + L" /nodesktop /nostartmenu";
    const auto before = FilesWithBytes(folder);
    // Two renames per name (aside, in), the package's names then the uninstaller; the step
    // after the last rename removes the journal.
    const size_t renames = 2 * (entries.size() + 1);
    auto named = [&](size_t step) {
        if (step == renames) return Utf8(InFolder(L"update-in-progress.txt"));
        return step / 2 < entries.size() ? Utf8(folder) + "\\" + entries[step / 2].name
                                         : Utf8(InFolder(L"Uninstall.exe"));
    };
    for (size_t step : {size_t(0), size_t(1), size_t(2), size_t(3), renames / 2 + 1, renames - 2, renames - 1,
                        renames}) {
        SCOPED_TRACE(step);
        std::wstring fail = L"commit " + std::to_wstring(step) + L" fail";
        SetupRun failed = RunWithStop(next_setup, update, fail.c_str());
        EXPECT_EQ(failed.exit_code, 1u);
        EXPECT_EQ(failed.out, "Writing the PC version...\nCan't write \"" + named(step) +
                                  "\". If the game is running, close it and try again. The previous version is "
                                  "still installed.\n");
        EXPECT_TRUE(FilesWithBytes(folder) == before);

        std::wstring kill = L"commit " + std::to_wstring(step) + L" kill";
        EXPECT_EQ(RunWithStop(next_setup, update, kill.c_str()).exit_code, 9u);
        EXPECT_TRUE(FileExists(InFolder(L"update-in-progress.txt")));
        SetupRun next = RunWithStop(next_setup, update, L"write 0 cancel");
        EXPECT_EQ(next.exit_code, 1u);
        EXPECT_EQ(next.out, "An earlier update had stopped while moving its files: the previous version was put "
                            "back.\nWriting the PC version...\nCancelled. The previous version is still installed.\n");
        EXPECT_TRUE(FilesWithBytes(folder) == before);
    }
    SetupRun whole = RunProgram(next_setup, update);
    EXPECT_EQ(whole.exit_code, 0u);
    EXPECT_TRUE(NoPartialFiles(folder));
    EXPECT_FALSE(FileExists(InFolder(L"update-in-progress.txt")));
    for (size_t i = 1; i < entries.size(); i++) {
        std::wstring name(entries[i].name.begin(), entries[i].name.end());
        EXPECT_TRUE(ReadBytes(InFolder(name.c_str())) == entries[i].data) << entries[i].name;
    }
    EXPECT_TRUE(ReadBytes(InFolder(L"Uninstall.exe")) == ReadBytes(next_setup));
}


namespace {

// Each file's identity on its volume: a file that an update leaves alone keeps it, a file
// it writes again is a new file renamed into place.
std::map<std::wstring, uint64_t> FileIds(const std::wstring& folder)
{
    std::map<std::wstring, uint64_t> ids;
    for (const std::wstring& relative : ListFilesBelow(folder)) {
        HANDLE file = CreateFileW((folder + L"\\" + relative).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        BY_HANDLE_FILE_INFORMATION info;
        if (file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info))
            ids[relative] = ((uint64_t)info.nFileIndexHigh << 32) | info.nFileIndexLow;
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    return ids;
}

}  // namespace

// An update writes only what differs from what is installed: the same release run again
// changes no file at all, and repairs exactly the files a player or a mod changed or
// removed (the game executable compared with its icon in place, the ROM copy with the ROM
// given); the next release rewrites only the files that are new or other in it.
TEST_F(SilentInstall, AnUpdateWritesOnlyTheFilesThatDiffer)
{
    const std::wstring install = L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(folder) +
                                 L" /nodesktop /nostartmenu";
    ASSERT_EQ(Install(install).exit_code, 0u);
    const auto installed = FilesWithBytes(folder);
    const auto ids = FileIds(folder);
    const std::wstring rom_copy = L"torrentine.n64.proto.19990615.z64";
    const std::wstring library = L"dxil.dll", asset = ListFilesBelow(folder + L"\\assets").at(0);
    struct Case {
        const char* what;
        std::function<void()> change;
        std::set<std::wstring> rewritten;
    };
    const Case cases[] = {
        {"nothing changed, with the ROM", [] {}, {}},
        {"a mod's asset, a removed library, a changed byte of the game and of the ROM copy",
         [&] {
             ASSERT_TRUE(WriteText(folder + L"\\assets\\" + asset, "a mod"));
             ASSERT_TRUE(DeleteFileW(InFolder(library.c_str()).c_str()));
             for (const std::wstring& name : {std::wstring(L"TorrentinePC.exe"), rom_copy}) {
                 std::vector<uint8_t> bytes = ReadBytes(InFolder(name.c_str()));
                 bytes[bytes.size() / 2] ^= 0x5A;
                 ASSERT_TRUE(WriteBytes(InFolder(name.c_str()), bytes.data(), bytes.size()));
             }
         },
         {L"assets\\" + asset, library, L"TorrentinePC.exe", rom_copy}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.change();
        const auto before = FileIds(folder);
        SetupRun run = Install(install);
        EXPECT_EQ(run.exit_code, 0u) << run.out;
        EXPECT_TRUE(FilesWithBytes(folder) == installed);
        for (const auto& [name, id] : FileIds(folder)) {
            auto was = before.find(name);
            bool kept = was != before.end() && was->second == id;
            EXPECT_EQ(kept, !c.rewritten.count(name)) << Utf8(name);
        }
    }
    EXPECT_TRUE(FileIds(folder) != ids);  // the repaired ones are new files

    // The next release: only what differs between the two is written.
    const auto before = FileIds(folder);
    SetupRun next = RunProgram(TestReleaseExe(2), L"/S /dir " + Quoted(folder) + L" /nodesktop /nostartmenu");
    ASSERT_EQ(next.exit_code, 0u) << next.out;
    const std::wstring first = StandinGameFolder(), second = ReleaseGameFolder(2);
    for (const std::wstring& relative : ListFilesBelow(second)) {
        if (relative == L"TorrentinePC.exe") continue;  // holds its icon once installed
        bool same = FileExists(first + L"\\" + relative) &&
                    ReadBytes(first + L"\\" + relative) == ReadBytes(second + L"\\" + relative);
        auto was = before.find(relative);
        bool kept = was != before.end() && was->second == FileIds(folder)[relative];
        EXPECT_EQ(kept, same) << Utf8(relative);
        EXPECT_TRUE(ReadBytes(InFolder(relative.c_str())) == ReadBytes(second + L"\\" + relative)) << Utf8(relative);
    }
    EXPECT_NE(FileIds(folder)[L"Uninstall.exe"], before.at(L"Uninstall.exe"));  // another release's
    EXPECT_EQ(FileIds(folder)[rom_copy], before.at(rom_copy));
}

// A new install that stops (Cancel, a failed write) leaves the place as
// it was: a folder setup made is gone with the parents it made, an empty folder that was
// there stays, empty. A killed one is finished by the next run.
TEST_F(SilentInstall, ANewInstallThatStopsLeavesTheFolderAsItWas)
{
    std::wstring top = root + L"\\made";
    std::wstring deep = top + L"\\by setup\\Torrentine PC";
    std::wstring empty = root + L"\\empty";
    ASSERT_TRUE(CreateDirectoryW(empty.c_str(), nullptr));
    const std::string left = " Nothing was installed.\n";
    // The first file of a new subfolder, and the last entry: their folders go too.
    std::vector<CraftedEntry> entries = PackageEntryList();
    size_t first_in_folder = 0;
    while (first_in_folder < entries.size() && entries[first_in_folder].name.find('\\') == std::string::npos)
        first_in_folder++;
    ASSERT_LT(first_in_folder, entries.size());
    const std::wstring at_folder = L"write " + std::to_wstring(first_in_folder) + L" fail";
    const std::wstring at_last = L"write " + std::to_wstring(entries.size() - 1) + L" fail";
    for (const std::wstring& where : {deep, empty}) {
        for (const wchar_t* stop : {L"write 0 cancel", L"write 5 cancel", L"write 0 fail", L"write 7 fail",
                                    at_folder.c_str(), at_last.c_str()}) {
            SCOPED_TRACE(Utf8(where) + " " + Utf8(stop));
            SetupRun run = RunWithStop(TestSetupExe(), L"/S " + RomArgument(L"fixture.z64") + L" /dir " +
                                                           Quoted(where), stop);
            EXPECT_EQ(run.exit_code, 1u);
            EXPECT_NE(run.out.find(left), std::string::npos) << run.out;
            EXPECT_FALSE(ReadUninstallValue(L"DisplayName").present);
            if (where == empty) {
                EXPECT_TRUE(FolderExists(empty));
                EXPECT_TRUE(ListFilesBelow(empty).empty());
            } else {
                EXPECT_FALSE(FolderExists(top));
            }
        }
    }

    // Killed: the next run finds the mark and completes.
    SetupRun run = RunWithStop(TestSetupExe(), L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(deep), L"write 6 kill");
    EXPECT_EQ(run.exit_code, 9u);
    run = Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(deep));
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.out, InstalledOutput(deep));
    EXPECT_TRUE(NoPartialFiles(deep));
}

// A new install only ever creates: what another program puts into the new folder while
// setup writes (at a name setup is about to write, or beside its files) is never replaced,
// and the undo removes only what setup made.
TEST_F(SilentInstall, ANewInstallNeverReplacesOrRemovesAnotherProgramsFiles)
{
    std::vector<CraftedEntry> entries = PackageEntryList();
    size_t first_in_folder = 0;
    while (entries[first_in_folder].name.find('\\') == std::string::npos) first_in_folder++;
    ASSERT_LT(first_in_folder + 2, entries.size());
    const std::string later = entries[first_in_folder + 2].name;  // one setup has not written yet
    const std::string folder_part = later.substr(0, later.rfind('\\'));
    struct Case {
        const char* what;
        size_t pause_at;
        std::wstring planted;  // relative to the folder
        std::string failing;   // the name setup then cannot write
    };
    const std::wstring later_w(later.begin(), later.end());
    const std::wstring beside = std::wstring(folder_part.begin(), folder_part.end()) + L"\\other program.dat";
    const Case cases[] = {
        {"a file at a later entry's name", first_in_folder + 1, later_w, later},
        {"a file at the ROM copy's name", entries.size() - 1, L"torrentine.n64.proto.19990615.z64",
         "torrentine.n64.proto.19990615.z64"},
    };
    const std::wstring pause = root + L"\\paused";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveScratchFolder(folder);
        SetEnvironmentVariableW(L"TORRENTINE_TEST_PAUSE", pause.c_str());
        std::wstring stop = L"write " + std::to_wstring(c.pause_at) + L" pause";
        SetEnvironmentVariableW(L"TORRENTINE_TEST_STOP", stop.c_str());
        std::wstring command = Quoted(TestSetupExe()) + L" /S " + RomArgument(L"fixture.z64") + L" /dir " +
                               Quoted(folder) + L" /nodesktop /nostartmenu";
        std::vector<wchar_t> line(command.begin(), command.end());
        line.push_back(0);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessW(TestSetupExe().c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &process));
        SetEnvironmentVariableW(L"TORRENTINE_TEST_STOP", nullptr);
        SetEnvironmentVariableW(L"TORRENTINE_TEST_PAUSE", nullptr);
        CloseHandle(process.hThread);
        ASSERT_TRUE(WaitUntilPresent(pause, 60000));
        // Another program writes into the folder while setup waits.
        std::wstring planted = InFolder(c.planted.c_str());
        SHCreateDirectoryExW(nullptr, planted.substr(0, planted.rfind(L'\\')).c_str(), nullptr);
        ASSERT_TRUE(WriteText(planted, "another program's"));
        ASSERT_TRUE(WriteText(InFolder(beside.c_str()), "another program's too"));
        ASSERT_TRUE(DeleteFileW(pause.c_str()));
        EXPECT_EQ(WaitForWindowProcess(process.hProcess, 120000), 1u);
        std::vector<std::wstring> expected = {beside, c.planted};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(ListFilesBelow(folder), expected);
        std::vector<uint8_t> kept = ReadBytes(planted);
        EXPECT_EQ(std::string(kept.begin(), kept.end()), "another program's");
        EXPECT_FALSE(ReadUninstallValue(L"DisplayName").present);
    }
}

// The uninstaller's copy is checked like every other file: when it cannot be written (a
// folder stands at its name), the update fails with the previous version in place and no
// "Done!".
TEST_F(SilentInstall, AnUninstallerThatCannotBeWrittenFailsTheInstall)
{
    ASSERT_EQ(Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(folder)).exit_code, 0u);
    RemoveShellEntries();
    ASSERT_TRUE(DeleteFileW(InFolder(L"Uninstall.exe").c_str()));
    ASSERT_TRUE(CreateDirectoryW(InFolder(L"Uninstall.exe").c_str(), nullptr));
    const auto before = FilesWithBytes(folder);
    SetupRun run = Install(L"/S /dir " + Quoted(folder));
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.out, "Writing the PC version...\nCan't write \"" + Utf8(InFolder(L"Uninstall.exe")) +
                           "\". The previous version is still installed.\n");
    EXPECT_TRUE(FilesWithBytes(folder) == before);
    EXPECT_TRUE(NoPartialFiles(folder));
    EXPECT_FALSE(ReadUninstallValue(L"DisplayName").present);
}
