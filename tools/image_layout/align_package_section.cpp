// align_package_section IMAGE
// The setup program's last build step: puts its resource section, which holds the package,
// on a page of the file (see formats/section_file_alignment.h), rewriting IMAGE in place.
// Running it again changes nothing.
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include "formats/section_file_alignment.h"

static int Fail(const wchar_t* what, const wchar_t* path)
{
    fwprintf(stderr, L"align_package_section: %ls: %ls (error %lu)\n", what, path, GetLastError());
    return 1;
}

static int WriteAll(HANDLE file, const uint8_t* bytes, uint32_t count)
{
    while (count) {
        DWORD done = 0;
        if (!WriteFile(file, bytes, count, &done, nullptr) || done == 0) return 0;
        bytes += done;
        count -= done;
    }
    return 1;
}

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        fwprintf(stderr, L"usage: align_package_section IMAGE\n");
        return 2;
    }
    const wchar_t* path = argv[1];
    HANDLE in = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) return Fail(L"can't open", path);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(in, &size) || size.QuadPart > 0x7FFFFFFF) {
        CloseHandle(in);
        return Fail(L"can't size", path);
    }
    uint32_t bytes = (uint32_t)size.QuadPart;
    uint8_t* image = (uint8_t*)malloc(bytes ? bytes : 1);
    DWORD got = 0;
    int read = image && ReadFile(in, image, bytes, &got, nullptr) && got == bytes;
    CloseHandle(in);
    if (!read) return Fail(L"can't read", path);

    uint32_t insert_at = 0, padding = 0;
    int result = PlanPageAlignedSection(image, bytes, ".rsrc", &insert_at, &padding);
    if (result != SECTION_ALIGN_DONE) {
        fwprintf(stderr, L"align_package_section: %ls: can't align its resource section (code %d)\n",
                 path, result);
        return 1;
    }
    if (padding == 0) return 0;

    wchar_t temporary[MAX_PATH + 16];
    if (_snwprintf(temporary, MAX_PATH + 16, L"%ls.aligning", path) < 0) return Fail(L"path too long", path);
    HANDLE out = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return Fail(L"can't create", temporary);
    uint8_t* zeros = (uint8_t*)calloc(padding, 1);
    int written = zeros && WriteAll(out, image, insert_at) && WriteAll(out, zeros, padding) &&
                  WriteAll(out, image + insert_at, bytes - insert_at);
    CloseHandle(out);
    if (!written || !MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(temporary);
        return Fail(L"can't write", path);
    }
    return 0;
}
