// The release program accepts only the user's own copy of the prototype dated Jun 15, 1999.
#include "rom/rom_image.h"

const uint64_t ROM_ACCEPTED_HASH = 0x3EF9EA187C5BBEDEull;
