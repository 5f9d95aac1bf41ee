// The setup window hosted in this test's own process: its layout, its handling of the
// worker's messages, drops, colours and the stop question.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <oleacc.h>

#include <string>
#include <thread>
#include <vector>

#include "base/message_box_caption.h"
#include "base/setup_state.h"
#include "install/shell_registration.h"
#include "rom/rom_image.h"
#include "tests/support/setup_runner.h"
#include "tests/support/test_support.h"
#include "window/setup_window.h"

namespace {

// Exactly what setup writes as "portable.txt", the mark of its installations.
const char* const MARK_TEXT = "Settings, saves, mods and the ROM copy are kept in this folder.\r\n";

std::wstring Text(HWND window, int id)
{
    wchar_t text[1024] = {0};
    GetDlgItemTextW(window, id, text, 1024);
    return text;
}

const wchar_t* const CHOOSE_TEXT =
    L"Choose your own Torrentine ROM: the Jun 15, 1999 prototype (.z64, .v64 or .n64).";
const wchar_t* const INSTALLED_TEXT =
    L"Torrentine is already installed in that folder: leave the ROM box empty to only update the "
    L"PC version.";
const wchar_t* const FOUND_TEXT = L"\u2714  Torrentine (prototype, Jun 15 1999) found.";
const wchar_t* const ALL_SET_TEXT =
    L"\u2714  All set. Use the desktop / Start menu shortcut to play. Press Esc in the game for its "
    L"settings.";

class SetupWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        RemoveShellEntries();
        InitSetupState();  // as the program's entry point does, with its own path
        GetModuleFileNameW(nullptr, g_setup.own_path, SETUP_PATH_UNITS);
        scratch = MakeScratchFolder(L"window");
        g_window.busy = g_window.finished = 0;
        g_setup.silent = 0;
        wcscpy_s(g_setup.install_folder, SETUP_PATH_UNITS, (scratch + L"\\Torrentine PC").c_str());
        int width = 0, height = 0;
        window = CreateSetupWindow(GetModuleHandleW(nullptr), 0, &width, &height);
        ASSERT_NE(window, nullptr);
        outer_width = width;
        outer_height = height;
    }
    void TearDown() override
    {
        if (IsWindow(window)) DestroyWindow(window);
        Pump();
        g_window.handle = nullptr;
        RemoveShellEntries();
        RemoveScratchFolder(scratch);
    }
    // The shortcuts that an install into the request's folder makes: the finished state
    // names those that are there.
    void MakeShortcuts(bool desktop, bool start_menu)
    {
        std::wstring folder = g_setup.install_folder;
        CreateDirectoryW(folder.c_str(), nullptr);
        std::wstring game = folder + L"\\TorrentinePC.exe";
        ASSERT_TRUE(WriteText(game, "MZ"));
        if (desktop) {
            ASSERT_TRUE(CreateShortcut(DesktopShortcut().c_str(), game.c_str(), folder.c_str(), game.c_str(), L"x"));
        }
        if (start_menu) {
            ASSERT_TRUE(CreateShortcut(StartMenuShortcut().c_str(), game.c_str(), folder.c_str(), game.c_str(), L"x"));
        }
    }
    static void Pump()
    {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    HWND Control(int id) { return GetDlgItem(window, id); }
    void InstallCopyInto(const std::wstring& folder)
    {
        CreateDirectoryW(folder.c_str(), nullptr);
        std::vector<uint8_t> copy = ReadBytes(FixturePath(L"fixture.n64"));
        ASSERT_TRUE(WriteBytes(folder + L"\\torrentine.n64.proto.19990615.z64", copy.data(), copy.size()));
        ASSERT_TRUE(WriteText(folder + L"\\portable.txt", MARK_TEXT));
    }

    HWND window = nullptr;
    std::wstring scratch;
    int outer_width = 0, outer_height = 0;
};

}  // namespace

TEST_F(SetupWindowTest, LayoutAtTheScreensDpi)
{
    EXPECT_EQ(g_window.handle, window);
    int dpi = g_window.dpi;
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, MulDiv(560, dpi, 96));
    EXPECT_EQ(client.bottom, MulDiv(396, dpi, 96));
    EXPECT_EQ((DWORD)GetWindowLongW(window, GWL_STYLE) & 0x00CF0000u, 0x00CA0000u);
    wchar_t caption[64];
    GetWindowTextW(window, caption, 64);
    EXPECT_STREQ(caption, L"Torrentine PC - Setup");

    struct Row {
        int id;
        const wchar_t* class_name;
        DWORD style;
        int x, y, w, h;
    };
    const Row rows[] = {
        {ID_ROM_BOX, L"Edit", 0x00810080, 20, 110, 442, 26},
        {ID_ROM_BROWSE, L"Button", 0x00010000, 466, 110, 74, 26},
        {ID_FOLDER_BOX, L"Edit", 0x00810080, 20, 172, 442, 26},
        {ID_FOLDER_BROWSE, L"Button", 0x00010000, 466, 172, 74, 26},
        {ID_DESKTOP_CHECK, L"Button", 0x00010003, 20, 210, 170, 22},
        {ID_START_MENU_CHECK, L"Button", 0x00010003, 200, 210, 200, 22},
        // Paths with "&" show as they are; a path too long for a line breaks inside it.
        {ID_VERDICT, L"Static", 0x2080, 20, 242, 520, 40},
        {ID_PROGRESS, L"msctls_progress32", 0x1, 20, 290, 520, 16},
        {ID_MESSAGE, L"Static", 0x4080, 20, 312, 520, 20},
        {ID_INSTALL, L"Button", 0x00010001, 340, 346, 96, 30},
        {ID_CLOSE, L"Button", 0x00010000, 444, 346, 96, 30},
        {ID_ICON, L"Static", 0x3, 20, 16, 48, 48},
    };
    for (const Row& row : rows) {
        HWND control = Control(row.id);
        ASSERT_NE(control, nullptr) << row.id;
        wchar_t class_name[64];
        GetClassNameW(control, class_name, 64);
        EXPECT_EQ(_wcsicmp(class_name, row.class_name), 0) << row.id;
        DWORD style = (DWORD)GetWindowLongW(control, GWL_STYLE);
        EXPECT_EQ(style & 0x50000000u, 0x50000000u) << row.id;
        EXPECT_EQ(style & 0x0000FFFFu, row.style & 0x0000FFFFu) << row.id;
        // (An edit control takes its border over from WS_BORDER, so that bit is not read back.)
        EXPECT_EQ(style & WS_TABSTOP, row.style & WS_TABSTOP) << row.id;
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, window, (POINT*)&r, 2);
        if (row.id != ID_ICON) {  // an icon control takes its icon's size
            EXPECT_EQ(r.left, MulDiv(row.x, dpi, 96)) << row.id;
            EXPECT_EQ(r.top, MulDiv(row.y, dpi, 96)) << row.id;
            EXPECT_EQ(r.right - r.left, MulDiv(row.w, dpi, 96)) << row.id;
            EXPECT_EQ(r.bottom - r.top, MulDiv(row.h, dpi, 96)) << row.id;
        }
    }
    EXPECT_EQ(Text(window, ID_ROM_BOX), L"");
    EXPECT_EQ(Text(window, ID_FOLDER_BOX), scratch + L"\\Torrentine PC");
    EXPECT_EQ(Text(window, ID_VERDICT), CHOOSE_TEXT);
    EXPECT_EQ(Text(window, ID_INSTALL), L"Install");
    EXPECT_EQ(Text(window, ID_CLOSE), L"Close");
    EXPECT_EQ(Text(window, ID_MESSAGE),
              L"Needs about 70 MB. Settings, saves and the ROM copy stay in the install folder.");
    EXPECT_EQ(IsDlgButtonChecked(window, ID_DESKTOP_CHECK), (UINT)BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(window, ID_START_MENU_CHECK), (UINT)BST_CHECKED);
    wchar_t cue[128] = {0};
    SendMessageW(Control(ID_ROM_BOX), EM_GETCUEBANNER, (WPARAM)cue, 128);
    EXPECT_STREQ(cue, L"Torrentine ROM file (.z64, .v64 or .n64)");
    PBRANGE range;
    SendMessageW(Control(ID_PROGRESS), PBM_GETRANGE, FALSE, (LPARAM)&range);
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 1000);
    LOGFONTW title;
    GetObjectW(g_window.title_font, sizeof title, &title);
    EXPECT_EQ(title.lfHeight, -MulDiv(22, dpi, 96));
    EXPECT_EQ(title.lfWeight, 700);
    EXPECT_EQ((HFONT)SendMessageW(Control(ID_INSTALL), WM_GETFONT, 0, 0), g_window.semibold_font);
    EXPECT_NE(SendMessageW(Control(ID_ICON), STM_GETICON, 0, 0), 0);
    EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
}

