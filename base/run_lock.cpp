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

// Whether handle, valid in this process, is the same kernel object as the named lock.
static int IsTheLock(HANDLE handle)
{
    HANDLE named = OpenSemaphoreW(SYNCHRONIZE | SEMAPHORE_MODIFY_STATE, FALSE, RUN_LOCK_NAME);
    if (!named) return 0;
    HMODULE kernelbase = GetModuleHandleW(L"kernelbase.dll");
    CompareObjectHandlesFunction compare =
        kernelbase ? (CompareObjectHandlesFunction)(void*)GetProcAddress(kernelbase, "CompareObjectHandles")
                   : nullptr;
    // Windows before 10 cannot compare: a valid inherited handle beside the named lock is
    // taken as it.
    DWORD flags = 0;
    int same = GetHandleInformation(handle, &flags) && (!compare || compare(handle, named));
    CloseHandle(named);
    return same;
}

int TakeHandedRunLock(const wchar_t* handle_text)
{
    if (handle_text) {
        wchar_t* end = nullptr;
        unsigned long long value = wcstoull(handle_text, &end, 16);
        HANDLE handed = (HANDLE)(ULONG_PTR)value;
        if (end && *end == L'\0' && value != 0 && IsTheLock(handed)) {
            g_run_lock = handed;
            return RUN_LOCK_HANDED_OVER;
        }
    }
    return TakeRunLock() ? RUN_LOCK_TAKEN : 0;
}

HANDLE InheritableRunLock(wchar_t* text, size_t capacity)
{
    HANDLE copy = nullptr;
    if (!g_run_lock || !DuplicateHandle(GetCurrentProcess(), g_run_lock, GetCurrentProcess(), &copy,
                                        0, TRUE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    if (FormatText(text, capacity, L"%llX", (unsigned long long)(ULONG_PTR)copy) < 0) {
        CloseHandle(copy);
        return nullptr;
    }
    return copy;
}

void ReleaseRunLock(void)
{
    if (!g_run_lock) return;
    ReleaseSemaphore(g_run_lock, 1, nullptr);
    CloseHandle(g_run_lock);
    g_run_lock = nullptr;
}
