#include "install/installation_mark.h"

#include <string.h>

#include "base/file_deletion.h"
#include "base/file_helpers.h"
#include "base/setup_state.h"
#include "base/text_format.h"
#include "install/install_worker.h"
#include "rom/rom_image.h"

const char INSTALLATION_MARK_TEXT[] =
    "Settings, saves, mods and the ROM copy are kept in this folder.\r\n";
const uint32_t INSTALLATION_MARK_BYTES = sizeof INSTALLATION_MARK_TEXT - 1;

int FolderHoldsInstallation(const wchar_t* folder)
{
    // One byte more than the mark tells a longer file apart.
    char bytes[sizeof INSTALLATION_MARK_TEXT];
    int count = ReadFileInFolder(folder, PORTABLE_NOTE_NAME, bytes, sizeof bytes);
    return count == (int)INSTALLATION_MARK_BYTES &&
           memcmp(bytes, INSTALLATION_MARK_TEXT, INSTALLATION_MARK_BYTES) == 0;
}

int CanUpdateWithoutRom(const wchar_t* folder)
{
    return FolderHoldsInstallation(folder) && HasInstalledRomCopy(folder);
}

int WriteInstallationMark(const wchar_t* folder)
{
    if (FolderHoldsInstallation(folder)) return 1;
    wchar_t path[SETUP_JOIN_UNITS];
    if (JoinPath(path, SETUP_JOIN_UNITS, folder, PORTABLE_NOTE_NAME) < 0) return 0;
    // A new file only: whatever else stands at that name is not setup's to replace.
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    BOOL ok = WriteFile(file, INSTALLATION_MARK_TEXT, INSTALLATION_MARK_BYTES, &written, nullptr);
    CloseHandle(file);
    if (ok && written == INSTALLATION_MARK_BYTES) return 1;
    DeleteInFolder(folder, PORTABLE_NOTE_NAME);  // this run's own incomplete file
    return 0;
}
