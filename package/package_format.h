// The package of game files carried in the setup program's RT_RCDATA resource 101.
//
//   header: "TNPK", a 32-bit value (1, not read), 32-bit entry_count
//   entry:  16-bit name_length n, n bytes of UTF-8 name ("\\" between folders),
//           64-bit data_size s, s bytes of data
// All integers little-endian, no alignment, no folder entries.
#pragma once
#include <stdint.h>

#include "base/setup_state.h"

#define PACKAGE_RESOURCE_ID   101
#define PACKAGE_HEADER_BYTES  12
#define PACKAGE_ENTRY_FIXED_BYTES 10
#define PACKAGE_NAME_UNITS    260  // at most 259 converted units and a terminator
#define PARTIAL_SLOT_NONE 0xFF
#define OWN_MADE_MARK 1
#define OWN_MADE_ROM_COPY 2
#define OWN_MADE_UNINSTALLER 4

// What the test flavour's stop asks of a run at an entry (install/test_hooks.h); the
// release has no stop.
#define SETUP_TEST_GO_ON 0
#define SETUP_TEST_CANCEL 1  // as if the player had answered Yes to the stop question
#define SETUP_TEST_FAIL 2    // as if the entry's write had failed
#define SETUP_TEST_KILL 3    // as if the process were killed

// Called before each package entry is written (phase 0) and committed (phase 1); returns a
// SETUP_TEST_* action.
typedef int (*TestStopHook)(int phase, int entry);

// Called once per entry; nonzero continues the walk, 0 stops it.
typedef int (*PackageVisitor)(const wchar_t* name, const uint8_t* data, uint64_t size,
                              void* context);

// Writes one entry's file, as a new file at path, instead of one plain write; 1 when the
// whole file was written. *created: whether it made a file at path (whole or not).
typedef int (*EntryWriter)(const wchar_t* path, const uint8_t* data, uint32_t size, void* param,
                           int* created);

struct ExtractContext {
    const wchar_t* install_folder;        // trimmed, absolute; not owned
    uint64_t bytes_written;
    uint64_t total_bytes;
    wchar_t failing_path[SETUP_JOIN_UNITS];  // empty until a write fails
    wchar_t created_folder[SETUP_JOIN_UNITS];  // the last entry's folder, already made
    // The one entry (the game executable) that its own writer writes; null for none.
    const wchar_t* own_writer_entry;
    EntryWriter own_writer;
    void* own_writer_param;
    uint32_t entry_count;      // entries seen by SumEntrySize
    // An update stages every entry under a partial name beside its own and renames them all
    // into place once each is whole; slots[i] says which partial name entry i got
    // (PARTIAL_SLOT_NONE until it was written). A new install writes the names themselves,
    // each as a new file, and slots[i] is 0 once this run made entry i's file.
    int staged;
    uint8_t* slots;            // entry_count slots, owned by the worker
    uint32_t entries_done;     // entries written (or staged) so far
    unsigned own_files_made;   // OWN_MADE_*: setup's own files a new install made
    int commit_started;        // an update's commit tried its first rename
    int longest_name_units;    // the longest entry name, folders included (SumEntrySize)
    int longest_folder_units;  // the longest folder part of an entry name, 0 for none
    TestStopHook test_stop;        // the test flavour's stop before each entry; null in the release
};

// The package resource of module (null: the running program); 1 with its bytes and size.
int FindPackage(HMODULE module, const uint8_t** bytes, uint32_t* size);

// Walks the running program's own package. 1 when every entry was visited and every
// visitor call returned nonzero; 0 otherwise.
int WalkPackage(PackageVisitor visitor, void* context);

// The same walk over package bytes in memory; never reads outside [bytes, bytes + size).
int WalkPackageBytes(const uint8_t* bytes, uint32_t size, PackageVisitor visitor, void* context);

// Adds the entry's size to total_bytes and measures its name (the longest fields).
int SumEntrySize(const wchar_t* name, const uint8_t* data, uint64_t size, void* context);
int ExtractEntry(const wchar_t* name, const uint8_t* data, uint64_t size, void* context);
