// Module PVQInst: the setup program's entry point.
//
// Until the driver is in place, the program checks that every resource the
// setup needs is inside it, and says so: one message box listing what is
// missing (exit code 1) or confirming that all is there (exit code 0).
#include <windows.h>

#include <string>

#include "Profile.h"
#include "resource.h"

namespace {

struct TResourceCheck {
    const char* name;  // string name, or MAKEINTRESOURCEA(number)
    const char* type;  // RT_... or a custom type name
    const char* label; // how the report names it
};

const TResourceCheck kRequiredResources[] = {
    {IDI_MAINICON, MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */, "icon MAINICON"},
    {MAKEINTRESOURCEA(IDI_DESTINATION), MAKEINTRESOURCEA(14), "icon 2"},
    {MAKEINTRESOURCEA(IDI_SETUP), MAKEINTRESOURCEA(14), "icon 3"},
    {MAKEINTRESOURCEA(IDI_INFO), MAKEINTRESOURCEA(14), "icon 4"},
    {MAKEINTRESOURCEA(IDI_LICENCE), MAKEINTRESOURCEA(14), "icon 5"},
    {MAKEINTRESOURCEA(IDI_FOLDER), MAKEINTRESOURCEA(14), "icon 1001"},
    {MAKEINTRESOURCEA(IDI_PRODUCT_FOLDER), MAKEINTRESOURCEA(14), "icon 1002"},
    {MAKEINTRESOURCEA(IDI_OPEN_FOLDER), MAKEINTRESOURCEA(14), "icon 1003"},
    {MAKEINTRESOURCEA(IDI_DRIVE_CDROM), MAKEINTRESOURCEA(14), "icon 1101"},
    {MAKEINTRESOURCEA(IDI_DRIVE_REMOVABLE), MAKEINTRESOURCEA(14), "icon 1102"},
    {MAKEINTRESOURCEA(IDI_DRIVE_FIXED), MAKEINTRESOURCEA(14), "icon 1103"},
    {MAKEINTRESOURCEA(IDI_DRIVE_NETWORK), MAKEINTRESOURCEA(14), "icon 1104"},
    {IDB_BACKGRND, MAKEINTRESOURCEA(2) /* RT_BITMAP */, "bitmap BACKGRND"},
    {IDB_PVQUITE, MAKEINTRESOURCEA(2), "bitmap PVQUITE"},
    {MAKEINTRESOURCEA(103), MAKEINTRESOURCEA(2), "slide 103"},
    {MAKEINTRESOURCEA(104), MAKEINTRESOURCEA(2), "slide 104"},
    {MAKEINTRESOURCEA(105), MAKEINTRESOURCEA(2), "slide 105"},
    {MAKEINTRESOURCEA(106), MAKEINTRESOURCEA(2), "slide 106"},
    {MAKEINTRESOURCEA(107), MAKEINTRESOURCEA(2), "slide 107"},
    {MAKEINTRESOURCEA(108), MAKEINTRESOURCEA(2), "slide 108"},
    {IDW_WELCOME, RT_WAVE_NAME, "sound WELCOME"},
    {IDW_WAIT, RT_WAVE_NAME, "sound WAIT"},
    {IDW_FINISHED, RT_WAVE_NAME, "sound FINISHED"},
    {IDW_HIGHERVERSION, RT_WAVE_NAME, "sound HIGHERVERSIONOFWINDOWSREQUIRED"},
    {IDR_MUSIC, MAKEINTRESOURCEA(10) /* RT_RCDATA */, "music"},
    {MAKEINTRESOURCEA(IDD_FOLDERBROWSER), MAKEINTRESOURCEA(5) /* RT_DIALOG */, "dialog 100"},
    {MAKEINTRESOURCEA(IDD_MAINPAGE), MAKEINTRESOURCEA(5), "dialog 200"},
    {MAKEINTRESOURCEA(IDD_LICENCEPAGE), MAKEINTRESOURCEA(5), "dialog 400"},
    {MAKEINTRESOURCEA(IDD_FINISHPAGE), MAKEINTRESOURCEA(5), "dialog 500"},
    {MAKEINTRESOURCEA(IDD_STATUS), MAKEINTRESOURCEA(5), "dialog 600"},
    {MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16) /* RT_VERSION */, "version"},
    {MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24) /* RT_MANIFEST */, "manifest"},
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    std::string missing;
    for (const TResourceCheck& check : kRequiredResources) {
        if (FindResourceA(instance, check.name, check.type) == nullptr) {
            missing += "\r";
            missing += check.label;
        }
    }
    HRSRC music = FindResourceA(instance, IDR_MUSIC, MAKEINTRESOURCEA(10));
    if (music != nullptr && SizeofResource(instance, music) != kMusicSize)
        missing += "\rmusic of the expected size";

    if (!missing.empty()) {
        std::string text = "This setup program is incomplete; missing:" + missing;
        MessageBoxA(nullptr, text.c_str(), kSetupWindowTitle, MB_OK | MB_ICONERROR);
        return 1;
    }
    MessageBoxA(nullptr, "Every resource of the setup is present.", kSetupWindowTitle,
                MB_OK | MB_ICONINFORMATION);
    return 0;
}
