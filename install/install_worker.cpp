#include "install/install_worker.h"

#include <objbase.h>
#include <stdarg.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wchar.h>

#include "base/file_deletion.h"
#include "base/file_helpers.h"
#include "base/file_replacement.h"
#include "base/partial_names.h"
#include "base/folder_identity.h"
#include "base/folder_lock.h"
#include "base/path_helpers.h"
#include "base/run_lock.h"
#include "base/setup_state.h"
#include "base/status_channel.h"
#include "base/text_format.h"
#include "install/game_icon.h"
#include "formats/icon_images.h"
#include "install/install_request.h"
#include "install/installation_mark.h"
#include "install/partial_leftovers.h"
#include "install/release_files.h"
#include "install/staged_files.h"
#include "install/unchanged_files.h"
#include "install/update_commit.h"
#include "base/busy_retry.h"
#include "base/installation_layout.h"
#include "install/test_hooks.h"
#include "install/shell_registration.h"
#include "package/package_digest.h"
#include "install/package_extraction.h"
#include "package/package_format.h"
#include "rom/rom_image.h"

// The request's rule (the same as the window's), then the ROM check or the reuse of the
// folder's copy. 0 to go on, or the FAILED_INPUT_* that was refused; with a ROM given,
// *length is its image's length and picture holds the image's icon picture (length stays 0
// for an update that keeps the folder's copy). Nothing is created before every check has
// passed. measured: the package's sizes and name lengths, which decide how long the
// folder's path may be.
static int CheckInputs(const ExtractContext* measured, uint8_t* picture, uint32_t* length)
{
    const wchar_t* folder = g_setup.install_folder;
    wchar_t refusal[STATUS_TEXT_UNITS];
    int refused = RefuseInstallRequest(folder, !g_setup.install_folder_too_long, !g_setup.rom_path_too_long,
                                       measured, refusal, STATUS_TEXT_UNITS);
    if (refused) {
        ReportFailure(L"%s", refusal);
        return refused;
    }
    // From here on the folder is the one place it resolves to, as the entry will name it.
    NormaliseFolderPath(g_setup.install_folder);
    if (g_setup.rom_path[0] != L'\0') {
        StatusLine(L"Checking the ROM...");
        int code = CheckRomFile(g_setup.rom_path, length, ICON_PICTURE_OFFSET, ICON_PICTURE_BYTES, picture);
        if (code != ROMCHECK_ACCEPTED) {
            ReportFailure(L"%s", RomCheckMessage(code));
            return FAILED_INPUT_ROM;
        }
        return REQUEST_ACCEPTED;
    }
    if (!CanUpdateWithoutRom(folder)) {
        ReportFailure(L"Choose your Torrentine ROM file (.z64, .v64 or .n64).");
        return FAILED_INPUT_ROM;
    }
    return REQUEST_ACCEPTED;  // an update that keeps the folder's ROM copy
}

// Why a run stopped, kept until what it leaves in the folder is known: the worker runs once
// at a time.
static wchar_t g_stop_reason[STATUS_TEXT_UNITS];

static void RecordStop(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatTextV(g_stop_reason, STATUS_TEXT_UNITS, format, args);
    va_end(args);
}

// The mark comes before every other file: whatever this run leaves behind, the folder
// shows itself as the game's, and the next run or the uninstaller can finish the job. The
// leftovers of an interrupted run go before new ones are made. A new install makes the mark
// as a new file: one that appeared since the checks is another run's.
static int MarkInstallation(ExtractContext* context)
{
    const wchar_t* folder = context->install_folder;
    if (context->staged) {
        RemovePartialLeftovers(folder);
        return 1;
    }
    if (!FolderHoldsInstallation(folder) && WriteInstallationMark(folder)) {
        context->own_files_made |= OWN_MADE_MARK;
        return 1;
    }
    wchar_t path[SETUP_JOIN_UNITS];
    JoinPath(path, SETUP_JOIN_UNITS, folder, PORTABLE_NOTE_NAME);
    RecordStop(L"Can't write \"%s\".", path);
    return 0;
}

