// packer GAME_FOLDER OUTPUT_PACKAGE
// Writes the package that the setup program carries as its resource RT_RCDATA 101.
#include <stdio.h>
#include <windows.h>

#include "packer/package_writer.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        fwprintf(stderr, L"usage: packer GAME_FOLDER OUTPUT_PACKAGE\n");
        return 2;
    }
    wchar_t error[PACKER_ERROR_UNITS];
    uint32_t entries = 0;
    uint64_t bytes = 0;
    if (!WriteGamePackage(argv[1], argv[2], error, &entries, &bytes)) {
        fwprintf(stderr, L"packer: error: %ls\n", error);
        return 1;
    }
    wprintf(L"packer: %lu entries, %llu bytes\n", (unsigned long)entries, (unsigned long long)bytes);
    return 0;
}
