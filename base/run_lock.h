// One run of setup or of its uninstaller at a time in the user's session: two runs on one
// folder (an update and an uninstall, say) could each leave the other's work half done.
// The lock is a named semaphore of one count, which, unlike a mutex, one process can hand
// to another: the uninstaller's first stage hands it to the second without a gap. The
// second stage takes it itself, once it runs, by duplicating the first stage's handle
// through the first stage's process handle that it inherited; a second stage that never
// gets that far (killed, stuck in its start) holds nothing, and the first stage's handle
// goes with the first stage. A handle the process opened itself is never taken as handed.
#pragma once
#include <windows.h>

#define RUN_LOCK_NAME L"Local\\TorrentinePCSetup.OneRunAtATime"
#define RUN_LOCK_BUSY_TEXT \
    L"Torrentine PC Setup is already running. Wait until it has finished, then try again."

// 1 when this process now holds the lock; 0 when another run holds it.
int TakeRunLock(void);
// Takes the lock that the process which started this one holds: lock_text is the lock's
// handle in that process, parent_text the inherited handle of that process (both
// hexadecimal); 1 when the handle duplicated from there is the lock. Otherwise the lock is
// taken as by TakeRunLock, and the result is 0 or 2 (held, but not handed over).
#define RUN_LOCK_HANDED_OVER 1
#define RUN_LOCK_TAKEN 2
int TakeHandedRunLock(const wchar_t* lock_text, const wchar_t* parent_text);
// The held lock's handle in this process, written into text as hexadecimal (17 units), for a
// child to duplicate; 0 when there is none.
int WriteRunLockHandle(wchar_t* text, size_t capacity);
// A handle value written by this program (1 to 16 hexadecimal digits), or null.
HANDLE ParseHandleText(const wchar_t* text);
void ReleaseRunLock(void);
// Closes this process's handle of the lock without giving it back: a child holds it now.
void LeaveRunLockToChild(void);
