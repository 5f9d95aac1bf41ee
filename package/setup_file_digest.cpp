#include "package/setup_file_digest.h"

#include <windows.h>
#include <string.h>

#include "base/little_endian.h"
#include "base/setup_state.h"
#include "formats/file_digest.h"
#include "formats/image_checksum.h"
#include "formats/image_signature.h"
#include "package/package_digest.h"
#include "package/package_format.h"

// The record the last build step fills in (tools/image_layout/seal_setup_file). Read
// through volatile, so that the compiler never takes the zeros it was built with for it.
__attribute__((used, section(".rdata"))) static const volatile uint8_t g_file_digest_record[FILE_DIGEST_RECORD_BYTES] =
    FILE_DIGEST_MAGIC;

// A quarter of a megabyte: few reads, and each piece is hashed while it is in the cache.
#define FILE_CHECK_PIECE_BYTES (256u * 1024u)

static void HashInto(void* hash, const uint8_t* bytes, uint32_t count)
{
    AddToDigestHash((DigestHash*)hash, bytes, count);
}

static uint32_t HeaderBytes(uint64_t file_bytes)
{
    return file_bytes < FILE_DIGEST_HEADER_BYTES ? (uint32_t)file_bytes : FILE_DIGEST_HEADER_BYTES;
}

// The digest of a whole image in memory, by its own record; 0 when it has no single record.
static int DigestOfImage(const uint8_t* image, uint32_t bytes, uint32_t* record_at,
                         uint8_t digest[FILE_DIGEST_HASH_BYTES])
{
    FileDigestLayout layout;
    if (FindFileDigestRecord(image, bytes, record_at) != 1 ||
        !ReadFileDigestLayout(image, HeaderBytes(bytes), bytes, *record_at, &layout))
        return 0;
    DigestHash* hash = NewDigestHash();
    if (!hash) return 0;
    ForEachHashedPart(&layout, 0, image, bytes, HashInto, hash);
    ReadDigestHash(hash, digest);
    FreeDigestHash(hash);
    return 1;
}

int SealSetupFileBytes(uint8_t* image, uint32_t bytes)
{
    SignatureRegions regions;
    if (!ReadSignatureRegions(image, HeaderBytes(bytes), &regions)) return SEAL_NOT_IMAGE;
    uint32_t record_at = 0;
    if (FindFileDigestRecord(image, bytes, &record_at) != 1) return SEAL_NO_RECORD;
    if (regions.certificate_bytes) return SEAL_SIGNED;
    uint8_t digest[FILE_DIGEST_HASH_BYTES];
    if (!DigestOfImage(image, bytes, &record_at, digest)) return SEAL_NOT_IMAGE;
    memcpy(image + record_at + FILE_DIGEST_MAGIC_BYTES, digest, FILE_DIGEST_HASH_BYTES);
    if (ReadLe32(image + regions.checksum_at) != 0) {  // a zero checksum stays zero
        PutLe32(image + regions.checksum_at, 0);
        const FilePiece whole = {image, bytes};
        PutLe32(image + regions.checksum_at, ImageChecksumOfPieces(&whole, 1));
    }
    return SEAL_DONE;
}

int SetupFileBytesAreSealed(const uint8_t* image, uint32_t bytes)
{
    uint32_t record_at = 0;
    uint8_t digest[FILE_DIGEST_HASH_BYTES];
    return DigestOfImage(image, bytes, &record_at, digest) &&
           memcmp(image + record_at + FILE_DIGEST_MAGIC_BYTES, digest, FILE_DIGEST_HASH_BYTES) == 0;
}

static int ReadAt(HANDLE file, uint64_t at, uint8_t* buffer, uint32_t count)
{
    LARGE_INTEGER position;
    position.QuadPart = (LONGLONG)at;
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return 0;
    while (count) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, count, &got, nullptr) || got == 0) return 0;
        buffer += got;
        count -= got;
    }
    return 1;
}

