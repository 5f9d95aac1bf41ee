#include "install/update_commit.h"

#include <windows.h>
#include <wchar.h>

#include "base/busy_retry.h"
#include "base/file_deletion.h"
#include "base/file_helpers.h"
#include "base/file_replacement.h"
#include "base/installation_layout.h"
#include "base/partial_names.h"
#include "base/setup_state.h"
#include "base/text_format.h"
#include "install/release_files.h"
#include "install/test_hooks.h"

int StartCommitList(CommitList* list, uint32_t capacity)
{
    list->count = 0;
    list->items = (CommitItem*)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)capacity * sizeof(CommitItem));
    list->capacity = list->items ? capacity : 0;
    return list->items != nullptr;
}

void FreeCommitList(CommitList* list)
{
    if (list->items) HeapFree(GetProcessHeap(), 0, list->items);
    list->items = nullptr;
    list->count = list->capacity = 0;
}

int AddCommitItem(CommitList* list, const wchar_t* name, int staged_slot)
{
    if (list->count == list->capacity || staged_slot < 0 || staged_slot >= PARTIAL_SLOTS) return 0;
    CommitItem* item = &list->items[list->count];
    if (FormatText(item->name, PACKAGE_NAME_UNITS, L"%s", name) < 0) return 0;
    item->staged_slot = (uint8_t)staged_slot;
    item->aside_slot = PARTIAL_SLOT_NONE;
    list->count++;
    return 1;
}

struct StagedWalk {
    CommitList* list;
    const ExtractContext* context;
    uint32_t index;
    int ok;
};

static int AddStagedEntry(const wchar_t* name, const uint8_t*, uint64_t, void* param)
{
    StagedWalk* walk = (StagedWalk*)param;
    uint32_t index = walk->index++;
    if (index >= walk->context->entry_count) return 0;
    uint8_t slot = walk->context->slots[index];
    if (slot < PARTIAL_SLOTS && !AddCommitItem(walk->list, name, slot)) walk->ok = 0;
    return 1;
}

int AddStagedEntries(CommitList* list, const ExtractContext* context)
{
    StagedWalk walk = {list, context, 0, 1};
    if (context->slots) WalkPackage(AddStagedEntry, &walk);
    return walk.ok;
}

// The item's name, staged and aside paths (aside empty when it has none).
static int ItemPaths(const wchar_t* folder, const CommitItem* item, wchar_t* path, wchar_t* staged, wchar_t* aside)
{
    if (JoinPath(path, SETUP_JOIN_UNITS, folder, item->name) < 0 ||
        PartialPath(staged, SETUP_JOIN_UNITS, path, item->staged_slot) < 0)
        return 0;
    aside[0] = L'\0';
    return item->aside_slot == PARTIAL_SLOT_NONE || PartialPath(aside, SETUP_JOIN_UNITS, path, item->aside_slot) >= 0;
}

static int Exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

void DiscardCommitList(const wchar_t* folder, const CommitList* list)
{
    wchar_t path[SETUP_JOIN_UNITS], staged[SETUP_JOIN_UNITS], aside[SETUP_JOIN_UNITS];
    for (uint32_t i = 0; i < list->count; i++)
        if (ItemPaths(folder, &list->items[i], path, staged, aside)) DeletePathItself(staged);
    // The folders that staging made for names new in this release go with them.
    for (uint32_t i = 0; i < list->count; i++)
        if (wcschr(list->items[i].name, L'\\')) RemoveEmptiedFolders(folder, list->items[i].name);
}

#define UPDATE_JOURNAL_TEXT "An update of Torrentine PC was moving its files into place here.\r\n"
#define JOURNAL_LINE_BYTES (4 + 3 * PACKAGE_NAME_UNITS)  // two slots, a space, UTF-8 name, CR LF

// One line per item: the staged slot's digit, the aside slot's digit or "-", a space, the
// name in UTF-8.
static int WriteJournal(const wchar_t* folder, const CommitList* list)
{
    size_t capacity = sizeof UPDATE_JOURNAL_TEXT + (size_t)list->count * JOURNAL_LINE_BYTES;
    char* text = (char*)HeapAlloc(GetProcessHeap(), 0, capacity);
    if (!text) return 0;
    size_t used = sizeof UPDATE_JOURNAL_TEXT - 1;
    memcpy(text, UPDATE_JOURNAL_TEXT, used);
    int ok = 1;
    for (uint32_t i = 0; i < list->count && ok; i++) {
        const CommitItem* item = &list->items[i];
        text[used++] = (char)('0' + item->staged_slot);
        text[used++] = item->aside_slot == PARTIAL_SLOT_NONE ? '-' : (char)('0' + item->aside_slot);
        text[used++] = ' ';
        int bytes = WideCharToMultiByte(CP_UTF8, 0, item->name, -1, text + used, (int)(capacity - used), nullptr, nullptr);
        ok = bytes > 1;
        used += (size_t)bytes - 1;
        text[used++] = '\r';
        text[used++] = '\n';
    }
    wchar_t journal[SETUP_JOIN_UNITS];
    ok = ok && JoinPath(journal, SETUP_JOIN_UNITS, folder, UPDATE_JOURNAL_NAME) >= 0 &&
         WriteWholeFileAsNew(journal, text, (uint32_t)used);
    HeapFree(GetProcessHeap(), 0, text);
    return ok;
}

