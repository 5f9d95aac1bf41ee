#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <wchar.h>

#include "base/file_helpers.h"
#include "base/path_helpers.h"
#include "base/setup_state.h"
#include "base/text_format.h"
#include "install/install_worker.h"
#include "install/shell_registration.h"
#include "rom/rom_image.h"
#include "uninstall/uninstaller.h"

static const wchar_t* const GAME_FILES[] = {
    L"SDL2.dll", L"dxcompiler.dll", L"dxil.dll", L"Torrentine PC.ico", L"msvcp140.dll",
    L"msvcp140_atomic_wait.dll", L"vcruntime140.dll", L"vcruntime140_1.dll",
    L"torrentine.n64.proto.19990615.z64",
};

static const wchar_t* const SAVE_TREES[] = {L"saves", L"mods", L"mod_config"};

// Retries a file that another process may still hold: 1 when it is gone or was never
// there, 0 when every attempt failed. A run that gives up reports at once, without the
// last sleep.
static int DeleteWithRetries(const wchar_t* folder, const wchar_t* name, int stop_at_last_failure)
{
    wchar_t path[SETUP_JOIN_UNITS];
    if (JoinPath(path, SETUP_JOIN_UNITS, folder, name) < 0) return 0;
    for (int attempt = 1; attempt <= UNINSTALL_RETRIES; attempt++) {
        DWORD attributes = GetFileAttributesW(path);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return 1;
        if (DeleteInFolder(folder, name)) return 1;
        if (attempt == UNINSTALL_RETRIES && stop_at_last_failure) return 0;
        Sleep(UNINSTALL_RETRY_MS);
    }
    return 0;
}

// A path made comparable: absolute, without a trailing backslash (except a drive root's).
static int ComparablePath(const wchar_t* path, wchar_t* out)
{
    DWORD units = GetFullPathNameW(path, SETUP_JOIN_UNITS, out, nullptr);
    if (units == 0 || units >= SETUP_JOIN_UNITS) return 0;
    size_t length = wcslen(out);
    while (length > 3 && out[length - 1] == L'\\') out[--length] = L'\0';
    return 1;
}

static int SamePath(const wchar_t* a, const wchar_t* b)
{
    wchar_t full_a[SETUP_JOIN_UNITS], full_b[SETUP_JOIN_UNITS];
    if (!ComparablePath(a, full_a) || !ComparablePath(b, full_b)) return 0;
    return CompareStringOrdinal(full_a, -1, full_b, -1, TRUE) == CSTR_EQUAL;
}

int UninstallEntryNamesFolder(const wchar_t* folder)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, UNINSTALL_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    wchar_t location[SETUP_PATH_UNITS + 1];
    DWORD type = 0, bytes = SETUP_PATH_UNITS * sizeof(wchar_t);
    LSTATUS status = RegQueryValueExW(key, L"InstallLocation", nullptr, &type, (BYTE*)location, &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return 0;
    location[bytes / sizeof(wchar_t)] = L'\0';
    return location[0] != L'\0' && SamePath(location, folder);
}

int ShortcutPointsIntoFolder(const wchar_t* shortcut, const wchar_t* folder)
{
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                (void**)&link)))
        return 0;
    wchar_t target[SETUP_JOIN_UNITS];
    target[0] = L'\0';
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&file))) {
        if (SUCCEEDED(file->Load(shortcut, STGM_READ))) {
            // The item list keeps every character of the path; the raw path may not.
            PIDLIST_ABSOLUTE items = nullptr;
            if (FAILED(link->GetIDList(&items)) || !items || !SHGetPathFromIDListW(items, target))
                target[0] = L'\0';
            CoTaskMemFree(items);
            if (!target[0] && FAILED(link->GetPath(target, SETUP_JOIN_UNITS, nullptr, SLGP_RAWPATH)))
                target[0] = L'\0';
        }
        file->Release();
    }
    link->Release();

    wchar_t full_target[SETUP_JOIN_UNITS], full_folder[SETUP_JOIN_UNITS];
    if (!target[0] || !ComparablePath(target, full_target) || !ComparablePath(folder, full_folder))
        return 0;
    size_t length = wcslen(full_folder);
    if (length > 0 && full_folder[length - 1] == L'\\') length--;  // a drive root
    return wcslen(full_target) > length + 1 && full_target[length] == L'\\' &&
           CompareStringOrdinal(full_target, (int)length, full_folder, (int)length, TRUE) == CSTR_EQUAL;
}

