#include "base/installation_layout.h"

#include <windows.h>
#include <wchar.h>

const wchar_t* const SETUP_FILES_WITH_GAME[] = {ICON_FILE_NAME, ROM_COPY_NAME, UPDATE_JOURNAL_NAME};
const size_t SETUP_FILES_WITH_GAME_COUNT = sizeof SETUP_FILES_WITH_GAME / sizeof SETUP_FILES_WITH_GAME[0];

const wchar_t* const SETUP_OWN_FILES[] = {ROM_COPY_NAME, ICON_FILE_NAME, UNINSTALLER_NAME,
                                          UPDATE_JOURNAL_NAME, FOLDER_LOCK_NAME, PORTABLE_NOTE_NAME};
const size_t SETUP_OWN_FILES_COUNT = sizeof SETUP_OWN_FILES / sizeof SETUP_OWN_FILES[0];

const wchar_t* const FIRST_RELEASE_FILES[] = {
    GAME_EXE_NAME,      L"SDL2.dll",         L"dxcompiler.dll",
    L"dxil.dll",        L"msvcp140.dll",     L"msvcp140_atomic_wait.dll",
    L"vcruntime140.dll", L"vcruntime140_1.dll",
};
const size_t FIRST_RELEASE_FILES_COUNT = sizeof FIRST_RELEASE_FILES / sizeof FIRST_RELEASE_FILES[0];

const wchar_t* const SAVE_FOLDERS[] = {L"saves", L"mods", L"mod_config"};
const size_t SAVE_FOLDERS_COUNT = sizeof SAVE_FOLDERS / sizeof SAVE_FOLDERS[0];
const wchar_t* const SAVE_PATTERNS[] = {L"*.json", L"*.json.bak", L"tn_framerate_v1"};
const size_t SAVE_PATTERNS_COUNT = sizeof SAVE_PATTERNS / sizeof SAVE_PATTERNS[0];

static int SameName(const wchar_t* a, int a_units, const wchar_t* b)
{
    return CompareStringOrdinal(a, a_units, b, -1, TRUE) == CSTR_EQUAL;
}

// The tail of name ends with suffix, case ignored.
static int EndsWith(const wchar_t* name, const wchar_t* suffix)
{
    size_t units = wcslen(name), suffix_units = wcslen(suffix);
    return units > suffix_units && SameName(name + units - suffix_units, (int)suffix_units, suffix);
}

int IsPlayersOrSetupsName(const wchar_t* relative_name)
{
    const wchar_t* separator = wcschr(relative_name, L'\\');
    if (separator) {
        int units = (int)(separator - relative_name);
        for (size_t i = 0; i < SAVE_FOLDERS_COUNT; i++)
            if (SameName(relative_name, units, SAVE_FOLDERS[i])) return 1;
        return 0;
    }
    for (size_t i = 0; i < SETUP_OWN_FILES_COUNT; i++)
        if (SameName(relative_name, -1, SETUP_OWN_FILES[i])) return 1;
    for (size_t i = 0; i < SAVE_FOLDERS_COUNT; i++)
        if (SameName(relative_name, -1, SAVE_FOLDERS[i])) return 1;
    return EndsWith(relative_name, L".json") || EndsWith(relative_name, L".json.bak") ||
           SameName(relative_name, -1, L"tn_framerate_v1");
}
