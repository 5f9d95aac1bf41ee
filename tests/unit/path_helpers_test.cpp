#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>

#include "base/path_helpers.h"
#include "base/setup_state.h"

TEST(TrimInputPath, Rules)
{
    struct Case {
        const wchar_t* input;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"  \"C:\\Games\\Tn\\\" ", L"C:\\Games\\Tn"},
        {L"C:\\\\", L"C:\\"},
        {L"\\\\", L"\\\\"},
        {L"C:\\Games\\ ", L"C:\\Games"},
        {L"C:\\Games \\", L"C:\\Games "},  // step 3 does not return to step 2
        {L"", L""},
        {L"  \"\" \" ", L""},
        {L"D:\\", L"D:\\"},
        {L"D:\\\\\\", L"D:\\"},
        {L"\tC:\\Games\t", L"\tC:\\Games\t"},      // only spaces and quotes
        {L"\u00a0C:\\x\u00a0", L"\u00a0C:\\x\u00a0"},
        {L"C:/Games/", L"C:/Games/"},              // forward slashes stay
        {L"\"C:\\Spiele\\\u00dcbung \u6e38\u620f\"", L"C:\\Spiele\\\u00dcbung \u6e38\u620f"},
        {L"C:\\a\"b", L"C:\\a\"b"},                // inner quotes stay
    };
    for (const Case& c : cases) {
        wchar_t buffer[SETUP_PATH_UNITS];
        wcscpy_s(buffer, SETUP_PATH_UNITS, c.input);
        TrimInputPath(buffer);
        EXPECT_STREQ(buffer, c.expected) << "input: " << testing::PrintToString(std::wstring(c.input));
    }
}

TEST(TrimInputPath, FullBufferOf259Units)
{
    wchar_t buffer[SETUP_PATH_UNITS];
    std::wstring text = L"\"" + std::wstring(257, L'x') + L"\"";
    wcscpy_s(buffer, SETUP_PATH_UNITS, text.c_str());
    TrimInputPath(buffer);
    EXPECT_EQ(std::wstring(buffer), std::wstring(257, L'x'));
}

TEST(KnownFolderFilePath, JoinsTheProfileWithANameHoldingABackslash)
{
    PWSTR profile = nullptr;
    ASSERT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Profile, 0, nullptr, &profile)));
    std::wstring expected = std::wstring(profile) + L"\\Games\\Torrentine PC";
    CoTaskMemFree(profile);

    wchar_t buffer[SETUP_PATH_UNITS];
    KnownFolderFilePath(FOLDERID_Profile, L"Games\\Torrentine PC", buffer, SETUP_PATH_UNITS);
    EXPECT_EQ(std::wstring(buffer), expected);
}

TEST(KnownFolderFilePath, EmptyWhenTheJoinDoesNotFitOrTheFolderIsUnknown)
{
    wchar_t buffer[SETUP_JOIN_UNITS];
    wcscpy_s(buffer, SETUP_JOIN_UNITS, L"stale");
    KnownFolderFilePath(FOLDERID_Desktop, L"Torrentine PC.lnk", buffer, 8);
    EXPECT_STREQ(buffer, L"");

    wcscpy_s(buffer, SETUP_JOIN_UNITS, L"stale");
    const GUID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    KnownFolderFilePath(unknown, L"x", buffer, SETUP_JOIN_UNITS);
    EXPECT_STREQ(buffer, L"");

    KnownFolderFilePath(FOLDERID_Programs, L"Torrentine PC.lnk", buffer, SETUP_JOIN_UNITS);
    EXPECT_NE(buffer[0], L'\0');
    EXPECT_NE(std::wstring(buffer).find(L"\\Torrentine PC.lnk"), std::wstring::npos);
}
