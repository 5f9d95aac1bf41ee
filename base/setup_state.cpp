#include "base/setup_state.h"

SetupState g_setup = {
    {0}, 0, {0}, {0}, 0, 0, 0, 0,
    0, 0, 0, 0, 0, -1, nullptr,
    96, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, 0, 0,
};
