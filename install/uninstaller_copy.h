// The setup program's copy of itself, "Uninstall.exe".
#pragma once

// Writes the running setup program's file to path as a new file (an existing name is
// replaced, never written through). 1 on success; a failed copy leaves nothing at path.
int CopySetupProgram(const wchar_t* path);
