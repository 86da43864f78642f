// The application: one copy at a time, running the main window until the program ends.
#include "app/KestrelDlg.h"
#include "app/Kestrel.h"

#include "device/PhoneDevice.h"
#include "playback/win32/PlaybackWin32.h"

#include <commctrl.h>

BridgeState bridgeState;

BOOL CKestrelApp::InitInstance() {
    // A running copy owns a dialog with our title; leave it alone and end silently.
    if (FindWindowA("#32770", kMainWindowTitle) != nullptr) return FALSE;

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    InstallPlaybackPlatform();

    CKestrelDlg dlg(bridgeState);
    dlg.DoModal();
    return FALSE;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CKestrelApp app;
    app.InitInstance();
    return 0;
}
