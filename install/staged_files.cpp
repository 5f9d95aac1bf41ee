#include "install/staged_files.h"

#include <windows.h>
#include <shlwapi.h>
#include <wchar.h>

#include "base/file_helpers.h"
#include "base/setup_state.h"
#include "base/text_format.h"
#include "formats/icon_images.h"
#include "install/install_worker.h"
#include "rom/rom_image.h"

// One pass over the package's entries with their place in the walk.
struct EntryPass {
    ExtractContext* context;
    uint32_t index;
    int ok;
};

static int StagedPath(const ExtractContext* context, const wchar_t* name, uint32_t index,
                      wchar_t* path, wchar_t* partial)
{
    uint8_t slot = context->slots ? context->slots[index] : PARTIAL_SLOT_NONE;
    return slot != PARTIAL_SLOT_NONE && JoinPath(path, SETUP_JOIN_UNITS, context->install_folder, name) >= 0 &&
           PartialPath(partial, SETUP_JOIN_UNITS, path, slot) >= 0;
}

static int CheckReplaceable(const wchar_t* name, const uint8_t*, uint64_t, void* param)
{
    EntryPass* pass = (EntryPass*)param;
    wchar_t path[SETUP_JOIN_UNITS], partial[SETUP_JOIN_UNITS];
    if (!StagedPath(pass->context, name, pass->index++, path, partial)) return 1;
    HANDLE file = CreateFileW(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return 1;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return 1;  // a new name
    wmemcpy(pass->context->failing_path, path, SETUP_JOIN_UNITS);
    pass->ok = 0;
    return 0;
}

int CanReplaceStagedNames(ExtractContext* context)
{
    EntryPass pass = {context, 0, 1};
    WalkPackage(CheckReplaceable, &pass);
    return pass.ok;
}

static int CommitEntry(const wchar_t* name, const uint8_t*, uint64_t, void* param)
{
    EntryPass* pass = (EntryPass*)param;
    uint32_t index = pass->index++;
    wchar_t path[SETUP_JOIN_UNITS], partial[SETUP_JOIN_UNITS];
    if (!StagedPath(pass->context, name, index, path, partial)) return 1;
    if (g_setup.test_stop && g_setup.test_stop(1, (int)index) == SETUP_TEST_KILL)
        TerminateProcess(GetCurrentProcess(), 9);
    // Only names change: a link at path is replaced as a name, and what it leads to stays.
    if (!MoveFileExW(partial, path, MOVEFILE_REPLACE_EXISTING)) {
        if (pass->ok) wmemcpy(pass->context->failing_path, path, SETUP_JOIN_UNITS);
        pass->ok = 0;
    }
    return 1;
}

int CommitStagedFiles(ExtractContext* context)
{
    EntryPass pass = {context, 0, 1};
    WalkPackage(CommitEntry, &pass);  // the package's first entry is the game executable
    return pass.ok;
}

static int DiscardEntry(const wchar_t* name, const uint8_t*, uint64_t, void* param)
{
    EntryPass* pass = (EntryPass*)param;
    wchar_t path[SETUP_JOIN_UNITS], partial[SETUP_JOIN_UNITS];
    if (StagedPath(pass->context, name, pass->index++, path, partial)) DeletePathItself(partial);
    return 1;
}

void DiscardStagedFiles(const ExtractContext* context)
{
    EntryPass pass = {(ExtractContext*)context, 0, 1};
    WalkPackage(DiscardEntry, &pass);
}

// A new install began in an empty folder, so each file of the package it reached and each
// folder it made are its own: a file at the top is removed, a folder as a whole tree (one
// listing, not one removal per file).
struct UndoPass {
    const ExtractContext* context;
    uint32_t index;
    wchar_t last_tree[PACKAGE_NAME_UNITS];
};

static int UndoEntry(const wchar_t* name, const uint8_t*, uint64_t, void* param)
{
    UndoPass* pass = (UndoPass*)param;
    if (pass->index++ > pass->context->entries_done) return 0;  // never reached
    const wchar_t* folder = pass->context->install_folder;
    const wchar_t* separator = wcschr(name, L'\\');
    if (!separator) {
        DeleteInFolder(folder, name);
        return 1;
    }
    int units = (int)(separator - name);
    if (CompareStringOrdinal(pass->last_tree, -1, name, units, TRUE) == CSTR_EQUAL) return 1;
    wmemcpy(pass->last_tree, name, units);
    pass->last_tree[units] = L'\0';
    wchar_t tree[SETUP_JOIN_UNITS];
    if (JoinPath(tree, SETUP_JOIN_UNITS, folder, pass->last_tree) >= 0) DeleteTree(tree);
    return 1;
}

void UndoNewInstall(const ExtractContext* context, const wchar_t* created_top)
{
    const wchar_t* folder = context->install_folder;
    UndoPass* pass = (UndoPass*)LocalAlloc(LMEM_ZEROINIT, sizeof(UndoPass));
    if (!pass) return;
    pass->context = context;
    WalkPackage(UndoEntry, pass);
    LocalFree(pass);
    static const wchar_t* const own[] = {ROM_COPY_NAME, ICON_FILE_NAME, UNINSTALLER_NAME,
                                         PORTABLE_NOTE_NAME};
    for (const wchar_t* name : own) DeleteInFolder(folder, name);
    if (!created_top[0]) return;
    wchar_t path[SETUP_JOIN_UNITS];
    if (FormatText(path, SETUP_JOIN_UNITS, L"%s", folder) < 0) return;
    size_t top_units = wcslen(created_top);
    while (wcslen(path) >= top_units && RemoveEmptyFolder(path) && PathRemoveFileSpecW(path)) {
    }
}