int PackageInFileIsIntact(HANDLE file, uint64_t at, uint32_t size)
{
    if (size < PACKAGE_HEADER_BYTES + PACKAGE_DIGEST_BYTES) return 0;
    uint8_t* buffer = (uint8_t*)HeapAlloc(GetProcessHeap(), 0, FILE_CHECK_PIECE_BYTES);
    DigestHash* hash = NewDigestHash();
    int ok = buffer && hash;
    const uint32_t sealed = size - PACKAGE_DIGEST_BYTES;
    for (uint32_t done = 0; ok && done < sealed;) {
        uint32_t count = sealed - done < FILE_CHECK_PIECE_BYTES ? sealed - done : FILE_CHECK_PIECE_BYTES;
        ok = ReadAt(file, at + done, buffer, count);
        if (ok) AddToDigestHash(hash, buffer, count);
        done += count;
    }
    uint8_t digest[FILE_DIGEST_HASH_BYTES];
    ok = ok && ReadAt(file, at + sealed, buffer, PACKAGE_DIGEST_BYTES);
    if (ok) ReadDigestHash(hash, digest);
    ok = ok && memcmp(buffer, PACKAGE_DIGEST_MAGIC, 4) == 0 && memcmp(buffer + 4, digest, sizeof digest) == 0;
    if (hash) FreeDigestHash(hash);
    if (buffer) HeapFree(GetProcessHeap(), 0, buffer);
    return ok;
}

struct OwnFilePass {
    HANDLE file;
    uint8_t* buffer;  // FILE_CHECK_PIECE_BYTES
    const uint8_t* package;
    uint32_t package_bytes;
    DigestHash* file_hash;
    DigestHash* package_hash;
};

// The package is hashed as loaded, the very bytes that get installed (they are the file's
// bytes there: Windows does not let a running program's file be written), for both digests
// a piece at a time; every other byte of the file is read. So the file is read once, and
// the package's pages are touched here, on the check's core, not later by the install.
static void HashPackageInPlace(OwnFilePass* pass, const FileDigestLayout* layout, uint64_t package_at)
{
    uint32_t sealed = pass->package_bytes - PACKAGE_DIGEST_BYTES;
    for (uint32_t done = 0; done < pass->package_bytes;) {
        uint32_t left = pass->package_bytes - done;
        uint32_t count = left < FILE_CHECK_PIECE_BYTES ? left : FILE_CHECK_PIECE_BYTES;
        ForEachHashedPart(layout, package_at + done, pass->package + done, count, HashInto, pass->file_hash);
        if (done < sealed)
            AddToDigestHash(pass->package_hash, pass->package + done, count < sealed - done ? count : sealed - done);
        done += count;
    }
}

