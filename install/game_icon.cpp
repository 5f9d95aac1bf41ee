#include "install/game_icon.h"

#include <windows.h>

#include "base/file_compare.h"
#include "base/file_helpers.h"
#include "base/file_replacement.h"
#include "base/setup_state.h"
#include "base/text_format.h"
#include "formats/icon_images.h"
#include "formats/image_signature.h"
#include "install/install_worker.h"

struct ResourceIdList {
    struct {
        uint16_t id;
        uint16_t language;
    } entries[ICON_OLD_RESOURCES_MAX];
    int count;
};

// A resource the update keeps: type and name are integer ids or heap copies of strings.
struct KeptResource {
    wchar_t* type;
    wchar_t* name;
    WORD language;
    void* data;
    DWORD bytes;
};

// What the executable holds before its icons are replaced: the integer-named icons and
// groups (whose first group language the new icons take) and a copy of everything else.
struct ExecutableResources {
    ResourceIdList icons;
    ResourceIdList groups;
    KeptResource* kept;
    int kept_count;
    int kept_capacity;
    int complete;  // 0 when something could not be copied: the update is then not made
    HMODULE module;
};

static wchar_t* CopyResourceName(LPCWSTR name)
{
    if (IS_INTRESOURCE(name)) return (wchar_t*)name;
    size_t units = lstrlenW(name) + 1;
    wchar_t* copy = (wchar_t*)HeapAlloc(GetProcessHeap(), 0, units * sizeof(wchar_t));
    if (copy) CopyMemory(copy, name, units * sizeof(wchar_t));
    return copy;
}

static void FreeResourceName(wchar_t* name)
{
    if (name && !IS_INTRESOURCE(name)) HeapFree(GetProcessHeap(), 0, name);
}

static int IsIconType(LPCWSTR type) { return type == RT_ICON || type == RT_GROUP_ICON; }

static void KeepResource(ExecutableResources* all, LPCWSTR type, LPCWSTR name, WORD language)
{
    HANDLE heap = GetProcessHeap();
    if (all->kept_count == all->kept_capacity) {
        int capacity = all->kept_capacity ? all->kept_capacity * 2 : 32;
        void* grown = all->kept ? HeapReAlloc(heap, 0, all->kept, capacity * sizeof(KeptResource))
                                : HeapAlloc(heap, 0, capacity * sizeof(KeptResource));
        if (!grown) {
            all->complete = 0;
            return;
        }
        all->kept = (KeptResource*)grown;
        all->kept_capacity = capacity;
    }
    HRSRC found = FindResourceExW(all->module, type, name, language);
    HGLOBAL loaded = found ? LoadResource(all->module, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    DWORD size = found ? SizeofResource(all->module, found) : 0;
    KeptResource* item = &all->kept[all->kept_count];
    item->type = CopyResourceName(type);
    item->name = CopyResourceName(name);
    item->language = language;
    item->bytes = size;
    item->data = HeapAlloc(heap, 0, size ? size : 1);
    if (!item->type || !item->name || !item->data || (size && !bytes)) {
        FreeResourceName(item->type);
        FreeResourceName(item->name);
        if (item->data) HeapFree(heap, 0, item->data);
        all->complete = 0;
        return;
    }
    if (size) CopyMemory(item->data, bytes, size);
    all->kept_count++;
}

static BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR type, LPCWSTR name, WORD language,
                                     LONG_PTR param)
{
    ExecutableResources* all = (ExecutableResources*)param;
    if (IsIconType(type) && IS_INTRESOURCE(name)) {
        ResourceIdList* list = type == RT_ICON ? &all->icons : &all->groups;
        if (list->count < ICON_OLD_RESOURCES_MAX) {
            list->entries[list->count].id = (uint16_t)(ULONG_PTR)name;
            list->entries[list->count].language = language;
            list->count++;
        }
    } else {
        KeepResource(all, type, name, language);  // string-named icons are kept too
    }
    return TRUE;
}

