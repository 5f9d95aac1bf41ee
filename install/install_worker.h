// One whole installation from the install request, in a fixed order. Runs on a thread of
// its own in window mode and on the main thread in silent mode; the outcome is the
// failure flag of SetupState.
#pragma once
#include <windows.h>

#define PORTABLE_NOTE_NAME L"portable.txt"
#define GAME_EXE_NAME L"TorrentinePC.exe"
#define UNINSTALLER_NAME L"Uninstall.exe"
#define DISPLAY_NAME L"Torrentine PC"
#define FREE_SPACE_MARGIN_BYTES 16777216ull

DWORD WINAPI InstallWorker(LPVOID unused);
