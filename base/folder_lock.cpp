#include "base/folder_lock.h"

#include "base/file_helpers.h"
#include "base/installation_layout.h"
#include "base/setup_state.h"
#include "base/text_format.h"

// A lock file that another run is just letting go of refuses a new opening for a moment
// (its deletion is pending): asked again a few times.
#define FOLDER_LOCK_RETRIES 10
#define FOLDER_LOCK_RETRY_MS 20

static HANDLE g_folder_lock = INVALID_HANDLE_VALUE;  // held while valid

// No sharing at all: any other opening fails while this handle lives. Deleted on close: the
// handle's end, however the process ends, removes the file. A reparse point is opened
// itself, never what it leads to.
static HANDLE OpenLockFile(const wchar_t* path, DWORD disposition)
{
    return CreateFileW(path, GENERIC_READ | DELETE, 0, nullptr, disposition,
                       FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
                       nullptr);
}

int TakeFolderLock(const wchar_t* folder)
{
    wchar_t path[SETUP_JOIN_UNITS];
    if (g_folder_lock != INVALID_HANDLE_VALUE) return FOLDER_LOCK_HELD;
    if (JoinPath(path, SETUP_JOIN_UNITS, folder, FOLDER_LOCK_NAME) < 0) return FOLDER_LOCK_NONE;
    for (int attempt = 0;; attempt++) {
        // A new file is never a link; an existing one is taken over only when it is a file
        // of the folder, so that closing it can never delete what a link leads to.
        HANDLE lock = OpenLockFile(path, CREATE_NEW);
        DWORD error = lock == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (lock == INVALID_HANDLE_VALUE && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)) {
            if (IsLinkItself(path)) return FOLDER_LOCK_NONE;
            lock = OpenLockFile(path, OPEN_EXISTING);
            error = lock == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        }
        if (lock != INVALID_HANDLE_VALUE) {
            g_folder_lock = lock;
            return FOLDER_LOCK_HELD;
        }
        if (error == ERROR_SHARING_VIOLATION) return FOLDER_LOCK_BUSY;
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_FILE_NOT_FOUND) || attempt == FOLDER_LOCK_RETRIES)
            return FOLDER_LOCK_NONE;
        Sleep(FOLDER_LOCK_RETRY_MS);
    }
}

void ReleaseFolderLock(void)
{
    if (g_folder_lock == INVALID_HANDLE_VALUE) return;
    CloseHandle(g_folder_lock);
    g_folder_lock = INVALID_HANDLE_VALUE;
}
