// One run at a time on an installation folder, across sessions and users. The run lock
// (base/run_lock.h) is per session: two users of one PC (fast user switching, remote
// desktop) could otherwise update and uninstall the same shared folder at once. The folder
// lock is a file in the folder itself (FOLDER_LOCK_NAME), opened with no sharing at all, so
// that no other run can open it while it is held, and to be deleted on close, so that it
// goes with its one handle: at the release, or when the process ends in any way (Windows
// closes a dead process's handles). A lock file that a power cut left is not held, and the
// next run takes it over. Installs (new ones and updates) and the uninstaller take it,
// besides the session lock, before they change anything in the folder.
#pragma once
#include <windows.h>

#define FOLDER_LOCK_HELD   1
#define FOLDER_LOCK_BUSY   0   // another run holds it: say RUN_LOCK_BUSY_TEXT and change nothing
#define FOLDER_LOCK_NONE  -1   // no lock file could be made (a read-only folder or drive, or a
                               // link at its name): the run goes on, and its own writes fail
                               // as they would have

int TakeFolderLock(const wchar_t* folder);
// Lets the lock go, its file with it: before the folder itself is removed, and at the end.
void ReleaseFolderLock(void);
