// The one owner of the server session and of the work in progress (a check,
// a delivery run, a self-update, a connect). Long work pumps messages, so
// any click or timer can arrive in the middle of it: every entry point asks
// here first, and what would conflict is refused with no side effect.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class cFTP;
class TransferObserver;

// An entry of the issue list, as the check makes it.
struct IssueEntry {
    std::string key, title, issue;
    std::string magazine;  // the server's bytes, as the catalogue holds them
    std::string size;
    std::string record;    // the server's bytes, as the catalogue holds them
};

// The one way the jobs reach the windows: what to show, which issue's
// status changed, and what to ask the user (the answer comes back as a call
// into the owner). The forms implement it; without them nothing is shown.
class WorkObserver {
public:
    virtual ~WorkObserver() = default;
    virtual void toolTipChanged(const std::string&) {}
    // bStart: a transfer of lMaximum bytes begins. Otherwise lValue bytes
    // have come; lValue == lMinimum ends the display.
    virtual void transferProgress(int64_t, int64_t, int64_t, bool) {}
    virtual void statusText(int16_t, const std::string&) {}
    // Holds the caller while the delivery is paused.
    virtual void holdWhilePaused() {}
    // The user pressed something that sRunning (what runs) refused.
    virtual void refused(const std::string&) {}
    // The job that held the work has let it go.
    virtual void workEnded() {}
    // The window that parents what connecting may show.
    virtual HWND ownerWindow() const { return nullptr; }

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

    // The issue list, addressed by key.
    virtual void clearIssues() {}
    virtual void showIssues(bool) {}
    virtual void beginIssues() {}
    virtual void addIssue(const IssueEntry&) {}
    // Sorted by magazine, every entry ticked when bTickAll.
    virtual void endIssues(bool) {}
    // Fresh keys for every entry, in list order, for one run of a command.
    virtual std::vector<std::string> rekeyIssues() { return {}; }
    virtual std::vector<std::string> tickedIssues() { return {}; }
    virtual bool issueTicked(const std::string&) { return false; }
    virtual bool findIssue(const std::string&, IssueEntry&) { return false; }
    virtual void issueStatusChanged(const std::string&, const std::string&) {}
    virtual void issueDone(const std::string&) {}
    virtual int issueCount() { return 0; }
};

namespace Work {

// What the work holds while the program runs.
inline bool checkRunning = false;
inline bool checkDone = false;
inline int32_t newIssueCount = 0;
inline bool deliveryPaused = false;
inline bool deliveryCancelled = false;
inline int16_t failedCount = 0;
inline bool isConnected = false;
// The delivery type the message dialog chose.
inline std::string fileType = "pdf";               // or "torrent"
inline std::string libraryFolder = "My Magazines"; // or "My Torrents"

// List: a prompt that acts on the issue list is open.
enum class Job { None, Check, Delivery, Update, Connect, List };
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

// Connects as a job of its own when no work runs; refused with no side
// effect otherwise. Callers read isConnected afterwards.
void connectToServer();

// What an exit in the middle of a job left behind, removed at start: copies
// being fetched (".part"), the self-update's data\tmp, and a delivery's
// temporary file, which a later delivery would otherwise go on in place.
void removeLeftovers();

// The forms' observer; null before any form is up, when view() tells nobody.
void setObserver(WorkObserver* observer);
WorkObserver* observer();
WorkObserver& view();
// What the sessions the work opens report to: the view, and the delivery's
// pause and cancel.
TransferObserver& transferObserver();
void tellToolTip(const std::string& sTip);
void tellProgress(int64_t lMinimum, int64_t lMaximum, int64_t lValue, bool bStart);
void tellStatus(int16_t iPanel, const std::string& sText);
void holdWhilePaused();
// The issue buttons and status panels once the list holds newIssueCount
// issues: "Ready" when it is empty, otherwise sWord and the count.
void tellIssueCount(const std::string& sWord);

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

}  // namespace Work
