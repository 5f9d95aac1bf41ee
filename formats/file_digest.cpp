#include "formats/file_digest.h"

#include <string.h>

#include "base/little_endian.h"
#include "formats/image_signature.h"

#define SECTION_HEADER_BYTES 40
#define RESOURCE_DIRECTORY 2

// The section table, read from the headers: 0 when it does not lie within them.
static int SectionTable(const uint8_t* headers, uint32_t header_bytes, uint32_t* table, uint32_t* count)
{
    if (!headers || header_bytes < 0x40 || headers[0] != 'M' || headers[1] != 'Z') return 0;
    uint32_t pe = ReadLe32(headers + 0x3C);
    if (pe > header_bytes || header_bytes - pe < 24 || memcmp(headers + pe, "PE\0\0", 4) != 0) return 0;
    *count = ReadLe16(headers + pe + 6);
    *table = pe + 24 + ReadLe16(headers + pe + 20);
    return (uint64_t)*table + (uint64_t)*count * SECTION_HEADER_BYTES <= header_bytes;
}

uint32_t FileOffsetOfRva(const uint8_t* headers, uint32_t header_bytes, uint32_t rva, uint32_t count)
{
    uint32_t table = 0, sections = 0;
    if (!SectionTable(headers, header_bytes, &table, &sections)) return 0;
    for (uint32_t i = 0; i < sections; i++) {
        const uint8_t* section = headers + table + i * SECTION_HEADER_BYTES;
        uint32_t address = ReadLe32(section + 12), raw_bytes = ReadLe32(section + 16);
        uint32_t raw_at = ReadLe32(section + 20);
        if (rva >= address && (uint64_t)rva - address + count <= raw_bytes && raw_at != 0)
            return raw_at + (rva - address);
    }
    return 0;
}

int ReadFileDigestLayout(const uint8_t* headers, uint32_t header_bytes, uint64_t file_bytes,
                         uint32_t record_at, FileDigestLayout* layout)
{
    memset(layout, 0, sizeof *layout);
    SignatureRegions regions;
    if (!ReadSignatureRegions(headers, header_bytes, &regions) || regions.certificate_entry_at == 0) return 0;
    uint32_t hash_at = record_at + FILE_DIGEST_MAGIC_BYTES;
    if (record_at < regions.certificate_entry_at + 8 || (uint64_t)hash_at + FILE_DIGEST_HASH_BYTES > file_bytes)
        return 0;
    layout->skip_at[0] = regions.checksum_at;
    layout->skip_bytes[0] = 4;
    layout->skip_at[1] = regions.certificate_entry_at;
    layout->skip_bytes[1] = 8;
    layout->skip_at[2] = hash_at;
    layout->skip_bytes[2] = FILE_DIGEST_HASH_BYTES;
    layout->hashed_end = file_bytes;
    uint64_t table_end = (uint64_t)regions.certificate_at + regions.certificate_bytes;
    if (regions.certificate_bytes && table_end == file_bytes && regions.certificate_at >= hash_at + FILE_DIGEST_HASH_BYTES)
        layout->hashed_end = regions.certificate_at;
    return 1;
}

void ForEachHashedPart(const FileDigestLayout* layout, uint64_t at, const uint8_t* bytes, uint32_t count,
                       DigestSink sink, void* context)
{
    uint64_t end = at + count < layout->hashed_end ? at + count : layout->hashed_end;
    uint64_t from = at;
    for (int i = 0; i < FILE_DIGEST_SKIPS && from < end; i++) {
        uint64_t skip = layout->skip_at[i], skip_end = skip + layout->skip_bytes[i];
        if (skip_end <= from) continue;
        if (skip >= end) break;
        if (skip > from) sink(context, bytes + (from - at), (uint32_t)(skip - from));
        from = skip_end;
    }
    if (from < end) sink(context, bytes + (from - at), (uint32_t)(end - from));
}

int FindFileDigestRecord(const uint8_t* image, uint32_t image_bytes, uint32_t* record_at)
{
    *record_at = 0;
    uint32_t table = 0, sections = 0;
    uint32_t header_bytes = image_bytes < FILE_DIGEST_HEADER_BYTES ? image_bytes : FILE_DIGEST_HEADER_BYTES;
    if (!SectionTable(image, header_bytes, &table, &sections)) return 0;
    // The resource section: the one that holds the resource directory's address.
    uint32_t pe = ReadLe32(image + 0x3C);
    uint32_t optional = pe + 24, optional_bytes = ReadLe16(image + pe + 20);
    uint32_t count_at = ReadLe16(image + optional) == 0x20B ? 108 : 92;
    uint32_t resources = 0;
    if (optional_bytes >= count_at + 4 + (RESOURCE_DIRECTORY + 1) * 8 &&
        ReadLe32(image + optional + count_at) > RESOURCE_DIRECTORY)
        resources = ReadLe32(image + optional + count_at + 4 + RESOURCE_DIRECTORY * 8);
    int found = 0;
    for (uint32_t i = 0; i < sections; i++) {
        const uint8_t* section = image + table + i * SECTION_HEADER_BYTES;
        uint32_t address = ReadLe32(section + 8 + 4), virtual_bytes = ReadLe32(section + 8);
        uint32_t raw_bytes = ReadLe32(section + 16), raw_at = ReadLe32(section + 20);
        if (resources && resources >= address && resources - address < virtual_bytes) continue;
        if (raw_at > image_bytes || raw_bytes > image_bytes - raw_at || raw_bytes < FILE_DIGEST_RECORD_BYTES)
            continue;
        for (uint32_t at = raw_at; at + FILE_DIGEST_RECORD_BYTES <= raw_at + raw_bytes; at++) {
            if (memcmp(image + at, FILE_DIGEST_MAGIC, FILE_DIGEST_MAGIC_BYTES) != 0) continue;
            if (found++ == 0) *record_at = at;
        }
    }
    return found;
}
