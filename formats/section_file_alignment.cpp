#include "formats/section_file_alignment.h"

#include <string.h>
#include <windows.h>

#include "formats/image_checksum.h"
#include "formats/pe_headers.h"

int PlanPageAlignedSection(uint8_t* image, uint32_t image_bytes, const char* name,
                           uint32_t* insert_at, uint32_t* padding)
{
    *insert_at = 0;
    *padding = 0;
    // The headers are changed in place: image is the caller's own buffer.
    IMAGE_NT_HEADERS64* nt = (IMAGE_NT_HEADERS64*)ImageHeaders64(image, image_bytes);
    if (!nt) return SECTION_ALIGN_NOT_PE;
    IMAGE_OPTIONAL_HEADER64& optional = nt->OptionalHeader;
    uint32_t file_alignment = optional.FileAlignment;
    if (file_alignment < 512 || (file_alignment & (file_alignment - 1)) ||
        file_alignment > SECTION_ALIGN_PAGE_BYTES)
        return SECTION_ALIGN_NOT_PE;
    IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);
    uint32_t count = nt->FileHeader.NumberOfSections;
    if ((uint64_t)((uint8_t*)(sections + count) - image) > image_bytes ||
        (uint64_t)((uint8_t*)(sections + count) - image) > optional.SizeOfHeaders)
        return SECTION_ALIGN_NOT_PE;

    IMAGE_SECTION_HEADER* target = nullptr;
    for (uint32_t i = 0; i < count; i++) {
        if (strncmp((const char*)sections[i].Name, name, IMAGE_SIZEOF_SHORT_NAME) == 0 &&
            sections[i].SizeOfRawData != 0)
            target = &sections[i];
        if (sections[i].SizeOfRawData != 0 &&
            (uint64_t)sections[i].PointerToRawData + sections[i].SizeOfRawData > image_bytes)
            return SECTION_ALIGN_NOT_PE;
    }
    if (!target) return SECTION_ALIGN_NO_SECTION;
    if (target->VirtualAddress % SECTION_ALIGN_PAGE_BYTES) return SECTION_ALIGN_NOT_MAPPABLE;
    uint32_t at = target->PointerToRawData;
    uint32_t pad = (SECTION_ALIGN_PAGE_BYTES - at % SECTION_ALIGN_PAGE_BYTES) % SECTION_ALIGN_PAGE_BYTES;
    if (pad == 0) return SECTION_ALIGN_DONE;
    if (at % file_alignment || (uint64_t)image_bytes + pad > 0xFFFFFFFFu) return SECTION_ALIGN_NOT_PE;

    // File offsets the section table does not hold would point at the wrong bytes after the
    // move: refuse rather than guess (the setup program is linked stripped and unsigned).
    if (nt->FileHeader.PointerToSymbolTable >= at)
        return SECTION_ALIGN_REFERENCED;
    if (optional.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_SECURITY &&
        optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY].Size != 0)
        return SECTION_ALIGN_REFERENCED;
    if (optional.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_DEBUG &&
        optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_DEBUG].Size != 0)
        return SECTION_ALIGN_REFERENCED;

    for (uint32_t i = 0; i < count; i++)
        if (sections[i].SizeOfRawData != 0 && sections[i].PointerToRawData >= at)
            sections[i].PointerToRawData += pad;
    if (optional.CheckSum != 0) {  // a zero checksum stays zero
        optional.CheckSum = 0;
        const FilePiece pieces[] = {{image, at}, {nullptr, pad}, {image + at, image_bytes - at}};
        optional.CheckSum = ImageChecksumOfPieces(pieces, 3);
    }
    *insert_at = at;
    *padding = pad;
    return SECTION_ALIGN_DONE;
}
