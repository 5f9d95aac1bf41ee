// Which folders an install may go into, so that a later uninstall can only ever remove the
// game: never a whole drive, a folder of Windows or of the user's own files, a folder that
// other files share, nor one in which the game's own paths would not fit.
#pragma once
#include <stddef.h>

#include "install/package_extraction.h"
#include "package/package_format.h"

// The longest folder text, in UTF-16 units, in which every file and folder of an
// installation fits the program's path limits; measured holds the package's longest names
// (from a walk with SumEntrySize).
int InstallFolderLimit(const ExtractContext* measured);

// 1 when an install may go into folder (trimmed, not empty): a full path of its own form,
// not too long, neither a drive's root nor a known folder of Windows or the user, and new,
// empty or an installation already. Otherwise 0, with the reason in message.
int CheckInstallFolder(const wchar_t* folder, int limit, wchar_t* message, size_t capacity);

// 1 when folder is a drive's root or a folder of Windows or of the user's own files (also
// one that cannot be resolved), by what it is, not how it is spelled.
int IsDriveRootOrKnownFolder(const wchar_t* folder);

#define NOT_FULL_PATH_TEXT L"Use a full install path (for example C:\\Games\\Torrentine PC)."
#define DEVICE_PATH_TEXT                                                                     \
    L"Use a plain folder path (for example C:\\Games\\Torrentine PC), without \\\\?\\ or " \
    L"\\\\.\\ in front."

// The refusal of a folder text longer than limit units.
void FolderTooLongMessage(int limit, wchar_t* message, size_t capacity);

#define ROM_PATH_TOO_LONG_TEXT \
    L"That ROM path is too long: move the file to a shorter path (at most 259 characters)."
