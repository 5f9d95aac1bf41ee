#include "packer/package_writer.h"

#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

#include "base/text_format.h"
#include "package/package_digest.h"
#include "package/package_format.h"

#define XXH_INLINE_ALL
#include "xxhash.h"

#define PACKER_PATH_UNITS 1024

struct PackFile {
    wchar_t relative[PACKAGE_NAME_UNITS];  // as the walker will hand it on
    char utf8[PACKAGE_NAME_UNITS * 3];
    uint16_t utf8_bytes;
    uint64_t size;
};

struct PackList {
    PackFile* files;
    int count;
    wchar_t* error;
};

static int Fail(wchar_t* error, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatTextV(error, PACKER_ERROR_UNITS, format, args);
    va_end(args);
    return 0;
}

// Ordinal and case-sensitive: the same order on every machine and in every locale.
static int CompareNames(const void* a, const void* b)
{
    return CompareStringOrdinal(*(const wchar_t* const*)a, -1, *(const wchar_t* const*)b, -1,
                                FALSE) - CSTR_EQUAL;
}

static int AddFile(PackList* list, const wchar_t* relative, uint64_t size)
{
    if (list->count >= PACKER_MAX_FILES)
        return Fail(list->error, L"more than %d files in the game folder", PACKER_MAX_FILES);
    size_t units = wcslen(relative);
    if (units == 0 || units > PACKAGE_NAME_UNITS - 1)
        return Fail(list->error, L"the name \"%s\" is longer than %d UTF-16 units", relative,
                    PACKAGE_NAME_UNITS - 1);
    if (wcsstr(relative, L".."))
        return Fail(list->error, L"the name \"%s\" contains \"..\", which setup refuses", relative);
    if (size > 0xFFFFFFFFull)
        return Fail(list->error, L"\"%s\" is larger than a resource can hold (4 GiB)", relative);
    PackFile* file = &list->files[list->count];
    int bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, relative, (int)units,
                                    file->utf8, sizeof file->utf8, nullptr, nullptr);
    if (bytes <= 0)
        return Fail(list->error, L"the name \"%s\" cannot be stored as UTF-8", relative);
    wmemcpy(file->relative, relative, units + 1);
    file->utf8_bytes = (uint16_t)bytes;
    file->size = size;
    list->count++;
    return 1;
}

