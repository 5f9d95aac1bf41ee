// The built setup program as a file: what its two flavours carry (their version, the test
// hook in one only) and how their images are laid out for Windows' and Wine's loaders.
#include <gtest/gtest.h>

#include <windows.h>
#include <imagehlp.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/setup_runner.h"
#include "tests/support/test_support.h"

namespace {

class SetupImage : public ::testing::Test {
protected:
    void SetUp() override { root = MakeScratchFolder(L"image"); }
    void TearDown() override { RemoveScratchFolder(root); }

    std::wstring root;
};

}  // namespace

// The stop hook is the test flavour's alone: the release carries neither its code nor the
// name of its variable.
TEST_F(SetupImage, TheReleaseCarriesNoTestHook)
{
    std::vector<uint8_t> release = ReadBytes(ReleaseSetupExe());
    ASSERT_GT(release.size(), 100000u);
    const std::string name = "TORRENTINE_TEST_STOP";
    EXPECT_EQ(std::search(release.begin(), release.end(), name.begin(), name.end()), release.end());
    std::vector<uint8_t> test = ReadBytes(TestSetupExe());
    EXPECT_NE(std::search(test.begin(), test.end(), name.begin(), name.end()), test.end());
}

// Both flavours are released Windows programs: Properties > Details shows their product,
// description, original name and version, the one version of the build.
TEST_F(SetupImage, BothFlavoursCarryTheirVersion)
{
    for (const std::wstring& exe : {ReleaseSetupExe(), TestSetupExe()}) {
        SCOPED_TRACE(Utf8(exe));
        DWORD ignored = 0;
        DWORD bytes = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
        ASSERT_GT(bytes, 0u);
        std::vector<uint8_t> block(bytes);
        ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, bytes, block.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT fixed_bytes = 0;
        ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", (void**)&fixed, &fixed_bytes));
        EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
        EXPECT_EQ(fixed->dwFileVersionLS, 0u);
        EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
        const std::pair<const wchar_t*, const wchar_t*> texts[] = {
            {L"ProductName", L"Torrentine PC"},       {L"FileDescription", L"Torrentine PC Setup"},
            {L"OriginalFilename", L"TorrentinePCSetup.exe"}, {L"FileVersion", L"1.0.0.0"},
            {L"ProductVersion", L"1.0.0.0"},
        };
        for (const auto& text : texts) {
            wchar_t* value = nullptr;
            UINT units = 0;
            std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + text.first;
            ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), (void**)&value, &units)) << Utf8(text.first);
            EXPECT_EQ(std::wstring(value), text.second) << Utf8(text.first);
        }
    }
    // The manifest names the same version.
    HMODULE module = LoadLibraryExW(TestSetupExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(manifest, nullptr);
    const char* text = (const char*)LockResource(LoadResource(module, manifest));
    std::string xml(text, SizeofResource(module, manifest));
    EXPECT_NE(xml.find("name=\"TorrentinePC.Setup\" version=\"1.0.0.0\""), std::string::npos);
    FreeLibrary(module);
}