TEST_F(SetupWindowTest, VerdictsAndLabels)
{
    std::wstring installed = scratch + L"\\Installed";
    InstallCopyInto(installed);
    std::wstring fresh = scratch + L"\\Torrentine PC";
    // What the install worker refuses, shown at once, with Install disabled.
    std::wstring other_files = scratch + L"\\Downloads";
    CreateDirectoryW(other_files.c_str(), nullptr);
    ASSERT_TRUE(WriteText(other_files + L"\\someone's.txt", "x"));
    std::wstring leftovers = scratch + L"\\Leftovers";
    CreateDirectoryW(leftovers.c_str(), nullptr);
    CreateDirectoryW((leftovers + L"\\saves").c_str(), nullptr);
    ASSERT_TRUE(WriteText(leftovers + L"\\settings.json", "{}"));
    PWSTR desktop = nullptr;
    ASSERT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &desktop)));
    std::wstring desktop_folder = desktop;
    CoTaskMemFree(desktop);
    std::wstring long_folder = scratch + L"\\" + std::wstring(300, L'x');
    std::wstring long_rom = scratch + L"\\" + std::wstring(300, L'r');
    const std::wstring other_text =
        L"\u2716  That folder already holds other files: choose a new or empty folder just for the game.";
    const std::wstring reserved_text =
        L"\u2716  That folder belongs to Windows or holds your own files: choose a folder just for the game.";
    const std::wstring root_text = L"\u2716  Choose a folder, not a whole drive (for example C:\\Games\\Torrentine PC).";
    const std::wstring rom_long_text =
        L"\u2716  That ROM path is too long: move the file to a shorter path (at most 259 characters).";
    struct Case {
        std::wstring rom, folder;
        std::wstring verdict;
        const wchar_t* label;
        bool enabled;
    };
    const Case cases[] = {
        // Install starts only what would start: no ROM and no installation, no install.
        {L"", fresh, CHOOSE_TEXT, L"Install", false},
        {L"  \"\" ", fresh, CHOOSE_TEXT, L"Install", false},  // spaces and quotes count as empty
        {FixturePath(L"fixture.v64"), fresh, FOUND_TEXT, L"Install", true},
        {scratch + L"\\missing.z64", fresh, L"\u2716  Can't open that file.", L"Install", false},
        {L"", installed, INSTALLED_TEXT, L"Update", true},
        {L"", installed + L"\\\\", INSTALLED_TEXT, L"Update", true},  // trailing separators trimmed
        {L"\"" + FixturePath(L"fixture.z64") + L"\"", installed, FOUND_TEXT, L"Reinstall", true},
        {scratch + L"\\missing.z64", installed, L"\u2716  Can't open that file.", L"Reinstall", false},
        // What the worker would refuse at once shows before the click.
        {FixturePath(L"fixture.v64"), L"", L"\u2716  Choose a folder to install to.", L"Install", false},
        {FixturePath(L"fixture.v64"), L"Games\\Torrentine PC",
         L"\u2716  Use a full install path (for example C:\\Games\\Torrentine PC).", L"Install", false},
        {FixturePath(L"fixture.v64"), L"\\Games\\Torrentine PC",
         L"\u2716  Use a full install path (for example C:\\Games\\Torrentine PC).", L"Install", false},
        {FixturePath(L"fixture.v64"), L"C:Games\\Torrentine PC",
         L"\u2716  Use a full install path (for example C:\\Games\\Torrentine PC).", L"Install", false},
        {FixturePath(L"fixture.v64"), L"Q:\\Games\\Torrentine PC",
         L"\u2716  There is no drive Q: on this computer: choose a folder on another drive.", L"Install", false},
        // Look-alikes of the game's saves and settings do not make a folder the game's.
        {FixturePath(L"fixture.v64"), leftovers, other_text, L"Install", false},
        {FixturePath(L"fixture.v64"), other_files, other_text, L"Install", false},
        {L"", scratch, other_text, L"Install", false},
        {FixturePath(L"fixture.v64"), desktop_folder + L"\\", reserved_text, L"Install", false},
        {FixturePath(L"fixture.v64"), L"C:\\", root_text, L"Install", false},
        {FixturePath(L"fixture.v64"), long_folder, L"", L"Install", false},
        {long_rom, fresh, rom_long_text, L"Install", false},
    };
    for (const Case& c : cases) {
        SetDlgItemTextW(window, ID_ROM_BOX, c.rom.c_str());
        SetDlgItemTextW(window, ID_FOLDER_BOX, c.folder.c_str());
        EXPECT_EQ(Text(window, ID_FOLDER_BOX), c.folder);  // the box holds the whole text
        ValidateInputs(window);
        std::wstring verdict = Text(window, ID_VERDICT);
        if (c.verdict.empty())  // the too-long text names the limit
            EXPECT_EQ(verdict.rfind(L"\u2716  That folder path is too long: keep it to ", 0), 0u) << Utf8(verdict);
        else
            EXPECT_EQ(verdict, c.verdict) << Utf8(c.rom) << " | " << Utf8(c.folder);
        EXPECT_EQ(Text(window, ID_INSTALL), c.label) << Utf8(c.rom) << " | " << Utf8(c.folder);
        EXPECT_EQ(IsWindowEnabled(Control(ID_INSTALL)) != 0, c.enabled) << Utf8(c.rom) << " | " << Utf8(c.folder);
        // An install that ends keeps Install as the verdict left it.
        SetBusyState(window, 1);
        SetBusyState(window, 0);
        EXPECT_EQ(IsWindowEnabled(Control(ID_INSTALL)) != 0, c.enabled) << Utf8(c.folder);
    }
}

// The worker refuses to run from a path too long to read (it could copy no uninstaller):
// the window says so before the click, with Install off, whatever the boxes hold.
TEST_F(SetupWindowTest, AnOwnPathTooLongToReadIsRefusedBeforeTheClick)
{
    g_setup.own_path[0] = L'\0';
    SetDlgItemTextW(window, ID_ROM_BOX, FixturePath(L"fixture.z64").c_str());
    SetDlgItemTextW(window, ID_FOLDER_BOX, (scratch + L"\\Torrentine PC").c_str());
    ValidateInputs(window);
    EXPECT_EQ(Text(window, ID_VERDICT),
              L"\u2716  The setup program's path is too long to be read: move it to a shorter path and run "
              L"it again.");
    EXPECT_FALSE(IsWindowEnabled(Control(ID_INSTALL)));
}

