#include "tests/support/look_alike_folders.h"

#include <windows.h>
#include <shlobj.h>

#include "tests/support/setup_runner.h"
#include "tests/support/test_support.h"

const std::vector<LookAlikeFolder>& LookAlikeFolders()
{
    static const std::vector<LookAlikeFolder> folders = {
        {"a player's folder with the ROM under the copy's name",
         {L"assets\\logo.png", L"server.log", L"saves\\slot1.sav", L"notes.json"}, true, false},
        {"a stray game executable", {L"TorrentinePC.exe", L"vcruntime140.dll", L"assets\\a.png", L"game.log"},
         false, false},
        {"files that look like the game's leftovers",
         {L"a.json", L"b.json.bak", L"c.log", L"saves\\other game.sav", L"mods\\m.txt", L"tn_framerate_v1"},
         false, false},
        {"a zip of saves", {L"saves.zip"}, false, false},
        {"a backup of mods", {L"mods_backup\\m.txt"}, false, false},
        {"a note of another text", {L"portable.txt", L"TorrentinePC.exe", L"saves\\slot1.sav"}, true, false},
        {"setup's note as a link to a file elsewhere", {L"TorrentinePC.exe", L"saves\\slot1.sav"}, true, true},
    };
    return folders;
}

bool MakeLookAlikeFolder(const LookAlikeFolder& look_alike, const std::wstring& folder,
                         const std::wstring& outside_note)
{
    if (!CreateDirectoryW(folder.c_str(), nullptr)) return false;
    for (const wchar_t* name : look_alike.files) {
        std::wstring path = folder + L"\\" + name;
        SHCreateDirectoryExW(nullptr, path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
        if (!WriteText(path, "the player's")) return false;
    }
    if (look_alike.rom_copy) {
        std::vector<uint8_t> rom = ReadBytes(FixturePath(L"fixture.z64"));
        if (rom.empty() ||
            !WriteBytes(folder + L"\\torrentine.n64.proto.19990615.z64", rom.data(), rom.size()))
            return false;
    }
    return !look_alike.linked_mark || MakeFileLink(folder + L"\\portable.txt", outside_note, true);
}
