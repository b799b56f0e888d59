#include "work/SelfUpdate.h"

#include <windows.h>

#include <string>

#include "app/ModCommon.h"
#include "catalogue/Catalogue.h"
#include "ftp/SafeFetch.h"
#include "ftp/cFTP.h"
#include "ftp/modFTP.h"
#include "release/SignedRelease.h"
#include "settings/cInifile.h"
#include "work/Check.h"
#include "work/ReleaseCheck.h"
#include "work/Work.h"

using namespace ModCommon;
using namespace Work;

namespace {

constexpr char settingsFile[] = "VORK.ini";
constexpr char versionSection[] = "CONFIG";
constexpr char versionKey[] = "ver";

// The fetch lands under this name and is renamed only once checked, so the
// updater's file is never a half-written or unchecked one.
constexpr char stagingSuffix[] = ".part";

std::string tmpFolder() { return dataPath + "tmp"; }
std::string statementPath() { return tmpFolder() + "\\" + SelfUpdate::statementFileName; }

// True when the server has no such file; a failing look-up is no answer.
bool absentOnServer(cFTP& ftp, const char* sName) { return ftp.GetFTPFileSize(sName) == -1; }

// The server's version text: whatever local copy is there afterwards is
// read ("" without one). Without a session nothing is fetched. bFailed: the
// server has the settings file but it did not come.
std::string serverVersion(cFTP* ftp, bool& bFailed) {
    bFailed = ftp && fetchWhole(*ftp, dataPath + settingsFile, settingsFile, Catalogue::kMaxSettingsBytes) !=
                         FetchResult::Fetched &&
              !absentOnServer(*ftp, settingsFile);
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
// server without a statement has nothing to offer; one whose statement or
// program does not come has failed.
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
        return ftp && absentOnServer(*ftp, SelfUpdate::statementFileName) ? Fetch::Nothing : Fetch::Failed;
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
    view().showMessage("Quillora " + sVersion + " is available.\n\nPlease click 'Update' to continue.", "", "",
                      "Update");
}

}  // namespace

std::string SelfUpdate::stagedProgramPath() { return tmpFolder() + "\\" + programFileName; }

bool SelfUpdate::isAcceptableProgram(const std::string& sPath, int64_t llServerSize) {
    return isVerifiedRelease(sPath, statementPath()) && (llServerSize < 0 || isWholeProgram(sPath, llServerSize));
}

void SelfUpdate::declineOffer() { offerDeclined = true; }

bool SelfUpdate::handOver() {
    if (Work::refuseWhileBusy())
        return false;
    const std::string staged = stagedProgramPath();
    if (fileSystem.FileExists(staged) && isAcceptableProgram(staged, stagedProgramSize)) {
        // Without the updater nothing would bring the program back: it stays.
        const std::string updater = programFolder() + "\\update.exe";
        openDocument(updater, true);
        return fileSystem.FileExists(updater);
    }
    if (fileSystem.FileExists(staged))
        fileSystem.DeleteFile(staged);
    messageBox("Unable to update. Please contact support.", MB_OK | MB_ICONEXCLAMATION);
    return false;
}

void SelfUpdate::systemUpdate() {
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
    WorkObserver& w = view();
    w.showMessage("Checking for Quillora updates...", "", "", "");
    doEvents();
    bool failed = false;
    const std::string ver = serverVersion(run.ftp(), failed);
    if (!failed && ver == programVersion) {
        w.showMessage("No new version available.", "", "", "OK");
        return;
    }
    w.showMessage("Getting Quillora updates...", "", "", "");
    doEvents();
    switch (failed ? Fetch::Failed : fetchNewProgram(run.ftp(), ver)) {
        case Fetch::Offered:
            offerUpdate(ver);
            break;
        case Fetch::Nothing:
            w.showMessage("No new version available.", "", "", "OK");
            break;
        case Fetch::Failed:
            w.showMessage("A problem occured whilst updating.", "", "", "OK");
            break;
    }
}

bool SelfUpdate::autoSystemUpdate() {
    if (isFirstRun || SelfUpdate::offerDeclined)
        return false;
    Work::Running run(Work::Job::Update, Work::Ask::Quiet);
    if (!run)
        return false;
    if (!isConnected || !run.ftp()) {
        if (!run.connect())
            return false;
    }
    bool failed = false;
    const std::string ver = serverVersion(run.ftp(), failed);
    if (failed || ver == programVersion || fetchNewProgram(run.ftp(), ver) != Fetch::Offered)
        return false;
    offerUpdate(ver);
    return true;
}
