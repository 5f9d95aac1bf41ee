#include "base/setup_state.h"

// Zero-initialised, so that it takes no room in the program file; the few fields that
// start elsewhere are set by InitSetupState.
SetupState g_setup;

void InitSetupState(void)
{
    g_setup.last_progress = -1;
}
