#include <windows.h>
#include <shobjidl.h>

#include "base/setup_state.h"
#include "base/text_format.h"
#include "window/setup_window.h"

int PickPath(HWND owner, int folder_mode, wchar_t* path_out)
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
