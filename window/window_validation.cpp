#include <windows.h>
#include <shlwapi.h>
#include <wchar.h>

#include "base/path_helpers.h"
#include "base/setup_state.h"
#include "base/text_format.h"
#include "rom/rom_image.h"
#include "window/setup_window.h"

COLORREF VerdictColour(const wchar_t* text)
{
    if (text[0] == L'\u2716') return VERDICT_RED;
    if (text[0] == L'\u2714') return VERDICT_GREEN;
    return VERDICT_GREY;
}

void ValidateInputs(HWND window)
{
    if (g_setup.busy) return;
    wchar_t rom[SETUP_PATH_UNITS], folder[SETUP_PATH_UNITS];
    GetDlgItemTextW(window, ID_ROM_BOX, rom, SETUP_PATH_UNITS);
    GetDlgItemTextW(window, ID_FOLDER_BOX, folder, SETUP_PATH_UNITS);
    TrimInputPath(rom);
    TrimInputPath(folder);

    bool installed = folder[0] != L'\0' && HasInstalledRomCopy(folder);
    wchar_t verdict[VERDICT_UNITS];
    if (rom[0] != L'\0') {
        uint8_t* image = nullptr;
        uint32_t length = 0;
        int code = LoadRomImage(rom, &image, &length);
        FreeRomImage(image);
        if (code == ROMCHECK_ACCEPTED)
            FormatText(verdict, VERDICT_UNITS, L"%s", RomCheckMessage(code));
        else
            FormatText(verdict, VERDICT_UNITS, L"\u2716  %s", RomCheckMessage(code));
    } else if (installed) {
        FormatText(verdict, VERDICT_UNITS, L"%s",
                   L"Torrentine is already installed in that folder: leave the ROM box empty to "
                   L"only update the PC version.");
    } else {
        FormatText(verdict, VERDICT_UNITS, L"%s",
                   L"Choose your own Torrentine ROM: the Jun 15, 1999 prototype (.z64, .v64 or "
                   L".n64).");
    }
    SetDlgItemTextW(window, ID_VERDICT, verdict);
    const wchar_t* label = !installed ? L"Install" : (rom[0] ? L"Reinstall" : L"Update");
    SetDlgItemTextW(window, ID_INSTALL, label);
}

void SetBusyState(HWND window, int busy)
{
    g_setup.busy = busy;
    static const int inputs[] = {ID_ROM_BOX,       ID_ROM_BROWSE,       ID_FOLDER_BOX, ID_FOLDER_BROWSE,
                                 ID_DESKTOP_CHECK, ID_START_MENU_CHECK, ID_INSTALL};
    for (int id : inputs) EnableWindow(GetDlgItem(window, id), !busy);
    SetDlgItemTextW(window, ID_CLOSE, busy ? L"Cancel" : L"Close");
}

void ApplyFolderRule(const wchar_t* picked, wchar_t* folder_out)
{
    const wchar_t* last = PathFindFileNameW(picked);
    if (CompareStringOrdinal(last, -1, L"Torrentine PC", -1, TRUE) == CSTR_EQUAL ||
        HasInstalledRomCopy(picked)) {
        FormatText(folder_out, SETUP_PATH_UNITS, L"%s", picked);
        return;
    }
    wchar_t joined[SETUP_JOIN_UNITS];
    JoinPath(joined, SETUP_JOIN_UNITS, picked, L"Torrentine PC");
    FormatText(folder_out, SETUP_PATH_UNITS, L"%s", joined);  // the box holds 259 units at most
}
