#include "install/shell_registration.h"

#include <shlobj.h>
#include <wchar.h>

#include "base/file_helpers.h"
#include "base/path_helpers.h"
#include "base/setup_state.h"
#include "base/text_format.h"

int CreateShortcut(const wchar_t* shortcut_path, const wchar_t* target,
                   const wchar_t* working_folder, const wchar_t* icon_path,
                   const wchar_t* description)
{
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                (void**)&link)))
        return 0;
    link->SetPath(target);
    link->SetWorkingDirectory(working_folder);
    link->SetIconLocation(icon_path ? icon_path : target, 0);
    link->SetDescription(description);

    int saved = 0;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&file))) {
        saved = SUCCEEDED(file->Save(shortcut_path, TRUE));
        file->Release();
    }
    link->Release();
    return saved;
}

// The release's version as its version resource gives it, the first two parts ("1.0"): the
// one version number of the build, read from the program that installs.
void ReadDisplayVersion(wchar_t* text, size_t capacity)
{
    text[0] = L'\0';
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_VERSION);
    DWORD size = resource ? SizeofResource(nullptr, resource) : 0;
    HGLOBAL loaded = resource ? LoadResource(nullptr, resource) : nullptr;
    const BYTE* bytes = loaded ? (const BYTE*)LockResource(loaded) : nullptr;
    // VS_FIXEDFILEINFO starts with its signature on a 4-byte boundary.
    for (DWORD at = 0; bytes && at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        const VS_FIXEDFILEINFO* fixed = (const VS_FIXEDFILEINFO*)(bytes + at);
        if (fixed->dwSignature != 0xFEEF04BD) continue;
        FormatText(text, capacity, L"%u.%u", (unsigned)HIWORD(fixed->dwFileVersionMS),
                   (unsigned)LOWORD(fixed->dwFileVersionMS));
        return;
    }
}

LSTATUS SetStringValue(HKEY key, const wchar_t* name, const wchar_t* text)
{
    DWORD bytes = (DWORD)((wcslen(text) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, (const BYTE*)text, bytes);
}

static void SetDwordValue(HKEY key, const wchar_t* name, DWORD value)
{
    RegSetValueExW(key, name, 0, REG_DWORD, (const BYTE*)&value, sizeof value);
}

void RegisterShellEntries(const wchar_t* game_executable, const wchar_t* install_folder,
                          const wchar_t* icon_path, const wchar_t* display_name,
                          int make_desktop_shortcut, int make_start_menu_shortcut)
{
    wchar_t shortcut[SETUP_JOIN_UNITS];
    if (make_desktop_shortcut) {
        KnownFolderFilePath(FOLDERID_Desktop, SHORTCUT_NAME, shortcut, SETUP_JOIN_UNITS);
        if (shortcut[0])
            CreateShortcut(shortcut, game_executable, install_folder, icon_path, display_name);
    }
    if (make_start_menu_shortcut) {
        KnownFolderFilePath(FOLDERID_Programs, SHORTCUT_NAME, shortcut, SETUP_JOIN_UNITS);
        if (shortcut[0])
            CreateShortcut(shortcut, game_executable, install_folder, icon_path, display_name);
    }

    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, UNINSTALL_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;

    wchar_t uninstaller[SETUP_JOIN_UNITS];
    JoinPath(uninstaller, SETUP_JOIN_UNITS, install_folder, UNINSTALLER_NAME);
    wchar_t command[UNINSTALL_COMMAND_UNITS], quiet[UNINSTALL_COMMAND_UNITS], version[32], date[16];
    FormatText(command, UNINSTALL_COMMAND_UNITS, L"\"%s\" /uninstall", uninstaller);
    FormatText(quiet, UNINSTALL_COMMAND_UNITS, L"\"%s\" /uninstall /S", uninstaller);
    ReadDisplayVersion(version, 32);
    SYSTEMTIME today;
    GetLocalTime(&today);
    FormatText(date, 16, L"%04u%02u%02u", (unsigned)today.wYear, (unsigned)today.wMonth, (unsigned)today.wDay);

    SetStringValue(key, L"DisplayName", display_name);
    SetStringValue(key, L"DisplayIcon", icon_path);
    SetStringValue(key, L"UninstallString", command);
    SetStringValue(key, L"QuietUninstallString", quiet);
    SetStringValue(key, L"InstallLocation", install_folder);
    SetStringValue(key, L"Publisher", L"Torrentine PC port");
    SetStringValue(key, L"DisplayVersion", version);
    SetStringValue(key, L"InstallDate", date);
    SetDwordValue(key, L"NoModify", 1);
    SetDwordValue(key, L"NoRepair", 1);
    SetDwordValue(key, L"EstimatedSize", (DWORD)(TreeSize(install_folder) >> 10));
    RegCloseKey(key);
}
