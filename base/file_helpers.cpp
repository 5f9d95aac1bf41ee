#include "base/file_helpers.h"

#include <wchar.h>

#include "base/busy_retry.h"
#include "base/setup_state.h"
#include "base/text_format.h"

int WriteWholeFile(const wchar_t* path, const void* data, uint32_t count)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    BOOL ok = WriteFile(file, data, count, &written, nullptr);
    CloseHandle(file);
    return ok && written == count;
}

// Deletions act on a directory entry itself, never on what a link there points to. Windows
// opens a link itself when asked (FILE_FLAG_OPEN_REPARSE_POINT); Wine ignores that and
// resolves Unix symbolic links even in DeleteFileW and RemoveDirectoryW, which then delete
// the target. So every entry is opened first, and a handle that names another place than
// the entry's own (its folder's place, a backslash, its name) is a link: it is left alone.

#define ENTRY_SHARING (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)
#define ENTRY_ITSELF (FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS)
// A handle's name on its volume may be longer than the path that reached it (a
// substituted drive resolves to its real folder); below a folder, saves and mods may lie
// deeper than the platform's path limit. Buffers of this size live on the heap, or once
// per call at the top.
#define PLACE_UNITS 32768

// Where an open file or folder really is: its volume and its path on that volume, without
// a trailing backslash. (The name query works at every length; under Wine the final-path
// query stops at 260 units.)
struct FilePlace {
    DWORD volume;
    wchar_t path[PLACE_UNITS];
};

static int ReadPlace(HANDLE handle, FilePlace* place)
{
    BY_HANDLE_FILE_INFORMATION info;
    const DWORD bytes = sizeof(FILE_NAME_INFO) + PLACE_UNITS * sizeof(wchar_t);
    FILE_NAME_INFO* name = (FILE_NAME_INFO*)LocalAlloc(LMEM_FIXED, bytes);
    if (!name || !GetFileInformationByHandle(handle, &info) ||
        !GetFileInformationByHandleEx(handle, FileNameInfo, name, bytes)) {
        if (name) LocalFree(name);
        return 0;
    }
    size_t units = name->FileNameLength / sizeof(wchar_t);
    int fits = units < PLACE_UNITS;
    if (fits) {
        if (units > 0 && name->FileName[units - 1] == L'\\') units--;  // a volume's root
        wmemcpy(place->path, name->FileName, units);
        place->path[units] = L'\0';
        place->volume = info.dwVolumeSerialNumber;
    }
    LocalFree(name);
    return fits;
}

// The place of a folder the caller names (links on the way to it are the caller's choice).
static int ReadFolderPlace(const wchar_t* folder, FilePlace* place)
{
    HANDLE handle = CreateFileW(folder, FILE_READ_ATTRIBUTES, ENTRY_SHARING, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    int known = ReadPlace(handle, place);
    CloseHandle(handle);
    return known;
}

static int HandleIsEntryItself(HANDLE handle, const FilePlace* folder, const wchar_t* name)
{
    BYTE* block = (BYTE*)LocalAlloc(LMEM_FIXED, sizeof(FilePlace) + PLACE_UNITS * sizeof(wchar_t));
    if (!block) return 0;
    FilePlace* entry = (FilePlace*)block;
    wchar_t* expected = (wchar_t*)(block + sizeof(FilePlace));
    int itself = ReadPlace(handle, entry) && JoinPath(expected, PLACE_UNITS, folder->path, name) >= 0 &&
                 entry->volume == folder->volume &&
                 CompareStringOrdinal(entry->path, -1, expected, -1, TRUE) == CSTR_EQUAL;
    LocalFree(block);
    return itself;
}

int IsLinkReparsePoint(DWORD attributes, DWORD reparse_tag)
{
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return 0;
    // Tag 0 is no tag Windows gives: taken as a link, so that nothing unknown is entered.
    return reparse_tag == 0 || IsReparseTagNameSurrogate(reparse_tag);
}

// Opens folder\name (already joined into path) as itself, with its own attributes. On
// failure *why says what stands there: ENTRY_MISSING, ENTRY_LINK (it leads elsewhere) or
// ENTRY_UNOPENED (in use, denied).
#define ENTRY_MISSING 0
#define ENTRY_LINK 1
#define ENTRY_UNOPENED 2
static HANDLE OpenEntryReporting(const wchar_t* path, const FilePlace* folder, const wchar_t* name,
                                 DWORD access, DWORD* attributes, int* why)
{
    HANDLE handle = CreateFileW(path, access | DELETE | FILE_READ_ATTRIBUTES, ENTRY_SHARING,
                                nullptr, OPEN_EXISTING, ENTRY_ITSELF, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        // A name that is there but cannot be opened so (a read-only drive may say "not
        // found" to an open for deletion) is not missing.
        *why = (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) &&
                       GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES
                   ? ENTRY_MISSING
                   : ENTRY_UNOPENED;
        return handle;
    }
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
        !HandleIsEntryItself(handle, folder, name)) {
        CloseHandle(handle);
        *why = ENTRY_LINK;
        return INVALID_HANDLE_VALUE;
    }
    // Only a link keeps its reparse attribute here: a cloud placeholder or a projected file
    // is an ordinary file or folder to the deletions, deleted or entered as one.
    *attributes = tag.FileAttributes;
    if (!IsLinkReparsePoint(tag.FileAttributes, tag.ReparseTag)) *attributes &= ~FILE_ATTRIBUTE_REPARSE_POINT;
    return handle;
}