static void RemoveShortcutIntoFolder(REFKNOWNFOLDERID where, const wchar_t* folder)
{
    wchar_t shortcut[SETUP_JOIN_UNITS];
    KnownFolderFilePath(where, SHORTCUT_NAME, shortcut, SETUP_JOIN_UNITS);
    if (shortcut[0] && ShortcutPointsIntoFolder(shortcut, folder)) DeletePathItself(shortcut);
}

// The game executable says the folder is the game's; the note, the ROM copy or the entry
// naming the folder says setup put it there (a downloaded game executable alone does not).
// What an earlier uninstall keeps (the note, saves, settings) is not enough without the
// game, and a run stopped by the running game removed nothing, so it still qualifies.
int FolderHoldsInstallation(const wchar_t* folder)
{
    return IsFileInFolder(folder, GAME_EXE_NAME) &&
           (IsFileInFolder(folder, PORTABLE_NOTE_NAME) ||
            IsFileInFolder(folder, ROM_COPY_NAME) || UninstallEntryNamesFolder(folder));
}

int ConfirmInstallation(const wchar_t* folder, int interactive)
{
    if (FolderHoldsInstallation(folder)) return 1;
    if (interactive) {
        wchar_t text[UNINSTALL_QUESTION_UNITS];
        FormatText(text, UNINSTALL_QUESTION_UNITS,
                   L"There is no Torrentine PC installation in\n%s\n\nNothing was removed.", folder);
        MessageBoxW(nullptr, text, UNINSTALL_CAPTION, MB_ICONERROR);
    }
    return 0;
}

int UninstallFolder(const wchar_t* folder, int interactive, int delete_saves)
{
    if (!ConfirmInstallation(folder, interactive)) return UNINSTALL_DECLINED;
    if (interactive) {
        wchar_t question[UNINSTALL_QUESTION_UNITS];
        FormatText(question, UNINSTALL_QUESTION_UNITS, L"Remove Torrentine PC from\n%s ?", folder);
        if (MessageBoxW(nullptr, question, UNINSTALL_CAPTION, MB_YESNO | MB_ICONQUESTION) != IDYES)
            return UNINSTALL_DECLINED;
        int answer = MessageBoxW(nullptr,
                                 L"Also delete your saved games and settings?\n\nChoose No to keep "
                                 L"them in the folder (a later install there picks them up).",
                                 UNINSTALL_CAPTION, MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2);
        if (answer == IDCANCEL) return UNINSTALL_DECLINED;
        delete_saves = answer == IDYES;
    }

    // The game goes first: while it runs, an interactive run removes nothing at all, and
    // "Uninstall.exe", which the entry names, is still there for the next try.
    if (!DeleteWithRetries(folder, GAME_EXE_NAME, interactive) && interactive) {
        MessageBoxW(nullptr, L"The game seems to be running. Close it and run the uninstaller again.",
                    L"Torrentine PC", MB_ICONWARNING);
        return UNINSTALL_GAME_RUNNING;
    }
    DeleteWithRetries(folder, UNINSTALLER_NAME, 0);

    for (const wchar_t* name : GAME_FILES) DeleteInFolder(folder, name);
    DeleteMatching(folder, L"*.log");
    wchar_t path[SETUP_JOIN_UNITS];
    if (JoinPath(path, SETUP_JOIN_UNITS, folder, L"assets") >= 0) DeleteTree(path);

    if (delete_saves) {
        for (const wchar_t* name : SAVE_TREES)
            if (JoinPath(path, SETUP_JOIN_UNITS, folder, name) >= 0) DeleteTree(path);
        DeleteMatching(folder, L"*.json");
        DeleteMatching(folder, L"*.json.bak");
        DeleteInFolder(folder, L"tn_framerate_v1");
        DeleteInFolder(folder, L"portable.txt");
    }
    RemoveDirectoryW(folder);

    // Only what belongs to this folder: after an install elsewhere, the shortcuts and the
    // entry point to that other installation and must stay.
    RemoveShortcutIntoFolder(FOLDERID_Desktop, folder);
    RemoveShortcutIntoFolder(FOLDERID_Programs, folder);
    if (UninstallEntryNamesFolder(folder)) RegDeleteKeyW(HKEY_CURRENT_USER, UNINSTALL_KEY);

    if (interactive)
        MessageBoxW(nullptr, L"Torrentine PC has been removed.", UNINSTALL_CAPTION, MB_ICONINFORMATION);
    return UNINSTALL_REMOVED;
}
