// Reading the user's ROM file, normalising its byte order and identifying it by hash.
#pragma once
#include <stdint.h>

#define ROMCHECK_ACCEPTED      0
#define ROMCHECK_CANNOT_OPEN   1
#define ROMCHECK_NOT_N64_ROM   2
#define ROMCHECK_DIFFERENT_ROM 3
#define ROMCHECK_ZIP_ARCHIVE   4

#define ROM_MIN_FILE_BYTES 4096u
#define ROM_MAX_FILE_BYTES 67108864u
#include "base/installation_layout.h"

// The one accepted image, by the XXH3 64-bit hash of its big-endian form. Defined once per
// flavour of the program (release or test), each in its own small translation unit.
extern const uint64_t ROM_ACCEPTED_HASH;

// The whole image in memory, for the tools and tests that look at it (setup itself reads
// ROM files a piece at a time, below). On ROMCHECK_ACCEPTED, *image is a heap block (free
// with FreeRomImage) of *length bytes: the file rounded up to a multiple of 4, zero-filled,
// big-endian.
int LoadRomImage(const wchar_t* path, uint8_t** image, uint32_t* length);

// Whether folder holds a ROM copy that the ROM check accepts.
bool HasInstalledRomCopy(const wchar_t* folder);

void FreeRomImage(uint8_t* image);

// The ROM file read piece by piece through one small buffer, never whole: touching a new
// 16 MiB block costs more than reading the file (about 10 µs a page under Wine here). The
// pieces of the big-endian image (the file rounded up to a multiple of 4, zero-filled) go
// to visit, when given, in order and at most ROM_PIECE_BYTES at a time; a visitor that
// returns 0 stops the reading with ROMCHECK_CANNOT_OPEN. Whether the image is the accepted
// one is known only at the end, from the code: until then the visitor's bytes are
// unchecked. On ROMCHECK_ACCEPTED, *length is the image's length.
#define ROM_PIECE_BYTES 262144u
typedef int (*RomPieceVisitor)(void* context, uint32_t offset, const uint8_t* bytes, uint32_t count);
int ReadRomFile(const wchar_t* path, uint32_t* length, RomPieceVisitor visit, void* context);

// ReadRomFile keeping only the image's bytes [offset, offset + count) in excerpt (when
// given; the image is long enough for them or the code is ROMCHECK_NOT_N64_ROM).
int CheckRomFile(const wchar_t* path, uint32_t* length, uint32_t offset, uint32_t count,
                 uint8_t* excerpt);

// 1 when folder\name already holds exactly the image that CopyRomImage would write from
// rom_path (length: the image's, from its check).
int RomCopyIsAlready(const wchar_t* rom_path, uint32_t length, const wchar_t* folder, const wchar_t* name);

// Writes the image of the ROM file at rom_path (of length bytes at its check) to target
// by the rule of ReplaceWholeFile (replace) or as a new file that fails on an existing name
// (a new install's, which never replaces what it did not write), reading and checking the file again on the way, so that
// a file changed since its check never becomes the copy: ROMCHECK_ACCEPTED once target
// holds the accepted image, the code of the second reading when it was not that image
// (ROMCHECK_CANNOT_OPEN when it could not be read whole), or ROMCOPY_CANNOT_WRITE.
#define ROMCOPY_CANNOT_WRITE 5
int CopyRomImage(const wchar_t* rom_path, uint32_t length, const wchar_t* target, int replace);

// Byte-level steps of the loader, over a buffer whose length is a multiple of 4.
// Returns the code the loader gives for these bytes before hashing: ROMCHECK_ZIP_ARCHIVE,
// ROMCHECK_NOT_N64_ROM, or ROMCHECK_ACCEPTED when the buffer now holds the big-endian header.
int NormaliseRomByteOrder(uint8_t* buffer, uint32_t length);
uint64_t HashRomImage(const uint8_t* image, uint32_t length);

// The same steps a piece at a time: the order read from the file's first bytes, applied to
// every piece (each a multiple of 4 long), then the big-endian header's test.
#define ROM_ORDER_BIG_ENDIAN    0
#define ROM_ORDER_PAIRS_SWAPPED 1  // .v64
#define ROM_ORDER_REVERSED      2  // .n64
#define ROM_ORDER_ZIP           3
int RomByteOrder(const uint8_t* first);
void NormaliseRomBytes(uint8_t* buffer, uint32_t length, int order);
int RomHeaderCode(const uint8_t* first);
struct RomHash;
RomHash* StartRomHash(void);  // null without memory
int AddToRomHash(RomHash* hash, const uint8_t* bytes, uint32_t count);
uint64_t FinishRomHash(RomHash* hash);  // and frees it; needs more than 240 bytes (0 for fewer)

// The texts that callers show for codes 1 to 4, and the window's text for code 0.
const wchar_t* RomCheckMessage(int code);
