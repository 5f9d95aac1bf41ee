#include "base/file_replacement.h"

#include "base/entry_itself.h"
#include "base/partial_names.h"
#include "base/setup_state.h"

int WriteWholeFile(const wchar_t* path, const void* data, uint32_t count)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    BOOL ok = WriteFile(file, data, count, &written, nullptr);
    CloseHandle(file);
    return ok && written == count;
}

// Creates path as a new file holding exactly count bytes; fails when the name exists.
// error: 0 once the file was created (a failed write leaves it as far as it got), else
// the reason it could not be created.
static int WriteNewFile(const wchar_t* path, const void* data, uint32_t count, DWORD* error)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return 0;
    }
    *error = 0;
    DWORD written = 0;
    BOOL ok = WriteFile(file, data, count, &written, nullptr);
    CloseHandle(file);
    return ok && written == count;
}

#define COPY_CHUNK_BYTES (1024 * 1024)

// A file copy would also copy the source's alternate data streams, among them the zone
// mark that a browser puts on a downloaded setup, and Windows would then warn about the
// copy as about a download: only the bytes of the file's data are copied.
int CopyBytesToNewFile(const wchar_t* source, const wchar_t* path, DWORD* error)
{
    HANDLE in = CreateFileW(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (in == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return 0;
    }
    uint8_t* chunk = (uint8_t*)HeapAlloc(GetProcessHeap(), 0, COPY_CHUNK_BYTES);
    HANDLE out = chunk ? CreateFileW(path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)
                       : INVALID_HANDLE_VALUE;
    if (out == INVALID_HANDLE_VALUE) {
        *error = chunk ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
        if (chunk) HeapFree(GetProcessHeap(), 0, chunk);
        CloseHandle(in);
        return 0;
    }
    *error = 0;
    int ok = 1;
    for (;;) {
        DWORD read = 0, written = 0;
        if (!ReadFile(in, chunk, COPY_CHUNK_BYTES, &read, nullptr)) ok = 0;
        if (!ok || read == 0) break;
        if (!WriteFile(out, chunk, read, &written, nullptr) || written != read) ok = 0;
    }
    // An incomplete copy is this call's own new file: it goes again, by its handle.
    if (!ok) DeleteByHandle(out);
    CloseHandle(out);
    CloseHandle(in);
    HeapFree(GetProcessHeap(), 0, chunk);
    return ok;
}

// Copies source to path as a new file; fails when the name exists.
static int CopyNewFile(const wchar_t* path, const void* source, uint32_t, DWORD* error)
{
    return CopyBytesToNewFile((const wchar_t*)source, path, error);
}

static int NameExists(DWORD error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

// Makes a partial file beside path and renames it over path. Only names change: a link at
// path, or a file with other hard links, is replaced as a name, and what it points to keeps
// its bytes. Under Wine a link to a file looks like a plain file, and deleting or renaming
// one acts on its target, so no existing name is ever written into, deleted or moved: a
// partial file left by an interrupted run is passed over for the next slot's name
// (base/partial_names.h). 1 when path holds the new file.
static int ReplaceThroughPartial(const wchar_t* path, NewFileMaker make, const void* data,
                                 uint32_t count, DWORD move_flags)
{
    wchar_t partial[SETUP_JOIN_UNITS];
    DWORD error = ERROR_FILE_EXISTS;
    int made = 0;
    for (int attempt = 0; attempt < PARTIAL_SLOTS && !made && NameExists(error); attempt++) {
        if (PartialPath(partial, SETUP_JOIN_UNITS, path, attempt) < 0) return 0;
        made = make(partial, data, count, &error);
    }
    if (made && MoveFileExW(partial, path, MOVEFILE_REPLACE_EXISTING | move_flags)) return 1;
    if (made || error == 0) DeleteFileW(partial);  // this run's own new file, never a link
    return 0;
}

int ReplaceWholeFile(const wchar_t* path, const void* data, uint32_t count)
{
    return ReplaceThroughPartial(path, WriteNewFile, data, count, MOVEFILE_WRITE_THROUGH);
}

int ReplaceWholeFileWith(const wchar_t* path, NewFileMaker make, const void* data, uint32_t count)
{
    return ReplaceThroughPartial(path, make, data, count, MOVEFILE_WRITE_THROUGH);
}

int MakeFileAsNew(const wchar_t* path, NewFileMaker make, const void* data, uint32_t count)
{
    DWORD error = 0;
    if (make(path, data, count, &error)) return 1;  // a new name: made at once
    if (!NameExists(error)) return 0;
    return ReplaceThroughPartial(path, make, data, count, 0);
}

int CreateWholeFile(const wchar_t* path, const void* data, uint32_t count, int* created)
{
    DWORD error = 0;
    int written = WriteNewFile(path, data, count, &error);
    *created = error == 0;
    return written;
}

int CopyToNewFile(const wchar_t* source, const wchar_t* path, int* created)
{
    DWORD error = 0;
    int copied = CopyNewFile(path, source, 0, &error);
    *created = copied;
    return copied;
}

int WriteWholeFileAsNew(const wchar_t* path, const void* data, uint32_t count)
{
    return MakeFileAsNew(path, WriteNewFile, data, count);
}

int CopyFileAsNew(const wchar_t* source, const wchar_t* path)
{
    return MakeFileAsNew(path, CopyNewFile, source, 0);
}
