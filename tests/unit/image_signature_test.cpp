// Which bytes of an image a signature leaves out, read from crafted headers: the decision
// that keeps a signed game executable as packaged, and the regions the file's check skips.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "base/little_endian.h"
#include "formats/file_digest.h"
#include "formats/image_signature.h"

namespace {

typedef std::vector<uint8_t> Bytes;

const uint32_t PE_AT = 0x80;
const uint32_t OPTIONAL_AT = PE_AT + 24;

// Headers of a 64-bit (or 32-bit) image with count data directories; the certificate
// table's entry holds at and size when the header has it.
Bytes Headers(bool plus, uint32_t count, uint32_t at, uint32_t size)
{
    Bytes b(SIGNATURE_HEADER_BYTES, 0);
    b[0] = 'M';
    b[1] = 'Z';
    PutLe32(&b[0x3C], PE_AT);
    b[PE_AT] = 'P';
    b[PE_AT + 1] = 'E';
    uint32_t directories = plus ? 112 : 96;
    PutLe16(&b[PE_AT + 20], directories + 8 * count);
    PutLe16(&b[OPTIONAL_AT], plus ? 0x20B : 0x10B);
    PutLe32(&b[OPTIONAL_AT + directories - 4], count);
    if (count > 4) {
        PutLe32(&b[OPTIONAL_AT + directories + 32], at);
        PutLe32(&b[OPTIONAL_AT + directories + 36], size);
    }
    return b;
}

}  // namespace

TEST(ImageSignature, TheCertificateTableDecidesWhetherAnImageIsSigned)
{
    struct Case {
        const char* what;
        Bytes headers;
        int readable;
        bool signed_;
        uint32_t entry_at;  // 0: no entry
    };
    Bytes not_mz = Headers(true, 16, 0x5000, 0x800);
    not_mz[0] = 'X';
    Bytes far_pe = Headers(true, 16, 0x5000, 0x800);
    PutLe32(&far_pe[0x3C], 0x10000);
    Bytes odd_magic = Headers(true, 16, 0x5000, 0x800);
    PutLe16(&odd_magic[OPTIONAL_AT], 0x107);
    const Case cases[] = {
        {"64-bit, signed", Headers(true, 16, 0x5000, 0x800), 1, true, OPTIONAL_AT + 112 + 32},
        {"32-bit, signed", Headers(false, 16, 0x5000, 0x800), 1, true, OPTIONAL_AT + 96 + 32},
        {"64-bit, unsigned", Headers(true, 16, 0, 0), 1, false, OPTIONAL_AT + 112 + 32},
        {"a size without an offset", Headers(true, 16, 0, 0x800), 1, false, OPTIONAL_AT + 112 + 32},
        {"an offset without a size", Headers(true, 16, 0x5000, 0), 1, false, OPTIONAL_AT + 112 + 32},
        {"four directories: no certificate entry", Headers(true, 4, 0, 0), 1, false, 0},
        {"not an image", not_mz, 0, false, 0},
        {"headers past the bytes", far_pe, 0, false, 0},
        {"an unknown optional header", odd_magic, 0, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SignatureRegions regions;
        EXPECT_EQ(ReadSignatureRegions(c.headers.data(), (uint32_t)c.headers.size(), &regions), c.readable);
        EXPECT_EQ(CarriesCertificateTable(c.headers.data(), (uint32_t)c.headers.size()), c.signed_ ? 1 : 0);
        EXPECT_EQ(regions.certificate_entry_at, c.entry_at);
        EXPECT_EQ(regions.checksum_at, c.readable ? OPTIONAL_AT + 64 : 0u);
        EXPECT_EQ(regions.certificate_bytes, c.signed_ ? 0x800u : 0u);
        // Cut short before the entry, the same headers never claim a signature.
        EXPECT_EQ(CarriesCertificateTable(c.headers.data(), OPTIONAL_AT + 100), 0);
    }
}

// What the whole file's digest covers: a certificate table counts only at the end of the
// file (where a signer puts it), so a damaged entry never hides bytes from the digest; the
// record must lie past the headers' regions.
TEST(FileDigest, TheLayoutLeavesOutWhatASignerWrites)
{
    const uint32_t entry_at = OPTIONAL_AT + 112 + 32, record_at = 0x2000;
    struct Case {
        const char* what;
        Bytes headers;
        uint64_t file_bytes;
        uint32_t record_at;
        int readable;
        uint64_t hashed_end;
    };
    const Case cases[] = {
        {"unsigned", Headers(true, 16, 0, 0), 0x6000, record_at, 1, 0x6000},
        {"a table at the end", Headers(true, 16, 0x5000, 0x1000), 0x6000, record_at, 1, 0x5000},
        {"a table short of the end", Headers(true, 16, 0x5000, 0x800), 0x6000, record_at, 1, 0x6000},
        {"a table past the end", Headers(true, 16, 0x5800, 0x1000), 0x6000, record_at, 1, 0x6000},
        {"a table over the record", Headers(true, 16, 0x1000, 0x5000), 0x6000, record_at, 1, 0x6000},
        {"the record in the headers", Headers(true, 16, 0, 0), 0x6000, entry_at, 0, 0},
        {"the record past the end", Headers(true, 16, 0, 0), 0x2010, record_at, 0, 0},
        {"no certificate entry", Headers(true, 4, 0, 0), 0x6000, record_at, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FileDigestLayout layout;
        ASSERT_EQ(ReadFileDigestLayout(c.headers.data(), (uint32_t)c.headers.size(), c.file_bytes, c.record_at,
                                       &layout),
                  c.readable);
        if (!c.readable) continue;
        EXPECT_EQ(layout.hashed_end, c.hashed_end);
        EXPECT_EQ(layout.skip_at[0], OPTIONAL_AT + 64);
        EXPECT_EQ(layout.skip_bytes[0], 4u);
        EXPECT_EQ(layout.skip_at[1], entry_at);
        EXPECT_EQ(layout.skip_bytes[1], 8u);
        EXPECT_EQ(layout.skip_at[2], record_at + FILE_DIGEST_MAGIC_BYTES);
        EXPECT_EQ(layout.skip_bytes[2], (uint32_t)FILE_DIGEST_HASH_BYTES);
    }
}

// The file is read in pieces of any size: the digest sees the same bytes whatever the cut,
// never a skipped one and nothing past the end.
TEST(FileDigest, AnyPiecesGiveTheSameHashedBytes)
{
    FileDigestLayout layout = {{10, 20, 40}, {4, 8, 16}, 100};
    Bytes file(120);
    for (size_t i = 0; i < file.size(); i++) file[i] = (uint8_t)i;
    Bytes expected;
    for (uint32_t i = 0; i < 100; i++)
        if (!(i >= 10 && i < 14) && !(i >= 20 && i < 28) && !(i >= 40 && i < 56)) expected.push_back((uint8_t)i);
    auto sink = [](void* context, const uint8_t* bytes, uint32_t count) {
        ASSERT_GT(count, 0u);
        ((Bytes*)context)->insert(((Bytes*)context)->end(), bytes, bytes + count);
    };
    for (uint32_t piece = 1; piece <= file.size(); piece++) {
        Bytes seen;
        for (uint32_t at = 0; at < file.size(); at += piece) {
            uint32_t count = std::min<uint32_t>(piece, (uint32_t)file.size() - at);
            ForEachHashedPart(&layout, at, file.data() + at, count, sink, &seen);
        }
        EXPECT_TRUE(seen == expected) << "pieces of " << piece;
    }
}
