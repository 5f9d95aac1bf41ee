// The partial names beside a file that setup replaces: the new bytes go to
// "<path>.partial" first, or past leftovers of interrupted runs to "<path>.partial1" to
// "<path>.partial9", and are renamed over path once whole. How such a name is formed and
// how it is recognised, in one place.
#pragma once
#include <stddef.h>

// Slot 0 is "<path>.partial", slots 1 to 9 "<path>.partialN".
#define PARTIAL_SLOTS 10
// The longest suffix a partial name adds (".partial9").
#define PARTIAL_SUFFIX_UNITS 9
// A directory search for the partial names in a folder (long names still to be checked
// with UnitsBeforePartialSuffix: a search also matches 8.3 short names).
#define PARTIAL_SEARCH_PATTERN L"*.partial*"

// The partial name of slot beside path; the units written, or negative when cut.
int PartialPath(wchar_t* buffer, size_t capacity, const wchar_t* path, int slot);
// The first slot whose name is free beside path, or -1 when every one is taken.
int FreePartialSlot(const wchar_t* path);
// The units of name before ".partial" or ".partial1" to ".partial9" at its end (case
// ignored), or -1 when name is no partial name.
int UnitsBeforePartialSuffix(const wchar_t* name);
