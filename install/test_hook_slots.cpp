// The hooks' record in every program that links the install and uninstall code: zero, and
// so without hooks, unless the test flavour's install/test_hooks.cpp fills it.
#include "install/test_hooks.h"

TestHooks g_test_hooks;
