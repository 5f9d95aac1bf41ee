#include "base/run_lock.h"

#include <wchar.h>

#include "base/text_format.h"

static HANDLE g_run_lock = nullptr;  // held while set

int TakeRunLock(void)
{
    HANDLE lock = CreateSemaphoreW(nullptr, 1, 1, RUN_LOCK_NAME);
    if (!lock) return 0;
    if (WaitForSingleObject(lock, 0) != WAIT_OBJECT_0) {
        CloseHandle(lock);
        return 0;
    }
    g_run_lock = lock;
    return 1;
}

typedef BOOL(WINAPI* CompareObjectHandlesFunction)(HANDLE, HANDLE);

// Whether handle, valid in this process and not opened by it by name, is the same kernel
// object as the named lock. The name is opened only now, after the handle was obtained, so
// the handle can never be this process's own opening of it.
static int IsTheLock(HANDLE handle)
{
    HANDLE named = OpenSemaphoreW(SYNCHRONIZE | SEMAPHORE_MODIFY_STATE, FALSE, RUN_LOCK_NAME);
    if (!named) return 0;
    HMODULE kernelbase = GetModuleHandleW(L"kernelbase.dll");
    CompareObjectHandlesFunction compare =
        kernelbase ? (CompareObjectHandlesFunction)(void*)GetProcAddress(kernelbase, "CompareObjectHandles")
                   : nullptr;
    // Windows before 10 cannot compare: a semaphore duplicated from the parent beside the
    // named lock is taken as it.
    int same = handle != named && (!compare || compare(handle, named));
    CloseHandle(named);
    return same;
}

// Read here rather than by the runtime's number parser, which is larger than this whole
// file. Pseudo-handles (the process's and thread's own, all bits set at the top) are no
// handle anyone hands over.
HANDLE ParseHandleText(const wchar_t* text)
{
    if (!text || !*text) return nullptr;
    unsigned long long value = 0;
    int digits = 0;
    for (; *text; text++, digits++) {
        wchar_t c = *text;
        int digit = c >= L'0' && c <= L'9' ? c - L'0'
                    : c >= L'A' && c <= L'F' ? c - L'A' + 10
                    : c >= L'a' && c <= L'f' ? c - L'a' + 10
                                             : -1;
        if (digit < 0 || digits == 16) return nullptr;
        value = value << 4 | (unsigned)digit;
    }
    if (value == 0 || value > 0xFFFFFFFFull) return nullptr;
    return (HANDLE)(ULONG_PTR)value;
}

// A handle of the parent's lock, duplicated into this process through the parent's process
// handle, which this process must have inherited: a handle that is not valid here, or not a
// process that holds the lock at that value, gives nothing.
static HANDLE DuplicateParentLock(const wchar_t* lock_text, const wchar_t* parent_text)
{
    HANDLE parent = ParseHandleText(parent_text), parent_lock = ParseHandleText(lock_text);
    DWORD flags = 0;
    if (!parent || !parent_lock || !GetHandleInformation(parent, &flags)) return nullptr;
    HANDLE mine = nullptr;
    if (!DuplicateHandle(parent, parent_lock, GetCurrentProcess(), &mine,
                         SYNCHRONIZE | SEMAPHORE_MODIFY_STATE, FALSE, 0))
        mine = nullptr;
    CloseHandle(parent);  // inherited for this one use
    return mine;
}

int TakeHandedRunLock(const wchar_t* lock_text, const wchar_t* parent_text)
{
    HANDLE handed = DuplicateParentLock(lock_text, parent_text);
    if (handed && IsTheLock(handed)) {
        g_run_lock = handed;
        return RUN_LOCK_HANDED_OVER;
    }
    if (handed) CloseHandle(handed);
    return TakeRunLock() ? RUN_LOCK_TAKEN : 0;
}

int WriteRunLockHandle(wchar_t* text, size_t capacity)
{
    return g_run_lock && FormatText(text, capacity, L"%llX", (unsigned long long)(ULONG_PTR)g_run_lock) >= 0;
}

void ReleaseRunLock(void)
{
    if (!g_run_lock) return;
    ReleaseSemaphore(g_run_lock, 1, nullptr);
    CloseHandle(g_run_lock);
    g_run_lock = nullptr;
}

void LeaveRunLockToChild(void)
{
    if (!g_run_lock) return;
    CloseHandle(g_run_lock);
    g_run_lock = nullptr;
}
