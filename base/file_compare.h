// Whether a file already holds given bytes: an update leaves the files that are already
// right as they are, and writes only the others.
#pragma once
#include <windows.h>
#include <stdint.h>

#define COMPARE_BUFFER_BYTES (1u << 20)

// 1 when the next count bytes read from file are bytes (null: that many zeros). buffer
// holds COMPARE_BUFFER_BYTES.
int NextBytesAre(HANDLE file, const uint8_t* bytes, uint64_t count, uint8_t* buffer);

// A file mapped for reading whole: comparing through a mapping copies nothing (the pages
// are the cache's). Windows refuses to shorten a file while a mapping of it exists.
struct MappedFile {
    HANDLE file;
    HANDLE mapping;
    const uint8_t* bytes;  // null for an empty file
    uint64_t size;
};

// Maps folder\name when it is a file of the folder itself (no link, no folder); 1 when it
// is mapped. Always UnmapFile after.
int MapFileInFolder(const wchar_t* folder, const wchar_t* name, MappedFile* mapped);
// The same for a path of setup's own (its program file).
int MapFileAt(const wchar_t* path, MappedFile* mapped);
void UnmapFile(MappedFile* mapped);

// 1 when folder\name is a file of the folder itself (no link) holding exactly data.
int FileInFolderHolds(const wchar_t* folder, const wchar_t* name, const uint8_t* data, uint64_t size);

// 1 when folder\name is a file of the folder itself holding exactly the bytes of the file
// at path.
int FileInFolderEquals(const wchar_t* folder, const wchar_t* name, const wchar_t* path);
