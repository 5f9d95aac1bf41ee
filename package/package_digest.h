// The package's digest: the packer ends the package with "TNDG" and the XXH3 128-bit hash
// of every byte before that trailer. The walker never reads past the last entry, so the
// trailer changes nothing for it; setup checks the digest before it writes anything, so
// that one flipped byte of a bad download never installs.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "base/setup_state.h"

#define PACKAGE_DIGEST_MAGIC "TNDG"
#define PACKAGE_DAMAGED_TEXT L"The setup file is damaged: download it again."
#define PACKAGE_DIGEST_BYTES 20  // the magic and 16 bytes of hash (low half first)

// The trailer for a hash of the bytes before it.
void PackageDigestTrailer(uint64_t low, uint64_t high, uint8_t trailer[PACKAGE_DIGEST_BYTES]);
// The trailer for bytes[0..size), written into trailer.
void ComputePackageDigest(const uint8_t* bytes, uint64_t size, uint8_t trailer[PACKAGE_DIGEST_BYTES]);
// 1 when bytes[0..size) end with the digest of everything before it.
int PackageBytesAreIntact(const uint8_t* bytes, uint32_t size);
// The same for the running program's own package (a missing one is not intact).
int PackageIsIntact(void);

// The check on a second thread, so that it costs no time beside the ROM check; the join
// gives its result (1 intact). A thread that cannot start means the check runs at the join.
HANDLE StartPackageCheck(void);
int JoinPackageCheck(HANDLE check);
// Lets a started check end on its own; returns 1.
int LeavePackageCheck(HANDLE check);

// The check that the program started first thing (see the entry point), or a new one: the
// first to need a check takes the early one, which may be done by then.
static inline HANDLE TakePackageCheck(void)
{
    HANDLE check = g_setup.package_check ? g_setup.package_check : StartPackageCheck();
    g_setup.package_check = nullptr;
    return check;
}
