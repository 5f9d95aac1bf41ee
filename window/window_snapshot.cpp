#include <windows.h>

#include "base/command_line.h"
#include "formats/bitmap_file.h"
#include "window/setup_window.h"

#define SNAPSHOT_SETTLE_MS 600

static void Settle(void)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < SNAPSHOT_SETTLE_MS) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        Sleep(10);
    }
}

int RunWindowSnapshot(HWND window, int width, int height, const wchar_t* bitmap_path, int argc,
                      wchar_t** argv)
{
    const wchar_t* rom = OptionValue(argc, argv, L"/rom");
    const wchar_t* dir = OptionValue(argc, argv, L"/dir");
    if (dir) SetDlgItemTextW(window, ID_FOLDER_BOX, dir);
    if (rom) SetDlgItemTextW(window, ID_ROM_BOX, rom);
    ValidateInputs(window);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
    Settle();

    HDC window_dc = GetWindowDC(window);
    HDC memory_dc = CreateCompatibleDC(window_dc);
    HBITMAP bitmap = CreateCompatibleBitmap(window_dc, width, height);
    SelectObject(memory_dc, bitmap);
    PrintWindow(window, memory_dc, PW_RENDERFULLCONTENT);

    uint8_t headers[BITMAP_HEADERS_BYTES];
    FillBitmapHeaders(headers, width, height);
    uint32_t image_bytes = BitmapRowStride(width) * (uint32_t)height;
    // Zeroed, so that row padding is written as zero bytes.
    uint8_t* pixels = (uint8_t*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, image_bytes);
    if (!pixels) return 0;  // nothing to write: no file rather than a broken one
    BITMAPINFO info;
    ZeroMemory(&info, sizeof info);
    CopyMemory(&info.bmiHeader, headers + 14, 40);
    GetDIBits(memory_dc, bitmap, 0, (UINT)height, pixels, &info, DIB_RGB_COLORS);
    CopyMemory(headers + 14, &info.bmiHeader, 40);

    HANDLE file = CreateFileW(bitmap_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, headers, 14, &written, nullptr);
        WriteFile(file, headers + 14, 40, &written, nullptr);
        WriteFile(file, pixels, image_bytes, &written, nullptr);
        CloseHandle(file);
    }
    return 0;
}
