// The package's entries written into the install folder: a new install writes each name as
// a new file, an update stages each changed entry beside its name for the commit
// (install/update_commit.h).
#pragma once
#include <stdint.h>

#include "base/setup_state.h"
#include "install/game_icon.h"
#include "package/package_format.h"

#define PARTIAL_SLOT_NONE 0xFF
#define PARTIAL_SLOT_SAME 0xFE  // an update's entry whose installed file is already the same
#define OWN_MADE_MARK 1
#define OWN_MADE_ROM_COPY 2
#define OWN_MADE_UNINSTALLER 4
#define OWN_SAME_ROM_COPY 1
#define OWN_SAME_UNINSTALLER 2

struct ExtractContext {
    const wchar_t* install_folder;        // trimmed, absolute; not owned
    uint64_t bytes_written;
    uint64_t total_bytes;
    wchar_t failing_path[SETUP_JOIN_UNITS];  // empty until a write fails
    wchar_t created_folder[SETUP_JOIN_UNITS];  // the last entry's folder, already made
    // The game executable's new icons, written into it on the way (null: every entry is
    // written as packaged).
    GameIconImages* game_icon;
    uint32_t entry_count;      // entries seen by SumEntrySize
    // An update stages every changed entry under a partial name beside its own and renames
    // them all into place once each is whole; slots[i] says which partial name entry i got
    // (PARTIAL_SLOT_NONE until it was written, PARTIAL_SLOT_SAME when the installed file is
    // already the entry). A new install writes the names themselves,
    // each as a new file, and slots[i] is 0 once this run made entry i's file.
    int staged;
    uint8_t* slots;            // entry_count slots, owned by the worker
    uint32_t entries_done;     // entries written (or staged) so far
    unsigned own_files_made;   // OWN_MADE_*: setup's own files a new install made
    unsigned own_files_same;   // OWN_SAME_*: setup's own files an update finds already right
    int longest_name_units;    // the longest entry name, folders included (SumEntrySize)
    int longest_folder_units;  // the longest folder part of an entry name, 0 for none
};

// Adds the entry's size to total_bytes and measures its name (the longest fields).
int SumEntrySize(const wchar_t* name, const uint8_t* data, uint64_t size, void* context);
int ExtractEntry(const wchar_t* name, const uint8_t* data, uint64_t size, void* context);
