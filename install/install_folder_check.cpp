#include "install/install_folder_check.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wchar.h>

#include "base/file_helpers.h"
#include "base/folder_identity.h"
#include "base/partial_names.h"
#include "base/path_helpers.h"
#include "base/setup_state.h"
#include "base/text_format.h"
#include "formats/icon_images.h"
#include "install/install_worker.h"
#include "install/installation_mark.h"
#include "rom/rom_image.h"

// SHCreateDirectoryExW takes a folder path of at most 247 units and a terminator; files
// are opened through MAX_PATH paths (259 units and a terminator, the size of the request's
// and the own path's buffers). An existing file is replaced through a partial name beside
// it, up to PARTIAL_SUFFIX_UNITS longer (base/partial_names.h).
#define FOLDER_CREATE_UNITS 248

static int Longer(int a, int b) { return a > b ? a : b; }
static int Shorter(int a, int b) { return a < b ? a : b; }

int InstallFolderLimit(const ExtractContext* measured)
{
    int longest_file = measured->longest_name_units;
    for (size_t i = 0; i < SETUP_OWN_FILES_COUNT; i++)
        longest_file = Longer(longest_file, (int)wcslen(SETUP_OWN_FILES[i]));
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

static int SameFolderText(const wchar_t* a, const wchar_t* b)
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

// One folder as it is compared: its identity (and number on its volume) when it exists, its
// resolved text always.
struct ComparedFolder {
    wchar_t full[SETUP_JOIN_UNITS];
    int exists;
    FileIdentity identity;
    int indexed;
    uint64_t index;
};

// The folder as Windows resolves it: full, long names where it exists, no "\\?\" prefix
// and no trailing separators. 0 when the result does not fit.
static int NormalisedFolder(const wchar_t* folder, wchar_t* full, size_t capacity)
{
    DWORD units = GetFullPathNameW(folder, (DWORD)capacity, full, nullptr);
    if (units == 0 || units >= capacity) return 0;
    wchar_t long_form[SETUP_JOIN_UNITS];
    units = GetLongPathNameW(full, long_form, SETUP_JOIN_UNITS);
    if (units > 0 && units < SETUP_JOIN_UNITS && units < capacity) wmemcpy(full, long_form, units + 1);
    if (wcsncmp(full, L"\\\\?\\", 4) == 0 && full[4] != L'\0' && full[5] == L':')
        wmemmove(full, full + 4, wcslen(full + 4) + 1);
    DropTrailingSeparators(full);
    return 1;
}

static int ReadComparedFolder(const wchar_t* folder, ComparedFolder* compared)
{
    if (!NormalisedFolder(folder, compared->full, SETUP_JOIN_UNITS)) return 0;
    compared->exists = ReadFileIdentity(compared->full, &compared->identity);
    // A number that cannot be trusted (FAT, a network drive) never tells two folders apart.
    compared->indexed = compared->exists && compared->identity.id_trusted &&
                        ReadFileIndex(compared->full, &compared->index);
    return 1;
}

// Two spellings of one place: by identity when both exist (every spelling, link and mapped
// drive leads to the same one), by resolved text when one does not exist yet.
static int SameFolder(const ComparedFolder* folder, const wchar_t* other)
{
    ComparedFolder known;
    if (!folder->exists) {
        // Only the text can tell: the other's identity is not read (under Wine each costs a
        // round trip to the mount manager, and a new install compares some fifty folders).
        return NormalisedFolder(other, known.full, SETUP_JOIN_UNITS) &&
               SameFolderText(folder->full, known.full);
    }
    // Another number on its volume is another folder, whatever the volumes: the identity,
    // which costs a round trip under Wine, is read only for the same number, and the other's
    // resolved text (its long form costs a search per name on its path) only then too.
    uint64_t index = 0;
    if (folder->indexed && ReadFileIndex(other, &index) && index != folder->index) return 0;
    if (!NormalisedFolder(other, known.full, SETUP_JOIN_UNITS)) return 0;
    if (ReadFileIdentity(known.full, &known.identity)) return SameIdentity(&folder->identity, &known.identity);
    return SameFolderText(folder->full, known.full);
}

// Conventional per-user folders that Windows or Wine may leave undefined as known folders
// (Wine 8 defines no user program files): under the local application data folder.
static const wchar_t* const LOCAL_APP_DATA_SUBFOLDERS[] = {L"Programs", L"Temp"};

static int IsConventionalUserFolder(const ComparedFolder* folder)
{
    PWSTR local = nullptr;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DONT_VERIFY, nullptr, &local))) {
        CoTaskMemFree(local);
        return 0;
    }
    wchar_t path[SETUP_JOIN_UNITS];
    int same = 0;
    for (const wchar_t* name : LOCAL_APP_DATA_SUBFOLDERS)
        if (!same && JoinPath(path, SETUP_JOIN_UNITS, local, name) >= 0) same = SameFolder(folder, path);
    CoTaskMemFree(local);
    return same;
}

