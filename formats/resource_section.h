// The game executable with its icon resources replaced, laid out from its original bytes
// as a list of pieces written in order: unchanged ranges of the original, a new copy of its
// headers with a new resource directory, and the new icon images. Byte-level work over
// buffers only; nothing is copied but the headers and the directory, so a large
// executable is never held twice in memory.
//
// Handled: a 64-bit image whose resource section ".rsrc" is the last section, or is
// followed only by ".reloc" (moved up or down; only the base-relocation data directory
// refers to it); any overlay after the sections is kept and a certificate table dropped
// (the changed file no longer matches its signature). Anything else is refused with a
// code, and the caller takes the update path of the system instead.
#pragma once
#include <stdint.h>

#include "formats/icon_images.h"
#include "formats/image_checksum.h"

#define LAYOUT_DONE            0
#define LAYOUT_NOT_PE          1  // not a well-formed 64-bit image
#define LAYOUT_NO_RESOURCES    2  // no ".rsrc" holding the resource directory at its start
#define LAYOUT_SECTION_AFTER   3  // a section other than ".reloc" after the resources
#define LAYOUT_REFERENCED      4  // something else points into or after the resources
#define LAYOUT_ODD_DIRECTORY   5  // a resource directory the loader might read otherwise
#define LAYOUT_TOO_LARGE       6  // the new file would not fit 32-bit offsets
#define LAYOUT_NO_MEMORY       7

#define LAYOUT_DEFAULT_LANGUAGE 1033

// The new icons: RT_ICON 1 to 6 and RT_GROUP_ICON 1, all in one language.
struct NewIconResources {
    const uint8_t* images[ICON_IMAGE_COUNT];
    uint32_t image_bytes[ICON_IMAGE_COUNT];
    const uint8_t* group;
    uint32_t group_bytes;
};

struct ExecutableLayout {
    FilePiece* pieces;  // in file order; they point into the original, the icons and block
    int piece_count;
    uint8_t* block;     // the new headers and resource directory
    uint32_t file_bytes;
    uint16_t language;  // of the new icons
};

// Plans the new file: every resource of the original is kept, in its languages, except the
// icons and icon groups named by number, which give way to the new ones. The new icons take
// the language of the first numbered icon group (LAYOUT_DEFAULT_LANGUAGE without one). The
// pieces stay valid while exe and icons do. LAYOUT_DONE or the code of the refusal; the
// layout is empty unless done.
int LayOutIconResources(const uint8_t* exe, uint32_t exe_bytes, const NewIconResources* icons,
                        ExecutableLayout* layout);
void FreeExecutableLayout(ExecutableLayout* layout);
