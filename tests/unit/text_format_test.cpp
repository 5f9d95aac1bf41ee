#include <gtest/gtest.h>

#include "base/setup_state.h"
#include "base/text_format.h"

TEST(FormatText, WideStringsNumbersAndDoubles)
{
    wchar_t buffer[64];
    EXPECT_EQ(FormatText(buffer, 64, L"%s|%lu|%.0f", L"C:\\\u00dcbung", 4000000000ul, 83.4), 22);
    EXPECT_STREQ(buffer, L"C:\\\u00dcbung|4000000000|83");
}

TEST(FormatText, CutsAtCapacityMinusOneAndTerminates)
{
    wchar_t buffer[8];
    wmemset(buffer, L'#', 8);
    EXPECT_EQ(FormatText(buffer, 8, L"%s", L"1234567"), 7);  // exactly fits
    EXPECT_STREQ(buffer, L"1234567");
    EXPECT_EQ(FormatText(buffer, 8, L"%s", L"12345678"), -1);  // one unit too long
    EXPECT_STREQ(buffer, L"1234567");
    EXPECT_EQ(FormatText(buffer, 8, L"%s%s", L"abcdefghij", L"klm"), -1);
    EXPECT_STREQ(buffer, L"abcdefg");
}

TEST(JoinPath, OneBackslashAndCutRule)
{
    wchar_t buffer[SETUP_JOIN_UNITS];
    EXPECT_EQ(JoinPath(buffer, SETUP_JOIN_UNITS, L"C:\\Games", L"a b.txt"), 16);
    EXPECT_STREQ(buffer, L"C:\\Games\\a b.txt");

    std::wstring folder(300, L'f'), name(219, L'n');  // 300 + 1 + 219 = 520: one too many
    EXPECT_EQ(JoinPath(buffer, SETUP_JOIN_UNITS, folder.c_str(), name.c_str()), -1);
    EXPECT_EQ(wcslen(buffer), 519u);
    name.pop_back();
    EXPECT_EQ(JoinPath(buffer, SETUP_JOIN_UNITS, folder.c_str(), name.c_str()), 519);
}