static int HashOwnFile(OwnFilePass* pass)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(pass->file, &size) || size.QuadPart <= 0) return 0;
    uint64_t file_bytes = (uint64_t)size.QuadPart;
    uint32_t header_bytes = HeaderBytes(file_bytes);
    if (!ReadAt(pass->file, 0, pass->buffer, header_bytes)) return 0;
    uintptr_t base = (uintptr_t)GetModuleHandleW(nullptr);
    uint32_t record_rva = (uint32_t)((uintptr_t)g_file_digest_record - base);
    uint32_t package_rva = (uint32_t)((uintptr_t)pass->package - base);
    uint64_t record_at = FileOffsetOfRva(pass->buffer, header_bytes, record_rva, FILE_DIGEST_RECORD_BYTES);
    uint64_t package_at = FileOffsetOfRva(pass->buffer, header_bytes, package_rva, pass->package_bytes);
    FileDigestLayout layout;
    if (!record_at || !package_at ||
        !ReadFileDigestLayout(pass->buffer, header_bytes, file_bytes, (uint32_t)record_at, &layout) ||
        package_at + pass->package_bytes > layout.hashed_end)
        return 0;

    for (uint64_t at = 0; at < layout.hashed_end;) {
        if (at == package_at) {
            HashPackageInPlace(pass, &layout, package_at);
            at += pass->package_bytes;
            continue;
        }
        uint64_t stop = at < package_at ? package_at : layout.hashed_end;
        uint32_t count = stop - at < FILE_CHECK_PIECE_BYTES ? (uint32_t)(stop - at) : FILE_CHECK_PIECE_BYTES;
        if (!ReadAt(pass->file, at, pass->buffer, count)) return 0;
        ForEachHashedPart(&layout, at, pass->buffer, count, HashInto, pass->file_hash);
        at += count;
    }

    uint8_t digest[FILE_DIGEST_HASH_BYTES], recorded[FILE_DIGEST_HASH_BYTES];
    ReadDigestHash(pass->file_hash, digest);
    for (int i = 0; i < FILE_DIGEST_HASH_BYTES; i++) recorded[i] = g_file_digest_record[FILE_DIGEST_MAGIC_BYTES + i];
    uint8_t package_digest[FILE_DIGEST_HASH_BYTES];
    ReadDigestHash(pass->package_hash, package_digest);
    const uint8_t* trailer = pass->package + pass->package_bytes - PACKAGE_DIGEST_BYTES;
    return memcmp(digest, recorded, FILE_DIGEST_HASH_BYTES) == 0 &&
           memcmp(trailer, PACKAGE_DIGEST_MAGIC, 4) == 0 &&
           memcmp(trailer + 4, package_digest, FILE_DIGEST_HASH_BYTES) == 0;
}

int SetupFileIsIntact(void)
{
    OwnFilePass pass;
    ZeroMemory(&pass, sizeof pass);
    if (!FindPackage(nullptr, &pass.package, &pass.package_bytes) ||
        pass.package_bytes < PACKAGE_HEADER_BYTES + PACKAGE_DIGEST_BYTES)
        return 0;
    if (!g_setup.own_path[0]) return PackageBytesAreIntact(pass.package, pass.package_bytes);
    pass.file = CreateFileW(g_setup.own_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (pass.file == INVALID_HANDLE_VALUE) return 0;
    pass.buffer = (uint8_t*)HeapAlloc(GetProcessHeap(), 0, FILE_CHECK_PIECE_BYTES);
    pass.file_hash = NewDigestHash();
    pass.package_hash = NewDigestHash();
    int intact = pass.buffer && pass.file_hash && pass.package_hash && HashOwnFile(&pass);
    if (pass.buffer) HeapFree(GetProcessHeap(), 0, pass.buffer);
    FreeDigestHash(pass.file_hash);
    FreeDigestHash(pass.package_hash);
    CloseHandle(pass.file);
    return intact;
}

static DWORD WINAPI CheckPackage(LPVOID started)
{
    SetEvent((HANDLE)started);
    return (DWORD)SetupFileIsIntact();
}

HANDLE StartPackageCheck(void)
{
    HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!started) return CreateThread(nullptr, 0, CheckPackage, nullptr, 0, nullptr);
    HANDLE check = CreateThread(nullptr, 0, CheckPackage, started, 0, nullptr);
    // A new thread begins only once no library is loading, and the caller loads the shell's
    // libraries next (35 ms under Wine): the check waits for nothing if it has begun first.
    // A start that takes longer than a second leaves the event to the thread.
    if (!check || WaitForSingleObject(started, 1000) == WAIT_OBJECT_0) CloseHandle(started);
    return check;
}

int LeavePackageCheck(HANDLE check)
{
    if (check) CloseHandle(check);
    return 1;
}

int JoinPackageCheck(HANDLE check)
{
    if (!check) return SetupFileIsIntact();
    DWORD intact = 0;
    WaitForSingleObject(check, INFINITE);
    if (!GetExitCodeThread(check, &intact)) intact = 0;
    CloseHandle(check);
    return intact == 1;
}
