#include "install/game_icon.h"

#include <windows.h>

#include "driver/setup_state.h"
#include "driver/text_format.h"
#include "install/icon_images.h"

struct ResourceIdList {
    struct {
        uint16_t id;
        uint16_t language;
    } entries[ICON_OLD_RESOURCES_MAX];
    int count;
};

static BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR name, WORD language, LONG_PTR param)
{
    ResourceIdList* list = (ResourceIdList*)param;
    if (list->count < ICON_OLD_RESOURCES_MAX && IS_INTRESOURCE(name)) {
        list->entries[list->count].id = (uint16_t)(ULONG_PTR)name;
        list->entries[list->count].language = language;
        list->count++;
    }
    return TRUE;
}

static BOOL CALLBACK CollectName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param)
{
    EnumResourceLanguagesW(module, type, name, CollectLanguage, param);
    return TRUE;
}

static void ListOldIcons(const wchar_t* executable, ResourceIdList* icons, ResourceIdList* groups)
{
    ZeroMemory(icons, sizeof *icons);
    ZeroMemory(groups, sizeof *groups);
    HMODULE module = LoadLibraryExW(executable, nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return;
    EnumResourceNamesW(module, RT_ICON, CollectName, (LONG_PTR)icons);
    EnumResourceNamesW(module, RT_GROUP_ICON, CollectName, (LONG_PTR)groups);
    FreeLibrary(module);
}

static void WriteIconFile(const wchar_t* install_folder, uint8_t* const images[ICON_IMAGE_COUNT],
                          const uint32_t image_bytes[ICON_IMAGE_COUNT])
{
    wchar_t path[SETUP_JOIN_UNITS];
    JoinPath(path, SETUP_JOIN_UNITS, install_folder, ICON_FILE_NAME);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;  // the icon file does not decide the result
    uint8_t header[ICON_FILE_HEADER_BYTES];
    FillIconFileHeader(header, image_bytes);
    DWORD written = 0;
    WriteFile(file, header, sizeof header, &written, nullptr);
    for (int k = 0; k < ICON_IMAGE_COUNT; k++)
        WriteFile(file, images[k], image_bytes[k], &written, nullptr);
    CloseHandle(file);
}

static int ReplaceIconResources(const wchar_t* executable, uint8_t* const images[ICON_IMAGE_COUNT],
                                const uint32_t image_bytes[ICON_IMAGE_COUNT])
{
    ResourceIdList icons, groups;
    ListOldIcons(executable, &icons, &groups);
    WORD language = groups.count > 0 ? groups.entries[0].language : 1033;

    HANDLE update = BeginUpdateResourceW(executable, FALSE);
    if (!update) return 0;
    for (int i = 0; i < icons.count; i++)
        UpdateResourceW(update, RT_ICON, MAKEINTRESOURCEW(icons.entries[i].id),
                        icons.entries[i].language, nullptr, 0);
    for (int i = 0; i < groups.count; i++)
        UpdateResourceW(update, RT_GROUP_ICON, MAKEINTRESOURCEW(groups.entries[i].id),
                        groups.entries[i].language, nullptr, 0);

    int ok = 1;
    for (int k = 0; k < ICON_IMAGE_COUNT; k++)
        if (!UpdateResourceW(update, RT_ICON, MAKEINTRESOURCEW(k + 1), language, images[k],
                             image_bytes[k]))
            ok = 0;
    uint8_t group[ICON_GROUP_BYTES];
    FillIconGroupRecord(group, image_bytes);
    if (!UpdateResourceW(update, RT_GROUP_ICON, MAKEINTRESOURCEW(1), language, group, sizeof group))
        ok = 0;
    // All or nothing: a partial update is thrown away and the old icons stay.
    BOOL committed = EndUpdateResourceW(update, !ok);
    return ok && committed;
}

int BuildGameIcon(const wchar_t* install_folder, const uint8_t* rom_image, uint32_t rom_length)
{
    if (!rom_image || rom_length < ICON_PICTURE_END) return 0;

    HANDLE heap = GetProcessHeap();
    uint8_t* canvas = (uint8_t*)HeapAlloc(heap, HEAP_ZERO_MEMORY, ICON_CANVAS_BYTES);
    if (!canvas) return 0;
    CopyPictureToCanvas(rom_image, canvas);

    uint8_t* images[ICON_IMAGE_COUNT] = {};
    uint32_t image_bytes[ICON_IMAGE_COUNT] = {};
    uint8_t* work = (uint8_t*)HeapAlloc(heap, 0, ICON_WORK_BYTES);
    int complete = work != nullptr;
    for (int k = 0; work && k < ICON_IMAGE_COUNT; k++) {
        int size = ICON_SIZES[k];
        ResampleRgba(canvas, ICON_CANVAS_SIZE, ICON_CANVAS_SIZE, work, size, size);
        image_bytes[k] = IconImageBytes(size);
        images[k] = (uint8_t*)HeapAlloc(heap, HEAP_ZERO_MEMORY, image_bytes[k]);
        if (images[k])
            FillIconImage(images[k], size, work);
        else
            complete = 0;
    }
    if (work) HeapFree(heap, 0, work);
    HeapFree(heap, 0, canvas);

    int result = 0;
    if (complete) {
        WriteIconFile(install_folder, images, image_bytes);
        wchar_t executable[SETUP_JOIN_UNITS];
        JoinPath(executable, SETUP_JOIN_UNITS, install_folder, L"TorrentinePC.exe");
        result = ReplaceIconResources(executable, images, image_bytes);
    }
    for (int k = 0; k < ICON_IMAGE_COUNT; k++)
        if (images[k]) HeapFree(heap, 0, images[k]);
    return result;
}
