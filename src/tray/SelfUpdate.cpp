#include "tray/SelfUpdate.h"

#include <windows.h>

#include <string>

#include "app/ModCommon.h"
#include "catalogue/Catalogue.h"
#include "catalogue/Check.h"
#include "dialog/frmmess.h"
#include "ftp/SafeFetch.h"
#include "ftp/cFTP.h"
#include "ftp/modFTP.h"
#include "release/SignedRelease.h"
#include "settings/cInifile.h"
#include "tray/ReleaseCheck.h"
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
std::string statementPath() {
    return tmpFolder() + "\\" + SelfUpdate::statementFileName;
}

// The server's version text. Whether the settings file came is not asked:
// whatever local copy is there afterwards is read ("" without one). Without
// a session (pending messages may have dropped it) nothing is fetched.
std::string serverVersion(cFTP* ftp) {
    if (ftp)
        fetchWhole(*ftp, dataPath + settingsFile, settingsFile, Catalogue::kMaxSettingsBytes);
    cInifile ini;
    ini.setPath(dataPath + settingsFile);
    ini.setSection(versionSection);
    ini.setKey(versionKey);
    return ini.Value();
}

enum class Fetch { Offered, Nothing, Failed };

// Fetches the signed statement and, when it announces a newer release, the
// new program into data\tmp. Only the very build the publisher signed
// counts as fetched; anything else is removed, so "Update" can never hand
// the updater a file it did not sign. A server without a statement has
// nothing to offer.
Fetch fetchNewProgram(cFTP* ftp, const std::string& sVersion) {
    const std::string local = newProgramPath();
    const std::string statement = statementPath();
    for (const std::string& path : {local, statement})
        if (fileExists(path, false))
            fileSystem.DeleteFile(path);
    ensureFolder(tmpFolder());
    if (!ftp || fetchWhole(*ftp, statement, SelfUpdate::statementFileName,
                           SignedRelease::maxStatementBytes) != FetchResult::Fetched)
        return ftp ? Fetch::Nothing : Fetch::Failed;
    const SelfUpdate::Release release = SelfUpdate::judgeStatement(statement, sVersion);
    if (release == SelfUpdate::Release::Newer &&
        fetchWhole(*ftp, local, SelfUpdate::programFileName, SignedRelease::maxProgramBytes) ==
            FetchResult::Fetched &&
        SelfUpdate::isVerifiedRelease(local, statement))
        return Fetch::Offered;
    fileSystem.DeleteFile(local);
    fileSystem.DeleteFile(statement);
    return release == SelfUpdate::Release::NotNewer ? Fetch::Nothing : Fetch::Failed;
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
    switch (fetchNewProgram(mFTP.get(), ver)) {
        case Fetch::Offered:
            offerUpdate(ver);
            break;
        case Fetch::Nothing:
            showMessageDialog("No new version available.", "", "", "OK");
            break;
        case Fetch::Failed:
            showMessageDialog("A problem occured whilst updating.", "", "", "OK");
            break;
    }
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
    if (ver == programVersion || fetchNewProgram(mFTP.get(), ver) != Fetch::Offered)
        return false;
    offerUpdate(ver);
    return true;
}
