// Whether an install request may install, as far as its paths tell before the ROM is read:
// one rule, which the window applies while the player types and the install worker before
// it writes anything, so that the two can never disagree about what starts.
#pragma once
#include <stddef.h>

#include "install/package_extraction.h"
#include "package/package_format.h"

// Which input a refusal concerns, and so where the window puts the focus after a failure.
#define REQUEST_ACCEPTED 0
#define FAILED_INPUT_ROM 1
#define FAILED_INPUT_FOLDER 2

// 0 when the request may go on to its ROM; otherwise FAILED_INPUT_* with the refusal's text.
// In order: the setup program's own path (without it no uninstaller could be copied), the
// folder's length, text, checks and drive, then the ROM path's length. folder is trimmed;
// folder_fits and rom_fits say whether each text fitted the request whole; measured holds
// the package's longest names (a walk with SumEntrySize).
int RefuseInstallRequest(const wchar_t* folder, int folder_fits, int rom_fits,
                         const ExtractContext* measured, wchar_t* refusal, size_t capacity);
