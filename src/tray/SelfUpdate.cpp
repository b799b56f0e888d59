#include "tray/SelfUpdate.h"

#include <windows.h>

#include <string>

#include "app/ModCommon.h"
#include "app/Work.h"
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

// The fetch lands under this name and is renamed only once checked, so the
// updater's file is never a half-written or unchecked one.
constexpr char stagingSuffix[] = ".part";

std::string tmpFolder() { return dataPath + "tmp"; }

// The server's version text. Whether the settings file came is not asked:
// whatever local copy is there afterwards is read ("" without one). Without
// a session nothing is fetched.
std::string serverVersion(cFTP* ftp) {
    if (ftp)
        ftp->SimpleFTPGetFile(dataPath + settingsFile, settingsFile);
    cInifile ini;
    ini.setPath(dataPath + settingsFile);
    ini.setSection(versionSection);
    ini.setKey(versionKey);
    return ini.Value();
}

void deleteIfPresent(const std::string& sPath) {
    if (fileExists(sPath, false))
        fileSystem.DeleteFile(sPath);
}

// Fetches the new program into data\tmp. Only a whole, acceptable program
// counts as fetched; anything else is removed (an older staged one too), so
// "Update" can never hand the updater a broken file.
bool fetchNewProgram(cFTP* ftp) {
    const std::string local = SelfUpdate::stagedProgramPath();
    const std::string staging = local + stagingSuffix;
    deleteIfPresent(staging);
    ensureFolder(tmpFolder());
    SelfUpdate::stagedProgramSize = -1;
    const int64_t size = ftp ? ftp->GetFTPFileSize(SelfUpdate::programFileName) : -1;
    if (ftp && ftp->SimpleFTPGetFile(staging, SelfUpdate::programFileName) &&
        SelfUpdate::isAcceptableProgram(staging, size) && fileSystem.MoveFile(staging, local, true)) {
        SelfUpdate::stagedProgramSize = size;
        return true;
    }
    deleteIfPresent(staging);
    deleteIfPresent(local);
    return false;
}

void offerUpdate(const std::string& sVersion) {
    doEvents();
    showMessageDialog("Quillora " + sVersion + " is available.\n\nPlease click 'Update' to continue.", "", "",
                      "Update");
}

}  // namespace

std::string SelfUpdate::stagedProgramPath() { return tmpFolder() + "\\" + programFileName; }

bool SelfUpdate::isAcceptableProgram(const std::string& sPath, int64_t llServerSize) {
    return isWholeProgram(sPath, llServerSize);
}

bool frmtray::updateOfferOpen() const {
    return frmmess::exists() && frmmess::instance().visible() && frmmess::instance().offersUpdate();
}

void frmtray::systemUpdate() {
    // Asked before connecting: a new connection would replace the session
    // that the running check or download is using.
    Work::Running run(Work::Job::Update);
    if (!run)
        return;
    run.connect();
    if (!isConnected || !run.ftp()) {
        showNoConnection();
        return;
    }
    showMessageDialog("Checking for Quillora updates...", "", "", "");
    doEvents();
    const std::string ver = serverVersion(run.ftp());
    if (ver == programVersion) {
        showMessageDialog("No new version available.", "", "", "OK");
        return;
    }
    showMessageDialog("Getting Quillora updates...", "", "", "");
    doEvents();
    if (fetchNewProgram(run.ftp()))
        offerUpdate(ver);
    else
        showMessageDialog("A problem occured whilst updating.", "", "", "OK");
}

bool frmtray::autoSystemUpdate() {
    if (isFirstRun || SelfUpdate::offerDeclined)
        return false;
    Work::Running run(Work::Job::Update, Work::Ask::Quiet);
    if (!run)
        return false;
    if (!isConnected || !run.ftp()) {
        if (!run.connect())
            return false;
    }
    const std::string ver = serverVersion(run.ftp());
    if (ver == programVersion || !fetchNewProgram(run.ftp()))
        return false;
    offerUpdate(ver);
    return true;
}
