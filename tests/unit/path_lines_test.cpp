// Long paths broken into lines for message boxes, which otherwise grow as wide as a path.
#include <gtest/gtest.h>

#include <string>

#include "base/path_lines.h"

TEST(PathLinesTest, BreaksAfterSeparatorsAndInsideLongNames)
{
    struct Case {
        std::wstring path, shown;
    };
    const std::wstring long_name(25, L'n');
    const Case cases[] = {
        {L"C:\\Games\\Torrentine", L"C:\\Games\\Torrentine"},  // short: unchanged
        {L"", L""},
        // Each line at most 20 units, broken after a separator where one is.
        {L"C:\\Users\\Player\\Documents\\My Games\\Torrentine PC",
         L"C:\\Users\\Player\\\nDocuments\\My Games\\\nTorrentine PC"},
        // A name longer than a line is cut into lines of its own.
        {L"C:\\" + long_name + L"\\x", L"C:\\\n" + std::wstring(20, L'n') + L"\n" + std::wstring(5, L'n') + L"\\x"},
        {std::wstring(40, L'a'), std::wstring(20, L'a') + L"\n" + std::wstring(20, L'a')},
    };
    for (const Case& c : cases) {
        wchar_t out[200];
        EXPECT_EQ(BreakPathIntoLines(c.path.c_str(), out, 200, 20), 1);
        EXPECT_EQ(std::wstring(out), c.shown);
        // Nothing but line feeds is added: the path reads the same.
        std::wstring back;
        for (wchar_t* p = out; *p; p++)
            if (*p != L'\n') back += *p;
        EXPECT_EQ(back, c.path);
    }
}

TEST(PathLinesTest, APathThatDoesNotFitBrokenStaysWhole)
{
    std::wstring path = L"C:\\" + std::wstring(50, L'x');
    wchar_t out[55];
    EXPECT_EQ(BreakPathIntoLines(path.c_str(), out, 55, 20), 0);
    EXPECT_EQ(std::wstring(out), path);  // 53 units fit unbroken, not with three line feeds
    wchar_t tiny[8];
    EXPECT_EQ(BreakPathIntoLines(path.c_str(), tiny, 8, 20), 0);
    EXPECT_EQ(std::wstring(tiny), path.substr(0, 7));  // cut as every bounded text is
}
