// Times the steps of one silent install one by one, in the order the install worker runs
// them and through the setup program's own functions, and beside them the floor's way of
// writing the same files, so that a gap between the setup program and the floor can be
// put on a step. One line per step: its name, milliseconds, working set and peak working
// set in MiB after it.
//
//   install_steps.exe SETUP_EXE ROM_FILE INSTALL_FOLDER FLOOR_FOLDER
//   install_steps.exe part map-copy|update GAME_EXE
//
// The package is read from SETUP_EXE's RT_RCDATA 101, mapped as a data file; the copy of
// "Uninstall.exe" is made from SETUP_EXE, as the setup program copies itself.
#include <windows.h>
#include <objbase.h>
#include <psapi.h>
#include <shellapi.h>
#include <shlobj.h>
#include <stdio.h>
#include <wchar.h>

#include "base/file_helpers.h"
#include "base/file_replacement.h"
#include "base/setup_state.h"
#include "base/text_format.h"
#include "install/game_icon.h"
#include "formats/icon_images.h"
#include "install/install_worker.h"
#include "install/shell_registration.h"
#include "package/package_digest.h"
#include "install/package_extraction.h"
#include "package/package_format.h"
#include "rom/rom_image.h"

#define XXH_INLINE_ALL
#include "xxhash.h"

static LARGE_INTEGER g_frequency;
static LARGE_INTEGER g_last;

// Prints the time since the previous step and the memory after this one.
static void Step(const char* name)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    PROCESS_MEMORY_COUNTERS memory;
    ZeroMemory(&memory, sizeof memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    printf("%s %.3f %.1f %.1f\n", name,
           (double)(now.QuadPart - g_last.QuadPart) * 1000.0 / (double)g_frequency.QuadPart,
           (double)memory.WorkingSetSize / 1048576.0, (double)memory.PeakWorkingSetSize / 1048576.0);
    fflush(stdout);
    QueryPerformanceCounter(&g_last);
}

// The floor's visitor: the folders along the name, then one write.
static int FloorEntry(const wchar_t* name, const uint8_t* data, uint64_t size, void* context)
{
    wchar_t path[SETUP_JOIN_UNITS];
    JoinPath(path, SETUP_JOIN_UNITS, (const wchar_t*)context, name);
    size_t from = wcslen((const wchar_t*)context) + 1;
    for (size_t i = from; path[i]; i++) {
        if (path[i] != L'\\') continue;
        path[i] = L'\0';
        CreateDirectoryW(path, nullptr);
        path[i] = L'\\';
    }
    return WriteWholeFile(path, data, (uint32_t)size);
}

// What the icon step does before its update: the executable mapped as an image resource
// and each of its resources copied to the heap (here only the largest ones matter).
static void MapAndCopyResources(const wchar_t* executable)
{
    HMODULE module = LoadLibraryExW(executable, nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return;
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(200), RT_RCDATA);
    DWORD bytes = found ? SizeofResource(module, found) : 0;
    const void* data = found ? LockResource(LoadResource(module, found)) : nullptr;
    void* copy = HeapAlloc(GetProcessHeap(), 0, bytes ? bytes : 1);
    if (copy && data) CopyMemory(copy, data, bytes);
    FreeLibrary(module);
    HeapFree(GetProcessHeap(), 0, copy);
}

// One part of the icon step alone in this process, for its peak memory: "map-copy" maps the
// executable and copies its resources; "update" rewrites it with the same resources.
static int RunPart(const wchar_t* part, const wchar_t* executable)
{
    QueryPerformanceFrequency(&g_frequency);
    QueryPerformanceCounter(&g_last);
    Step("start");
    if (wcscmp(part, L"map-copy") == 0) {
        MapAndCopyResources(executable);
    } else if (wcscmp(part, L"update") == 0) {
        HANDLE update = BeginUpdateResourceW(executable, FALSE);
        if (!update || !EndUpdateResourceW(update, FALSE)) return 1;
    } else {
        return 2;
    }
    Step("part");
    return 0;
}

