#include "package/package_digest.h"

#include <string.h>

#include "package/package_format.h"

// As for the ROM's hash: memory speed either way, half the code without forced inlining.
#define XXH_INLINE_ALL
#define XXH_NO_INLINE_HINTS 1
#include "xxhash.h"

static void PutLe64(uint8_t* at, uint64_t value)
{
    for (int b = 0; b < 8; b++) at[b] = (uint8_t)(value >> (8 * b));
}

void PackageDigestTrailer(uint64_t low, uint64_t high, uint8_t trailer[PACKAGE_DIGEST_BYTES])
{
    memcpy(trailer, PACKAGE_DIGEST_MAGIC, 4);
    PutLe64(trailer + 4, low);
    PutLe64(trailer + 12, high);
}

// Only the streaming form is used, also for bytes in one piece: the same hash, and the
// program then carries one copy of the hashing code, not two.
void ComputePackageDigest(const uint8_t* bytes, uint64_t size, uint8_t trailer[PACKAGE_DIGEST_BYTES])
{
    XXH3_state_t state;
    XXH3_128bits_reset(&state);
    XXH3_128bits_update(&state, bytes, (size_t)size);
    XXH128_hash_t hash = XXH3_128bits_digest(&state);
    PackageDigestTrailer(hash.low64, hash.high64, trailer);
}

DigestHash* NewDigestHash(void)
{
    XXH3_state_t* state = XXH3_createState();
    if (state) XXH3_128bits_reset(state);
    return (DigestHash*)state;
}

void AddToDigestHash(DigestHash* hash, const uint8_t* bytes, size_t count)
{
    XXH3_128bits_update((XXH3_state_t*)hash, bytes, count);
}

void ReadDigestHash(DigestHash* hash, uint8_t digest[16])
{
    XXH128_hash_t value = XXH3_128bits_digest((XXH3_state_t*)hash);
    PutLe64(digest, value.low64);
    PutLe64(digest + 8, value.high64);
}

void FreeDigestHash(DigestHash* hash)
{
    XXH3_freeState((XXH3_state_t*)hash);
}

int PackageBytesAreIntact(const uint8_t* bytes, uint32_t size)
{
    if (!bytes || size < PACKAGE_HEADER_BYTES + PACKAGE_DIGEST_BYTES) return 0;
    uint8_t expected[PACKAGE_DIGEST_BYTES];
    ComputePackageDigest(bytes, size - PACKAGE_DIGEST_BYTES, expected);
    return memcmp(expected, bytes + size - PACKAGE_DIGEST_BYTES, PACKAGE_DIGEST_BYTES) == 0;
}

int PackageIsIntact(void)
{
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(PACKAGE_RESOURCE_ID), RT_RCDATA);
    if (!resource) return 0;
    DWORD size = SizeofResource(nullptr, resource);
    HGLOBAL loaded = LoadResource(nullptr, resource);
    const uint8_t* bytes = loaded ? (const uint8_t*)LockResource(loaded) : nullptr;
    return PackageBytesAreIntact(bytes, size);
}
