/* A look-alike system library for the library-loading test: when any process loads it,
   it leaves "loaded-<its name>.txt" beside itself. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH];
        wchar_t marker[MAX_PATH + 40];
        DWORD n = GetModuleFileNameW(instance, path, MAX_PATH);
        DWORD folder = n;
        while (folder > 0 && path[folder - 1] != L'\\') folder--;
        DWORD at = 0;
        for (DWORD i = 0; i < folder; i++) marker[at++] = path[i];
        const wchar_t* prefix = L"loaded-";
        for (DWORD i = 0; prefix[i]; i++) marker[at++] = prefix[i];
        for (DWORD i = folder; i < n; i++) marker[at++] = path[i];
        const wchar_t* suffix = L".txt";
        for (DWORD i = 0; i <= 4; i++) marker[at++] = suffix[i];
        HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    return TRUE;
}
