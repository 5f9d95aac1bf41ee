// The test flavour's hooks: how its tests reach moments a player cannot aim at. Every one is
// null in the release, which does not carry install/test_hooks.cpp; in the test flavour that
// file fills them before the program starts.
#pragma once
#include <windows.h>

#include "package/package_format.h"

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
