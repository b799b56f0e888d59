#include "work/SelfUpdate.h"

#include <windows.h>

#include <string>

#include "app/ModCommon.h"
#include "work/Work.h"
#include "catalogue/Catalogue.h"
#include "work/Check.h"
#include "dialog/frmmess.h"
#include "ftp/SafeFetch.h"
#include "ftp/cFTP.h"
#include "ftp/modFTP.h"
#include "release/SignedRelease.h"
#include "settings/cInifile.h"
#include "work/ReleaseCheck.h"
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
std::string statementPath() { return tmpFolder() + "\\" + SelfUpdate::statementFileName; }

// The server's version text. Whether the settings file came is not asked:
// whatever local copy is there afterwards is read ("" without one). Without
// a session nothing is fetched.
std::string serverVersion(cFTP* ftp) {
    if (ftp)
        fetchWhole(*ftp, dataPath + settingsFile, settingsFile, Catalogue::kMaxSettingsBytes);
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

enum class Fetch { Offered, Nothing, Failed };

// Fetches the signed statement and, when it announces a newer release, the
// new program into data\tmp. Only the very build the publisher signed
// counts as fetched: anything else is removed (an older staged one too), so
// "Update" can never hand the updater a file the publisher did not sign. A
// server without a statement has nothing to offer.
Fetch fetchNewProgram(cFTP* ftp, const std::string& sVersion) {
    const std::string local = SelfUpdate::stagedProgramPath();
    const std::string staging = local + stagingSuffix;
    const std::string statement = statementPath();
    for (const std::string& path : {local, staging, statement})
        deleteIfPresent(path);
    ensureFolder(tmpFolder());
    SelfUpdate::stagedProgramSize = -1;
    if (!ftp || fetchWhole(*ftp, statement, SelfUpdate::statementFileName, SignedRelease::maxStatementBytes) !=
                    FetchResult::Fetched)
        return ftp ? Fetch::Nothing : Fetch::Failed;
    const SelfUpdate::Release release = SelfUpdate::judgeStatement(statement, sVersion);
    if (release == SelfUpdate::Release::Newer &&
        fetchWhole(*ftp, staging, SelfUpdate::programFileName, SignedRelease::maxProgramBytes) ==
            FetchResult::Fetched &&
        SelfUpdate::isAcceptableProgram(staging, -1) && fileSystem.MoveFile(staging, local, true)) {
        SelfUpdate::stagedProgramSize = fileSystem.FileSize(local);
        return Fetch::Offered;
    }
    for (const std::string& path : {local, staging, statement})
        deleteIfPresent(path);
    return release == SelfUpdate::Release::NotNewer ? Fetch::Nothing : Fetch::Failed;
}

void offerUpdate(const std::string& sVersion) {
    doEvents();
    showMessageDialog("Quillora " + sVersion + " is available.\n\nPlease click 'Update' to continue.", "", "",
                      "Update");
}

}  // namespace

std::string SelfUpdate::stagedProgramPath() { return tmpFolder() + "\\" + programFileName; }

bool SelfUpdate::isAcceptableProgram(const std::string& sPath, int64_t llServerSize) {
    return isVerifiedRelease(sPath, statementPath()) && (llServerSize < 0 || isWholeProgram(sPath, llServerSize));
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
    switch (fetchNewProgram(run.ftp(), ver)) {
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
    if (ver == programVersion || fetchNewProgram(run.ftp(), ver) != Fetch::Offered)
        return false;
    offerUpdate(ver);
    return true;
}
