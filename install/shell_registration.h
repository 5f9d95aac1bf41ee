// Shortcuts on the desktop and in the Start menu, and the per-user uninstall entry.
#pragma once
#include <windows.h>

#include "base/installation_layout.h"

#define UNINSTALL_COMMAND_UNITS 552

int CreateShortcut(const wchar_t* shortcut_path, const wchar_t* target,
                   const wchar_t* working_folder, const wchar_t* icon_path,
                   const wchar_t* description);
LSTATUS SetStringValue(HKEY key, const wchar_t* name, const wchar_t* text);
// The running program's version, its first two parts ("1.0"); empty without a version
// resource.
void ReadDisplayVersion(wchar_t* text, size_t capacity);
void RegisterShellEntries(const wchar_t* game_executable, const wchar_t* install_folder,
                          const wchar_t* icon_path, const wchar_t* display_name,
                          int make_desktop_shortcut, int make_start_menu_shortcut);
