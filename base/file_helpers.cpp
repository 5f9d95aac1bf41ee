#include "base/file_helpers.h"

#include <wchar.h>

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

int DeleteInFolder(const wchar_t* folder, const wchar_t* name)
{
    wchar_t path[SETUP_JOIN_UNITS];
    if (JoinPath(path, SETUP_JOIN_UNITS, folder, name) < 0) return 0;  // never a cut path
    return DeleteFileW(path) != 0;
}

void DeleteMatching(const wchar_t* folder, const wchar_t* pattern)
{
    wchar_t search[SETUP_JOIN_UNITS];
    if (JoinPath(search, SETUP_JOIN_UNITS, folder, pattern) < 0) return;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(search, &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteInFolder(folder, entry.cFileName);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

static int IsDotOrDotDot(const wchar_t* name)
{
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

int DeleteTree(const wchar_t* folder)
{
    wchar_t search[SETUP_JOIN_UNITS];
    if (FormatText(search, SETUP_JOIN_UNITS, L"%s\\*", folder) >= 0) {
        WIN32_FIND_DATAW entry;
        HANDLE find = FindFirstFileW(search, &entry);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (IsDotOrDotDot(entry.cFileName)) continue;
                wchar_t path[SETUP_JOIN_UNITS];
                if (JoinPath(path, SETUP_JOIN_UNITS, folder, entry.cFileName) < 0) continue;
                DWORD kind = entry.dwFileAttributes &
                             (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
                if (kind == FILE_ATTRIBUTE_DIRECTORY) {
                    DeleteTree(path);
                    continue;
                }
                SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
                if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveDirectoryW(path);  // a link: removed, its target untouched
                else
                    DeleteFileW(path);
            } while (FindNextFileW(find, &entry));
            FindClose(find);
        }
    }
    return RemoveDirectoryW(folder) != 0;
}

struct FolderIdentity {
    int known;
    DWORD volume;
    DWORD index_high;
    DWORD index_low;
};

static int ReadFolderIdentity(const wchar_t* folder, FolderIdentity* identity)
{
    HANDLE handle = CreateFileW(folder, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION info;
    BOOL ok = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    if (!ok) return 0;
    identity->known = 1;
    identity->volume = info.dwVolumeSerialNumber;
    identity->index_high = info.nFileIndexHigh;
    identity->index_low = info.nFileIndexLow;
    return 1;
}

// Every level adds at least two units to a path of at most 519, so no descent is deeper.
#define TREE_MAX_DEPTH (SETUP_JOIN_UNITS / 2)

static uint64_t TreeSizeBelow(const wchar_t* folder, FolderIdentity* ancestors, int depth)
{
    if (depth >= TREE_MAX_DEPTH) return 0;
    FolderIdentity* self = &ancestors[depth];
    self->known = 0;
    if (ReadFolderIdentity(folder, self)) {
        for (int i = 0; i < depth; i++) {
            if (ancestors[i].known && ancestors[i].volume == self->volume &&
                ancestors[i].index_high == self->index_high &&
                ancestors[i].index_low == self->index_low)
                return 0;  // a link back to a folder this descent is already inside
        }
    }

    wchar_t search[SETUP_JOIN_UNITS];
    if (FormatText(search, SETUP_JOIN_UNITS, L"%s\\*", folder) < 0) return 0;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(search, &entry);
    if (find == INVALID_HANDLE_VALUE) return 0;
    uint64_t sum = 0;
    do {
        if (IsDotOrDotDot(entry.cFileName)) continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            wchar_t path[SETUP_JOIN_UNITS];
            if (JoinPath(path, SETUP_JOIN_UNITS, folder, entry.cFileName) < 0) continue;
            sum += TreeSizeBelow(path, ancestors, depth + 1);
        } else {
            sum += ((uint64_t)entry.nFileSizeHigh << 32) | entry.nFileSizeLow;
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return sum;
}

uint64_t TreeSize(const wchar_t* folder)
{
    FolderIdentity ancestors[TREE_MAX_DEPTH];
    return TreeSizeBelow(folder, ancestors, 0);
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

// Copies source to path as a new file; fails when the name exists.
static int CopyNewFile(const wchar_t* path, const void* source, uint32_t, DWORD* error)
{
    if (CopyFileW((const wchar_t*)source, path, TRUE)) {
        *error = 0;
        return 1;
    }
    *error = GetLastError();
    return 0;
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
    for (int attempt = 0; attempt < 10 && !made && NameExists(error); attempt++) {
        int fits = attempt == 0
                       ? FormatText(partial, SETUP_JOIN_UNITS, L"%s.partial", path) >= 0
                       : FormatText(partial, SETUP_JOIN_UNITS, L"%s.partial%d", path, attempt) >= 0;
        if (!fits) return 0;
        made = make(partial, data, count, &error);
    }
    if (made && MoveFileExW(partial, path, MOVEFILE_REPLACE_EXISTING | move_flags)) return 1;
    if (made || error == 0) DeleteFileW(partial);  // this run's own new file, never a link
    return 0;
}

int ReplaceWholeFile(const wchar_t* path, const void* data, uint32_t count)
{
    return ReplaceThroughPartial(path, WriteNewFile, data, count, MOVEFILE_WRITE_THROUGH);
}

int MakeFileAsNew(const wchar_t* path, NewFileMaker make, const void* data, uint32_t count)
{
    DWORD error = 0;
    if (make(path, data, count, &error)) return 1;  // a new name: made at once
    if (!NameExists(error)) return 0;
    return ReplaceThroughPartial(path, make, data, count, 0);
}

int WriteWholeFileAsNew(const wchar_t* path, const void* data, uint32_t count)
{
    return MakeFileAsNew(path, WriteNewFile, data, count);
}

int CopyFileAsNew(const wchar_t* source, const wchar_t* path)
{
    return MakeFileAsNew(path, CopyNewFile, source, 0);
}
