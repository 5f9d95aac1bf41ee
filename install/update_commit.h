// An update's commit, all or nothing: every old file is renamed aside (names only), every
// staged file renamed into its place, and the first failure renames everything back in
// reverse. A journal written before the first rename lists each name with its staged and
// aside names, so that the next run of setup, or the uninstaller, puts the previous version
// back after a kill at any moment.
#pragma once
#include <stdint.h>

#include "install/package_extraction.h"
#include "package/package_format.h"

// One name the commit replaces (or adds): relative to the installation, with the partial
// slots of its staged file and of the old file's aside name (PARTIAL_SLOT_NONE: no old file).
struct CommitItem {
    wchar_t name[PACKAGE_NAME_UNITS];
    uint8_t staged_slot;
    uint8_t aside_slot;
};

struct CommitList {
    CommitItem* items;
    uint32_t count;
    uint32_t capacity;
};

// 1 when the list has room for capacity items (an empty list otherwise).
int StartCommitList(CommitList* list, uint32_t capacity);
void FreeCommitList(CommitList* list);
// Adds a staged name; 0 when the list is full or the name too long.
int AddCommitItem(CommitList* list, const wchar_t* name, int staged_slot);
// The package's staged entries, in package order (the game executable first).
int AddStagedEntries(CommitList* list, const ExtractContext* context);

// Removes every staged file of the list: an update that stops before its commit.
void DiscardCommitList(const wchar_t* folder, const CommitList* list);

#define COMMIT_DONE 0
#define COMMIT_ROLLED_BACK 1  // a rename failed (failing_path) and the previous version is back
#define COMMIT_MIXED 2        // ... and a rename back failed too: the journal stays for the next run

// Renames the list into place. failing_path: the name that could not be replaced.
int CommitUpdate(const wchar_t* folder, const CommitList* list, wchar_t* failing_path);

#define RECOVERY_NONE 0         // no update was stopped in its commit
#define RECOVERY_ROLLED_BACK 1  // one was, and the previous version is back in place
#define RECOVERY_FAILED 2       // one was, and some name could not be put back yet

// Puts back the version an update stopped in its commit had replaced, from its journal.
int RecoverInterruptedUpdate(const wchar_t* folder);

// Every name an update is about to replace can be renamed aside: no program holds one
// without sharing its deletion. Tried while busy; 0 with failing_path when one cannot.
int CanRenameAside(const wchar_t* folder, const wchar_t* name, wchar_t* failing_path);
