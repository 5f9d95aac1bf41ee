// Which bytes of the setup program's file its whole-file digest covers: every byte that an
// Authenticode signature covers (all but the checksum field, the certificate table's
// data-directory entry and the certificate table itself), less the 16 bytes of the record
// that holds the digest. A signer appends a certificate table, sets its entry and rewrites
// the checksum, so a signature added after the digest leaves it true. Byte-level work over
// the headers and pieces of the file; the hashing is the caller's (package/package_digest).
#pragma once
#include <stdint.h>

// The record in the program's read-only data: 16 bytes of magic, then the XXH3 128-bit hash
// (low half first, little-endian), which the program's last build step writes.
#define FILE_DIGEST_MAGIC "TNWholeFileHash1"  // 16 bytes, no terminator in the record
#define FILE_DIGEST_MAGIC_BYTES 16
#define FILE_DIGEST_HASH_BYTES 16
#define FILE_DIGEST_RECORD_BYTES 32

// Enough of a file's start to hold its headers and section table.
#define FILE_DIGEST_HEADER_BYTES 4096u

#define FILE_DIGEST_SKIPS 3
struct FileDigestLayout {
    uint32_t skip_at[FILE_DIGEST_SKIPS];     // file offsets, in order
    uint32_t skip_bytes[FILE_DIGEST_SKIPS];  // the checksum, the certificate entry, the hash
    uint64_t hashed_end;                     // the certificate table's start, or the file's end
};

// The layout of a file of file_bytes whose record lies at record_at, from the file's first
// header_bytes. 0 when the headers are not a well-formed image or the record does not lie
// in the file. A certificate table counts only where a signer puts it: at the end of the
// file, after the record; otherwise none is left out, and a damaged entry cannot hide bytes.
int ReadFileDigestLayout(const uint8_t* headers, uint32_t header_bytes, uint64_t file_bytes,
                         uint32_t record_at, FileDigestLayout* layout);

// The file offset of count bytes at the address rva of the loaded image, when a section's
// data in the file hold all of them; 0 otherwise.
uint32_t FileOffsetOfRva(const uint8_t* headers, uint32_t header_bytes, uint32_t rva, uint32_t count);

// Hands sink the parts of the file's bytes [at, at + count) that the digest covers, in order.
typedef void (*DigestSink)(void* context, const uint8_t* bytes, uint32_t count);
void ForEachHashedPart(const FileDigestLayout* layout, uint64_t at, const uint8_t* bytes, uint32_t count,
                       DigestSink sink, void* context);

// Where the record lies in a whole image: its magic in the data of a section other than
// the resources (where a packaged file could hold the same bytes). Returns the count found;
// *record_at is the first.
int FindFileDigestRecord(const uint8_t* image, uint32_t image_bytes, uint32_t* record_at);
