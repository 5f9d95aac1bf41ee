// The headers of a 64-bit Windows image held in memory, read through <winnt.h>'s structs:
// the one test of whether bytes are such an image, for every format here that changes one.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

// Where the data directories start in the 64-bit optional header: an optional header
// shorter than this has none.
#define PE_DIRECTORIES_AT offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)

// The NT headers of the image in bytes: a DOS header, then at its e_lfanew the PE signature
// and the file and 64-bit optional headers, whole inside size. Null when bytes are not such
// an image. The section table and the optional header's own size are the caller's to check
// against what it reads.
const IMAGE_NT_HEADERS64* ImageHeaders64(const uint8_t* bytes, uint32_t size);
