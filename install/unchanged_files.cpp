#include "install/unchanged_files.h"

#include <windows.h>
#include <wchar.h>

#include "base/file_compare.h"
#include "base/installation_layout.h"
#include "rom/rom_image.h"

struct SameWalk {
    ExtractContext* context;
    uint32_t index;
    uint8_t* buffer;  // COMPARE_BUFFER_BYTES, one for the whole walk
};

static int MarkIfSame(const wchar_t* name, const uint8_t* data, uint64_t size, void* param)
{
    SameWalk* walk = (SameWalk*)param;
    ExtractContext* context = walk->context;
    uint32_t index = walk->index++;
    if (index >= context->entry_count) return 0;
    const wchar_t* folder = context->install_folder;
    int game = context->game_icon && _wcsicmp(name, GAME_EXE_NAME) == 0;
    int same = game ? size <= 0xFFFFFFFFull &&
                          GameExecutableIsAlready(folder, data, (uint32_t)size, context->game_icon, walk->buffer)
                    : FileInFolderHolds(folder, name, data, size, walk->buffer);
    if (same) context->slots[index] = PARTIAL_SLOT_SAME;
    return 1;
}

void FindUnchangedEntries(ExtractContext* context)
{
    if (!context->slots) return;
    SameWalk walk = {context, 0, (uint8_t*)HeapAlloc(GetProcessHeap(), 0, COMPARE_BUFFER_BYTES)};
    if (!walk.buffer) return;  // every file is then written again, as before this comparison
    WalkPackage(MarkIfSame, &walk);
    HeapFree(GetProcessHeap(), 0, walk.buffer);
}

void FindUnchangedOwnFiles(ExtractContext* context, const wchar_t* rom_path, uint32_t length,
                           const wchar_t* own_path)
{
    const wchar_t* folder = context->install_folder;
    if (length && RomCopyIsAlready(rom_path, length, folder, ROM_COPY_NAME))
        context->own_files_same |= OWN_SAME_ROM_COPY;
    if (FileInFolderEquals(folder, UNINSTALLER_NAME, own_path)) context->own_files_same |= OWN_SAME_UNINSTALLER;
}
