// The end of an extraction: an update's staged files renamed into place all at once, or
// thrown away; a new install's files removed again when the run stops.
#pragma once
#include "package/package_format.h"

// Every name an update is about to replace can be replaced: no program (the game, say)
// holds one open without sharing its deletion. 0, with failing_path, when one cannot.
int CanReplaceStagedNames(ExtractContext* context);

// Renames every staged file over its name, the game executable first. A rename that fails
// is recorded in failing_path and the others still go on. 1 when all were renamed. A journal
// file marks the folder from the first rename until all are done; commit_started says
// whether any rename was tried.
int CommitStagedFiles(ExtractContext* context);
// 1 when an earlier update stopped between its first and last rename: the game in folder
// may be part old, part new, until an update completes.
int UpdateWasInterrupted(const wchar_t* folder);

// Removes the staged files of an update that stops before its commit: the installed
// version stays as it was.
void DiscardStagedFiles(const ExtractContext* context);

// Removes what a new install made in the folder and nothing else: the package's files it
// made, then their folders that are left empty, setup's own files it made (own_files_made)
// and the mark, then the install folder with the parents this run created, up to and
// including created_top (empty when the folder was there before the run), each only when
// empty. 1 when every file this run made is gone.
int UndoNewInstall(const ExtractContext* context, const wchar_t* created_top);
