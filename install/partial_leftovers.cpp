#include "install/partial_leftovers.h"

#include <windows.h>
#include <wchar.h>

#include "base/file_deletion.h"
#include "base/partial_names.h"
#include "base/setup_state.h"
#include "base/text_format.h"
#include "formats/icon_images.h"
#include "install/install_worker.h"
#include "package/package_format.h"
#include "rom/rom_image.h"

#define LEFTOVER_FOLDERS_MAX 64

// The folders (relative to the installation, "" for itself) in which the package has files.
struct PackageFolders {
    int count;
    int overflow;
    wchar_t names[LEFTOVER_FOLDERS_MAX][PACKAGE_NAME_UNITS];
};

static int SameName(const wchar_t* a, int a_units, const wchar_t* b, int b_units)
{
    return CompareStringOrdinal(a, a_units, b, b_units, TRUE) == CSTR_EQUAL;
}

static int CollectFolder(const wchar_t* name, const uint8_t*, uint64_t, void* context)
{
    PackageFolders* folders = (PackageFolders*)context;
    const wchar_t* last = wcsrchr(name, L'\\');
    int units = last ? (int)(last - name) : 0;
    for (int i = 0; i < folders->count; i++)
        if (SameName(folders->names[i], -1, name, units)) return 1;
    if (folders->count == LEFTOVER_FOLDERS_MAX) {
        folders->overflow = 1;
        return 1;
    }
    wmemcpy(folders->names[folders->count], name, units);
    folders->names[folders->count][units] = L'\0';
    folders->count++;
    return 1;
}

struct EntrySearch {
    const wchar_t* wanted;  // "folder\name" relative to the installation
    int wanted_units;
    int found;
};

static int FindEntry(const wchar_t* name, const uint8_t*, uint64_t, void* context)
{
    EntrySearch* search = (EntrySearch*)context;
    if (SameName(name, -1, search->wanted, search->wanted_units)) search->found = 1;
    return !search->found;
}

static int IsSetupsOwnName(const wchar_t* name, int units)
{
    for (size_t i = 0; i < SETUP_OWN_FILES_COUNT; i++)
        if (SameName(name, units, SETUP_OWN_FILES[i], -1)) return 1;
    return 0;
}

static int IsPackageEntry(const wchar_t* relative_folder, const wchar_t* name, int units)
{
    wchar_t wanted[PACKAGE_NAME_UNITS];
    int written = relative_folder[0]
                      ? FormatText(wanted, PACKAGE_NAME_UNITS, L"%s\\%.*s", relative_folder, units, name)
                      : FormatText(wanted, PACKAGE_NAME_UNITS, L"%.*s", units, name);
    if (written < 0) return 0;
    EntrySearch search = {wanted, written, 0};
    WalkPackage(FindEntry, &search);
    return search.found;
}

static void RemoveLeftoversIn(const wchar_t* folder, const wchar_t* relative_folder)
{
    wchar_t here[SETUP_JOIN_UNITS], search[SETUP_JOIN_UNITS];
    int joined = relative_folder[0] ? JoinPath(here, SETUP_JOIN_UNITS, folder, relative_folder)
                                    : FormatText(here, SETUP_JOIN_UNITS, L"%s", folder);
    if (joined < 0 || JoinPath(search, SETUP_JOIN_UNITS, here, PARTIAL_SEARCH_PATTERN) < 0) return;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileExW(search, FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        int units = UnitsBeforePartialSuffix(entry.cFileName);  // long names only, never 8.3
        if (units < 0) continue;
        if ((!relative_folder[0] && IsSetupsOwnName(entry.cFileName, units)) ||
            IsPackageEntry(relative_folder, entry.cFileName, units))
            DeleteInFolder(here, entry.cFileName);  // a link stays, and so does its target
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

void RemovePartialLeftovers(const wchar_t* folder)
{
    PackageFolders* folders = (PackageFolders*)LocalAlloc(LMEM_ZEROINIT, sizeof(PackageFolders));
    if (!folders) return;
    folders->count = 1;  // the installation itself, for setup's own files
    WalkPackage(CollectFolder, folders);
    for (int i = 0; i < folders->count; i++) RemoveLeftoversIn(folder, folders->names[i]);
    LocalFree(folders);
}