// Collects the files below root\relative (relative may be empty), files before folders.
static int CollectFolder(PackList* list, const wchar_t* root, const wchar_t* relative)
{
    wchar_t search[PACKER_PATH_UNITS];
    if (relative[0])
        FormatText(search, PACKER_PATH_UNITS, L"%s\\%s\\*", root, relative);
    else
        FormatText(search, PACKER_PATH_UNITS, L"%s\\*", root);

    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(search, &entry);
    if (find == INVALID_HANDLE_VALUE) return Fail(list->error, L"cannot list \"%s\"", search);

    // Names are gathered first so that the order does not depend on the file system's.
    int capacity = 64, count = 0;
    wchar_t** names = (wchar_t**)malloc(capacity * sizeof(wchar_t*));
    DWORD* kinds = (DWORD*)malloc(capacity * sizeof(DWORD));
    uint64_t* sizes = (uint64_t*)malloc(capacity * sizeof(uint64_t));
    int ok = names && kinds && sizes;
    while (ok) {
        if (wcscmp(entry.cFileName, L".") && wcscmp(entry.cFileName, L"..")) {
            if (count == capacity) {
                capacity *= 2;
                names = (wchar_t**)realloc(names, capacity * sizeof(wchar_t*));
                kinds = (DWORD*)realloc(kinds, capacity * sizeof(DWORD));
                sizes = (uint64_t*)realloc(sizes, capacity * sizeof(uint64_t));
                if (!names || !kinds || !sizes) { ok = 0; break; }
            }
            names[count] = _wcsdup(entry.cFileName);
            kinds[count] = entry.dwFileAttributes;
            sizes[count] = ((uint64_t)entry.nFileSizeHigh << 32) | entry.nFileSizeLow;
            count++;
        }
        if (!FindNextFileW(find, &entry)) break;
    }
    FindClose(find);
    if (!ok) {
        free(names); free(kinds); free(sizes);
        return Fail(list->error, L"out of memory while listing \"%s\"", search);
    }

    // Sort indices by name; keep kinds and sizes alongside through a small index sort.
    int* order = (int*)malloc((count ? count : 1) * sizeof(int));
    for (int i = 0; i < count; i++) order[i] = i;
    for (int i = 1; i < count; i++) {
        int j = i, moving = order[i];
        while (j > 0 && CompareNames(&names[order[j - 1]], &names[moving]) > 0) {
            order[j] = order[j - 1];
            j--;
        }
        order[j] = moving;
    }

    for (int pass = 0; pass < 2 && ok; pass++) {
        for (int k = 0; k < count && ok; k++) {
            int i = order[k];
            int is_folder = (kinds[i] & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (is_folder != pass) continue;
            wchar_t child[PACKER_PATH_UNITS];
            if (relative[0])
                FormatText(child, PACKER_PATH_UNITS, L"%s\\%s", relative, names[i]);
            else
                FormatText(child, PACKER_PATH_UNITS, L"%s", names[i]);
            if (kinds[i] & FILE_ATTRIBUTE_REPARSE_POINT) {
                ok = Fail(list->error, L"\"%s\" is a link; the package holds only plain files", child);
            } else if (is_folder) {
                ok = CollectFolder(list, root, child);
            } else if (relative[0] == 0 && _wcsicmp(names[i], PACKER_GAME_EXE) == 0) {
                // Already first in the list.
            } else {
                ok = AddFile(list, child, sizes[i]);
            }
        }
    }
    for (int i = 0; i < count; i++) free(names[i]);
    free(names); free(kinds); free(sizes); free(order);
    return ok;
}

// Every byte of the package goes through here, and into its digest.
static XXH3_state_t g_digest;

static int WriteAll(HANDLE out, const void* data, DWORD count)
{
    DWORD written = 0;
    XXH3_128bits_update(&g_digest, data, count);
    return WriteFile(out, data, count, &written, nullptr) && written == count;
}

static int CopyFileInto(HANDLE out, const wchar_t* path, uint64_t size, uint8_t* chunk,
                        DWORD chunk_bytes, wchar_t* error)
{
    HANDLE in = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (in == INVALID_HANDLE_VALUE) return Fail(error, L"cannot read \"%s\"", path);
    uint64_t left = size;
    int ok = 1;
    while (ok && left > 0) {
        DWORD want = left < chunk_bytes ? (DWORD)left : chunk_bytes;
        DWORD got = 0;
        if (!ReadFile(in, chunk, want, &got, nullptr) || got != want)
            ok = Fail(error, L"\"%s\" changed or could not be read while packing", path);
        else if (!WriteAll(out, chunk, got))
            ok = Fail(error, L"cannot write the package (disk full?)");
        left -= got;
    }
    // The file must not have grown meanwhile either.
    DWORD extra = 0;
    if (ok && ReadFile(in, chunk, 1, &extra, nullptr) && extra != 0)
        ok = Fail(error, L"\"%s\" changed while packing", path);
    CloseHandle(in);
    return ok;
}

int WriteGamePackage(const wchar_t* game_folder, const wchar_t* output_path, wchar_t* error,
                     uint32_t* entry_count, uint64_t* package_bytes)
{
    error[0] = L'\0';
    *entry_count = 0;
    *package_bytes = 0;

    DWORD attributes = GetFileAttributesW(game_folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Fail(error, L"the game folder \"%s\" does not exist", game_folder);

    wchar_t probe[PACKER_PATH_UNITS];
    FormatText(probe, PACKER_PATH_UNITS, L"%s\\*", game_folder);
    WIN32_FIND_DATAW first;
    HANDLE find = FindFirstFileW(probe, &first);
    int has_entries = 0;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (wcscmp(first.cFileName, L".") && wcscmp(first.cFileName, L"..")) has_entries = 1;
        } while (!has_entries && FindNextFileW(find, &first));
        FindClose(find);
    }
    if (!has_entries) return Fail(error, L"the game folder \"%s\" is empty", game_folder);

    wchar_t game_exe[PACKER_PATH_UNITS];
    FormatText(game_exe, PACKER_PATH_UNITS, L"%s\\%s", game_folder, PACKER_GAME_EXE);
    WIN32_FILE_ATTRIBUTE_DATA exe_info;
    if (!GetFileAttributesExW(game_exe, GetFileExInfoStandard, &exe_info) ||
        (exe_info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return Fail(error, L"the game folder \"%s\" has no %s", game_folder, PACKER_GAME_EXE);

    PackList list = {(PackFile*)calloc(PACKER_MAX_FILES, sizeof(PackFile)), 0, error};
    if (!list.files) return Fail(error, L"out of memory");
    int ok = AddFile(&list, PACKER_GAME_EXE,
                     ((uint64_t)exe_info.nFileSizeHigh << 32) | exe_info.nFileSizeLow) &&
             CollectFolder(&list, game_folder, L"");

    // The entries and the digest's trailer after them.
    uint64_t total = PACKAGE_HEADER_BYTES + PACKAGE_DIGEST_BYTES;
    for (int i = 0; ok && i < list.count; i++) {
        total += PACKAGE_ENTRY_FIXED_BYTES + list.files[i].utf8_bytes + list.files[i].size;
        if (total > 0xFFFFFFFFull)
            ok = Fail(error, L"the game files add up to more than a resource can hold (4 GiB)");
    }

    // Written beside the output and moved into place only when complete.
    wchar_t partial[PACKER_PATH_UNITS];
    if (ok && FormatText(partial, PACKER_PATH_UNITS, L"%s.partial", output_path) < 0)
        ok = Fail(error, L"the output path is too long");
    HANDLE out = INVALID_HANDLE_VALUE;
    if (ok) {
        out = CreateFileW(partial, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (out == INVALID_HANDLE_VALUE) ok = Fail(error, L"cannot create \"%s\"", partial);
    }

    const DWORD chunk_bytes = 4u << 20;
    uint8_t* chunk = ok ? (uint8_t*)malloc(chunk_bytes) : nullptr;
    if (ok && !chunk) ok = Fail(error, L"out of memory");

    XXH3_128bits_reset(&g_digest);
    if (ok) {
        uint8_t header[PACKAGE_HEADER_BYTES] = {'T', 'N', 'P', 'K', 1, 0, 0, 0};
        uint32_t count = (uint32_t)list.count;
        for (int b = 0; b < 4; b++) header[8 + b] = (uint8_t)(count >> (8 * b));
        if (!WriteAll(out, header, sizeof header)) ok = Fail(error, L"cannot write the package");
    }
    for (int i = 0; ok && i < list.count; i++) {
        PackFile* file = &list.files[i];
        uint8_t fixed[2];
        fixed[0] = (uint8_t)(file->utf8_bytes & 0xFF);
        fixed[1] = (uint8_t)(file->utf8_bytes >> 8);
        uint8_t size_field[8];
        for (int b = 0; b < 8; b++) size_field[b] = (uint8_t)(file->size >> (8 * b));
        wchar_t source[PACKER_PATH_UNITS];
        FormatText(source, PACKER_PATH_UNITS, L"%s\\%s", game_folder, file->relative);
        if (!WriteAll(out, fixed, 2) || !WriteAll(out, file->utf8, file->utf8_bytes) ||
            !WriteAll(out, size_field, 8))
            ok = Fail(error, L"cannot write the package (disk full?)");
        else
            ok = CopyFileInto(out, source, file->size, chunk, chunk_bytes, error);
    }
    free(chunk);
    if (ok) {
        XXH128_hash_t hash = XXH3_128bits_digest(&g_digest);
        uint8_t trailer[PACKAGE_DIGEST_BYTES];
        PackageDigestTrailer(hash.low64, hash.high64, trailer);
        DWORD written = 0;
        if (!WriteFile(out, trailer, sizeof trailer, &written, nullptr) || written != sizeof trailer)
            ok = Fail(error, L"cannot write the package (disk full?)");
    }

    if (out != INVALID_HANDLE_VALUE) {
        if (ok && !FlushFileBuffers(out)) ok = Fail(error, L"cannot write the package");
        CloseHandle(out);
        if (ok && !MoveFileExW(partial, output_path, MOVEFILE_REPLACE_EXISTING))
            ok = Fail(error, L"cannot move the package into place at \"%s\"", output_path);
        if (!ok) DeleteFileW(partial);
    }
    if (ok) {
        *entry_count = (uint32_t)list.count;
        *package_bytes = total;
    }
    free(list.files);
    return ok;
}
