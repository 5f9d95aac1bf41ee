#pragma once

// The registered installation's "InstallLocation", else the profile folder joined with
// "Games\\Torrentine PC"; empty when neither can be had. folder holds 260 units.
void ReadDefaultInstallFolder(wchar_t* folder);
