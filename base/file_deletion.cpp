#include "base/file_deletion.h"

#include <wchar.h>

#include "base/busy_retry.h"
#include "base/entry_itself.h"
#include "base/file_helpers.h"
#include "base/setup_state.h"
#include "base/text_format.h"

// A deletion is done when the handle closes, and that can still fail unseen (Wine on a
// read-only drive accepts the request and keeps the file): a name still there has stayed.
// (On Windows a file that another program holds with shared deletion also stays until it
// lets go; that is rightly "stayed" too.)
static int CheckedOutcome(int outcome, const wchar_t* path)
{
    if (outcome == DELETION_GONE && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) return DELETION_STAYED;
    return outcome;
}

// An entry that could not be opened as itself: nothing there is gone, a link that leads
// elsewhere is kept, anything else (in use, denied) has stayed.
static int UnopenedOutcome(int why)
{
    return why == ENTRY_MISSING ? DELETION_GONE : why == ENTRY_LINK ? DELETION_KEPT : DELETION_STAYED;
}

// One try; *busy: it failed as a passing holder (a scanner, say) makes it fail; *missing:
// there was no such name to delete.
static int DeleteEntryOnce(const wchar_t* path, const FilePlace* folder, const wchar_t* name,
                           int clear_attributes, int* busy, int* missing)
{
    DWORD attributes = 0;
    int why = 0;
    *busy = 0;
    *missing = 0;
    HANDLE handle = OpenEntryReporting(path, folder, name,
                                       clear_attributes ? FILE_WRITE_ATTRIBUTES : 0, &attributes, &why);
    if (handle == INVALID_HANDLE_VALUE) {
        *busy = why == ENTRY_UNOPENED && IsBusyError(GetLastError());
        *missing = why == ENTRY_MISSING;
        return UnopenedOutcome(why);
    }
    int outcome = DELETION_KEPT;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (clear_attributes) {
            FILE_BASIC_INFO basic;
            ZeroMemory(&basic, sizeof basic);  // zero times: left as they are
            basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
            SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
        }
        int deleted = DeleteByHandle(handle);
        *busy = !deleted && IsBusyError(GetLastError()) &&
                (clear_attributes || !(attributes & FILE_ATTRIBUTE_READONLY));
        outcome = deleted ? DELETION_GONE
                  : (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? DELETION_KEPT
                                                                : DELETION_STAYED;
    }
    CloseHandle(handle);
    return CheckedOutcome(outcome, path);
}

// A file, or a link of any kind, but never a real folder. Its outcome: DELETION_GONE,
// DELETION_KEPT (a link that leads elsewhere and cannot be removed as itself, or a real
// folder) or DELETION_STAYED. A file busy for a moment is tried again (base/busy_retry.h).
// *missing is set when there was no such name to delete.
static int DeleteEntryOutcomeNoting(const wchar_t* path, const FilePlace* folder, const wchar_t* name,
                                    int clear_attributes, int* missing)
{
    DWORD pause = 20, slept = 0;
    for (;;) {
        int busy = 0;
        int outcome = DeleteEntryOnce(path, folder, name, clear_attributes, &busy, missing);
        if (outcome != DELETION_STAYED || !busy || slept >= BUSY_RETRY_BUDGET_MS) return outcome;
        Sleep(pause);
        slept += pause;
        pause = pause * 2 > 1000 ? 1000 : pause * 2;
    }
}

static int DeleteEntryOutcome(const wchar_t* path, const FilePlace* folder, const wchar_t* name,
                              int clear_attributes)
{
    int missing = 0;
    return DeleteEntryOutcomeNoting(path, folder, name, clear_attributes, &missing);
}

static int DeleteEntryItself(const wchar_t* path, const FilePlace* folder, const wchar_t* name,
                             int clear_attributes)
{
    // Nonzero only for a deletion, not for a name that was never there.
    int missing = 0;
    return DeleteEntryOutcomeNoting(path, folder, name, clear_attributes, &missing) == DELETION_GONE && !missing;
}

int DeleteInFolder(const wchar_t* folder, const wchar_t* name)
{
    wchar_t path[SETUP_JOIN_UNITS];
    FilePlace place;
    if (JoinPath(path, SETUP_JOIN_UNITS, folder, name) < 0) return 0;  // never a cut path
    if (!ReadFolderPlace(folder, &place)) return 0;
    return DeleteEntryItself(path, &place, name, 0);
}

FilePlace* ReadFolderPlaceOnce(const wchar_t* folder)
{
    FilePlace* place = (FilePlace*)LocalAlloc(LMEM_FIXED, sizeof(FilePlace));
    if (place && !ReadFolderPlace(folder, place)) {
        LocalFree(place);
        place = nullptr;
    }
    return place;
}

