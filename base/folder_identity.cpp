#include "base/folder_identity.h"

#include <windows.h>
#include <string.h>

#define ANY_SHARING (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)

static HANDLE OpenForIdentity(const wchar_t* path)
{
    // Backup semantics: folders open too; no access but attributes, so nothing is locked.
    return CreateFileW(path, FILE_READ_ATTRIBUTES, ANY_SHARING, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

int ReadFileIdentity(const wchar_t* path, FileIdentity* identity)
{
    ZeroMemory(identity, sizeof *identity);
    HANDLE handle = OpenForIdentity(path);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    // The 128-bit id where the file system has one (ReFS); the 64-bit index otherwise.
    FILE_ID_INFO id_info;
    BY_HANDLE_FILE_INFORMATION info;
    int known = 0;
    if (GetFileInformationByHandleEx(handle, FileIdInfo, &id_info, sizeof id_info)) {
        identity->volume = id_info.VolumeSerialNumber;
        memcpy(identity->id, &id_info.FileId, sizeof identity->id);
        known = 1;
    } else if (GetFileInformationByHandle(handle, &info)) {
        identity->volume = info.dwVolumeSerialNumber;
        uint64_t index = ((uint64_t)info.nFileIndexHigh << 32) | info.nFileIndexLow;
        memcpy(identity->id, &index, sizeof index);
        known = 1;
    }
    CloseHandle(handle);
    return known;
}

// The system's own query: the Win32 ones that give the number give the volume's serial too.
struct FileInternalInformation {
    LARGE_INTEGER index;
};
struct IoStatus {
    union {
        LONG status;
        PVOID pointer;
    };
    ULONG_PTR information;
};
typedef LONG(WINAPI* QueryInformationFile)(HANDLE, IoStatus*, PVOID, ULONG, int);
#define FILE_INTERNAL_INFORMATION_CLASS 6

int ReadFileIndex(const wchar_t* path, uint64_t* index)
{
    *index = 0;
    // Looked up on each call: a function's static with a computed value would bring in the
    // C++ runtime's guarded initialisation, 100 KB of code.
    QueryInformationFile query = (QueryInformationFile)(void*)GetProcAddress(
        GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile");
    if (!query) return 0;
    HANDLE handle = OpenForIdentity(path);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    IoStatus status;
    FileInternalInformation information;
    int known = query(handle, &status, &information, sizeof information,
                      FILE_INTERNAL_INFORMATION_CLASS) >= 0;
    CloseHandle(handle);
    if (known) *index = (uint64_t)information.index.QuadPart;
    return known;
}

int SameIdentity(const FileIdentity* a, const FileIdentity* b)
{
    return a->volume == b->volume && memcmp(a->id, b->id, sizeof a->id) == 0;
}

int IsSameFile(const wchar_t* a, const wchar_t* b)
{
    FileIdentity first, second;
    return ReadFileIdentity(a, &first) && ReadFileIdentity(b, &second) &&
           SameIdentity(&first, &second);
}

int IsVolumeRoot(const wchar_t* path)
{
    HANDLE handle = OpenForIdentity(path);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    // The handle's name is its path on its volume: a lone backslash is the volume's root.
    union {
        FILE_NAME_INFO name;
        BYTE bytes[sizeof(FILE_NAME_INFO) + 8 * sizeof(wchar_t)];
    } block;
    int root = 0;
    if (GetFileInformationByHandleEx(handle, FileNameInfo, &block, sizeof block))
        root = block.name.FileNameLength <= sizeof(wchar_t) &&
               (block.name.FileNameLength == 0 || block.name.FileName[0] == L'\\');
    CloseHandle(handle);
    return root;
}
