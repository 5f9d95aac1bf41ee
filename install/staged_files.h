// The end of a new install's extraction that stops: its files removed again (an update's
// staged files are the commit's, install/update_commit.h).
#pragma once
#include "install/package_extraction.h"
#include "package/package_format.h"

// Removes what a new install made in the folder and nothing else: the package's files it
// made, then their folders that are left empty, setup's own files it made (own_files_made)
// and the mark, then the install folder with the parents this run created, up to and
// including created_top (empty when the folder was there before the run), each only when
// empty. 1 when every file this run made is gone.
int UndoNewInstall(const ExtractContext* context, const wchar_t* created_top);
