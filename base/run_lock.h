// One run of setup or of its uninstaller at a time in the user's session: two runs on one
// folder (an update and an uninstall, say) could each leave the other's work half done.
// The lock is a named semaphore of one count, which, unlike a mutex, one process can hand
// to another: the uninstaller's first stage hands it to the second without a gap.
#pragma once
#include <windows.h>

#define RUN_LOCK_NAME L"Local\\TorrentinePCSetup.OneRunAtATime"
#define RUN_LOCK_BUSY_TEXT \
    L"Torrentine PC Setup is already running. Wait until it has finished, then try again."

// 1 when this process now holds the lock; 0 when another run holds it.
int TakeRunLock(void);
// Takes the lock that the process which started this one holds and handed down as the
// inherited handle written in handle_text (hexadecimal); 1 when that handle is the lock.
// Otherwise the lock is taken as by TakeRunLock, and the result is 0 or 2 (held, but not
// handed over).
#define RUN_LOCK_HANDED_OVER 1
#define RUN_LOCK_TAKEN 2
int TakeHandedRunLock(const wchar_t* handle_text);
// An inheritable handle of the held lock for a child, written into text as hexadecimal
// (17 units); null when there is none.
HANDLE InheritableRunLock(wchar_t* text, size_t capacity);
void ReleaseRunLock(void);