void FreeFolderPlace(FilePlace* place)
{
    if (place) LocalFree(place);
}

int DeleteInPlacedFolder(const FilePlace* place, const wchar_t* folder, const wchar_t* name)
{
    wchar_t path[SETUP_JOIN_UNITS];
    if (!place || JoinPath(path, SETUP_JOIN_UNITS, folder, name) < 0) return 0;
    return DeleteEntryItself(path, place, name, 0);
}

int DeletePathItself(const wchar_t* path)
{
    const wchar_t* name = nullptr;
    FilePlace place;
    if (!ReadParentPlace(path, &place, &name)) return 0;
    return DeleteEntryItself(path, &place, name, 0);
}

static int SameUnitIgnoringCase(wchar_t a, wchar_t b)
{
    return CompareStringOrdinal(&a, 1, &b, 1, TRUE) == CSTR_EQUAL;
}

// "*" and "?" over the long name only: the platform's search also matches 8.3 short
// names, so "chat.logs" (short name CHAT~1.LOG) would otherwise match "*.log".
static int NameMatches(const wchar_t* name, const wchar_t* pattern)
{
    const wchar_t* after_star = nullptr;
    const wchar_t* retry = nullptr;
    while (*name) {
        if (*pattern == L'*') {
            after_star = ++pattern;
            retry = name;
        } else if (*pattern && (*pattern == L'?' || SameUnitIgnoringCase(*pattern, *name))) {
            pattern++;
            name++;
        } else if (after_star) {
            pattern = after_star;
            name = ++retry;
        } else {
            return 0;
        }
    }
    while (*pattern == L'*') pattern++;
    return *pattern == L'\0';
}

int DeleteMatching(const wchar_t* folder, const wchar_t* pattern)
{
    wchar_t search[SETUP_JOIN_UNITS];
    FilePlace place;
    if (JoinPath(search, SETUP_JOIN_UNITS, folder, pattern) < 0) return DELETION_STAYED;
    if (!ReadFolderPlace(folder, &place)) return DELETION_GONE;  // no folder, nothing to match
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstLongName(search, &entry);
    if (find == INVALID_HANDLE_VALUE) return DELETION_GONE;
    int worst = DELETION_GONE;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (!NameMatches(entry.cFileName, pattern)) continue;
        wchar_t path[SETUP_JOIN_UNITS];
        int outcome = JoinPath(path, SETUP_JOIN_UNITS, folder, entry.cFileName) < 0
                          ? DELETION_STAYED
                          : DeleteEntryOutcome(path, &place, entry.cFileName, 0);
        if (outcome > worst) worst = outcome;
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return worst;
}

static int DeleteTreeEntry(const wchar_t* path, const FilePlace* folder, const wchar_t* name,
                           FolderGuard keep);

static int Worse(int a, int b) { return a > b ? a : b; }

// One entry of a folder's listing, below path (its long form): a folder goes as a tree, a
// file or link as itself. child is the caller's buffer of PLACE_UNITS units.
static int DeleteListedEntry(const FILE_ID_BOTH_DIR_INFO* entry, const wchar_t* path,
                             const FilePlace* place, wchar_t* child, FolderGuard keep)
{
    wchar_t name[MAX_PATH];
    size_t units = entry->FileNameLength / sizeof(wchar_t);
    if (units >= MAX_PATH) return DELETION_STAYED;
    wmemcpy(name, entry->FileName, units);
    name[units] = L'\0';
    if (IsDotOrDotDot(name)) return DELETION_GONE;
    if (JoinPath(child, PLACE_UNITS, path, name) < 0) return DELETION_STAYED;
    if (entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) return DeleteTreeEntry(child, place, name, keep);
    return DeleteEntryOutcome(child, place, name, 1);
}

// Every entry of one batch of the listing, as the platform chains them. The worst outcome.
static int DeleteListedBatch(const BYTE* batch, const wchar_t* path, const FilePlace* place,
                             wchar_t* child, FolderGuard keep)
{
    int worst = DELETION_GONE;
    const FILE_ID_BOTH_DIR_INFO* entry = (const FILE_ID_BOTH_DIR_INFO*)batch;
    for (;;) {
        worst = Worse(worst, DeleteListedEntry(entry, path, place, child, keep));
        if (!entry->NextEntryOffset) return worst;
        entry = (const FILE_ID_BOTH_DIR_INFO*)((const BYTE*)entry + entry->NextEntryOffset);
    }
}

