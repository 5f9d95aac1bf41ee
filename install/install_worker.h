// One whole installation from the install request, in a fixed order. Runs on a thread of
// its own in window mode and on the main thread in silent mode; the outcome is the
// failure flag of SetupState.
#pragma once
#include <windows.h>

#include "base/installation_layout.h"

#define FREE_SPACE_MARGIN_BYTES 16777216ull

DWORD WINAPI InstallWorker(LPVOID unused);
