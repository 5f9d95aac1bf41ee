// Installs with the real setup program, then runs "Uninstall.exe /uninstall" from the
// install folder as Windows would, and checks what is left on disk, in the registry and in
// the shell.
#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "tests/support/setup_runner.h"
#include "tests/support/test_support.h"

namespace {

const wchar_t* const CAPTION = L"Torrentine PC - Uninstall";

const wchar_t* const SAVES[] = {L"saves\\slot1.sav", L"mods\\fast\\mod.txt", L"mod_config\\mods.ini",
                                L"settings.json", L"settings.json.bak", L"tn_framerate_v1"};

class Uninstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        RemoveShellEntries();
        root = MakeScratchFolder(L"uninstall");
        folder = root + L"\\Torrentine PC";
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        temp_folder = temp;
    }
    void TearDown() override
    {
        RemoveShellEntries();
        RemoveScratchFolder(root);
    }

    void InstallInto(const std::wstring& where)
    {
        SetupRun run = RunProgram(TestSetupExe(), L"/S /rom " + Quoted(FixturePath(L"fixture.z64")) +
                                                      L" /dir " + Quoted(where));
        ASSERT_EQ(run.exit_code, 0u) << run.out;
    }

    void AddSaves(const std::wstring& where)
    {
        for (const wchar_t* name : SAVES) Put(where + L"\\" + name, "player data");
        Put(where + L"\\game.log", "log");
    }

    static void Put(const std::wstring& path, const char* text)
    {
        std::wstring parent = path.substr(0, path.rfind(L'\\'));
        SHCreateDirectoryExW(nullptr, parent.c_str(), nullptr);
        ASSERT_TRUE(WriteText(path, text)) << Utf8(path);
    }

    std::wstring TempCopyOf(DWORD stage1_process)
    {
        return temp_folder + L"Uninstall_TorrentinePC_" + std::to_wstring(stage1_process) + L".exe";
    }

    // Runs the folder's uninstaller silently and waits until stage 2 has deleted its copy.
    void UninstallSilently(const std::wstring& where, const wchar_t* extra = L"")
    {
        SetupRun run = RunProgram(where + L"\\Uninstall.exe", std::wstring(L"/uninstall /S") + extra);
        ASSERT_EQ(run.exit_code, 0u);
        EXPECT_TRUE(WaitUntilGone(TempCopyOf(run.process_id), 30000)) << "temporary copy left behind";
    }

    void ExpectGameFilesGone(const std::wstring& where)
    {
        for (const wchar_t* name : {L"Uninstall.exe", L"TorrentinePC.exe", L"SDL2.dll", L"dxcompiler.dll",
                                    L"dxil.dll", L"Torrentine PC.ico", L"msvcp140.dll",
                                    L"msvcp140_atomic_wait.dll", L"vcruntime140.dll", L"vcruntime140_1.dll",
                                    L"torrentine.n64.proto.19990615.z64", L"game.log"})
            EXPECT_FALSE(FileExists(where + L"\\" + name)) << Utf8(name);
        EXPECT_FALSE(FolderExists(where + L"\\assets"));
    }

    void ExpectShellEntries(bool present)
    {
        EXPECT_EQ(ReadUninstallValue(L"InstallLocation").present, present);
        EXPECT_EQ(FileExists(DesktopShortcut()), present);
        EXPECT_EQ(FileExists(StartMenuShortcut()), present);
    }

    std::wstring root, folder, temp_folder;
};

}  // namespace

TEST_F(Uninstall, SilentKeepsSavesAndSettingsWithoutDelsaves)
{
    InstallInto(folder);
    AddSaves(folder);
    UninstallSilently(folder);
    ExpectGameFilesGone(folder);
    for (const wchar_t* name : SAVES) EXPECT_TRUE(FileExists(folder + L"\\" + name)) << Utf8(name);
    EXPECT_TRUE(FileExists(folder + L"\\portable.txt"));
    ExpectShellEntries(false);
}

TEST_F(Uninstall, SilentWithDelsavesRemovesEverythingAndTheFolder)
{
    InstallInto(folder);
    AddSaves(folder);
    UninstallSilently(folder, L" /delsaves");
    EXPECT_FALSE(FolderExists(folder));
    ExpectShellEntries(false);
}

