// The whole setup file's digest (formats/file_digest.h says which bytes it covers): the
// program's last build step seals the file with it, and the program checks its own file
// against it before it writes anything, in one reading of the file that also checks the
// package's own digest. A damaged byte anywhere (headers, code, icons, package) fails.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "base/setup_state.h"

#define SEAL_DONE        0
#define SEAL_NOT_IMAGE   1  // not a well-formed image
#define SEAL_NO_RECORD   2  // no record, or more than one: the file is not this program
#define SEAL_SIGNED      3  // signed already: sealing would break the signature; seal first

// Writes the digest of image[0, bytes) into its record and makes its checksum anew (a zero
// checksum stays zero). Sealing a sealed file changes nothing.
int SealSetupFileBytes(uint8_t* image, uint32_t bytes);
// 1 when image[0, bytes) carries the digest of its own bytes.
int SetupFileBytesAreSealed(const uint8_t* image, uint32_t bytes);

// 1 when the package of size bytes at offset at of an open file (another setup program's,
// an installation's uninstaller) ends with the digest of everything before it, read a piece
// at a time into one buffer: under Wine every page of a mapping costs a fault the first time
// it is touched, while a read copies from the cache at memory speed.
int PackageInFileIsIntact(HANDLE file, uint64_t at, uint32_t size);

// The running program's check of its own file and package: 1 intact. Without its own path
// (too long to be read) the package alone is checked: every mode that writes refuses then.
int SetupFileIsIntact(void);

// SetupFileIsIntact on a second thread, so that it costs no time beside the ROM check; the
// join gives its result (1 intact). A thread that cannot start means the check runs at the join.
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
