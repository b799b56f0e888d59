// The start-up steps and the orderly stop.
#include <windows.h>
#include <commctrl.h>

#include "app/ModCommon.h"
#include "dialog/frmmess.h"
#include "ftp/cFTP.h"
#include "ftp/modFTP.h"
#include "library/frmmain.h"
#include "tray/frmtray.h"
#include "work/Work.h"

namespace ModCommon {

namespace {

std::function<void(UINT)>& processEnd() {
    static std::function<void(UINT)> fn = [](UINT code) { ExitProcess(code); };
    return fn;
}

void ensureFolder(const std::string& sPath) {
    if (!fileSystem.FolderExists(sPath))
        fileSystem.CreateFolder(sPath);
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
    ensureFolder(folder + "\\My Magazines");
    ensureFolder(folder + "\\My Torrents");
    Work::removeLeftovers();
    Work::checkDone = false;
}

void exitProgram() {
    if (modFTP::transferBusy || isExiting)
        return;
    isExiting = true;
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
    if (frmmess::exists()) {
        frmmess::instance().hide();
        frmmess::unload();
        doEvents();
    }
    if (frmmain::exists()) {
        ShowWindow(frmmain::instance().hwnd(), SW_HIDE);
        frmmain::unload();
        doEvents();
    }
    if (frmtray::exists()) {
        frmtray::unload();
        doEvents();
    }
    processEnd()(0);
}

}  // namespace ModCommon
