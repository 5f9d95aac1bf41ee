#include <windows.h>
#include <shlwapi.h>
#include <wchar.h>

#include "base/path_helpers.h"
#include "base/setup_state.h"
#include "base/text_format.h"
#include "install/install_request.h"
#include "install/installation_mark.h"
#include "install/shell_registration.h"
#include "package/package_digest.h"
#include "install/package_extraction.h"
#include "package/package_format.h"
#include "rom/rom_image.h"
#include "uninstall/uninstaller.h"
#include "window/setup_window.h"

COLORREF VerdictColourFor(const wchar_t* text, int high_contrast)
{
    // The marks say success and failure in high contrast, where the player's own colours
    // are the only ones readable.
    if (high_contrast) return GetSysColor(COLOR_WINDOWTEXT);
    if (text[0] == L'\u2716') return VERDICT_RED;
    if (text[0] == L'\u2714') return VERDICT_GREEN;
    return VERDICT_GREY;
}

COLORREF VerdictColour(const wchar_t* text) { return VerdictColourFor(text, g_window.high_contrast); }

int ReadPathBox(HWND window, int id, wchar_t* path)
{
    path[0] = L'\0';
    if (GetWindowTextLengthW(GetDlgItem(window, id)) > SETUP_PATH_UNITS - 1) return 0;
    GetDlgItemTextW(window, id, path, SETUP_PATH_UNITS);
    if (UnixPathAsWindowsPath(path, SETUP_PATH_UNITS) < 0) {
        path[0] = L'\0';
        return 0;
    }
    return 1;
}

// The request's rule, as the install worker applies it, for the boxes' texts: 1 with the
// refusal, or 0.
static int RefuseInputs(int folder_fits, const wchar_t* folder, int rom_fits,
                        wchar_t* refusal, size_t capacity)
{
    ExtractContext measured;
    ZeroMemory(&measured, sizeof measured);
    WalkPackage(SumEntrySize, &measured);
    return RefuseInstallRequest(folder, folder_fits, rom_fits, &measured, refusal, capacity) != REQUEST_ACCEPTED;
}

// A failure after Install gets the room of the verdict, the progress bar (at zero then)
// and the message line together: six lines, so that its advice is never cut off.
void ShowFailureInVerdict(HWND window, const wchar_t* failure)
{
    wchar_t verdict[VERDICT_UNITS];
    FormatText(verdict, VERDICT_UNITS, L"\u2716  %s", failure);
    ApplyVerdictLayout(window, VERDICT_LAYOUT_FAILURE);
    SetAnnouncedText(window, ID_VERDICT, verdict);
}

const wchar_t* FinishedText(int desktop_shortcut, int start_menu_shortcut)
{
    if (desktop_shortcut && start_menu_shortcut)
        return L"\u2714  All set. Use the desktop / Start menu shortcut to play. Press Esc in the "
               L"game for its settings.";
    if (desktop_shortcut)
        return L"\u2714  All set. Use the desktop shortcut to play. Press Esc in the game for its "
               L"settings.";
    if (start_menu_shortcut)
        return L"\u2714  All set. Use the Start menu shortcut to play. Press Esc in the game for "
               L"its settings.";
    return L"\u2714  All set. Press Play, or run TorrentinePC.exe in the install folder. Press Esc "
           L"in the game for its settings.";
}

int ShortcutLeadsInto(REFKNOWNFOLDERID where, const wchar_t* folder)
{
    wchar_t shortcut[SETUP_JOIN_UNITS];
    KnownFolderFilePath(where, SHORTCUT_NAME, shortcut, SETUP_JOIN_UNITS);
    return shortcut[0] && GetFileAttributesW(shortcut) != INVALID_FILE_ATTRIBUTES &&
           ShortcutPointsIntoFolder(shortcut, folder);
}

void FinishedVerdict(int desktop_asked, int desktop_made, int start_menu_asked, int start_menu_made,
                     wchar_t* verdict, size_t capacity)
{
    const wchar_t* missing = nullptr;
    int desktop_missing = desktop_asked && !desktop_made;
    int start_menu_missing = start_menu_asked && !start_menu_made;
    if (desktop_missing && start_menu_missing)
        missing = L"The desktop and Start menu shortcuts could not be made.";
    else if (desktop_missing)
        missing = L"The desktop shortcut could not be made.";
    else if (start_menu_missing)
        missing = L"The Start menu shortcut could not be made.";
    const wchar_t* text = FinishedText(desktop_made, start_menu_made);
    if (missing)
        FormatText(verdict, capacity, L"%s %s", text, missing);
    else
        FormatText(verdict, capacity, L"%s", text);
}

