#include "install/install_worker.h"

#include <objbase.h>
#include <stdarg.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wchar.h>

#include "base/file_helpers.h"
#include "base/folder_identity.h"
#include "base/folder_lock.h"
#include "base/path_helpers.h"
#include "base/run_lock.h"
#include "base/setup_state.h"
#include "base/status_channel.h"
#include "base/text_format.h"
#include "install/game_icon.h"
#include "formats/icon_images.h"
#include "install/install_folder_check.h"
#include "install/installation_mark.h"
#include "install/partial_leftovers.h"
#include "install/release_files.h"
#include "install/staged_files.h"
#include "install/shell_registration.h"
#include "package/package_digest.h"
#include "package/package_format.h"
#include "rom/rom_image.h"

// Folder checks, ROM check or reuse of the folder's copy. 1 to go on; with a ROM given,
// *length is its image's length and picture holds the image's icon picture (length stays 0
// for an update that keeps the folder's copy). Nothing is created before every check has
// passed. measured: the package's sizes and name lengths, which decide how long the
// folder's path may be.
static int CheckInputs(const ExtractContext* measured, uint8_t* picture, uint32_t* length)
{
    const wchar_t* folder = g_setup.install_folder;
    g_setup.failed_input = FAILED_INPUT_FOLDER;
    if (g_setup.own_path[0] == L'\0') {
        // Without its own path setup cannot copy itself as the uninstaller, and an
        // installation without one could not be removed.
        ReportFailure(L"The setup program's path is too long to be read: move it to a shorter "
                      L"path and run it again.");
        return 0;
    }
    int limit = InstallFolderLimit(measured);
    wchar_t refusal[STATUS_TEXT_UNITS];
    if (g_setup.install_folder_too_long) {
        FolderTooLongMessage(limit, refusal, STATUS_TEXT_UNITS);
        ReportFailure(L"%s", refusal);
        return 0;
    }
    if (folder[0] == L'\0') {
        ReportFailure(L"Choose a folder to install to.");
        return 0;
    }
    if (!CheckInstallFolder(folder, limit, refusal, STATUS_TEXT_UNITS)) {
        ReportFailure(L"%s", refusal);
        return 0;
    }
    // From here on the folder is the one place it resolves to, as the entry will name it.
    NormaliseFolderPath(g_setup.install_folder);
    g_setup.failed_input = FAILED_INPUT_ROM;  // what fails from here on is the ROM's
    if (g_setup.rom_path_too_long) {
        ReportFailure(L"%s", ROM_PATH_TOO_LONG_TEXT);
        return 0;
    }
    if (g_setup.rom_path[0] != L'\0') {
        StatusLine(L"Checking the ROM...");
        int code = CheckRomFile(g_setup.rom_path, length, ICON_PICTURE_OFFSET, ICON_PICTURE_BYTES, picture);
        if (code != ROMCHECK_ACCEPTED) {
            ReportFailure(L"%s", RomCheckMessage(code));
            return 0;
        }
        return 1;
    }
    if (!CanUpdateWithoutRom(folder)) {
        ReportFailure(L"Choose your Torrentine ROM file (.z64, .v64 or .n64).");
        return 0;
    }
    return 1;  // an update that keeps the folder's ROM copy
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
static int StoreRomCopy(ExtractContext* context, uint32_t length)
{
    StatusLine(L"Storing the ROM...");
    wchar_t path[SETUP_JOIN_UNITS];
    JoinPath(path, SETUP_JOIN_UNITS, context->install_folder, ROM_COPY_NAME);
    int code = CopyRomImage(g_setup.rom_path, length, path, context->staged);
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

static int CheckUpdateCanCommit(ExtractContext* context)
{
    if (CanReplaceStagedNames(context)) return 1;
    RecordStop(L"Can't write \"%s\". If the game is running, close it and try again.",
               context->failing_path);
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

// An existing "Uninstall.exe" is replaced as a name, never written through, and only by a
// whole copy: an installation whose uninstaller Windows cannot start is no installation. A
// new install's is a new file.
static int CopyUninstaller(ExtractContext* context)
{
    const wchar_t* folder = context->install_folder;
    if (RunsAsFoldersUninstaller(folder)) return 1;
    wchar_t target[SETUP_JOIN_UNITS];
    JoinPath(target, SETUP_JOIN_UNITS, folder, UNINSTALLER_NAME);
    int created = 0;
    if (context->staged ? CopyFileAsNew(g_setup.own_path, target)
                        : CopyToNewFile(g_setup.own_path, target, &created)) {
        if (created) context->own_files_made |= OWN_MADE_UNINSTALLER;
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
    DWORD attributes = GetFileAttributesW(icon);
    const wchar_t* icon_path =
        (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) ? icon
                                                                                          : game;
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

// Everything from the free-space test to "Done!". An update stages the package and keeps
// the previous version until the commit; a new install that stops removes what it made.
// Each failure says what it left, once that is known.
static void InstallFiles(ExtractContext* context, uint32_t length, const GameIconImages* icon,
                         const wchar_t* created_top)
{
    const wchar_t* folder = context->install_folder;
    int update = context->staged;
    // An update that an earlier one left half-committed cannot leave "the previous version".
    int mixed = update && UpdateWasInterrupted(folder);
    ReleaseNames installed = {nullptr, 0};
    if (update) ReadInstalledRelease(folder, &installed);
    g_stop_reason[0] = L'\0';
    if (!HasEnoughSpace(folder, context->total_bytes, length)) {
        // Said before anything was written: the folder is as it was.
        if (!update) UndoNewInstall(context, created_top);
        ReportFailure(L"%s", g_stop_reason);
        FreeReleaseNames(&installed);
        return;
    }
    int done = MarkInstallation(context) && ExtractPackage(context) && (!update || CheckUpdateCanCommit(context)) &&
               (!length || StoreRomCopy(context, length)) && CopyUninstaller(context);
    if (!done) {
        const wchar_t* left;
        if (update) {
            DiscardStagedFiles(context);
            left = mixed ? LEFT_MIXED : LEFT_PREVIOUS;
        } else {
            left = UndoNewInstall(context, created_top) ? LEFT_NOTHING : LEFT_SOME_OF_THIS_RUN;
        }
        ReportFailure(L"%s%s", g_stop_reason, left);
        FreeReleaseNames(&installed);
        return;
    }
    if (update && !CommitStagedFiles(context)) {
        int renamed = context->commit_started || mixed;
        if (!context->commit_started) DiscardStagedFiles(context);
        ReportFailure(L"Can't write \"%s\". If the game is running, close it and try again.%s",
                      context->failing_path, renamed ? LEFT_MIXED : LEFT_PREVIOUS);
        FreeReleaseNames(&installed);
        return;
    }
    if (update) RemoveFilesNoLongerShipped(folder, &installed);
    FreeReleaseNames(&installed);
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
    context.own_writer_entry = GAME_EXE_NAME;
    context.own_writer = WriteGameExecutable;
    context.own_writer_param = &icon;
    HANDLE package_check = TakePackageCheck();  // beside the other checks, on another core
    WalkPackage(SumEntrySize, &context);
    // The ROM's icon picture, kept from its check: the image itself is never held whole.
    uint8_t* picture = (uint8_t*)HeapAlloc(GetProcessHeap(), 0, ICON_PICTURE_BYTES);
    int inputs_ok = picture ? CheckInputs(&context, picture, &length) : 0;
    if (!picture) ReportFailure(L"Not enough memory to install.");
    if (inputs_ok) g_setup.failed_input = FAILED_INPUT_FOLDER;  // writing into the folder
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
    if (!g_setup.silent) PostMessageW(g_setup.window, WM_SETUP_DONE, (WPARAM)g_setup.failed, 0);
    return 0;
}
