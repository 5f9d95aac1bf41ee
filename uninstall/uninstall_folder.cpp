#include <windows.h>
#include <objbase.h>
#include <shlwapi.h>
#include <shlobj.h>
#include <wchar.h>

#include "base/busy_retry.h"
#include "base/file_deletion.h"
#include "base/file_helpers.h"
#include "base/folder_lock.h"
#include "base/path_helpers.h"
#include "base/path_lines.h"
#include "base/run_lock.h"
#include "base/setup_state.h"
#include "base/text_format.h"
#include "base/folder_identity.h"
#include "install/install_folder_check.h"
#include "install/install_worker.h"
#include "install/installation_mark.h"
#include "install/partial_leftovers.h"
#include "install/release_files.h"
#include "package/package_format.h"
#include "install/shell_registration.h"
#include "install/update_commit.h"
#include "rom/rom_image.h"
#include "uninstall/uninstaller.h"

// A file that another process may still hold: DeleteInFolder itself tries a busy file again
// for about 10 s (base/busy_retry.h). 1 when it is gone or was never there.
static int DeleteWithRetries(const wchar_t* folder, const wchar_t* name, int)
{
    wchar_t path[SETUP_JOIN_UNITS];
    if (JoinPath(path, SETUP_JOIN_UNITS, folder, name) < 0) return 0;
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 1;
    return DeleteInFolder(folder, name) || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES;
}

// The entry belongs to this installation when its "InstallLocation" leads to the same
// folder, however either is spelled (other letters, an 8.3 name, a mapped drive).
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
    return location[0] != L'\0' && FolderPathForm(location) == PATH_FORM_FULL &&
           IsSameFile(location, folder);
}

