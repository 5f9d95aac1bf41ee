// Linked into the test flavour only, the hooks through which tests reach moments a player
// cannot aim at.
//
// TORRENTINE_TEST_STOP stops an install as a player's Cancel, a failed write or a killed
// process would: "<phase> <entry> <action>", phase "write" (before the entry is written)
// or "commit" (before it is renamed into place), the entry's place in the package from 0,
// and "cancel", "fail" or "kill".
//
// TORRENTINE_TEST_COPY_NAMES names the uninstaller's temporary copies: 16 hexadecimal
// digits per attempt, separated by spaces; attempts past the list get random names.
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

static int TestCopyName(int attempt, ULONG bits[2])
{
    char text[256];
    DWORD units = GetEnvironmentVariableA("TORRENTINE_TEST_COPY_NAMES", text, sizeof text);
    if (units == 0 || units >= sizeof text) return 0;
    char* rest = nullptr;
    const char* name = strtok_r(text, " ", &rest);
    for (int i = 0; name && i < attempt; i++) name = strtok_r(nullptr, " ", &rest);
    if (!name || strlen(name) != 16) return 0;
    char high[9] = {0};
    memcpy(high, name, 8);
    bits[0] = strtoul(high, nullptr, 16);
    bits[1] = strtoul(name + 8, nullptr, 16);
    return 1;
}

[[maybe_unused]] static const int installed =
    (g_setup.test_stop = TestStop, g_setup.test_copy_name = TestCopyName, 1);
