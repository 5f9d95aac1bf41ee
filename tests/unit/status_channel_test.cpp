#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/setup_state.h"
#include "base/status_channel.h"
#include "window/setup_window.h"

namespace {

// Captures standard output of this process into a pipe while a test writes status lines.
class ConsoleCapture {
public:
    ConsoleCapture()
    {
        CreatePipe(&read_end_, &write_end_, nullptr, 1 << 20);
        saved_ = GetStdHandle(STD_OUTPUT_HANDLE);
        SetStdHandle(STD_OUTPUT_HANDLE, write_end_);
    }
    std::string Finish()
    {
        SetStdHandle(STD_OUTPUT_HANDLE, saved_);
        CloseHandle(write_end_);
        std::string text;
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(read_end_, chunk, sizeof chunk, &got, nullptr) && got > 0)
            text.append(chunk, got);
        CloseHandle(read_end_);
        return text;
    }

private:
    HANDLE read_end_ = nullptr, write_end_ = nullptr, saved_ = nullptr;
};

class StatusChannelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_setup.silent = 1;
        g_setup.failed = 0;
        g_setup.last_progress = -1;
        // The window's own listener, posting to a window of the test's.
        ListenToInstallRuns(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                            nullptr, nullptr, nullptr));
        DrainMessages();
    }
    void TearDown() override
    {
        DrainMessages();
        DestroyWindow(g_window.handle);
        g_window.handle = nullptr;
        g_setup.silent = 0;
    }

    struct Posted {
        UINT message;
        WPARAM wparam;
        std::wstring text;
        SIZE_T block_bytes;
    };

    std::vector<Posted> DrainMessages()
    {
        std::vector<Posted> posted;
        MSG msg;
        while (PeekMessageW(&msg, g_window.handle, WM_SETUP_PROGRESS, WM_SETUP_DONE, PM_REMOVE)) {
            Posted p = {msg.message, msg.wParam, L"", 0};
            if (msg.message == WM_SETUP_STATUS) {
                p.text = (const wchar_t*)msg.lParam;
                p.block_bytes = LocalSize((HLOCAL)msg.lParam);
                LocalFree((HLOCAL)msg.lParam);
            }
            posted.push_back(p);
        }
        return posted;
    }
};

}  // namespace

TEST_F(StatusChannelTest, ConsoleLineIsUtf8WithOneLineFeed)
{
    ConsoleCapture capture;
    StatusLine(L"Checking the ROM...");
    StatusLine(L"Done! Torrentine PC is installed in %s", L"C:\\Spiele\\\u00dcbung \u6e38\u620f");
    EXPECT_EQ(capture.Finish(),
              "Checking the ROM...\n"
              "Done! Torrentine PC is installed in C:\\Spiele\\\xC3\x9C" "bung \xE6\xB8\xB8\xE6\x88\x8F\n");
    EXPECT_EQ(g_setup.failed, 0);
}

TEST_F(StatusChannelTest, FailureKeepsPercentSignsAndSetsTheFlag)
{
    ConsoleCapture capture;
    ReportFailure(L"Can't write \"%s\".", L"C:\\100%s %d\\ROM.z64");
    EXPECT_EQ(capture.Finish(), "Can't write \"C:\\100%s %d\\ROM.z64\".\n");
    EXPECT_EQ(g_setup.failed, 1);
}

TEST_F(StatusChannelTest, LongTextIsCutTo1023Units)
{
    std::wstring long_text(1500, L'a');
    ConsoleCapture capture;
    StatusLine(L"%s", long_text.c_str());
    ReportFailure(L"%s", long_text.c_str());
    EXPECT_EQ(capture.Finish(), std::string(1023, 'a') + "\n" + std::string(1023, 'a') + "\n");
}

TEST_F(StatusChannelTest, LineOverTheUtf8LimitIsNotWrittenAtAll)
{
    std::wstring fits(681, L'\u2714');   // 2043 bytes and the terminator: 2044
    std::wstring too_long(682, L'\u2714');  // 2046 bytes and the terminator: 2047
    ConsoleCapture capture;
    StatusLine(L"%s", fits.c_str());
    StatusLine(L"%s", too_long.c_str());
    StatusLine(L"after");
    std::string out = capture.Finish();
    ASSERT_EQ(out.size(), 2043u + 1 + 6);
    EXPECT_EQ(out.substr(2044), "after\n");
}