TEST_F(Uninstall, OnlyWhatTheTableNamesIsRemoved)
{
    InstallInto(folder);
    std::wstring outside = MakeScratchFolder(L"outside");
    Put(outside + L"\\precious.sav", "elsewhere");
    Put(folder + L"\\notes.txt", "mine");
    Put(folder + L"\\screenshots\\shot1.png", "mine");
    Put(folder + L"\\sub\\c.log", "mine");
    Put(folder + L"\\sub\\d.json", "mine");
    CreateDirectoryW((folder + L"\\x.log").c_str(), nullptr);
    CreateDirectoryW((folder + L"\\a.json").c_str(), nullptr);
    Put(folder + L"\\a.json\\inside.txt", "mine");
    // A link inside "assets" to a folder outside the installation.
    ASSERT_TRUE(MakeFolderLink(folder + L"\\assets\\elsewhere", outside));

    UninstallSilently(folder, L" /delsaves");
    for (const wchar_t* name : {L"notes.txt", L"screenshots\\shot1.png", L"sub\\c.log", L"sub\\d.json",
                                L"a.json\\inside.txt"})
        EXPECT_TRUE(FileExists(folder + L"\\" + name)) << Utf8(name);
    EXPECT_TRUE(FolderExists(folder + L"\\x.log"));
    EXPECT_TRUE(FileExists(outside + L"\\precious.sav"));
    EXPECT_FALSE(FileExists(folder + L"\\portable.txt"));
    EXPECT_FALSE(FileExists(folder + L"\\TorrentinePC.exe"));
    RemoveScratchFolder(outside);
}

TEST_F(Uninstall, InteractiveQuestionsAndAnswers)
{
    struct Case {
        const char* what;
        int first, second;  // 0: that question is not reached
        bool delsaves_flag;
        DWORD exit_code;
        bool removed, saves_removed;
    };
    const Case cases[] = {
        {"No to the first question", IDNO, 0, true, 1, false, false},
        {"Cancel to the second", IDYES, IDCANCEL, true, 1, false, false},
        {"No to the second, with /delsaves", IDYES, IDNO, true, 0, true, false},
        {"Yes to the second", IDYES, IDYES, false, 0, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveScratchFolder(folder);
        InstallInto(folder);
        AddSaves(folder);
        SetupRun stage1 = RunProgram(folder + L"\\Uninstall.exe",
                                     c.delsaves_flag ? L"/uninstall /delsaves" : L"/uninstall");
        ASSERT_EQ(stage1.exit_code, 0u);

        HWND box = WaitForMessageBox(CAPTION, 20000);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageBoxText(box), L"Remove Torrentine PC from\n" + folder + L" ?");
        HANDLE stage2 = OpenWindowProcess(box);
        AnswerMessageBox(box, c.first);
        if (c.second) {
            box = WaitForMessageBox(CAPTION, 20000);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(MessageBoxText(box),
                      L"Also delete your saved games and settings?\n\nChoose No to keep them in the "
                      L"folder (a later install there picks them up).");
            AnswerMessageBox(box, c.second);
        }
        if (c.removed) {
            box = WaitForMessageBox(CAPTION, 30000);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(MessageBoxText(box), L"Torrentine PC has been removed.");
            AnswerMessageBox(box, IDOK);
        }
        EXPECT_EQ(WaitForWindowProcess(stage2, 30000), c.exit_code);
        EXPECT_TRUE(WaitUntilGone(TempCopyOf(stage1.process_id), 30000));

        EXPECT_EQ(FileExists(folder + L"\\TorrentinePC.exe"), !c.removed);
        EXPECT_EQ(FileExists(folder + L"\\Uninstall.exe"), !c.removed);
        EXPECT_EQ(FileExists(folder + L"\\saves\\slot1.sav"), !c.saves_removed);
        EXPECT_EQ(FileExists(folder + L"\\portable.txt"), !c.saves_removed);
        ExpectShellEntries(!c.removed);
    }
}

TEST_F(Uninstall, TheRunningGameStopsAnInteractiveRun)
{
    InstallInto(folder);
    HANDLE game = CreateFileW((folder + L"\\TorrentinePC.exe").c_str(), GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(game, INVALID_HANDLE_VALUE);
    SetupRun stage1 = RunProgram(folder + L"\\Uninstall.exe", L"/uninstall");
    HWND box = WaitForMessageBox(CAPTION, 20000);
    ASSERT_NE(box, nullptr);
    HANDLE stage2 = OpenWindowProcess(box);
    AnswerMessageBox(box, IDYES);
    box = WaitForMessageBox(CAPTION, 20000);
    ASSERT_NE(box, nullptr);
    AnswerMessageBox(box, IDNO);
    box = WaitForMessageBox(L"Torrentine PC", 30000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), L"The game seems to be running. Close it and run the uninstaller again.");
    AnswerMessageBox(box, IDOK);
    EXPECT_EQ(WaitForWindowProcess(stage2, 30000), 2u);
    CloseHandle(game);
    EXPECT_TRUE(WaitUntilGone(TempCopyOf(stage1.process_id), 30000));

    EXPECT_FALSE(FileExists(folder + L"\\Uninstall.exe"));
    EXPECT_TRUE(FileExists(folder + L"\\TorrentinePC.exe"));
    EXPECT_TRUE(FileExists(folder + L"\\SDL2.dll"));
    ExpectShellEntries(true);
}