int wmain(int argc, wchar_t** argv)
{
    if (argc == 4 && wcscmp(argv[1], L"part") == 0) return RunPart(argv[2], argv[3]);
    if (argc != 5) {
        fwprintf(stderr, L"usage: install_steps SETUP_EXE ROM_FILE INSTALL_FOLDER FLOOR_FOLDER\n");
        return 2;
    }
    const wchar_t* setup = argv[1];
    const wchar_t* folder = argv[3];
    QueryPerformanceFrequency(&g_frequency);
    QueryPerformanceCounter(&g_last);
    g_setup.silent = 1;
    g_setup.last_progress = -1;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    Step("start");

    HMODULE module = LoadLibraryExW(setup, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC resource = module ? FindResourceW(module, MAKEINTRESOURCEW(PACKAGE_RESOURCE_ID), RT_RCDATA)
                            : nullptr;
    if (!resource) return 3;
    uint32_t package_bytes = SizeofResource(module, resource);
    const uint8_t* package = (const uint8_t*)LockResource(LoadResource(module, resource));
    Step("map-package");

    // The package's digest check (in the install it runs on the second core beside the ROM
    // check): first on pages never read, as in the install, then again on pages in memory,
    // beside a plain XXH3 pass over the same bytes.
    if (!PackageBytesAreIntact(package, package_bytes)) return 5;
    Step("package-digest-first-read");
    if (!PackageBytesAreIntact(package, package_bytes)) return 5;
    Step("package-digest-in-memory");
    volatile uint64_t sink = XXH3_128bits(package, package_bytes - PACKAGE_DIGEST_BYTES).low64;
    (void)sink;
    Step("xxh3-128-same-bytes");

    HasInstalledRomCopy(folder);
    Step("installed-copy-test");
    static uint8_t picture[ICON_PICTURE_BYTES];
    uint32_t length = 0;
    if (CheckRomFile(argv[2], &length, ICON_PICTURE_OFFSET, ICON_PICTURE_BYTES, picture) != ROMCHECK_ACCEPTED)
        return 4;
    Step("rom-check");
    SHCreateDirectoryExW(nullptr, folder, nullptr);
    Step("create-folder");
    GameIconImages images;
    BuildIconImagesFromPicture(&images, picture);
    Step("icon-images");

    ExtractContext context;
    ZeroMemory(&context, sizeof context);
    context.install_folder = folder;
    context.game_icon = &images;  // the game executable written once, with its new icons
    WalkPackageBytes(package, package_bytes, SumEntrySize, &context);
    Step("sum-sizes");
    if (!WalkPackageBytes(package, package_bytes, ExtractEntry, &context)) return 5;
    Step("extract");

    wchar_t path[SETUP_JOIN_UNITS];
    static const char note[] = "Settings, saves, mods and the ROM copy are kept in this folder.\r\n";
    JoinPath(path, SETUP_JOIN_UNITS, folder, PORTABLE_NOTE_NAME);
    WriteWholeFileAsNew(path, note, sizeof note - 1);
    Step("portable-note");
    JoinPath(path, SETUP_JOIN_UNITS, folder, ROM_COPY_NAME);
    if (CopyRomImage(argv[2], length, path, 1) != ROMCHECK_ACCEPTED) return 6;
    Step("rom-copy");
    StoreGameIcon(folder, &images);
    FreeIconImages(&images);
    Step("game-icon");
    JoinPath(path, SETUP_JOIN_UNITS, folder, UNINSTALLER_NAME);
    CopyFileAsNew(setup, path);
    Step("uninstaller-copy");
    wchar_t game[SETUP_JOIN_UNITS], icon[SETUP_JOIN_UNITS];
    JoinPath(game, SETUP_JOIN_UNITS, folder, GAME_EXE_NAME);
    JoinPath(icon, SETUP_JOIN_UNITS, folder, ICON_FILE_NAME);
    RegisterShellEntries(game, folder, icon, DISPLAY_NAME, 0, 0);
    Step("shell-entry");
    TreeSize(folder);
    Step("tree-size-again");  // the part of the uninstall entry that measures the folder
    // The update path, which the icon step takes for an executable the resource-section
    // writer does not handle, in parts: the six images and the icon file alone (no
    // executable in the floor folder yet, so the resource update fails at once), the
    // executable's resources mapped and copied, its resource update read and discarded,
    // and committed.
    SHCreateDirectoryExW(nullptr, argv[4], nullptr);
    Step("floor-create-folder");
    uint8_t* image = nullptr;
    LoadRomImage(argv[2], &image, &length);
    Step("rom-whole-image");  // for the update path's steps alone
    BuildGameIcon(argv[4], image, length);
    Step("icon-images-and-file");
    FreeRomImage(image);
    MapAndCopyResources(game);
    Step("exe-map-copy-resources");
    HANDLE update = BeginUpdateResourceW(game, TRUE);
    EndUpdateResourceW(update, TRUE);
    Step("exe-update-discarded");
    update = BeginUpdateResourceW(game, FALSE);
    EndUpdateResourceW(update, FALSE);
    Step("exe-update-committed");

    // The floor's extraction of the same package, for the extraction step's comparison.
    if (!WalkPackageBytes(package, package_bytes, FloorEntry, (void*)argv[4])) return 7;
    Step("floor-extract");
    FreeLibrary(module);
    CoUninitialize();
    return 0;
}
