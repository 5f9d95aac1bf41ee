// The floor of an install: carries the same package as the setup program in the same
// resource and writes each file with one write call, creating folders as names need them.
// No checks beyond what keeps it from writing outside the folder, no status, no extras:
// what any installer of these bytes must at least pay.
//
// Given a ROM file and two sizes, it is the floor of the setup program's whole job: it also
// writes every other byte the setup program leaves in the folder, each file with one write:
// the 65-byte note, the ROM copy (read from the ROM file with one read), an icon file of
// ICON_BYTES and an uninstaller of UNINSTALLER_BYTES, both taken from its own loaded image
// as the setup program copies itself. No hash, no icon building, no registry.
//
//   floor_install.exe FOLDER [ROM_FILE ICON_BYTES UNINSTALLER_BYTES]
#include <windows.h>
#include <stdint.h>
#include <wchar.h>

#include "bench/floor/first_argument.h"
#include "bench/floor/read_whole_file.h"

#define FLOOR_PATH_UNITS 520
#define FLOOR_RESOURCE_ID 101
#define FLOOR_ROM_MAX_BYTES (64u << 20)

// Room at the end of the loaded image, so that an uninstaller of the setup program's size
// (a little more than this program) can be written from the image alone.
static uint8_t g_image_room[4u << 20];

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

// Joins folder\\name into path (FLOOR_PATH_UNITS) and writes count bytes there.
static int WriteNamed(wchar_t* path, size_t folder_units, const wchar_t* name,
                      const void* data, uint32_t count)
{
    size_t units = wcslen(name);
    if (folder_units + 1 + units >= FLOOR_PATH_UNITS) return 0;
    wmemcpy(path + folder_units + 1, name, units + 1);
    return WriteEntry(path, (const uint8_t*)data, count);
}

static uint32_t ParseCount(const wchar_t* text)
{
    return (uint32_t)wcstoul(text, nullptr, 10);
}

// The rest of the job after the package's files, in the setup program's order.
static int WriteJobFiles(wchar_t* path, size_t folder_units, const wchar_t* rom,
                         uint32_t icon_bytes, uint32_t uninstaller_bytes)
{
    static const char note[] =
        "Settings, saves, mods and the ROM copy are kept in this folder.\r\n";
    if (!WriteNamed(path, folder_units, L"portable.txt", note, sizeof note - 1)) return 0;

    DWORD bytes = 0;
    uint8_t* buffer = ReadWholeFile(rom, FLOOR_ROM_MAX_BYTES, &bytes);
    if (!buffer) return 0;
    int written =
        WriteNamed(path, folder_units, L"torrentine.n64.proto.19990615.z64", buffer, bytes);
    HeapFree(GetProcessHeap(), 0, buffer);
    if (!written) return 0;

    const uint8_t* image = (const uint8_t*)GetModuleHandleW(nullptr);
    const IMAGE_NT_HEADERS* headers =
        (const IMAGE_NT_HEADERS*)(image + ((const IMAGE_DOS_HEADER*)image)->e_lfanew);
    uint32_t image_bytes = headers->OptionalHeader.SizeOfImage;
    if (icon_bytes > image_bytes || uninstaller_bytes > image_bytes) return 0;
    return WriteNamed(path, folder_units, L"Torrentine PC.ico", image, icon_bytes) &&
           WriteNamed(path, folder_units, L"Uninstall.exe", image, uninstaller_bytes);
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    ((volatile uint8_t*)g_image_room)[0] = 0;  // keeps the room in the image
    wchar_t* cursor = ArgumentsCursor();
    const wchar_t* argument = NextArgument(&cursor);
    if (!argument[0]) return 2;
    const wchar_t* rom = NextArgument(&cursor);
    uint32_t icon_bytes = ParseCount(NextArgument(&cursor));
    uint32_t uninstaller_bytes = ParseCount(NextArgument(&cursor));

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
    if (rom[0] && !WriteJobFiles(path, folder_units, rom, icon_bytes, uninstaller_bytes))
        return 6;
    return 0;
}