// The journal is a file in the folder, not the package: anything may have written it. A
// name it gives is acted on only when it stays below the folder: relative, no drive or
// stream colon, no empty, "." or ".." step, backslashes only.
static int IsNameInsideFolder(const wchar_t* name)
{
    if (!name[0] || name[0] == L'\\' || wcschr(name, L':') || wcschr(name, L'/')) return 0;
    for (const wchar_t* step = name;;) {
        const wchar_t* end = wcschr(step, L'\\');
        size_t units = end ? (size_t)(end - step) : wcslen(step);
        // Windows drops a step's trailing dots and spaces: one made of those alone is "."
        // or "..", or nothing.
        size_t plain = 0;
        while (plain < units && (step[plain] == L'.' || step[plain] == L' ')) plain++;
        if (plain == units) return 0;
        if (!end) return 1;
        step = end + 1;
    }
}

// The journal's items; 0 when it cannot be read whole.
static int ReadJournal(const wchar_t* folder, CommitList* list)
{
    wchar_t journal[SETUP_JOIN_UNITS];
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (JoinPath(journal, SETUP_JOIN_UNITS, folder, UPDATE_JOURNAL_NAME) < 0 ||
        !GetFileAttributesExW(journal, GetFileExInfoStandard, &data) || data.nFileSizeHigh ||
        data.nFileSizeLow > 64u << 20)
        return 0;
    uint32_t size = data.nFileSizeLow;
    char* text = (char*)HeapAlloc(GetProcessHeap(), 0, size + 1);
    if (!text) return 0;
    int ok = ReadFileInFolder(folder, UPDATE_JOURNAL_NAME, text, size) == (int)size &&
             size >= sizeof UPDATE_JOURNAL_TEXT - 1 && memcmp(text, UPDATE_JOURNAL_TEXT, sizeof UPDATE_JOURNAL_TEXT - 1) == 0;
    uint32_t lines = 0;
    for (uint32_t i = 0; ok && i < size; i++) lines += text[i] == '\n';
    ok = ok && StartCommitList(list, lines);
    uint32_t at = sizeof UPDATE_JOURNAL_TEXT - 1;
    while (ok && at < size) {
        uint32_t end = at;
        while (end < size && text[end] != '\r') end++;
        if (end - at < 4 || end + 1 >= size || text[end + 1] != '\n' || text[at + 2] != ' ') {
            ok = 0;
            break;
        }
        wchar_t name[PACKAGE_NAME_UNITS];
        int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text + at + 3, (int)(end - at - 3), name,
                                        PACKAGE_NAME_UNITS - 1);
        char staged = text[at], aside = text[at + 1];
        ok = units > 0 && staged >= '0' && staged <= '9' && (aside == '-' || (aside >= '0' && aside <= '9'));
        if (ok) {
            name[units] = L'\0';
            ok = IsNameInsideFolder(name) && AddCommitItem(list, name, staged - '0');
            if (ok && aside != '-') list->items[list->count - 1].aside_slot = (uint8_t)(aside - '0');
        }
        at = end + 2;
    }
    HeapFree(GetProcessHeap(), 0, text);
    if (!ok) FreeCommitList(list);
    return ok;
}

// What the test flavour asks for before the commit's rename number step; the release has
// no such hook.
static int CommitStep(int step)
{
    int action = g_test_hooks.stop ? g_test_hooks.stop(1, step) : SETUP_TEST_GO_ON;
    if (action == SETUP_TEST_KILL) TerminateProcess(GetCurrentProcess(), 9);
    if (action == SETUP_TEST_FAIL) SetLastError(ERROR_SHARING_VIOLATION);
    return action != SETUP_TEST_FAIL;
}

// Puts item i's name back as it was from what is on disk: the new file back under its
// staged name, the old one back from aside. 1 when it is.
static int PutItemBack(const wchar_t* folder, const CommitItem* item)
{
    wchar_t path[SETUP_JOIN_UNITS], staged[SETUP_JOIN_UNITS], aside[SETUP_JOIN_UNITS];
    if (!ItemPaths(folder, item, path, staged, aside)) return 0;
    // The staged file is there until it is renamed in: without it, the name is the new file.
    if (!Exists(staged) && Exists(path) && !RenameWithRetries(path, staged, 0)) return 0;
    if (aside[0] && Exists(aside) && !Exists(path) && !RenameWithRetries(aside, path, 0)) return 0;
    return 1;
}

// Every item back in reverse, the staged files removed, then the journal: 1 when all are.
static int RollBack(const wchar_t* folder, const CommitList* list, uint32_t items)
{
    int ok = 1;
    for (uint32_t i = items; i-- > 0;)
        if (!PutItemBack(folder, &list->items[i])) ok = 0;
    if (!ok) return 0;  // the journal stays: the next run tries again
    DiscardCommitList(folder, list);
    DeleteInFolder(folder, UPDATE_JOURNAL_NAME);
    return !IsFileInFolder(folder, UPDATE_JOURNAL_NAME);
}

