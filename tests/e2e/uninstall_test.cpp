// Installs with the real setup program, then runs "Uninstall.exe /uninstall" from the
// install folder as Windows would, and checks what is left on disk, in the registry and in
// the shell.
#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/look_alike_folders.h"
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
        EndLeftoverUninstallers();
        RemoveShellEntries();
        if (!drive_device.empty()) RunHostCommand(L"rm", L"-f \"" + drive_device + L"\"");
        for (const std::wstring& path : planted) {
            DeleteFileW(path.c_str());
            DeleteFileW((path + L".ran").c_str());
        }
        RemoveScratchFolder(root);
    }

    // A failing test can leave an uninstaller waiting at a message box, which would keep
    // the test run waiting too: such a process is ended, so that the failure shows at once.
    static void EndLeftoverUninstallers()
    {
        for (int i = 0; i < 20; i++) {
            HWND box = FindWindowW(L"#32770", CAPTION);
            if (!box) box = FindWindowW(L"#32770", L"Torrentine PC");
            if (!box) return;
            DWORD id = 0;
            GetWindowThreadProcessId(box, &id);
            HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
            if (!process) return;
            TerminateProcess(process, 255);
            WaitForSingleObject(process, 10000);
            CloseHandle(process);
        }
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

    // The temporary copies of the uninstaller now in the temporary folder (their names are
    // random, so a run's copy is the one that was not there before).
    std::vector<std::wstring> TempCopies()
    {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW entry;
        HANDLE find = FindFirstFileW((temp_folder + L"Uninstall_TorrentinePC_*.exe").c_str(), &entry);
        if (find == INVALID_HANDLE_VALUE) return names;
        do names.push_back(entry.cFileName);
        while (FindNextFileW(find, &entry));
        FindClose(find);
        return names;
    }
    std::vector<std::wstring> NewTempCopies(const std::vector<std::wstring>& before)
    {
        std::vector<std::wstring> added;
        for (const std::wstring& name : TempCopies())
            if (std::find(before.begin(), before.end(), name) == before.end()) added.push_back(name);
        return added;
    }
    // Waits until every copy made since before has deleted itself.
    bool WaitUntilCopiesGone(const std::vector<std::wstring>& before, DWORD timeout_ms = 60000)
    {
        DWORD start = GetTickCount();
        while (!NewTempCopies(before).empty()) {
            if (GetTickCount() - start > timeout_ms) return false;
            Sleep(50);
        }
        return true;
    }

    // Runs the folder's uninstaller silently and waits until stage 2 has deleted its copy;
    // stage 1's exit code is the uninstall's result.
    void UninstallSilently(const std::wstring& where, const wchar_t* extra = L"", DWORD result = 0)
    {
        std::vector<std::wstring> before = TempCopies();
        SetupRun run = RunProgram(where + L"\\Uninstall.exe", std::wstring(L"/uninstall /S") + extra);
        ASSERT_EQ(run.exit_code, result);
        EXPECT_TRUE(WaitUntilCopiesGone(before)) << "temporary copy left behind";
    }

    // Starts exe without waiting for it (suspended when asked, so that the test can use its
    // process id first).
    static PROCESS_INFORMATION StartProgram(const std::wstring& exe, const std::wstring& arguments,
                                            const wchar_t* working_folder = nullptr, bool suspended = false)
    {
        std::wstring command = Quoted(exe) + L" " + arguments;
        std::vector<wchar_t> line(command.begin(), command.end());
        line.push_back(0);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, suspended ? CREATE_SUSPENDED : 0,
                       nullptr, working_folder, &startup, &process);
        return process;
    }
    static DWORD WaitForExit(PROCESS_INFORMATION& process)
    {
        if (process.hThread) CloseHandle(process.hThread);
        process.hThread = nullptr;
        return WaitForWindowProcess(process.hProcess, 60000);
    }

    // From the first question on, answers as a player removing everything would: Yes, Yes
    // to the saves, OK to the final message. Returns stage 2's exit code.
    static DWORD RemoveEverythingInteractively(HWND first_question)
    {
        HANDLE stage2 = OpenWindowProcess(first_question);
        AnswerMessageBox(first_question, IDYES);
        HWND box = WaitForMessageBox(CAPTION, 60000);
        EXPECT_NE(box, nullptr);
        if (box) AnswerMessageBox(box, IDYES);
        box = box ? WaitForMessageBox(CAPTION, 60000) : nullptr;
        EXPECT_NE(box, nullptr);
        if (box) {
            EXPECT_EQ(MessageBoxText(box), L"Torrentine PC has been removed.");
            AnswerMessageBox(box, IDOK);
        }
        return WaitForWindowProcess(stage2, 60000);
    }

    static bool MakeShortcut(const std::wstring& path, const std::wstring& target)
    {
        IShellLinkW* link = nullptr;
        if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    (void**)&link)))
            return false;
        link->SetPath(target.c_str());
        IPersistFile* file = nullptr;
        bool saved = SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&file)) &&
                     SUCCEEDED(file->Save(path.c_str(), TRUE));
        if (file) file->Release();
        link->Release();
        return saved;
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
    std::wstring drive, drive_device;  // a drive letter mapped for a test, and its link
    std::vector<std::wstring> planted;  // files a test put outside its scratch folder
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
    Put(folder + L"\\chat.logs", "mine");  // its 8.3 name ends in .LOG
    Put(folder + L"\\screenshots\\shot1.png", "mine");
    Put(folder + L"\\sub\\c.log", "mine");
    Put(folder + L"\\sub\\d.json", "mine");
    CreateDirectoryW((folder + L"\\x.log").c_str(), nullptr);
    CreateDirectoryW((folder + L"\\a.json").c_str(), nullptr);
    Put(folder + L"\\a.json\\inside.txt", "mine");
    // A link inside "assets" to a folder outside the installation.
    ASSERT_TRUE(MakeFolderLink(folder + L"\\assets\\elsewhere", outside));

    UninstallSilently(folder, L" /delsaves");
    for (const wchar_t* name : {L"notes.txt", L"chat.logs", L"screenshots\\shot1.png", L"sub\\c.log", L"sub\\d.json",
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
        std::vector<std::wstring> before = TempCopies();
        // Stage 1 waits for stage 2's verdict: its exit code is the uninstall's result.
        PROCESS_INFORMATION stage1 = StartProgram(folder + L"\\Uninstall.exe",
                                                  c.delsaves_flag ? L"/uninstall /delsaves" : L"/uninstall");
        ASSERT_NE(stage1.hProcess, nullptr);

        HWND box = WaitForMessageBox(CAPTION, 60000);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageBoxText(box), L"Remove Torrentine PC from\n" + folder + L" ?");
        HANDLE stage2 = OpenWindowProcess(box);
        AnswerMessageBox(box, c.first);
        if (c.second) {
            box = WaitForMessageBox(CAPTION, 60000);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(MessageBoxText(box),
                      L"Also delete your saved games and settings?\n\nChoose No to keep them in the "
                      L"folder (a later install there picks them up).");
            AnswerMessageBox(box, c.second);
        }
        if (c.removed) {
            box = WaitForMessageBox(CAPTION, 60000);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(MessageBoxText(box), L"Torrentine PC has been removed.");
            AnswerMessageBox(box, IDOK);
        }
        EXPECT_EQ(WaitForWindowProcess(stage2, 60000), c.exit_code);
        EXPECT_EQ(WaitForExit(stage1), c.exit_code);
        EXPECT_TRUE(WaitUntilCopiesGone(before));

        EXPECT_EQ(FileExists(folder + L"\\TorrentinePC.exe"), !c.removed);
        EXPECT_EQ(FileExists(folder + L"\\Uninstall.exe"), !c.removed);
        EXPECT_EQ(FileExists(folder + L"\\saves\\slot1.sav"), !c.saves_removed);
        EXPECT_EQ(FileExists(folder + L"\\portable.txt"), !c.saves_removed);
        ExpectShellEntries(!c.removed);
    }
}

