// The real test-flavour setup program, run silently in a child process as a script would,
// and what it leaves on disk, in the registry and in the shell.
#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "install/game_icon.h"
#include "install/icon_images.h"
#include "install/resource_section.h"
#include "package/package_format.h"
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

    // The uninstall entry: nine values with their types (Wine lists values by name).
    std::vector<std::wstring> names = {L"DisplayIcon", L"DisplayName", L"DisplayVersion",
                                       L"EstimatedSize", L"InstallLocation", L"NoModify",
                                       L"NoRepair", L"Publisher", L"UninstallString"};
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
        // "/rom" as the last argument counts as absent.
        {L"/S /dir " + Quoted(folder) + L" /rom", "Choose your Torrentine ROM file (.z64, .v64 or .n64).\n"},
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
    SetupRun run = Install(L"/S /dir " + Quoted(folder) + L" /rom " + Quoted(root + L"\\none.z64"));
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.out, std::string("Checking the ROM...\n") + ROM_TEXTS[1] + "\n");
    EXPECT_EQ(ListFilesBelow(folder).size(), 1u);
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

    // A value of 300 units is cut to its first 259.
    std::wstring long_folder = root + L"\\a file\\";
    long_folder += std::wstring(300 - long_folder.size(), L'x');
    run = Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(long_folder));
    EXPECT_EQ(run.out, "Checking the ROM...\nCan't create the folder \"" + Utf8(long_folder.substr(0, 259)) +
                           "\". Pick another place (one you can write to).\n");
}

TEST_F(SilentInstall, TooLittleFreeSpaceOnARealSmallDrive)
{
    ULARGE_INTEGER available, total;
    if (!GetDiskFreeSpaceExW(L"T:\\", &available, &total, nullptr) || total.QuadPart > (64u << 20))
        GTEST_SKIP() << "no small drive T: (the test run mounts one when it runs as root)";
    std::wstring small = L"T:\\silent-" + std::to_wstring(GetCurrentProcessId());
    uint64_t needed = PackageTotalBytes() + 16777216ull + (16u << 20);
    ASSERT_LT(available.QuadPart, needed);
    SetupRun run = Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(small));
    EXPECT_EQ(run.exit_code, 1u);
    char mb[32];
    snprintf(mb, sizeof mb, "%.0f", (double)needed / 1048576.0);
    EXPECT_EQ(run.out, std::string("Checking the ROM...\nNot enough free space: needs ") + mb + " MB.\n");
    EXPECT_TRUE(ListFilesBelow(small).empty());
    RemoveScratchFolder(small);
}

TEST_F(SilentInstall, ADamagedPackageIsReportedAsSuch)
{
    std::vector<uint8_t> package = ReadBytes(PackagePath());
    ASSERT_GT(package.size(), 1000u);
    std::vector<uint8_t> truncated(package.begin(), package.end() - 1);
    std::vector<uint8_t> foreign_magic = package;
    foreign_magic[0] = 'Z';
    std::vector<uint8_t> dot_dot = {'T', 'N', 'P', 'K', 1, 0, 0, 0, 1, 0, 0, 0, 6, 0,
                                    '.', '.', '\\', 'x', '.', 'a', 1, 0, 0, 0, 0, 0, 0, 0, 'x'};
    struct Case {
        const char* what;
        const std::vector<uint8_t>* bytes;
        bool remove;
    };
    const Case cases[] = {{"truncated", &truncated, false},
                          {"foreign magic", &foreign_magic, false},
                          {"dot-dot name", &dot_dot, false},
                          {"no package", &package, true}};
    for (const Case& c : cases) {
        std::wstring copy = root + L"\\damaged setup.exe";
        ASSERT_TRUE(CopyWithPackage(TestSetupExe(), copy, *c.bytes, c.remove)) << c.what;
        SetupRun run = RunProgram(copy, L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(folder));
        EXPECT_EQ(run.exit_code, 1u) << c.what;
        EXPECT_EQ(run.out, "Checking the ROM...\nWriting the PC version...\n"
                           "The setup file is damaged: download it again.\n")
            << c.what;
        EXPECT_FALSE(FileExists(root + L"\\x.a")) << c.what;
        EXPECT_FALSE(FileExists(InFolder(L"portable.txt"))) << c.what;
        EXPECT_FALSE(ReadUninstallValue(L"DisplayName").present) << c.what;
    }
}

TEST_F(SilentInstall, AFileHeldOpenByTheRunningGame)
{
    ASSERT_EQ(Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(folder)).exit_code, 0u);
    HANDLE game = CreateFileW(InFolder(L"TorrentinePC.exe").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(game, INVALID_HANDLE_VALUE);
    SetupRun run = Install(L"/S " + RomArgument(L"fixture.z64") + L" /dir " + Quoted(folder));
    CloseHandle(game);
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.out, "Checking the ROM...\nWriting the PC version...\nCan't write \"" +
                           Utf8(InFolder(L"TorrentinePC.exe")) +
                           "\". If the game is running, close it and try again.\n");
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
    ASSERT_EQ(Install(L"/S " + RomArgument(L"fixture.v64") + L" /dir " + Quoted(folder)).exit_code, 0u);
    std::wstring copy = InFolder(L"torrentine.n64.proto.19990615.z64");
    WIN32_FILE_ATTRIBUTE_DATA before;
    ASSERT_TRUE(GetFileAttributesExW(copy.c_str(), GetFileExInfoStandard, &before));
    std::vector<uint8_t> icon = ReadBytes(InFolder(L"Torrentine PC.ico"));
    ASSERT_TRUE(DeleteFileW(InFolder(L"Torrentine PC.ico").c_str()));
    ASSERT_TRUE(WriteText(InFolder(L"SDL2.dll"), "changed by hand"));
    CreateDirectoryW(InFolder(L"saves").c_str(), nullptr);
    ASSERT_TRUE(WriteText(InFolder(L"saves\\slot1.sav"), "progress"));
    ASSERT_TRUE(WriteText(InFolder(L"settings.json"), "{}"));
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
