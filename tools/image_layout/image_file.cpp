#include "tools/image_layout/image_file.h"

#include <stdio.h>
#include <stdlib.h>

int ImageFileFailure(const wchar_t* tool, const wchar_t* what, const wchar_t* path)
{
    fwprintf(stderr, L"%ls: %ls: %ls (error %lu)\n", tool, what, path, GetLastError());
    return 1;
}

uint8_t* ReadImageFile(const wchar_t* tool, const wchar_t* path, uint32_t* bytes)
{
    HANDLE in = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) {
        ImageFileFailure(tool, L"can't open", path);
        return nullptr;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(in, &size) || size.QuadPart > 0x7FFFFFFF) {
        CloseHandle(in);
        ImageFileFailure(tool, L"can't size", path);
        return nullptr;
    }
    *bytes = (uint32_t)size.QuadPart;
    uint8_t* image = (uint8_t*)malloc(*bytes ? *bytes : 1);
    DWORD got = 0;
    int read = image && ReadFile(in, image, *bytes, &got, nullptr) && got == *bytes;
    CloseHandle(in);
    if (read) return image;
    free(image);
    ImageFileFailure(tool, L"can't read", path);
    return nullptr;
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

static int WritePiece(HANDLE file, const ImagePiece* piece)
{
    if (piece->bytes) return WriteAll(file, piece->bytes, piece->count);
    uint8_t* zeros = (uint8_t*)calloc(piece->count ? piece->count : 1, 1);
    int written = zeros && WriteAll(file, zeros, piece->count);
    free(zeros);
    return written;
}

int ReplaceImageFile(const wchar_t* tool, const wchar_t* path, const wchar_t* suffix,
                     const ImagePiece* pieces, int piece_count)
{
    wchar_t temporary[MAX_PATH + 16];
    if (_snwprintf(temporary, MAX_PATH + 16, L"%ls%ls", path, suffix) < 0)
        return ImageFileFailure(tool, L"path too long", path);
    HANDLE out = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return ImageFileFailure(tool, L"can't create", temporary);
    int written = 1;
    for (int i = 0; written && i < piece_count; i++) written = WritePiece(out, &pieces[i]);
    CloseHandle(out);
    if (!written || !MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(temporary);
        return ImageFileFailure(tool, L"can't write", path);
    }
    return 0;
}
