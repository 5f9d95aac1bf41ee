// Reads, sizes and what a folder's entry is, over real folders, never through a link to
// somewhere else. Silent: results only. Deletions are in base/file_deletion.h, new and
// replaced files in base/file_replacement.h.
#pragma once
#include <stdint.h>
#include <windows.h>

// 1 when path itself is a link (it leads elsewhere), not a file or folder of its parent.
int IsLinkItself(const wchar_t* path);

// 1 for the "." and ".." entries of a directory listing.
int IsDotOrDotDot(const wchar_t* name);

// Reads up to capacity bytes of folder\name when it is a file of the folder itself, never
// a link to somewhere else. The number of bytes read, or -1 when it cannot be read so.
int ReadFileInFolder(const wchar_t* folder, const wchar_t* name, void* buffer, uint32_t capacity);

// Opens folder\name for reading when it is a file of the folder itself (never a link to
// somewhere else, never a folder), with its size; INVALID_HANDLE_VALUE otherwise.
HANDLE OpenFileInFolder(const wchar_t* folder, const wchar_t* name, uint64_t* size);

// 1 when folder\name is an entry of the folder itself (a file or a folder), or may be one:
// only a name that is missing, or a link that leads elsewhere, gives 0.
int HoldsOwnEntry(const wchar_t* folder, const wchar_t* name);
// The same for many names of one folder, its place read once (file_deletion.h's
// ReadFolderPlaceOnce; null, as an unreadable place, gives 1).
struct FilePlace;
int HoldsEntryInPlacedFolder(const FilePlace* place, const wchar_t* folder, const wchar_t* name);

// 1 when folder holds a file (not a folder) of that name.
int IsFileInFolder(const wchar_t* folder, const wchar_t* name);

// Bytes of all files below folder. Links are never followed: each counts as itself.
uint64_t TreeSize(const wchar_t* folder);
