#include "install/release_files.h"

#include <windows.h>
#include <shlwapi.h>
#include <string.h>
#include <wchar.h>

#include "base/file_deletion.h"
#include "base/file_helpers.h"
#include "base/installation_layout.h"
#include "base/path_helpers.h"
#include "base/setup_state.h"
#include "base/text_format.h"
#include "formats/file_digest.h"
#include "install/installation_mark.h"
#include "package/package_digest.h"
#include "package/package_format.h"
#include "package/setup_file_digest.h"

struct NameCollection {
    ReleaseNames* names;
    size_t units;  // counted in the first pass, filled in the second
    size_t used;
};

static int CountName(const wchar_t* name, const uint8_t*, uint64_t, void* param)
{
    NameCollection* collection = (NameCollection*)param;
    collection->units += wcslen(name) + 1;
    return 1;
}

static int CopyName(const wchar_t* name, const uint8_t*, uint64_t, void* param)
{
    NameCollection* collection = (NameCollection*)param;
    size_t units = wcslen(name) + 1;
    if (collection->used + units > collection->units) return 0;
    wmemcpy(collection->names->names + collection->used, name, units);
    collection->used += units;
    collection->names->count++;
    return 1;
}

static int CollectNames(const uint8_t* bytes, uint32_t size, ReleaseNames* names)
{
    names->names = nullptr;
    names->count = 0;
    NameCollection collection = {names, 0, 0};
    if (!WalkPackageBytes(bytes, size, CountName, &collection)) return 0;
    names->names = (wchar_t*)LocalAlloc(LMEM_FIXED, (collection.units + 1) * sizeof(wchar_t));
    if (!names->names) return 0;
    if (WalkPackageBytes(bytes, size, CopyName, &collection)) return 1;
    FreeReleaseNames(names);
    return 0;
}

int ReadOwnReleaseNames(ReleaseNames* names)
{
    const uint8_t* bytes = nullptr;
    uint32_t size = 0;
    if (!FindPackage(nullptr, &bytes, &size)) {
        names->names = nullptr;
        names->count = 0;
        return 0;
    }
    return CollectNames(bytes, size, names);
}

// The installed uninstaller's package is the same release as this program's when their
// digests are the same: then its names are this program's, and its 50 MB are not read.
static int SameDigest(const uint8_t* a, uint32_t a_size, const uint8_t* b, uint32_t b_size)
{
    return a_size == b_size && a_size >= PACKAGE_DIGEST_BYTES &&
           memcmp(a + a_size - PACKAGE_DIGEST_BYTES, b + b_size - PACKAGE_DIGEST_BYTES,
                  PACKAGE_DIGEST_BYTES) == 0;
}

// The installed uninstaller's package is checked in its file, where its module says it lies,
// not through the module's 50 MB of mapped pages. Windows lets no one write a file mapped as
// an image, so the file holds the module's bytes while it is loaded.
#define MAPPED_HEADER_BYTES 4096  // an image's first page: its headers and section table
static int InstalledPackageIsIntact(const wchar_t* path, HMODULE module, const uint8_t* bytes, uint32_t size)
{
    const uint8_t* base = (const uint8_t*)((uintptr_t)module & ~(uintptr_t)3);  // a data file's low bits
    uint32_t at = bytes > base ? FileOffsetOfRva(base, MAPPED_HEADER_BYTES, (uint32_t)(bytes - base), size) : 0;
    if (!at) return PackageBytesAreIntact(bytes, size);  // as mapped
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    int intact = PackageInFileIsIntact(file, at, size);
    CloseHandle(file);
    return intact;
}

int ReadInstalledReleaseNames(const wchar_t* folder, ReleaseNames* names)
{
    names->names = nullptr;
    names->count = 0;
    wchar_t path[SETUP_JOIN_UNITS];
    if (JoinPath(path, SETUP_JOIN_UNITS, folder, UNINSTALLER_NAME) < 0) return 0;
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return 0;
    const uint8_t *bytes = nullptr, *own = nullptr;
    uint32_t size = 0, own_size = 0;
    int read = 0;
    if (FindPackage(module, &bytes, &size)) {
        if (FindPackage(nullptr, &own, &own_size) && SameDigest(bytes, size, own, own_size))
            read = CollectNames(own, own_size, names);
        else if (InstalledPackageIsIntact(path, module, bytes, size))
            read = CollectNames(bytes, size, names);
    }
    FreeLibrary(module);
    return read;
}

