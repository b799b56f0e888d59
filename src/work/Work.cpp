#include "work/Work.h"

#include "app/ModCommon.h"
#include "ftp/TransferObserver.h"
#include "ftp/cFTP.h"
#include "ftp/modFTP.h"
#include "work/Delivery.h"

namespace Work {

namespace {

Job current = Job::None;
std::shared_ptr<cFTP> currentSession;
WorkObserver* watcher = nullptr;
Running* holder = nullptr;
// A refusal shown in the tool tip is taken back when the work ends.
bool tipToRestore = false;

// Tells nobody: the view before any form is up.
WorkObserver nobody;

// The sessions' reports go to the view; their pause and cancel are the
// delivery's.
class Sink final : public TransferObserver {
public:
    void toolTipChanged(const std::string& sTip) override { tellToolTip(sTip); }
    void transferProgress(int64_t lMinimum, int64_t lMaximum, int64_t lValue, bool bStart) override {
        tellProgress(lMinimum, lMaximum, lValue, bStart);
    }
    void statusText(int16_t iPanel, const std::string& sText) override { tellStatus(iPanel, sText); }
    bool pauseAsked() const override { return deliveryPaused; }
    void holdWhilePaused() override { Work::holdWhilePaused(); }
    bool cancelAsked() const override { return deliveryCancelled; }
};

}  // namespace

Job running() { return current; }

bool busy() { return current != Job::None || modFTP::transferBusy || checkRunning; }

std::string describe(Job job) {
    switch (job) {
        case Job::Check: return "Checking...";
        case Job::Update: return "Getting Quillora updates...";
        case Job::Connect: return "Connecting...";
        case Job::List: return "";
        case Job::Delivery:
        case Job::None: break;
    }
    // A transfer outside a delivery run is still a delivery to the user.
    return "Delivery in progress...";
}

bool refuseWhileBusy(Ask ask) {
    if (!busy())
        return false;
    if (ask == Ask::Tell && watcher && current != Job::List) {
        watcher->refused(describe(checkRunning && current == Job::None ? Job::Check : current));
        tipToRestore = true;
    }
    return true;
}

std::shared_ptr<cFTP> session() { return currentSession; }

bool reconnect() { return holder && holder->connect(); }

void removeLeftovers() {
    const FileSystem& fs = ModCommon::fileSystem;
    const std::string& folder = ModCommon::programFolder();
    const std::string data = folder + "\\data\\", tmp = data + "tmp\\";
    for (const std::string& name : fs.Files(data))
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0)
            fs.DeleteFile(data + name);
    for (const std::string& name : fs.Files(tmp))
        fs.DeleteFile(tmp + name);
    fs.DeleteFolder(tmp);
    for (const char* library : {"\\My Magazines\\", "\\My Torrents\\"})
        for (const std::string& magazine : fs.SubFolders(folder + library))
            fs.DeleteFile(folder + library + magazine + "\\" + partialDownloadName);
}

void setObserver(WorkObserver* observer) { watcher = observer; }
WorkObserver* observer() { return watcher; }
WorkObserver& view() { return watcher ? *watcher : nobody; }

TransferObserver& transferObserver() {
    static Sink sink;
    return sink;
}

void tellToolTip(const std::string& sTip) {
    if (watcher)
        watcher->toolTipChanged(sTip);
}

void tellProgress(int64_t lMinimum, int64_t lMaximum, int64_t lValue, bool bStart) {
    if (watcher)
        watcher->transferProgress(lMinimum, lMaximum, lValue, bStart);
}

void tellStatus(int16_t iPanel, const std::string& sText) {
    if (watcher)
        watcher->statusText(iPanel, sText);
}

void tellIssueCount(const std::string& sWord) {
    view().issueCommandsEnabled(newIssueCount >= 1);
    tellStatus(1, newIssueCount < 1 ? "Ready" : sWord);
    tellStatus(2, newIssueCount < 1 ? "" : ModCommon::toDecimal(newIssueCount));
}

void holdWhilePaused() {
    if (watcher)
        watcher->holdWhilePaused();
    // Without a form to hold in, a pause would spin: it cannot be resumed.
    else
        deliveryPaused = false;
}

void pauseDelivery() {
    if (!deliveryCancelled)
        deliveryPaused = true;
}

void resumeDelivery() { deliveryPaused = false; }

void cancelDelivery() {
    deliveryCancelled = true;
    deliveryPaused = false;
}

Running::Running(Job job, Ask ask) : job_(job) {
    if (refuseWhileBusy(ask))
        return;
    claimed_ = true;
    holder = this;
    current = job;
    session_ = currentSession;
    if (job == Job::Check)
        checkRunning = true;
    if (job == Job::Delivery)
        deliveryPaused = deliveryCancelled = false;
}

Running::~Running() {
    if (!claimed_)
        return;
    holder = nullptr;
    if (job_ == Job::Check)
        checkRunning = false;
    // A pause ends with its run; a cancel stays as the run's outcome until
    // the next run starts.
    if (job_ == Job::Delivery)
        deliveryPaused = false;
    current = Job::None;
    if (tipToRestore) {
        tipToRestore = false;
        tellToolTip(modFTP::connectionTip(isConnected));
    }
    view().workEnded();
}

bool Running::connect() {
    if (!claimed_)
        return false;
    // The old session dies here unless something still holds it.
    currentSession = modFTP::openSession(view().ownerWindow(), &transferObserver());
    session_ = currentSession;
    isConnected = session_->connected();
    tellToolTip(modFTP::connectionTip(isConnected));
    ModCommon::doEvents();
    return isConnected;
}

}  // namespace Work