TEST_F(Uninstall, TheRunningGameDoesNotStopASilentRun)
{
    InstallInto(folder);
    HANDLE game = CreateFileW((folder + L"\\TorrentinePC.exe").c_str(), GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(game, INVALID_HANDLE_VALUE);
    UninstallSilently(folder);
    CloseHandle(game);
    EXPECT_TRUE(FileExists(folder + L"\\TorrentinePC.exe"));
    EXPECT_FALSE(FileExists(folder + L"\\SDL2.dll"));
    EXPECT_FALSE(FolderExists(folder + L"\\assets"));
    ExpectShellEntries(false);
}

TEST_F(Uninstall, Stage2WithoutAFolderRemovesNothingAndStillDeletesItself)
{
    InstallInto(folder);
    std::wstring copy = root + L"\\stage2.exe";
    ASSERT_TRUE(CopyFileW(TestSetupExe().c_str(), copy.c_str(), FALSE));
    SetupRun run = RunProgram(copy, L"/S /uninstall2");
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_TRUE(WaitUntilGone(copy, 30000));
    EXPECT_TRUE(FileExists(folder + L"\\TorrentinePC.exe"));
    ExpectShellEntries(true);
}

// After an install into A and a later one into B, the entry and the shortcuts belong to B.
TEST_F(Uninstall, AnOlderInstallationLeavesTheNewerOnesEntryAndShortcuts)
{
    std::wstring a = root + L"\\A", b = root + L"\\B";
    InstallInto(a);
    InstallInto(b);
    UninstallSilently(a, L" /delsaves");
    EXPECT_FALSE(FolderExists(a));
    ExpectShellEntries(true);
    EXPECT_EQ(ReadUninstallValue(L"InstallLocation").Text(), b + std::wstring(1, L'\0'));
    EXPECT_EQ(ReadShortcut(DesktopShortcut()).target, b + L"\\TorrentinePC.exe");

    // The entry names B in other letters and with a trailing backslash: still B's.
    std::wstring other_case = b;
    for (wchar_t& ch : other_case) ch = (wchar_t)towupper(ch);
    other_case += L"\\";
    WriteUninstallValue(L"InstallLocation", REG_SZ, other_case.c_str(), (DWORD)((other_case.size() + 1) * 2));
    UninstallSilently(b, L" /delsaves");
    EXPECT_FALSE(FolderExists(b));
    ExpectShellEntries(false);
}

TEST_F(Uninstall, BadFolderArgumentsRemoveNothingButTheFixedNames)
{
    InstallInto(folder);  // the registered installation, which must survive all of this
    std::wstring stray = root + L"\\Downloads";
    Put(stray + L"\\notes.txt", "mine");
    Put(stray + L"\\SDL2.dll", "a file of that name");
    Put(stray + L"\\assets\\photo.jpg", "a folder of that name");
    std::wstring copy = root + L"\\stage2.exe";

    // Empty and relative folders are refused; the current folder holds look-alikes.
    for (const wchar_t* argument : {L"\"\"", L"Downloads", L".", L"..\\Downloads"}) {
        ASSERT_TRUE(CopyFileW(TestSetupExe().c_str(), copy.c_str(), FALSE));
        SetupRun run = RunProgram(copy, std::wstring(L"/S /delsaves /uninstall2 ") + argument, 60000, stray.c_str());
        EXPECT_EQ(run.exit_code, 1u) << Utf8(argument);
        EXPECT_TRUE(WaitUntilGone(copy, 30000));
        EXPECT_TRUE(FileExists(stray + L"\\SDL2.dll")) << Utf8(argument);
        EXPECT_TRUE(FileExists(stray + L"\\assets\\photo.jpg")) << Utf8(argument);
    }

    // A folder that holds no installation: only the fixed names go.
    ASSERT_TRUE(CopyFileW(TestSetupExe().c_str(), copy.c_str(), FALSE));
    SetupRun run = RunProgram(copy, L"/S /uninstall2 " + Quoted(stray));
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_TRUE(WaitUntilGone(copy, 30000));
    EXPECT_TRUE(FileExists(stray + L"\\notes.txt"));
    EXPECT_FALSE(FileExists(stray + L"\\SDL2.dll"));
    EXPECT_TRUE(FileExists(folder + L"\\TorrentinePC.exe"));
    ExpectShellEntries(true);  // they belong to the real installation
}
