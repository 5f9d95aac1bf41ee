// seal_setup_file IMAGE
// The setup program's very last build step, after its package is put on a page: writes the
// digest of the whole file into the program's record (package/setup_file_digest.h), which
// the program checks at start. Rewrites IMAGE in place; running it again changes nothing.
// A signature goes on afterwards: the digest leaves out what a signer writes.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "package/setup_file_digest.h"
#include "tools/image_layout/image_file.h"

#define TOOL L"seal_setup_file"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        fwprintf(stderr, L"usage: seal_setup_file IMAGE\n");
        return 2;
    }
    const wchar_t* path = argv[1];
    uint32_t bytes = 0;
    uint8_t* image = ReadImageFile(TOOL, path, &bytes);
    uint8_t* before = image ? (uint8_t*)malloc(bytes ? bytes : 1) : nullptr;
    if (!image) return 1;
    if (!before) return ImageFileFailure(TOOL, L"can't read", path);
    memcpy(before, image, bytes);

    int result = SealSetupFileBytes(image, bytes);
    if (result != SEAL_DONE) {
        fwprintf(stderr, L"seal_setup_file: %ls: can't seal it (code %d: %ls)\n", path, result,
                 result == SEAL_NO_RECORD ? L"not exactly one digest record"
                 : result == SEAL_SIGNED  ? L"signed already; seal before signing"
                                          : L"not a well-formed image");
        return 1;
    }
    if (memcmp(before, image, bytes) == 0) return 0;
    const ImagePiece whole = {image, bytes};
    return ReplaceImageFile(TOOL, path, L".sealing", &whole, 1);
}
