// tolv: the tray-resident client. The entry routine prepares the process and
// returns into the message loop; the tray form's timers drive the rest.
#include <windows.h>

#include "base/Handles.h"
#include "base/ModCommon.h"
#include "app/StartUp.h"
#include "tray/frmtray.h"

using namespace ModCommon;
using namespace StartUp;

namespace {

// "Local\\": one instance per logon session; another user's copy is theirs.
constexpr char kInstanceMutex[] = "Local\\Quillora.tolv";
constexpr DWORD kFindFirstMs = 5000;

// The running copy opens its library window itself: only it may take the
// foreground. Its tray window may still be coming up, so it is waited for.
void bringFirstInstanceForward() {
    const ULONGLONG until = GetTickCount64() + kFindFirstMs;
    for (;;) {
        if (HWND tray = FindWindowA(frmtray::className, nullptr)) {
            DWORD pid = 0;
            GetWindowThreadProcessId(tray, &pid);
            AllowSetForegroundWindow(pid);
            PostMessageA(tray, frmtray::showLibraryMessage(), 0, 0);
            return;
        }
        if (GetTickCount64() >= until)
            return;
        Sleep(100);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Two copies would share data\, the local catalogue and the download's
    // temporary name.
    AutoHandle instance(CreateMutexA(nullptr, FALSE, kInstanceMutex));
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        bringFirstInstanceForward();
        return 0;
    }
    shellLibraryHandle = LoadLibraryA("shell32.dll");
    initCommonControls();
    createLibraryFolders();
    frmtray::setExitRoutine(exitProgram);
    frmtray::instance();
    checkFirstRun();
    isExiting = false;

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        dispatchMessage(msg);
    return 0;
}
