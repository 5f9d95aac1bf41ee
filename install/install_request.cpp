#include "install/install_request.h"

#include <windows.h>

#include "base/path_helpers.h"
#include "base/setup_state.h"
#include "base/text_format.h"
#include "install/install_folder_check.h"

// A drive path whose drive is not there: no folder can be made on it.
static int DriveIsMissing(const wchar_t* folder)
{
    if (FolderPathForm(folder) != PATH_FORM_FULL || folder[0] == L'\\') return 0;
    wchar_t root[4] = {folder[0], L':', L'\\', L'\0'};
    return GetDriveTypeW(root) == DRIVE_NO_ROOT_DIR;
}

int RefuseInstallRequest(const wchar_t* folder, int folder_fits, int rom_fits,
                         const ExtractContext* measured, wchar_t* refusal, size_t capacity)
{
    if (g_setup.own_path[0] == L'\0') {
        // Without its own path setup cannot copy itself as the uninstaller, and an
        // installation without one could not be removed.
        FormatText(refusal, capacity, L"%s",
                   L"The setup program's path is too long to be read: move it to a shorter path "
                   L"and run it again.");
        return FAILED_INPUT_FOLDER;
    }
    int limit = InstallFolderLimit(measured);
    if (!folder_fits) {
        FolderTooLongMessage(limit, refusal, capacity);
        return FAILED_INPUT_FOLDER;
    }
    if (folder[0] == L'\0') {
        FormatText(refusal, capacity, L"%s", L"Choose a folder to install to.");
        return FAILED_INPUT_FOLDER;
    }
    if (!CheckInstallFolder(folder, limit, refusal, capacity)) return FAILED_INPUT_FOLDER;
    if (DriveIsMissing(folder)) {
        FormatText(refusal, capacity,
                   L"There is no drive %c: on this computer: choose a folder on another drive.",
                   folder[0]);
        return FAILED_INPUT_FOLDER;
    }
    if (!rom_fits) {
        FormatText(refusal, capacity, L"%s", ROM_PATH_TOO_LONG_TEXT);
        return FAILED_INPUT_ROM;
    }
    return REQUEST_ACCEPTED;
}
