// The two last build steps' reading and rewriting of the setup program's file: read whole,
// then replaced through a temporary file beside it, so that a step that fails leaves the
// file as it was. Each failure is said on the standard error with the tool's name.
#pragma once
#include <windows.h>
#include <stdint.h>

// The whole file at path in a new buffer (free it with free), *bytes its size; null after
// saying why.
uint8_t* ReadImageFile(const wchar_t* tool, const wchar_t* path, uint32_t* bytes);

// A piece of the new file: count bytes, or count zeros when bytes is null.
struct ImagePiece {
    const uint8_t* bytes;
    uint32_t count;
};

// Writes the pieces in order into path.suffix, then renames it over path. 0 on success, 1
// after saying why.
int ReplaceImageFile(const wchar_t* tool, const wchar_t* path, const wchar_t* suffix,
                     const ImagePiece* pieces, int piece_count);

// Says on the standard error what failed with which path and the last error; returns 1.
int ImageFileFailure(const wchar_t* tool, const wchar_t* what, const wchar_t* path);