static int CreateInstallFolder(const wchar_t* folder)
{
    int result = SHCreateDirectoryExW(nullptr, folder, nullptr);
    if (result == ERROR_SUCCESS || result == ERROR_ALREADY_EXISTS || result == ERROR_FILE_EXISTS)
        return 1;
    ReportFailure(L"Can't create the folder \"%s\". Pick another place (one you can write to).",
                  folder);
    return 0;
}

static int RunsAsFoldersUninstaller(const wchar_t* folder);

// The bytes of the uninstaller copy: the setup program's own file, unless setup runs as
// that very copy.
static uint64_t UninstallerBytes(const wchar_t* folder)
{
    if (RunsAsFoldersUninstaller(folder)) return 0;
    WIN32_FILE_ATTRIBUTE_DATA own;
    if (!GetFileAttributesExW(g_setup.own_path, GetFileExInfoStandard, &own)) return 0;
    return ((uint64_t)own.nFileSizeHigh << 32) | own.nFileSizeLow;
}

static int HasEnoughSpace(const wchar_t* folder, uint64_t total_bytes, uint32_t rom_length)
{
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(folder, &available, nullptr, nullptr)) return 1;
    uint64_t needed = total_bytes + FREE_SPACE_MARGIN_BYTES + rom_length + UninstallerBytes(folder);
    if (available.QuadPart >= needed) return 1;
    RecordStop(L"Not enough free space: needs %.0f MB.", (double)needed / 1048576.0);
    return 0;
}

// What a stopped run leaves, said after the reason: a player cannot see it from outside.
#define LEFT_NOTHING L" Nothing was installed."
#define LEFT_SOME_OF_THIS_RUN L" Some of its files could not be removed again from the folder."
#define LEFT_PREVIOUS L" The previous version is still installed."
#define LEFT_MIXED L" Run setup again to finish the update."
#define GAME_RUNNING_SETUP_TEXT L"The game seems to be running. Close it and run setup again."

static int ExtractPackage(ExtractContext* context)
{
    StatusLine(L"Writing the PC version...");
    if (WalkPackage(ExtractEntry, context)) return 1;
    if (g_setup.cancel_request)
        RecordStop(L"Cancelled.");
    else if (context->failing_path[0] == L'\0')
        RecordStop(L"%s", PACKAGE_DAMAGED_TEXT);
    else
        RecordStop(L"Can't write \"%s\". If the game is running, close it and try again.",
                   context->failing_path);
    return 0;
}

// An update's copy is replaced only by a complete one: the user may have picked that very
// copy as the ROM, and a write that fails half-way must not destroy it. A new install's is
// a new file.
// An update stages setup's own files beside their names, as the package's: they are
// renamed into place with the game, in its commit. The staged slot, or -1.
static int StagedOwnPath(const wchar_t* path, wchar_t* partial)
{
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return -1;  // never replaced
    int slot = FreePartialSlot(path);
    return slot >= 0 && PartialPath(partial, SETUP_JOIN_UNITS, path, slot) >= 0 ? slot : -1;
}