// Both flavours' images as Wine and Windows read them: the resource section, which holds the
// package, starts on a page of the file as well as of memory, so that Wine maps the package
// instead of copying it, while the small sections share pages of the file; the tables the
// loader looks up (imports and their address table, thread-local data, unwind data,
// resources, relocations) lie whole inside one readable section each; the checksum matches
// the file. A layout that lost one of these would still link.
TEST_F(SetupImage, BothFlavoursAreMappableImagesWithTheirTables)
{
    for (const std::wstring& exe : {ReleaseSetupExe(), TestSetupExe()}) {
        SCOPED_TRACE(Utf8(exe));
        std::vector<uint8_t> image = ReadBytes(exe);
        ASSERT_GT(image.size(), 4096u);
        const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)image.data();
        ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
        const IMAGE_NT_HEADERS64* nt = (const IMAGE_NT_HEADERS64*)(image.data() + dos->e_lfanew);
        ASSERT_EQ(nt->Signature, IMAGE_NT_SIGNATURE);
        ASSERT_EQ(nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
        const DWORD file_alignment = nt->OptionalHeader.FileAlignment;
        EXPECT_EQ(file_alignment, 512u);
        EXPECT_NE(nt->OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, 0);
        const IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);
        const int count = nt->FileHeader.NumberOfSections;
        int resource_sections = 0;
        for (int i = 0; i < count; i++) {
            const IMAGE_SECTION_HEADER& section = sections[i];
            SCOPED_TRACE(std::string((const char*)section.Name, strnlen((const char*)section.Name, 8)));
            EXPECT_EQ(section.VirtualAddress % 4096, 0u);
            if (section.SizeOfRawData == 0) continue;
            EXPECT_EQ(section.PointerToRawData % file_alignment, 0u);
            EXPECT_EQ(section.SizeOfRawData % file_alignment, 0u);
            EXPECT_LE((uint64_t)section.PointerToRawData + section.SizeOfRawData, image.size());
            for (int j = 0; j < i; j++) {  // no two sections share bytes of the file
                const IMAGE_SECTION_HEADER& other = sections[j];
                if (other.SizeOfRawData == 0) continue;
                EXPECT_TRUE(section.PointerToRawData >= other.PointerToRawData + other.SizeOfRawData ||
                            other.PointerToRawData >= section.PointerToRawData + section.SizeOfRawData);
            }
            if (memcmp(section.Name, ".rsrc", 6) == 0) {
                resource_sections++;
                EXPECT_EQ(section.PointerToRawData % 4096, 0u);
                EXPECT_GT(section.SizeOfRawData, 50000u);  // the package is in it
            }
        }
        EXPECT_EQ(resource_sections, 1);
        DWORD header_sum = 0, file_sum = 0;
        ASSERT_EQ(MapFileAndCheckSumW(exe.c_str(), &header_sum, &file_sum), (DWORD)CHECKSUM_SUCCESS);
        EXPECT_EQ(header_sum, file_sum);

        struct Table {
            int index;
            const char* what;
            DWORD needed;  // the access the section must give
        };
        const Table tables[] = {
            {IMAGE_DIRECTORY_ENTRY_IMPORT, "imports", IMAGE_SCN_MEM_READ},
            {IMAGE_DIRECTORY_ENTRY_IAT, "import addresses", IMAGE_SCN_MEM_READ},
            {IMAGE_DIRECTORY_ENTRY_TLS, "thread-local data", IMAGE_SCN_MEM_READ},
            {IMAGE_DIRECTORY_ENTRY_EXCEPTION, "unwind data", IMAGE_SCN_MEM_READ},
            {IMAGE_DIRECTORY_ENTRY_RESOURCE, "resources", IMAGE_SCN_MEM_READ},
            {IMAGE_DIRECTORY_ENTRY_BASERELOC, "relocations", IMAGE_SCN_MEM_READ},
        };
        for (const Table& table : tables) {
            SCOPED_TRACE(table.what);
            const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[table.index];
            ASSERT_NE(entry.VirtualAddress, 0u);
            ASSERT_NE(entry.Size, 0u);
            const IMAGE_SECTION_HEADER* holder = nullptr;
            for (int i = 0; i < count; i++) {
                DWORD start = sections[i].VirtualAddress;
                DWORD length = std::max(sections[i].Misc.VirtualSize, sections[i].SizeOfRawData);
                if (entry.VirtualAddress >= start && entry.VirtualAddress + entry.Size <= start + length)
                    holder = &sections[i];
            }
            ASSERT_NE(holder, nullptr);
            EXPECT_EQ(holder->Characteristics & table.needed, table.needed);
        }
    }
}

// A file of the kernel's without a size, read to its end ("" when it cannot be opened).
static std::string ReadToEnd(const std::wstring& path)
{
    std::string text;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return text;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got) text.append(chunk, got);
    CloseHandle(file);
    return text;
}

