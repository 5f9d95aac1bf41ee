// Linked into the test flavour only, the hooks through which tests reach moments a player
// cannot aim at.
//
// TORRENTINE_TEST_STOP stops an install as a player's Cancel, a failed write or a killed
// process would: "<phase> <entry> <action>", phase "write" (before the entry is written)
// or "commit" (before it is renamed into place), the entry's place in the package from 0,
// and "cancel", "fail", "kill" or "pause". A pause makes the file named by
// TORRENTINE_TEST_PAUSE and waits (at most two minutes) until the test has deleted it, so
// that the test can act at that very moment, as another program would.
//
// TORRENTINE_TEST_NOTES names a file to which the program appends a line per event the tests
// watch for ("self-delete" when the uninstaller schedules its own deletion).
//
// TORRENTINE_TEST_COPY_NAMES names the uninstaller's temporary copies: 16 hexadecimal
// digits per attempt, separated by spaces; attempts past the list get random names.
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "install/test_hooks.h"

static void PauseUntilResumed(void)
{
    wchar_t path[MAX_PATH];
    DWORD units = GetEnvironmentVariableW(L"TORRENTINE_TEST_PAUSE", path, MAX_PATH);
    if (units == 0 || units >= MAX_PATH) return;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    CloseHandle(file);
    for (int waited = 0; waited < 120000 && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; waited += 20)
        Sleep(20);
}

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
    if (strcmp(action, "pause") == 0) PauseUntilResumed();
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

static void TestNote(const char* event)
{
    wchar_t path[MAX_PATH];
    DWORD units = GetEnvironmentVariableW(L"TORRENTINE_TEST_NOTES", path, MAX_PATH);
    if (units == 0 || units >= MAX_PATH) return;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, event, (DWORD)strlen(event), &written, nullptr);
    WriteFile(file, "\n", 1, &written, nullptr);
    CloseHandle(file);
}

[[maybe_unused]] static const int installed =
    (g_test_hooks.stop = TestStop, g_test_hooks.copy_name = TestCopyName, g_test_hooks.note = TestNote, 1);
