// Writing a package from a game folder: the game executable first, then every other file
// in a fixed order (files of a folder by name, then its subfolders by name).
#pragma once
#include <stdint.h>

#define PACKER_MAX_FILES 4096
#define PACKER_ERROR_UNITS 1024
#define PACKER_GAME_EXE L"TorrentinePC.exe"

// Writes the package of game_folder to output_path. Returns 1 on success; on failure
// returns 0 with a one-line message in error and leaves no file at output_path other than
// one that was there before.
int WriteGamePackage(const wchar_t* game_folder, const wchar_t* output_path, wchar_t* error,
                     uint32_t* entry_count, uint64_t* package_bytes);
