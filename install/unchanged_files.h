// An update writes only what changed: each installed file is compared with what the update
// would write there (size first, then content), and the ones already right are left as
// they are: neither staged, nor renamed, nor checked for use.
#pragma once
#include <stdint.h>

#include "install/package_extraction.h"

// Marks each package entry that the folder already holds as it is (slots[i] =
// PARTIAL_SLOT_SAME); the game executable is compared with its bytes after the icon step.
void FindUnchangedEntries(ExtractContext* context);

// Sets own_files_same: OWN_SAME_ROM_COPY when the folder's ROM copy already is the image of
// rom_path (length > 0: a ROM was given), OWN_SAME_UNINSTALLER when its "Uninstall.exe" is
// already a copy of the file at own_path.
void FindUnchangedOwnFiles(ExtractContext* context, const wchar_t* rom_path, uint32_t length,
                           const wchar_t* own_path);
