// The two-stage uninstaller: stage 1 runs "Uninstall.exe" from the install folder, hands
// over to a temporary copy of itself and ends with that copy's verdict; stage 2 removes the
// installation and then has that copy deleted by a hidden command processor.
#pragma once

#define UNINSTALL_REMOVED  0
#define UNINSTALL_DECLINED 1
#define UNINSTALL_GAME_RUNNING 2  // the game executable could not go: nothing was removed
#define UNINSTALL_INCOMPLETE 3     // the game went, but something else of it stayed

#define UNINSTALL_RETRIES 50
#define UNINSTALL_RETRY_MS 100
// The temporary copy: the temporary folder (ending in a backslash) and 64 random bits.
#define UNINSTALL_TEMP_COPY_PREFIX L"Uninstall_TorrentinePC_"
#define UNINSTALL_TEMP_COPY_FORMAT L"%s" UNINSTALL_TEMP_COPY_PREFIX L"%08lX%08lX.exe"
#define UNINSTALL_STAGE_COMMAND_UNITS 780
#define UNINSTALL_QUESTION_UNITS 648
#define UNINSTALL_CAPTION L"Torrentine PC - Uninstall"

// The two run modes; each returns the process exit code.
int RunUninstallStage1(int argc, wchar_t** argv);
int RunUninstallStage2(int argc, wchar_t** argv);

int UninstallFolder(const wchar_t* folder, int interactive, int delete_saves);
// 1 when folder holds an installation this uninstaller may act on; otherwise says so when
// interactive and returns 0.
int ConfirmInstallation(const wchar_t* folder, int interactive);
void ScheduleSelfDelete(void);
// Sends the uninstall's result to the first stage that waits for it, once; nothing when this
// run was not started by a first stage.
void ReportUninstallVerdict(int result);

// 1 when the registered uninstall entry's "InstallLocation" leads to folder itself.
int UninstallEntryNamesFolder(const wchar_t* folder);
// 1 when the shortcut at path can be read and its target is the game executable in folder.
int ShortcutPointsIntoFolder(const wchar_t* shortcut, const wchar_t* folder);
