// Options match whole arguments, ignoring the case of ASCII letters only. A flag may stand
// anywhere from position 1; a value option counts only when an argument follows it.
#pragma once
#include <stddef.h>

int MatchesOption(const wchar_t* argument, const wchar_t* option);
int HasFlag(int argc, wchar_t** argv, const wchar_t* option);
// The argument after the first match among positions 1 to argc - 2, or null.
const wchar_t* OptionValue(int argc, wchar_t** argv, const wchar_t* option);
// Copies a value of at most 259 units with its terminator into a 260-unit field and
// returns 1; a longer value leaves the field empty and returns 0.
int CopyOptionValue(wchar_t* field, const wchar_t* value);
// Writes text as one double-quoted argument that CommandLineToArgvW gives back exactly:
// backslashes before a quote or before the closing quote are doubled, a quote escaped
// (so a drive root R:\ becomes "R:\\"). Units written, or -1 and an empty buffer when it
// does not fit.
int QuoteArgument(wchar_t* buffer, size_t capacity, const wchar_t* text);
