#include <windows.h>
#include <shlwapi.h>
#include <wchar.h>

#include "base/command_line.h"
#include "base/setup_state.h"
#include "base/text_format.h"
#include "uninstall/uninstaller.h"

static int StartProcess(wchar_t* command_line, DWORD flags)
{
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(nullptr, command_line, nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                        &startup, &process))
        return 0;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

void ScheduleSelfDelete(void)
{
    wchar_t command[UNINSTALL_STAGE_COMMAND_UNITS];
    // A cut command could name another file: then nothing is deleted.
    if (FormatText(command, UNINSTALL_STAGE_COMMAND_UNITS,
                   L"cmd.exe /c ping 127.0.0.1 -n 3 >nul & del /f /q \"%s\"", g_setup.own_path) < 0)
        return;
    StartProcess(command, CREATE_NO_WINDOW);
}

int RunUninstallStage1(int argc, wchar_t** argv)
{
    int delete_saves = HasFlag(argc, argv, L"/delsaves");
    wchar_t folder[SETUP_PATH_UNITS];
    wmemcpy(folder, g_setup.own_path, SETUP_PATH_UNITS);
    PathRemoveFileSpecW(folder);

    wchar_t temp[SETUP_PATH_UNITS];
    DWORD units = GetTempPathW(SETUP_PATH_UNITS, temp);
    wchar_t copy[SETUP_JOIN_UNITS];
    int copied = units > 0 && units < SETUP_PATH_UNITS &&
                 FormatText(copy, SETUP_JOIN_UNITS, UNINSTALL_TEMP_COPY_FORMAT, temp,
                            (unsigned long)GetCurrentProcessId()) >= 0 &&
                 CopyFileW(g_setup.own_path, copy, FALSE);
    if (copied) {
        wchar_t command[UNINSTALL_STAGE_COMMAND_UNITS];
        if (FormatText(command, UNINSTALL_STAGE_COMMAND_UNITS, L"\"%s\" /uninstall2 \"%s\"%s%s", copy,
                       folder, g_setup.silent ? L" /S" : L"",
                       delete_saves ? L" /delsaves" : L"") >= 0 &&
            StartProcess(command, 0))
            return 0;
    }
    return UninstallFolder(folder, !g_setup.silent, delete_saves);
}

// Only a full path names a folder to remove: an empty or relative one would resolve
// against whatever the current folder happens to be.
static int IsUsableFolder(const wchar_t* folder)
{
    return folder[0] != L'\0' && !PathIsRelativeW(folder) && wcslen(folder) < SETUP_PATH_UNITS;
}

int RunUninstallStage2(int argc, wchar_t** argv)
{
    const wchar_t* folder = OptionValue(argc, argv, L"/uninstall2");
    int result = UNINSTALL_DECLINED;
    if (folder && IsUsableFolder(folder))
        result = UninstallFolder(folder, !g_setup.silent, HasFlag(argc, argv, L"/delsaves"));
    ScheduleSelfDelete();
    return result;
}