// A change starts the delay; when it has passed the inputs are validated once, and the timer
// is gone: a timer left running would re-read and re-hash the ROM every 350 ms for ever.
TEST_F(SetupWindowTest, ValidationRunsOnceAfterAChange)
{
    SetDlgItemTextW(window, ID_FOLDER_BOX, (scratch + L"\\Torrentine PC").c_str());
    SetDlgItemTextW(window, ID_ROM_BOX, FixturePath(L"fixture.z64").c_str());
    DWORD start = GetTickCount();
    while (Text(window, ID_VERDICT) != FOUND_TEXT && GetTickCount() - start < 60000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        Pump();
    }
    ASSERT_EQ(Text(window, ID_VERDICT), FOUND_TEXT);
    EXPECT_FALSE(KillTimer(window, VALIDATION_TIMER_ID)) << "the validation timer is still set";
}

// Install pressed while the validation of the last keystroke is still pending: the install
// cancels it, and no validation rewrites the finished state (its verdict came after the
// worker's last message now and then, when a player pressed Install within 350 ms).
TEST_F(SetupWindowTest, AnInstallCancelsThePendingValidation)
{
    SetDlgItemTextW(window, ID_ROM_BOX, FixturePath(L"fixture.z64").c_str());
    SetDlgItemTextW(window, ID_FOLDER_BOX, L"");  // the worker fails at once: no folder
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(ID_INSTALL, BN_CLICKED), (LPARAM)Control(ID_INSTALL));
    EXPECT_FALSE(KillTimer(window, VALIDATION_TIMER_ID)) << "the validation timer outlived Install";
    DWORD start = GetTickCount();
    while (g_window.busy && GetTickCount() - start < 60000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        Pump();
    }
    ASSERT_EQ(g_window.busy, 0);

    // (The failed run left the request's folder empty, as its box was.)
    wcscpy_s(g_setup.install_folder, SETUP_PATH_UNITS, (scratch + L"\\Torrentine PC").c_str());
    MakeShortcuts(true, true);
    SetBusyState(window, 1);
    SendMessageW(window, WM_SETUP_DONE, 0, 0);
    ASSERT_EQ(Text(window, ID_VERDICT), ALL_SET_TEXT);
    SendMessageW(window, WM_TIMER, VALIDATION_TIMER_ID, 0);  // one that fell due anyway
    EXPECT_EQ(Text(window, ID_VERDICT), ALL_SET_TEXT);
    EXPECT_EQ(Text(window, ID_INSTALL), L"Play");
}

// Install pressed within the delay after a change: the pending validation runs first, so
// the window judges the inputs the install took, not the ones before the last keystroke.
// A ROM found, then changed to a missing one: once the worker has refused it, Install stays
// disabled, as the verdict of these inputs has it.
TEST_F(SetupWindowTest, AnInstallRunsThePendingValidationFirst)
{
    SetDlgItemTextW(window, ID_FOLDER_BOX, (scratch + L"\\Torrentine PC").c_str());
    SetDlgItemTextW(window, ID_ROM_BOX, FixturePath(L"fixture.z64").c_str());
    ValidateInputs(window);
    ASSERT_EQ(Text(window, ID_VERDICT), FOUND_TEXT);
    ASSERT_TRUE(IsWindowEnabled(Control(ID_INSTALL)));

    // No message is pumped in between, so the validation timer cannot have fallen due.
    SetDlgItemTextW(window, ID_ROM_BOX, (scratch + L"\\missing.z64").c_str());
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(ID_INSTALL, BN_CLICKED), (LPARAM)Control(ID_INSTALL));
    DWORD start = GetTickCount();
    while (g_window.busy && GetTickCount() - start < 60000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        Pump();
    }
    ASSERT_EQ(g_window.busy, 0);
    EXPECT_EQ(g_window.finished, 0);
    EXPECT_EQ(Text(window, ID_VERDICT).rfind(L"\u2716  ", 0), 0u) << Utf8(Text(window, ID_VERDICT));
    EXPECT_FALSE(IsWindowEnabled(Control(ID_INSTALL))) << "Install left enabled for the found ROM";
}

TEST_F(SetupWindowTest, VerdictColourFollowsItsFirstCharacter)
{
    HDC dc = CreateCompatibleDC(nullptr);
    struct Case {
        const wchar_t* text;
        COLORREF colour;
    };
    const Case cases[] = {{FOUND_TEXT, RGB(20, 130, 40)},
                          {L"\u2716  Can't open that file.", RGB(190, 30, 30)},
                          {CHOOSE_TEXT, RGB(70, 70, 70)},
                          {L"", RGB(70, 70, 70)}};
    for (const Case& c : cases) {
        SetDlgItemTextW(window, ID_VERDICT, c.text);
        SetTextColor(dc, RGB(1, 2, 3));
        LRESULT brush = SendMessageW(window, WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)Control(ID_VERDICT));
        EXPECT_EQ(brush, (LRESULT)GetStockObject(WHITE_BRUSH));
        EXPECT_EQ(GetTextColor(dc), c.colour) << Utf8(c.text);
        EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
    }
    // Other static controls keep their colour but get the white brush too.
    SetTextColor(dc, RGB(1, 2, 3));
    EXPECT_EQ(SendMessageW(window, WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)Control(ID_MESSAGE)),
              (LRESULT)GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(GetTextColor(dc), RGB(1, 2, 3));
    DeleteDC(dc);
}

static HDROP MakeDrop(const std::vector<std::wstring>& files)
{
    size_t units = 1;
    for (const std::wstring& f : files) units += f.size() + 1;
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + units * sizeof(wchar_t));
    DROPFILES* drop = (DROPFILES*)GlobalLock(memory);
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    wchar_t* names = (wchar_t*)(drop + 1);
    for (const std::wstring& f : files) {
        memcpy(names, f.c_str(), (f.size() + 1) * sizeof(wchar_t));
        names += f.size() + 1;
    }
    *names = 0;
    GlobalUnlock(memory);
    return (HDROP)memory;
}

TEST_F(SetupWindowTest, DropTakesTheFirstFileAndIsRefusedWhileBusyOrFinished)
{
    std::wstring first = FixturePath(L"fixture.n64");
    SendMessageW(window, WM_DROPFILES, (WPARAM)MakeDrop({first, FixturePath(L"fixture.z64"), scratch}), 0);
    EXPECT_EQ(Text(window, ID_ROM_BOX), first);
    EXPECT_EQ(Text(window, ID_VERDICT), FOUND_TEXT);  // validated at once

    // A path too long for the request is taken whole and refused, never cut.
    std::wstring long_rom = scratch + L"\\" + std::wstring(300, L'r') + L".z64";
    SendMessageW(window, WM_DROPFILES, (WPARAM)MakeDrop({long_rom}), 0);
    EXPECT_EQ(Text(window, ID_ROM_BOX), long_rom);
    EXPECT_EQ(Text(window, ID_VERDICT),
              L"\u2716  That ROM path is too long: move the file to a shorter path (at most 259 characters).");
    EXPECT_FALSE(IsWindowEnabled(Control(ID_INSTALL)));
    SendMessageW(window, WM_DROPFILES, (WPARAM)MakeDrop({first}), 0);
    EXPECT_EQ(Text(window, ID_VERDICT), FOUND_TEXT);
    EXPECT_TRUE(IsWindowEnabled(Control(ID_INSTALL)));

    // A dropped folder is meant for "Install to": it goes there through the folder rule.
    SendMessageW(window, WM_DROPFILES, (WPARAM)MakeDrop({scratch}), 0);
    EXPECT_EQ(Text(window, ID_ROM_BOX), first);
    EXPECT_EQ(Text(window, ID_FOLDER_BOX), scratch + L"\\Torrentine PC");

    SetBusyState(window, 1);
    SendMessageW(window, WM_DROPFILES, (WPARAM)MakeDrop({scratch + L"\\other.z64"}), 0);
    EXPECT_EQ(Text(window, ID_ROM_BOX), first);
    g_setup.make_desktop_shortcut = g_setup.make_start_menu_shortcut = 1;
    MakeShortcuts(true, true);
    SendMessageW(window, WM_SETUP_DONE, 0, 0);
    SendMessageW(window, WM_DROPFILES, (WPARAM)MakeDrop({scratch + L"\\other.z64"}), 0);
    EXPECT_EQ(Text(window, ID_ROM_BOX), first);
    EXPECT_EQ(Text(window, ID_VERDICT), ALL_SET_TEXT);
    EXPECT_EQ(Text(window, ID_INSTALL), L"Play");
}