static int StoreRomCopy(ExtractContext* context, uint32_t length, CommitList* commit)
{
    StatusLine(L"Storing the ROM...");
    wchar_t path[SETUP_JOIN_UNITS], partial[SETUP_JOIN_UNITS];
    if (context->staged && (context->own_files_same & OWN_SAME_ROM_COPY)) return 1;  // already this image
    JoinPath(path, SETUP_JOIN_UNITS, context->install_folder, ROM_COPY_NAME);
    int slot = context->staged ? StagedOwnPath(path, partial) : 0;
    int code = slot < 0 ? ROMCOPY_CANNOT_WRITE
                        : CopyRomImage(g_setup.rom_path, length, context->staged ? partial : path, 0);
    if (code == ROMCHECK_ACCEPTED && context->staged && !AddCommitItem(commit, ROM_COPY_NAME, slot)) {
        DeletePathItself(partial);
        code = ROMCOPY_CANNOT_WRITE;
    }
    if (code == ROMCHECK_ACCEPTED) {
        if (!context->staged) context->own_files_made |= OWN_MADE_ROM_COPY;
        return 1;
    }
    if (code == ROMCOPY_CANNOT_WRITE)
        RecordStop(L"Can't write \"%s\".", path);
    else
        RecordStop(L"%s", RomCheckMessage(code));  // the ROM file changed since its check
    return 0;
}

// The topmost folder that creating folder will make (empty when it exists already), so that
// a new install that stops removes the folders it made and no other.
static void FolderToCreate(const wchar_t* folder, wchar_t* top)
{
    top[0] = L'\0';
    wchar_t path[SETUP_JOIN_UNITS];
    if (FormatText(path, SETUP_JOIN_UNITS, L"%s", folder) < 0) return;
    while (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return;
        wmemcpy(top, path, wcslen(path) + 1);
        if (!PathRemoveFileSpecW(path) || PathIsRootW(path)) return;
    }
}

// The icon images come before the extraction, which writes them into the game executable
// on the way. With no ROM given in this run (length 0) the picture comes from the folder's
// ROM copy.
static void BuildIconImagesEarly(const wchar_t* folder, uint8_t* picture, uint32_t length,
                                 GameIconImages* icon)
{
    if (!length) {
        wchar_t copy[SETUP_JOIN_UNITS];
        JoinPath(copy, SETUP_JOIN_UNITS, folder, ROM_COPY_NAME);
        if (CheckRomFile(copy, &length, ICON_PICTURE_OFFSET, ICON_PICTURE_BYTES, picture) != ROMCHECK_ACCEPTED)
            picture = nullptr;
    }
    BuildIconImagesFromPicture(icon, picture);
}

static void AddGameIcon(const wchar_t* folder, const GameIconImages* icon)
{
    StatusLine(L"Adding the game icon...");
    if (!StoreGameIcon(folder, icon))
        StatusLine(L"Note: the game icon could not be added to the program file (shortcuts "
                   L"still get it).");
}

static int RunsAsFoldersUninstaller(const wchar_t* folder)
{
    wchar_t target[SETUP_JOIN_UNITS], own[SETUP_PATH_UNITS];
    JoinPath(target, SETUP_JOIN_UNITS, folder, UNINSTALLER_NAME);
    DWORD units = GetFullPathNameW(g_setup.own_path, SETUP_PATH_UNITS, own, nullptr);
    if (units == 0 || units >= SETUP_PATH_UNITS) return 0;
    return _wcsicmp(own, target) == 0 || IsSameFile(own, target);
}

// An existing "Uninstall.exe" is replaced as a name in the update's commit, never written
// through, and only by a whole copy: an installation whose uninstaller Windows cannot start
// is no installation. A new install's is a new file.
static int CopyUninstaller(ExtractContext* context, CommitList* commit)
{
    const wchar_t* folder = context->install_folder;
    if (RunsAsFoldersUninstaller(folder)) return 1;
    if (context->staged && (context->own_files_same & OWN_SAME_UNINSTALLER)) return 1;  // already this copy
    wchar_t target[SETUP_JOIN_UNITS];
    JoinPath(target, SETUP_JOIN_UNITS, folder, UNINSTALLER_NAME);
    int created = 0;
    if (context->staged) {
        wchar_t partial[SETUP_JOIN_UNITS];
        int slot = StagedOwnPath(target, partial);
        if (slot >= 0 && CopyToNewFile(g_setup.own_path, partial, &created)) {
            if (AddCommitItem(commit, UNINSTALLER_NAME, slot)) return 1;
            DeletePathItself(partial);
        }
    } else if (CopyToNewFile(g_setup.own_path, target, &created)) {
        context->own_files_made |= OWN_MADE_UNINSTALLER;
        return 1;
    }
    RecordStop(L"Can't write \"%s\".", target);
    return 0;
}

