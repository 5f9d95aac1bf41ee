#include <windows.h>
#include <objbase.h>
#include <oleacc.h>
#include <wchar.h>

#include "window/setup_window.h"

// The identifiers of oleacc.h and of UI Automation's LiveSetting, spelled out here so that
// the program needs neither library: the annotation service comes through COM.
static const GUID ACC_PROP_SERVICES = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
static const GUID ACC_PROP_SERVICES_INTERFACE = {0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
static const GUID NAME_PROPERTY = {0x608d3df8, 0x8128, 0x4aa7, {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}};
static const GUID LIVE_SETTING_PROPERTY = {0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
#define LIVE_SETTING_POLITE 1

// The edit boxes need nothing: a screen reader names a box after the label right before it
// ("1.  Your ROM", "2.  Install to"), and the check boxes and buttons after their texts.
// Two buttons read "Browse...", and the progress bar would take the verdict's text as its
// name (the line before it): these get names of their own, which keep the visible word
// first. Windows' direct annotation does it; Wine's oleacc does not implement it.
void DescribeControlsForScreenReaders(HWND window)
{
    IAccPropServices* services = nullptr;
    if (FAILED(CoCreateInstance(ACC_PROP_SERVICES, nullptr, CLSCTX_INPROC_SERVER,
                                ACC_PROP_SERVICES_INTERFACE, (void**)&services)))
        return;
    struct Name {
        int id;
        const wchar_t* name;
    };
    static const Name names[] = {{ID_ROM_BROWSE, L"Browse for your ROM file"},
                                 {ID_FOLDER_BROWSE, L"Browse for the install folder"},
                                 {ID_PROGRESS, L"Installation progress"}};
    for (const Name& n : names)
        services->SetHwndPropStr(GetDlgItem(window, n.id), (DWORD)OBJID_CLIENT, CHILDID_SELF,
                                 NAME_PROPERTY, n.name);
    // The verdict and the status lines change while the player looks elsewhere (at the box
    // being typed in): polite live regions are read out once the reader has finished.
    VARIANT polite;
    VariantInit(&polite);
    polite.vt = VT_I4;
    polite.lVal = LIVE_SETTING_POLITE;
    static const int lines[] = {ID_VERDICT, ID_MESSAGE};
    for (int id : lines)
        services->SetHwndProp(GetDlgItem(window, id), (DWORD)OBJID_CLIENT, CHILDID_SELF,
                              LIVE_SETTING_PROPERTY, polite);
    services->Release();
}

void SetAnnouncedText(HWND window, int id, const wchar_t* text)
{
    HWND line = GetDlgItem(window, id);
    wchar_t shown[1024];
    shown[0] = L'\0';
    GetWindowTextW(line, shown, 1024);
    // The same verdict again (each validation writes one) is no news to a listener.
    if (wcscmp(shown, text) == 0) return;
    SetWindowTextW(line, text);
    NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, line, OBJID_CLIENT, CHILDID_SELF);
}
