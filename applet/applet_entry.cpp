// VEXOLITE.CPL's entry points: the DLL entry and the Control Panel's CPlApplet.
#include <windows.h>
// windows.h first: cpl.h relies on its types.
#include <cpl.h>

#include "applet_resources.h"
#include "config_dialog.h"

namespace {

HINSTANCE instanceHandle = nullptr;

// The one applet this library offers.
struct AppletRecord {
    int iconId;
    int nameId;
    int infoId;
    int dialogId;
    DLGPROC dialogProc;
};
const AppletRecord kApplet = {IDI_APPLET, IDS_APPLET_NAME, IDS_APPLET_INFO, IDD_BASE_ADDRESSES,
                              vexo::applet::ConfigDlgProc};

void DescribeApplet(NEWCPLINFOA* info) {
    info->dwSize = sizeof(NEWCPLINFOA);
    info->dwFlags = 0;
    info->dwHelpContext = 0;
    info->lData = 0;
    info->hIcon = LoadIconA(instanceHandle, MAKEINTRESOURCEA(kApplet.iconId));
    info->szHelpFile[0] = '\0';
    LoadStringA(instanceHandle, kApplet.nameId, info->szName, sizeof info->szName);
    LoadStringA(instanceHandle, kApplet.infoId, info->szInfo, sizeof info->szInfo);
}

}  // namespace

static_assert(sizeof(NEWCPLINFOA) == 244, "the Control Panel expects the 244-byte record");

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) instanceHandle = instance;
    return TRUE;
}

// The applet index in lParam1 is never looked at: there is only one applet.
extern "C" LONG APIENTRY CPlApplet(HWND hwndCPl, UINT uMsg, LPARAM /*lParam1*/, LPARAM lParam2) {
    switch (uMsg) {
        case CPL_INIT:
            return 1;
        case CPL_GETCOUNT:
            return 1;
        case CPL_DBLCLK:
            // Modal: returns when the dialog has ended, however it ended.
            DialogBoxParamA(instanceHandle, MAKEINTRESOURCEA(kApplet.dialogId), hwndCPl,
                            kApplet.dialogProc, 0);
            return 0;
        case CPL_NEWINQUIRE:
            DescribeApplet(reinterpret_cast<NEWCPLINFOA*>(lParam2));
            return 0;
        default:
            // CPL_INQUIRE, CPL_SELECT, CPL_STOP, CPL_EXIT and anything else: nothing to do.
            return 0;
    }
}
