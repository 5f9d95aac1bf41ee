// Rules for paths the user types, picks or drops, and paths in the user's shell folders.
#pragma once
#include <windows.h>
#include <shlobj.h>

// Strips spaces and double quotes at both ends, then trailing backslashes while the text
// is longer than 3 units (a drive root such as C:\ keeps its backslash). In place.
void TrimInputPath(wchar_t* path);

// folder-id path joined with name into buffer; the empty string on any failure.
void KnownFolderFilePath(REFKNOWNFOLDERID folder_id, const wchar_t* name, wchar_t* buffer,
                         size_t capacity);

// The forms of a folder text. Only a drive path ("X:\...") and a network path
// ("\\server\share\...") name one place whatever the current folder and drive are.
#define PATH_FORM_FULL 0
#define PATH_FORM_NOT_FULL 1  // relative, rooted ("\Games") or drive-relative ("C:Games")
#define PATH_FORM_DEVICE 2    // "\\.\", "\\?\" or "\??\" in front
int FolderPathForm(const wchar_t* path);

// Rewrites a full folder path in place as Windows resolves it ("." and ".." gone, "/" as
// "\", trailing dots and separators dropped). 0, with the path unchanged, when the result
// does not fit SETUP_PATH_UNITS.
int NormaliseFolderPath(wchar_t* path);
