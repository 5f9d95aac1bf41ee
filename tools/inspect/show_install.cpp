// show_install: prints what the shell knows of an installation: the per-user uninstall
// entry with its values and types, and the desktop and Start-menu shortcuts as the shell
// reads them back. Used by the demo.
#include <objbase.h>
#include <shlobj.h>
#include <stdio.h>
#include <windows.h>

static const wchar_t* UNINSTALL_KEY = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TorrentinePC";

static void PrintUtf8(const wchar_t* text)
{
    char utf8[4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    if (n > 0) fputs(utf8, stdout);
}

static void ShowUninstallEntry(void)
{
    printf("Uninstall entry HKCU\\");
    PrintUtf8(UNINSTALL_KEY);
    printf("\n");
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, UNINSTALL_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        printf("  (none)\n");
        return;
    }
    for (DWORD i = 0;; i++) {
        wchar_t name[256];
        BYTE data[2048];
        DWORD units = 256, bytes = sizeof data - 2, type = 0;
        if (RegEnumValueW(key, i, name, &units, nullptr, &type, data, &bytes) != ERROR_SUCCESS) break;
        printf("  %-16ls ", name);
        if (type == REG_DWORD) {
            printf("REG_DWORD  %lu\n", *(DWORD*)data);
        } else {
            data[bytes] = data[bytes + 1] = 0;
            printf("%-10s ", type == REG_SZ ? "REG_SZ" : "other");
            PrintUtf8((const wchar_t*)data);
            printf("\n");
        }
    }
    RegCloseKey(key);
}

static void ShowShortcut(REFKNOWNFOLDERID where, const char* label)
{
    PWSTR folder = nullptr;
    if (FAILED(SHGetKnownFolderPath(where, 0, nullptr, &folder))) return;
    wchar_t path[MAX_PATH * 2];
    _snwprintf(path, MAX_PATH * 2, L"%ls\\Torrentine PC.lnk", folder);
    CoTaskMemFree(folder);
    printf("%s shortcut ", label);
    PrintUtf8(path);
    printf("\n");
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES ||
        FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, (void**)&link))) {
        printf("  (none)\n");
        return;
    }
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&file)) &&
        SUCCEEDED(file->Load(path, STGM_READ))) {
        wchar_t text[MAX_PATH * 2];
        int index = 0;
        PIDLIST_ABSOLUTE items = nullptr;
        if (SUCCEEDED(link->GetIDList(&items)) && items && SHGetPathFromIDListW(items, text)) {
            printf("  target       ");
            PrintUtf8(text);
            printf("\n");
        }
        CoTaskMemFree(items);
        if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH * 2))) {
            printf("  start in     ");
            PrintUtf8(text);
            printf("\n");
        }
        if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH * 2, &index))) {
            printf("  icon         ");
            PrintUtf8(text);
            printf(",%d\n", index);
        }
        if (SUCCEEDED(link->GetDescription(text, MAX_PATH * 2))) {
            printf("  description  ");
            PrintUtf8(text);
            printf("\n");
        }
    }
    if (file) file->Release();
    link->Release();
}

int wmain()
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ShowUninstallEntry();
    ShowShortcut(FOLDERID_Desktop, "Desktop");
    ShowShortcut(FOLDERID_Programs, "Start-menu");
    CoUninitialize();
    return 0;
}
