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

// The handle's number as stage 1 writes it: 1 to 16 hexadecimal digits and nothing else
// (0 otherwise). Read here rather than by the runtime's number parser, which is larger
// than this whole file.
static unsigned long long ParseHandleText(const wchar_t* text)
{
    unsigned long long value = 0;
    int digits = 0;
    for (; *text; text++, digits++) {
        wchar_t c = *text;
        int digit = c >= L'0' && c <= L'9' ? c - L'0'
                    : c >= L'A' && c <= L'F' ? c - L'A' + 10
                    : c >= L'a' && c <= L'f' ? c - L'a' + 10
                                             : -1;
        if (digit < 0 || digits == 16) return 0;
        value = value << 4 | (unsigned)digit;
    }
    return value;
}

int TakeHandedRunLock(const wchar_t* handle_text)
{
    if (handle_text) {
        unsigned long long value = ParseHandleText(handle_text);
        HANDLE handed = (HANDLE)(ULONG_PTR)value;
        if (value != 0 && IsTheLock(handed)) {
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
