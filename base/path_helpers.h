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