TEST_F(SetupWindowTest, WorkerMessagesDriveTheStates)
{
    SetBusyState(window, 1);
    for (int id : {ID_ROM_BOX, ID_ROM_BROWSE, ID_FOLDER_BOX, ID_FOLDER_BROWSE, ID_DESKTOP_CHECK,
                   ID_START_MENU_CHECK, ID_INSTALL})
        EXPECT_FALSE(IsWindowEnabled(Control(id))) << id;
    EXPECT_TRUE(IsWindowEnabled(Control(ID_CLOSE)));
    EXPECT_EQ(Text(window, ID_CLOSE), L"Cancel");

    wchar_t* block = (wchar_t*)LocalAlloc(LMEM_FIXED, 2048);
    wcscpy_s(block, 1024, L"Writing the PC version...");
    PostMessageW(window, WM_SETUP_STATUS, 0, (LPARAM)block);
    PostMessageW(window, WM_SETUP_PROGRESS, 488, 0);
    Pump();
    EXPECT_EQ(Text(window, ID_MESSAGE), L"Writing the PC version...");
    EXPECT_EQ(SendMessageW(Control(ID_PROGRESS), PBM_GETPOS, 0, 0), 488);

    // A validation timer that falls due while busy changes nothing.
    SetDlgItemTextW(window, ID_VERDICT, L"unchanged");
    SendMessageW(window, WM_TIMER, VALIDATION_TIMER_ID, 0);
    EXPECT_EQ(Text(window, ID_VERDICT), L"unchanged");

    // A failure takes the verdict's place, with the room of the progress bar and the
    // message line, so that its advice is never cut off.
    PostMessageW(window, WM_SETUP_DONE, 1, 0);
    Pump();
    EXPECT_EQ(g_window.busy, 0);
    EXPECT_EQ(SendMessageW(Control(ID_PROGRESS), PBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(Text(window, ID_CLOSE), L"Close");
    EXPECT_TRUE(IsWindowEnabled(Control(ID_ROM_BOX)));
    EXPECT_EQ(Text(window, ID_VERDICT), L"\u2716  Writing the PC version...");
    auto shown = [&](int id) { return (GetWindowLongW(Control(id), GWL_STYLE) & WS_VISIBLE) != 0; };
    EXPECT_FALSE(shown(ID_PROGRESS));
    EXPECT_FALSE(shown(ID_MESSAGE));
    RECT verdict;
    GetWindowRect(Control(ID_VERDICT), &verdict);
    EXPECT_EQ(verdict.bottom - verdict.top, MulDiv(98, g_window.dpi, 96));
    // A change of the inputs puts the layout back, with the hint in the message line.
    SendMessageW(window, WM_TIMER, VALIDATION_TIMER_ID, 0);
    EXPECT_TRUE(shown(ID_PROGRESS));
    EXPECT_TRUE(shown(ID_MESSAGE));
    EXPECT_EQ(Text(window, ID_MESSAGE),
              L"Needs about 70 MB. Settings, saves and the ROM copy stay in the install folder.");

    SetBusyState(window, 1);
    SendMessageW(window, WM_SETUP_PROGRESS, 1000, 0);
    g_setup.make_desktop_shortcut = g_setup.make_start_menu_shortcut = 1;
    MakeShortcuts(true, true);
    SendMessageW(window, WM_SETUP_DONE, 0, 0);
    EXPECT_EQ(g_window.finished, 1);
    EXPECT_EQ(Text(window, ID_INSTALL), L"Play");
    EXPECT_EQ(Text(window, ID_VERDICT), ALL_SET_TEXT);
    EXPECT_EQ(SendMessageW(Control(ID_PROGRESS), PBM_GETPOS, 0, 0), 1000);
    for (int id : {ID_ROM_BOX, ID_ROM_BROWSE, ID_FOLDER_BOX, ID_FOLDER_BROWSE, ID_DESKTOP_CHECK,
                   ID_START_MENU_CHECK})
        EXPECT_FALSE(IsWindowEnabled(Control(id))) << id;
    EXPECT_TRUE(IsWindowEnabled(Control(ID_INSTALL)));
    EXPECT_EQ(Text(window, ID_CLOSE), L"Close");
}

// A stop asked for once the last file had started does not stop the install: the
// finished state says the stop came too late, and where the game is.
TEST_F(SetupWindowTest, AStopThatCameTooLateIsSaid)
{
    wcscpy_s(g_setup.install_folder, SETUP_PATH_UNITS, L"C:\\Games\\Torrentine PC");
    SetBusyState(window, 1);
    InterlockedExchange(&g_setup.cancel_request, 1);
    SendMessageW(window, WM_SETUP_DONE, 0, 0);
    EXPECT_EQ(g_window.finished, 1);
    EXPECT_EQ(Text(window, ID_INSTALL), L"Play");
    EXPECT_EQ(Text(window, ID_MESSAGE),
              L"The installation had already finished: Torrentine PC is installed in C:\\Games\\Torrentine PC");
    g_setup.cancel_request = 0;
}

TEST_F(SetupWindowTest, FolderRule)
{
    std::wstring installed = scratch + L"\\Old install";
    InstallCopyInto(installed);
    struct Case {
        std::wstring picked, result;
    };
    const Case cases[] = {
        {scratch + L"\\Games", scratch + L"\\Games\\Torrentine PC"},
        {scratch + L"\\Torrentine PC", scratch + L"\\Torrentine PC"},
        {scratch + L"\\TORRENTINE pc", scratch + L"\\TORRENTINE pc"},
        {scratch + L"\\Torrentine PC 2", scratch + L"\\Torrentine PC 2\\Torrentine PC"},
        {installed, installed},
        {L"C:\\", L"C:\\Torrentine PC"},  // a root's separator is not doubled
        {L"D:\\Games\\", L"D:\\Games\\Torrentine PC"},
        // A folder that holds setup's mark is kept, whatever its name; a look-alike is not.
        {scratch, scratch + L"\\Torrentine PC"},
        // Too long for the request: kept whole, for the validation to refuse, never cut.
        {scratch + L"\\" + std::wstring(250, L'g'), scratch + L"\\" + std::wstring(250, L'g') + L"\\Torrentine PC"},
    };
    for (const Case& c : cases) {
        wchar_t folder[SETUP_JOIN_UNITS];
        ApplyFolderRule(c.picked.c_str(), folder);
        EXPECT_EQ(std::wstring(folder), c.result) << Utf8(c.picked);
    }
}

// The question is modal: it runs its own loop on this thread while a helper answers it.
static void AnswerLater(int answer, std::wstring* text)
{
    HWND box = WaitForMessageBox(L"Torrentine PC", 60000);
    if (!box) return;
    *text = MessageBoxText(box);
    AnswerMessageBox(box, answer);
}

TEST_F(SetupWindowTest, StopQuestionWhileBusy)
{
    ShowWindow(window, SW_SHOWNOACTIVATE);
    SetBusyState(window, 1);
    g_setup.cancel_request = 0;
    for (int attempt = 0; attempt < 3; attempt++) {
        std::wstring text;
        std::thread answer(AnswerLater, IDNO, &text);
        if (attempt == 0) SendMessageW(window, WM_COMMAND, ID_CLOSE, 0);  // the Cancel button
        if (attempt == 1) SendMessageW(window, WM_COMMAND, IDCANCEL, 0);  // Esc
        if (attempt == 2) SendMessageW(window, WM_CLOSE, 0, 0);           // the caption's close box
        answer.join();
        EXPECT_EQ(text, L"Stop the installation?");
        EXPECT_EQ(g_setup.cancel_request, 0);
        EXPECT_TRUE(IsWindow(window));
    }
    std::wstring text;
    std::thread answer(AnswerLater, IDYES, &text);
    SendMessageW(window, WM_COMMAND, ID_CLOSE, 0);
    answer.join();
    EXPECT_EQ(g_setup.cancel_request, 1);
    EXPECT_EQ(g_window.busy, 1);  // busy until the worker reports its end
    EXPECT_TRUE(IsWindow(window));
    g_setup.cancel_request = 0;
}

TEST_F(SetupWindowTest, CloseWhenIdleDestroysTheWindow)
{
    SendMessageW(window, WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(IsWindow(window));
    MSG message;
    EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0u);
}

// The longest failure a player can meet (a write failure in a folder as long as setup
// allows, with its advice and what is left) fits the verdict's room after a failure, line
// by line, in the window's own font: nothing of it is cut off.
TEST_F(SetupWindowTest, TheLongestFailureIsDrawnInFull)
{
    // 210 units, the stand-in's limit, and no space to break a line at.
    std::wstring folder = L"C:\\Games\\" + std::wstring(200, L'W');
    std::wstring failure = L"Can't write \"" + folder +
                           L"\\TorrentinePC.exe\". If the game is running, close it and try again. The "
                           L"previous version is still installed.";
    ShowFailureInVerdict(window, failure.c_str());
    HWND verdict = Control(ID_VERDICT);
    EXPECT_EQ(Text(window, ID_VERDICT), L"\u2716  " + failure);
    RECT room;
    GetClientRect(verdict, &room);
    HDC dc = GetDC(verdict);
    HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageW(verdict, WM_GETFONT, 0, 0));
    RECT needed = room;
    std::wstring text = Text(window, ID_VERDICT);
    DrawTextW(dc, text.c_str(), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
    SelectObject(dc, old);
    ReleaseDC(verdict, dc);
    EXPECT_LE(needed.bottom - needed.top, room.bottom - room.top);
    EXPECT_LE(needed.right - needed.left, room.right - room.left);
    // Back to the usual layout when the inputs change.
    RestoreVerdictLayout(window);
    GetClientRect(verdict, &room);
    EXPECT_EQ(room.bottom, MulDiv(40, g_window.dpi, 96));
}

// The finished state names only the shortcuts that were made.
TEST_F(SetupWindowTest, TheFinishTextNamesTheShortcutsMade)
{
    struct Case {
        int desktop, start_menu;
        const wchar_t* text;
    };
    const Case cases[] = {
        {1, 1, L"\u2714  All set. Use the desktop / Start menu shortcut to play. Press Esc in the game for its settings."},
        {1, 0, L"\u2714  All set. Use the desktop shortcut to play. Press Esc in the game for its settings."},
        {0, 1, L"\u2714  All set. Use the Start menu shortcut to play. Press Esc in the game for its settings."},
        {0, 0, L"\u2714  All set. Press Play, or run TorrentinePC.exe in the install folder. Press Esc in the game "
               L"for its settings."},
    };
    for (const Case& c : cases) EXPECT_EQ(std::wstring(FinishedText(c.desktop, c.start_menu)), c.text);

    // A shortcut asked for and not there (Windows can refuse one silently) is named as such.
    struct Asked {
        int desktop_asked, desktop_made, start_asked, start_made;
        std::wstring text;
    };
    const Asked asked[] = {
        {1, 1, 1, 1, cases[0].text},
        {1, 0, 1, 1, std::wstring(cases[2].text) + L" The desktop shortcut could not be made."},
        {1, 1, 1, 0, std::wstring(cases[1].text) + L" The Start menu shortcut could not be made."},
        {1, 0, 1, 0, std::wstring(cases[3].text) + L" The desktop and Start menu shortcuts could not be made."},
        {0, 0, 1, 0, std::wstring(cases[3].text) + L" The Start menu shortcut could not be made."},
        {0, 0, 0, 0, cases[3].text},
    };
    for (const Asked& a : asked) {
        wchar_t verdict[VERDICT_UNITS];
        FinishedVerdict(a.desktop_asked, a.desktop_made, a.start_asked, a.start_made, verdict, VERDICT_UNITS);
        EXPECT_EQ(std::wstring(verdict), a.text);
    }

    // The window looks for the shortcuts themselves: here only the Start menu's is there.
    g_setup.make_desktop_shortcut = 1;
    g_setup.make_start_menu_shortcut = 1;
    MakeShortcuts(false, true);
    SetBusyState(window, 1);
    SendMessageW(window, WM_SETUP_DONE, 0, 0);
    EXPECT_EQ(Text(window, ID_VERDICT), asked[1].text);
}

// Browse opens where the box points, or at the nearest folder above it that exists.
TEST_F(SetupWindowTest, BrowseStartsAtTheNearestExistingFolder)
{
    std::wstring rom = FixturePath(L"fixture.z64");
    std::wstring rom_folder = rom.substr(0, rom.rfind(L'\\'));
    struct Case {
        std::wstring box, start;
    };
    const Case cases[] = {
        {scratch, scratch},
        {scratch + L"\\not yet\\Torrentine PC", scratch},
        {rom, rom_folder},  // a file: its folder
        {L"C:\\", L"C:\\"},
        {L"", L""},
        {L"Q:\\nowhere\\at all", L""},
    };
    for (const Case& c : cases) {
        wchar_t start[SETUP_JOIN_UNITS];
        NearestExistingFolder(c.box.c_str(), start);
        EXPECT_EQ(std::wstring(start), c.start) << Utf8(c.box);
        // The folder dialog opens at the same place.
        EXPECT_EQ(PickerStartFolder(1, c.box.c_str(), start), c.start.empty() ? PICKER_START_ANYWHERE : PICKER_START_HERE);
        EXPECT_EQ(std::wstring(start), c.start) << Utf8(c.box);
    }
    // An empty ROM box opens the file dialog in Downloads, where a ROM is likeliest (unless
    // the dialog was used before: then where it was last).
    PWSTR downloads = nullptr;
    ASSERT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Downloads, 0, nullptr, &downloads)));
    std::wstring downloads_folder = downloads;
    CoTaskMemFree(downloads);
    CreateDirectoryW(downloads_folder.c_str(), nullptr);
    wchar_t start[SETUP_JOIN_UNITS];
    EXPECT_EQ(PickerStartFolder(0, L"", start), PICKER_START_UNLESS_USED);
    EXPECT_EQ(std::wstring(start), downloads_folder);
    EXPECT_EQ(PickerStartFolder(0, rom.c_str(), start), PICKER_START_HERE);
    EXPECT_EQ(std::wstring(start), rom_folder);
}

