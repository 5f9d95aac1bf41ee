// The floor of an install: carries the same package as the setup program in the same
// resource and writes each file with one write call, creating folders as names need them.
// No checks beyond what keeps it from writing outside the folder, no status, no extras:
// what any installer of these bytes must at least pay.
//
//   floor_install.exe FOLDER
#include <windows.h>
#include <stdint.h>
#include <wchar.h>

#include "bench/floor/first_argument.h"

#define FLOOR_PATH_UNITS 520
#define FLOOR_RESOURCE_ID 101

static uint32_t ReadU32(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) |
           ((uint32_t)p[3] << 24);
}

// Creates every folder along path up to (not including) its last name.
static void CreateParents(wchar_t* path, size_t from)
{
    for (size_t i = from; path[i]; i++) {
        if (path[i] != L'\\') continue;
        path[i] = L'\0';
        CreateDirectoryW(path, nullptr);  // an existing folder is the normal case
        path[i] = L'\\';
    }
}

static int WriteEntry(const wchar_t* path, const uint8_t* data, uint32_t size)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    BOOL ok = WriteFile(file, data, size, &written, nullptr);
    CloseHandle(file);
    return ok && written == size;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const wchar_t* argument = FirstArgument();
    if (!argument[0]) return 2;

    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(FLOOR_RESOURCE_ID), RT_RCDATA);
    if (!resource) return 3;
    uint32_t size = SizeofResource(nullptr, resource);
    const uint8_t* bytes = (const uint8_t*)LockResource(LoadResource(nullptr, resource));
    if (!bytes || size < 12 || ReadU32(bytes) != 0x4B504E54u) return 3;  // "TNPK"

    wchar_t path[FLOOR_PATH_UNITS];
    size_t folder_units = wcslen(argument);
    if (folder_units + 2 >= FLOOR_PATH_UNITS) return 2;
    wmemcpy(path, argument, folder_units);
    path[folder_units] = L'\\';
    path[folder_units + 1] = L'\0';
    CreateParents(path, 3);  // the folder itself and its parents, past "C:\"

    uint32_t count = ReadU32(bytes + 8);
    uint64_t position = 12;
    for (uint32_t i = 0; i < count; i++) {
        if (position + 2 > size) return 4;
        uint32_t name_bytes = bytes[position] | (bytes[position + 1] << 8);
        if (position + 10 + name_bytes > size) return 4;
        const uint8_t* field = bytes + position + 2 + name_bytes;
        uint64_t data_size = ReadU32(field) | ((uint64_t)ReadU32(field + 4) << 32);
        if (data_size > size - (position + 10 + name_bytes)) return 4;
        wchar_t* name = path + folder_units + 1;
        int units = MultiByteToWideChar(CP_UTF8, 0, (const char*)bytes + position + 2,
                                        (int)name_bytes, name,
                                        (int)(FLOOR_PATH_UNITS - folder_units - 2));
        if (units <= 0) return 4;
        name[units] = L'\0';
        if (wcsstr(name, L"..")) return 4;
        CreateParents(path, folder_units + 1);
        if (!WriteEntry(path, field + 8, (uint32_t)data_size)) return 5;
        position += 10 + name_bytes + data_size;
    }
    return 0;
}