TEST_F(StatusChannelTest, NoStandardOutputWritesNothingAndGoesOn)
{
    HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
    for (HANDLE none : {(HANDLE)nullptr, INVALID_HANDLE_VALUE}) {
        SetStdHandle(STD_OUTPUT_HANDLE, none);
        g_setup.failed = 0;
        StatusLine(L"Checking the ROM...");
        ReportFailure(L"Cancelled.");
        EXPECT_EQ(g_setup.failed, 1);
    }
    SetStdHandle(STD_OUTPUT_HANDLE, saved);
}

TEST_F(StatusChannelTest, WindowGetsEachLineInA2048ByteBlock)
{
    g_setup.silent = 0;
    StatusLine(L"Writing the PC version...");
    ReportFailure(L"Can't create the folder \"%s\". Pick another place (one you can write to).",
                  L"C:\\50%");
    std::vector<Posted> posted = DrainMessages();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].message, (UINT)WM_SETUP_STATUS);
    EXPECT_EQ(posted[0].text, L"Writing the PC version...");
    EXPECT_EQ(posted[0].block_bytes, 2048u);
    EXPECT_EQ(posted[1].text,
              L"Can't create the folder \"C:\\50%\". Pick another place (one you can write to).");
    EXPECT_EQ(g_setup.failed, 1);
}

TEST_F(StatusChannelTest, PostToAGoneWindowIsDroppedQuietly)
{
    g_setup.silent = 0;
    DestroyWindow(g_window.handle);  // the handle stays, as a window closed mid-run leaves it
    for (int i = 0; i < 1000; i++) StatusLine(L"line %d", i);  // each block freed by the sender
    ReportFailure(L"Cancelled.");
    EXPECT_EQ(g_setup.failed, 1);
    g_window.handle = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      nullptr, nullptr);
}

TEST_F(StatusChannelTest, ProgressRule)
{
    g_setup.silent = 0;
    struct Step {
        uint64_t done, total;
        int posted;  // -1: nothing posted
    };
    const Step steps[] = {
        {0, 0, 0},        // the first value of the process is posted, even 0
        {0, 10, -1},      // unchanged
        {5, 10, 500},
        {5, 10, -1},      // twice: posted once
        {1, 3, 333},      // truncation
        {2, 3, 666},
        {3, 3, 1000},
        {0xFFFFFFFFull, 0xFFFFFFFFull, -1},
    };
    for (const Step& step : steps) {
        ReportProgress(step.done, step.total);
        std::vector<Posted> posted = DrainMessages();
        if (step.posted < 0) {
            EXPECT_TRUE(posted.empty()) << step.done << "/" << step.total;
        } else {
            ASSERT_EQ(posted.size(), 1u) << step.done << "/" << step.total;
            EXPECT_EQ(posted[0].message, (UINT)WM_SETUP_PROGRESS);
            EXPECT_EQ((int)posted[0].wparam, step.posted);
        }
    }
    ReportProgressPermille(1000);
    EXPECT_TRUE(DrainMessages().empty());
}

TEST_F(StatusChannelTest, SilentProgressMovesButNeverPostsOrPrints)
{
    ConsoleCapture capture;
    ReportProgress(1, 4);
    EXPECT_EQ(g_setup.last_progress, 250);
    ReportProgressPermille(1000);
    EXPECT_EQ(g_setup.last_progress, 1000);
    EXPECT_EQ(capture.Finish(), "");
    EXPECT_TRUE(DrainMessages().empty());
}

// The run's end comes after its last line, with its failure flag; a silent run's end is its
// exit code alone.
TEST_F(StatusChannelTest, TheRunsEndComesLastWithItsFailureFlag)
{
    ConsoleCapture capture;
    g_setup.failed = 1;
    ReportRunEnd();
    EXPECT_EQ(capture.Finish(), "");
    EXPECT_TRUE(DrainMessages().empty());

    g_setup.silent = 0;
    for (int failed : {1, 0}) {
        StatusLine(L"Cancelled.");
        g_setup.failed = failed;
        ReportRunEnd();
        std::vector<Posted> posted = DrainMessages();
        ASSERT_EQ(posted.size(), 2u);
        EXPECT_EQ(posted[0].message, (UINT)WM_SETUP_STATUS);
        EXPECT_EQ(posted[1].message, (UINT)WM_SETUP_DONE);
        EXPECT_EQ((int)posted[1].wparam, failed);
    }
}
