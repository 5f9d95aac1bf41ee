#include "formats/pe_headers.h"

const IMAGE_NT_HEADERS64* ImageHeaders64(const uint8_t* bytes, uint32_t size)
{
    if (size < sizeof(IMAGE_DOS_HEADER)) return nullptr;
    const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)bytes;
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew < 0 ||
        (uint64_t)dos->e_lfanew + sizeof(IMAGE_NT_HEADERS64) > size)
        return nullptr;
    const IMAGE_NT_HEADERS64* nt = (const IMAGE_NT_HEADERS64*)(bytes + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        return nullptr;
    return nt;
}
