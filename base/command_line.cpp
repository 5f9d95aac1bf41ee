#include "base/command_line.h"

#include <wchar.h>

#include "base/setup_state.h"

static wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? (wchar_t)(c + 32) : c; }

int MatchesOption(const wchar_t* argument, const wchar_t* option)
{
    while (*argument && *option) {
        if (FoldAscii(*argument) != FoldAscii(*option)) return 0;
        argument++;
        option++;
    }
    return *argument == L'\0' && *option == L'\0';
}

int HasFlag(int argc, wchar_t** argv, const wchar_t* option)
{
    for (int i = 1; i < argc; i++)
        if (MatchesOption(argv[i], option)) return 1;
    return 0;
}

const wchar_t* OptionValue(int argc, wchar_t** argv, const wchar_t* option)
{
    for (int i = 1; i < argc - 1; i++)
        if (MatchesOption(argv[i], option)) return argv[i + 1];
    return nullptr;
}

int CopyOptionValue(wchar_t* field, const wchar_t* value)
{
    if (wcslen(value) > SETUP_PATH_UNITS - 1) {
        field[0] = L'\0';  // an over-long value is refused as a whole, never cut
        return 0;
    }
    wmemcpy(field, value, wcslen(value) + 1);
    return 1;
}