// This process's memory map as Linux shows it. Wine opens files in its server, so
// /proc/self is the server's: the process is found instead by a file of a unique name that
// it maps while it looks.
static std::string OwnMemoryMap(const std::wstring& scratch)
{
    wchar_t name[64];
    swprintf(name, 64, L"memory-map-beacon-%lu-%llu.bin", GetCurrentProcessId(), GetTickCount64());
    std::wstring beacon = scratch + L"\\" + name;
    std::vector<uint8_t> page(4096, 1);
    if (!WriteBytes(beacon, page.data(), page.size())) return "";
    HANDLE file = CreateFileW(beacon.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    const void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
    std::string found, beacon_utf8 = Utf8(name);
    WIN32_FIND_DATAW entry;
    HANDLE search = view ? FindFirstFileW(L"Z:\\proc\\*", &entry) : INVALID_HANDLE_VALUE;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (entry.cFileName[0] < L'0' || entry.cFileName[0] > L'9') continue;
            std::string maps = ReadToEnd(std::wstring(L"Z:\\proc\\") + entry.cFileName + L"\\maps");
            if (maps.find(beacon_utf8) != std::string::npos) found = maps;
        } while (found.empty() && FindNextFileW(search, &entry));
        FindClose(search);
    }
    if (view) UnmapViewOfFile(view);
    if (mapping) CloseHandle(mapping);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    DeleteFileW(beacon.c_str());
    return found;
}

// What the layout is for: Wine maps the package from the setup file, so a start reads none of
// its 50 MB. The image is loaded here as the loader loads it, and this process's own map
// (Wine runs it as a Linux process) must show the resource section backed by the file.
TEST_F(SetupImage, ThePackageIsMappedFromTheFileNotCopied)
{
    for (const std::wstring& exe : {ReleaseSetupExe(), TestSetupExe()}) {
        SCOPED_TRACE(Utf8(exe));
        std::vector<uint8_t> image = ReadBytes(exe);
        ASSERT_GT(image.size(), 4096u);
        const IMAGE_NT_HEADERS64* nt = (const IMAGE_NT_HEADERS64*)(image.data() + ((const IMAGE_DOS_HEADER*)image.data())->e_lfanew);
        const IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);
        const IMAGE_SECTION_HEADER* resources = nullptr;
        for (int i = 0; i < nt->FileHeader.NumberOfSections; i++)
            if (memcmp(sections[i].Name, ".rsrc", 6) == 0) resources = &sections[i];
        ASSERT_NE(resources, nullptr);

        HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
        ASSERT_NE(module, nullptr);
        uint64_t address = (uint64_t)(uintptr_t)module + resources->VirtualAddress;
        std::string text = OwnMemoryMap(root);
        FreeLibrary(module);
        ASSERT_FALSE(text.empty());
        // Lines read "start-end perms offset device inode path".
        std::string backing;
        size_t line_start = 0;
        while (line_start < text.size()) {
            size_t line_end = text.find('\n', line_start);
            if (line_end == std::string::npos) line_end = text.size();
            std::string line = text.substr(line_start, line_end - line_start);
            line_start = line_end + 1;
            unsigned long long start = 0, end = 0, offset = 0;
            char perms[8] = {};
            int path_at = 0;
            if (sscanf(line.c_str(), "%llx-%llx %7s %llx %*s %*s %n", &start, &end, perms, &offset, &path_at) < 4)
                continue;
            if (address < start || address >= end) continue;
            backing = path_at ? line.substr(path_at) : "";
            EXPECT_EQ(offset + (address - start), resources->PointerToRawData) << line;
        }
        std::string name = Utf8(exe.substr(exe.find_last_of(L'\\') + 1));
        ASSERT_GE(backing.size(), name.size()) << "the package is in memory of its own, not the file's "
                                               << std::hex << address << "\n" << text;
        EXPECT_EQ(backing.substr(backing.size() - name.size()), name);
    }
}
