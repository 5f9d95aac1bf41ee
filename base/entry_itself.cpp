#include "base/entry_itself.h"

#include <winternl.h>
#include <wchar.h>

#include "base/setup_state.h"
#include "base/text_format.h"

// The object's name as the system keeps it: the volume's device and the path on it in one
// name (\Device\HarddiskVolume3\Games\... on Windows, \??\C:\Games\... under Wine), at
// any length. GetFinalPathNameByHandleW asks the same question, but its device-name form
// asks the mount manager again, and under Wine stops at 260 units; the volume's serial
// number is another round trip to the mount manager under Wine (half a millisecond a file).
typedef LONG(NTAPI* QueryObjectFunction)(HANDLE, int, void*, ULONG, ULONG*);
#define OBJECT_NAME_INFORMATION_CLASS 1

static QueryObjectFunction QueryObject(void)
{
    static QueryObjectFunction query;  // the same answer on every thread
    if (!query) query = (QueryObjectFunction)(void*)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject");
    return query;
}

int ReadPlace(HANDLE handle, FilePlace* place)
{
    QueryObjectFunction query = QueryObject();
    const ULONG bytes = sizeof(UNICODE_STRING) + PLACE_UNITS * sizeof(wchar_t);
    UNICODE_STRING* name = (UNICODE_STRING*)LocalAlloc(LMEM_FIXED, bytes);
    ULONG returned = 0;
    if (!query || !name || query(handle, OBJECT_NAME_INFORMATION_CLASS, name, bytes, &returned) < 0 ||
        !name->Buffer) {
        if (name) LocalFree(name);
        return 0;
    }
    size_t units = name->Length / sizeof(wchar_t);
    int fits = units > 0 && units < PLACE_UNITS;
    if (fits) {
        if (name->Buffer[units - 1] == L'\\') units--;  // a volume's root
        wmemcpy(place->path, name->Buffer, units);
        place->path[units] = L'\0';
    }
    LocalFree(name);
    return fits;
}

int ReadFolderPlace(const wchar_t* folder, FilePlace* place)
{
    HANDLE handle = CreateFileW(folder, FILE_READ_ATTRIBUTES, ENTRY_SHARING, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    int known = ReadPlace(handle, place);
    CloseHandle(handle);
    return known;
}

int HandleIsEntryItself(HANDLE handle, const FilePlace* folder, const wchar_t* name)
{
    BYTE* block = (BYTE*)LocalAlloc(LMEM_FIXED, sizeof(FilePlace) + PLACE_UNITS * sizeof(wchar_t));
    if (!block) return 0;
    FilePlace* entry = (FilePlace*)block;
    wchar_t* expected = (wchar_t*)(block + sizeof(FilePlace));
    int itself = ReadPlace(handle, entry) && JoinPath(expected, PLACE_UNITS, folder->path, name) >= 0 &&
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

HANDLE OpenEntryReporting(const wchar_t* path, const FilePlace* folder, const wchar_t* name,
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

HANDLE OpenEntryItself(const wchar_t* path, const FilePlace* folder, const wchar_t* name,
                       DWORD access, DWORD* attributes)
{
    int why = 0;
    return OpenEntryReporting(path, folder, name, access, attributes, &why);
}

int SplitLastName(const wchar_t* path, wchar_t* folder, const wchar_t** name)
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

int ReadParentPlace(const wchar_t* path, FilePlace* place, const wchar_t** name)
{
    wchar_t parent[SETUP_JOIN_UNITS];
    return SplitLastName(path, parent, name) && ReadFolderPlace(parent, place);
}

// With POSIX semantics (Windows 10 1709 and later, on NTFS) the name goes at once, even
// while a scanner holds the file with shared deletion; elsewhere (older Windows, FAT, Wine
// 8, which refuses the class) the classic request, which keeps the name until it lets go.
#define FILE_DISPOSITION_INFO_EX_CLASS ((FILE_INFO_BY_HANDLE_CLASS)21)  // FileDispositionInfoEx
int DeleteByHandle(HANDLE handle)
{
    FILE_DISPOSITION_INFO_EX posix = {FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
    if (SetFileInformationByHandle(handle, FILE_DISPOSITION_INFO_EX_CLASS, &posix, sizeof posix)) return 1;
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

HANDLE FindFirstLongName(const wchar_t* search, WIN32_FIND_DATAW* entry)
{
    return FindFirstFileExW(search, FindExInfoBasic, entry, FindExSearchNameMatch, nullptr, 0);
}