// The running game is found before any question: nothing is removed, so the entry's
// UninstallString still names "Uninstall.exe", and running it again once the game has
// closed completes.
TEST_F(Uninstall, TheRunningGameStopsAnInteractiveRunAndTheUninstallerStaysForTheNextTry)
{
    InstallInto(folder);
    AddSaves(folder);
    const std::wstring uninstaller = folder + L"\\Uninstall.exe";
    const std::wstring command = Quoted(uninstaller) + L" /uninstall" + std::wstring(1, L'\0');
    EXPECT_EQ(ReadUninstallValue(L"UninstallString").Text(), command);
    HANDLE game = CreateFileW((folder + L"\\TorrentinePC.exe").c_str(), GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(game, INVALID_HANDLE_VALUE);
    auto files = FilesAndBytesBelow(folder);
    std::vector<std::wstring> before = TempCopies();
    PROCESS_INFORMATION stage1 = StartProgram(uninstaller, L"/uninstall");
    ASSERT_NE(stage1.hProcess, nullptr);
    HWND box = WaitForMessageBox(L"Torrentine PC", 60000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(FindWindowW(L"#32770", CAPTION), nullptr);  // no question was asked
    HANDLE stage2 = OpenWindowProcess(box);
    EXPECT_EQ(MessageBoxText(box), L"The game seems to be running. Close it and run the uninstaller again.");
    AnswerMessageBox(box, IDOK);
    EXPECT_EQ(WaitForWindowProcess(stage2, 60000), 2u);
    EXPECT_EQ(WaitForExit(stage1), 2u);
    EXPECT_TRUE(WaitUntilCopiesGone(before));

    EXPECT_TRUE(FilesAndBytesBelow(folder) == files);
    ExpectShellEntries(true);
    EXPECT_EQ(ReadUninstallValue(L"UninstallString").Text(), command);

    // The game has closed: the same uninstaller, run again, completes.
    CloseHandle(game);
    before = TempCopies();
    stage1 = StartProgram(uninstaller, L"/uninstall");
    ASSERT_NE(stage1.hProcess, nullptr);
    box = WaitForMessageBox(CAPTION, 60000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(RemoveEverythingInteractively(box), 0u);
    EXPECT_EQ(WaitForExit(stage1), 0u);
    EXPECT_TRUE(WaitUntilCopiesGone(before));
    EXPECT_FALSE(FolderExists(folder));
    ExpectShellEntries(false);
}

// A silent run that cannot remove the game executable (the game runs, or the file is
// read-only) removes nothing at all, not even with /delsaves, and keeps the entry and the
// uninstaller for the next try, which completes once the cause is gone.
TEST_F(Uninstall, ASilentRunThatCannotRemoveTheGameRemovesNothing)
{
    const std::wstring game = folder + L"\\TorrentinePC.exe";
    enum How { STARTED, HELD, READ_ONLY };
    struct Case {
        const char* what;
        How how;
    };
    for (const Case& c : {Case{"the game runs from the folder", STARTED}, Case{"a program holds the game", HELD},
                          Case{"the game is read-only", READ_ONLY}}) {
        SCOPED_TRACE(c.what);
        InstallInto(folder);
        AddSaves(folder);
        HANDLE held = INVALID_HANDLE_VALUE;
        PROCESS_INFORMATION running = {};
        if (c.how == STARTED) {
            running = StartGame(folder);
            ASSERT_NE(running.hProcess, nullptr);
        } else if (c.how == HELD) {
            held = CreateFileW(game.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        } else {
            ASSERT_TRUE(SetFileAttributesW(game.c_str(), FILE_ATTRIBUTE_READONLY));
        }
        auto files = FilesAndBytesBelow(folder);
        UninstallSilently(folder, L" /delsaves", 2);
        EXPECT_TRUE(FilesAndBytesBelow(folder) == files);
        ExpectShellEntries(true);

        EndGame(running);
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        SetFileAttributesW(game.c_str(), FILE_ATTRIBUTE_NORMAL);
        UninstallSilently(folder, L" /delsaves");
        EXPECT_FALSE(FolderExists(folder));
        ExpectShellEntries(false);
    }
}

// A read-only game executable is found only when the removal starts, after the questions:
// nothing is removed, and the message names the read-only file, not a running game.
TEST_F(Uninstall, AReadOnlyGameStopsAnInteractiveRunWithAdviceThatFits)
{
    InstallInto(folder);
    AddSaves(folder);
    const std::wstring game = folder + L"\\TorrentinePC.exe";
    ASSERT_TRUE(SetFileAttributesW(game.c_str(), FILE_ATTRIBUTE_READONLY));
    auto files = FilesAndBytesBelow(folder);
    std::vector<std::wstring> before = TempCopies();
    PROCESS_INFORMATION stage1 = StartProgram(folder + L"\\Uninstall.exe", L"/uninstall");
    ASSERT_NE(stage1.hProcess, nullptr);
    HWND box = WaitForMessageBox(CAPTION, 60000);
    ASSERT_NE(box, nullptr);
    HANDLE stage2 = OpenWindowProcess(box);
    AnswerMessageBox(box, IDYES);
    box = WaitForMessageBox(CAPTION, 60000);
    ASSERT_NE(box, nullptr);
    AnswerMessageBox(box, IDYES);
    box = WaitForMessageBox(L"Torrentine PC", 60000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), L"Some files of Torrentine PC could not be removed from\n" + folder +
                                       L"\n\nMake sure they are not read-only or in use, then run the "
                                       L"uninstaller again.");
    AnswerMessageBox(box, IDOK);
    EXPECT_EQ(WaitForWindowProcess(stage2, 60000), 2u);
    EXPECT_EQ(WaitForExit(stage1), 2u);
    EXPECT_TRUE(WaitUntilCopiesGone(before));
    EXPECT_TRUE(FilesAndBytesBelow(folder) == files);
    ExpectShellEntries(true);
    SetFileAttributesW(game.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Stage 2 started by hand, not by stage 1 (with no folder, or a folder that does not
// exist): nothing is removed, and the program it runs as (a downloaded setup, or the
// installation's own uninstaller, which the entry names) is never deleted.
TEST_F(Uninstall, Stage2StartedByHandNeverDeletesItself)
{
    InstallInto(folder);
    std::wstring copy = root + L"\\stage2.exe";
    ASSERT_TRUE(CopyFileW(TestSetupExe().c_str(), copy.c_str(), FALSE));
    auto files = FilesAndBytesBelow(folder);
    for (const std::wstring& program : {copy, folder + L"\\Uninstall.exe"}) {
        for (const wchar_t* arguments : {L"/S /uninstall2", L"/uninstall2", L"/uninstall2 C:\\NoSuchFolder /S"}) {
            SetupRun run = RunProgram(program, arguments);
            EXPECT_EQ(run.exit_code, 1u) << Utf8(arguments);
        }
    }
    // A deletion scheduled by those runs would come about two seconds after each; a real
    // uninstall started later has its own copy deleted after them.
    std::wstring other = root + L"\\Other";
    InstallInto(other);
    UninstallSilently(other, L" /delsaves");
    EXPECT_TRUE(FileExists(copy));
    EXPECT_TRUE(FilesAndBytesBelow(folder) == files);
}

// Even under the very name stage 1 gives its copies, in the temporary folder, a stage 2
// started by hand (not handed the lock by a stage 1) never schedules its own deletion;
// one started by stage 1 does.
TEST_F(Uninstall, OnlyTheCopyStage1StartedDeletesItself)
{
    std::wstring notes = root + L"\\notes.txt";
    SetEnvironmentVariableW(L"TORRENTINE_TEST_NOTES", notes.c_str());
    std::wstring copy = temp_folder + L"Uninstall_TorrentinePC_00C0FFEE0000AAAA.exe";
    planted.push_back(copy);
    ASSERT_TRUE(CopyFileW(TestSetupExe().c_str(), copy.c_str(), FALSE));
    InstallInto(folder);
    for (const wchar_t* arguments : {L"/S /uninstall2", L"/uninstall2 C:\\NoSuchFolder /S"}) {
        SetupRun run = RunProgram(copy, arguments);
        EXPECT_EQ(run.exit_code, 1u) << Utf8(arguments);
    }
    SetupRun run = RunProgram(copy, L"/uninstall2 " + Quoted(folder) + L" /S /delsaves /lock 4 /from 8");
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_FALSE(FolderExists(folder));
    std::vector<uint8_t> noted = ReadBytes(notes);
    EXPECT_EQ(std::string(noted.begin(), noted.end()), "");

    InstallInto(folder);
    UninstallSilently(folder, L" /delsaves");
    SetEnvironmentVariableW(L"TORRENTINE_TEST_NOTES", nullptr);
    noted = ReadBytes(notes);
    EXPECT_EQ(std::string(noted.begin(), noted.end()), "self-delete\n");
}

// After an install into A and a later one into AB, the entry and the shortcuts belong to AB.
TEST_F(Uninstall, AnOlderInstallationLeavesTheNewerOnesEntryAndShortcuts)
{
    // A's path is the start of AB's: only the separator tells AB's shortcuts from A's.
    std::wstring a = root + L"\\A", b = root + L"\\AB";
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

// Someone else's folder with the removal table's names in it, even a downloaded game
// executable, but neither the note, nor the ROM copy, nor the entry naming it.
TEST_F(Uninstall, NothingOutsideAnInstallationIsRemoved)
{
    InstallInto(folder);  // the registered installation, which must survive all of this
    std::wstring stray = root + L"\\Downloads";
    for (const wchar_t* name : {L"notes.txt", L"SDL2.dll", L"TorrentinePC.exe", L"game.log", L"settings.json",
                                L"settings.json.bak", L"tn_framerate_v1", L"assets\\photo.jpg",
                                L"saves\\slot1.sav", L"mods\\fast\\mod.txt", L"mod_config\\mods.ini"})
        Put(stray + L"\\" + name, "someone else's");
    auto files = FilesAndBytesBelow(stray);
    std::wstring copy = root + L"\\stage2.exe";

    // Stage 2 given that folder, or empty and relative folders, which would resolve to it.
    for (const std::wstring& argument : {Quoted(stray), std::wstring(L"\"\""), std::wstring(L"Downloads"),
                                         std::wstring(L"."), std::wstring(L"..\\Downloads"),
                                         std::wstring(L"\\") + stray.substr(3)}) {
        ASSERT_TRUE(CopyFileW(TestSetupExe().c_str(), copy.c_str(), FALSE));
        SetupRun run = RunProgram(copy, L"/S /delsaves /uninstall2 " + argument, 60000, stray.c_str());
        EXPECT_EQ(run.exit_code, 1u) << Utf8(argument);
        EXPECT_TRUE(FilesAndBytesBelow(stray) == files) << Utf8(argument);
    }

    // An uninstaller copied into it: refused before it copies itself anywhere.
    std::wstring uninstaller = stray + L"\\Uninstall.exe";
    ASSERT_TRUE(CopyFileW(TestSetupExe().c_str(), uninstaller.c_str(), FALSE));
    files = FilesAndBytesBelow(stray);
    std::vector<std::wstring> before = TempCopies();
    SetupRun run = RunProgram(uninstaller, L"/uninstall /S /delsaves");
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_TRUE(NewTempCopies(before).empty());
    EXPECT_TRUE(FilesAndBytesBelow(stray) == files);

    PROCESS_INFORMATION stage1 = StartProgram(uninstaller, L"/uninstall /delsaves");
    HWND box = WaitForMessageBox(CAPTION, 60000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), L"There is no Torrentine PC installation in\n" + stray + L"\n\nNothing was removed.");
    AnswerMessageBox(box, IDOK);
    EXPECT_EQ(WaitForExit(stage1), 1u);
    EXPECT_TRUE(NewTempCopies(before).empty());
    EXPECT_TRUE(FilesAndBytesBelow(stray) == files);

    EXPECT_TRUE(FileExists(folder + L"\\TorrentinePC.exe"));
    ExpectShellEntries(true);  // they belong to the real installation
}

// Links where players and mod managers put them (a cloud-synced saves folder, linked mods),
// each to an outside folder full of files, and linked files among the table's names.
// Nothing outside changes; the installation's own files still go. (Wine cannot remove a
// Unix symbolic link, so there the links stay and so does the folder.)
TEST_F(Uninstall, LinksInTheFolderAreNeverFollowed)
{
    struct Case {
        const char* what;
        const wchar_t* flags;
        std::vector<const wchar_t*> folder_links, file_links;
    };
    const Case cases[] = {
        {"assets is a link; saves too, kept", L"", {L"assets", L"saves"}, {L"game.log", L"vcruntime140.dll"}},
        {"saves, mods, mod_config and a deep assets folder are links, with /delsaves", L" /delsaves",
         {L"saves", L"mods", L"mod_config", L"assets\\cloud\\deeper"},
         {L"settings.json", L"tn_framerate_v1", L"SDL2.dll", L"assets\\linked.bin"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveScratchFolder(folder);
        InstallInto(folder);
        std::wstring outside = MakeScratchFolder(L"cloud");
        int n = 0;
        for (const wchar_t* name : c.folder_links) {
            std::wstring target = outside + L"\\folder" + std::to_wstring(++n);
            for (const wchar_t* file : {L"slot1.sav", L"deeper\\slot2.sav", L"game.log", L"settings.json"})
                Put(target + L"\\" + file, "player data");
            CreateDirectoryW((target + L"\\empty").c_str(), nullptr);
            std::wstring link = folder + L"\\" + name;
            RemoveScratchFolder(link);
            SHCreateDirectoryExW(nullptr, link.substr(0, link.rfind(L'\\')).c_str(), nullptr);
            ASSERT_TRUE(MakeFolderLink(link, target)) << Utf8(name);
        }
        for (const wchar_t* name : c.file_links) {
            std::wstring target = outside + L"\\file" + std::to_wstring(++n) + L".bin";
            Put(target, "player data");
            std::wstring link = folder + L"\\" + name;
            DeleteFileW(link.c_str());  // the installed file, if any (not yet a link)
            ASSERT_TRUE(MakeFolderLink(link, target)) << Utf8(name);  // ln -s links files too
        }
        CreateDirectoryW((outside + L"\\empty").c_str(), nullptr);
        auto files = FilesAndBytesBelow(outside);

        UninstallSilently(folder, c.flags);
        EXPECT_TRUE(FilesAndBytesBelow(outside) == files);
        for (int i = 1; i <= (int)c.folder_links.size(); i++)
            EXPECT_TRUE(FolderExists(outside + L"\\folder" + std::to_wstring(i) + L"\\empty"));
        for (const wchar_t* name : {L"Uninstall.exe", L"TorrentinePC.exe", L"dxil.dll",
                                    L"torrentine.n64.proto.19990615.z64"})
            EXPECT_FALSE(FileExists(folder + L"\\" + name)) << Utf8(name);
        ExpectShellEntries(false);
        RemoveScratchFolder(outside);
    }
}

// An installation at the root of a drive (an install folder mapped as drive R:, say, made
// before setup refused such places): an uninstall there could reach the whole drive, so
// neither stage acts on it, whatever it holds.
TEST_F(Uninstall, AnInstallationAtADriveRootIsNeverActedOn)
{
    InstallInto(folder);
    AddSaves(folder);
    std::wstring c_drive = UnixPath(L"C:\\");  // ".../dosdevices/c:/"
    ASSERT_GT(c_drive.size(), 3u);
    for (wchar_t letter = L'r'; letter <= L'y' && drive.empty(); letter++) {
        std::wstring root_path = std::wstring(1, (wchar_t)(letter - 32)) + L":\\";
        if (GetFileAttributesW(root_path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            drive = root_path;
            drive_device = c_drive.substr(0, c_drive.size() - 3) + letter + L":";
        }
    }
    ASSERT_FALSE(drive.empty()) << "no free drive letter";
    ASSERT_TRUE(RunHostCommand(L"ln", L"-s \"" + UnixPath(folder) + L"\" \"" + drive_device + L"\""));
    ASSERT_TRUE(WaitUntilPresent(drive + L"Uninstall.exe", 60000));
    WriteUninstallValue(L"InstallLocation", REG_SZ, drive.c_str(), (DWORD)((drive.size() + 1) * 2));
    auto files = FilesAndBytesBelow(folder);

    std::vector<std::wstring> before = TempCopies();
    SetupRun run = RunProgram(drive + L"Uninstall.exe", L"/uninstall /S /delsaves");
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_TRUE(NewTempCopies(before).empty());
    EXPECT_TRUE(FilesAndBytesBelow(folder) == files);
    ExpectShellEntries(true);
}

// The uninstaller's own path does not fit in 260 units: cut, it would name its folder and
// so make the parent (here an installation with saves) the folder to remove. Nothing is.
TEST_F(Uninstall, AnUninstallerPathPastTheLimitRemovesNothing)
{
    InstallInto(folder);
    AddSaves(folder);
    std::wstring deep = folder + L"\\" + std::wstring(259 - folder.size() - 1, L'x');
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    for (const wchar_t* name : {L"Uninstall.exe", L"TorrentinePC.exe", L"portable.txt"})
        ASSERT_TRUE(CopyFileW((folder + L"\\" + name).c_str(), (deep + L"\\" + name).c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(TestSetupExe().c_str(), (deep + L"\\stage2.exe").c_str(), FALSE));
    auto files = FilesAndBytesBelow(folder);
    ASSERT_GT(files.size(), 20u);
    std::vector<std::wstring> before = TempCopies();

    PROCESS_INFORMATION shell = StartThroughHost(root, deep + L"\\Uninstall.exe", {L"/uninstall", L"/S", L"/delsaves"});
    EXPECT_EQ(HostExitCode(root, shell), "1\n");
    shell = StartThroughHost(root, deep + L"\\stage2.exe", {L"/S", L"/delsaves", L"/uninstall2", folder});
    EXPECT_EQ(HostExitCode(root, shell), "1\n");

    shell = StartThroughHost(root, deep + L"\\Uninstall.exe", {L"/uninstall", L"/delsaves"});
    HWND box = WaitForMessageBox(CAPTION, 60000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), L"The uninstaller's path is too long to be read. Nothing was removed.");
    AnswerMessageBox(box, IDOK);
    EXPECT_EQ(HostExitCode(root, shell), "1\n");

    EXPECT_TRUE(NewTempCopies(before).empty());
    EXPECT_TRUE(FilesAndBytesBelow(folder) == files);
    ExpectShellEntries(true);
}

// A cmd.exe and a ping.exe planted in the temporary folder and in the install folder (the
// children's old current folder), and a file under the name the copy used to get (the
// stage-1 process id): none runs, the file stays as it was, and the copy, under a random
// name, still deletes itself through the real command processor.
TEST_F(Uninstall, PlantedProgramsNeverRunAndNoFileIsReplaced)
{
    InstallInto(folder);
    std::wstring marker = WindowsPath(TEST_WIDEN(TORRENTINE_TEST_MARKER_EXE));
    planted = {temp_folder + L"cmd.exe", temp_folder + L"ping.exe", folder + L"\\cmd.exe", folder + L"\\ping.exe"};
    for (const std::wstring& path : planted) ASSERT_TRUE(CopyFileW(marker.c_str(), path.c_str(), FALSE));

    std::vector<std::wstring> before = TempCopies();
    PROCESS_INFORMATION stage1 = StartProgram(folder + L"\\Uninstall.exe", L"/uninstall", folder.c_str(), true);
    ASSERT_NE(stage1.hProcess, nullptr);
    std::wstring old_name = L"Uninstall_TorrentinePC_" + std::to_wstring(stage1.dwProcessId) + L".exe";
    planted.push_back(temp_folder + old_name);
    ASSERT_TRUE(CopyFileW(marker.c_str(), planted.back().c_str(), FALSE));
    std::vector<uint8_t> marker_bytes = ReadBytes(marker);
    ResumeThread(stage1.hThread);

    HWND box = WaitForMessageBox(CAPTION, 60000);
    ASSERT_NE(box, nullptr);
    std::vector<std::wstring> copies;
    for (const std::wstring& name : NewTempCopies(before))
        if (name != old_name) copies.push_back(name);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0].size(), std::wstring(L"Uninstall_TorrentinePC_").size() + 16 + 4) << Utf8(copies[0]);
    EXPECT_EQ(copies[0].find_first_not_of(L"0123456789ABCDEF", 23), copies[0].size() - 4) << Utf8(copies[0]);

    EXPECT_EQ(RemoveEverythingInteractively(box), 0u);
    EXPECT_EQ(WaitForExit(stage1), 0u);
    EXPECT_TRUE(WaitUntilGone(temp_folder + copies[0], 60000));

    for (const std::wstring& path : planted) EXPECT_FALSE(FileExists(path + L".ran")) << Utf8(path);
    EXPECT_TRUE(ReadBytes(temp_folder + old_name) == marker_bytes);
    EXPECT_FALSE(FileExists(folder + L"\\TorrentinePC.exe"));
}

// The entry's size never walks a link: a mods folder linked to the whole file system
// behind Z:\ counts as nothing, and the update install ends at once.
TEST_F(Uninstall, TheEntrysSizeNeverFollowsALink)
{
    InstallInto(folder);
    DWORD size = ReadUninstallValue(L"EstimatedSize").Dword();
    ASSERT_GT(size, 0u);
    ASSERT_TRUE(MakeFolderLink(folder + L"\\mods", L"Z:\\"));
    InstallInto(folder);
    EXPECT_EQ(ReadUninstallValue(L"EstimatedSize").Dword(), size);
}

namespace {

// Exactly what setup writes as "portable.txt".
const char* const MARK_TEXT = "Settings, saves, mods and the ROM copy are kept in this folder.\r\n";

}  // namespace

// Folders that only look like an installation, those that an install refuses too (a ROM
// under the copy's name, a downloaded game executable, files named like saves, settings and
// logs, a note of another text, setup's note as a link to a file elsewhere). With an
// uninstaller copied in, neither a plain nor a /delsaves run changes a byte.
TEST_F(Uninstall, OnlySetupsOwnMarkMakesAFolderAnInstallation)
{
    std::wstring outside_note = root + L"\\outside-note.txt";
    Put(outside_note, MARK_TEXT);
    int n = 0;
    for (const LookAlikeFolder& c : LookAlikeFolders()) {
        SCOPED_TRACE(c.what);
        std::wstring player = root + L"\\player" + std::to_wstring(++n);
        ASSERT_TRUE(MakeLookAlikeFolder(c, player, outside_note));
        ASSERT_TRUE(CopyFileW(TestSetupExe().c_str(), (player + L"\\Uninstall.exe").c_str(), FALSE));
        auto files = FilesAndBytesBelow(player);
        auto outside = ReadBytes(outside_note);
        for (const wchar_t* flags : {L"/uninstall /S", L"/uninstall /S /delsaves"}) {
            std::vector<std::wstring> before = TempCopies();
            SetupRun run = RunProgram(player + L"\\Uninstall.exe", flags);
            EXPECT_EQ(run.exit_code, 1u) << Utf8(flags);
            EXPECT_TRUE(NewTempCopies(before).empty()) << Utf8(flags);
            EXPECT_TRUE(FilesAndBytesBelow(player) == files) << Utf8(flags);
            EXPECT_TRUE(ReadBytes(outside_note) == outside);
        }
    }
}

// A known folder that holds setup's mark (put there by hand, or by an older setup) is
// still never acted on: Documents keeps its files, even with /delsaves.
TEST_F(Uninstall, AKnownFolderIsNeverActedOnEvenWithTheMark)
{
    PWSTR known = nullptr;
    ASSERT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &known)));
    std::wstring documents = known;
    CoTaskMemFree(known);
    std::wstring planted_folder = documents + L"\\uninstall test " + std::to_wstring(GetCurrentProcessId());
    const std::wstring names[] = {L"portable.txt", L"Uninstall.exe", L"notes " + std::to_wstring(GetCurrentProcessId()) + L".json",
                                  L"chat " + std::to_wstring(GetCurrentProcessId()) + L".log"};
    for (const std::wstring& name : names) planted.push_back(documents + L"\\" + name);
    ASSERT_FALSE(FileExists(planted[0])) << "Documents already holds a portable.txt";
    Put(planted[0], MARK_TEXT);
    ASSERT_TRUE(CopyFileW(TestSetupExe().c_str(), planted[1].c_str(), FALSE));
    Put(planted[2], "the player's");
    Put(planted[3], "the player's");
    Put(planted_folder + L"\\saves\\slot1.sav", "the player's");
    std::vector<std::vector<uint8_t>> bytes;
    for (const std::wstring& path : planted) bytes.push_back(ReadBytes(path));

    std::vector<std::wstring> before = TempCopies();
    SetupRun run = RunProgram(planted[1], L"/uninstall /S /delsaves");
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_TRUE(NewTempCopies(before).empty());
    for (size_t i = 0; i < planted.size(); i++) EXPECT_TRUE(ReadBytes(planted[i]) == bytes[i]) << Utf8(planted[i]);
    EXPECT_TRUE(FileExists(planted_folder + L"\\saves\\slot1.sav"));
    RemoveScratchFolder(planted_folder);
}

// A run stopped part way (killed after the game executable went, or later, after the
// entry went) is finished by running the folder's uninstaller again: the mark and the
// uninstaller are the last things removed.
TEST_F(Uninstall, AStoppedUninstallIsFinishedByRunningItAgain)
{
    struct Case {
        const char* what;
        std::vector<const wchar_t*> gone;
        bool entry_gone;
    };
    const Case cases[] = {
        {"stopped after the game executable", {L"TorrentinePC.exe"}, false},
        {"stopped among the game's files", {L"TorrentinePC.exe", L"SDL2.dll", L"dxil.dll"}, false},
        {"stopped after the entry", {L"TorrentinePC.exe", L"SDL2.dll", L"torrentine.n64.proto.19990615.z64"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InstallInto(folder);
        AddSaves(folder);
        for (const wchar_t* name : c.gone) ASSERT_TRUE(DeleteFileW((folder + L"\\" + name).c_str())) << Utf8(name);
        if (c.entry_gone) {
            RemoveScratchFolder(folder + L"\\assets");
            RemoveShellEntries();
        }
        UninstallSilently(folder, L" /delsaves");
        EXPECT_FALSE(FolderExists(folder));
        ExpectShellEntries(false);
    }
}

// The uninstaller reached through another spelling of its folder (a drive letter mapped
// onto the folder above it, the 8.3 name, other letter cases) and entries whose case
// differs from the table's: the same installation, removed whole with its shortcuts and
// entry.
TEST_F(Uninstall, AnotherSpellingOfTheFolderIsTheSameInstallation)
{
    std::wstring c_drive = UnixPath(L"C:\\");
    ASSERT_GT(c_drive.size(), 3u);
    for (wchar_t letter = L'r'; letter <= L'y' && drive.empty(); letter++) {
        std::wstring root_path = std::wstring(1, (wchar_t)(letter - 32)) + L":\\";
        if (GetFileAttributesW(root_path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            drive = root_path;
            drive_device = c_drive.substr(0, c_drive.size() - 3) + letter + L":";
        }
    }
    ASSERT_FALSE(drive.empty()) << "no free drive letter";
    ASSERT_TRUE(RunHostCommand(L"ln", L"-s \"" + UnixPath(root) + L"\" \"" + drive_device + L"\""));
    ASSERT_TRUE(WaitUntilPresent(drive, 60000));

    std::wstring lower = folder;
    for (wchar_t& ch : lower) ch = (wchar_t)towlower(ch);
    wchar_t short_form[MAX_PATH] = L"";
    GetShortPathNameW(root.c_str(), short_form, MAX_PATH);
    struct Case {
        const char* what;
        std::wstring spelling;
    };
    const Case cases[] = {
        {"a mapped drive", drive + L"Torrentine PC"},
        {"other letter cases, with entries in other cases too", lower},
        {"the 8.3 name of the folder above", std::wstring(short_form) + L"\\Torrentine PC"},
    };
    std::string unreached;  // the spellings that do not reach the folder on this machine
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InstallInto(folder);
        AddSaves(folder);
        // Through a third name: a rename that changes only the case may change nothing.
        for (const auto& names : {std::make_pair(L"SDL2.dll", L"sdl2.DLL"), std::make_pair(L"saves", L"Saves"),
                                  std::make_pair(L"settings.json", L"Settings.JSON")}) {
            std::wstring step = folder + L"\\renaming";
            ASSERT_TRUE(MoveFileW((folder + L"\\" + names.first).c_str(), step.c_str()));
            ASSERT_TRUE(MoveFileW(step.c_str(), (folder + L"\\" + names.second).c_str()));
        }
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((folder + L"\\sdl2.dll").c_str(), &found);
        ASSERT_NE(find, INVALID_HANDLE_VALUE);
        FindClose(find);
        ASSERT_EQ(std::wstring(found.cFileName), L"sdl2.DLL");
        ExpectShellEntries(true);
        if (!FileExists(c.spelling + L"\\Uninstall.exe")) {
            unreached += std::string(unreached.empty() ? "" : ", ") + c.what;
            RemoveScratchFolder(folder);
            continue;
        }
        UninstallSilently(c.spelling, L" /delsaves");
        EXPECT_FALSE(FolderExists(folder));
        ExpectShellEntries(false);
    }
    // The other spellings were tested; a failure among them still fails the test.
    if (!unreached.empty()) GTEST_SKIP() << "not reaching the folder here: " << unreached;
}

// The check that an entry is the folder's own compares the volume as well as the path:
// "saves" linked to a folder at the very same path on another drive (the small drive T:)
// is a link, and its files stay.
TEST_F(Uninstall, ALinkToTheSamePathOnAnotherDriveIsNotFollowed)
{
    if (!HasSmallDrive()) GTEST_SKIP() << "no small drive T: (the tests need root to mount one)";
    InstallInto(folder);
    // The folder's path on its own volume, repeated on T:.
    HANDLE handle = CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    union {
        FILE_NAME_INFO info;
        BYTE bytes[sizeof(FILE_NAME_INFO) + 2048];
    } name;
    ASSERT_TRUE(GetFileInformationByHandleEx(handle, FileNameInfo, &name, sizeof name));
    CloseHandle(handle);
    std::wstring on_volume(name.info.FileName, name.info.FileNameLength / sizeof(wchar_t));
    std::wstring twin = L"T:" + on_volume + L"\\saves";
    Put(twin + L"\\slot1.sav", "the player's, on another drive");
    auto files = FilesAndBytesBelow(L"T:" + on_volume);
    ASSERT_TRUE(MakeFolderLink(folder + L"\\saves", twin));

    UninstallSilently(folder, L" /delsaves");
    EXPECT_TRUE(FilesAndBytesBelow(L"T:" + on_volume) == files);
    EXPECT_FALSE(FileExists(folder + L"\\TorrentinePC.exe"));
    ExpectShellEntries(false);
    std::wstring top = on_volume.substr(0, on_volume.find(L'\\', 1));
    RemoveScratchFolder(L"T:" + top);
}

// Files an interrupted run left beside the names setup writes: an update and the
// uninstaller remove them, however many there are; other names that merely look alike,
// and a link among them, stay, and so does the file the link leads to.
TEST_F(Uninstall, LeftoverPartialFilesAreRemovedAndNeverLockOutAnUpdate)
{
    InstallInto(folder);
    std::wstring asset;
    for (const std::wstring& relative : ListFilesBelow(StandinGameFolder()))
        if (asset.empty() && relative.rfind(L"assets\\", 0) == 0) asset = relative;
    ASSERT_FALSE(asset.empty());
    std::wstring outside = root + L"\\outside.bin";
    Put(outside, "the player's");
    auto plant = [&]() {
        std::vector<std::wstring> leftovers = {L"TorrentinePC.exe.partial", L"SDL2.dll.partial", L"sdl2.dll.PARTIAL3",
                                               L"portable.txt.partial", L"Uninstall.exe.partial9",
                                               L"torrentine.n64.proto.19990615.z64.partial", asset + L".partial"};
        for (int i = 1; i <= 9; i++) leftovers.push_back(L"TorrentinePC.exe.partial" + std::to_wstring(i));
        for (const std::wstring& name : leftovers) Put(folder + L"\\" + name, "left by a killed run");
        return leftovers;
    };
    std::vector<std::wstring> leftovers = plant();
    const wchar_t* const kept[] = {L"notes.txt.partial", L"SDL2.dll.partial.bak", L"SDL2.dll.partial10"};
    for (const wchar_t* name : kept) Put(folder + L"\\" + name, "the player's");
    ASSERT_TRUE(MakeFileLink(folder + L"\\vcruntime140.dll.partial", outside, true));

    SetupRun update = RunProgram(TestSetupExe(), L"/S /dir " + Quoted(folder));
    EXPECT_EQ(update.exit_code, 0u) << update.out;
    for (const std::wstring& name : leftovers) EXPECT_FALSE(FileExists(folder + L"\\" + name)) << Utf8(name);
    for (const wchar_t* name : kept) EXPECT_TRUE(FileExists(folder + L"\\" + name)) << Utf8(name);
    EXPECT_EQ(ReadBytes(outside), ReadBytes(folder + L"\\vcruntime140.dll.partial"));
    std::vector<uint8_t> theirs = ReadBytes(outside);
    EXPECT_EQ(std::string(theirs.begin(), theirs.end()), "the player's");

    leftovers = plant();
    UninstallSilently(folder, L" /delsaves");
    for (const std::wstring& name : leftovers) EXPECT_FALSE(FileExists(folder + L"\\" + name)) << Utf8(name);
    theirs = ReadBytes(outside);
    EXPECT_EQ(std::string(theirs.begin(), theirs.end()), "the player's");
    ExpectShellEntries(false);
}

// An installation on a drive that has become read-only (the small drive T:, remounted): the
// game executable cannot go, so nothing goes, and the entry and the uninstaller stay for a
// later run, which completes once the drive can be written again.
TEST_F(Uninstall, AReadOnlyDriveKeepsTheWholeInstallation)
{
    if (!HasSmallDrive()) GTEST_SKIP() << "no small drive T: (the tests need root to mount one)";
    InstallInto(folder);
    // The drive is too small for a whole install: the installation is moved there without
    // its ROM copy, which the uninstaller does not need.
    std::wstring on_t = L"T:\\readonly-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(DeleteFileW((folder + L"\\torrentine.n64.proto.19990615.z64").c_str()));
    for (const std::wstring& relative : ListFilesBelow(folder)) {
        std::wstring target = on_t + L"\\" + relative;
        SHCreateDirectoryExW(nullptr, target.substr(0, target.rfind(L'\\')).c_str(), nullptr);
        ASSERT_TRUE(CopyFileW((folder + L"\\" + relative).c_str(), target.c_str(), TRUE)) << Utf8(relative);
    }
    RemoveScratchFolder(folder);
    WriteUninstallValue(L"InstallLocation", REG_SZ, on_t.c_str(), (DWORD)((on_t.size() + 1) * 2));
    auto files = FilesAndBytesBelow(on_t);
    std::wstring drive_path = UnixPath(L"T:\\");
    ASSERT_TRUE(RunHostCommand(L"mount", L"-o remount,ro \"" + drive_path + L"\""));
    bool read_only = !WriteText(on_t + L"\\probe.txt", "x");
    if (read_only) {
        UninstallSilently(on_t, L" /delsaves", 2);
        EXPECT_TRUE(FilesAndBytesBelow(on_t) == files);
        EXPECT_TRUE(ReadUninstallValue(L"InstallLocation").present);
    }
    ASSERT_TRUE(RunHostCommand(L"mount", L"-o remount,rw \"" + drive_path + L"\""));
    if (!read_only) {
        RemoveScratchFolder(on_t);
        GTEST_SKIP() << "the small drive could not be made read-only";
    }
    UninstallSilently(on_t, L" /delsaves");
    EXPECT_FALSE(FolderExists(on_t));
    EXPECT_FALSE(ReadUninstallValue(L"InstallLocation").present);
}

// An update and an uninstall started at the same moment: one waits for no one and the
// other is refused, so the folder ends either as a whole installation with its entry or
// gone with its entry, never a mix of the two.
TEST_F(Uninstall, AnUpdateAndAnUninstallStartedTogetherNeverMix)
{
    for (int attempt = 0; attempt < 3; attempt++) {
        SCOPED_TRACE(attempt);
        InstallInto(folder);
        std::vector<std::wstring> before = TempCopies();
        PROCESS_INFORMATION update = StartProgram(TestSetupExe(), L"/S /dir " + Quoted(folder), nullptr, true);
        PROCESS_INFORMATION uninstall = StartProgram(folder + L"\\Uninstall.exe", L"/uninstall /S /delsaves", nullptr, true);
        ASSERT_NE(update.hProcess, nullptr);
        ASSERT_NE(uninstall.hProcess, nullptr);
        ResumeThread(uninstall.hThread);
        ResumeThread(update.hThread);
        WaitForExit(update);
        WaitForExit(uninstall);
        EXPECT_TRUE(WaitUntilCopiesGone(before));
        if (FolderExists(folder)) {
            for (const wchar_t* name : {L"TorrentinePC.exe", L"Uninstall.exe", L"portable.txt",
                                        L"torrentine.n64.proto.19990615.z64", L"SDL2.dll"})
                EXPECT_TRUE(FileExists(folder + L"\\" + name)) << Utf8(name);
            EXPECT_TRUE(ReadUninstallValue(L"InstallLocation").present);
        } else {
            EXPECT_FALSE(ReadUninstallValue(L"InstallLocation").present);
        }
        RemoveShellEntries();
        RemoveScratchFolder(folder);
    }
}

// Double-clicked in its installation (no options at all), "Uninstall.exe" uninstalls: its
// first question comes; No removes nothing.
TEST_F(Uninstall, UninstallExeWithoutOptionsAsksToUninstall)
{
    InstallInto(folder);
    auto files = FilesAndBytesBelow(folder);
    std::vector<std::wstring> before = TempCopies();
    PROCESS_INFORMATION stage1 = StartProgram(folder + L"\\Uninstall.exe", L"");
    ASSERT_NE(stage1.hProcess, nullptr);
    HWND box = WaitForMessageBox(CAPTION, 60000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), L"Remove Torrentine PC from\n" + folder + L" ?");
    HANDLE stage2 = OpenWindowProcess(box);
    AnswerMessageBox(box, IDNO);
    EXPECT_EQ(WaitForWindowProcess(stage2, 60000), 1u);
    EXPECT_EQ(WaitForExit(stage1), 1u);
    EXPECT_TRUE(WaitUntilCopiesGone(before));
    EXPECT_EQ(FindWindowW(L"TorrentinePCSetup", nullptr), nullptr);
    EXPECT_TRUE(FilesAndBytesBelow(folder) == files);
    ExpectShellEntries(true);
}

// A file already at the name the temporary copy would get (the tests choose the names) is
// neither replaced nor run: the copy takes the next name, and deletes itself in the end.
TEST_F(Uninstall, AFileAtTheCopysNameStaysAndTheNextNameIsUsed)
{
    InstallInto(folder);
    std::wstring first = temp_folder + L"Uninstall_TorrentinePC_00C0FFEE00000001.exe";
    std::wstring second = temp_folder + L"Uninstall_TorrentinePC_00C0FFEE00000002.exe";
    planted.push_back(first);
    Put(first, "someone else's file");
    SetEnvironmentVariableW(L"TORRENTINE_TEST_COPY_NAMES", L"00C0FFEE00000001 00C0FFEE00000002");
    PROCESS_INFORMATION stage1 = StartProgram(folder + L"\\Uninstall.exe", L"/uninstall");
    SetEnvironmentVariableW(L"TORRENTINE_TEST_COPY_NAMES", nullptr);
    ASSERT_NE(stage1.hProcess, nullptr);
    HWND box = WaitForMessageBox(CAPTION, 60000);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(FileExists(second));  // stage 2 runs as the second name
    HANDLE stage2 = OpenWindowProcess(box);
    AnswerMessageBox(box, IDNO);
    EXPECT_EQ(WaitForWindowProcess(stage2, 60000), 1u);
    EXPECT_EQ(WaitForExit(stage1), 1u);
    EXPECT_TRUE(WaitUntilGone(second, 60000));
    std::vector<uint8_t> bytes = ReadBytes(first);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "someone else's file");
    EXPECT_FALSE(FileExists(first + L".ran"));
}

namespace {

// What an installation of a release holds: the release's game folder, setup's own files and
// whatever the test adds, nothing else.
std::vector<std::wstring> ExpectedInstallation(int release, std::vector<std::wstring> extra = {})
{
    std::vector<std::wstring> files = ListFilesBelow(ReleaseGameFolder(release));
    for (const wchar_t* own : {L"portable.txt", L"Uninstall.exe", L"Torrentine PC.ico",
                               L"torrentine.n64.proto.19990615.z64"})
        files.push_back(own);
    files.insert(files.end(), extra.begin(), extra.end());
    std::sort(files.begin(), files.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });
    return files;
}

std::vector<std::wstring> SortedIgnoringCase(std::vector<std::wstring> files)
{
    std::sort(files.begin(), files.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });
    return files;
}

}  // namespace

// A publisher's releases one after another: each install or update leaves exactly the
// release's files (a later release's new library and "shaders" folder come, and go again
// with an update to a release without them), the entry names the release's version, and
// an uninstall removes every file any of them wrote, leaving no folder with /delsaves.
TEST_F(Uninstall, EveryReleaseInTurnLeavesExactlyItsFilesAndAnUninstallLeavesNothing)
{
    struct Case {
        const char* what;
        std::vector<int> releases;  // installed one after another into the folder
        bool delsaves;
    };
    const Case cases[] = {
        {"1, 2, 3, then an uninstall with /delsaves", {1, 2, 3}, true},
        {"2, then 1 (fewer files), then an uninstall with /delsaves", {2, 1}, true},
        {"2 alone, then an uninstall keeping the saves", {2}, false},
        {"3, then 2, then an uninstall with /delsaves", {3, 2}, true},
    };
    const wchar_t* const versions[] = {L"", L"1.0", L"1.1", L"1.2"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveScratchFolder(folder);
        RemoveShellEntries();
        for (int release : c.releases) {
            std::wstring setup = release == 1 ? TestSetupExe() : TestReleaseExe(release);
            SetupRun run = RunProgram(setup, L"/S /rom " + Quoted(FixturePath(L"fixture.z64")) + L" /dir " +
                                                 Quoted(folder));
            ASSERT_EQ(run.exit_code, 0u) << run.out;
            Put(folder + L"\\saves\\slot1.sav", "player data");
            EXPECT_EQ(SortedIgnoringCase(ListFilesBelow(folder)), ExpectedInstallation(release, {L"saves\\slot1.sav"}))
                << "after release " << release;
            EXPECT_EQ(ReadUninstallValue(L"DisplayVersion").Text(), std::wstring(versions[release]) + L'\0');
            std::vector<uint8_t> installed = ReadBytes(folder + L"\\assets\\version.txt");
            EXPECT_TRUE(installed == ReadBytes(ReleaseGameFolder(release) + L"\\assets\\version.txt"));
        }
        EXPECT_EQ(FolderExists(folder + L"\\shaders"), c.releases.back() == 2);
        EXPECT_EQ(FolderExists(folder + L"\\assets\\patches"), c.releases.back() != 3);

        UninstallSilently(folder, c.delsaves ? L" /delsaves" : L"");
        ExpectShellEntries(false);
        if (c.delsaves)
            EXPECT_FALSE(FolderExists(folder));
        else
            EXPECT_EQ(SortedIgnoringCase(ListFilesBelow(folder)),
                      SortedIgnoringCase({L"portable.txt", L"saves\\slot1.sav"}));
        EXPECT_FALSE(FolderExists(folder + L"\\shaders"));
        EXPECT_FALSE(FolderExists(folder + L"\\assets"));
    }
}

// The entry carries what Settings and package managers read beside the nine values: the
// silent uninstall command and the day of the install.
TEST_F(Uninstall, TheEntryOffersAQuietUninstallAndItsDate)
{
    InstallInto(folder);
    std::wstring uninstaller = folder + L"\\Uninstall.exe";
    EXPECT_EQ(ReadUninstallValue(L"QuietUninstallString").Text(),
              Quoted(uninstaller) + L" /uninstall /S" + std::wstring(1, L'\0'));
    SYSTEMTIME today;
    GetLocalTime(&today);
    wchar_t date[16];
    swprintf(date, 16, L"%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
    std::wstring installed = ReadUninstallValue(L"InstallDate").Text();
    EXPECT_EQ(installed.size(), 9u);
    // Around midnight the day may have turned between the install and this line.
    EXPECT_LE(installed.substr(0, 8), std::wstring(date));

    // Run as a package manager would, the quiet command's exit code is the uninstall's.
    std::vector<std::wstring> before = TempCopies();
    SetupRun run = RunProgram(uninstaller, L"/uninstall /S");
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_TRUE(WaitUntilCopiesGone(before));
    EXPECT_FALSE(FileExists(uninstaller));
}

// Every result a caller of the entry's commands sees through stage 1 is what happened:
// 2 when the game could not go (and nothing went), 3 when something else stayed (the
// uninstaller, the entry and the mark stay too, so the next run finishes), 0 only when all
// is gone.
TEST_F(Uninstall, EveryExitCodeIsTheUninstallsTrueResult)
{
    const std::wstring game = folder + L"\\TorrentinePC.exe";
    const std::wstring save = folder + L"\\saves\\slot1.sav";
    const std::wstring library = folder + L"\\SDL2.dll";
    struct Case {
        const char* what;
        const std::wstring* held;  // held open without any sharing
        bool read_only_game;
        DWORD code;
        bool game_stays;
    };
    const Case cases[] = {
        {"the game held open", &game, false, 2, true},
        {"the game read-only", nullptr, true, 2, true},
        {"a save held open", &save, false, 3, false},
        {"a library held open", &library, false, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InstallInto(folder);
        AddSaves(folder);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.held) held = CreateFileW(c.held->c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (c.read_only_game) {
            ASSERT_TRUE(SetFileAttributesW(game.c_str(), FILE_ATTRIBUTE_READONLY));
        }
        std::vector<std::wstring> before = TempCopies();
        SetupRun run = RunProgram(folder + L"\\Uninstall.exe", L"/uninstall /S /delsaves");
        EXPECT_EQ(run.exit_code, c.code);
        EXPECT_TRUE(WaitUntilCopiesGone(before));
        EXPECT_EQ(FileExists(game), c.game_stays);
        EXPECT_TRUE(FileExists(folder + L"\\Uninstall.exe"));
        EXPECT_TRUE(FileExists(folder + L"\\portable.txt"));
        EXPECT_TRUE(ReadUninstallValue(L"InstallLocation").present);

        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        SetFileAttributesW(game.c_str(), FILE_ATTRIBUTE_NORMAL);
        UninstallSilently(folder, L" /delsaves");
        EXPECT_FALSE(FolderExists(folder));
        ExpectShellEntries(false);
    }
}

// The installation's own uninstaller run as stage 2 on its own folder cannot delete itself:
// it says so (3) and keeps the mark, so the folder stays an installation that its
// uninstaller can still finish.
TEST_F(Uninstall, AnUninstallerThatCannotGoKeepsTheMark)
{
    InstallInto(folder);
    AddSaves(folder);
    SetupRun run = RunProgram(folder + L"\\Uninstall.exe", L"/uninstall2 " + Quoted(folder) + L" /S /delsaves");
    EXPECT_EQ(run.exit_code, 3u);
    EXPECT_TRUE(FileExists(folder + L"\\Uninstall.exe"));
    EXPECT_TRUE(FileExists(folder + L"\\portable.txt"));
    EXPECT_FALSE(FileExists(folder + L"\\TorrentinePC.exe"));
    UninstallSilently(folder, L" /delsaves");
    EXPECT_FALSE(FolderExists(folder));
}

// An install into a folder inside another installation is refused; another installation
// that an earlier build put there anyway (in "assets" or in "saves") is never entered by the
// outer one's uninstall, saves included.
TEST_F(Uninstall, AnotherInstallationInsideTheFolderIsNeverTouched)
{
    InstallInto(folder);
    for (const wchar_t* inner : {L"assets\\Inner", L"saves\\Inner", L"mods\\x\\Inner", L"mod_config\\Inner"}) {
        SetupRun run = RunProgram(TestSetupExe(), L"/S /rom " + Quoted(FixturePath(L"fixture.z64")) + L" /dir " +
                                                      Quoted(folder + L"\\" + inner));
        EXPECT_EQ(run.exit_code, 1u) << Utf8(inner);
        EXPECT_EQ(run.out,
                  "That folder is inside another Torrentine PC installation: choose a folder outside it.\n")
            << Utf8(inner);
        EXPECT_FALSE(FolderExists(folder + L"\\" + inner)) << Utf8(inner);
    }
    // As an earlier build left them: the mark, the game and a save each.
    std::vector<uint8_t> note = ReadBytes(folder + L"\\portable.txt");
    for (const wchar_t* inner : {L"assets\\Inner", L"saves\\Inner"}) {
        std::wstring nested = folder + L"\\" + inner;
        Put(nested + L"\\saves\\slot1.sav", "the inner installation's save");
        Put(nested + L"\\TorrentinePC.exe", "the inner installation's game");
        Put(nested + L"\\assets\\credits.txt", "the inner installation's asset");
        ASSERT_TRUE(WriteBytes(nested + L"\\portable.txt", note.data(), note.size()));
    }
    auto inner_assets = FilesAndBytesBelow(folder + L"\\assets\\Inner");
    auto inner_saves = FilesAndBytesBelow(folder + L"\\saves\\Inner");
    UninstallSilently(folder, L" /delsaves");
    EXPECT_TRUE(FilesAndBytesBelow(folder + L"\\assets\\Inner") == inner_assets);
    EXPECT_TRUE(FilesAndBytesBelow(folder + L"\\saves\\Inner") == inner_saves);
    EXPECT_FALSE(FileExists(folder + L"\\TorrentinePC.exe"));
    EXPECT_FALSE(FileExists(folder + L"\\Uninstall.exe"));
}

// A temporary copy that an earlier uninstall left behind (its stage 2 killed) is removed by
// the next uninstall; a file of someone else's at such a name stays.
TEST_F(Uninstall, TemporaryCopiesLeftBehindAreRemovedByTheNextRun)
{
    InstallInto(folder);
    std::wstring left = temp_folder + L"Uninstall_TorrentinePC_0123456789ABCDEF.exe";
    std::wstring foreign = temp_folder + L"Uninstall_TorrentinePC_FEDCBA9876543210.exe";
    planted = {left, foreign};
    ASSERT_TRUE(CopyFileW(TestSetupExe().c_str(), left.c_str(), FALSE));
    Put(foreign, "someone else's file");
    UninstallSilently(folder, L" /delsaves");
    EXPECT_FALSE(FileExists(left));
    EXPECT_TRUE(FileExists(foreign));
}

// Stage 2 takes the lock only as the handle of the process that started it: numbers on its
// command line are never the lock itself, whatever they are, while another run holds it.
TEST_F(Uninstall, AHandedLockCannotBeForged)
{
    InstallInto(folder);
    auto files = FilesAndBytesBelow(folder);
    // A run that holds the lock: an install paused at its first file.
    std::wstring other = root + L"\\Other";
    std::wstring pause = root + L"\\paused";
    SetEnvironmentVariableW(L"TORRENTINE_TEST_STOP", L"write 0 pause");
    SetEnvironmentVariableW(L"TORRENTINE_TEST_PAUSE", pause.c_str());
    PROCESS_INFORMATION holder = StartProgram(TestSetupExe(), L"/S /rom " + Quoted(FixturePath(L"fixture.z64")) +
                                                                   L" /dir " + Quoted(other));
    SetEnvironmentVariableW(L"TORRENTINE_TEST_STOP", nullptr);
    SetEnvironmentVariableW(L"TORRENTINE_TEST_PAUSE", nullptr);
    ASSERT_NE(holder.hProcess, nullptr);
    ASSERT_TRUE(WaitUntilPresent(pause, 60000));
    std::wstring copy = root + L"\\stage2.exe";
    ASSERT_TRUE(CopyFileW(TestSetupExe().c_str(), copy.c_str(), FALSE));
    for (const wchar_t* forged : {L"/lock 4 /from 4", L"/lock 5C /from 5C", L"/lock 5C /from FFFFFFFFFFFFFFFF",
                                  L"/lock 60 /from 5C", L"/lock 8 /from 64", L"/lock 5C"}) {
        SetupRun run = RunProgram(copy, L"/uninstall2 " + Quoted(folder) + L" /S /delsaves " + forged);
        EXPECT_EQ(run.exit_code, 1u) << Utf8(forged);
    }
    EXPECT_TRUE(FilesAndBytesBelow(folder) == files);
    DeleteFileW(pause.c_str());
    EXPECT_EQ(WaitForExit(holder), 0u);
    UninstallSilently(other, L" /delsaves");
}

// Stage 2 holds the run lock from before its first question until it has ended: an install
// started meanwhile is told that setup is already running and writes nothing.
TEST_F(Uninstall, TheLockIsHeldWhileTheUninstallerAsks)
{
    InstallInto(folder);
    PROCESS_INFORMATION stage1 = StartProgram(folder + L"\\Uninstall.exe", L"/uninstall");
    ASSERT_NE(stage1.hProcess, nullptr);
    HWND box = WaitForMessageBox(CAPTION, 60000);
    ASSERT_NE(box, nullptr);
    std::wstring other = root + L"\\Other";
    SetupRun run = RunProgram(TestSetupExe(), L"/S /rom " + Quoted(FixturePath(L"fixture.z64")) + L" /dir " +
                                                  Quoted(other));
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.out, "Torrentine PC Setup is already running. Wait until it has finished, then try again.\n");
    EXPECT_FALSE(FolderExists(other));
    HANDLE stage2 = OpenWindowProcess(box);
    AnswerMessageBox(box, IDNO);
    EXPECT_EQ(WaitForWindowProcess(stage2, 60000), 1u);
    EXPECT_EQ(WaitForExit(stage1), 1u);
}

// A program that does what a scanner does (opens each file just named or written there,
// holding it a moment with read sharing only) beside an update and an uninstall: each
// rename and deletion it meets is tried again until it lets go, and both complete.
TEST_F(Uninstall, AScannerHoldingEachNewFileBreaksNeitherAnUpdateNorTheUninstall)
{
    InstallInto(folder);
    AddSaves(folder);
    const std::wstring stop = root + L"\\scanner-stop";
    PROCESS_INFORMATION scanner =
        StartProgram(WindowsPath(TEST_WIDEN(TORRENTINE_TEST_SCANNER_EXE)), Quoted(folder) + L" " + Quoted(stop));
    ASSERT_NE(scanner.hProcess, nullptr);
    ASSERT_TRUE(WaitUntilPresent(stop + L".ready", 60000));
    // The next release, given the ROM while the folder's copy is missing: the new files, the
    // ROM copy and the uninstaller are staged and renamed in under the scanner's eyes.
    ASSERT_TRUE(DeleteFileW((folder + L"\\torrentine.n64.proto.19990615.z64").c_str()));
    SetupRun update = RunProgram(TestReleaseExe(2), L"/S /rom " + Quoted(FixturePath(L"fixture.z64")) + L" /dir " +
                                                        Quoted(folder));
    EXPECT_EQ(update.exit_code, 0u) << update.out;
    EXPECT_TRUE(FileExists(folder + L"\\torrentine.n64.proto.19990615.z64"));
    for (const std::wstring& relative : ListFilesBelow(ReleaseGameFolder(2)))
        EXPECT_TRUE(FileExists(folder + L"\\" + relative)) << Utf8(relative);
    for (const std::wstring& relative : ListFilesBelow(folder))
        EXPECT_EQ(relative.find(L".partial"), std::wstring::npos) << Utf8(relative);
    UninstallSilently(folder, L" /delsaves");
    WriteText(stop, "stop");
    EXPECT_EQ(WaitForSingleObject(scanner.hProcess, 60000), WAIT_OBJECT_0);
    CloseHandle(scanner.hProcess);
    CloseHandle(scanner.hThread);
    std::vector<uint8_t> held = ReadBytes(stop + L".held");
    EXPECT_GT(atoi(std::string(held.begin(), held.end()).c_str()), 0);  // it did hold files
    EXPECT_TRUE(ListFilesBelow(folder).empty());
    ExpectShellEntries(false);
}

// An update killed in the middle of its commit leaves names aside and a journal: the
// uninstaller puts the previous version back from it and removes it all.
TEST_F(Uninstall, AnUpdateKilledInItsCommitIsUndoneAndRemoved)
{
    InstallInto(folder);
    AddSaves(folder);
    SetEnvironmentVariableW(L"TORRENTINE_TEST_STOP", L"commit 5 kill");
    SetupRun killed = RunProgram(TestReleaseExe(2), L"/S /rom " + Quoted(FixturePath(L"fixture.z64")) + L" /dir " +
                                                        Quoted(folder));
    SetEnvironmentVariableW(L"TORRENTINE_TEST_STOP", nullptr);
    EXPECT_EQ(killed.exit_code, 9u);
    ASSERT_TRUE(FileExists(folder + L"\\update-in-progress.txt"));
    UninstallSilently(folder, L" /delsaves");
    EXPECT_FALSE(FolderExists(folder));
    ExpectShellEntries(false);
}

// Another session's run on the folder holds the folder's own lock but not this session's
// run lock. Here that run is this test program started again (FolderLockHolder below), which
// opens the lock file as a run of setup does and waits. While it lives, an update and an
// uninstall, silent or not, say that setup is already running and change nothing; once it
// is killed, its lock is gone with it, and both succeed.
TEST_F(Uninstall, AnotherSessionsRunOnTheFolderIsWaitedFor)
{
    InstallInto(folder);
    const std::wstring lock = folder + L"\\setup-running.lock";
    const std::wstring held = root + L"\\held";
    const std::string busy = "Torrentine PC Setup is already running. Wait until it has finished, then try again.";
    wchar_t self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    SetEnvironmentVariableW(L"TORRENTINE_TEST_HOLD_LOCK", lock.c_str());
    SetEnvironmentVariableW(L"TORRENTINE_TEST_HELD", held.c_str());
    PROCESS_INFORMATION holder = StartProgram(self, L"--gtest_filter=FolderLockHolder.HoldsTheLockUntilKilled");
    SetEnvironmentVariableW(L"TORRENTINE_TEST_HOLD_LOCK", nullptr);
    SetEnvironmentVariableW(L"TORRENTINE_TEST_HELD", nullptr);
    ASSERT_NE(holder.hProcess, nullptr);
    ASSERT_TRUE(WaitUntilPresent(held, 60000));
    const auto files = FilesAndBytesBelow(folder);

    const std::wstring update = L"/S /dir " + Quoted(folder) + L" /nodesktop /nostartmenu";
    SetupRun run = RunProgram(TestSetupExe(), update);
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.out, busy + "\n");
    run = RunProgram(folder + L"\\Uninstall.exe", L"/uninstall /S /delsaves");
    EXPECT_EQ(run.exit_code, 1u);
    PROCESS_INFORMATION stage1 = StartProgram(folder + L"\\Uninstall.exe", L"/uninstall");
    ASSERT_NE(stage1.hProcess, nullptr);
    HWND box = WaitForMessageBox(CAPTION, 60000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Utf8(MessageBoxText(box)), busy);
    AnswerMessageBox(box, IDOK);
    EXPECT_EQ(WaitForExit(stage1), 1u);
    EXPECT_TRUE(FilesAndBytesBelow(folder) == files);
    EXPECT_TRUE(ReadUninstallValue(L"DisplayName").present);

    // Killed, as a run may be: its handles close, and the lock file goes with them.
    TerminateProcess(holder.hProcess, 9);
    WaitForExit(holder);
    EXPECT_FALSE(FileExists(lock));
    run = RunProgram(TestSetupExe(), update);
    EXPECT_EQ(run.exit_code, 0u) << run.out;
    EXPECT_FALSE(FileExists(lock));
    UninstallSilently(folder, L" /delsaves");
    EXPECT_FALSE(FolderExists(folder));
}

// A link put at the lock file's name (by anyone who can write into the folder) is never
// taken for the lock: the file it leads to stays whole through an update and an uninstall.
TEST_F(Uninstall, ALinkAtTheLockFilesNameIsNeverFollowed)
{
    InstallInto(folder);
    const std::wstring outside = root + L"\\a players file.txt";
    Put(outside, "the player's own");
    ASSERT_TRUE(MakeFileLink(folder + L"\\setup-running.lock", outside, true));
    SetupRun run = RunProgram(TestSetupExe(), L"/S /dir " + Quoted(folder) + L" /nodesktop /nostartmenu");
    EXPECT_EQ(run.exit_code, 0u) << run.out;
    auto text = [&] {
        std::vector<uint8_t> bytes = ReadBytes(outside);
        return std::string(bytes.begin(), bytes.end());
    };
    EXPECT_EQ(text(), "the player's own");
    UninstallSilently(folder, L" /delsaves");
    EXPECT_EQ(text(), "the player's own");
}

// Run only by the test above: holds the folder lock as a run of another session would, until
// it is killed (or the test's scratch folder, with its note, is gone).
TEST(FolderLockHolder, HoldsTheLockUntilKilled)
{
    wchar_t lock[MAX_PATH], held[MAX_PATH];
    if (!GetEnvironmentVariableW(L"TORRENTINE_TEST_HOLD_LOCK", lock, MAX_PATH) ||
        !GetEnvironmentVariableW(L"TORRENTINE_TEST_HELD", held, MAX_PATH))
        GTEST_SKIP() << "started by Uninstall.AnotherSessionsRunOnTheFolderIsWaitedFor only";
    HANDLE file = CreateFileW(lock, GENERIC_READ | DELETE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(WriteText(held, "held"));
    for (int waited = 0; waited < 300000 && FileExists(held); waited += 50) Sleep(50);
    CloseHandle(file);
}

// A deep folder (205 characters) is broken into lines in the first question, after its
// separators: the box stays far narrower than the screen and shows the whole path.
TEST_F(Uninstall, ALongFolderIsWrappedInTheQuestion)
{
    std::wstring deep = root + L"\\Games";
    while (deep.size() < 192) deep += L"\\Torrentine-Collection";
    deep = deep.substr(0, 192);
    // The cut may fall just after a separator (the scratch folder's name grows with the
    // process id): a doubled separator would be a second spelling of the folder.
    if (deep.back() == L'\\') deep.back() = L'x';
    deep += L"\\Torrentine PC";
    ASSERT_EQ(deep.size(), 206u);  // 205 characters and the separator before the last name
    InstallInto(deep);
    std::vector<std::wstring> before = TempCopies();
    PROCESS_INFORMATION stage1 = StartProgram(deep + L"\\Uninstall.exe", L"/uninstall");
    ASSERT_NE(stage1.hProcess, nullptr);
    HWND box = WaitForMessageBox(CAPTION, 60000);
    ASSERT_NE(box, nullptr);
    std::wstring text = MessageBoxText(box);
    std::wstring unbroken;
    for (wchar_t c : text)
        if (c != L'\n') unbroken += c;
    EXPECT_EQ(unbroken, L"Remove Torrentine PC from" + deep + L" ?");
    size_t longest = 0, line = 0;
    for (wchar_t c : text) {
        line = c == L'\n' ? 0 : line + 1;
        if (line > longest) longest = line;
    }
    EXPECT_LE(longest, 66u) << Utf8(text);
    RECT r;
    GetWindowRect(box, &r);
    EXPECT_LT(r.right - r.left, GetSystemMetrics(SM_CXSCREEN) / 2);
    HANDLE stage2 = OpenWindowProcess(box);
    AnswerMessageBox(box, IDNO);
    EXPECT_EQ(WaitForWindowProcess(stage2, 60000), 1u);
    EXPECT_EQ(WaitForExit(stage1), 1u);
    EXPECT_TRUE(WaitUntilCopiesGone(before));
    EXPECT_TRUE(FileExists(deep + L"\\TorrentinePC.exe"));
}
