// Folders that only look like an installation: the game's names in someone else's folder. An
// install must refuse each of them and an uninstaller copied into one must change nothing;
// one table serves both, so that the two never drift apart.
#pragma once
#include <string>
#include <vector>

struct LookAlikeFolder {
    const char* what;
    std::vector<const wchar_t*> files;  // each holds "the player's"
    bool rom_copy;     // a ROM (the fixture) under the copy's name
    bool linked_mark;  // setup's note as a symbolic link to a file elsewhere
};

const std::vector<LookAlikeFolder>& LookAlikeFolders();

// Makes folder as the case has it (the folder too); outside_note is the file that a linked
// note leads to. false when something could not be made.
bool MakeLookAlikeFolder(const LookAlikeFolder& look_alike, const std::wstring& folder,
                         const std::wstring& outside_note);
