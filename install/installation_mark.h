// The one proof that a folder is an installation of this game made by this setup: the note
// "portable.txt" with setup's exact text, as a file of the folder itself. Setup writes it
// into the folder before anything else, and the uninstaller removes it after everything
// else. A ROM under the copy's name, a game executable, saves, settings or logs are names
// anyone's files can have; none of them is evidence.
#pragma once
#include <stdint.h>

extern const char INSTALLATION_MARK_TEXT[];
extern const uint32_t INSTALLATION_MARK_BYTES;

int FolderHoldsInstallation(const wchar_t* folder);
// An installation whose ROM copy is whole: it can be updated without the ROM.
int CanUpdateWithoutRom(const wchar_t* folder);
// Makes folder an installation: writes the mark as a new file unless it is there already.
// 1 when the folder holds the mark afterwards.
int WriteInstallationMark(const wchar_t* folder);
