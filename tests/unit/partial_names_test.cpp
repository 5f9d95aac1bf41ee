#include <gtest/gtest.h>

#include <wchar.h>

#include <string>

#include "base/partial_names.h"
#include "base/setup_state.h"

// Every name a slot forms is recognised as that file's partial name, and its suffix fits
// the room the install folder's length limit leaves for it.
TEST(PartialNames, EveryFormedNameIsRecognisedAndFitsItsRoom)
{
    const wchar_t* path = L"C:\\Games\\Tn\\data\\level.bin";
    const int path_units = (int)wcslen(path);
    const int name_units = (int)wcslen(L"level.bin");
    for (int slot = 0; slot < PARTIAL_SLOTS; slot++) {
        wchar_t partial[SETUP_JOIN_UNITS];
        int written = PartialPath(partial, SETUP_JOIN_UNITS, path, slot);
        ASSERT_GE(written, 0) << "slot " << slot;
        EXPECT_LE(written - path_units, PARTIAL_SUFFIX_UNITS) << "slot " << slot;
        const wchar_t* name = wcsrchr(partial, L'\\') + 1;
        EXPECT_EQ(UnitsBeforePartialSuffix(name), name_units) << testing::PrintToString(std::wstring(name));
    }
}

TEST(PartialNames, OnlyTheSuffixesOfTheSlotsAreRecognised)
{
    struct Case {
        const wchar_t* name;
        int units;  // before the suffix, or -1
    };
    const Case cases[] = {
        {L"game.exe.partial", 8},
        {L"game.exe.partial9", 8},
        {L"GAME.EXE.PARTIAL3", 8},  // case ignored, as names are
        {L"a.Partial", 1},
        {L"game.exe.partial0", -1},
        {L"game.exe.partial10", -1},
        {L"game.exe.partialx", -1},
        {L"game.exe.partial.bak", -1},
        {L"game.exe.parti", -1},
        {L".partial", -1},  // no name before it
        {L".partial1", -1},
        {L"partial", -1},
        {L"", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UnitsBeforePartialSuffix(c.name), c.units) << testing::PrintToString(std::wstring(c.name));
}