static BOOL CALLBACK CollectName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param)
{
    EnumResourceLanguagesW(module, type, name, CollectLanguage, param);
    return TRUE;
}

static BOOL CALLBACK CollectType(HMODULE module, LPWSTR type, LONG_PTR param)
{
    EnumResourceNamesW(module, type, CollectName, param);
    return TRUE;
}

static int ReadExecutableResources(const wchar_t* executable, ExecutableResources* all)
{
    ZeroMemory(all, sizeof *all);
    all->complete = 1;
    all->module = LoadLibraryExW(executable, nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!all->module) return 0;
    EnumResourceTypesW(all->module, CollectType, (LONG_PTR)all);
    FreeLibrary(all->module);  // the file stays in use until then
    all->module = nullptr;
    return 1;
}

static void FreeExecutableResources(ExecutableResources* all)
{
    HANDLE heap = GetProcessHeap();
    for (int i = 0; i < all->kept_count; i++) {
        FreeResourceName(all->kept[i].type);
        FreeResourceName(all->kept[i].name);
        HeapFree(heap, 0, all->kept[i].data);
    }
    if (all->kept) HeapFree(heap, 0, all->kept);
    all->kept = nullptr;
    all->kept_count = 0;
}

// The file is made whole in memory and written as a new file, so an existing icon file
// that is a link is replaced rather than written through.
static void WriteIconFile(const wchar_t* install_folder, uint8_t* const images[ICON_IMAGE_COUNT],
                          const uint32_t image_bytes[ICON_IMAGE_COUNT])
{
    wchar_t path[SETUP_JOIN_UNITS];
    JoinPath(path, SETUP_JOIN_UNITS, install_folder, ICON_FILE_NAME);
    uint32_t total = ICON_FILE_HEADER_BYTES;
    for (int k = 0; k < ICON_IMAGE_COUNT; k++) total += image_bytes[k];
    HANDLE heap = GetProcessHeap();
    uint8_t* file = (uint8_t*)HeapAlloc(heap, 0, total);
    if (!file) return;  // the icon file does not decide the result
    FillIconFileHeader(file, image_bytes);
    uint32_t at = ICON_FILE_HEADER_BYTES;
    for (int k = 0; k < ICON_IMAGE_COUNT; k++) {
        CopyMemory(file + at, images[k], image_bytes[k]);
        at += image_bytes[k];
    }
    // An update that finds it already right leaves it alone.
    if (!FileInFolderHolds(install_folder, ICON_FILE_NAME, file, total, nullptr)) WriteWholeFileAsNew(path, file, total);
    HeapFree(heap, 0, file);
}

// The old icons go in every language and the new ones come in as a whole, or nothing
// changes. Deleting a resource with UpdateResourceW and no data does nothing under Wine,
// so the update starts from an empty resource section and puts every other resource back.
static int ReplaceIconResources(const wchar_t* executable, uint8_t* const images[ICON_IMAGE_COUNT],
                                const uint32_t image_bytes[ICON_IMAGE_COUNT])
{
    ExecutableResources all;
    int listed = ReadExecutableResources(executable, &all);
    WORD language = all.groups.count > 0 ? all.groups.entries[0].language : 1033;
    int ok = !listed || all.complete;

    HANDLE update = ok ? BeginUpdateResourceW(executable, listed) : nullptr;
    if (!update) {
        FreeExecutableResources(&all);
        return 0;
    }
    for (int i = 0; i < all.kept_count; i++) {
        KeptResource* item = &all.kept[i];
        if (!UpdateResourceW(update, item->type, item->name, item->language, item->data,
                             item->bytes))
            ok = 0;
    }
    for (int k = 0; k < ICON_IMAGE_COUNT; k++)
        if (!UpdateResourceW(update, RT_ICON, MAKEINTRESOURCEW(k + 1), language, images[k],
                             image_bytes[k]))
            ok = 0;
    uint8_t group[ICON_GROUP_BYTES];
    FillIconGroupRecord(group, image_bytes);
    if (!UpdateResourceW(update, RT_GROUP_ICON, MAKEINTRESOURCEW(1), language, group, sizeof group))
        ok = 0;
    BOOL committed = EndUpdateResourceW(update, !ok);
    FreeExecutableResources(&all);
    return ok && committed;
}

