// Builds the game icon from the picture inside the ROM: "Torrentine PC.ico" in the install
// folder and the icon resources of the installed "TorrentinePC.exe".
#pragma once
#include <stdint.h>

#define ICON_OLD_RESOURCES_MAX 64

// 1 when the game executable's icon resources were replaced; the icon file is written
// whenever the six images could be built, whatever happens to the executable.
int BuildGameIcon(const wchar_t* install_folder, const uint8_t* rom_image, uint32_t rom_length);
