// Whether a file already holds given bytes: an update leaves the files that are already
// right as they are, and writes only the others.
#pragma once
#include <windows.h>
#include <stdint.h>

// A quarter of a megabyte: few reads, and the buffer stays in the processor's cache. A
// walk over many files passes one buffer to every comparison: each new buffer's pages cost
// a fault each the first time they are touched (10 us a page on a virtual machine).
#define COMPARE_BUFFER_BYTES (256u * 1024u)

// 1 when the next count bytes read from file are bytes (null: that many zeros). buffer
// holds COMPARE_BUFFER_BYTES.
int NextBytesAre(HANDLE file, const uint8_t* bytes, uint64_t count, uint8_t* buffer);

// 1 when folder\name is a file of the folder itself (no link) holding exactly data. buffer
// holds COMPARE_BUFFER_BYTES, or is null to have one made for this call.
int FileInFolderHolds(const wchar_t* folder, const wchar_t* name, const uint8_t* data, uint64_t size,
                      uint8_t* buffer);

// 1 when folder\name is a file of the folder itself holding exactly the bytes of the file
// at path.
int FileInFolderEquals(const wchar_t* folder, const wchar_t* name, const wchar_t* path);
