#include <windows.h>
#include <wchar.h>

#include "base/little_endian.h"
#include "package/package_format.h"

int WalkPackageBytes(const uint8_t* bytes, uint32_t size, PackageVisitor visitor, void* context)
{
    if (!bytes || size < PACKAGE_HEADER_BYTES) return 0;
    if (bytes[0] != 'T' || bytes[1] != 'N' || bytes[2] != 'P' || bytes[3] != 'K') return 0;

    uint32_t entry_count = ReadLe32(bytes + 8);
    // 64-bit positions: every sum below stays far from wrapping, so no test can be fooled.
    uint64_t position = PACKAGE_HEADER_BYTES;
    wchar_t name[PACKAGE_NAME_UNITS];

    for (uint32_t i = 0; i < entry_count; i++) {
        if (position + 2 > size) return 0;
        uint32_t name_length = ReadLe16(bytes + position);
        if (position + name_length + PACKAGE_ENTRY_FIXED_BYTES > size) return 0;

        int units = 0;
        if (name_length > 0)
            units = MultiByteToWideChar(CP_UTF8, 0, (const char*)bytes + position + 2,
                                        (int)name_length, name, PACKAGE_NAME_UNITS - 1);
        if (units < 0) units = 0;
        name[units] = L'\0';

        uint64_t data_size = ReadLe64(bytes + position + 2 + name_length);
        uint64_t room = size - (position + name_length + PACKAGE_ENTRY_FIXED_BYTES);
        if (data_size > room) return 0;
        if (units == 0) return 0;
        if (wcsstr(name, L"..")) return 0;

        const uint8_t* data = bytes + position + name_length + PACKAGE_ENTRY_FIXED_BYTES;
        if (!visitor(name, data, data_size, context)) return 0;
        position += name_length + PACKAGE_ENTRY_FIXED_BYTES + data_size;
    }
    return 1;
}

int FindPackage(HMODULE module, const uint8_t** bytes, uint32_t* size)
{
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(PACKAGE_RESOURCE_ID), RT_RCDATA);
    if (!resource) return 0;
    *size = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    *bytes = loaded ? (const uint8_t*)LockResource(loaded) : nullptr;
    return *bytes != nullptr;
}

int WalkPackage(PackageVisitor visitor, void* context)
{
    const uint8_t* bytes = nullptr;
    uint32_t size = 0;
    return FindPackage(nullptr, &bytes, &size) && WalkPackageBytes(bytes, size, visitor, context);
}