// Folders whose every subfolder belongs to Windows or to other programs' passing files: the
// Windows folder and the temporary folders.
static int ReadContainerFolder(int which, wchar_t* path)
{
    DWORD units = 0;
    if (which == 0) units = GetWindowsDirectoryW(path, SETUP_JOIN_UNITS);
    if (which == 1) units = GetTempPathW(SETUP_JOIN_UNITS, path);
    if (which == 2) {
        PWSTR local = nullptr;
        if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DONT_VERIFY, nullptr, &local)))
            units = JoinPath(path, SETUP_JOIN_UNITS, local, L"Temp") >= 0 ? (DWORD)wcslen(path) : 0;
        CoTaskMemFree(local);
    }
    if (units == 0 || units >= SETUP_JOIN_UNITS) return 0;
    DropTrailingSeparators(path);
    return 1;
}

// The folder or one above it is the Windows folder or a temporary folder: by the resolved
// text, and by identity for each existing folder on the way up (another spelling, a mapped
// drive or a link may lead inside them).
static int IsInsideWindowsOrTemporaryFolder(const ComparedFolder* folder)
{
    wchar_t containers[3][SETUP_JOIN_UNITS];
    int known[3];
    for (int i = 0; i < 3; i++) {
        known[i] = ReadContainerFolder(i, containers[i]);
        wchar_t full[SETUP_JOIN_UNITS];
        if (known[i] && NormalisedFolder(containers[i], full, SETUP_JOIN_UNITS)) {
            size_t units = wcslen(full);
            if (CompareStringOrdinal(folder->full, (int)(wcslen(folder->full) < units ? wcslen(folder->full) : units),
                                     full, (int)units, TRUE) == CSTR_EQUAL &&
                (folder->full[units] == L'\0' || folder->full[units] == L'\\'))
                return 1;
        }
    }
    // Numbers on their volumes first: only an equal number costs the full identity.
    uint64_t container_index[3];
    int indexed[3];
    for (int i = 0; i < 3; i++) indexed[i] = known[i] && ReadFileIndex(containers[i], &container_index[i]);
    wchar_t above[SETUP_JOIN_UNITS];
    wmemcpy(above, folder->full, SETUP_JOIN_UNITS);
    do {
        uint64_t index = 0;
        if (!ReadFileIndex(above, &index)) continue;
        for (int i = 0; i < 3; i++)
            if (indexed[i] && index == container_index[i] && IsSameFile(above, containers[i])) return 1;
    } while (PathRemoveFileSpecW(above) && !PathIsRootW(above) && above[0]);
    return 0;
}

// Another installation holds the folder: a folder above it holds setup's mark. An uninstall
// of that installation would remove this one with its saves.
static int IsInsideInstallation(const ComparedFolder* folder)
{
    wchar_t above[SETUP_JOIN_UNITS];
    wmemcpy(above, folder->full, SETUP_JOIN_UNITS);
    while (PathRemoveFileSpecW(above) && above[0]) {
        if (FolderHoldsInstallation(above)) return 1;
        if (PathIsRootW(above)) break;
    }
    return 0;
}

