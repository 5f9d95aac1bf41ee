// The test flavour's hooks: how its tests reach moments a player cannot aim at. Every one is
// null in the release, which does not carry install/test_hooks.cpp; in the test flavour that
// file fills them before the program starts.
#pragma once
#include <windows.h>

// What the test flavour's stop asks of a run at an entry; the release has no stop.
#define SETUP_TEST_GO_ON 0
#define SETUP_TEST_CANCEL 1  // as if the player had answered Yes to the stop question
#define SETUP_TEST_FAIL 2    // as if the entry's write had failed
#define SETUP_TEST_KILL 3    // as if the process were killed

// Called before each package entry is written (phase 0) and committed (phase 1); returns a
// SETUP_TEST_* action.
typedef int (*TestStopHook)(int phase, int entry);

struct TestHooks {
    // Stops a run at a chosen entry as a Cancel, a failed write or a kill would (SETUP_TEST_*).
    TestStopHook stop;
    // Names the uninstaller's temporary copies: fills the 64 bits of attempt's name and
    // returns 1, or returns 0 for the random ones.
    int (*copy_name)(int attempt, ULONG bits[2]);
    // Records a moment a test cannot see from outside (the uninstaller's self-deletion
    // being scheduled).
    void (*note)(const char* event);
};

extern TestHooks g_test_hooks;
