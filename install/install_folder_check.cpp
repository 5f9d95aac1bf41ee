#include "install/install_folder_check.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wchar.h>

#include "base/file_helpers.h"
#include "base/setup_state.h"
#include "base/text_format.h"
#include "install/icon_images.h"
#include "install/install_worker.h"
#include "rom/rom_image.h"

// SHCreateDirectoryExW takes a folder path of at most 247 units and a terminator; files
// are opened through MAX_PATH paths (259 units and a terminator, the size of the request's
// and the own path's buffers). An existing file is replaced through "<name>.partial" or,
// past an interrupted run's, "<name>.partial1" to "<name>.partial9".
#define FOLDER_CREATE_UNITS 248
#define PARTIAL_SUFFIX_UNITS 9

static int Longer(int a, int b) { return a > b ? a : b; }
static int Shorter(int a, int b) { return a < b ? a : b; }

int InstallFolderLimit(const ExtractContext* measured)
{
    static const wchar_t* const own_names[] = {ROM_COPY_NAME, UNINSTALLER_NAME, ICON_FILE_NAME,
                                               PORTABLE_NOTE_NAME};
    int longest_file = measured->longest_name_units;
    for (const wchar_t* name : own_names) longest_file = Longer(longest_file, (int)wcslen(name));
    int limit = FOLDER_CREATE_UNITS - 1;
    limit = Shorter(limit, SETUP_PATH_UNITS - 1 - 1 - (longest_file + PARTIAL_SUFFIX_UNITS));
    if (measured->longest_folder_units > 0)
        limit = Shorter(limit, FOLDER_CREATE_UNITS - 1 - 1 - measured->longest_folder_units);
    return limit;
}

void FolderTooLongMessage(int limit, wchar_t* message, size_t capacity)
{
    FormatText(message, capacity,
               L"That folder path is too long: keep it to %d characters or fewer.", limit);
}

