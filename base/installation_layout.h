// What setup puts in an installation folder and in the registry, and what the player's
// game keeps there: the one place that names them. The game's own files are the entries of
// the package that installed the folder (a release knows its own); these are the rest.
#pragma once
#include <stddef.h>

// Setup's own files in the folder.
#define PORTABLE_NOTE_NAME L"portable.txt"  // the installation's mark (install/installation_mark.h)
#define UNINSTALLER_NAME L"Uninstall.exe"
#define ROM_COPY_NAME L"torrentine.n64.proto.19990615.z64"
#define ICON_FILE_NAME L"Torrentine PC.ico"
// Written before an update's first rename and removed after its last: while it is there,
// the game in the folder may be part old, part new.
#define UPDATE_JOURNAL_NAME L"update-in-progress.txt"
// Held open by the run that installs, updates or uninstalls the folder, and gone with it
// (base/folder_lock.h): never a release's file, never removed by name.
#define FOLDER_LOCK_NAME L"setup-running.lock"

// The game executable, the first entry of every release's package.
#define GAME_EXE_NAME L"TorrentinePC.exe"
#define DISPLAY_NAME L"Torrentine PC"

// Outside the folder: the shortcuts' file name (on the desktop and in the Start menu's
// Programs) and the per-user uninstall entry.
#define SHORTCUT_NAME L"Torrentine PC.lnk"
#define UNINSTALL_KEY L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TorrentinePC"

// Setup's own files that the uninstaller removes with the game (the uninstaller and the
// mark go last, on their own).
extern const wchar_t* const SETUP_FILES_WITH_GAME[];
extern const size_t SETUP_FILES_WITH_GAME_COUNT;
// Every file setup itself writes into the folder, the mark last.
extern const wchar_t* const SETUP_OWN_FILES[];
extern const size_t SETUP_OWN_FILES_COUNT;

// The first release's files at the folder's top, which installations made by earlier builds
// of setup hold whatever package the uninstaller carries; its "assets" tree besides.
extern const wchar_t* const FIRST_RELEASE_FILES[];
extern const size_t FIRST_RELEASE_FILES_COUNT;
#define GAME_ASSETS_FOLDER L"assets"
// Files the game writes at the folder's top and the uninstaller always removes.
#define GAME_LOG_PATTERN L"*.log"

// The player's saved games, settings and mods, removed only when the player asks.
extern const wchar_t* const SAVE_FOLDERS[];
extern const size_t SAVE_FOLDERS_COUNT;
extern const wchar_t* const SAVE_PATTERNS[];  // files at the folder's top
extern const size_t SAVE_PATTERNS_COUNT;

// 1 when a name relative to the folder ("a\b") is the player's, never a release's: inside a
// save folder, a save pattern at the top, or setup's own file. A package that named one
// could otherwise make an update or an uninstall remove it.
int IsPlayersOrSetupsName(const wchar_t* relative_name);