// Lists the folder through the handle that was checked, so that the listing is of that
// folder and no other. (A second open by path would also clash with the handle's delete
// access: the platform's directory search does not share deletion.) The worst outcome.
static int DeleteEntriesBelow(HANDLE folder, const wchar_t* path, FolderGuard keep)
{
    // On the heap: this frame repeats once per level of the tree, which may be deeper than
    // the platform's path limit (the path is in its long form).
    const DWORD capacity = 16384;
    BYTE* block = (BYTE*)LocalAlloc(LMEM_FIXED, capacity + sizeof(FilePlace) + PLACE_UNITS * sizeof(wchar_t));
    if (!block) return DELETION_STAYED;
    FilePlace* place = (FilePlace*)(block + capacity);
    wchar_t* child = (wchar_t*)(block + capacity + sizeof(FilePlace));
    if (!ReadPlace(folder, place)) {
        LocalFree(block);
        return DELETION_STAYED;
    }
    int worst = DELETION_GONE;
    while (GetFileInformationByHandleEx(folder, FileIdBothDirectoryInfo, block, capacity))
        worst = Worse(worst, DeleteListedBatch(block, path, place, child, keep));
    LocalFree(block);
    return worst;
}

// folder\name (joined into path): a link is removed as a link; a real folder is emptied
// and removed, unless keep says to leave it whole; a file standing where a folder was
// expected is left alone.
static int DeleteTreeEntry(const wchar_t* path, const FilePlace* folder, const wchar_t* name,
                           FolderGuard keep)
{
    DWORD attributes = 0;
    int why = 0;
    HANDLE handle = OpenEntryReporting(path, folder, name, FILE_LIST_DIRECTORY, &attributes, &why);
    if (handle == INVALID_HANDLE_VALUE) return UnopenedOutcome(why);
    int outcome = DELETION_KEPT;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        outcome = DeleteByHandle(handle) ? DELETION_GONE : DELETION_KEPT;
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(keep && keep(path))) {
        int below = DeleteEntriesBelow(handle, path, keep);
        // Refused while anything is left inside.
        outcome = DeleteByHandle(handle) ? DELETION_GONE : below == DELETION_GONE ? DELETION_STAYED : below;
    }
    CloseHandle(handle);
    return CheckedOutcome(outcome, path);
}

// The long form of a full path ("\\?\C:\...", "\\?\UNC\server\share\..."), whose
// names are joined below it without the platform's path limit.
static int LongPathForm(const wchar_t* path, wchar_t* buffer, size_t capacity)
{
    if (wcsncmp(path, L"\\\\?\\", 4) == 0) return FormatText(buffer, capacity, L"%s", path) >= 0;
    if (path[0] == L'\\' && path[1] == L'\\')
        return FormatText(buffer, capacity, L"\\\\?\\UNC\\%s", path + 2) >= 0;
    return FormatText(buffer, capacity, L"\\\\?\\%s", path) >= 0;
}

#define LONG_FORM_UNITS (SETUP_JOIN_UNITS + 8)

int DeleteTreeKeeping(const wchar_t* folder, FolderGuard keep)
{
    wchar_t parent[SETUP_JOIN_UNITS], long_folder[LONG_FORM_UNITS];
    const wchar_t* name = nullptr;
    FilePlace place;
    if (!SplitLastName(folder, parent, &name) || !LongPathForm(folder, long_folder, LONG_FORM_UNITS))
        return DELETION_STAYED;
    if (!ReadFolderPlace(parent, &place)) return DELETION_GONE;
    return DeleteTreeEntry(long_folder, &place, name, keep);
}

int DeleteTree(const wchar_t* folder)
{
    wchar_t long_folder[LONG_FORM_UNITS];
    const wchar_t* name = nullptr;
    FilePlace place;
    if (!LongPathForm(folder, long_folder, LONG_FORM_UNITS) || !ReadParentPlace(folder, &place, &name)) return 0;
    DWORD attributes = 0;
    HANDLE handle = OpenEntryItself(folder, &place, name, 0, &attributes);
    if (handle == INVALID_HANDLE_VALUE) return 0;  // nothing there to remove
    CloseHandle(handle);
    return DeleteTreeEntry(long_folder, &place, name, nullptr) == DELETION_GONE;
}

int RemoveEmptyFolder(const wchar_t* path)
{
    const wchar_t* name = nullptr;
    FilePlace place;
    if (!ReadParentPlace(path, &place, &name)) return 0;
    DWORD attributes = 0;
    HANDLE handle = OpenEntryItself(path, &place, name, 0, &attributes);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    int removed = 0;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        removed = DeleteByHandle(handle);  // refused while anything is inside
    CloseHandle(handle);
    return removed;
}
