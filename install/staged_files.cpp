#include "install/staged_files.h"

#include <windows.h>
#include <shlwapi.h>
#include <wchar.h>

#include "base/file_deletion.h"
#include "base/file_helpers.h"
#include "base/folder_lock.h"
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
    const FilePlace* place;                   // the install folder's, read once
    wchar_t last_folder[PACKAGE_NAME_UNITS];  // the folder part of the last name looked at
};

static int UndoEntry(const wchar_t* name, const uint8_t*, uint64_t, void* param)
{
    UndoPass* pass = (UndoPass*)param;
    uint32_t index = pass->index++;
    if (index >= pass->context->entry_count) return 0;
    if (pass->context->slots[index] == PARTIAL_SLOT_NONE) return 1;  // not made by this run
    const wchar_t* folder = pass->context->install_folder;
    if (!DeleteInPlacedFolder(pass->place, folder, name) && HoldsOwnEntry(folder, name))
        pass->worst = DELETION_STAYED;
    return 1;
}

// Each folder once (the entries of one folder follow each other in the package): those of
// the files this run made, and that of the entry it stopped at, whose folder it may have
// made before the file. Only empty ones go.
static int UndoFolders(const wchar_t* name, const uint8_t*, uint64_t, void* param)
{
    UndoPass* pass = (UndoPass*)param;
    uint32_t index = pass->index++;
    if (index >= pass->context->entry_count || index > pass->context->entries_done) return 0;
    const wchar_t* last = wcsrchr(name, L'\\');
    if (!last) return 1;
    int units = (int)(last - name);
    if (CompareStringOrdinal(pass->last_folder, -1, name, units, TRUE) == CSTR_EQUAL) return 1;
    wmemcpy(pass->last_folder, name, units);
    pass->last_folder[units] = L'\0';
    RemoveEmptiedFolders(pass->context->install_folder, name);
    return 1;
}

int UndoNewInstall(const ExtractContext* context, const wchar_t* created_top)
{
    const wchar_t* folder = context->install_folder;
    UndoPass* pass = (UndoPass*)LocalAlloc(LMEM_ZEROINIT, sizeof(UndoPass));
    if (!pass) return 0;
    pass->context = context;
    FilePlace* place = ReadFolderPlaceOnce(folder);
    pass->place = place;
    if (context->slots) {
        WalkPackage(UndoEntry, pass);
        pass->index = 0;
        WalkPackage(UndoFolders, pass);
    }
    static const struct {
        unsigned flag;
        const wchar_t* name;
    } own[] = {{OWN_MADE_ROM_COPY, ROM_COPY_NAME}, {OWN_MADE_UNINSTALLER, UNINSTALLER_NAME},
               {OWN_MADE_MARK, PORTABLE_NOTE_NAME}};
    for (const auto& file : own) {
        if (!(context->own_files_made & file.flag)) continue;
        if (!DeleteInFolder(folder, file.name) && HoldsOwnEntry(folder, file.name)) pass->worst = DELETION_STAYED;
    }
    // The folder lock's file would keep the folder from being empty: it goes first.
    ReleaseFolderLock();
    if (created_top[0]) {
        wchar_t path[SETUP_JOIN_UNITS];
        if (FormatText(path, SETUP_JOIN_UNITS, L"%s", folder) >= 0) {
            size_t top_units = wcslen(created_top);
            while (wcslen(path) >= top_units && RemoveEmptyFolder(path) && PathRemoveFileSpecW(path)) {
            }
        }
    }
    int all_gone = pass->worst == DELETION_GONE;
    FreeFolderPlace(place);
    LocalFree(pass);
    return all_gone;
}
