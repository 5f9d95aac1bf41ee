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
#define ROM_COPY_NAME L"torrentine.n64.proto.19990615.z64"

// The one accepted image, by the XXH3 64-bit hash of its big-endian form. Defined once per
// flavour of the program (release or test), each in its own small translation unit.
extern const uint64_t ROM_ACCEPTED_HASH;

// On ROMCHECK_ACCEPTED, *image is a heap block (free with HeapFree on the process heap) of
// *length bytes: the file rounded up to a multiple of 4, zero-filled, big-endian.
int LoadRomImage(const wchar_t* path, uint8_t** image, uint32_t* length);

// Whether folder holds a ROM copy that LoadRomImage accepts.
bool HasInstalledRomCopy(const wchar_t* folder);

void FreeRomImage(uint8_t* image);

// Byte-level steps of the loader, over a buffer whose length is a multiple of 4.
// Returns the code the loader gives for these bytes before hashing: ROMCHECK_ZIP_ARCHIVE,
// ROMCHECK_NOT_N64_ROM, or ROMCHECK_ACCEPTED when the buffer now holds the big-endian header.
int NormaliseRomByteOrder(uint8_t* buffer, uint32_t length);
uint64_t HashRomImage(const uint8_t* image, uint32_t length);

// The texts that callers show for codes 1 to 4, and the window's text for code 0.
const wchar_t* RomCheckMessage(int code);
