#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wchar.h>

#include "base/file_helpers.h"
#include "base/setup_state.h"
#include "base/status_channel.h"
#include "base/text_format.h"
#include "package/package_format.h"

int SumEntrySize(const wchar_t* name, const uint8_t*, uint64_t size, void* context)
{
    ExtractContext* sums = (ExtractContext*)context;
    sums->total_bytes += size;
    int units = (int)wcslen(name);
    const wchar_t* last_separator = wcsrchr(name, L'\\');
    int folder_units = last_separator ? (int)(last_separator - name) : 0;
    if (units > sums->longest_name_units) sums->longest_name_units = units;
    if (folder_units > sums->longest_folder_units) sums->longest_folder_units = folder_units;
    return 1;
}

int ExtractEntry(const wchar_t* name, const uint8_t* data, uint64_t size, void* context)
{
    ExtractContext* extract = (ExtractContext*)context;
    if (g_setup.cancel_request) return 0;

    wchar_t path[SETUP_JOIN_UNITS];
    JoinPath(path, SETUP_JOIN_UNITS, extract->install_folder, name);

    wchar_t parent[SETUP_JOIN_UNITS];
    wmemcpy(parent, path, SETUP_JOIN_UNITS);
    PathRemoveFileSpecW(parent);
    // Entries of one folder follow each other: make each folder once, not once per file.
    if (wcscmp(parent, extract->created_folder) != 0) {
        SHCreateDirectoryExW(nullptr, parent, nullptr);  // an existing folder is the normal case
        wmemcpy(extract->created_folder, parent, SETUP_JOIN_UNITS);
    }

    // An existing file is replaced, never written through: it may be a link, or share its
    // bytes with a mod manager's store through a hard link.
    // A resource is at most 4 GiB, so every entry fits one 32-bit write; a size that does
    // not is a damaged package and fails as a write would.
    int own = extract->own_writer_entry && _wcsicmp(name, extract->own_writer_entry) == 0;
    if (size > 0xFFFFFFFFull ||
        !(own ? extract->own_writer(path, data, (uint32_t)size, extract->own_writer_param)
              : WriteWholeFileAsNew(path, data, (uint32_t)size))) {
        wmemcpy(extract->failing_path, path, SETUP_JOIN_UNITS);
        return 0;
    }
    extract->bytes_written += size;
    ReportProgress(extract->bytes_written, extract->total_bytes);
    return 1;
}