// The shortcut's target, read through its item list, which keeps every character of the
// path (the raw path may not). Empty when it cannot be read.
static void ReadShortcutTarget(const wchar_t* shortcut, wchar_t* target)
{
    target[0] = L'\0';
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                (void**)&link)))
        return;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&file))) {
        if (SUCCEEDED(file->Load(shortcut, STGM_READ))) {
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
}

// Setup's shortcuts lead to the game executable directly in the installation: the
// target's folder must be this folder, by identity.
int ShortcutPointsIntoFolder(const wchar_t* shortcut, const wchar_t* folder)
{
    wchar_t target[SETUP_JOIN_UNITS];
    ReadShortcutTarget(shortcut, target);
    if (!target[0] || FolderPathForm(target) != PATH_FORM_FULL) return 0;
    const wchar_t* name = PathFindFileNameW(target);
    if (name == target || CompareStringOrdinal(name, -1, GAME_EXE_NAME, -1, TRUE) != CSTR_EQUAL)
        return 0;
    PathRemoveFileSpecW(target);
    return IsSameFile(target, folder);
}

// The folder holds the mark that only setup writes, and it is not a place whose other
// files an uninstall could reach (a drive's root, a folder of Windows or of the user's).
int ConfirmInstallation(const wchar_t* folder, int interactive)
{
    if (FolderPathForm(folder) == PATH_FORM_FULL && FolderHoldsInstallation(folder) &&
        !IsDriveRootOrKnownFolder(folder))
        return 1;
    if (interactive) {
        wchar_t text[UNINSTALL_QUESTION_UNITS], shown[UNINSTALL_QUESTION_UNITS];
        BreakPathIntoLines(folder, shown, UNINSTALL_QUESTION_UNITS, PATH_LINE_UNITS);
        FormatText(text, UNINSTALL_QUESTION_UNITS,
                   L"There is no Torrentine PC installation in\n%s\n\nNothing was removed.", shown);
        MessageBoxW(nullptr, text, UNINSTALL_CAPTION, MB_ICONERROR);
    }
    return 0;
}

// The game runs from the folder: its mapped image refuses an open for writing (an open for
// deletion would succeed on Windows), as does a program holding it without sharing writing.
static int GameIsRunning(const wchar_t* folder)
{
    wchar_t path[SETUP_JOIN_UNITS];
    return JoinPath(path, SETUP_JOIN_UNITS, folder, GAME_EXE_NAME) >= 0 && ProgramFileInUse(path);
}

static int SayGameIsRunning(int interactive)
{
    if (interactive)
        MessageBoxW(nullptr, L"The game seems to be running. Close it and run the uninstaller again.",
                    L"Torrentine PC", MB_ICONWARNING);
    return UNINSTALL_GAME_RUNNING;
}

// Something of the game stayed (a read-only file, a read-only drive): the uninstaller and
// the entry stay too, so that Windows can run it again once the cause is gone.
static int SayFilesStayed(const wchar_t* folder, int interactive, int saves)
{
    if (interactive) {
        wchar_t text[UNINSTALL_QUESTION_UNITS], shown[UNINSTALL_QUESTION_UNITS];
        BreakPathIntoLines(folder, shown, UNINSTALL_QUESTION_UNITS, PATH_LINE_UNITS);
        FormatText(text, UNINSTALL_QUESTION_UNITS,
                   saves ? L"Some of your saved games and settings could not be removed from\n%s\n\n"
                           L"Make sure they are not read-only or in use, then run the uninstaller again."
                         : L"Some files of Torrentine PC could not be removed from\n%s\n\nMake sure they "
                           L"are not read-only or in use, then run the uninstaller again.",
                   shown);
        MessageBoxW(nullptr, text, L"Torrentine PC", MB_ICONWARNING);
    }
    return UNINSTALL_INCOMPLETE;
}

// The game executable itself could not go (read-only, a read-only drive): as a running game,
// nothing is removed.
static int SayGameFilesStayed(const wchar_t* folder, int interactive)
{
    SayFilesStayed(folder, interactive, 0);
    return UNINSTALL_GAME_RUNNING;
}

// A link the player put at a game file's name, which Wine cannot remove, is not the game's.
static int IsAbsent(const wchar_t* folder, const wchar_t* name)
{
    return !HoldsOwnEntry(folder, name);
}

// Every file of this release's package, of the first release and setup's own files of the
// game: what the entry stands for. (A folder the player linked into "assets" may stay, and
// so may another installation nested there; neither is the game's.)
static int GameFilesAreGone(const wchar_t* folder, const ReleaseNames* release)
{
    for (size_t i = 0; i < FIRST_RELEASE_FILES_COUNT; i++)
        if (!IsAbsent(folder, FIRST_RELEASE_FILES[i])) return 0;
    for (size_t i = 0; i < SETUP_FILES_WITH_GAME_COUNT; i++)
        if (!IsAbsent(folder, SETUP_FILES_WITH_GAME[i])) return 0;
    return ReleaseFilesAreGone(folder, release);
}

struct ShellOwnership {
    int desktop_shortcut;
    int start_menu_shortcut;
    int entry;
};

static int ShortcutIsOurs(REFKNOWNFOLDERID where, const wchar_t* folder, wchar_t* shortcut)
{
    KnownFolderFilePath(where, SHORTCUT_NAME, shortcut, SETUP_JOIN_UNITS);
    return shortcut[0] && ShortcutPointsIntoFolder(shortcut, folder);
}

static int Worse(int a, int b) { return a > b ? a : b; }

// The game's files: this release's package, the first release's names (an installation
// that an earlier build made), setup's own files of the game, the logs and the assets tree,
// then the package's folders left empty. Another installation nested anywhere is left whole.
static void RemoveGameFiles(const wchar_t* folder, const ReleaseNames* release)
{
    RemovePartialLeftovers(folder);
    RemoveReleaseFiles(folder, release, nullptr);
    for (size_t i = 0; i < FIRST_RELEASE_FILES_COUNT; i++) DeleteInFolder(folder, FIRST_RELEASE_FILES[i]);
    for (size_t i = 0; i < SETUP_FILES_WITH_GAME_COUNT; i++) DeleteInFolder(folder, SETUP_FILES_WITH_GAME[i]);
    DeleteMatching(folder, GAME_LOG_PATTERN);
    wchar_t path[SETUP_JOIN_UNITS];
    if (JoinPath(path, SETUP_JOIN_UNITS, folder, GAME_ASSETS_FOLDER) >= 0)
        DeleteTreeKeeping(path, FolderHoldsInstallation);
}

// The saves, settings and mods; 1 when none of them stayed (another installation nested
// in a save folder, or a link Wine cannot remove, is not the player's save of this one).
static int RemoveSaves(const wchar_t* folder)
{
    int worst = DELETION_GONE;
    wchar_t path[SETUP_JOIN_UNITS];
    for (size_t i = 0; i < SAVE_FOLDERS_COUNT; i++)
        worst = Worse(worst, JoinPath(path, SETUP_JOIN_UNITS, folder, SAVE_FOLDERS[i]) < 0
                                 ? DELETION_STAYED
                                 : DeleteTreeKeeping(path, FolderHoldsInstallation));
    for (size_t i = 0; i < SAVE_PATTERNS_COUNT; i++) worst = Worse(worst, DeleteMatching(folder, SAVE_PATTERNS[i]));
    return worst != DELETION_STAYED;
}

// The uninstall itself, while this run holds the folder's lock.
static int UninstallHeldFolder(const wchar_t* folder, int interactive, int delete_saves)
{
    // Before any question: a player who answers them all should not learn only then that
    // nothing can be done.
    if (GameIsRunning(folder)) return SayGameIsRunning(interactive);
    if (interactive) {
        wchar_t question[UNINSTALL_QUESTION_UNITS], shown[UNINSTALL_QUESTION_UNITS];
        BreakPathIntoLines(folder, shown, UNINSTALL_QUESTION_UNITS, PATH_LINE_UNITS);
        FormatText(question, UNINSTALL_QUESTION_UNITS, L"Remove Torrentine PC from\n%s ?", shown);
        if (MessageBoxW(nullptr, question, UNINSTALL_CAPTION, MB_YESNO | MB_ICONQUESTION) != IDYES)
            return UNINSTALL_DECLINED;
        int answer = MessageBoxW(nullptr,
                                 L"Also delete your saved games and settings?\n\nChoose No to keep "
                                 L"them in the folder (a later install there picks them up).",
                                 UNINSTALL_CAPTION, MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2);
        if (answer == IDCANCEL) return UNINSTALL_DECLINED;
        delete_saves = answer == IDYES;
    }
    // What this release put there: the uninstaller is a copy of the setup that installed
    // or last updated the folder. Without its list nothing is removed.
    ReleaseNames release;
    if (!ReadOwnReleaseNames(&release)) return SayFilesStayed(folder, interactive, 0);
    // An update stopped in its commit is undone first, from its journal, so that no file
    // stays under a name aside; one that cannot be undone yet removes nothing.
    if (RecoverInterruptedUpdate(folder) == RECOVERY_FAILED) {
        FreeReleaseNames(&release);
        return SayGameFilesStayed(folder, interactive);
    }

    // Whose the shortcuts and the entry are is read while the game's files still show it:
    // after an install elsewhere they belong to that other installation and must stay.
    wchar_t desktop[SETUP_JOIN_UNITS], start_menu[SETUP_JOIN_UNITS];
    ShellOwnership ours;
    ours.desktop_shortcut = ShortcutIsOurs(FOLDERID_Desktop, folder, desktop);
    ours.start_menu_shortcut = ShortcutIsOurs(FOLDERID_Programs, folder, start_menu);
    ours.entry = UninstallEntryNamesFolder(folder);

    // The game goes first: when it cannot go (running, read-only, a read-only drive),
    // nothing at all is removed, silent or not, and the next try finds everything in place.
    // The player is told which: only a program holding the file open means it runs.
    if (!DeleteWithRetries(folder, GAME_EXE_NAME, 1)) {
        FreeReleaseNames(&release);
        return GameIsRunning(folder) ? SayGameIsRunning(interactive) : SayGameFilesStayed(folder, interactive);
    }
    RemoveGameFiles(folder, &release);
    int gone = GameFilesAreGone(folder, &release);
    FreeReleaseNames(&release);
    // Whatever stays keeps the uninstaller, the entry and the mark, so that running it again
    // finishes the job.
    if (!gone) return SayFilesStayed(folder, interactive, 0);
    if (delete_saves && !RemoveSaves(folder)) return SayFilesStayed(folder, interactive, 1);

    if (ours.desktop_shortcut) DeletePathItself(desktop);
    if (ours.start_menu_shortcut) DeletePathItself(start_menu);
    if (ours.entry) RegDeleteKeyW(HKEY_CURRENT_USER, UNINSTALL_KEY);
    // The result is known now: the uninstaller's first stage, which waits for it, can end and
    // free "Uninstall.exe", which goes next.
    ReportUninstallVerdict(UNINSTALL_REMOVED);
    // The uninstaller goes after the entry: a run stopped before this point can still be
    // finished by running it again. The mark goes last, with the saves it keeps company,
    // and only once the uninstaller is gone; without the saves the folder stays the
    // game's, for a later install to pick them up.
    if (!DeleteWithRetries(folder, UNINSTALLER_NAME, 0)) return SayFilesStayed(folder, interactive, 0);
    if (delete_saves) DeleteInFolder(folder, PORTABLE_NOTE_NAME);
    ReleaseFolderLock();  // its file goes with it, and the folder can be empty
    // Only a real, empty folder: removing a folder that is a link (a junction) would remove
    // the link alone, with the saves and the mark still at its target.
    RemoveEmptyFolder(folder);

    if (interactive)
        MessageBoxW(nullptr, L"Torrentine PC has been removed.", UNINSTALL_CAPTION, MB_ICONINFORMATION);
    return UNINSTALL_REMOVED;
}

int UninstallFolder(const wchar_t* folder, int interactive, int delete_saves)
{
    if (!ConfirmInstallation(folder, interactive)) return UNINSTALL_DECLINED;
    // Another session's run on this folder (an update, an uninstall): nothing is touched.
    if (TakeFolderLock(folder) == FOLDER_LOCK_BUSY) {
        if (interactive) MessageBoxW(nullptr, RUN_LOCK_BUSY_TEXT, UNINSTALL_CAPTION, MB_ICONWARNING);
        return UNINSTALL_DECLINED;
    }
    int result = UninstallHeldFolder(folder, interactive, delete_saves);
    ReleaseFolderLock();
    return result;
}
