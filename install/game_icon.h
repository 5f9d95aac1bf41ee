// Builds the game icon from the picture inside the ROM: "Torrentine PC.ico" in the install
// folder and the icon resources of the installed "TorrentinePC.exe".
#pragma once
#include <stdint.h>

#include "formats/icon_images.h"

#define ICON_OLD_RESOURCES_MAX 64

// The six icon images, built once and used twice: written into the game executable while
// the package is extracted, and into the icon file at the icon step.
struct GameIconImages {
    uint8_t* images[ICON_IMAGE_COUNT];
    uint32_t image_bytes[ICON_IMAGE_COUNT];
    int complete;            // all six exist; otherwise none does
    int executable_written;  // the game executable already holds them
};

// 1 when all six images were built from the ROM image's picture; 0 (none kept) when there
// is no image, the image has no picture or memory runs out. Free with FreeIconImages.
int BuildIconImages(GameIconImages* icon, const uint8_t* rom_image, uint32_t rom_length);
// The same from the picture's ICON_PICTURE_BYTES alone (null: none built).
int BuildIconImagesFromPicture(GameIconImages* icon, const uint8_t* picture);
void FreeIconImages(GameIconImages* icon);

// The icon step: writes "Torrentine PC.ico" whenever the images exist, then replaces the
// game executable's icon resources with the update path of the system unless the
// executable was already written with them or is signed (it then stays as packaged). 1
// when the executable holds the new icons or is signed.
int StoreGameIcon(const wchar_t* install_folder, const GameIconImages* icon);

// The extraction's writer of the game executable: the file written once with its new icons
// in its resource section when the images exist, it is unsigned and its layout allows, as
// it is in the package otherwise. 1 when the whole file was written.
int WriteGameExecutable(const wchar_t* path, const uint8_t* data, uint32_t size, GameIconImages* icon,
                        int* created);
// 1 when the folder's game executable is already exactly what WriteGameExecutable would
// write (an update then leaves it as it is, and the icon step too). buffer holds
// COMPARE_BUFFER_BYTES.
int GameExecutableIsAlready(const wchar_t* folder, const uint8_t* data, uint32_t size, GameIconImages* icon,
                            uint8_t* buffer);

// All of the above at once, for an executable already in the folder: 1 when its icon
// resources were replaced; the icon file is written whenever the six images could be
// built, whatever happens to the executable.
int BuildGameIcon(const wchar_t* install_folder, const uint8_t* rom_image, uint32_t rom_length);
