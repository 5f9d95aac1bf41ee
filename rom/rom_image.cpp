#include "rom/rom_image.h"

#include <windows.h>

#include "base/file_compare.h"
#include "base/file_deletion.h"
#include "base/file_helpers.h"
#include "base/file_replacement.h"
#include "base/setup_state.h"
#include "base/text_format.h"

void FreeRomImage(uint8_t* image)
{
    if (image) HeapFree(GetProcessHeap(), 0, image);
}

int ReadRomFile(const wchar_t* path, uint32_t* length, RomPieceVisitor visit, void* context)
{
    *length = 0;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ROMCHECK_CANNOT_OPEN;

    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        return ROMCHECK_CANNOT_OPEN;
    }
    // Unsigned: a size below the minimum wraps to a huge value and fails the same test.
    if ((uint64_t)size.QuadPart - ROM_MIN_FILE_BYTES > ROM_MAX_FILE_BYTES - ROM_MIN_FILE_BYTES) {
        CloseHandle(file);
        return ROMCHECK_NOT_N64_ROM;
    }
    const uint32_t file_bytes = (uint32_t)size.QuadPart;
    const uint32_t image_bytes = (file_bytes + 3) & ~3u;

    uint8_t* piece = (uint8_t*)HeapAlloc(GetProcessHeap(), 0, ROM_PIECE_BYTES);
    RomHash* hash = piece ? StartRomHash() : nullptr;
    int code = hash ? ROMCHECK_ACCEPTED : ROMCHECK_CANNOT_OPEN;
    int order = ROM_ORDER_BIG_ENDIAN;
    for (uint32_t offset = 0; code == ROMCHECK_ACCEPTED && offset < image_bytes;) {
        uint32_t count = image_bytes - offset < ROM_PIECE_BYTES ? image_bytes - offset : ROM_PIECE_BYTES;
        uint32_t from_file = offset + count <= file_bytes ? count : file_bytes - offset;
        DWORD read = 0;
        if (!ReadFile(file, piece, from_file, &read, nullptr) || read != from_file) {
            code = ROMCHECK_CANNOT_OPEN;  // also a file that shrank while it was read
            break;
        }
        ZeroMemory(piece + from_file, count - from_file);  // the image's zero fill
        if (offset == 0) {
            order = RomByteOrder(piece);
            if (order == ROM_ORDER_ZIP) {
                code = ROMCHECK_ZIP_ARCHIVE;
                break;
            }
        }
        NormaliseRomBytes(piece, count, order);
        if (offset == 0 && (code = RomHeaderCode(piece)) != ROMCHECK_ACCEPTED) break;
        if (!AddToRomHash(hash, piece, count) || (visit && !visit(context, offset, piece, count)))
            code = ROMCHECK_CANNOT_OPEN;
        offset += count;
    }
    if (hash) {
        uint64_t value = FinishRomHash(hash);
        if (code == ROMCHECK_ACCEPTED && value != ROM_ACCEPTED_HASH) code = ROMCHECK_DIFFERENT_ROM;
    }
    if (piece) HeapFree(GetProcessHeap(), 0, piece);
    CloseHandle(file);
    if (code == ROMCHECK_ACCEPTED) *length = image_bytes;
    return code;
}

struct Excerpt {
    uint32_t offset, count;
    uint8_t* bytes;
    uint32_t filled;
};

static int KeepExcerpt(void* context, uint32_t offset, const uint8_t* bytes, uint32_t count)
{
    Excerpt* excerpt = (Excerpt*)context;
    uint32_t start = offset > excerpt->offset ? offset : excerpt->offset;
    uint32_t end = offset + count;
    if (end > excerpt->offset + excerpt->count) end = excerpt->offset + excerpt->count;
    if (start < end) {
        CopyMemory(excerpt->bytes + (start - excerpt->offset), bytes + (start - offset), end - start);
        excerpt->filled += end - start;
    }
    return 1;
}

int CheckRomFile(const wchar_t* path, uint32_t* length, uint32_t offset, uint32_t count,
                 uint8_t* excerpt)
{
    Excerpt keep = {offset, count, excerpt, 0};
    int code = ReadRomFile(path, length, excerpt ? KeepExcerpt : nullptr, &keep);
    if (code == ROMCHECK_ACCEPTED && excerpt && keep.filled != count) {
        *length = 0;
        return ROMCHECK_NOT_N64_ROM;
    }
    return code;
}

struct WholeImage {
    uint8_t* bytes;
    uint32_t capacity;
};

static int KeepWhole(void* context, uint32_t offset, const uint8_t* bytes, uint32_t count)
{
    WholeImage* whole = (WholeImage*)context;
    if (offset + count > whole->capacity) return 0;
    CopyMemory(whole->bytes + offset, bytes, count);
    return 1;
}