namespace {

// The window as it draws itself (what the snapshot writes), top-down, one COLORREF a pixel.
struct Picture {
    int width = 0, height = 0;
    std::vector<COLORREF> pixels;
    COLORREF At(int x, int y) const { return pixels[(size_t)y * width + x]; }
};

Picture PrintPicture(HWND window, const std::wstring& save_as)
{
    Picture picture;
    RECT outer;
    GetWindowRect(window, &outer);
    picture.width = outer.right - outer.left;
    picture.height = outer.bottom - outer.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = picture.height;  // bottom-up, as the file wants it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, section);
    PrintWindow(window, memory, 0);
    GdiFlush();
    uint32_t stride = ((uint32_t)picture.width * 3 + 3) & ~3u;
    const uint8_t* rows = (const uint8_t*)bits;
    picture.pixels.resize((size_t)picture.width * picture.height);
    for (int y = 0; y < picture.height; y++)
        for (int x = 0; x < picture.width; x++) {
            const uint8_t* p = rows + (size_t)(picture.height - 1 - y) * stride + (size_t)x * 3;
            picture.pixels[(size_t)y * picture.width + x] = RGB(p[2], p[1], p[0]);
        }
    if (!save_as.empty()) {
        std::wstring folder = WindowsPath(TEST_WIDEN(TORRENTINE_TEST_PICTURES));
        CreateDirectoryW(folder.c_str(), nullptr);
        std::vector<uint8_t> file(54, 0);
        file[0] = 'B';
        file[1] = 'M';
        uint32_t image = stride * (uint32_t)picture.height;
        auto put = [&](size_t at, uint32_t v) { for (int b = 0; b < 4; b++) file[at + b] = (uint8_t)(v >> (8 * b)); };
        put(2, 54 + image);
        put(10, 54);
        memcpy(file.data() + 14, &info.bmiHeader, 40);
        file.insert(file.end(), rows, rows + image);
        WriteBytes(folder + L"\\" + save_as, file.data(), file.size());
    }
    SelectObject(memory, old);
    DeleteObject(section);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return picture;
}

// A control's rectangle in the picture (whose origin is the window's top-left corner).
RECT InPicture(HWND window, HWND control)
{
    RECT outer, r;
    GetWindowRect(window, &outer);
    GetWindowRect(control, &r);
    OffsetRect(&r, -outer.left, -outer.top);
    return r;
}

// The controls in creation order: the labels have no ids of their own.
std::vector<HWND> Children(HWND window)
{
    std::vector<HWND> children;
    for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) children.push_back(c);
    return children;
}

