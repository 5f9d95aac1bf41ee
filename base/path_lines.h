// A long path shown in a message box: a box grows as wide as the longest word of its text,
// and a path has no space to break at, so that a deep folder made the uninstaller's
// questions as wide as the screen.
#pragma once
#include <stddef.h>

#define PATH_LINE_UNITS 64

// Copies path into out with a line feed before a part that would take a line past
// line_units: after a separator where there is one, inside a longer name where there is
// not. Returns 1, or 0 with path copied as it is (cut as every bounded text) when the
// broken text does not fit.
int BreakPathIntoLines(const wchar_t* path, wchar_t* out, size_t capacity, size_t line_units);
