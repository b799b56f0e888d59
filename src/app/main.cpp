// tolv: the tray-resident client. The entry routine prepares the process and
// returns into the message loop; the tray form's timers drive the rest.
#include <windows.h>

#include "app/ModCommon.h"
#include "dialog/frmmess.h"
#include "tray/frmtray.h"

using namespace ModCommon;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    shellLibraryHandle = LoadLibraryA("shell32.dll");
    initCommonControls();
    createLibraryFolders();
    frmtray::instance();
    checkFirstRun();
    lastCheckTime = dateToText(nowAsDate());
    isExiting = false;
    doEvents();

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (frmmess::exists() && IsDialogMessageA(frmmess::instance().hwnd(), &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
