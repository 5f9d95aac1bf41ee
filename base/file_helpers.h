// Whole-file writes, deletions and sizes over real folders. Silent: results only.
#pragma once
#include <stdint.h>
#include <windows.h>

// Creates or replaces path with exactly count bytes in one write. 1 when all were written.
int WriteWholeFile(const wchar_t* path, const void* data, uint32_t count);

// The deletions never act through a link: a link is removed as itself, with its target
// untouched, or stays where that cannot be done (Wine cannot remove a Unix symbolic link).

// Only name-surrogate reparse points (junctions, symbolic links, mount points) are links,
// never entered; any other reparse point (a cloud placeholder, a projected file) is an
// ordinary file or folder to the deletions. Decided by the attributes and the reparse tag
// (FILE_ATTRIBUTE_TAG_INFO.ReparseTag, or a search's dwReserved0).
int IsLinkReparsePoint(DWORD attributes, DWORD reparse_tag);
// 1 when path itself is a link (it leads elsewhere), not a file or folder of its parent.
int IsLinkItself(const wchar_t* path);

// Deletes the file or link folder\name (never a real folder). Nonzero when it was deleted.
int DeleteInFolder(const wchar_t* folder, const wchar_t* name);
// The same for many names of one folder: its place is read once (ReadFolderPlaceOnce,
// nullptr when the folder cannot be opened; FreeFolderPlace after). Each name still has to
// be an entry of that place, so a folder swapped for a link meanwhile keeps its names.
struct FilePlace;
FilePlace* ReadFolderPlaceOnce(const wchar_t* folder);
void FreeFolderPlace(FilePlace* place);
int DeleteInPlacedFolder(const FilePlace* place, const wchar_t* folder, const wchar_t* name);

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

// 1 when folder holds a file (not a folder) of that name.
int IsFileInFolder(const wchar_t* folder, const wchar_t* name);
// The same for a full path.
int DeletePathItself(const wchar_t* path);

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

// Bytes of all files below folder. Links are never followed: each counts as itself.
uint64_t TreeSize(const wchar_t* folder);

// Replaces path by exactly count bytes, or leaves it as it was: the bytes go to a new
// "<path>.partial" file beside it first, which is renamed over path only when complete.
// 1 on success; on failure the partial file is removed again.
int ReplaceWholeFile(const wchar_t* path, const void* data, uint32_t count);

// Makes a new file at path, which must not exist yet (CREATE_NEW), from data and count as
// the maker reads them. error: 0 once the file was created, else why it could not be.
typedef int (*NewFileMaker)(const wchar_t* path, const void* data, uint32_t count, DWORD* error);

// Makes path through make as a new file; an existing name is replaced as a name, never
// written into (the rule of WriteWholeFileAsNew below). 1 when the new file is complete.
int MakeFileAsNew(const wchar_t* path, NewFileMaker make, const void* data, uint32_t count);

// ReplaceWholeFile with the new file made by make.
int ReplaceWholeFileWith(const wchar_t* path, NewFileMaker make, const void* data, uint32_t count);

// Writes path as a new file of exactly count bytes. A new name is created and written at
// once; an existing one is replaced as a name (through "<path>.partial", or a numbered
// "<path>.partialN" past a leftover of an interrupted run), never written into, so a link there or a file with other hard links keeps what it points to. 1 when
// all was written.
int WriteWholeFileAsNew(const wchar_t* path, const void* data, uint32_t count);

// The partial names beside path: slot 0 is "<path>.partial", slots 1 to 9 "<path>.partialN".
#define PARTIAL_SLOTS 10
int PartialPath(wchar_t* buffer, size_t capacity, const wchar_t* path, int slot);
// The first slot whose name is free beside path, or -1 when every one is taken.
int FreePartialSlot(const wchar_t* path);

// Creates path, which must not exist yet, with exactly count bytes: a name that exists is a
// failure, never replaced. *created: whether this call made the file (whole or not).
int CreateWholeFile(const wchar_t* path, const void* data, uint32_t count, int* created);
// Copies the bytes of source's data to a new file at path, which must not exist yet: no
// alternate data stream (a download's zone mark) and no attribute comes along. error: 0 once
// the file was created, else why it could not be; an incomplete copy is removed again.
int CopyBytesToNewFile(const wchar_t* source, const wchar_t* path, DWORD* error);
// Copies source (as CopyBytesToNewFile) to a new file at path on the same terms (*created: 1
// only for a whole copy).
int CopyToNewFile(const wchar_t* source, const wchar_t* path, int* created);

// Copies source (as CopyBytesToNewFile) to path by the same rule: an existing name at path
// is replaced, never written into. 1 on success.
int CopyFileAsNew(const wchar_t* source, const wchar_t* path);
