// The delivery run: one ticked issue downloaded into the library, recorded
// in the local catalogue and taken off the issue list.
#include "work/Delivery.h"

#include <memory>
#include <set>

#include "app/ModCommon.h"
#include "catalogue/Catalogue.h"
#include "ftp/cFTP.h"
#include "ftp/modFTP.h"
#include "text/Text.h"
#include "work/Check.h"
#include "work/DeliveryRetry.h"
#include "work/Work.h"

using namespace ModCommon;
using namespace Work;

namespace {

// An issue is written under this name and renamed when complete, so a crash,
// a power cut or a cancel never leaves a half issue that looks delivered.
// The library view lists only names with ".pdf" or ".torrent".
constexpr const char* kPartialName = partialDownloadName;

// Keys of the issues that failed in the current run. Marking the waiting
// issues must not turn a failure back into "Waiting": the user would be left
// with a failed issue that looks queued once the run is over.
std::set<std::string>& failedThisRun() {
    static std::set<std::string> keys;
    return keys;
}

void markTicked(WorkObserver& w, const std::string& sStatus, bool bKeepFailures) {
    for (const std::string& key : w.tickedIssues()) {
        if (bKeepFailures && failedThisRun().count(key))
            continue;
        w.issueStatusChanged(key, sStatus);
    }
}

void deleteIfPresent(const std::string& sPath) {
    if (fileSystem.FileExists(sPath))
        fileSystem.DeleteFile(sPath);
}

}  // namespace

void setIssueStatus(const std::string& sStatus, const std::string& sKey) { view().issueStatusChanged(sKey, sStatus); }

void showDeliveryDialog(int iMode, const std::string& sText) {
    const bool delivering = iMode == 0;
    view().showDelivery(delivering, delivering ? "Delivering: " + sText : sText);
}

bool downloadIssueFile(const std::string& sRemotePath, const std::string& sLocalFile, bool bResume) {
    // Held here, so the session outlives the download whatever runs meanwhile.
    const std::shared_ptr<cFTP> ftp = Work::session();
    Work::tellToolTip("Connecting...");
    doEvents();
    const bool result = ftp && ftp->FTPDownloadFile(sLocalFile, sRemotePath, bResume);
    Work::tellToolTip("Quillora");
    return result;
}

void deliverIssue(const std::string& sKey) {
    if (modFTP::transferBusy)
        return;
    if (!isConnected && !Work::reconnect()) {
        showNoConnection();
        return;
    }
    if (deliveryCancelled)
        return;

    WorkObserver& w = view();
    IssueEntry entry;
    if (!w.findIssue(sKey, entry))
        return;
    const std::string title = entry.title;
    // The server is asked with its own bytes; the library gets their text.
    const std::string serverMagazine = entry.magazine;
    const std::string record = entry.record;
    const std::string magazine = Text::decode(serverMagazine);
    const std::string fileName = typedFileName(Text::decode(record), fileType);
    const std::string remotePath = serverMagazine + "/" + typedFileName(record, fileType);
    const std::string libraryPath = programFolder() + "\\" + libraryFolder;
    const std::string localFolder = libraryPath + "\\" + magazine;
    // Nothing from the server may name a place outside the library.
    const bool safe = isSafeLibraryName(magazine) && isSafeRecord(Text::decode(record));
    // An issue the disk has no room for fails before anything is written.
    std::string failure;
    if (safe && deliveryRetry::ensureSession()) {
        const int64_t size = Work::session()->GetFTPFileSize(remotePath);
        if (size >= 0 && !deliveryRetry::roomFor(localFolder, size + deliveryRetry::diskMargin))
            failure = deliveryRetry::noRoomText(title);
    }
    if (safe && failure.empty()) {
        ensureFolder(libraryPath);
        ensureFolder(localFolder);
    }

    if (failedCount == 0)
        failedThisRun().clear();  // a new run
    showDeliveryDialog(0, title);
    markTicked(w, "Waiting", true);
    setIssueStatus("Delivering...", sKey);

    const std::string localFile = trim(localFolder + "\\" + fileName);
    const std::string partialFile = localFolder + "\\" + kPartialName;
    bool result = safe && failure.empty() &&
                  deliveryRetry::downloadWithRetries(remotePath, partialFile, sKey, title, failure);
    if (result && !deliveryCancelled)
        result = fileSystem.Flush(partialFile) && fileSystem.MoveFile(partialFile, localFile, true);

    if (deliveryCancelled) {
        deleteIfPresent(partialFile);
        markTicked(w, "Cancelled", false);
        showDeliveryDialog(1, "Delivery Cancelled");
    } else if (result) {
        appendTextFile(record + ";", programFolder() + "\\data\\em_lst.lcl");
        w.issueDone(sKey);
        newIssueCount = w.issueCount();
        w.libraryChanged();
        showDeliveryDialog(1, "Delivery complete.");
    } else {
        ++failedCount;
        failedThisRun().insert(sKey);
        deleteIfPresent(partialFile);
        setIssueStatus("Failed", sKey);
        showDeliveryDialog(1, failure.empty() ? toDecimal(failedCount) +
                                                    " failed to deliver.\n\nPlease try again at a later date."
                                              : failure);
    }
    tellStatus(1, "Remaining");
    tellStatus(2, toDecimal(newIssueCount));
}

void countRemaining() {
    newIssueCount = view().issueCount();
    tellIssueCount("Remaining");
}

bool deliverTicked() {
    Work::Running run(Work::Job::Delivery);
    if (!run)
        return false;
    run.connect();
    failedCount = 0;
    WorkObserver& w = view();
    w.issueCommandsEnabled(false);
    newIssueCount = w.issueCount();
    bool result = false;
    if (newIssueCount >= 1) {
        w.openLibrary();
        for (const std::string& key : w.rekeyIssues())
            if (w.issueTicked(key))
                deliverIssue(key);
        result = true;
    }
    countRemaining();
    return result;
}
