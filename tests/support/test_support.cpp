#include "tests/support/test_support.h"

#include <shlobj.h>

std::wstring WindowsPath(const wchar_t* path)
{
    std::wstring text = path;
    for (wchar_t& c : text)
        if (c == L'/') c = L'\\';
    return text;
}

std::wstring FixturePath(const wchar_t* name)
{
    return WindowsPath(TEST_WIDEN(TORRENTINE_TEST_FIXTURES)) + L"\\" + name;
}

// Not in the temporary folder: setup refuses to install anywhere inside it, since other
// programs share it.
#define SCRATCH_ROOT L"C:\\tn-scratch\\"

std::wstring MakeScratchFolder(const wchar_t* label)
{
    static int counter = 0;
    CreateDirectoryW(SCRATCH_ROOT, nullptr);
    wchar_t folder[MAX_PATH];
    for (;;) {
        _snwprintf(folder, MAX_PATH, L"%lstn-%ls-%lu-%d", SCRATCH_ROOT, label,
                   (unsigned long)GetCurrentProcessId(), ++counter);
        if (CreateDirectoryW(folder, nullptr)) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    return folder;
}

static void RemoveBelow(const std::wstring& folder)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                RemoveBelow(path);
            else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryW(path.c_str());
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

std::wstring UnixPath(const std::wstring& windows_path)
{
    typedef char*(__cdecl * ToUnix)(const wchar_t*);
    ToUnix to_unix = (ToUnix)(void*)GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                  "wine_get_unix_file_name");
    if (!to_unix) return L"";
    char* unix_path = to_unix(windows_path.c_str());
    if (!unix_path) return L"";
    std::string path = unix_path;
    HeapFree(GetProcessHeap(), 0, unix_path);
    int units = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), (int)path.size(), nullptr, 0);
    std::wstring wide((size_t)units, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), (int)path.size(), &wide[0], units);
    return wide;
}

// Wine's handle on a host program does not wait for it to end, so the command runs from a
// script that ends by making a marker file, and the marker is waited for.
bool RunHostCommand(const wchar_t* program, const std::wstring& arguments)
{
    static int runs = 0;
    wchar_t temp[MAX_PATH];
    DWORD units = GetTempPathW(MAX_PATH, temp);
    if (units == 0 || units >= MAX_PATH) return false;
    std::wstring unix_temp = UnixPath(temp);
    if (unix_temp.empty()) return false;
    if (unix_temp.back() != L'/') unix_temp += L'/';
    std::wstring name = L"tn-host-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(++runs);
    std::wstring script = std::wstring(temp) + name + L".sh", marker = std::wstring(temp) + name + L".done";
    std::string text = "/bin/" + Utf8(program) + " " + Utf8(arguments) + "\n: > '" +
                       Utf8(unix_temp + name) + ".done'\n";
    if (!WriteText(script, text.c_str())) return false;
    std::wstring sh = L"Z:\\bin\\sh";
    std::wstring command = sh + L" \"" + unix_temp + name + L".sh\"";
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    bool done = false;
    if (CreateProcessW(sh.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        DWORD start = GetTickCount();
        while (!(done = GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES) &&
               GetTickCount() - start < 120000)
            Sleep(20);
    }
    DeleteFileW(marker.c_str());
    DeleteFileW(script.c_str());
    return done;
}

// The host's rm on the folder's Unix path: it removes links as links, and names past the
// join limit.
static void RemoveWithHostTools(const std::wstring& folder)
{
    std::wstring path = UnixPath(folder);
    if (path.size() < 8 || path.find(L'"') != std::wstring::npos) return;
    RunHostCommand(L"rm", L"-rf \"" + path + L"\"");
    for (int i = 0; i < 100 && GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES; i++)
        Sleep(20);
}

// Under Wine, DeleteFileW and RemoveDirectoryW act on a link's target, so the host's rm,
// which never follows links, goes first; Win32 only where there is no host.
void RemoveScratchFolder(const std::wstring& folder)
{
    if (folder.size() <= 3) return;
    RemoveWithHostTools(folder);
    if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) RemoveBelow(folder);
}

bool WriteBytes(const std::wstring& path, const void* data, size_t count)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, data, (DWORD)count, &written, nullptr);
    CloseHandle(file);
    return ok && written == count;
}

bool WriteText(const std::wstring& path, const char* text)
{
    return WriteBytes(path, text, strlen(text));
}

std::vector<uint8_t> ReadBytes(const std::wstring& path)
{
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    LARGE_INTEGER size;
    if (GetFileSizeEx(file, &size)) {
        bytes.resize((size_t)size.QuadPart);
        DWORD got = 0;
        if (!bytes.empty() && (!ReadFile(file, bytes.data(), (DWORD)bytes.size(), &got, nullptr) ||
                               got != bytes.size()))
            bytes.clear();
    }
    CloseHandle(file);
    return bytes;
}

bool FileExists(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string Utf8(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0,
                                nullptr, nullptr);
    std::string out((size_t)n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &out[0], n, nullptr, nullptr);
    return out;
}

bool HasSmallDrive()
{
    ULARGE_INTEGER available, total;
    return GetDiskFreeSpaceExW(L"T:\\", &available, &total, nullptr) && total.QuadPart < (64u << 20);
}
