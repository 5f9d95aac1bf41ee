#include "app/default_folder.h"

#include <windows.h>
#include <shlobj.h>

#include "base/path_helpers.h"
#include "base/setup_state.h"
#include "install/shell_registration.h"

void ReadDefaultInstallFolder(wchar_t* folder)
{
    folder[0] = L'\0';
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, UNINSTALL_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD type = 0;
        DWORD bytes = SETUP_PATH_UNITS * sizeof(wchar_t);
        LSTATUS status = RegQueryValueExW(key, L"InstallLocation", nullptr, &type,
                                          (BYTE*)folder, &bytes);
        RegCloseKey(key);
        DWORD units = bytes / sizeof(wchar_t);
        if (status != ERROR_SUCCESS || type != REG_SZ) {
            folder[0] = L'\0';
        } else if (units == 0 || folder[units - 1] != L'\0') {
            // The registry does not terminate what it stores without a terminator: a value
            // that fills all 260 units that way is treated as absent, a shorter one is closed.
            if (units >= SETUP_PATH_UNITS)
                folder[0] = L'\0';
            else
                folder[units] = L'\0';
        }
    }
    if (folder[0] == L'\0')
        KnownFolderFilePath(FOLDERID_Profile, L"Games\\Torrentine PC", folder, SETUP_PATH_UNITS);
}
