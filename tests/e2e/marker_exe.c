/* A look-alike program for the planted-tool tests: when run, under whatever name, it
   leaves "<its own path>.ran" beside itself and ends. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show)
{
    (void)instance;
    (void)previous;
    (void)command_line;
    (void)show;
    wchar_t path[MAX_PATH + 8];
    DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    const wchar_t* suffix = L".ran";
    for (DWORD i = 0; i <= 4; i++) path[n + i] = suffix[i];
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return 0;
}
