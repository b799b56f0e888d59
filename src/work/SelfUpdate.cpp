#include "work/SelfUpdate.h"

#include <windows.h>

#include <memory>
#include <string>

#include "base/Log.h"
#include "base/ModCommon.h"
#include "catalogue/Catalogue.h"
#include "ftp/SafeFetch.h"
#include "ftp/ServerCopies.h"
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
    // The check keeps what the server said of the copy it fetched
    // (copies.ini); this one replaces that copy, so the next check must not
    // take the record for it. Forgotten first: no crash leaves it behind.
    if (ftp)
        ServerCopies::forget(settingsFile);
    bFailed = ftp && fetchWhole(*ftp, dataPath + settingsFile, settingsFile, Catalogue::kMaxSettingsBytes) !=
                         FetchResult::Fetched &&
              !absentOnServer(*ftp, settingsFile);
    cInifile ini;
    ini.setPath(dataPath + settingsFile);
    ini.setSection(versionSection);
    ini.setKey(versionKey);
    return ini.Value();
}

void logVersion(const std::string& sVersion, bool bFailed) {
    if (bFailed)
        Log::line(std::string("update check failed: ") + settingsFile + " did not come");
    else
        Log::line("update check: the server names version " + (sVersion.empty() ? "(none)" : sVersion) +
                  ", ours is " + programVersion);
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
    if (release != SelfUpdate::Release::Newer)
        Log::line("update: the release statement " +
                  std::string(release == SelfUpdate::Release::Refused ? "failed its signature check"
                                                                      : "offers no newer version than ours") +
                  " (server says " + sVersion + ", ours is " + programVersion + ")");
    const bool fetched = release == SelfUpdate::Release::Newer &&
                         fetchWhole(*ftp, staging, SelfUpdate::programFileName,
                                    SignedRelease::maxProgramBytes) == FetchResult::Fetched;
    if (fetched && SelfUpdate::isAcceptableProgram(staging, -1) &&
        fileSystem.MoveFile(staging, local, true)) {
        SelfUpdate::stagedProgramSize = fileSystem.FileSize(local);
        Log::line("update: version " + sVersion + " fetched and verified, offered to the user");
        return Fetch::Offered;
    }
    if (fetched)
        Log::line(std::string("update: the fetched ") + SelfUpdate::programFileName +
                  " is not the program the statement signs, or could not be kept");
    for (const std::string& path : {local, staging, statement})
        deleteIfPresent(path);
    return release == SelfUpdate::Release::NotNewer ? Fetch::Nothing : Fetch::Failed;
}

void offerUpdate(const std::string& sVersion) {
    tell([sVersion](WorkObserver& w) {
        w.showMessage("Quillora " + sVersion + " is available.\n\nPlease click 'Update' to continue.", "", "",
                      "Update");
    });
}

void say(const std::string& sText, const std::string& sButton = "") {
    tell([=](WorkObserver& w) { w.showMessage(sText, "", "", sButton); });
}

}  // namespace

std::string SelfUpdate::stagedProgramPath() { return tmpFolder() + "\\" + programFileName; }

bool SelfUpdate::isAcceptableProgram(const std::string& sPath, int64_t llServerSize) {
    return isVerifiedRelease(sPath, statementPath()) && (llServerSize < 0 || isWholeProgram(sPath, llServerSize));
}

void SelfUpdate::declineOffer() { offerDeclined = true; }

bool SelfUpdate::handOver(std::function<void()> exit) {
    auto accepted = std::make_shared<bool>(false);
    return Work::start(
        Job::HandOver,
        [accepted] {
            const std::string staged = stagedProgramPath();
            *accepted = fileSystem.FileExists(staged) && isAcceptableProgram(staged, stagedProgramSize);
            Log::line(*accepted ? "update: the staged program goes to the updater"
                                : "update failed: the staged program is missing or no longer verified");
            if (!*accepted && fileSystem.FileExists(staged))
                fileSystem.DeleteFile(staged);
        },
        [accepted, exit = std::move(exit)] {
            if (!*accepted) {
                messageBox("Unable to update. Please contact support.", MB_OK | MB_ICONEXCLAMATION);
                return;
            }
            // Without the updater nothing would bring the program back: it stays.
            const std::string updater = programFolder() + "\\update.exe";
            openDocument(updater, true);
            if (fileSystem.FileExists(updater))
                exit();
        });
}

bool SelfUpdate::systemUpdate() {
    return Work::start(Job::Update, [] {
        if (!connect()) {
            showNoConnection();
            return;
        }
        say("Checking for Quillora updates...");
        bool failed = false;
        const std::string ver = serverVersion(session().get(), failed);
        logVersion(ver, failed);
        if (!failed && ver == programVersion) {
            say("No new version available.", "OK");
            return;
        }
        say("Getting Quillora updates...");
        switch (failed ? Fetch::Failed : fetchNewProgram(session().get(), ver)) {
            case Fetch::Offered:
                offerUpdate(ver);
                break;
            case Fetch::Nothing:
                say("No new version available.", "OK");
                break;
            case Fetch::Failed:
                Log::line("update failed (see the lines above)");
                say("A problem occured whilst updating.", "OK");
                break;
        }
    });
}

bool SelfUpdate::autoSystemUpdate() {
    if (isFirstRun || SelfUpdate::offerDeclined)
        return false;
    if (!isConnected || !session()) {
        if (!connect())
            return false;
    }
    bool failed = false;
    const std::string ver = serverVersion(session().get(), failed);
    logVersion(ver, failed);
    if (failed || ver == programVersion || fetchNewProgram(session().get(), ver) != Fetch::Offered)
        return false;
    offerUpdate(ver);
    return true;
}