static int IsReservedFolder(const ComparedFolder* folder)
{
    if (IsConventionalUserFolder(folder)) return 1;
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
        if (SameFolder(folder, path)) return 1;
        if (reserved.with_parent && PathRemoveFileSpecW(path) && SameFolder(folder, path)) return 1;
    }
    // Other programs share the temporary folder, and their logs would look like the game's.
    wchar_t temp[SETUP_JOIN_UNITS];
    DWORD units = GetTempPathW(SETUP_JOIN_UNITS, temp);
    return units > 0 && units < SETUP_JOIN_UNITS && SameFolder(folder, temp);
}

// A drive's root by its text, or by what the folder is (a drive letter mapped onto it).
static int IsDriveRoot(const ComparedFolder* folder)
{
    return PathIsRootW(folder->full) || (folder->exists && IsVolumeRoot(folder->full));
}

int IsDriveRootOrKnownFolder(const wchar_t* folder)
{
    ComparedFolder compared;
    if (!ReadComparedFolder(folder, &compared)) return 1;  // unknown: never a safe place
    return IsDriveRoot(&compared) || IsReservedFolder(&compared);
}

// Anything at all in the folder; a folder that does not exist (or cannot be listed) holds
// nothing.
static int HoldsAnything(const wchar_t* folder)
{
    wchar_t search[SETUP_JOIN_UNITS];
    if (FormatText(search, SETUP_JOIN_UNITS, L"%s\\*", folder) < 0) return 1;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(search, &entry);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() != ERROR_FILE_NOT_FOUND &&
                                                GetLastError() != ERROR_PATH_NOT_FOUND;
    int any = 0;
    do {
        if (!IsDotOrDotDot(entry.cFileName)) any = 1;
    } while (!any && FindNextFileW(find, &entry));
    FindClose(find);
    return any;
}

static void Refuse(wchar_t* message, size_t capacity, const wchar_t* text)
{
    FormatText(message, capacity, L"%s", text);
}

int CheckInstallFolder(const wchar_t* folder, int limit, wchar_t* message, size_t capacity)
{
    int form = FolderPathForm(folder);
    if (form == PATH_FORM_DEVICE) {
        Refuse(message, capacity, DEVICE_PATH_TEXT);
        return 0;
    }
    if (form != PATH_FORM_FULL) {
        Refuse(message, capacity, NOT_FULL_PATH_TEXT);
        return 0;
    }
    ComparedFolder compared;
    if ((int)wcslen(folder) > limit || !ReadComparedFolder(folder, &compared) ||
        (int)wcslen(compared.full) > limit) {
        FolderTooLongMessage(limit, message, capacity);
        return 0;
    }
    // No exception, not even for an earlier installation: an uninstall there could remove
    // a whole drive's or the user's own files.
    if (IsDriveRoot(&compared)) {
        Refuse(message, capacity,
               L"Choose a folder, not a whole drive (for example C:\\Games\\Torrentine PC).");
        return 0;
    }
    if (IsReservedFolder(&compared) || IsInsideWindowsOrTemporaryFolder(&compared)) {
        Refuse(message, capacity,
               L"That folder belongs to Windows or holds your own files: choose a folder just "
               L"for the game.");
        return 0;
    }
    if (IsInsideInstallation(&compared)) {
        Refuse(message, capacity,
               L"That folder is inside another Torrentine PC installation: choose a folder outside "
               L"it.");
        return 0;
    }
    // A folder that is a link (a junction, a symbolic link, a mount point) leads to files
    // elsewhere, which an uninstall would empty through it, and a link can be turned
    // elsewhere later: the game goes into a folder of its own.
    if (compared.exists && IsLinkItself(compared.full)) {
        Refuse(message, capacity,
               L"That folder is a link to another place: choose the folder it leads to, or a new "
               L"folder.");
        return 0;
    }
    if (compared.exists && !FolderHoldsInstallation(folder) && HoldsAnything(folder)) {
        Refuse(message, capacity,
               L"That folder already holds other files: choose a new or empty folder just for "
               L"the game.");
        return 0;
    }
    return 1;
}
