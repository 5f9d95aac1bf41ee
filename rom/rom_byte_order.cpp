#include <windows.h>

#include "rom/rom_image.h"

#include <string.h>

// The hash reads 16 MiB at memory speed whether unrolled or not: no forced inlining, which
// would double its code.
#define XXH_INLINE_ALL
#define XXH_NO_INLINE_HINTS 1
#include "xxhash.h"

// Eight bytes at a time, which keeps the swaps quick in code compiled for size.
static void SwapBytePairs(uint8_t* buffer, uint32_t length)
{
    uint32_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        memcpy(&word, buffer + i, 8);
        word = ((word & 0x00FF00FF00FF00FFull) << 8) | ((word >> 8) & 0x00FF00FF00FF00FFull);
        memcpy(buffer + i, &word, 8);
    }
    for (; i + 1 < length; i += 2) {
        uint8_t t = buffer[i];
        buffer[i] = buffer[i + 1];
        buffer[i + 1] = t;
    }
}

static void ReverseByteQuads(uint8_t* buffer, uint32_t length)
{
    uint32_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        memcpy(&word, buffer + i, 8);
        word = __builtin_bswap64(word);
        word = (word >> 32) | (word << 32);
        memcpy(buffer + i, &word, 8);
    }
    for (; i + 4 <= length; i += 4) {
        uint32_t word;
        memcpy(&word, buffer + i, 4);
        word = __builtin_bswap32(word);
        memcpy(buffer + i, &word, 4);
    }
}

int RomByteOrder(const uint8_t* first)
{
    if (first[0] == 0x50 && first[1] == 0x4B) return ROM_ORDER_ZIP;
    if (first[0] == 0x37 && first[1] == 0x80) return ROM_ORDER_PAIRS_SWAPPED;
    if (first[0] == 0x40 && first[1] == 0x12) return ROM_ORDER_REVERSED;
    return ROM_ORDER_BIG_ENDIAN;
}

void NormaliseRomBytes(uint8_t* buffer, uint32_t length, int order)
{
    if (order == ROM_ORDER_PAIRS_SWAPPED)
        SwapBytePairs(buffer, length);
    else if (order == ROM_ORDER_REVERSED)
        ReverseByteQuads(buffer, length);
}

int RomHeaderCode(const uint8_t* first)
{
    if (first[0] != 0x80 || first[1] != 0x37 || first[2] != 0x12 || first[3] != 0x40)
        return ROMCHECK_NOT_N64_ROM;
    return ROMCHECK_ACCEPTED;
}

int NormaliseRomByteOrder(uint8_t* buffer, uint32_t length)
{
    int order = RomByteOrder(buffer);
    if (order == ROM_ORDER_ZIP) return ROMCHECK_ZIP_ARCHIVE;
    NormaliseRomBytes(buffer, length, order);
    return RomHeaderCode(buffer);
}

uint64_t HashRomImage(const uint8_t* image, uint32_t length)
{
    return XXH3_64bits(image, length);
}

// The state lives on the heap, where it gets the alignment the hash's vector code needs.
RomHash* StartRomHash(void)
{
    XXH3_state_t* state = XXH3_createState();
    if (state && XXH3_64bits_reset(state) != XXH_OK) {
        XXH3_freeState(state);
        state = nullptr;
    }
    return (RomHash*)state;
}

int AddToRomHash(RomHash* hash, const uint8_t* bytes, uint32_t count)
{
    return XXH3_64bits_update((XXH3_state_t*)hash, bytes, count) == XXH_OK;
}

// xxHash's own digest for inputs longer than XXH3_MIDSIZE_MAX (240 bytes), without its
// branch for shorter ones, which would bring the whole one-shot hash in with it: a ROM has
// at least ROM_MIN_FILE_BYTES. Fewer bytes give 0, which is never the accepted hash.
uint64_t FinishRomHash(RomHash* hash)
{
    const XXH3_state_t* state = (const XXH3_state_t*)hash;
    uint64_t value = 0;
    if (state->totalLen > XXH3_MIDSIZE_MAX) {
        const unsigned char* secret = state->extSecret ? state->extSecret : state->customSecret;
        XXH_ALIGN(XXH_ACC_ALIGN) XXH64_hash_t acc[XXH_ACC_NB];
        XXH3_digest_long(acc, state, secret);
        value = XXH3_mergeAccs(acc, secret + XXH_SECRET_MERGEACCS_START,
                               (xxh_u64)state->totalLen * XXH_PRIME64_1);
    }
    XXH3_freeState((XXH3_state_t*)hash);
    return value;
}
