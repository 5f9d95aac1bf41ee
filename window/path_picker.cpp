#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <shlwapi.h>

#include "base/setup_state.h"
#include "base/text_format.h"
#include "window/setup_window.h"

void NearestExistingFolder(const wchar_t* path, wchar_t* folder_out)
{
    folder_out[0] = L'\0';
    wchar_t candidate[SETUP_JOIN_UNITS];
    if (!path[0] || FormatText(candidate, SETUP_JOIN_UNITS, L"%s", path) < 0) return;
    for (;;) {
        DWORD attributes = GetFileAttributesW(candidate);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            FormatText(folder_out, SETUP_JOIN_UNITS, L"%s", candidate);
            return;
        }
        if (PathIsRootW(candidate) || !PathRemoveFileSpecW(candidate) || !candidate[0]) return;
    }
}

int PickerStartFolder(int folder_mode, const wchar_t* box_text, wchar_t* folder_out)
{
    NearestExistingFolder(box_text, folder_out);
    if (folder_out[0]) return PICKER_START_HERE;
    if (folder_mode) return PICKER_START_ANYWHERE;
    // An empty ROM box: a downloaded ROM is likelier in Downloads than on the Desktop,
    // where the dialog would open by itself.
    PWSTR downloads = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Downloads, 0, nullptr, &downloads))) {
        NearestExistingFolder(downloads, folder_out);
        CoTaskMemFree(downloads);
    }
    return folder_out[0] ? PICKER_START_UNLESS_USED : PICKER_START_ANYWHERE;
}

// The dialog's first folder: where the box points, or as near to it as exists; else the
// folder last used in this dialog, or Downloads for the ROM.
static void StartAt(IFileOpenDialog* dialog, int folder_mode, const wchar_t* start_at)
{
    wchar_t folder[SETUP_JOIN_UNITS];
    int start = PickerStartFolder(folder_mode, start_at, folder);
    if (start == PICKER_START_ANYWHERE || PathIsRelativeW(folder)) return;
    IShellItem* item = nullptr;
    if (SUCCEEDED(SHCreateItemFromParsingName(folder, nullptr, IID_IShellItem, (void**)&item))) {
        if (start == PICKER_START_HERE)
            dialog->SetFolder(item);
        else
            dialog->SetDefaultFolder(item);
        item->Release();
    }
}

int PickPath(HWND owner, int folder_mode, const wchar_t* start_at, wchar_t* path_out)
{
    IFileOpenDialog* dialog = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFileOpenDialog, (void**)&dialog)))
        return 0;
    FILEOPENDIALOGOPTIONS options = 0;
    if (FAILED(dialog->GetOptions(&options))) options = 0;  // start from no options at all
    options |= FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST | (folder_mode ? FOS_PICKFOLDERS : FOS_FILEMUSTEXIST);
    dialog->SetOptions(options);
    if (folder_mode) {
        dialog->SetTitle(L"Choose a folder");
    } else {
        COMDLG_FILTERSPEC filters[2] = {
            {L"Nintendo 64 ROM (*.z64, *.v64, *.n64, *.rom, *.bin)", L"*.z64;*.v64;*.n64;*.rom;*.bin"},
            {L"All files", L"*.*"},
        };
        dialog->SetFileTypes(2, filters);
        dialog->SetTitle(L"Choose your Torrentine ROM");
    }

    StartAt(dialog, folder_mode, start_at);

    int result = 0;
    IShellItem* item = nullptr;
    if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&item))) {
        PWSTR name = nullptr;
        if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &name))) {
            // Whole or not at all: a path too long for the request is shown whole and
            // refused by the validation, never cut into the name of another folder.
            result = FormatText(path_out, SETUP_JOIN_UNITS, L"%s", name) >= 0;
            CoTaskMemFree(name);
        }
        item->Release();
    }
    dialog->Release();
    return result;
}
