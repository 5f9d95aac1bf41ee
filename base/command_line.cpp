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

static int PutUnits(wchar_t* buffer, size_t capacity, size_t* at, wchar_t unit, size_t count)
{
    if (*at + count >= capacity) return 0;
    for (size_t i = 0; i < count; i++) buffer[(*at)++] = unit;
    return 1;
}

int QuoteArgument(wchar_t* buffer, size_t capacity, const wchar_t* text)
{
    if (capacity == 0) return -1;
    size_t at = 0;
    int fits = PutUnits(buffer, capacity, &at, L'"', 1);
    const wchar_t* next = text;
    while (fits) {
        size_t backslashes = 0;
        while (*next == L'\\') {
            backslashes++;
            next++;
        }
        if (*next == L'\0') {
            fits = PutUnits(buffer, capacity, &at, L'\\', backslashes * 2) &&
                   PutUnits(buffer, capacity, &at, L'"', 1);
            break;
        }
        if (*next == L'"')
            fits = PutUnits(buffer, capacity, &at, L'\\', backslashes * 2 + 1);
        else
            fits = PutUnits(buffer, capacity, &at, L'\\', backslashes);
        fits = fits && PutUnits(buffer, capacity, &at, *next, 1);
        next++;
    }
    buffer[fits ? at : 0] = L'\0';
    return fits ? (int)at : -1;
}
