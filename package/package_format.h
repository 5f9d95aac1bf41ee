// The package of game files carried in the setup program's RT_RCDATA resource 101.
//
//   header: "TNPK", a 32-bit value (1, not read), 32-bit entry_count
//   entry:  16-bit name_length n, n bytes of UTF-8 name ("\\" between folders),
//           64-bit data_size s, s bytes of data
// All integers little-endian, no alignment, no folder entries.
#pragma once
#include <stdint.h>

#include <windows.h>

#define PACKAGE_RESOURCE_ID   101
#define PACKAGE_HEADER_BYTES  12
#define PACKAGE_ENTRY_FIXED_BYTES 10
#define PACKAGE_NAME_UNITS    260  // at most 259 converted units and a terminator

// Called once per entry; nonzero continues the walk, 0 stops it.
typedef int (*PackageVisitor)(const wchar_t* name, const uint8_t* data, uint64_t size,
                              void* context);

// The package resource of module (null: the running program); 1 with its bytes and size.
int FindPackage(HMODULE module, const uint8_t** bytes, uint32_t* size);

// Walks the running program's own package. 1 when every entry was visited and every
// visitor call returned nonzero; 0 otherwise.
int WalkPackage(PackageVisitor visitor, void* context);

// The same walk over package bytes in memory; never reads outside [bytes, bytes + size).
int WalkPackageBytes(const uint8_t* bytes, uint32_t size, PackageVisitor visitor, void* context);
