// The floors' way of reading a file: one read of the whole file into a freshly allocated
// buffer (freed with HeapFree). Null when the file cannot be opened, is larger than
// max_bytes or cannot be read whole.
#pragma once
#include <windows.h>
#include <stdint.h>

static inline uint8_t* ReadWholeFile(const wchar_t* path, DWORD max_bytes, DWORD* bytes)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER size;
    uint8_t* buffer = nullptr;
    if (GetFileSizeEx(file, &size) && size.QuadPart <= max_bytes) {
        *bytes = (DWORD)size.QuadPart;
        buffer = (uint8_t*)HeapAlloc(GetProcessHeap(), 0, *bytes ? *bytes : 1);
        DWORD read = 0;
        if (buffer && (!ReadFile(file, buffer, *bytes, &read, nullptr) || read != *bytes)) {
            HeapFree(GetProcessHeap(), 0, buffer);
            buffer = nullptr;
        }
    }
    CloseHandle(file);
    return buffer;
}
