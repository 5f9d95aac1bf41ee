// Where an image file keeps what an Authenticode signature leaves out of its hash: the
// optional header's checksum field, the certificate table's data-directory entry and the
// certificate table itself (at the end of the file). Byte-level work over the headers only.
#pragma once
#include <stdint.h>

struct SignatureRegions {
    uint32_t checksum_at;           // the 4-byte checksum field
    uint32_t certificate_entry_at;  // the 8-byte data-directory entry; 0 when the header has none
    uint32_t certificate_at;        // the table's file offset and size; both 0 when there is none
    uint32_t certificate_bytes;
};

// The headers' first bytes that the regions can be read from: the data directories end
// well within them.
#define SIGNATURE_HEADER_BYTES 1024u

// Reads the regions from an image's first bytes (a 32- or 64-bit image). 1 when the
// headers are well-formed as far as the regions go; 0 otherwise (nothing to exclude).
int ReadSignatureRegions(const uint8_t* image, uint32_t bytes, SignatureRegions* regions);
// 1 when the image names a certificate table: it carries a signature, which any change of
// its other bytes would break.
int CarriesCertificateTable(const uint8_t* image, uint32_t bytes);
