// The delivery run: one ticked issue downloaded into the library, recorded
// in the local catalogue and taken off the issue list.
#include "work/Delivery.h"

#include <memory>
#include <optional>
#include <set>

#include "base/Log.h"
#include "base/ModCommon.h"
#include "catalogue/Catalogue.h"
#include "ftp/cFTP.h"
#include "ftp/modFTP.h"
#include "text/Text.h"
#include "work/Check.h"
#include "work/DeliveryRetry.h"
#include "work/IssueModel.h"
#include "work/SignedIssues.h"
#include "work/Work.h"

using namespace ModCommon;
using namespace Work;

namespace {

// An issue is written under this name and renamed when complete, so a crash,
// a power cut or a cancel never leaves a half issue that looks delivered.
// The library view lists only names with ".pdf" or ".torrent".
constexpr const char* kPartialName = partialDownloadName;

// Ids of the issues that failed in the current run. Marking the waiting
// issues must not turn a failure back into "Waiting": the user would be left
// with a failed issue that looks queued once the run is over.
std::set<uint32_t>& failedThisRun() {
    static std::set<uint32_t> ids;
    return ids;
}

void markTicked(const std::string& sStatus, bool bKeepFailures) {
    for (uint32_t id : issues().tickedIds()) {
        if (bKeepFailures && failedThisRun().count(id))
            continue;
        issues().setStatus(id, sStatus);
    }
    tellIssues();
}

// The hash of the issue being delivered, fed by every try's download.
ReceivedBytes* issueReceiver = nullptr;

void deleteIfPresent(const std::string& sPath) {
    if (fileSystem.FileExists(sPath))
        fileSystem.DeleteFile(sPath);
}

// Why an issue was not placed, for the log.
std::string failureReason(bool bSafe, bool bRefused, const std::string& sFailure, bool bDownloaded) {
    if (!bSafe)
        return "its name would lead outside the library";
    if (bRefused)
        return "the signed list does not describe it";
    if (!sFailure.empty())
        return sFailure;
    return bDownloaded ? "it does not match the signed list or could not be placed" : "the transfer failed";
}

}  // namespace

void setIssueStatus(const std::string& sStatus, uint32_t id) {
    issues().setStatus(id, sStatus);
    tellIssues();
}

void showDeliveryDialog(int iMode, const std::string& sText) {
    const bool delivering = iMode == 0;
    const std::string text = delivering ? "Delivering: " + sText : sText;
    tell([delivering, text](WorkObserver& w) { w.showDelivery(delivering, text); });
}

bool downloadIssueFile(const std::string& sRemotePath, const std::string& sLocalFile, bool bResume) {
    const std::shared_ptr<cFTP> ftp = Work::session();
    Work::tellToolTip("Connecting...");
    // Each try may have a session of its own.
    if (ftp)
        ftp->setReceiver(issueReceiver);
    const bool result = ftp && ftp->FTPDownloadFile(sLocalFile, sRemotePath, bResume);
    if (ftp)
        ftp->setReceiver(nullptr);
    Work::tellToolTip("Quillora");
    return result;
}

