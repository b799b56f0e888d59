#include "tray/SelfUpdate.h"

#include <windows.h>

#include <string>

#include "app/ModCommon.h"
#include "catalogue/Catalogue.h"
#include "catalogue/Check.h"
#include "dialog/frmmess.h"
#include "ftp/cFTP.h"
#include "ftp/modFTP.h"
#include "settings/cInifile.h"
#include "tray/frmtray.h"

using namespace ModCommon;

namespace {

constexpr char settingsFile[] = "VORK.ini";
constexpr char versionSection[] = "CONFIG";
constexpr char versionKey[] = "ver";

std::string tmpFolder() {
    return dataPath + "tmp";
}
std::string newProgramPath() {
    return tmpFolder() + "\\" + SelfUpdate::programFileName;
}

// The server's version text. Whether the settings file came is not asked:
// whatever local copy is there afterwards is read ("" without one). Without
// a session (pending messages may have dropped it) nothing is fetched.
std::string serverVersion(cFTP* ftp) {
    if (ftp)
        ftp->SimpleFTPGetFile(dataPath + settingsFile, settingsFile);
    cInifile ini;
    ini.setPath(dataPath + settingsFile);
    ini.setSection(versionSection);
    ini.setKey(versionKey);
    return ini.Value();
}

// Fetches the new program into data\tmp. Only a whole, runnable program
// counts as fetched; anything else is removed, so "Update" can never hand
// the updater a broken file.
bool fetchNewProgram(cFTP* ftp) {
    const std::string local = newProgramPath();
    if (fileExists(local, false))
        fileSystem.DeleteFile(local);
    ensureFolder(tmpFolder());
    if (ftp && ftp->SimpleFTPGetFile(local, SelfUpdate::programFileName) &&
        SelfUpdate::isWholeProgram(local, ftp->GetFTPFileSize(SelfUpdate::programFileName)))
        return true;
    fileSystem.DeleteFile(local);
    return false;
}

void offerUpdate(const std::string& sVersion) {
    doEvents();
    showMessageDialog("Quillora " + sVersion + " is available.\n\nPlease click 'Update' to continue.", "", "",
                      "Update");
}

}  // namespace

void frmtray::systemUpdate() {
    // Asked before connecting: a new connection would replace the session
    // that the running check or download is using (and is refused during a
    // download, which would read as "no connection").
    if (checkRunning || transferBusy)
        return;
    modFTP::connectToServer();
    if (!isConnected || !mFTP) {
        showNoConnection();
        return;
    }
    showMessageDialog("Checking for Quillora updates...", "", "", "");
    doEvents();
    const std::string ver = serverVersion(mFTP.get());
    if (ver == programVersion) {
        showMessageDialog("No new version available.", "", "", "OK");
        return;
    }
    showMessageDialog("Getting Quillora updates...", "", "", "");
    doEvents();
    if (fetchNewProgram(mFTP.get()))
        offerUpdate(ver);
    else
        showMessageDialog("A problem occured whilst updating.", "", "", "OK");
}

bool frmtray::autoSystemUpdate() {
    if (!isConnected) {
        modFTP::connectToServer();
        if (!isConnected)
            return false;
    }
    if (isFirstRun)
        return false;
    const std::string ver = serverVersion(mFTP.get());
    if (ver == programVersion || !fetchNewProgram(mFTP.get()))
        return false;
    offerUpdate(ver);
    return true;
}