void ValidateInputs(HWND window)
{
    if (g_window.busy || g_window.finished) return;  // the worker's states are not the validation's
    wchar_t rom[SETUP_PATH_UNITS], folder[SETUP_PATH_UNITS];
    int rom_fits = ReadPathBox(window, ID_ROM_BOX, rom);
    int folder_fits = ReadPathBox(window, ID_FOLDER_BOX, folder);
    TrimInputPath(rom);
    TrimInputPath(folder);
    // Whatever the last run said is about other inputs now.
    RestoreVerdictLayout(window);
    SetDlgItemTextW(window, ID_MESSAGE, HINT_TEXT);

    bool installed = folder[0] != L'\0' && CanUpdateWithoutRom(folder);
    wchar_t verdict[VERDICT_UNITS], refusal[VERDICT_UNITS];
    int refused = g_window.package_damaged ||
                  RefuseInputs(folder_fits, folder, rom_fits, refusal, VERDICT_UNITS);
    if (g_window.package_damaged)
        FormatText(refusal, VERDICT_UNITS, L"%s", PACKAGE_DAMAGED_TEXT);
    if (refused) {
        FormatText(verdict, VERDICT_UNITS, L"\u2716  %s", refusal);
    } else if (rom[0] != L'\0') {
        uint32_t length = 0;
        int code = ReadRomFile(rom, &length, nullptr, nullptr);
        refused = code != ROMCHECK_ACCEPTED;
        if (code == ROMCHECK_ACCEPTED)
            FormatText(verdict, VERDICT_UNITS, L"%s", RomCheckMessage(code));
        else
            FormatText(verdict, VERDICT_UNITS, L"\u2716  %s", RomCheckMessage(code));
    } else if (installed) {
        FormatText(verdict, VERDICT_UNITS, L"%s",
                   L"Torrentine is already installed in that folder: leave the ROM box empty to "
                   L"only update the PC version.");
    } else {
        refused = 1;  // nothing to install from yet: the guidance, not an error
        FormatText(verdict, VERDICT_UNITS, L"%s",
                   L"Choose your own Torrentine ROM: the Jun 15, 1999 prototype (.z64, .v64 or "
                   L".n64).");
    }
    SetAnnouncedText(window, ID_VERDICT, verdict);
    const wchar_t* label = !installed ? L"Install" : (rom[0] ? L"Reinstall" : L"Update");
    SetDlgItemTextW(window, ID_INSTALL, label);
    // Install starts only what would start: anything the worker would refuse waits here.
    g_window.inputs_refused = refused;
    EnableWindow(GetDlgItem(window, ID_INSTALL), !refused);
}

void SetBusyState(HWND window, int busy)
{
    g_window.busy = busy;
    static const int inputs[] = {ID_ROM_BOX,       ID_ROM_BROWSE,       ID_FOLDER_BOX, ID_FOLDER_BROWSE,
                                 ID_DESKTOP_CHECK, ID_START_MENU_CHECK, ID_INSTALL};
    for (int id : inputs) EnableWindow(GetDlgItem(window, id), !busy);
    if (!busy && g_window.inputs_refused) EnableWindow(GetDlgItem(window, ID_INSTALL), FALSE);
    SetDlgItemTextW(window, ID_CLOSE, busy ? L"Cancel" : L"Close");
}

void ApplyFolderRule(const wchar_t* picked, wchar_t* folder_out)
{
    const wchar_t* last = PathFindFileNameW(picked);
    if (CompareStringOrdinal(last, -1, L"Torrentine PC", -1, TRUE) == CSTR_EQUAL ||
        FolderHoldsInstallation(picked)) {
        FormatText(folder_out, SETUP_JOIN_UNITS, L"%s", picked);
        return;
    }
    // A drive's root ends in its separator already: "C:\" gives "C:\Torrentine PC".
    size_t units = wcslen(picked);
    if (units > 0 && picked[units - 1] == L'\\')
        FormatText(folder_out, SETUP_JOIN_UNITS, L"%sTorrentine PC", picked);
    else
        JoinPath(folder_out, SETUP_JOIN_UNITS, picked, L"Torrentine PC");
}
