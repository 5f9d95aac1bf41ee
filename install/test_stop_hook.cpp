// Linked into the test flavour only: lets a test stop an install at a chosen moment, as a
// player's Cancel, a failed write or a killed process would. The environment variable
// TORRENTINE_TEST_STOP holds "<phase> <entry> <action>": phase "write" (before the entry
// is written) or "commit" (before it is renamed into place), the entry's place in the
// package from 0, and "cancel", "fail" or "kill".
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "base/setup_state.h"

static int TestStop(int phase, int entry)
{
    char text[64];
    DWORD units = GetEnvironmentVariableA("TORRENTINE_TEST_STOP", text, sizeof text);
    if (units == 0 || units >= sizeof text) return SETUP_TEST_GO_ON;
    char* rest = nullptr;
    const char* phase_name = strtok_r(text, " ", &rest);
    const char* entry_text = strtok_r(nullptr, " ", &rest);
    const char* action = strtok_r(nullptr, " ", &rest);
    if (!phase_name || !entry_text || !action) return SETUP_TEST_GO_ON;
    int wanted_phase = strcmp(phase_name, "commit") == 0 ? 1 : 0;
    if (wanted_phase != phase || atoi(entry_text) != entry) return SETUP_TEST_GO_ON;
    if (strcmp(action, "cancel") == 0) return SETUP_TEST_CANCEL;
    if (strcmp(action, "fail") == 0) return SETUP_TEST_FAIL;
    if (strcmp(action, "kill") == 0) return SETUP_TEST_KILL;
    return SETUP_TEST_GO_ON;
}

[[maybe_unused]] static const int installed = (g_setup.test_stop = TestStop, 1);
