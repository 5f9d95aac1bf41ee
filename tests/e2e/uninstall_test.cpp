// Installs with the real setup program, then runs "Uninstall.exe /uninstall" from the
// install folder as Windows would, and checks what is left on disk, in the registry and in
// the shell.
#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
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

    // Runs the folder's uninstaller silently and waits until stage 2 has deleted its copy.
    void UninstallSilently(const std::wstring& where, const wchar_t* extra = L"")
    {
        std::vector<std::wstring> before = TempCopies();
        SetupRun run = RunProgram(where + L"\\Uninstall.exe", std::wstring(L"/uninstall /S") + extra);
        ASSERT_EQ(run.exit_code, 0u);
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
        SetupRun stage1 = RunProgram(folder + L"\\Uninstall.exe",
                                     c.delsaves_flag ? L"/uninstall /delsaves" : L"/uninstall");
        ASSERT_EQ(stage1.exit_code, 0u);

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
        EXPECT_TRUE(WaitUntilCopiesGone(before));

        EXPECT_EQ(FileExists(folder + L"\\TorrentinePC.exe"), !c.removed);
        EXPECT_EQ(FileExists(folder + L"\\Uninstall.exe"), !c.removed);
        EXPECT_EQ(FileExists(folder + L"\\saves\\slot1.sav"), !c.saves_removed);
        EXPECT_EQ(FileExists(folder + L"\\portable.txt"), !c.saves_removed);
        ExpectShellEntries(!c.removed);
    }
}

// The game goes first: while it runs, nothing is removed, so the entry's UninstallString
// still names "Uninstall.exe", and running it again once the game has closed completes.
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
    std::vector<std::wstring> before = TempCopies();
    SetupRun stage1 = RunProgram(uninstaller, L"/uninstall");
    ASSERT_EQ(stage1.exit_code, 0u);
    HWND box = WaitForMessageBox(CAPTION, 60000);
    ASSERT_NE(box, nullptr);
    HANDLE stage2 = OpenWindowProcess(box);
    AnswerMessageBox(box, IDYES);
    box = WaitForMessageBox(CAPTION, 60000);
    ASSERT_NE(box, nullptr);
    AnswerMessageBox(box, IDYES);
    box = WaitForMessageBox(L"Torrentine PC", 60000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), L"The game seems to be running. Close it and run the uninstaller again.");
    AnswerMessageBox(box, IDOK);
    EXPECT_EQ(WaitForWindowProcess(stage2, 60000), 2u);
    EXPECT_TRUE(WaitUntilCopiesGone(before));

    EXPECT_TRUE(FileExists(uninstaller));
    EXPECT_TRUE(FileExists(folder + L"\\TorrentinePC.exe"));
    EXPECT_TRUE(FileExists(folder + L"\\SDL2.dll"));
    EXPECT_TRUE(FileExists(folder + L"\\saves\\slot1.sav"));
    ExpectShellEntries(true);
    EXPECT_EQ(ReadUninstallValue(L"UninstallString").Text(), command);

    // The game has closed: the same uninstaller, run again, completes.
    CloseHandle(game);
    before = TempCopies();
    stage1 = RunProgram(uninstaller, L"/uninstall");
    ASSERT_EQ(stage1.exit_code, 0u);
    box = WaitForMessageBox(CAPTION, 60000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(RemoveEverythingInteractively(box), 0u);
    EXPECT_TRUE(WaitUntilCopiesGone(before));
    EXPECT_FALSE(FolderExists(folder));
    ExpectShellEntries(false);
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
    EXPECT_TRUE(WaitUntilGone(copy, 60000));
    EXPECT_TRUE(FileExists(folder + L"\\TorrentinePC.exe"));
    ExpectShellEntries(true);
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
        EXPECT_TRUE(WaitUntilGone(copy, 60000)) << Utf8(argument);
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
         {L"settings.json", L"portable.txt", L"tn_framerate_v1", L"SDL2.dll", L"assets\\linked.bin"}},
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

// An installation at the root of a drive (an install folder mapped as drive R:, say): the
// folder "R:\" reaches stage 2 whole, so the silent uninstall stays silent and completes.
TEST_F(Uninstall, AnInstallationAtADriveRootUninstallsSilently)
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
    // What an installation there registers: the entry names the root, shortcuts point into it.
    WriteUninstallValue(L"InstallLocation", REG_SZ, drive.c_str(), (DWORD)((drive.size() + 1) * 2));
    ASSERT_TRUE(MakeShortcut(DesktopShortcut(), drive + L"TorrentinePC.exe"));
    ASSERT_TRUE(MakeShortcut(StartMenuShortcut(), drive + L"TorrentinePC.exe"));

    std::vector<std::wstring> before = TempCopies();
    SetupRun run = RunProgram(drive + L"Uninstall.exe", L"/uninstall /S /delsaves");
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_TRUE(WaitUntilCopiesGone(before));
    EXPECT_EQ(FindWindowW(L"#32770", CAPTION), nullptr);
    EXPECT_TRUE(ListFilesBelow(folder).empty());
    ExpectShellEntries(false);
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
    EXPECT_EQ(WaitForExit(stage1), 0u);

    HWND box = WaitForMessageBox(CAPTION, 60000);
    ASSERT_NE(box, nullptr);
    std::vector<std::wstring> copies;
    for (const std::wstring& name : NewTempCopies(before))
        if (name != old_name) copies.push_back(name);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0].size(), std::wstring(L"Uninstall_TorrentinePC_").size() + 16 + 4) << Utf8(copies[0]);
    EXPECT_EQ(copies[0].find_first_not_of(L"0123456789ABCDEF", 23), copies[0].size() - 4) << Utf8(copies[0]);

    EXPECT_EQ(RemoveEverythingInteractively(box), 0u);
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