SIZE TextExtent(HWND control, const std::wstring& text)
{
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageW(control, WM_GETFONT, 0, 0));
    SIZE size = {0, 0};
    GetTextExtentPoint32W(dc, text.c_str(), (int)text.size(), &size);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return size;
}

// How much room a text needs in a control's font when it wraps at width (0: one line).
SIZE NeededFor(HWND control, const std::wstring& text, int width, UINT format)
{
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageW(control, WM_GETFONT, 0, 0));
    RECT needed = {0, 0, width, 0};
    DrawTextW(dc, text.c_str(), -1, &needed, DT_CALCRECT | format);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    SIZE size = {needed.right - needed.left, needed.bottom - needed.top};
    return size;
}

}  // namespace

// The picture shows what the screen shows: an access key's letter underlined (or not, as
// the system's keyboard cues say), never the "&" that marks it in the control's text.
TEST_F(SetupWindowTest, ThePictureDrawsNoAccessKeyAmpersand)
{
    ShowWindow(window, SW_SHOWNOACTIVATE);
    Picture picture = PrintPicture(window, L"access-keys-" + std::to_wstring(g_window.dpi) + L".bmp");
    std::vector<HWND> children = Children(window);
    ASSERT_EQ(children.size(), 16u);
    struct Case {
        HWND control;
        std::wstring shown;  // the text without its "&"
        int text_left;       // where the text starts in the control
    };
    int box = MulDiv(13, g_window.dpi, 96);
    const Case cases[] = {
        {children[3], L"1.  Your ROM", 0},
        {children[6], L"2.  Install to", 0},
        {Control(ID_DESKTOP_CHECK), L"Desktop shortcut", box + box / 3 + 1},
        {Control(ID_START_MENU_CHECK), L"Start menu shortcut", box + box / 3 + 1},
    };
    for (const Case& c : cases) {
        RECT r = InPicture(window, c.control);
        COLORREF background = picture.At(r.right - 1, r.top);
        int rightmost = -1;
        for (int y = r.top; y < r.bottom; y++)
            for (int x = r.left; x < r.right; x++)
                if (picture.At(x, y) != background && x - r.left > rightmost) rightmost = x - r.left;
        int end = c.text_left + TextExtent(c.control, c.shown).cx;
        // A drawn "&" would take a character's width more.
        EXPECT_LE(rightmost, end + 1) << Utf8(c.shown);
        EXPECT_GE(rightmost, end - MulDiv(8, g_window.dpi, 96)) << Utf8(c.shown) << " is not drawn";
    }
}

// At any scale the window fits the work area of its monitor, with nothing cut: on a small
// screen a large scale is drawn at the highest DPI that fits, every control inside the
// client area and every text inside its control.
TEST_F(SetupWindowTest, FitsTheWorkAreaAtAnyScale)
{
    ShowWindow(window, SW_SHOWNOACTIVATE);
    struct Case {
        int dpi, width, height;
    };
    const Case cases[] = {{192, 1024, 768}, {192, 1366, 768}, {144, 1024, 768}, {144, 1366, 768},
                          {120, 800, 600},  {96, 1024, 768},  {192, 1920, 1080}, {96, 640, 480}};
    for (const Case& c : cases) {
        std::string name = std::to_string(c.dpi) + " dpi on " + std::to_string(c.width) + "x" + std::to_string(c.height);
        SCOPED_TRACE(name);
        RECT work = {0, 0, c.width, c.height};
        ScaleSetupWindow(window, c.dpi, &work, nullptr);
        int layout = g_window.dpi;
        SIZE frame = WindowFrameAt(c.dpi);
        bool whole_fits = MulDiv(560, c.dpi, 96) + frame.cx <= c.width && MulDiv(396, c.dpi, 96) + frame.cy <= c.height;
        EXPECT_EQ(layout == c.dpi, whole_fits);
        EXPECT_LE(layout, c.dpi);
        RECT outer, client;
        GetWindowRect(window, &outer);
        GetClientRect(window, &client);
        EXPECT_GE(outer.left, 0);
        EXPECT_GE(outer.top, 0);
        EXPECT_LE(outer.right, c.width);
        EXPECT_LE(outer.bottom, c.height);
        EXPECT_EQ(client.right, MulDiv(560, layout, 96));
        EXPECT_EQ(client.bottom, MulDiv(396, layout, 96));
        if (!whole_fits) {  // and no DPI higher would fit
            EXPECT_GT(MulDiv(560, layout + 1, 96) + frame.cx > c.width || MulDiv(396, layout + 1, 96) + frame.cy > c.height,
                      0);
        }
        LOGFONTW title;
        GetObjectW(g_window.title_font, sizeof title, &title);
        EXPECT_EQ(title.lfHeight, -MulDiv(22, layout, 96));

        for (HWND control : Children(window)) {
            RECT r;
            GetWindowRect(control, &r);
            MapWindowPoints(nullptr, window, (POINT*)&r, 2);
            EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.right && r.bottom <= client.bottom)
                << GetDlgCtrlID(control);
            wchar_t class_name[32];
            GetClassNameW(control, class_name, 32);
            wchar_t text[512] = {0};
            GetWindowTextW(control, text, 512);
            if (!text[0] || _wcsicmp(class_name, L"Edit") == 0) continue;
            EXPECT_EQ((HFONT)SendMessageW(control, WM_GETFONT, 0, 0) != nullptr, true);
            RECT inside;
            GetClientRect(control, &inside);
            LONG style = GetWindowLongW(control, GWL_STYLE);
            int room = inside.right;
            UINT format = (style & SS_NOPREFIX) && _wcsicmp(class_name, L"Static") == 0 ? DT_NOPREFIX : 0;
            if (_wcsicmp(class_name, L"Button") == 0)
                room -= (style & BS_TYPEMASK) == BS_AUTOCHECKBOX ? MulDiv(18, layout, 96) : MulDiv(6, layout, 96);
            bool wraps = _wcsicmp(class_name, L"Static") == 0 && !(style & SS_ENDELLIPSIS);
            SIZE needed = NeededFor(control, text, room, format | (wraps ? DT_WORDBREAK | DT_EDITCONTROL : DT_SINGLELINE));
            EXPECT_LE(needed.cx, room) << Utf8(text);
            EXPECT_LE(needed.cy, inside.bottom) << Utf8(text);
        }
        std::wstring picture = L"fit-" + std::to_wstring(c.dpi) + L"-" + std::to_wstring(c.width) + L"x" +
                               std::to_wstring(c.height) + L".bmp";
        PrintPicture(window, picture);
    }
}

