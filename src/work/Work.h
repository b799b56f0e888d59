// The one owner of the server session and of the work in progress (a check,
// a delivery run, a self-update, a connect). Long work pumps messages, so
// any click or timer can arrive in the middle of it: every entry point asks
// here first, and what would conflict is refused with no side effect.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

class cFTP;

// What the forms learn while work runs. The session and the catalogue code
// reach no window but through this.
class WorkObserver {
public:
    virtual ~WorkObserver() = default;
    virtual void toolTipChanged(const std::string& sTip) = 0;
    // bStart: a transfer of lMaximum bytes begins. Otherwise lValue bytes
    // have come; lValue == lMinimum ends the display.
    virtual void transferProgress(int64_t lMinimum, int64_t lMaximum, int64_t lValue, bool bStart) = 0;
    virtual void statusText(int16_t iPanel, const std::string& sText) = 0;
    // Holds the caller while the delivery is paused.
    virtual void holdWhilePaused() = 0;
    // The user pressed something that sRunning (what runs) refused.
    virtual void refused(const std::string& sRunning) = 0;
    // The window that parents what connecting may show.
    virtual HWND ownerWindow() const { return nullptr; }
};

namespace Work {

enum class Job { None, Check, Delivery, Update, Connect };
// Whether a refusal is shown: user presses are answered, timers are not.
enum class Ask { Tell, Quiet };

Job running();
// True while any work runs, or a transfer is on the wire.
bool busy();
// What the tool tip or status bar says about a job ("Delivery in progress...").
std::string describe(Job job);
// Refuses a user's press when work runs: true (and the user is told) when busy.
bool refuseWhileBusy(Ask ask = Ask::Tell);

// The session of the last connect (null before the first). Whoever uses it
// across pumped messages keeps the shared pointer.
std::shared_ptr<cFTP> session();

// A fresh session for the work that runs, as its own connect() gives: a
// delivery whose server closed the session goes on in a new one. False when
// nothing runs or the connection fails.
bool reconnect();

// The forms' observer; null (nothing to tell) before any form is up.
void setObserver(WorkObserver* observer);
WorkObserver* observer();
void tellToolTip(const std::string& sTip);
void tellProgress(int64_t lMinimum, int64_t lMaximum, int64_t lValue, bool bStart);
void tellStatus(int16_t iPanel, const std::string& sText);
void holdWhilePaused();

// The delivery's pause and cancel. A delivery run starts with neither and
// ends with no pause, so a left-over button cannot hold a later one.
void pauseDelivery();
void resumeDelivery();
void cancelDelivery();

// Holds one job for its scope: claimed when constructed if nothing runs
// (otherwise refused, see Ask), released when the scope is left, whichever
// way. A check raises checkRunning; a delivery run starts with
// deliveryPaused and deliveryCancelled cleared and ends with no pause.
class Running {
public:
    explicit Running(Job job, Ask ask = Ask::Tell);
    ~Running();
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;
    explicit operator bool() const { return claimed_; }

    // A fresh session for this job: the only way the session is replaced,
    // and only by the work that holds it. Sets isConnected.
    bool connect();
    // The session this job uses; it lives at least as long as this scope.
    cFTP* ftp() const { return session_.get(); }

private:
    Job job_;
    bool claimed_ = false;
    std::shared_ptr<cFTP> session_;
};

// Raises a flag for its scope.
class Raised {
public:
    explicit Raised(bool& flag) : flag_(flag) { flag_ = true; }
    ~Raised() { flag_ = false; }
    Raised(const Raised&) = delete;
    Raised& operator=(const Raised&) = delete;

private:
    bool& flag_;
};

}  // namespace Work
