// Helpers shared by the test programs: scratch folders, whole files, fixture paths.
#pragma once
#include <stdint.h>
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#define TEST_WIDEN2(x) L##x
#define TEST_WIDEN(x) TEST_WIDEN2(x)

// A build path given with forward slashes, in Windows form.
std::wstring WindowsPath(const wchar_t* path);
// Fixture folder of the build (set by CMake), as a Windows path.
std::wstring FixturePath(const wchar_t* name);

// A new empty folder below C:\tn-scratch, unique to this process and call.
std::wstring MakeScratchFolder(const wchar_t* label);
// Removes a scratch folder and everything below it (links removed, never followed).
void RemoveScratchFolder(const std::wstring& folder);

bool WriteBytes(const std::wstring& path, const void* data, size_t count);
bool WriteText(const std::wstring& path, const char* text);
std::vector<uint8_t> ReadBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);
std::string Utf8(const std::wstring& text);
// The host's path of a Windows path (Wine only), and a host program of /bin run to its end.
std::wstring UnixPath(const std::wstring& windows_path);
bool RunHostCommand(const wchar_t* program, const std::wstring& arguments);

// The small real drive T: that the test run mounts when it may (a tmpfs of a few MiB), for
// the free-space, full-drive and other-volume tests; false when it is not there.
bool HasSmallDrive();
