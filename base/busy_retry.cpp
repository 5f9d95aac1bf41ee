#include "base/busy_retry.h"

int IsBusyError(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_USER_MAPPED_FILE;
}

int RetryWhileBusy(BusyAttempt attempt, void* param)
{
    DWORD pause = 20, slept = 0;
    for (;;) {
        if (attempt(param)) return 1;
        DWORD error = GetLastError();
        if (!IsBusyError(error) || slept >= BUSY_RETRY_BUDGET_MS) {
            SetLastError(error);
            return 0;
        }
        Sleep(pause);
        slept += pause;
        pause = pause * 2 > 1000 ? 1000 : pause * 2;
    }
}

struct RenamePair {
    const wchar_t* from;
    const wchar_t* to;
    DWORD flags;
};

static int RenameOnce(void* param)
{
    RenamePair* pair = (RenamePair*)param;
    return MoveFileExW(pair->from, pair->to, pair->flags) != 0;
}

int RenameWithRetries(const wchar_t* from, const wchar_t* to, DWORD flags)
{
    RenamePair pair = {from, to, flags};
    return RetryWhileBusy(RenameOnce, &pair);
}

static int OpenForWriting(void* param)
{
    HANDLE file = CreateFileW((const wchar_t*)param, GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    CloseHandle(file);
    return 1;
}

int ProgramFileInUse(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
        return 0;
    if (RetryWhileBusy(OpenForWriting, (void*)path)) return 0;
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_USER_MAPPED_FILE || error == ERROR_LOCK_VIOLATION;
}