int BuildIconImages(GameIconImages* icon, const uint8_t* rom_image, uint32_t rom_length)
{
    if (!rom_image || rom_length < ICON_PICTURE_END) {
        ZeroMemory(icon, sizeof *icon);
        return 0;
    }
    return BuildIconImagesFromPicture(icon, rom_image + ICON_PICTURE_OFFSET);
}

int BuildIconImagesFromPicture(GameIconImages* icon, const uint8_t* picture)
{
    ZeroMemory(icon, sizeof *icon);
    if (!picture) return 0;

    HANDLE heap = GetProcessHeap();
    uint8_t* canvas = (uint8_t*)HeapAlloc(heap, HEAP_ZERO_MEMORY, ICON_CANVAS_BYTES);
    if (!canvas) return 0;
    CopyPictureToCanvas(picture, canvas);

    uint8_t* work = (uint8_t*)HeapAlloc(heap, 0, ICON_WORK_BYTES);
    int complete = work != nullptr;
    for (int k = 0; work && k < ICON_IMAGE_COUNT; k++) {
        int size = ICON_SIZES[k];
        ResampleRgba(canvas, ICON_CANVAS_SIZE, ICON_CANVAS_SIZE, work, size, size);
        icon->image_bytes[k] = IconImageBytes(size);
        icon->images[k] = (uint8_t*)HeapAlloc(heap, HEAP_ZERO_MEMORY, icon->image_bytes[k]);
        if (icon->images[k])
            FillIconImage(icon->images[k], size, work);
        else
            complete = 0;
    }
    if (work) HeapFree(heap, 0, work);
    HeapFree(heap, 0, canvas);
    if (!complete) FreeIconImages(icon);
    icon->complete = complete;
    return complete;
}

void FreeIconImages(GameIconImages* icon)
{
    for (int k = 0; k < ICON_IMAGE_COUNT; k++)
        if (icon->images[k]) HeapFree(GetProcessHeap(), 0, icon->images[k]);
    ZeroMemory(icon, sizeof *icon);
}

// A signed game executable stays byte for byte as packaged: an icon written into it would
// break its signature, and Windows may block an unsigned program whose hash it has not seen
// before, with no way to run it anyway. The shortcuts and the entry use the icon file.
static int GameExecutableIsSigned(const wchar_t* install_folder)
{
    uint8_t headers[SIGNATURE_HEADER_BYTES];
    int count = ReadFileInFolder(install_folder, GAME_EXE_NAME, headers, sizeof headers);
    return count > 0 && CarriesCertificateTable(headers, (uint32_t)count);
}

int StoreGameIcon(const wchar_t* install_folder, const GameIconImages* icon)
{
    if (!icon->complete) return 0;
    WriteIconFile(install_folder, icon->images, icon->image_bytes);
    if (icon->executable_written || GameExecutableIsSigned(install_folder)) return 1;
    wchar_t executable[SETUP_JOIN_UNITS];
    JoinPath(executable, SETUP_JOIN_UNITS, install_folder, GAME_EXE_NAME);
    return ReplaceIconResources(executable, icon->images, icon->image_bytes);
}

int BuildGameIcon(const wchar_t* install_folder, const uint8_t* rom_image, uint32_t rom_length)
{
    GameIconImages icon;
    BuildIconImages(&icon, rom_image, rom_length);
    int result = StoreGameIcon(install_folder, &icon);
    FreeIconImages(&icon);
    return result;
}
