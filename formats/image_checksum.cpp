#include "formats/image_checksum.h"

#include <string.h>

#include "base/little_endian.h"

// Adds up to 0xFFFF per word with end-around carry: the sum modulo 0xFFFF, kept apart
// from zero. Words of four bytes count the same, since 0x10000 is 1 modulo 0xFFFF.
static uint32_t Fold16(uint64_t sum)
{
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return (uint32_t)sum;
}

// Eight bytes a load, two words each: the compiler does not merge ReadLe32's four byte
// loads when it optimises for size, and summing a 26 MB executable word by word took five
// times as long. The sum of 2^29 pairs of words cannot wrap.
static uint32_t SumFromEvenOffset(const uint8_t* bytes, uint32_t count)
{
    uint64_t sum = 0;
    uint32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        uint64_t pair;
        memcpy(&pair, bytes + i, sizeof pair);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        pair = __builtin_bswap64(pair);  // the words as little-endian values
#endif
        sum += (pair & 0xFFFFFFFFu) + (pair >> 32);
    }
    for (; i + 4 <= count; i += 4) sum += ReadLe32(bytes + i);
    for (; i < count; i++) sum += (uint32_t)bytes[i] << (8 * (i & 1));
    return Fold16(sum);
}

uint32_t ImageChecksumOfPieces(const FilePiece* pieces, int piece_count)
{
    uint64_t sum = 0;
    uint32_t position = 0;
    for (int i = 0; i < piece_count; i++) {
        if (pieces[i].bytes) {
            uint32_t part = SumFromEvenOffset(pieces[i].bytes, pieces[i].count);
            sum += (position & 1) ? Fold16((uint64_t)part << 8) : part;  // bytes swap places
        }
        position += pieces[i].count;
    }
    return Fold16(sum) + position;
}
