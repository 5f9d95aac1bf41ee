#include "base/partial_names.h"

#include <windows.h>
#include <wchar.h>

#include "base/setup_state.h"
#include "base/text_format.h"

int PartialPath(wchar_t* buffer, size_t capacity, const wchar_t* path, int slot)
{
    return slot == 0 ? FormatText(buffer, capacity, L"%s.partial", path)
                     : FormatText(buffer, capacity, L"%s.partial%d", path, slot);
}

int FreePartialSlot(const wchar_t* path)
{
    wchar_t partial[SETUP_JOIN_UNITS];
    for (int slot = 0; slot < PARTIAL_SLOTS; slot++) {
        if (PartialPath(partial, SETUP_JOIN_UNITS, path, slot) < 0) return -1;
        if (GetFileAttributesW(partial) == INVALID_FILE_ATTRIBUTES &&
            GetLastError() == ERROR_FILE_NOT_FOUND)
            return slot;
    }
    return -1;
}

int UnitsBeforePartialSuffix(const wchar_t* name)
{
    static const wchar_t suffix[] = L".partial";
    const int suffix_units = (int)(sizeof suffix / sizeof suffix[0]) - 1;
    int units = (int)wcslen(name);
    if (units > 0 && name[units - 1] >= L'1' && name[units - 1] <= L'9') units--;
    units -= suffix_units;
    if (units <= 0 ||
        CompareStringOrdinal(name + units, suffix_units, suffix, suffix_units, TRUE) != CSTR_EQUAL)
        return -1;
    return units;
}
