// Virus scanners, the search indexer and sync clients open a file just written, or about to
// be removed, for a moment: a rename or deletion that meets one is tried again with a
// growing pause (20 ms doubling to 1 s), for about 10 s in all, before it counts as failed.
#pragma once
#include <windows.h>

#define BUSY_RETRY_BUDGET_MS 10000

// 1 when the attempt is done; 0 when it failed, with the reason in GetLastError().
typedef int (*BusyAttempt)(void* param);

// 1 for the errors a passing holder causes: a sharing violation, a lock, access denied.
int IsBusyError(DWORD error);

// Calls attempt until it succeeds, fails for another reason than a busy file, or the budget
// is spent. 1 when it succeeded; otherwise GetLastError() is the last attempt's reason.
int RetryWhileBusy(BusyAttempt attempt, void* param);

// Renames from to to (MoveFileExW's flags: 0 never replaces anything). Retried while busy.
int RenameWithRetries(const wchar_t* from, const wchar_t* to, DWORD flags);

// 1 while path cannot be opened for writing because a program runs from it (a mapped image
// refuses writing, on Windows as under Wine) or holds it without sharing writing; retried
// while busy, so that a scanner's moment is not taken for the game. A read-only or missing
// file is not running.
int ProgramFileInUse(const wchar_t* path);
