// Crafting package bytes for the walker's tests, and placing them right before a page
// that cannot be read, so that any read past their end crashes the test.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

struct CraftedEntry {
    std::string name;       // UTF-8, as stored
    std::vector<uint8_t> data;
};

std::vector<uint8_t> BuildPackage(const std::vector<CraftedEntry>& entries,
                                  uint32_t value_at_4 = 1);
// The package bytes followed by their digest's trailer, as the packer ends a package: a
// setup program carrying them installs them.
std::vector<uint8_t> SealPackage(std::vector<uint8_t> package);

// The same with an entry count that need not match the entries given.
std::vector<uint8_t> BuildPackageWithCount(const std::vector<CraftedEntry>& entries,
                                           uint32_t entry_count);

// A copy of bytes whose last byte is the last readable byte before a no-access page.
struct GuardedBytes {
    uint8_t* region;
    size_t region_bytes;
    const uint8_t* bytes;
    uint32_t size;
};
GuardedBytes PlaceBeforeGuardPage(const std::vector<uint8_t>& bytes);
void ReleaseGuarded(GuardedBytes* guarded);
