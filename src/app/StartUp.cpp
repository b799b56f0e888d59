// The start-up steps and the orderly stop.
#include <windows.h>
#include <commctrl.h>

#include "app/StartUp.h"

#include "base/Log.h"
#include "base/ModCommon.h"
#include "dialog/frmmess.h"
#include "dialog/frmsettings.h"
#include "ftp/cFTP.h"
#include "ftp/modFTP.h"
#include "library/frmmain.h"
#include "settings/UserSettings.h"
#include "tray/frmtray.h"
#include "work/Work.h"

namespace StartUp {

using namespace ModCommon;

namespace {

std::function<void(UINT)>& processEnd() {
    static std::function<void(UINT)> fn = [](UINT code) { ExitProcess(code); };
    return fn;
}

bool ensureFolder(const std::string& sPath) {
    return fileSystem.FolderExists(sPath) || fileSystem.CreateFolder(sPath);
}

}  // namespace

void setProcessEnd(std::function<void(UINT)> fn) { processEnd() = std::move(fn); }

bool initCommonControls() {
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = 8;
    icc.dwICC = ICC_USEREX_CLASSES;
    return InitCommonControlsEx(&icc) != FALSE;
}

void createLibraryFolders() {
    const std::string& folder = programFolder();
    dataPath = folder + "\\data\\";
    Work::fileType = "pdf";
    Work::libraryFolder = "My Magazines";
    ensureFolder(folder + "\\data");
    // The library stays where the user put it, even on a drive that is not
    // there today: it is not made again somewhere else behind their back.
    setLibraryRoot(UserSettings::libraryFolder());
    if (!ensureFolder(libraryRoot() + "\\My Magazines") || !ensureFolder(libraryRoot() + "\\My Torrents"))
        Log::line("library folder not available: " + libraryRoot(), "", GetLastError());
    Work::removeLeftovers();
    Work::checkDone = false;
}

void dispatchMessage(MSG& msg) {
    if (frmmain::exists() && frmmain::instance().translateKey(msg))
        return;
    if (frmmess::exists() && IsDialogMessageA(frmmess::instance().hwnd(), &msg))
        return;
    if (frmsettings::exists() && IsDialogMessageA(frmsettings::instance().hwnd(), &msg))
        return;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

void exitProgram() {
    if (modFTP::transferBusy || isExiting)
        return;
    isExiting = true;
    // Nothing is destroyed while a call of the job is on any stack: the job
    // ends first, as a cancel ends it.
    Work::stop();
    if (shellLibraryHandle) {
        FreeLibrary(shellLibraryHandle);
        shellLibraryHandle = nullptr;
    }
    if (frmtray::exists()) {
        frmtray::instance().enableTimer(frmtray::autoTmr, false);
        frmtray::instance().enableTimer(frmtray::startTmr, false);
    }
    if (Work::isConnected && Work::session())
        Work::session()->CloseConnection();
    frmsettings::unload();
    if (frmmess::exists()) {
        frmmess::instance().hide();
        frmmess::unload();
    }
    if (frmmain::exists()) {
        frmmain::instance().keepPlace();
        ShowWindow(frmmain::instance().hwnd(), SW_HIDE);
        frmmain::unload();
    }
    if (frmtray::exists())
        frmtray::unload();
    processEnd()(0);
}

}  // namespace StartUp