// Windows moves the window to a monitor of another scale: the suggested rectangle is
// taken, and the fonts and every control are made again for the new DPI.
TEST_F(SetupWindowTest, ADpiChangeLaysTheWindowOutAgain)
{
    ShowWindow(window, SW_SHOWNOACTIVATE);
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    HDC screen = GetDC(nullptr);
    int system_dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    for (int dpi : {144, 192, 120, 96}) {
        SCOPED_TRACE(dpi);
        RECT suggested = {40, 30, 40 + 700, 30 + 500};
        HMONITOR monitor = MonitorFromRect(&suggested, MONITOR_DEFAULTTONEAREST);
        MONITORINFO info = {sizeof info};
        GetMonitorInfoW(monitor, &info);
        SIZE frame = WindowFrameAt(dpi);
        int layout = FitLayoutDpi(dpi, info.rcWork.right - info.rcWork.left, info.rcWork.bottom - info.rcWork.top,
                                  frame.cx, frame.cy);
        SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), (LPARAM)&suggested);
        EXPECT_EQ(g_window.dpi, layout);
        RECT outer, client;
        GetWindowRect(window, &outer);
        GetClientRect(window, &client);
        EXPECT_EQ(outer.left, 40);
        EXPECT_EQ(outer.top, 30);
        EXPECT_EQ(client.right, MulDiv(560, layout, 96));
        EXPECT_EQ(client.bottom, MulDiv(396, layout, 96));
        RECT box;
        GetWindowRect(Control(ID_ROM_BOX), &box);
        MapWindowPoints(nullptr, window, (POINT*)&box, 2);
        EXPECT_EQ(box.left, MulDiv(20, layout, 96));
        EXPECT_EQ(box.top, MulDiv(110, layout, 96));
        EXPECT_EQ(box.right - box.left, MulDiv(442, layout, 96));
        EXPECT_EQ(box.bottom - box.top, MulDiv(26, layout, 96));
        LOGFONTW normal, title;
        GetObjectW(g_window.normal_font, sizeof normal, &normal);
        GetObjectW(g_window.title_font, sizeof title, &title);
        EXPECT_EQ(normal.lfHeight, MulDiv(metrics.lfMessageFont.lfHeight, layout, system_dpi));
        EXPECT_EQ(title.lfHeight, -MulDiv(22, layout, 96));
        EXPECT_EQ((HFONT)SendMessageW(Control(ID_VERDICT), WM_GETFONT, 0, 0), g_window.normal_font);
        EXPECT_EQ((HFONT)SendMessageW(Control(ID_INSTALL), WM_GETFONT, 0, 0), g_window.semibold_font);
        // Before the change Windows asks for the size at the new DPI: this client area in
        // the frame of that DPI (Wine keeps the system's frame at every DPI).
        SIZE asked = {0, 0};
        SendMessageW(window, WM_GETDPISCALEDSIZE, dpi, (LPARAM)&asked);
        EXPECT_EQ(asked.cx, client.right + frame.cx);
        EXPECT_EQ(asked.cy, client.bottom + frame.cy);
        PrintPicture(window, L"dpi-changed-" + std::to_wstring(dpi) + L".bmp");
    }
}

// With high contrast on, every colour is the system's; a theme, colour or setting change
// while the window is open reads the mode again and repaints everything.
TEST_F(SetupWindowTest, HighContrastTakesTheSystemsColours)
{
    const wchar_t* texts[] = {FOUND_TEXT, L"\u2716  Can't open that file.", CHOOSE_TEXT, L""};
    for (const wchar_t* text : texts) {
        EXPECT_EQ(VerdictColourFor(text, 1), GetSysColor(COLOR_WINDOWTEXT)) << Utf8(text);
        EXPECT_NE(VerdictColourFor(text, 0), GetSysColor(COLOR_WINDOWTEXT)) << Utf8(text);
    }
    ShowWindow(window, SW_SHOWNOACTIVATE);
    g_window.high_contrast = 1;
    HDC dc = CreateCompatibleDC(nullptr);
    for (int id : {ID_VERDICT, ID_MESSAGE}) {
        SetTextColor(dc, RGB(1, 2, 3));
        EXPECT_EQ(SendMessageW(window, WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)Control(id)),
                  (LRESULT)GetSysColorBrush(COLOR_WINDOW));
        EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_WINDOWTEXT)) << id;
    }
    DeleteDC(dc);
    PrintPicture(window, L"high-contrast.bmp");

    const UINT changes[][2] = {{WM_SYSCOLORCHANGE, 0}, {WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST}, {WM_THEMECHANGED, 0}};
    for (const auto& change : changes) {
        SCOPED_TRACE(change[0]);
        g_window.high_contrast = 1;  // not the system's: the change must read it again
        RedrawWindow(window, nullptr, nullptr, RDW_VALIDATE | RDW_ALLCHILDREN | RDW_NOFRAME);
        ASSERT_FALSE(GetUpdateRect(Control(ID_VERDICT), nullptr, FALSE));
        SendMessageW(window, change[0], change[1], 0);
        EXPECT_EQ(g_window.high_contrast, HighContrastIsOn());
        EXPECT_TRUE(GetUpdateRect(window, nullptr, FALSE));
        EXPECT_TRUE(GetUpdateRect(Control(ID_VERDICT), nullptr, FALSE));
        EXPECT_TRUE(GetUpdateRect(Control(ID_DESKTOP_CHECK), nullptr, FALSE));
    }
}

