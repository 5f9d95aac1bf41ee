// Opening a folder's entry as itself, never through a link: what the deletions, the
// replacements and the reads of base/ share. Internal to base/ (and its unit tests);
// other folders call file_helpers.h, file_deletion.h and file_replacement.h.
//
// Deletions act on a directory entry itself, never on what a link there points to. Windows
// opens a link itself when asked (FILE_FLAG_OPEN_REPARSE_POINT); Wine ignores that and
// resolves Unix symbolic links even in DeleteFileW and RemoveDirectoryW, which then delete
// the target. So every entry is opened first, and a handle that names another place than
// the entry's own (its folder's place, a backslash, its name) is a link: it is left alone.
#pragma once
#include <windows.h>

#define ENTRY_SHARING (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)
#define ENTRY_ITSELF (FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS)
// A handle's name on its volume may be longer than the path that reached it (a
// substituted drive resolves to its real folder); below a folder, saves and mods may lie
// deeper than the platform's path limit. Buffers of this size live on the heap, or once
// per call at the top.
#define PLACE_UNITS 32768

// Where an open file or folder really is, links on the way resolved: its volume's device
// and its path there, in one name, without a trailing backslash.
struct FilePlace {
    wchar_t path[PLACE_UNITS];
};

int ReadPlace(HANDLE handle, FilePlace* place);
// The place of a folder the caller names (links on the way to it are the caller's choice).
int ReadFolderPlace(const wchar_t* folder, FilePlace* place);
// 1 when handle is folder\name itself, not what a link there leads to.
int HandleIsEntryItself(HANDLE handle, const FilePlace* folder, const wchar_t* name);

// Only name-surrogate reparse points (junctions, symbolic links, mount points) are links,
// never entered; any other reparse point (a cloud placeholder, a projected file) is an
// ordinary file or folder to the deletions. Decided by the attributes and the reparse tag
// (FILE_ATTRIBUTE_TAG_INFO.ReparseTag, or a search's dwReserved0).
int IsLinkReparsePoint(DWORD attributes, DWORD reparse_tag);

// Opens folder\name (already joined into path) as itself, with its own attributes. On
// failure *why says what stands there: ENTRY_MISSING, ENTRY_LINK (it leads elsewhere) or
// ENTRY_UNOPENED (in use, denied).
#define ENTRY_MISSING 0
#define ENTRY_LINK 1
#define ENTRY_UNOPENED 2
HANDLE OpenEntryReporting(const wchar_t* path, const FilePlace* folder, const wchar_t* name,
                          DWORD access, DWORD* attributes, int* why);
HANDLE OpenEntryItself(const wchar_t* path, const FilePlace* folder, const wchar_t* name,
                       DWORD access, DWORD* attributes);

// Splits path into its folder (SETUP_JOIN_UNITS units; a drive root keeps its backslash)
// and its last name.
int SplitLastName(const wchar_t* path, wchar_t* folder, const wchar_t** name);
// The place of path's folder, and path's last name (within path). 0 when path has no
// folder or the folder cannot be opened.
int ReadParentPlace(const wchar_t* path, FilePlace* place, const wchar_t** name);

// Marks the open file or folder for deletion. Nonzero when the request was accepted.
int DeleteByHandle(HANDLE handle);

// A directory search by long names (the basic information, no 8.3 names looked up).
HANDLE FindFirstLongName(const wchar_t* search, WIN32_FIND_DATAW* entry);
