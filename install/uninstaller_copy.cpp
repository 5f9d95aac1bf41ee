// Nearly all of the setup program's file is its resource section, the package, which the
// extraction has just read through the loaded image. The copy writes that section from the
// image with one write and reads only the pages around it from the file, instead of reading
// and writing the whole file in small pieces.
#include "install/uninstaller_copy.h"

#include <windows.h>
#include <stdint.h>

#include "base/file_helpers.h"
#include "base/setup_state.h"

#define COPY_BUFFER_BYTES (256 * 1024)

struct OwnFileParts {
    HANDLE source;          // the setup program's file, open for reading
    uint64_t file_bytes;
    uint32_t mapped_at;     // where the resource section's bytes start in the file
    uint32_t mapped_bytes;  // how many of them are written from the loaded image
    const uint8_t* mapped;  // those bytes in the loaded image
};

// The resource section as the loader mapped it: its raw bytes are never changed in memory
// (resources take no relocations and the section is read-only). 0 when the image is not a
// 64-bit one with a resource section inside the file.
static int FindMappedResources(OwnFileParts* parts)
{
    const uint8_t* base = (const uint8_t*)GetModuleHandleW(nullptr);
    const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)base;
    if (!base || dos->e_magic != IMAGE_DOS_SIGNATURE) return 0;
    const IMAGE_NT_HEADERS64* nt = (const IMAGE_NT_HEADERS64*)(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE ||
        nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC ||
        nt->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_RESOURCE)
        return 0;
    DWORD resources = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress;
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (int i = 0; i < nt->FileHeader.NumberOfSections; i++, section++) {
        DWORD raw = section->SizeOfRawData, in_memory = section->Misc.VirtualSize;
        if (resources < section->VirtualAddress || resources - section->VirtualAddress >= raw)
            continue;
        if ((uint64_t)section->PointerToRawData + raw > parts->file_bytes) return 0;
        parts->mapped_at = section->PointerToRawData;
        parts->mapped_bytes = in_memory < raw ? in_memory : raw;
        parts->mapped = base + section->VirtualAddress;
        return 1;
    }
    return 0;
}

static int WriteAll(HANDLE file, const void* bytes, DWORD count)
{
    DWORD written = 0;
    return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}

// count bytes of the source file from offset on, through buffer.
static int CopyFromSource(HANDLE source, uint64_t offset, uint64_t count, HANDLE file,
                          uint8_t* buffer)
{
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)offset;
    if (!SetFilePointerEx(source, at, nullptr, FILE_BEGIN)) return 0;
    while (count) {
        DWORD part = count < COPY_BUFFER_BYTES ? (DWORD)count : COPY_BUFFER_BYTES, got = 0;
        if (!ReadFile(source, buffer, part, &got, nullptr) || got != part) return 0;
        if (!WriteAll(file, buffer, part)) return 0;
        count -= part;
    }
    return 1;
}

// Makes the copy as a new file (see MakeFileAsNew); a copy that fails half-way is this
// call's own new file and is deleted again.
static int WriteOwnCopy(const wchar_t* path, const void* data, uint32_t, DWORD* error)
{
    const OwnFileParts* parts = (const OwnFileParts*)data;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return 0;
    }
    *error = 0;
    uint8_t* buffer = (uint8_t*)HeapAlloc(GetProcessHeap(), 0, COPY_BUFFER_BYTES);
    uint64_t after = (uint64_t)parts->mapped_at + parts->mapped_bytes;
    int ok = buffer && CopyFromSource(parts->source, 0, parts->mapped_at, file, buffer) &&
             WriteAll(file, parts->mapped, parts->mapped_bytes) &&
             CopyFromSource(parts->source, after, parts->file_bytes - after, file, buffer);
    if (buffer) HeapFree(GetProcessHeap(), 0, buffer);
    CloseHandle(file);
    if (!ok) DeleteFileW(path);
    return ok;
}

int CopySetupProgram(const wchar_t* path)
{
    OwnFileParts parts;
    ZeroMemory(&parts, sizeof parts);
    parts.source = CreateFileW(g_setup.own_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (parts.source == INVALID_HANDLE_VALUE) return 0;
    LARGE_INTEGER size;
    int ok;
    if (GetFileSizeEx(parts.source, &size)) parts.file_bytes = (uint64_t)size.QuadPart;
    if (parts.file_bytes && FindMappedResources(&parts))
        ok = MakeFileAsNew(path, WriteOwnCopy, &parts, 0);
    else
        ok = CopyFileAsNew(g_setup.own_path, path);  // an image laid out otherwise
    CloseHandle(parts.source);
    return ok;
}