int ReadFirstReleaseNames(ReleaseNames* names)
{
    size_t units = 0;
    for (size_t i = 0; i < FIRST_RELEASE_FILES_COUNT; i++) units += wcslen(FIRST_RELEASE_FILES[i]) + 1;
    names->count = 0;
    names->names = (wchar_t*)LocalAlloc(LMEM_FIXED, (units + 1) * sizeof(wchar_t));
    if (!names->names) return 0;
    size_t used = 0;
    for (size_t i = 0; i < FIRST_RELEASE_FILES_COUNT; i++) {
        size_t name_units = wcslen(FIRST_RELEASE_FILES[i]) + 1;
        wmemcpy(names->names + used, FIRST_RELEASE_FILES[i], name_units);
        used += name_units;
        names->count++;
    }
    return 1;
}

void FreeReleaseNames(ReleaseNames* names)
{
    if (names->names) LocalFree(names->names);
    names->names = nullptr;
    names->count = 0;
}

static const wchar_t* NextName(const wchar_t* name) { return name + wcslen(name) + 1; }

static int Names(const ReleaseNames* names, const wchar_t* wanted)
{
    if (!names || !names->names) return 0;
    const wchar_t* name = names->names;
    for (uint32_t i = 0; i < names->count; i++, name = NextName(name))
        if (CompareStringOrdinal(name, -1, wanted, -1, TRUE) == CSTR_EQUAL) return 1;
    return 0;
}

int IsInsideNestedInstallation(const wchar_t* folder, const wchar_t* relative_name)
{
    wchar_t path[SETUP_JOIN_UNITS];
    for (const wchar_t* separator = wcschr(relative_name, L'\\'); separator;
         separator = wcschr(separator + 1, L'\\')) {
        if (FormatText(path, SETUP_JOIN_UNITS, L"%s\\%.*s", folder, (int)(separator - relative_name),
                       relative_name) < 0 ||
            FolderHoldsInstallation(path))
            return 1;  // a path too long to check is not entered either
    }
    return 0;
}

void RemoveEmptiedFolders(const wchar_t* folder, const wchar_t* relative_name)
{
    wchar_t path[SETUP_JOIN_UNITS];
    if (JoinPath(path, SETUP_JOIN_UNITS, folder, relative_name) < 0) return;
    size_t top_units = wcslen(folder);
    while (PathRemoveFileSpecW(path) && wcslen(path) > top_units && RemoveEmptyFolder(path)) {
    }
}

static int ShouldRemove(const wchar_t* folder, const wchar_t* name, const ReleaseNames* keep)
{
    return !Names(keep, name) && !IsPlayersOrSetupsName(name) && !IsInsideNestedInstallation(folder, name);
}

int RemoveReleaseFiles(const wchar_t* folder, const ReleaseNames* names, const ReleaseNames* keep)
{
    int worst = DELETION_GONE;
    const wchar_t* name = names->names;
    for (uint32_t i = 0; name && i < names->count; i++, name = NextName(name)) {
        if (!ShouldRemove(folder, name, keep)) continue;
        wchar_t path[SETUP_JOIN_UNITS];
        if (JoinPath(path, SETUP_JOIN_UNITS, folder, name) < 0) {
            worst = DELETION_STAYED;
            continue;
        }
        DeleteInFolder(folder, name);
        if (!HoldsOwnEntry(folder, name)) continue;
        DWORD attributes = GetFileAttributesW(path);
        // A folder the player made at a file's name is not the release's.
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            worst = DELETION_STAYED;
    }
    name = names->names;
    for (uint32_t i = 0; name && i < names->count; i++, name = NextName(name))
        if (wcschr(name, L'\\') && ShouldRemove(folder, name, keep)) RemoveEmptiedFolders(folder, name);
    return worst;
}

int ReleaseFilesAreGone(const wchar_t* folder, const ReleaseNames* names)
{
    const wchar_t* name = names->names;
    for (uint32_t i = 0; name && i < names->count; i++, name = NextName(name)) {
        if (IsPlayersOrSetupsName(name) || IsInsideNestedInstallation(folder, name)) continue;
        if (!HoldsOwnEntry(folder, name)) continue;
        wchar_t path[SETUP_JOIN_UNITS];
        if (JoinPath(path, SETUP_JOIN_UNITS, folder, name) < 0) return 0;
        DWORD attributes = GetFileAttributesW(path);
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    }
    return 1;
}
