// The checksum field of an image's optional header, computed over a file given as pieces,
// so that a file being written from several buffers needs no copy of its own.
#pragma once
#include <stdint.h>

// A piece of a file; a null bytes pointer stands for count zero bytes.
struct FilePiece {
    const uint8_t* bytes;
    uint32_t count;
};

// The image checksum of the file the pieces make, by the algorithm of CheckSumMappedFile
// (16-bit words summed with end-around carry, plus the file length); the checksum field
// itself must hold zero in the pieces.
uint32_t ImageChecksumOfPieces(const FilePiece* pieces, int piece_count);
