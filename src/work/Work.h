// The engine: one thread of its own runs every job (a check, a delivery run,
// a self-update, a connect, a removal), one at a time, and makes every
// network call. The window thread starts jobs and sends signals (pause,
// resume, cancel, stop); it never waits for the network. The engine reports
// one way: each report carries its own values and runs on the window thread,
// in the order the engine posted them.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class cFTP;
class TransferObserver;

// The windows' side of the work: what to show. Every call comes on the
// window thread; nothing here returns data to a job.
class WorkObserver {
public:
    virtual ~WorkObserver() = default;
    virtual void toolTipChanged(const std::string&) {}
    // bStart: a transfer of lMaximum bytes begins. Otherwise lValue bytes
    // have come; lValue == lMinimum ends the display.
    virtual void transferProgress(int64_t, int64_t, int64_t, bool) {}
    virtual void statusText(int16_t, const std::string&) {}
    // The job that ran has ended and every report of it has been shown.
    virtual void workEnded() {}

    // The message dialog: the text and its three buttons (an empty caption
    // hides one); bChoices uncovers the delivery-type group.
    virtual void showMessage(const std::string&, const std::string&, const std::string&, const std::string&,
                             bool /*bChoices*/ = false) {}
    // A delivery's dialog: bDelivering with Cancel, Pause and the progress,
    // otherwise how the issue ended, with OK.
    virtual void showDelivery(bool, const std::string&) {}
    // The line under the delivery's text ("Retrying...").
    virtual void deliveryNote(const std::string&) {}
    virtual void bringMessageForward() {}
    virtual void balloon(const std::string&) {}
    virtual void openLibrary() {}
    virtual void libraryChanged() {}
    virtual void issueCommandsEnabled(bool) {}
    // The issue model changed (rows added, removed, re-ordered or re-worded).
    virtual void issuesChanged() {}
    // A job's word for the user in the platform's message box.
    virtual void notice(const std::string&, UINT /*uFlags*/) {}
};

namespace Work {

// What the work holds while the program runs. Written by the engine or,
// before a job starts, by the window thread; read by both.
inline std::atomic<bool> checkRunning{false};
inline std::atomic<bool> checkDone{false};
inline std::atomic<int32_t> newIssueCount{0};
inline std::atomic<bool> deliveryPaused{false};
inline std::atomic<bool> deliveryCancelled{false};
inline int16_t failedCount = 0;  // the engine's
inline std::atomic<bool> isConnected{false};
// The first start of the program on this account: no update offer then.
inline bool isFirstRun = false;
// The delivery type the message dialog chose; set only while no job runs.
inline std::string fileType = "pdf";               // or "torrent"
inline std::string libraryFolder = "My Magazines"; // or "My Torrents"

enum class Job { None, Check, Delivery, Update, Connect, Remove, HandOver, FirstCheck, MoveLibrary };

// --- the window thread's side ----------------------------------------------

// Starts body on the engine when no job runs; then (if given) runs on the
// window thread once the job has ended and its reports have been shown.
// False, with nothing changed, when a job runs or the engine has stopped.
bool start(Job job, std::function<void()> body, std::function<void()> then = {});
// A job was started and its end has not been shown yet.
bool busy();
Job running();
// The delivery's pause and cancel. A delivery run starts with neither and
// ends with no pause, so a left-over button cannot hold a later one. A
// cancel also ends a call that waits on the server, at once.
void pauseDelivery();
void resumeDelivery();
void cancelDelivery();
// Ends a move of the library; what it copied goes, the old library stays.
void cancelMove();
// The computer woke from sleep. For wakeGraceMs afterwards the network may
// not be back yet: a delivery that cannot reach the server waits for it
// without spending a try (tests shorten it).
inline DWORD wakeGraceMs = 120000;
void wokeFromSleep();
bool justWoke();
// Holds the work for a scope of the window thread, as while a question
// about the list is open: no job starts meanwhile. False when a job runs.
class Claim {
public:
    explicit Claim(Job job);
    ~Claim();
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;
    explicit operator bool() const { return held_; }

private:
    Job job_;
    bool held_ = false;
};
// The orderly stop: the job ends as a cancel ends it, the engine thread
// ends, and only then does this return. Nothing is started afterwards.
void stop();
// Lets a stopped engine start jobs again (a test's next program life).
void restart();

// The forms' observer; null before any form is up, when nothing is shown.
void setObserver(WorkObserver* observer);
WorkObserver* observer();

// Runs report on the window thread after whatever was posted before it;
// on the window thread itself it runs at once.
void post(std::function<void()> report);
// Shorthands that post to the observer.
void tellToolTip(const std::string& sTip);
void tellStatus(int16_t iPanel, const std::string& sText);
void tellIssues();
// The issue buttons and status panels for a list of lCount issues: "Ready"
// when it is empty, otherwise sWord and the count.
void tellIssueCount(const std::string& sWord);
// Posts a call of the observer (on the window thread).
void tell(std::function<void(WorkObserver&)> fn);

// --- the engine's side -------------------------------------------------------

// A cancel or the stop was asked.
bool cancelled();
// Holds the job while the delivery is paused: returns at resume, cancel or stop.
void holdWhilePaused();
// Waits about ms, ending early at a cancel; a pause holds it until resume.
// False when cancelled.
bool waitFor(DWORD ms);
// The session of the last connect (null before the first).
std::shared_ptr<cFTP> session();
// A fresh session for the job, as every job's connect: the old one dies
// unless something still holds it. Sets isConnected and the tool tip.
bool connect();
// What the sessions report to: the view, and the delivery's pause and cancel.
TransferObserver& transferObserver();
// Connect as a job of its own (autoTmr, "Connect..."); then runs afterwards.
bool connectToServer(std::function<void()> then = {});

// What an exit in the middle of a job left behind, removed at start: copies
// being fetched (".part"), the self-update's data\tmp, and a delivery's
// temporary file, which a later delivery would otherwise go on in place.
void removeLeftovers();

}  // namespace Work