static void RegisterWithShell(const wchar_t* folder)
{
    wchar_t game[SETUP_JOIN_UNITS], icon[SETUP_JOIN_UNITS];
    JoinPath(game, SETUP_JOIN_UNITS, folder, GAME_EXE_NAME);
    JoinPath(icon, SETUP_JOIN_UNITS, folder, ICON_FILE_NAME);
    const wchar_t* icon_path = IsFileInFolder(folder, ICON_FILE_NAME) ? icon : game;
    RegisterShellEntries(game, folder, icon_path, DISPLAY_NAME, g_setup.make_desktop_shortcut,
                         g_setup.make_start_menu_shortcut);
}

// Once the new release is in place, the installed release's files that it no longer ships
// go (an update only), so that no release leaves files that no uninstaller knows.
static void RemoveFilesNoLongerShipped(const wchar_t* folder, const ReleaseNames* installed)
{
    ReleaseNames shipped;
    if (!installed->names || !ReadOwnReleaseNames(&shipped)) return;  // never without knowing what stays
    RemoveReleaseFiles(folder, installed, &shipped);
    FreeReleaseNames(&shipped);
}

// The names of the release installed in folder, read before this run replaces its
// uninstaller: from that uninstaller's package, or the first release's when it cannot tell.
static void ReadInstalledRelease(const wchar_t* folder, ReleaseNames* installed)
{
    if (!ReadInstalledReleaseNames(folder, installed)) ReadFirstReleaseNames(installed);
}

// An update reads the installed release's names (the old uninstaller's 50 MB hashed) on the
// other core while this one writes the new files; both come before the commit replaces that
// uninstaller. Without a thread, here and now.
struct InstalledRelease {
    const wchar_t* folder;
    ReleaseNames names;
};

static DWORD WINAPI ReadInstalledReleaseThread(LPVOID param)
{
    InstalledRelease* installed = (InstalledRelease*)param;
    ReadInstalledRelease(installed->folder, &installed->names);
    return 0;
}

static HANDLE StartReadingInstalledRelease(InstalledRelease* installed)
{
    HANDLE thread = CreateThread(nullptr, 0, ReadInstalledReleaseThread, installed, 0, nullptr);
    if (!thread) ReadInstalledRelease(installed->folder, &installed->names);
    return thread;
}

