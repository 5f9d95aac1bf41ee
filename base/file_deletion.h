// Deletions over real folders that never act through a link: a link is removed as itself,
// with its target untouched, or stays where that cannot be done (Wine cannot remove a Unix
// symbolic link). A file busy for a moment (a scanner, say) is tried again
// (base/busy_retry.h). Silent: results only.
#pragma once
#include <windows.h>

// Deletes the file or link folder\name (never a real folder). Nonzero when it was deleted.
int DeleteInFolder(const wchar_t* folder, const wchar_t* name);
// The same for a full path.
int DeletePathItself(const wchar_t* path);

// The same for many names of one folder: its place is read once (ReadFolderPlaceOnce,
// nullptr when the folder cannot be opened; FreeFolderPlace after). Each name still has to
// be an entry of that place, so a folder swapped for a link meanwhile keeps its names.
struct FilePlace;
FilePlace* ReadFolderPlaceOnce(const wchar_t* folder);
void FreeFolderPlace(FilePlace* place);
int DeleteInPlacedFolder(const FilePlace* place, const wchar_t* folder, const wchar_t* name);

// What a deletion left, from best to worst: nothing; only what it must leave (a link that
// cannot be removed as itself, a folder it was told to keep, and the folders above those);
// something it could not delete (in use, read-only, denied).
#define DELETION_GONE 0
#define DELETION_KEPT 1
#define DELETION_STAYED 2

// Deletes the files (never folders) directly in folder whose long names match the
// wildcard pattern ("*" and "?", case ignored). The worst DELETION_* outcome.
int DeleteMatching(const wchar_t* folder, const wchar_t* pattern);

// Deletes folder and everything below it; links are removed, never entered, and a folder
// that is itself a link is removed as a link. Nonzero when the folder itself was removed.
int DeleteTree(const wchar_t* folder);

// 1 when a deletion must leave the real folder at path whole (another installation).
typedef int (*FolderGuard)(const wchar_t* path);
// DeleteTree that leaves whole every folder below (or at) folder for which keep says so;
// the DELETION_* outcome (a missing folder is gone).
int DeleteTreeKeeping(const wchar_t* folder, FolderGuard keep);

// Removes the folder at path when it is empty and a real folder of its parent, never a
// link. Nonzero when it was removed.
int RemoveEmptyFolder(const wchar_t* path);
