// seal_setup_file IMAGE
// The setup program's very last build step, after its package is put on a page: writes the
// digest of the whole file into the program's record (package/setup_file_digest.h), which
// the program checks at start. Rewrites IMAGE in place; running it again changes nothing.
// A signature goes on afterwards: the digest leaves out what a signer writes.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "package/setup_file_digest.h"

static int Fail(const wchar_t* what, const wchar_t* path)
{
    fwprintf(stderr, L"seal_setup_file: %ls: %ls (error %lu)\n", what, path, GetLastError());
    return 1;
}

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        fwprintf(stderr, L"usage: seal_setup_file IMAGE\n");
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
    uint8_t* before = (uint8_t*)malloc(bytes ? bytes : 1);
    DWORD got = 0;
    int read = image && before && ReadFile(in, image, bytes, &got, nullptr) && got == bytes;
    CloseHandle(in);
    if (!read) return Fail(L"can't read", path);
    memcpy(before, image, bytes);

    int result = SealSetupFileBytes(image, bytes);
    if (result != SEAL_DONE) {
        fwprintf(stderr, L"seal_setup_file: %ls: can't seal it (code %d: %ls)\n", path, result,
                 result == SEAL_NO_RECORD ? L"not exactly one digest record"
                 : result == SEAL_SIGNED  ? L"signed already; seal before signing"
                                          : L"not a well-formed image");
        return 1;
    }
    if (memcmp(before, image, bytes) == 0) return 0;

    wchar_t temporary[MAX_PATH + 16];
    if (_snwprintf(temporary, MAX_PATH + 16, L"%ls.sealing", path) < 0) return Fail(L"path too long", path);
    HANDLE out = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return Fail(L"can't create", temporary);
    DWORD written = 0;
    int ok = WriteFile(out, image, bytes, &written, nullptr) && written == bytes;
    CloseHandle(out);
    if (!ok || !MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(temporary);
        return Fail(L"can't write", path);
    }
    return 0;
}