static void FinishReadingInstalledRelease(HANDLE thread)
{
    if (!thread) return;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

// "In use" as Windows means it, before an update writes anything: the game running from
// the folder (its mapped image refuses writing), and any old file another program holds
// without sharing its deletion, which could not be renamed aside. Either changes nothing.
struct UseCheck {
    ExtractContext* context;
    uint32_t index;
    int ok;
};

static int CheckEntryNotInUse(const wchar_t* name, const uint8_t*, uint64_t, void* param)
{
    UseCheck* check = (UseCheck*)param;
    ExtractContext* context = check->context;
    uint32_t index = check->index++;
    if (index < context->entry_count && context->slots[index] == PARTIAL_SLOT_SAME) return 1;  // stays as it is
    check->ok = CanRenameAside(context->install_folder, name, context->failing_path);
    return check->ok;
}

static int CheckNothingInUse(ExtractContext* context, uint32_t length)
{
    const wchar_t* folder = context->install_folder;
    wchar_t game[SETUP_JOIN_UNITS];
    if (JoinPath(game, SETUP_JOIN_UNITS, folder, GAME_EXE_NAME) >= 0 && ProgramFileInUse(game)) {
        RecordStop(L"%s", GAME_RUNNING_SETUP_TEXT);
        return 0;
    }
    UseCheck check = {context, 0, 1};
    WalkPackage(CheckEntryNotInUse, &check);
    if (check.ok && length && !(context->own_files_same & OWN_SAME_ROM_COPY))
        check.ok = CanRenameAside(folder, ROM_COPY_NAME, context->failing_path);
    if (check.ok && !(context->own_files_same & OWN_SAME_UNINSTALLER) && !RunsAsFoldersUninstaller(folder))
        check.ok = CanRenameAside(folder, UNINSTALLER_NAME, context->failing_path);
    if (!check.ok)
        RecordStop(L"Can't write \"%s\". If the game is running, close it and try again.", context->failing_path);
    return check.ok;
}

// An update stopped in an earlier run's commit is undone before anything else, from its
// journal: the previous version is back, and this run starts from it. 0 when it cannot be.
static int RecoverEarlierUpdate(const wchar_t* folder)
{
    int recovered = RecoverInterruptedUpdate(folder);
    if (recovered == RECOVERY_ROLLED_BACK)
        StatusLine(L"An earlier update had stopped while moving its files: the previous version was put back.");
    if (recovered != RECOVERY_FAILED) return 1;
    ReportFailure(L"An earlier update stopped while moving its files, and they cannot be put back yet: close "
                  L"the game and any program using its files, then run setup again.");
    return 0;
}

// Everything from the free-space test to "Done!". An update stages the package and setup's
// own files and keeps the previous version until its commit, which is all or nothing; a new
// install that stops removes what it made. Each failure says what it left, once that is known.
static void InstallFiles(ExtractContext* context, uint32_t length, const GameIconImages* icon,
                         const wchar_t* created_top)
{
    const wchar_t* folder = context->install_folder;
    int update = context->staged;
    g_stop_reason[0] = L'\0';
    if (update && !RecoverEarlierUpdate(folder)) return;
    if (update) {
        FindUnchangedEntries(context);
        FindUnchangedOwnFiles(context, g_setup.rom_path, length, g_setup.own_path);
    }
    if (update && !CheckNothingInUse(context, length)) {
        ReportFailure(L"%s%s", g_stop_reason, LEFT_PREVIOUS);
        return;
    }
    InstalledRelease installed = {folder, {nullptr, 0}};
    CommitList commit = {nullptr, 0, 0};
    if (update && !StartCommitList(&commit, context->entry_count + 2)) {
        ReportFailure(L"Not enough memory to install.%s", LEFT_PREVIOUS);
        FreeReleaseNames(&installed.names);
        return;
    }
    if (!HasEnoughSpace(folder, context->total_bytes, length)) {
        // Said before anything was written: the folder is as it was.
        if (!update) UndoNewInstall(context, created_top);
        ReportFailure(L"%s", g_stop_reason);
        FreeReleaseNames(&installed.names);
        FreeCommitList(&commit);
        return;
    }
    HANDLE reading = update ? StartReadingInstalledRelease(&installed) : nullptr;
    int done = MarkInstallation(context) && ExtractPackage(context);
    if (update && !AddStagedEntries(&commit, context)) {
        RecordStop(L"Not enough memory to install.");
        done = 0;
    }
    done = done && (!length || StoreRomCopy(context, length, &commit)) && CopyUninstaller(context, &commit);
    FinishReadingInstalledRelease(reading);
    if (!done) {
        const wchar_t* left;
        if (update) {
            DiscardCommitList(folder, &commit);
            left = LEFT_PREVIOUS;
        } else {
            left = UndoNewInstall(context, created_top) ? LEFT_NOTHING : LEFT_SOME_OF_THIS_RUN;
        }
        ReportFailure(L"%s%s", g_stop_reason, left);
        FreeReleaseNames(&installed.names);
        FreeCommitList(&commit);
        return;
    }
    if (update) {
        // Nothing staged (every file was already right): nothing to rename.
        int result = commit.count ? CommitUpdate(folder, &commit, context->failing_path) : COMMIT_DONE;
        FreeCommitList(&commit);
        if (result != COMMIT_DONE) {
            ReportFailure(L"Can't write \"%s\". If the game is running, close it and try again.%s",
                          context->failing_path, result == COMMIT_MIXED ? LEFT_MIXED : LEFT_PREVIOUS);
            FreeReleaseNames(&installed.names);
            return;
        }
        RemoveFilesNoLongerShipped(folder, &installed.names);
    }
    FreeReleaseNames(&installed.names);
    AddGameIcon(folder, icon);
    RegisterWithShell(folder);
    ReportProgressPermille(1000);
    StatusLine(L"Done! Torrentine PC is installed in %s", folder);
}

static void RunInstall(void)
{
    uint32_t length = 0;  // of the ROM's image, when one is given
    const wchar_t* folder = g_setup.install_folder;
    GameIconImages icon;
    ZeroMemory(&icon, sizeof icon);

    TrimInputPath(g_setup.rom_path);
    TrimInputPath(g_setup.install_folder);
    ExtractContext context;
    ZeroMemory(&context, sizeof context);
    context.install_folder = folder;
    context.game_icon = &icon;
    HANDLE package_check = TakePackageCheck();  // beside the other checks, on another core
    WalkPackage(SumEntrySize, &context);
    // The ROM's icon picture, kept from its check: the image itself is never held whole.
    uint8_t* picture = (uint8_t*)HeapAlloc(GetProcessHeap(), 0, ICON_PICTURE_BYTES);
    int refused = picture ? CheckInputs(&context, picture, &length) : FAILED_INPUT_FOLDER;
    if (!picture) ReportFailure(L"Not enough memory to install.");
    // Past the inputs' checks, what fails is writing into the folder.
    g_setup.failed_input = refused ? refused : FAILED_INPUT_FOLDER;
    int inputs_ok = !refused;
    // Nothing is written from a damaged package: not even the folder is made. Refused
    // inputs do not wait for the check, which ends on its own.
    int intact = inputs_ok ? JoinPackageCheck(package_check) : LeavePackageCheck(package_check);
    if (inputs_ok && !intact) ReportFailure(L"%s", PACKAGE_DAMAGED_TEXT);
    if (inputs_ok && intact) {
        // Decided before this run writes anything: only an installation is updated in place.
        context.staged = FolderHoldsInstallation(folder);
        wchar_t created_top[SETUP_JOIN_UNITS];
        FolderToCreate(folder, created_top);
        context.slots = (uint8_t*)HeapAlloc(GetProcessHeap(), 0, context.entry_count + 1);
        if (!context.slots) {
            ReportFailure(L"Not enough memory to install.");
        } else if (CreateInstallFolder(folder)) {
            FillMemory(context.slots, context.entry_count + 1, PARTIAL_SLOT_NONE);
            if (TakeFolderLock(folder) == FOLDER_LOCK_BUSY) {
                // Another session's run on this folder: nothing of it is changed.
                if (!context.staged) UndoNewInstall(&context, created_top);
                ReportFailure(L"%s", RUN_LOCK_BUSY_TEXT);
            } else {
                BuildIconImagesEarly(folder, picture, length, &icon);
                InstallFiles(&context, length, &icon, created_top);
            }
            ReleaseFolderLock();
        }
        if (context.slots) HeapFree(GetProcessHeap(), 0, context.slots);
    }
    FreeIconImages(&icon);
    if (picture) HeapFree(GetProcessHeap(), 0, picture);
}

DWORD WINAPI InstallWorker(LPVOID)
{
    g_setup.failed = 0;
    // The silent install runs on the main thread, which is in the multithreaded apartment.
    CoInitializeEx(nullptr, g_setup.silent ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
    RunInstall();
    CoUninitialize();
    ReportRunEnd();
    return 0;
}
