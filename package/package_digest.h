// The package's digest: the packer ends the package with "TNDG" and the XXH3 128-bit hash
// of every byte before that trailer. The walker never reads past the last entry, so the
// trailer changes nothing for it; setup checks the digest before it writes anything, so
// that one flipped byte of a bad download never installs.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#define PACKAGE_DIGEST_MAGIC "TNDG"
#define PACKAGE_DAMAGED_TEXT L"The setup file is damaged: download it again."
#define PACKAGE_DIGEST_BYTES 20  // the magic and 16 bytes of hash (low half first)

// The trailer for a hash of the bytes before it.
void PackageDigestTrailer(uint64_t low, uint64_t high, uint8_t trailer[PACKAGE_DIGEST_BYTES]);
// The trailer for bytes[0..size), written into trailer.
void ComputePackageDigest(const uint8_t* bytes, uint64_t size, uint8_t trailer[PACKAGE_DIGEST_BYTES]);
// The same hash a piece at a time, for bytes that are not in one piece (the whole setup
// file, package/setup_file_digest): one copy of the hashing code serves every digest.
struct DigestHash;
DigestHash* NewDigestHash(void);  // null without memory
void AddToDigestHash(DigestHash* hash, const uint8_t* bytes, size_t count);
// The 16 bytes of the hash of everything added, low half first as in the trailer.
void ReadDigestHash(DigestHash* hash, uint8_t digest[16]);
void FreeDigestHash(DigestHash* hash);
// 1 when bytes[0..size) end with the digest of everything before it.
int PackageBytesAreIntact(const uint8_t* bytes, uint32_t size);
// The same for the running program's own package (a missing one is not intact).
int PackageIsIntact(void);

// The check setup runs of itself, its whole file and the package, is in
// package/setup_file_digest.h.
#include "package/setup_file_digest.h"