void deliverIssue(uint32_t id) {
    if (modFTP::transferBusy)
        return;
    if (!isConnected && !Work::connect()) {
        Log::line("delivery failed: no connection to the server");
        showNoConnection();
        return;
    }
    if (cancelled())
        return;

    const std::optional<IssueEntry> found = issues().find(id);
    if (!found)
        return;
    const IssueEntry& entry = *found;
    const std::string title = entry.title;
    // The server is asked with its own bytes; the library gets their text.
    const std::string serverMagazine = entry.magazine;
    const std::string record = entry.record;
    const std::string magazine = Text::decode(serverMagazine);
    const std::string fileName = typedFileName(Text::decode(record), fileType);
    const std::string remotePath = serverMagazine + "/" + typedFileName(record, fileType);
    const std::string libraryPath = libraryRoot() + "\\" + libraryFolder;
    const std::string localFolder = libraryPath + "\\" + magazine;
    // Nothing from the server may name a place outside the library.
    const bool safe = isSafeLibraryName(magazine) && isSafeRecord(Text::decode(record));
    // An issue the disk has no room for fails before anything is written.
    std::string failure;
    // An issue the publisher's list does not describe is not fetched at all.
    SignedIssues::IssueCheck signedIssue(remotePath);
    bool refused = signedIssue.refused();
    if (safe && !refused && deliveryRetry::ensureSession()) {
        const int64_t size = Work::session()->GetFTPFileSize(remotePath);
        refused = signedIssue.sizeRefused(size);
        if (size >= 0 && !refused && !deliveryRetry::roomFor(localFolder, size + deliveryRetry::diskMargin))
            failure = deliveryRetry::noRoomText(title);
    }
    if (safe && !refused && failure.empty()) {
        ensureFolder(libraryPath);
        ensureFolder(localFolder);
    }

    if (failedCount == 0)
        failedThisRun().clear();  // a new run
    showDeliveryDialog(0, title);
    markTicked("Waiting", true);
    setIssueStatus("Delivering...", id);

    const std::string localFile = trim(localFolder + "\\" + fileName);
    const std::string partialFile = localFolder + "\\" + kPartialName;
    issueReceiver = signedIssue.receiver();
    bool result = safe && !refused && failure.empty() &&
                  deliveryRetry::downloadWithRetries(remotePath, partialFile, id, title, failure);
    issueReceiver = nullptr;
    const bool downloaded = result;
    if (result && !cancelled())
        result = signedIssue.matches() && fileSystem.Flush(partialFile) &&
                 fileSystem.MoveFile(partialFile, localFile, true);

    if (cancelled()) {
        deleteIfPresent(partialFile);
        Log::line("delivery of " + remotePath + " cancelled");
        markTicked("Cancelled", false);
        showDeliveryDialog(1, "Delivery Cancelled");
    } else if (result) {
        Log::line("delivered " + remotePath + " (" + std::to_string(fileSystem.FileSize(localFile)) +
                  " bytes)");
        appendTextFile(record + ";", programFolder() + "\\data\\em_lst.lcl");
        issues().remove(id);
        newIssueCount = static_cast<int32_t>(issues().count());
        tellIssues();
        tell([](WorkObserver& w) { w.libraryChanged(); });
        showDeliveryDialog(1, "Delivery complete.");
    } else {
        const auto ftp = Work::session();
        Log::line(
            "delivery of " + remotePath + " failed: " + failureReason(safe, refused, failure, downloaded),
            ftp && !downloaded ? ftp->LastReply() : "", ftp && !downloaded ? ftp->LastErrorCode() : 0);
        ++failedCount;
        failedThisRun().insert(id);
        deleteIfPresent(partialFile);
        setIssueStatus("Failed", id);
        showDeliveryDialog(1, failure.empty() ? toDecimal(failedCount) +
                                                    " failed to deliver.\n\nPlease try again at a later date."
                                              : failure);
    }
    tellStatus(1, "Remaining");
    tellStatus(2, toDecimal(newIssueCount));
}

void countRemaining() {
    newIssueCount = static_cast<int32_t>(issues().count());
    tellIssueCount("Remaining");
}

bool deliverTicked(std::function<void()> then) {
    return start(
        Job::Delivery,
        [] {
            connect();
            failedCount = 0;
            tell([](WorkObserver& w) { w.issueCommandsEnabled(false); });
            newIssueCount = static_cast<int32_t>(issues().count());
            if (newIssueCount >= 1) {
                tell([](WorkObserver& w) { w.openLibrary(); });
                // Ticks the user changes meanwhile count when the issue's turn comes.
                for (uint32_t id : issues().ids())
                    if (issues().ticked(id))
                        deliverIssue(id);
            }
            countRemaining();
        },
        std::move(then));
}

bool removeTicked(std::function<void()> then) {
    return start(
        Job::Remove,
        [] {
            tell([](WorkObserver& w) { w.issueCommandsEnabled(false); });
            for (uint32_t id : issues().tickedIds()) {
                const std::optional<IssueEntry> entry = issues().find(id);
                // Dismissed for good: recorded without ";" so later checks skip it.
                if (!entry)
                    continue;
                appendTextFile(entry->record, programFolder() + "\\data\\em_lst.lcl");
                issues().remove(id);
            }
            tellIssues();
            countRemaining();
        },
        std::move(then));
}
