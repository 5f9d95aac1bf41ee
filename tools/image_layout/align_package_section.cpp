// align_package_section IMAGE
// The setup program's last build step: puts its resource section, which holds the package,
// on a page of the file (see formats/section_file_alignment.h), rewriting IMAGE in place.
// Running it again changes nothing.
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include "formats/section_file_alignment.h"
#include "tools/image_layout/image_file.h"

#define TOOL L"align_package_section"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        fwprintf(stderr, L"usage: align_package_section IMAGE\n");
        return 2;
    }
    const wchar_t* path = argv[1];
    uint32_t bytes = 0;
    uint8_t* image = ReadImageFile(TOOL, path, &bytes);
    if (!image) return 1;

    uint32_t insert_at = 0, padding = 0;
    int result = PlanPageAlignedSection(image, bytes, ".rsrc", &insert_at, &padding);
    if (result != SECTION_ALIGN_DONE) {
        fwprintf(stderr, L"align_package_section: %ls: can't align its resource section (code %d)\n",
                 path, result);
        return 1;
    }
    if (padding == 0) return 0;
    const ImagePiece pieces[] = {{image, insert_at}, {nullptr, padding}, {image + insert_at, bytes - insert_at}};
    return ReplaceImageFile(TOOL, path, L".aligning", pieces, 3);
}
