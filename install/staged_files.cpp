#include "install/staged_files.h"

#include <windows.h>
#include <shlwapi.h>
#include <wchar.h>

#include "base/file_helpers.h"
#include "base/folder_lock.h"
#include "base/setup_state.h"
#include "base/text_format.h"
#include "formats/icon_images.h"
#include "install/install_worker.h"
#include "install/release_files.h"
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

#define UPDATE_JOURNAL_TEXT "An update of Torrentine PC was moving its files into place here.\r\n"

int UpdateWasInterrupted(const wchar_t* folder)
{
    return IsFileInFolder(folder, UPDATE_JOURNAL_NAME);
}

int CommitStagedFiles(ExtractContext* context)
{
    // From the first rename to the last the folder may hold both versions: the journal
    // says so to the next run, whatever stops this one.
    wchar_t journal[SETUP_JOIN_UNITS];
    if (JoinPath(journal, SETUP_JOIN_UNITS, context->install_folder, UPDATE_JOURNAL_NAME) < 0 ||
        (!UpdateWasInterrupted(context->install_folder) &&
         !WriteWholeFileAsNew(journal, UPDATE_JOURNAL_TEXT, sizeof UPDATE_JOURNAL_TEXT - 1))) {
        wmemcpy(context->failing_path, journal, SETUP_JOIN_UNITS);
        context->commit_started = 0;
        return 0;
    }
    context->commit_started = 1;
    EntryPass pass = {context, 0, 1};
    WalkPackage(CommitEntry, &pass);  // the package's first entry is the game executable
    if (pass.ok) DeleteInFolder(context->install_folder, UPDATE_JOURNAL_NAME);
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

// A new install made each of its files as new, so the files it made are exactly those
// whose slot it recorded; whatever else stands in the folder (another program's files, even
// in the package's folders) stays, and so do the folders that are not empty then.
struct UndoPass {
    const ExtractContext* context;
    uint32_t index;
    int worst;
    wchar_t last_folder[PACKAGE_NAME_UNITS];  // the folder part of the last name looked at
};

static int UndoEntry(const wchar_t* name, const uint8_t*, uint64_t, void* param)
{
    UndoPass* pass = (UndoPass*)param;
    uint32_t index = pass->index++;
    if (index >= pass->context->entry_count) return 0;
    if (pass->context->slots[index] == PARTIAL_SLOT_NONE) return 1;  // not made by this run
    const wchar_t* folder = pass->context->install_folder;
    if (!DeleteInFolder(folder, name) && HoldsOwnEntry(folder, name)) pass->worst = DELETION_STAYED;
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
    LocalFree(pass);
    return all_gone;
}
