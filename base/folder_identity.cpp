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

static int IdIsZero(const uint8_t id[16])
{
    for (int i = 0; i < 16; i++)
        if (id[i]) return 0;
    return 1;
}

int FileIdIsTrusted(const uint8_t id[16], DWORD file_system_flags, const wchar_t* file_system, int remote)
{
    if (IdIsZero(id)) return 0;
    if (file_system_flags & FILE_SUPPORTS_OPEN_BY_FILE_ID) return 1;
    return !remote && file_system && (CompareStringOrdinal(file_system, -1, L"NTFS", -1, TRUE) == CSTR_EQUAL ||
                                      CompareStringOrdinal(file_system, -1, L"ReFS", -1, TRUE) == CSTR_EQUAL);
}

// The path on its volume that the handle reached, links resolved; empty when it cannot be read.
static void ReadPlace(HANDLE handle, wchar_t* place)
{
    union {
        FILE_NAME_INFO name;
        BYTE bytes[sizeof(FILE_NAME_INFO) + IDENTITY_PLACE_UNITS * sizeof(wchar_t)];
    } block;
    place[0] = L'\0';
    if (!GetFileInformationByHandleEx(handle, FileNameInfo, &block, sizeof block)) return;
    size_t units = block.name.FileNameLength / sizeof(wchar_t);
    if (units >= IDENTITY_PLACE_UNITS) return;
    if (units > 1 && block.name.FileName[units - 1] == L'\\') units--;
    memcpy(place, block.name.FileName, units * sizeof(wchar_t));
    place[units] = L'\0';
}

// Only a file on a network answers the remote protocol query.
static int IsOnNetwork(HANDLE handle)
{
    FILE_REMOTE_PROTOCOL_INFO protocol;
    ZeroMemory(&protocol, sizeof protocol);
    protocol.StructureVersion = 1;
    protocol.StructureSize = sizeof protocol;
    return GetFileInformationByHandleEx(handle, FileRemoteProtocolInfo, &protocol, sizeof protocol) != 0;
}

static void ReadIdTrust(HANDLE handle, FileIdentity* identity)
{
    DWORD flags = 0;
    wchar_t file_system[MAX_PATH + 1];
    if (!GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &flags, file_system, MAX_PATH + 1))
        file_system[0] = L'\0';
    identity->id_trusted = FileIdIsTrusted(identity->id, flags, file_system, IsOnNetwork(handle));
    ReadPlace(handle, identity->place);
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
    if (known) ReadIdTrust(handle, identity);
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
    if (a->volume != b->volume) return 0;
    if (a->id_trusted && b->id_trusted) return memcmp(a->id, b->id, sizeof a->id) == 0;
    return a->place[0] && b->place[0] && CompareStringOrdinal(a->place, -1, b->place, -1, TRUE) == CSTR_EQUAL;
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