// "Done! Torrentine PC is installed in" and a folder of the longest length that setup
// takes, its last 205 characters without a space to break at: the finished window shows
// all of it, wrapped below the verdict and above the buttons, at every scale.
TEST_F(SetupWindowTest, TheFinishedWindowShowsTheWholeFolder)
{
    ShowWindow(window, SW_SHOWNOACTIVATE);
    std::wstring folder = L"C:\\Users\\Player\\Documents\\My Games\\Backups of 2026\\";
    while (folder.size() < 259) folder += L"Torrentine-PC-Collection\\";
    folder.resize(259);
    ASSERT_EQ(folder.size(), 259u);
    std::wstring done = L"Done! Torrentine PC is installed in " + folder;
    g_setup.make_desktop_shortcut = g_setup.make_start_menu_shortcut = 1;
    MakeShortcuts(true, true);
    struct Case {
        int dpi, width, height;
    };
    const Case cases[] = {{96, 1280, 1024}, {144, 1280, 1024}, {192, 1366, 768}, {192, 1024, 768}};
    bool first = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dpi);
        RECT work = {0, 0, c.width, c.height};
        ScaleSetupWindow(window, c.dpi, &work, nullptr);
        if (first) {
            SetBusyState(window, 1);
            wchar_t* block = (wchar_t*)LocalAlloc(LMEM_FIXED, (done.size() + 1) * sizeof(wchar_t));
            memcpy(block, done.c_str(), (done.size() + 1) * sizeof(wchar_t));
            SendMessageW(window, WM_SETUP_STATUS, 0, (LPARAM)block);
            SendMessageW(window, WM_SETUP_DONE, 0, 0);
            first = false;
        }
        ASSERT_EQ(Text(window, ID_MESSAGE), done);
        EXPECT_EQ(Text(window, ID_VERDICT), ALL_SET_TEXT);
        for (int id : {ID_VERDICT, ID_MESSAGE}) {
            HWND line = Control(id);
            EXPECT_EQ(GetWindowLongW(line, GWL_STYLE) & SS_ENDELLIPSIS, 0) << id;
            RECT room;
            GetClientRect(line, &room);
            SIZE needed = NeededFor(line, Text(window, id), room.right, DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX);
            EXPECT_LE(needed.cx, room.right) << id;
            EXPECT_LE(needed.cy, room.bottom) << id;
        }
        RECT verdict, message, install;
        GetWindowRect(Control(ID_VERDICT), &verdict);
        GetWindowRect(Control(ID_MESSAGE), &message);
        GetWindowRect(Control(ID_INSTALL), &install);
        EXPECT_LE(verdict.bottom, message.top);
        EXPECT_LT(message.bottom, install.top);
        PrintPicture(window, L"finished-long-folder-" + std::to_wstring(c.dpi) + L"-" + std::to_wstring(c.width) + L"x" +
                                 std::to_wstring(c.height) + L".bmp");
    }
}

namespace {
std::vector<HWND> g_live_changes;
void CALLBACK RecordLiveChange(HWINEVENTHOOK, DWORD, HWND hwnd, LONG object, LONG child, DWORD, DWORD)
{
    if (object == OBJID_CLIENT && child == CHILDID_SELF) g_live_changes.push_back(hwnd);
}
}  // namespace

// Screen readers are told when the verdict or the status line changes (once, not at each
// validation that leaves it as it was), and the boxes are named after their labels.
TEST_F(SetupWindowTest, ScreenReadersHearTheChanges)
{
    g_live_changes.clear();
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_LIVEREGIONCHANGED, EVENT_OBJECT_LIVEREGIONCHANGED, nullptr,
                                         RecordLiveChange, GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    auto count = [&](int id) {
        int n = 0;
        for (HWND h : g_live_changes) n += h == Control(id);
        return n;
    };
    // Events reach this thread through its queue, in the order they were raised.
    auto wait_for = [&](int id, int n) {
        DWORD start = GetTickCount();
        while (count(id) < n && GetTickCount() - start < 60000) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            Pump();
        }
        return count(id) >= n;
    };
    SetDlgItemTextW(window, ID_ROM_BOX, (scratch + L"\\missing.z64").c_str());
    ValidateInputs(window);
    EXPECT_TRUE(wait_for(ID_VERDICT, 1));
    ValidateInputs(window);  // the same verdict again: no news
    wchar_t* block = (wchar_t*)LocalAlloc(LMEM_FIXED, 128);
    wcscpy_s(block, 64, L"Writing the PC version...");
    SetBusyState(window, 1);
    SendMessageW(window, WM_SETUP_STATUS, 0, (LPARAM)block);
    EXPECT_TRUE(wait_for(ID_MESSAGE, 1));
    // Raised after the second validation, so anything that raised came before it.
    EXPECT_EQ(count(ID_VERDICT), 1);
    UnhookWinEvent(hook);

    // What the accessibility interface gives for each control.
    struct Case {
        HWND control;
        std::wstring name;
    };
    const Case cases[] = {
        {Control(ID_ROM_BOX), L"1.  Your ROM"},
        {Control(ID_FOLDER_BOX), L"2.  Install to"},
        {Control(ID_DESKTOP_CHECK), L"Desktop shortcut"},
        {Control(ID_VERDICT), Text(window, ID_VERDICT)},
    };
    // Loaded by name: the import library and the uuid library both define IID_IAccessible.
    typedef HRESULT(WINAPI * FromWindow)(HWND, DWORD, REFIID, void**);
    HMODULE oleacc = LoadLibraryW(L"oleacc.dll");
    ASSERT_NE(oleacc, nullptr);
    FromWindow from_window = (FromWindow)(void*)GetProcAddress(oleacc, "AccessibleObjectFromWindow");
    ASSERT_NE(from_window, nullptr);
    for (const Case& c : cases) {
        IAccessible* accessible = nullptr;
        ASSERT_TRUE(SUCCEEDED(from_window(c.control, (DWORD)OBJID_CLIENT, IID_IAccessible,
                                                          (void**)&accessible)));
        VARIANT self;
        VariantInit(&self);
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR name = nullptr;
        accessible->get_accName(self, &name);
        std::wstring got = name ? name : L"";
        SysFreeString(name);
        accessible->Release();
        printf("accessible name of %d: \"%s\"\n", GetDlgCtrlID(c.control), Utf8(got).c_str());
        EXPECT_EQ(got, c.name);
    }
}

// Wine sizes a message box by its text and buttons alone: a short message under the
// uninstaller's caption showed "Torrentin...Uninstall". Such a box is widened to its
// caption, its text and button moved to the middle.
TEST(MessageBoxCaption, AShortMessageGetsTheWidthOfItsCaption)
{
    FitMessageBoxCaptions();
    const wchar_t* caption = L"Torrentine PC - Uninstall";
    int needed = CaptionWidthNeeded(caption);
    ASSERT_GT(needed, 0);
    RECT outer = {}, button = {};
    std::thread answer([&] {
        HWND box = WaitForMessageBox(caption, 60000);
        if (!box) return;
        // Measured once it shows: it exists, hidden, while it lays itself out.
        for (int i = 0; i < 6000 && !IsWindowVisible(box); i++) Sleep(10);
        GetWindowRect(box, &outer);
        GetWindowRect(GetDlgItem(box, IDOK), &button);
        AnswerMessageBox(box, IDOK);
    });
    MessageBoxW(nullptr, L"Done.", caption, MB_OK);
    answer.join();
    EXPECT_GE(outer.right - outer.left, needed);
    // The button stays in the middle of the wider box.
    int left = button.left - outer.left, right = outer.right - button.right;
    EXPECT_LE(abs(left - right), 8) << left << " " << right;  // Wine centres it within a few pixels too
}
