// What the setup program's fixed costs are made of under Wine: each run does only the
// named parts of a silent install's start and end, so that timing one mode against
// another puts a figure on a library, a COM apartment or a registry write. Built and
// linked like the setup program (every Windows library but kernel32 delay-loaded).
//
//   fixed_cost_probe.exe PARTS     PARTS: a comma-separated list of
//     argv      CommandLineToArgvW (shell32)
//     shell     SHGetKnownFolderPath and PathIsRelativeW (shell32, shlwapi)
//     registry  read the uninstall key's InstallLocation (advapi32)
//     sta, mta  CoInitializeEx with a single-threaded / multithreaded apartment (ole32)
//     link      create the shell link object and release it (COM)
//     window    create a hidden window and destroy it (user32: the desktop)
//     none      nothing (the same as an empty list)
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wchar.h>

#include "bench/floor/first_argument.h"

static int Has(const wchar_t* parts, const wchar_t* name) { return wcsstr(parts, name) != nullptr; }

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    const wchar_t* parts = FirstArgument();
    if (Has(parts, L"argv")) {
        int argc = 0;
        CommandLineToArgvW(GetCommandLineW(), &argc);
    }
    if (Has(parts, L"shell")) {
        PWSTR known = nullptr;
        if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Profile, 0, nullptr, &known)))
            CoTaskMemFree(known);
        PathIsRelativeW(L"C:\\Bench");
    }
    if (Has(parts, L"registry")) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER,
                          L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TorrentinePC",
                          0, KEY_READ, &key) == ERROR_SUCCESS)
            RegCloseKey(key);
    }
    if (Has(parts, L"sta")) CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (Has(parts, L"mta")) CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (Has(parts, L"link")) {
        IShellLinkW* link = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IShellLinkW, (void**)&link)))
            link->Release();
    }
    if (Has(parts, L"window")) {
        HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr,
                                      nullptr, nullptr);
        if (window) DestroyWindow(window);
    }
    if (Has(parts, L"sta") || Has(parts, L"mta")) CoUninitialize();
    return 0;
}
