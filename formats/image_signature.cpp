#include "formats/image_signature.h"

#include <string.h>

#include "base/little_endian.h"

#define PE32_MAGIC 0x10B
#define PE32_PLUS_MAGIC 0x20B
#define CERTIFICATE_DIRECTORY 4

int ReadSignatureRegions(const uint8_t* image, uint32_t bytes, SignatureRegions* regions)
{
    memset(regions, 0, sizeof *regions);
    if (!image || bytes < 0x40 || image[0] != 'M' || image[1] != 'Z') return 0;
    uint32_t pe = ReadLe32(image + 0x3C);
    if (pe > bytes || bytes - pe < 24 + 2 || memcmp(image + pe, "PE\0\0", 4) != 0) return 0;
    uint32_t optional_bytes = ReadLe16(image + pe + 20);
    uint32_t optional = pe + 24;
    if (optional_bytes > bytes - optional) return 0;
    uint16_t magic = ReadLe16(image + optional);
    uint32_t count_at = magic == PE32_PLUS_MAGIC ? 108 : magic == PE32_MAGIC ? 92 : 0;
    if (count_at == 0 || optional_bytes < count_at + 4) return 0;
    regions->checksum_at = optional + 64;
    uint32_t directories = ReadLe32(image + optional + count_at);
    uint32_t entry = count_at + 4 + CERTIFICATE_DIRECTORY * 8;
    if (directories <= CERTIFICATE_DIRECTORY || optional_bytes < entry + 8) return 1;
    regions->certificate_entry_at = optional + entry;
    regions->certificate_at = ReadLe32(image + optional + entry);
    regions->certificate_bytes = ReadLe32(image + optional + entry + 4);
    if (regions->certificate_at == 0 || regions->certificate_bytes == 0)
        regions->certificate_at = regions->certificate_bytes = 0;
    return 1;
}

int CarriesCertificateTable(const uint8_t* image, uint32_t bytes)
{
    SignatureRegions regions;
    return ReadSignatureRegions(image, bytes, &regions) && regions.certificate_bytes != 0;
}