static HANDLE OpenEntryItself(const wchar_t* path, const FilePlace* folder, const wchar_t* name,
                              DWORD access, DWORD* attributes)
{
    int why = 0;
    return OpenEntryReporting(path, folder, name, access, attributes, &why);
}

// A deletion is done when the handle closes, and that can still fail unseen (Wine on a
// read-only drive accepts the request and keeps the file): a name still there has stayed.
// (On Windows a file that another program holds with shared deletion also stays until it
// lets go; that is rightly "stayed" too.)
static int CheckedOutcome(int outcome, const wchar_t* path)
{
    if (outcome == DELETION_GONE && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) return DELETION_STAYED;
    return outcome;
}

// With POSIX semantics (Windows 10 1709 and later, on NTFS) the name goes at once, even
// while a scanner holds the file with shared deletion; elsewhere (older Windows, FAT, Wine
// 8, which refuses the class) the classic request, which keeps the name until it lets go.
#define FILE_DISPOSITION_INFO_EX_CLASS ((FILE_INFO_BY_HANDLE_CLASS)21)  // FileDispositionInfoEx
static int DeleteByHandle(HANDLE handle)
{
    FILE_DISPOSITION_INFO_EX posix = {FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
    if (SetFileInformationByHandle(handle, FILE_DISPOSITION_INFO_EX_CLASS, &posix, sizeof posix)) return 1;
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
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
        return why == ENTRY_MISSING ? DELETION_GONE : why == ENTRY_LINK ? DELETION_KEPT : DELETION_STAYED;
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

// Splits path into its folder (a drive root keeps its backslash) and its last name.
static int SplitLastName(const wchar_t* path, wchar_t* folder, const wchar_t** name)
{
    const wchar_t* last = wcsrchr(path, L'\\');
    if (!last || !last[1] || last == path) return 0;
    size_t units = (size_t)(last - path);
    if (units >= SETUP_JOIN_UNITS - 1) return 0;
    wmemcpy(folder, path, units);
    if (units == 2 && folder[1] == L':') folder[units++] = L'\\';
    folder[units] = L'\0';
    *name = last + 1;
    return 1;
}

int DeletePathItself(const wchar_t* path)
{
    wchar_t folder[SETUP_JOIN_UNITS];
    const wchar_t* name = nullptr;
    FilePlace place;
    if (!SplitLastName(path, folder, &name) || !ReadFolderPlace(folder, &place)) return 0;
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

static HANDLE FindFirstLongName(const wchar_t* search, WIN32_FIND_DATAW* entry)
{
    return FindFirstFileExW(search, FindExInfoBasic, entry, FindExSearchNameMatch, nullptr, 0);
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

int IsDotOrDotDot(const wchar_t* name)
{
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

static int DeleteTreeEntry(const wchar_t* path, const FilePlace* folder, const wchar_t* name,
                           FolderGuard keep);

static int Worse(int a, int b) { return a > b ? a : b; }

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
    while (GetFileInformationByHandleEx(folder, FileIdBothDirectoryInfo, block, capacity)) {
        FILE_ID_BOTH_DIR_INFO* entry = (FILE_ID_BOTH_DIR_INFO*)block;
        for (;;) {
            wchar_t name[MAX_PATH];
            size_t units = entry->FileNameLength / sizeof(wchar_t);
            if (units >= MAX_PATH) {
                worst = DELETION_STAYED;
            } else {
                wmemcpy(name, entry->FileName, units);
                name[units] = L'\0';
                if (IsDotOrDotDot(name)) {
                } else if (JoinPath(child, PLACE_UNITS, path, name) < 0) {
                    worst = DELETION_STAYED;
                } else if (entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    worst = Worse(worst, DeleteTreeEntry(child, place, name, keep));
                } else {
                    worst = Worse(worst, DeleteEntryOutcome(child, place, name, 1));
                }
            }
            if (!entry->NextEntryOffset) break;
            entry = (FILE_ID_BOTH_DIR_INFO*)((BYTE*)entry + entry->NextEntryOffset);
        }
    }
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
    if (handle == INVALID_HANDLE_VALUE)
        return why == ENTRY_MISSING ? DELETION_GONE : why == ENTRY_LINK ? DELETION_KEPT : DELETION_STAYED;
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
    wchar_t parent[SETUP_JOIN_UNITS], long_folder[LONG_FORM_UNITS];
    const wchar_t* name = nullptr;
    FilePlace place;
    if (!SplitLastName(folder, parent, &name) || !LongPathForm(folder, long_folder, LONG_FORM_UNITS) ||
        !ReadFolderPlace(parent, &place))
        return 0;
    DWORD attributes = 0;
    HANDLE handle = OpenEntryItself(folder, &place, name, 0, &attributes);
    if (handle == INVALID_HANDLE_VALUE) return 0;  // nothing there to remove
    CloseHandle(handle);
    return DeleteTreeEntry(long_folder, &place, name, nullptr) == DELETION_GONE;
}

int IsLinkItself(const wchar_t* path)
{
    wchar_t parent[SETUP_JOIN_UNITS];
    const wchar_t* name = nullptr;
    FilePlace place;
    if (!SplitLastName(path, parent, &name) || !ReadFolderPlace(parent, &place)) return 0;
    DWORD attributes = 0;
    int why = 0;
    HANDLE handle = OpenEntryReporting(path, &place, name, 0, &attributes, &why);
    if (handle == INVALID_HANDLE_VALUE) return why == ENTRY_LINK;
    CloseHandle(handle);
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

int RemoveEmptyFolder(const wchar_t* path)
{
    wchar_t parent[SETUP_JOIN_UNITS];
    const wchar_t* name = nullptr;
    FilePlace place;
    if (!SplitLastName(path, parent, &name) || !ReadFolderPlace(parent, &place)) return 0;
    DWORD attributes = 0;
    HANDLE handle = OpenEntryItself(path, &place, name, 0, &attributes);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    int removed = 0;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        removed = DeleteByHandle(handle);  // refused while anything is inside
    CloseHandle(handle);
    return removed;
}

uint64_t TreeSize(const wchar_t* folder)
{
    wchar_t search[SETUP_JOIN_UNITS];
    if (FormatText(search, SETUP_JOIN_UNITS, L"%s\\*", folder) < 0) return 0;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstLongName(search, &entry);
    if (find == INVALID_HANDLE_VALUE) return 0;
    uint64_t sum = 0;
    do {
        if (IsDotOrDotDot(entry.cFileName)) continue;
        // A search gives a reparse point's tag in dwReserved0.
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !IsLinkReparsePoint(entry.dwFileAttributes, entry.dwReserved0)) {
            // Links are never entered, so no cycle can form; the join limit bounds the depth.
            wchar_t path[SETUP_JOIN_UNITS];
            if (JoinPath(path, SETUP_JOIN_UNITS, folder, entry.cFileName) < 0) continue;
            sum += TreeSize(path);
        } else {
            sum += ((uint64_t)entry.nFileSizeHigh << 32) | entry.nFileSizeLow;  // a link: itself
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return sum;
}

// Creates path as a new file holding exactly count bytes; fails when the name exists.
// error: 0 once the file was created (a failed write leaves it as far as it got), else
// the reason it could not be created.
static int WriteNewFile(const wchar_t* path, const void* data, uint32_t count, DWORD* error)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return 0;
    }
    *error = 0;
    DWORD written = 0;
    BOOL ok = WriteFile(file, data, count, &written, nullptr);
    CloseHandle(file);
    return ok && written == count;
}

#define COPY_CHUNK_BYTES (1024 * 1024)

// A file copy would also copy the source's alternate data streams, among them the zone
// mark that a browser puts on a downloaded setup, and Windows would then warn about the
// copy as about a download: only the bytes of the file's data are copied.
int CopyBytesToNewFile(const wchar_t* source, const wchar_t* path, DWORD* error)
{
    HANDLE in = CreateFileW(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (in == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return 0;
    }
    uint8_t* chunk = (uint8_t*)HeapAlloc(GetProcessHeap(), 0, COPY_CHUNK_BYTES);
    HANDLE out = chunk ? CreateFileW(path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)
                       : INVALID_HANDLE_VALUE;
    if (out == INVALID_HANDLE_VALUE) {
        *error = chunk ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
        if (chunk) HeapFree(GetProcessHeap(), 0, chunk);
        CloseHandle(in);
        return 0;
    }
    *error = 0;
    int ok = 1;
    for (;;) {
        DWORD read = 0, written = 0;
        if (!ReadFile(in, chunk, COPY_CHUNK_BYTES, &read, nullptr)) ok = 0;
        if (!ok || read == 0) break;
        if (!WriteFile(out, chunk, read, &written, nullptr) || written != read) ok = 0;
    }
    // An incomplete copy is this call's own new file: it goes again, by its handle.
    if (!ok) DeleteByHandle(out);
    CloseHandle(out);
    CloseHandle(in);
    HeapFree(GetProcessHeap(), 0, chunk);
    return ok;
}

// Copies source to path as a new file; fails when the name exists.
static int CopyNewFile(const wchar_t* path, const void* source, uint32_t, DWORD* error)
{
    return CopyBytesToNewFile((const wchar_t*)source, path, error);
}

static int NameExists(DWORD error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

// Makes a partial file beside path and renames it over path. Only names change: a link at
// path, or a file with other hard links, is replaced as a name, and what it points to keeps
// its bytes. Under Wine a link to a file looks like a plain file, and deleting or renaming
// one acts on its target, so no existing name is ever written into, deleted or moved: a
// partial file left by an interrupted run is passed over for the next free name,
// "<path>.partial" then "<path>.partial1" to "<path>.partial9". 1 when path holds the new
// file.
static int ReplaceThroughPartial(const wchar_t* path, NewFileMaker make, const void* data,
                                 uint32_t count, DWORD move_flags)
{
    wchar_t partial[SETUP_JOIN_UNITS];
    DWORD error = ERROR_FILE_EXISTS;
    int made = 0;
    for (int attempt = 0; attempt < PARTIAL_SLOTS && !made && NameExists(error); attempt++) {
        if (PartialPath(partial, SETUP_JOIN_UNITS, path, attempt) < 0) return 0;
        made = make(partial, data, count, &error);
    }
    if (made && MoveFileExW(partial, path, MOVEFILE_REPLACE_EXISTING | move_flags)) return 1;
    if (made || error == 0) DeleteFileW(partial);  // this run's own new file, never a link
    return 0;
}

int PartialPath(wchar_t* buffer, size_t capacity, const wchar_t* path, int slot)
{
    return slot == 0 ? FormatText(buffer, capacity, L"%s.partial", path)
                     : FormatText(buffer, capacity, L"%s.partial%d", path, slot);
}

int FreePartialSlot(const wchar_t* path)
{
    wchar_t partial[SETUP_JOIN_UNITS];
    for (int slot = 0; slot < PARTIAL_SLOTS; slot++) {
        if (PartialPath(partial, SETUP_JOIN_UNITS, path, slot) < 0) return -1;
        if (GetFileAttributesW(partial) == INVALID_FILE_ATTRIBUTES &&
            GetLastError() == ERROR_FILE_NOT_FOUND)
            return slot;
    }
    return -1;
}

int ReplaceWholeFile(const wchar_t* path, const void* data, uint32_t count)
{
    return ReplaceThroughPartial(path, WriteNewFile, data, count, MOVEFILE_WRITE_THROUGH);
}

int ReplaceWholeFileWith(const wchar_t* path, NewFileMaker make, const void* data, uint32_t count)
{
    return ReplaceThroughPartial(path, make, data, count, MOVEFILE_WRITE_THROUGH);
}

int MakeFileAsNew(const wchar_t* path, NewFileMaker make, const void* data, uint32_t count)
{
    DWORD error = 0;
    if (make(path, data, count, &error)) return 1;  // a new name: made at once
    if (!NameExists(error)) return 0;
    return ReplaceThroughPartial(path, make, data, count, 0);
}

int CreateWholeFile(const wchar_t* path, const void* data, uint32_t count, int* created)
{
    DWORD error = 0;
    int written = WriteNewFile(path, data, count, &error);
    *created = error == 0;
    return written;
}

int CopyToNewFile(const wchar_t* source, const wchar_t* path, int* created)
{
    DWORD error = 0;
    int copied = CopyNewFile(path, source, 0, &error);
    *created = copied;
    return copied;
}

int WriteWholeFileAsNew(const wchar_t* path, const void* data, uint32_t count)
{
    return MakeFileAsNew(path, WriteNewFile, data, count);
}

int CopyFileAsNew(const wchar_t* source, const wchar_t* path)
{
    return MakeFileAsNew(path, CopyNewFile, source, 0);
}

int ReadFileInFolder(const wchar_t* folder, const wchar_t* name, void* buffer, uint32_t capacity)
{
    // Also a deletion's guard, asked about folders in their long form at any depth: the path
    // and the place are on the heap.
    BYTE* block = (BYTE*)LocalAlloc(LMEM_FIXED, sizeof(FilePlace) + PLACE_UNITS * sizeof(wchar_t));
    if (!block) return -1;
    FilePlace* place = (FilePlace*)block;
    wchar_t* path = (wchar_t*)(block + sizeof(FilePlace));
    HANDLE file = INVALID_HANDLE_VALUE;
    if (JoinPath(path, PLACE_UNITS, folder, name) >= 0 && ReadFolderPlace(folder, place))
        file = CreateFileW(path, GENERIC_READ, ENTRY_SHARING, nullptr, OPEN_EXISTING, ENTRY_ITSELF, nullptr);
    int count = -1;
    FILE_STANDARD_INFO standard;
    DWORD read = 0;
    if (file != INVALID_HANDLE_VALUE && HandleIsEntryItself(file, place, name) &&
        GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) &&
        !standard.Directory && ReadFile(file, buffer, capacity, &read, nullptr))
        count = (int)read;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    LocalFree(block);
    return count;
}

HANDLE OpenFileInFolder(const wchar_t* folder, const wchar_t* name, uint64_t* size)
{
    BYTE* block = (BYTE*)LocalAlloc(LMEM_FIXED, sizeof(FilePlace) + PLACE_UNITS * sizeof(wchar_t));
    if (!block) return INVALID_HANDLE_VALUE;
    FilePlace* place = (FilePlace*)block;
    wchar_t* path = (wchar_t*)(block + sizeof(FilePlace));
    HANDLE file = INVALID_HANDLE_VALUE;
    if (JoinPath(path, PLACE_UNITS, folder, name) >= 0 && ReadFolderPlace(folder, place))
        file = CreateFileW(path, GENERIC_READ, ENTRY_SHARING, nullptr, OPEN_EXISTING,
                           ENTRY_ITSELF | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    FILE_STANDARD_INFO standard;
    if (file != INVALID_HANDLE_VALUE &&
        (!HandleIsEntryItself(file, place, name) ||
         !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) || standard.Directory)) {
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }
    if (file != INVALID_HANDLE_VALUE) *size = (uint64_t)standard.EndOfFile.QuadPart;
    LocalFree(block);
    return file;
}

int HoldsOwnEntry(const wchar_t* folder, const wchar_t* name)
{
    wchar_t path[SETUP_JOIN_UNITS];
    FilePlace place;
    if (JoinPath(path, SETUP_JOIN_UNITS, folder, name) < 0 || !ReadFolderPlace(folder, &place))
        return 1;
    HANDLE handle = CreateFileW(path, FILE_READ_ATTRIBUTES, ENTRY_SHARING, nullptr, OPEN_EXISTING,
                                ENTRY_ITSELF, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    }
    int own = HandleIsEntryItself(handle, &place, name);
    CloseHandle(handle);
    return own;
}

int IsFileInFolder(const wchar_t* folder, const wchar_t* name)
{
    wchar_t path[SETUP_JOIN_UNITS];
    if (JoinPath(path, SETUP_JOIN_UNITS, folder, name) < 0) return 0;
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
