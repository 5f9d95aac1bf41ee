// The game executable written out of the package once, with its new icon resources already
// in its resource section (unless it is signed): the pieces of the new layout go to the file in order, the large
// ones straight from the package's mapped bytes, the small ones gathered first.
#include <windows.h>

#include "base/file_compare.h"
#include "base/file_helpers.h"
#include "base/file_replacement.h"
#include "base/installation_layout.h"
#include "install/game_icon.h"
#include "formats/icon_images.h"
#include "formats/image_signature.h"
#include "formats/resource_section.h"

#define GATHER_BYTES (256 * 1024)  // small pieces are gathered into writes of this size
#define DIRECT_BYTES (64 * 1024)   // pieces from this size on are written as they are

static int WriteAll(HANDLE file, const uint8_t* bytes, uint32_t count)
{
    DWORD written = 0;
    return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}

static int WritePieces(HANDLE file, const FilePiece* pieces, int piece_count, uint8_t* gather)
{
    uint32_t gathered = 0;
    int ok = 1;
    for (int i = 0; ok && i < piece_count; i++) {
        const uint8_t* bytes = pieces[i].bytes;
        uint32_t left = pieces[i].count;
        if (bytes && left >= DIRECT_BYTES) {
            ok = (gathered == 0 || WriteAll(file, gather, gathered)) && WriteAll(file, bytes, left);
            gathered = 0;
            continue;
        }
        while (ok && left) {
            uint32_t part = left < GATHER_BYTES - gathered ? left : GATHER_BYTES - gathered;
            if (bytes) {
                CopyMemory(gather + gathered, bytes, part);
                bytes += part;
            } else {
                ZeroMemory(gather + gathered, part);
            }
            gathered += part;
            left -= part;
            if (gathered == GATHER_BYTES) {
                ok = WriteAll(file, gather, gathered);
                gathered = 0;
            }
        }
    }
    return ok && (gathered == 0 || WriteAll(file, gather, gathered));
}

struct PlannedFile {
    const ExecutableLayout* layout;
    uint8_t* gather;
};

// Makes the planned executable as a new file.
static int WritePlannedFile(const wchar_t* path, const void* data, uint32_t, DWORD* error)
{
    const PlannedFile* planned = (const PlannedFile*)data;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return 0;
    }
    *error = 0;
    int written = WritePieces(file, planned->layout->pieces, planned->layout->piece_count,
                              planned->gather);
    CloseHandle(file);
    return written;
}

// The executable with its new icons laid out (layout filled, 1), or 0 when it is written as
// packaged: no complete icons, a signature to keep, or a layout this writer does not handle
// (the icon step's update path follows later).
static int PlanGameExecutable(const uint8_t* data, uint32_t size, const GameIconImages* icon,
                              ExecutableLayout* layout, uint8_t* group)
{
    if (!icon->complete || CarriesCertificateTable(data, size)) return 0;
    FillIconGroupRecord(group, icon->image_bytes);
    NewIconResources resources;
    for (int k = 0; k < ICON_IMAGE_COUNT; k++) {
        resources.images[k] = icon->images[k];
        resources.image_bytes[k] = icon->image_bytes[k];
    }
    resources.group = group;
    resources.group_bytes = ICON_GROUP_BYTES;
    if (LayOutIconResources(data, size, &resources, layout) == LAYOUT_DONE) return 1;
    FreeExecutableLayout(layout);
    return 0;
}

int WriteGameExecutable(const wchar_t* path, const uint8_t* data, uint32_t size, GameIconImages* icon,
                        int* created)
{
    icon->executable_written = 0;
    uint8_t group[ICON_GROUP_BYTES];
    ExecutableLayout layout;
    if (!PlanGameExecutable(data, size, icon, &layout, group)) return CreateWholeFile(path, data, size, created);
    uint8_t* gather = (uint8_t*)HeapAlloc(GetProcessHeap(), 0, GATHER_BYTES);
    if (!gather) {
        FreeExecutableLayout(&layout);
        return CreateWholeFile(path, data, size, created);
    }
    PlannedFile planned = {&layout, gather};
    DWORD error = 0;
    int written = WritePlannedFile(path, &planned, size, &error);
    *created = error == 0;
    HeapFree(GetProcessHeap(), 0, gather);
    FreeExecutableLayout(&layout);
    icon->executable_written = written;
    return written;
}

int GameExecutableIsAlready(const wchar_t* folder, const uint8_t* data, uint32_t size, GameIconImages* icon,
                            uint8_t* buffer)
{
    uint8_t group[ICON_GROUP_BYTES];
    ExecutableLayout layout;
    if (!PlanGameExecutable(data, size, icon, &layout, group))
        return FileInFolderHolds(folder, GAME_EXE_NAME, data, size, buffer);
    uint64_t installed = 0;
    HANDLE file = OpenFileInFolder(folder, GAME_EXE_NAME, &installed);
    int same = file != INVALID_HANDLE_VALUE && installed == layout.file_bytes;
    for (int i = 0; same && i < layout.piece_count; i++)
        same = NextBytesAre(file, layout.pieces[i].bytes, layout.pieces[i].count, buffer);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    FreeExecutableLayout(&layout);
    // It already holds its new icons: the icon step leaves it alone.
    if (same) icon->executable_written = 1;
    return same;
}