int LoadRomImage(const wchar_t* path, uint8_t** image, uint32_t* length)
{
    *image = nullptr;
    *length = 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return ROMCHECK_CANNOT_OPEN;
    WholeImage whole = {nullptr, 0};
    if (data.nFileSizeHigh == 0 && data.nFileSizeLow <= ROM_MAX_FILE_BYTES) {
        whole.capacity = (data.nFileSizeLow + 3) & ~3u;
        whole.bytes = (uint8_t*)HeapAlloc(GetProcessHeap(), 0, whole.capacity ? whole.capacity : 1);
        if (!whole.bytes) return ROMCHECK_CANNOT_OPEN;
    }
    int code = ReadRomFile(path, length, KeepWhole, &whole);
    if (code != ROMCHECK_ACCEPTED) {
        FreeRomImage(whole.bytes);
        *length = 0;
        return code;
    }
    *image = whole.bytes;
    return ROMCHECK_ACCEPTED;
}

bool HasInstalledRomCopy(const wchar_t* folder)
{
    if (!IsFileInFolder(folder, ROM_COPY_NAME)) return false;
    wchar_t path[SETUP_JOIN_UNITS];
    JoinPath(path, SETUP_JOIN_UNITS, folder, ROM_COPY_NAME);
    uint32_t length = 0;
    return ReadRomFile(path, &length, nullptr, nullptr) == ROMCHECK_ACCEPTED;
}

struct RomCopy {
    const wchar_t* rom_path;
    uint32_t length;  // the image's, from the check
    HANDLE file;
    int code;         // of the second reading
    int write_failed;
};

static int WriteRomPiece(void* context, uint32_t, const uint8_t* bytes, uint32_t count)
{
    RomCopy* copy = (RomCopy*)context;
    DWORD written = 0;
    if (WriteFile(copy->file, bytes, count, &written, nullptr) && written == count) return 1;
    copy->write_failed = 1;
    return 0;
}

static int WriteRomCopyFile(const wchar_t* path, const void* data, uint32_t, DWORD* error)
{
    RomCopy* copy = (RomCopy*)data;
    copy->file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (copy->file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return 0;
    }
    *error = 0;
    uint32_t length = 0;
    copy->code = ReadRomFile(copy->rom_path, &length, WriteRomPiece, copy);
    BOOL closed = CloseHandle(copy->file);
    return copy->code == ROMCHECK_ACCEPTED && length == copy->length && closed;
}

struct RomComparison {
    HANDLE installed;
    uint8_t* buffer;
    int same;
};

static int ComparePiece(void* context, uint32_t, const uint8_t* bytes, uint32_t count)
{
    RomComparison* comparison = (RomComparison*)context;
    comparison->same = NextBytesAre(comparison->installed, bytes, count, comparison->buffer);
    return comparison->same;
}

int RomCopyIsAlready(const wchar_t* rom_path, uint32_t length, const wchar_t* folder, const wchar_t* name)
{
    uint64_t installed = 0;
    RomComparison comparison = {OpenFileInFolder(folder, name, &installed), nullptr, 0};
    if (comparison.installed == INVALID_HANDLE_VALUE) return 0;
    uint32_t read_length = 0;
    if (installed == length && (comparison.buffer = (uint8_t*)HeapAlloc(GetProcessHeap(), 0, COMPARE_BUFFER_BYTES))) {
        comparison.same = 1;
        if (ReadRomFile(rom_path, &read_length, ComparePiece, &comparison) != ROMCHECK_ACCEPTED ||
            read_length != length)
            comparison.same = 0;
        HeapFree(GetProcessHeap(), 0, comparison.buffer);
    }
    CloseHandle(comparison.installed);
    return comparison.same;
}

int CopyRomImage(const wchar_t* rom_path, uint32_t length, const wchar_t* target, int replace)
{
    RomCopy copy = {rom_path, length, INVALID_HANDLE_VALUE, ROMCHECK_ACCEPTED, 0};
    if (replace) {
        if (ReplaceWholeFileWith(target, WriteRomCopyFile, &copy, length)) return ROMCHECK_ACCEPTED;
    } else {
        DWORD error = 0;
        if (WriteRomCopyFile(target, &copy, length, &error)) return ROMCHECK_ACCEPTED;
        if (error == 0) DeletePathItself(target);  // this call's own unfinished file
    }
    return copy.write_failed || copy.code == ROMCHECK_ACCEPTED ? ROMCOPY_CANNOT_WRITE : copy.code;
}

const wchar_t* RomCheckMessage(int code)
{
    switch (code) {
    case ROMCHECK_ACCEPTED:
        return L"\u2714  Torrentine (prototype, Jun 15 1999) found.";
    case ROMCHECK_CANNOT_OPEN:
        return L"Can't open that file.";
    case ROMCHECK_NOT_N64_ROM:
        return L"That file isn't a Nintendo 64 ROM.";
    case ROMCHECK_DIFFERENT_ROM:
        return L"That's a different ROM. Setup needs the Torrentine prototype dated Jun 15, "
               L"1999 (16 MB).";
    case ROMCHECK_ZIP_ARCHIVE:
        return L"That's a .zip archive: unzip it first, then choose the .z64 / .v64 / .n64 "
               L"file inside.";
    }
    return L"";
}
