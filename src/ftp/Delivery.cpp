// The delivery run: one ticked issue downloaded into the library, recorded
// in the local catalogue and taken off the issue list.
#include "ftp/Delivery.h"

#include <memory>
#include <set>

#include "app/ModCommon.h"
#include "app/Work.h"
#include "catalogue/Catalogue.h"
#include "catalogue/Check.h"
#include "catalogue/LibraryScan.h"
#include "dialog/frmmess.h"
#include "ftp/DeliveryRetry.h"
#include "ftp/cFTP.h"
#include "library/frmmain.h"
#include "text/Text.h"

using namespace ModCommon;

namespace {

// An issue is written under this name and renamed when complete, so a crash,
// a power cut or a cancel never leaves a half issue that looks delivered.
// The library view lists only names with ".pdf" or ".torrent".
constexpr char kPartialName[] = "~quillora-download.tmp";

// Keys of the issues that failed in the current run. Marking the waiting
// issues must not turn a failure back into "Waiting": the user would be left
// with a failed issue that looks queued once the run is over.
std::set<std::string>& failedThisRun() {
    static std::set<std::string> keys;
    return keys;
}

void markTicked(frmmain& w, const std::string& sStatus, bool bKeepFailures) {
    for (int i = 0, n = w.issueCount(); i < n; ++i) {
        w.selectIssue(i);
        if (!w.getLstTick())
            continue;
        if (bKeepFailures && failedThisRun().count(w.issueKey(i)))
            continue;
        w.setIssueText(i, frmmain::colStatus, sStatus);
    }
}

void deleteIfPresent(const std::string& sPath) {
    if (fileSystem.FileExists(sPath))
        fileSystem.DeleteFile(sPath);
}

}  // namespace

void setIssueStatus(const std::string& sStatus, const std::string& sKey) {
    frmmain& w = frmmain::instance();
    int index = w.findIssueByKey(sKey);
    if (index >= 0)
        w.setIssueText(index, frmmain::colStatus, sStatus);
}

void showDeliveryDialog(int iMode, const std::string& sText) {
    const bool delivering = iMode == 0;
    frmmess& m = frmmess::instance();
    m.setMessage(delivering ? "Delivering: " + sText : sText);
    m.editButtons(0, false, "");
    m.editButtons(1, delivering, "Cancel");
    m.editButtons(2, true, delivering ? "Pause" : "OK");
    m.showMessage2(delivering);
    m.showProgress(delivering);
    m.setHeightTwips(frmmess::compactHeight);
    m.show();
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
    if (transferBusy)
        return;
    if (!isConnected) {
        showNoConnection();
        return;
    }
    if (deliveryCancelled)
        return;

    frmmain& w = frmmain::instance();
    int index = w.findIssueByKey(sKey);
    if (index < 0)
        return;
    const std::string title = w.issueText(index, frmmain::colTitle);
    // The server is asked with its own bytes; the library gets their text.
    const std::string serverMagazine = w.issueText(index, frmmain::colMagazine);
    const std::string record = w.issueText(index, frmmain::colRecord);
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
        index = w.findIssueByKey(sKey);
        if (index >= 0)
            w.removeIssue(index);
        newIssueCount = w.issueCount();
        buildLibraryTree();
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
    setStatusText(1, "Remaining");
    setStatusText(2, toDecimal(newIssueCount));
}