int CommitUpdate(const wchar_t* folder, const CommitList* list, wchar_t* failing_path)
{
    wchar_t path[SETUP_JOIN_UNITS], staged[SETUP_JOIN_UNITS], aside[SETUP_JOIN_UNITS];
    // The aside names are chosen before the journal, which records them.
    FilePlace* place = ReadFolderPlaceOnce(folder);
    for (uint32_t i = 0; i < list->count; i++) {
        CommitItem* item = &list->items[i];
        item->aside_slot = PARTIAL_SLOT_NONE;
        if (JoinPath(path, SETUP_JOIN_UNITS, folder, item->name) < 0) {
            FreeFolderPlace(place);
            return COMMIT_ROLLED_BACK;
        }
        if (!Exists(path)) continue;
        // A link the player put at the name is replaced as a name, never moved aside:
        // Wine moves a file link's target, not the link.
        if (!HoldsEntryInPlacedFolder(place, folder, item->name)) continue;
        DWORD attributes = GetFileAttributesW(path);
        int slot = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? -1 : FreePartialSlot(path);
        if (slot < 0) {
            FormatText(failing_path, SETUP_JOIN_UNITS, L"%s", path);
            FreeFolderPlace(place);
            DiscardCommitList(folder, list);
            return COMMIT_ROLLED_BACK;
        }
        item->aside_slot = (uint8_t)slot;
    }
    FreeFolderPlace(place);
    if (!WriteJournal(folder, list)) {
        JoinPath(failing_path, SETUP_JOIN_UNITS, folder, UPDATE_JOURNAL_NAME);
        DeleteInFolder(folder, UPDATE_JOURNAL_NAME);
        DiscardCommitList(folder, list);
        return COMMIT_ROLLED_BACK;
    }
    int step = 0;
    for (uint32_t i = 0; i < list->count; i++) {
        const CommitItem* item = &list->items[i];
        int ok = ItemPaths(folder, item, path, staged, aside) &&
                 (!aside[0] || (CommitStep(step++) && RenameWithRetries(path, aside, 0))) &&
                 CommitStep(step++) && RenameWithRetries(staged, path, aside[0] ? 0 : MOVEFILE_REPLACE_EXISTING);
        if (!ok) {
            FormatText(failing_path, SETUP_JOIN_UNITS, L"%s", path);
            return RollBack(folder, list, i + 1) ? COMMIT_ROLLED_BACK : COMMIT_MIXED;
        }
    }
    // Every new file is in place: the journal's removal is the moment the update is done.
    int removed = CommitStep(step) && (DeleteInFolder(folder, UPDATE_JOURNAL_NAME), !IsFileInFolder(folder, UPDATE_JOURNAL_NAME));
    if (!removed) {
        JoinPath(failing_path, SETUP_JOIN_UNITS, folder, UPDATE_JOURNAL_NAME);
        return RollBack(folder, list, list->count) ? COMMIT_ROLLED_BACK : COMMIT_MIXED;
    }
    // The old files go last; one that stays is a partial leftover, removed by the next run.
    // Each is an entry of the folder's place, read once, under its name there.
    FilePlace* folder_place = ReadFolderPlaceOnce(folder);
    for (uint32_t i = 0; folder_place && i < list->count; i++) {
        const CommitItem* item = &list->items[i];
        if (item->aside_slot != PARTIAL_SLOT_NONE &&
            PartialPath(aside, SETUP_JOIN_UNITS, item->name, item->aside_slot) >= 0)
            DeleteInPlacedFolder(folder_place, folder, aside);
    }
    FreeFolderPlace(folder_place);
    return COMMIT_DONE;
}

int RecoverInterruptedUpdate(const wchar_t* folder)
{
    if (!IsFileInFolder(folder, UPDATE_JOURNAL_NAME)) return RECOVERY_NONE;
    CommitList list;
    if (!ReadJournal(folder, &list)) {
        // Written before any rename, so unreadable only when that write was cut: nothing
        // was renamed yet.
        DeleteInFolder(folder, UPDATE_JOURNAL_NAME);
        return IsFileInFolder(folder, UPDATE_JOURNAL_NAME) ? RECOVERY_FAILED : RECOVERY_ROLLED_BACK;
    }
    int ok = RollBack(folder, &list, list.count);
    FreeCommitList(&list);
    return ok ? RECOVERY_ROLLED_BACK : RECOVERY_FAILED;
}

static int OpenForDeletion(void* param)
{
    HANDLE file = CreateFileW((const wchar_t*)param, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    CloseHandle(file);
    return 1;
}

int CanRenameAside(const wchar_t* folder, const wchar_t* name, wchar_t* failing_path)
{
    wchar_t path[SETUP_JOIN_UNITS];
    if (JoinPath(path, SETUP_JOIN_UNITS, folder, name) < 0) return 1;
    if (RetryWhileBusy(OpenForDeletion, path)) return 1;
    FormatText(failing_path, SETUP_JOIN_UNITS, L"%s", path);
    return 0;
}
