#include "work/Work.h"

#include "app/ModCommon.h"
#include "ftp/cFTP.h"
#include "ftp/modFTP.h"

namespace Work {

namespace {

Job current = Job::None;
std::shared_ptr<cFTP> currentSession;
WorkObserver* watcher = nullptr;
Running* holder = nullptr;
// A refusal shown in the tool tip is taken back when the work ends.
bool tipToRestore = false;

}  // namespace

Job running() { return current; }

bool busy() { return current != Job::None || ModCommon::transferBusy || ModCommon::checkRunning; }

std::string describe(Job job) {
    switch (job) {
        case Job::Check: return "Checking...";
        case Job::Update: return "Getting Quillora updates...";
        case Job::Connect: return "Connecting...";
        case Job::Delivery:
        case Job::None: break;
    }
    // A transfer outside a delivery run is still a delivery to the user.
    return "Delivery in progress...";
}

bool refuseWhileBusy(Ask ask) {
    if (!busy())
        return false;
    if (ask == Ask::Tell && watcher) {
        watcher->refused(describe(ModCommon::checkRunning && current == Job::None ? Job::Check : current));
        tipToRestore = true;
    }
    return true;
}

std::shared_ptr<cFTP> session() { return currentSession; }

bool reconnect() { return holder && holder->connect(); }

void setObserver(WorkObserver* observer) { watcher = observer; }
WorkObserver* observer() { return watcher; }

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

void holdWhilePaused() {
    if (watcher)
        watcher->holdWhilePaused();
    // Without a form to hold in, a pause would spin: it cannot be resumed.
    else
        ModCommon::deliveryPaused = false;
}

void pauseDelivery() {
    if (!ModCommon::deliveryCancelled)
        ModCommon::deliveryPaused = true;
}

void resumeDelivery() { ModCommon::deliveryPaused = false; }

void cancelDelivery() {
    ModCommon::deliveryCancelled = true;
    ModCommon::deliveryPaused = false;
}

Running::Running(Job job, Ask ask) : job_(job) {
    if (refuseWhileBusy(ask))
        return;
    claimed_ = true;
    holder = this;
    current = job;
    session_ = currentSession;
    if (job == Job::Check)
        ModCommon::checkRunning = true;
    if (job == Job::Delivery)
        ModCommon::deliveryPaused = ModCommon::deliveryCancelled = false;
}

Running::~Running() {
    if (!claimed_)
        return;
    holder = nullptr;
    if (job_ == Job::Check)
        ModCommon::checkRunning = false;
    // A pause ends with its run; a cancel stays as the run's outcome until
    // the next run starts.
    if (job_ == Job::Delivery)
        ModCommon::deliveryPaused = false;
    current = Job::None;
    if (tipToRestore) {
        tipToRestore = false;
        tellToolTip(modFTP::connectionTip(ModCommon::isConnected));
    }
}

bool Running::connect() {
    if (!claimed_)
        return false;
    // The old session dies here unless something still holds it.
    currentSession = modFTP::openSession(watcher ? watcher->ownerWindow() : nullptr);
    session_ = currentSession;
    ModCommon::isConnected = session_->connected();
    tellToolTip(modFTP::connectionTip(ModCommon::isConnected));
    ModCommon::doEvents();
    return ModCommon::isConnected;
}

}  // namespace Work
