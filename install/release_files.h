// The files a release of the game put into an installation: the entries of its package. The
// uninstaller removes its own release's (it is a copy of the setup that installed or last
// updated the folder); an update removes the installed release's files that the new one no
// longer ships, reading them from the installation's own "Uninstall.exe". Neither acts
// inside another installation nested in the folder, through a link, or on a name of the
// player's or of setup's own.
#pragma once
#include <stdint.h>
#include <stddef.h>

struct ReleaseNames {
    wchar_t* names;  // one terminated name after another; null for none
    uint32_t count;
};

// The running program's own package's names. 1 on success.
int ReadOwnReleaseNames(ReleaseNames* names);
// The names of the package carried by the installation's "Uninstall.exe", when it can be
// read and its digest holds; 0 otherwise (names then empty).
int ReadInstalledReleaseNames(const wchar_t* folder, ReleaseNames* names);
// The first release's files, for installations whose uninstaller cannot tell.
int ReadFirstReleaseNames(ReleaseNames* names);
void FreeReleaseNames(ReleaseNames* names);

// Removes from folder each file of names that keep (may be null) does not also name, then
// the folders those leave empty. The worst DELETION_* outcome.
int RemoveReleaseFiles(const wchar_t* folder, const ReleaseNames* names, const ReleaseNames* keep);
// 1 when no file of names is left in folder (a link the player put there is not one).
int ReleaseFilesAreGone(const wchar_t* folder, const ReleaseNames* names);
// Removes each folder of relative_name (below folder), from the deepest up, while they are
// empty.
void RemoveEmptiedFolders(const wchar_t* folder, const wchar_t* relative_name);
// 1 when a folder at or above relative_name's folder (below folder) holds another
// installation's mark.
int IsInsideNestedInstallation(const wchar_t* folder, const wchar_t* relative_name);