static int SameFolder(const wchar_t* a, const wchar_t* b)
{
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

static void DropTrailingSeparators(wchar_t* path)
{
    size_t length = wcslen(path);
    while (length > 3 && path[length - 1] == L'\\') path[--length] = L'\0';
}

// Folders whose removal, or whose other files, a later uninstall must never touch.
struct ReservedFolder {
    const KNOWNFOLDERID* id;
    bool with_parent;  // the folder's parent too (AppData above Roaming and Local)
};

static const ReservedFolder RESERVED_FOLDERS[] = {
    {&FOLDERID_Profile, false},          {&FOLDERID_Desktop, false},
    {&FOLDERID_Documents, false},        {&FOLDERID_Downloads, false},
    {&FOLDERID_Music, false},            {&FOLDERID_Pictures, false},
    {&FOLDERID_Videos, false},           {&FOLDERID_SavedGames, false},
    {&FOLDERID_RoamingAppData, true},    {&FOLDERID_LocalAppData, true},
    {&FOLDERID_LocalAppDataLow, false},  {&FOLDERID_StartMenu, false},
    {&FOLDERID_Programs, false},         {&FOLDERID_Startup, false},
    {&FOLDERID_Favorites, false},        {&FOLDERID_Links, false},
    {&FOLDERID_Contacts, false},         {&FOLDERID_SavedSearches, false},
    {&FOLDERID_Objects3D, false},        {&FOLDERID_SkyDrive, false},
    {&FOLDERID_CameraRoll, false},       {&FOLDERID_Screenshots, false},
    {&FOLDERID_Templates, false},        {&FOLDERID_SendTo, false},
    {&FOLDERID_Recent, false},           {&FOLDERID_UserProfiles, false},
    {&FOLDERID_Public, false},           {&FOLDERID_PublicDesktop, false},
    {&FOLDERID_PublicDocuments, false},  {&FOLDERID_PublicDownloads, false},
    {&FOLDERID_PublicMusic, false},      {&FOLDERID_PublicPictures, false},
    {&FOLDERID_PublicVideos, false},     {&FOLDERID_CommonStartMenu, false},
    {&FOLDERID_CommonPrograms, false},   {&FOLDERID_CommonStartup, false},
    {&FOLDERID_ProgramData, false},      {&FOLDERID_Windows, false},
    {&FOLDERID_System, false},           {&FOLDERID_SystemX86, false},
    {&FOLDERID_ProgramFiles, false},     {&FOLDERID_ProgramFilesX86, false},
    {&FOLDERID_ProgramFilesX64, false},  {&FOLDERID_ProgramFilesCommon, false},
    {&FOLDERID_ProgramFilesCommonX86, false}, {&FOLDERID_ProgramFilesCommonX64, false},
    {&FOLDERID_UserProgramFiles, false}, {&FOLDERID_UserProgramFilesCommon, false},
};

// full: a normalised full path without trailing separators.
static int IsReservedFolder(const wchar_t* full)
{
    for (const ReservedFolder& reserved : RESERVED_FOLDERS) {
        PWSTR known = nullptr;
        if (FAILED(SHGetKnownFolderPath(*reserved.id, KF_FLAG_DONT_VERIFY, nullptr, &known))) {
            CoTaskMemFree(known);
            continue;  // not defined on this system
        }
        wchar_t path[SETUP_JOIN_UNITS];
        int fits = FormatText(path, SETUP_JOIN_UNITS, L"%s", known) >= 0;
        CoTaskMemFree(known);
        if (!fits) continue;
        DropTrailingSeparators(path);
        if (SameFolder(full, path)) return 1;
        if (reserved.with_parent && PathRemoveFileSpecW(path) && SameFolder(full, path)) return 1;
    }
    return 0;
}

static int EndsWith(const wchar_t* name, size_t length, const wchar_t* ending)
{
    size_t units = wcslen(ending);
    return length >= units &&
           CompareStringOrdinal(name + length - units, -1, ending, -1, TRUE) == CSTR_EQUAL;
}

// What the game itself leaves in its folder: saves, settings and mods, its note and logs.
// Players put these back before they reinstall.
static int IsGameLeftover(const wchar_t* name)
{
    static const wchar_t* const names[] = {L"saves", L"mods", L"mod_config", L"tn_framerate_v1",
                                           PORTABLE_NOTE_NAME};
    static const wchar_t* const endings[] = {L".json", L".json.bak", L".log"};
    for (const wchar_t* leftover : names)
        if (CompareStringOrdinal(name, -1, leftover, -1, TRUE) == CSTR_EQUAL) return 1;
    size_t length = wcslen(name);
    for (const wchar_t* ending : endings)
        if (EndsWith(name, length, ending)) return 1;
    return 0;
}

// Anything in the folder besides the game's leftovers; a folder that does not exist (or
// cannot be listed) holds nothing.
static int HoldsOtherFiles(const wchar_t* folder)
{
    wchar_t search[SETUP_JOIN_UNITS];
    if (FormatText(search, SETUP_JOIN_UNITS, L"%s\\*", folder) < 0) return 1;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(search, &entry);
    if (find == INVALID_HANDLE_VALUE) return 0;
    int other = 0;
    do {
        if (IsDotOrDotDot(entry.cFileName)) continue;
        if (!IsGameLeftover(entry.cFileName)) other = 1;
    } while (!other && FindNextFileW(find, &entry));
    FindClose(find);
    return other;
}

// An earlier installation, also one that was interrupted after its first file: the game
// executable (the package's first entry).
static int HoldsGameExecutable(const wchar_t* folder)
{
    return IsFileInFolder(folder, GAME_EXE_NAME);
}

// The folder as Windows resolves it: full, long names where it exists, no "\\?\" prefix
// and no trailing separators. 0 when the result does not fit.
static int NormalisedFolder(const wchar_t* folder, wchar_t* full)
{
    DWORD units = GetFullPathNameW(folder, SETUP_PATH_UNITS, full, nullptr);
    if (units == 0 || units >= SETUP_PATH_UNITS) return 0;
    wchar_t long_form[SETUP_PATH_UNITS];
    units = GetLongPathNameW(full, long_form, SETUP_PATH_UNITS);
    if (units > 0 && units < SETUP_PATH_UNITS) wmemcpy(full, long_form, units + 1);
    if (wcsncmp(full, L"\\\\?\\", 4) == 0 && full[4] != L'\0' && full[5] == L':')
        wmemmove(full, full + 4, wcslen(full + 4) + 1);
    DropTrailingSeparators(full);
    return 1;
}

int CheckInstallFolder(const wchar_t* folder, bool has_rom_copy, int limit, wchar_t* message,
                       size_t capacity)
{
    wchar_t full[SETUP_PATH_UNITS];
    if ((int)wcslen(folder) > limit || !NormalisedFolder(folder, full) ||
        (int)wcslen(full) > limit) {
        FolderTooLongMessage(limit, message, capacity);
        return 0;
    }
    // An earlier installation is updated where it is: refusing it would make nothing safer.
    // Where the folder could be anyone's, that takes the update's own evidence, a valid ROM
    // copy (a name only setup writes).
    if (has_rom_copy) return 1;
    if (PathIsRootW(full)) {
        FormatText(message, capacity, L"%s",
                   L"Choose a folder, not a whole drive (for example C:\\Games\\Torrentine PC).");
        return 0;
    }
    if (IsReservedFolder(full)) {
        FormatText(message, capacity, L"%s",
                   L"That folder belongs to Windows or holds your own files: choose a folder "
                   L"just for the game.");
        return 0;
    }
    if (!HoldsGameExecutable(folder) && HoldsOtherFiles(folder)) {
        FormatText(message, capacity, L"%s",
                   L"That folder already holds other files: choose a new or empty folder just "
                   L"for the game.");
        return 0;
    }
    return 1;
}
