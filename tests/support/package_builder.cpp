#include "tests/support/package_builder.h"

#define XXH_INLINE_ALL
#include "xxhash.h"

#include <string.h>
#include <windows.h>

static void PutLe(std::vector<uint8_t>& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; i++) out.push_back((uint8_t)(value >> (8 * i)));
}

std::vector<uint8_t> BuildPackageWithCount(const std::vector<CraftedEntry>& entries,
                                           uint32_t entry_count)
{
    std::vector<uint8_t> out = {'T', 'N', 'P', 'K'};
    PutLe(out, 1, 4);
    PutLe(out, entry_count, 4);
    for (const CraftedEntry& entry : entries) {
        PutLe(out, entry.name.size(), 2);
        out.insert(out.end(), entry.name.begin(), entry.name.end());
        PutLe(out, entry.data.size(), 8);
        out.insert(out.end(), entry.data.begin(), entry.data.end());
    }
    return out;
}

std::vector<uint8_t> BuildPackage(const std::vector<CraftedEntry>& entries, uint32_t value_at_4)
{
    std::vector<uint8_t> out = BuildPackageWithCount(entries, (uint32_t)entries.size());
    for (int i = 0; i < 4; i++) out[4 + i] = (uint8_t)(value_at_4 >> (8 * i));
    return out;
}

GuardedBytes PlaceBeforeGuardPage(const std::vector<uint8_t>& bytes)
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    size_t page = info.dwPageSize;
    size_t data_pages = (bytes.size() + page - 1) / page;
    if (data_pages == 0) data_pages = 1;
    GuardedBytes guarded = {};
    guarded.region_bytes = (data_pages + 1) * page;
    guarded.region = (uint8_t*)VirtualAlloc(nullptr, guarded.region_bytes,
                                            MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    DWORD old;
    VirtualProtect(guarded.region + data_pages * page, page, PAGE_NOACCESS, &old);
    uint8_t* start = guarded.region + data_pages * page - bytes.size();
    if (!bytes.empty()) memcpy(start, bytes.data(), bytes.size());
    guarded.bytes = start;
    guarded.size = (uint32_t)bytes.size();
    return guarded;
}

void ReleaseGuarded(GuardedBytes* guarded)
{
    if (guarded->region) VirtualFree(guarded->region, 0, MEM_RELEASE);
    guarded->region = nullptr;
}

std::vector<uint8_t> SealPackage(std::vector<uint8_t> package)
{
    XXH128_hash_t hash = XXH3_128bits(package.data(), package.size());
    const char magic[] = "TNDG";
    package.insert(package.end(), magic, magic + 4);
    for (uint64_t half : {hash.low64, hash.high64})
        for (int b = 0; b < 8; b++) package.push_back((uint8_t)(half >> (8 * b)));
    return package;
}
