#include "install/package_extraction.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wchar.h>

#include "base/file_deletion.h"
#include "base/file_replacement.h"
#include "base/installation_layout.h"
#include "base/partial_names.h"
#include "base/setup_state.h"
#include "base/status_channel.h"
#include "base/text_format.h"
#include "install/test_hooks.h"

int SumEntrySize(const wchar_t* name, const uint8_t*, uint64_t size, void* context)
{
    ExtractContext* sums = (ExtractContext*)context;
    sums->total_bytes += size;
    sums->entry_count++;
    int units = (int)wcslen(name);
    const wchar_t* last_separator = wcsrchr(name, L'\\');
    int folder_units = last_separator ? (int)(last_separator - name) : 0;
    if (units > sums->longest_name_units) sums->longest_name_units = units;
    if (folder_units > sums->longest_folder_units) sums->longest_folder_units = folder_units;
    return 1;
}

// What the test flavour asks for at this entry; the release has no such hook.
static int TestAction(const ExtractContext* extract)
{
    return g_test_hooks.stop ? g_test_hooks.stop(0, (int)extract->entries_done) : SETUP_TEST_GO_ON;
}

int ExtractEntry(const wchar_t* name, const uint8_t* data, uint64_t size, void* context)
{
    ExtractContext* extract = (ExtractContext*)context;
    if (g_setup.cancel_request) return 0;

    wchar_t path[SETUP_JOIN_UNITS];
    JoinPath(path, SETUP_JOIN_UNITS, extract->install_folder, name);
    int action = TestAction(extract);
    if (action == SETUP_TEST_KILL) TerminateProcess(GetCurrentProcess(), 9);
    if (action == SETUP_TEST_CANCEL) {
        InterlockedExchange(&g_setup.cancel_request, 1);
        return 0;
    }

    // An entry the folder already holds as it is stays untouched (FindUnchangedEntries).
    if (extract->slots && extract->slots[extract->entries_done] == PARTIAL_SLOT_SAME) {
        extract->entries_done++;
        extract->bytes_written += size;
        ReportProgress(extract->bytes_written, extract->total_bytes);
        return 1;
    }

    wchar_t parent[SETUP_JOIN_UNITS];
    wmemcpy(parent, path, SETUP_JOIN_UNITS);
    PathRemoveFileSpecW(parent);
    // Entries of one folder follow each other: make each folder once, not once per file.
    if (wcscmp(parent, extract->created_folder) != 0) {
        SHCreateDirectoryExW(nullptr, parent, nullptr);  // an existing folder is the normal case
        wmemcpy(extract->created_folder, parent, SETUP_JOIN_UNITS);
    }

    // An update writes the entry under a free partial name (the old file stays until every
    // new one is whole); a new install writes the name itself. Either way the file is made
    // new: something that appeared at the name since the checks (another program's file, a
    // link) is a failure, never replaced or written through.
    wchar_t target[SETUP_JOIN_UNITS];
    int slot = extract->staged ? FreePartialSlot(path) : 0;
    int fits = extract->staged ? PartialPath(target, SETUP_JOIN_UNITS, path, slot) >= 0
                               : FormatText(target, SETUP_JOIN_UNITS, L"%s", path) >= 0;
    // A resource is at most 4 GiB, so every entry fits one 32-bit write; a size that does
    // not is a damaged package and fails as a write would.
    int game = extract->game_icon && _wcsicmp(name, GAME_EXE_NAME) == 0;
    int created = 0;
    int written = slot >= 0 && fits && size <= 0xFFFFFFFFull && action != SETUP_TEST_FAIL &&
                  (game ? WriteGameExecutable(target, data, (uint32_t)size, extract->game_icon, &created)
                        : CreateWholeFile(target, data, (uint32_t)size, &created));
    if (!written) {
        // This run's own unfinished file goes at once when it is staged; a new install's
        // is recorded for its undo.
        if (created && extract->staged) DeletePathItself(target);
        if (created && !extract->staged && extract->slots) extract->slots[extract->entries_done] = 0;
        wmemcpy(extract->failing_path, path, SETUP_JOIN_UNITS);
        return 0;
    }
    if (extract->slots) extract->slots[extract->entries_done] = (uint8_t)slot;
    extract->entries_done++;
    extract->bytes_written += size;
    ReportProgress(extract->bytes_written, extract->total_bytes);
    return 1;
}
