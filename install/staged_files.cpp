#include "install/staged_files.h"

#include <windows.h>
#include <shlwapi.h>
#include <wchar.h>

#include "base/file_helpers.h"
#include "base/setup_state.h"
#include "base/text_format.h"
#include "formats/icon_images.h"
#include "install/install_worker.h"
#include "install/release_files.h"
#include "rom/rom_image.h"

// A new install made each of its files as new, so the files it made are exactly those
// whose slot it recorded; whatever else stands in the folder (another program's files, even
// in the package's folders) stays, and so do the folders that are not empty then.
struct UndoPass {
    const ExtractContext* context;
    uint32_t index;
    int worst;
};

static int UndoEntry(const wchar_t* name, const uint8_t*, uint64_t, void* param)
{
    UndoPass* pass = (UndoPass*)param;
    uint32_t index = pass->index++;
    if (index >= pass->context->entry_count) return 0;
    if (pass->context->slots[index] == PARTIAL_SLOT_NONE) return 1;  // not made by this run
    const wchar_t* folder = pass->context->install_folder;
    DeleteInFolder(folder, name);
    if (HoldsOwnEntry(folder, name)) pass->worst = DELETION_STAYED;
    return 1;
}

static int UndoFolders(const wchar_t* name, const uint8_t*, uint64_t, void* param)
{
    UndoPass* pass = (UndoPass*)param;
    if (wcschr(name, L'\\')) RemoveEmptiedFolders(pass->context->install_folder, name);
    return 1;
}

int UndoNewInstall(const ExtractContext* context, const wchar_t* created_top)
{
    const wchar_t* folder = context->install_folder;
    UndoPass pass = {context, 0, DELETION_GONE};
    if (context->slots) {
        WalkPackage(UndoEntry, &pass);
        WalkPackage(UndoFolders, &pass);
    }
    static const struct {
        unsigned flag;
        const wchar_t* name;
    } own[] = {{OWN_MADE_ROM_COPY, ROM_COPY_NAME}, {OWN_MADE_UNINSTALLER, UNINSTALLER_NAME},
               {OWN_MADE_MARK, PORTABLE_NOTE_NAME}};
    for (const auto& file : own) {
        if (!(context->own_files_made & file.flag)) continue;
        DeleteInFolder(folder, file.name);
        if (HoldsOwnEntry(folder, file.name)) pass.worst = DELETION_STAYED;
    }
    if (created_top[0]) {
        wchar_t path[SETUP_JOIN_UNITS];
        if (FormatText(path, SETUP_JOIN_UNITS, L"%s", folder) >= 0) {
            size_t top_units = wcslen(created_top);
            while (wcslen(path) >= top_units && RemoveEmptyFolder(path) && PathRemoveFileSpecW(path)) {
            }
        }
    }
    return pass.worst == DELETION_GONE;
}
