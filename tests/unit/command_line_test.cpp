#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <wchar.h>

#include <string>

#include "base/command_line.h"
#include "base/setup_state.h"
#include "tests/support/test_support.h"

// Every text comes back from CommandLineToArgvW exactly, between two other arguments, in
// particular a drive root (whose "\"" would otherwise swallow the rest of the line).
TEST(QuoteArgument, RoundTripsThroughCommandLineToArgvW)
{
    const wchar_t* const texts[] = {
        L"R:\\", L"C:\\Games\\Torrentine PC", L"C:\\Games\\", L"C:\\a b\\\\", L"\\\\server\\share\\",
        L"", L"plain", L"with \"quotes\" inside", L"back\\\"slash quote", L"tab\there",
        L"C:\\Spiele\\\u00dcbung \u6e38\u620f",
    };
    for (const wchar_t* text : texts) {
        wchar_t quoted[600];
        ASSERT_GE(QuoteArgument(quoted, 600, text), 2) << Utf8(text);
        std::wstring line = std::wstring(L"prog.exe /uninstall2 ") + quoted + L" /S";
        int argc = 0;
        wchar_t** argv = CommandLineToArgvW(line.c_str(), &argc);
        ASSERT_NE(argv, nullptr);
        ASSERT_EQ(argc, 4) << Utf8(line);
        EXPECT_EQ(std::wstring(argv[2]), std::wstring(text)) << Utf8(line);
        EXPECT_EQ(std::wstring(argv[3]), L"/S");
        LocalFree(argv);
    }
}

TEST(QuoteArgument, TooLongGivesAnEmptyText)
{
    wchar_t quoted[8];
    EXPECT_EQ(QuoteArgument(quoted, 8, L"R:\\abc"), -1);  // needs 9 units with its end
    EXPECT_EQ(quoted[0], L'\0');
    EXPECT_EQ(QuoteArgument(quoted, 8, L"R:\\ab"), 7);
    EXPECT_EQ(std::wstring(quoted), L"\"R:\\ab\"");
    EXPECT_EQ(QuoteArgument(quoted, 8, L"R:\\"), 6);
    EXPECT_EQ(std::wstring(quoted), L"\"R:\\\\\"");
}

// A /rom or /dir value fills a 260-unit field with its terminator: 259 units are the most,
// and a longer value is refused whole, leaving the field empty and the units after it
// untouched.
TEST(CopyOptionValue, AtMost259UnitsAreTakenAndNothingIsCut)
{
    struct Case {
        size_t units;
        bool taken;
    };
    const Case cases[] = {{0, true}, {1, true}, {258, true}, {259, true}, {260, false}, {261, false}, {300, false}};
    for (const Case& c : cases) {
        std::wstring value(c.units, L'v');
        wchar_t field[SETUP_PATH_UNITS + 4];
        wmemset(field, L'#', SETUP_PATH_UNITS + 4);
        EXPECT_EQ(CopyOptionValue(field, value.c_str()) != 0, c.taken) << c.units;
        EXPECT_EQ(std::wstring(field), c.taken ? value : std::wstring()) << c.units;
        for (int i = SETUP_PATH_UNITS; i < SETUP_PATH_UNITS + 4; i++)
            EXPECT_EQ(field[i], L'#') << c.units << " wrote past the field at " << i;
    }
}
