#include "base/file_helpers.h"

#include <wchar.h>

#include "base/entry_itself.h"
#include "base/setup_state.h"
#include "base/text_format.h"

int IsLinkItself(const wchar_t* path)
{
    const wchar_t* name = nullptr;
    FilePlace place;
    if (!ReadParentPlace(path, &place, &name)) return 0;
    DWORD attributes = 0;
    int why = 0;
    HANDLE handle = OpenEntryReporting(path, &place, name, 0, &attributes, &why);
    if (handle == INVALID_HANDLE_VALUE) return why == ENTRY_LINK;
    CloseHandle(handle);
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

int IsDotOrDotDot(const wchar_t* name)
{
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
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

// Opens folder\name for reading (with flags) when it is a file of the folder itself, with
// its standard information. Also a deletion's guard, asked about folders in their long form
// at any depth: the path and the place are on the heap.
static HANDLE OpenOwnFile(const wchar_t* folder, const wchar_t* name, DWORD flags, FILE_STANDARD_INFO* standard)
{
    BYTE* block = (BYTE*)LocalAlloc(LMEM_FIXED, sizeof(FilePlace) + PLACE_UNITS * sizeof(wchar_t));
    if (!block) return INVALID_HANDLE_VALUE;
    FilePlace* place = (FilePlace*)block;
    wchar_t* path = (wchar_t*)(block + sizeof(FilePlace));
    HANDLE file = INVALID_HANDLE_VALUE;
    if (JoinPath(path, PLACE_UNITS, folder, name) >= 0 && ReadFolderPlace(folder, place))
        file = CreateFileW(path, GENERIC_READ, ENTRY_SHARING, nullptr, OPEN_EXISTING, ENTRY_ITSELF | flags, nullptr);
    if (file != INVALID_HANDLE_VALUE &&
        (!HandleIsEntryItself(file, place, name) ||
         !GetFileInformationByHandleEx(file, FileStandardInfo, standard, sizeof *standard) || standard->Directory)) {
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }
    LocalFree(block);
    return file;
}

int ReadFileInFolder(const wchar_t* folder, const wchar_t* name, void* buffer, uint32_t capacity)
{
    FILE_STANDARD_INFO standard;
    HANDLE file = OpenOwnFile(folder, name, 0, &standard);
    if (file == INVALID_HANDLE_VALUE) return -1;
    DWORD read = 0;
    int count = ReadFile(file, buffer, capacity, &read, nullptr) ? (int)read : -1;
    CloseHandle(file);
    return count;
}

HANDLE OpenFileInFolder(const wchar_t* folder, const wchar_t* name, uint64_t* size)
{
    FILE_STANDARD_INFO standard;
    HANDLE file = OpenOwnFile(folder, name, FILE_FLAG_SEQUENTIAL_SCAN, &standard);
    if (file != INVALID_HANDLE_VALUE) *size = (uint64_t)standard.EndOfFile.QuadPart;
    return file;
}

int HoldsOwnEntry(const wchar_t* folder, const wchar_t* name)
{
    FilePlace place;
    return !ReadFolderPlace(folder, &place) || HoldsEntryInPlacedFolder(&place, folder, name);
}

int HoldsEntryInPlacedFolder(const FilePlace* place, const wchar_t* folder, const wchar_t* name)
{
    wchar_t path[SETUP_JOIN_UNITS];
    if (!place || JoinPath(path, SETUP_JOIN_UNITS, folder, name) < 0) return 1;
    HANDLE handle = CreateFileW(path, FILE_READ_ATTRIBUTES, ENTRY_SHARING, nullptr, OPEN_EXISTING,
                                ENTRY_ITSELF, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    }
    int own = HandleIsEntryItself(handle, place, name);
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
