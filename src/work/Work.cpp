#include "work/Work.h"

#include <memory>
#include <mutex>

#include "base/Handles.h"
#include "base/ModCommon.h"
#include "ftp/TransferObserver.h"
#include "ftp/cFTP.h"
#include "ftp/modFTP.h"
#include "work/Delivery.h"

namespace Work {

namespace {

constexpr wchar_t kReportClass[] = L"QuilloraReports";
constexpr UINT kReportMessage = WM_APP + 7;
// How often a held or waiting job looks at its signals again.
constexpr DWORD kSignalPollMs = 50;

// --- the window thread's ---
DWORD uiThread = 0;
HWND reportWindow = nullptr;
WorkObserver* watcher = nullptr;
Job current = Job::None;

// --- shared ---
std::atomic<bool> stopAsked{false};
// Counts the engine's stops: a report posted before the last one is dropped.
std::atomic<unsigned> lifetime{0};
std::atomic<Job> engineJob{Job::None};
AutoHandle jobReady, wake, thread;
std::function<void()> pendingBody, pendingThen;
std::mutex sessionLock;
std::shared_ptr<cFTP> currentSession;
std::atomic<ULONGLONG> wokeAt{0};

LRESULT CALLBACK reportProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != kReportMessage)
        return DefWindowProcW(h, msg, wp, lp);
    std::unique_ptr<std::function<void()>> report(reinterpret_cast<std::function<void()>*>(lp));
    (*report)();
    return 0;
}

// The reports' window belongs to the thread that first starts a job or
// watches the work: the window thread.
void attach() {
    if (reportWindow)
        return;
    uiThread = GetCurrentThreadId();
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = reportProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kReportClass;
        return RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
    reportWindow = CreateWindowExW(0, kReportClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
}

bool onWindowThread() { return !reportWindow || GetCurrentThreadId() == uiThread; }

std::shared_ptr<cFTP> sessionNow() {
    std::lock_guard<std::mutex> lock(sessionLock);
    return currentSession;
}

// Ends whatever the session waits for: the blocked call fails at once.
void cutSession() {
    if (auto ftp = sessionNow())
        ftp->Abort();
}

DWORD WINAPI engineLoop(void*) {
    for (;;) {
        WaitForSingleObject(jobReady.get(), INFINITE);
        if (stopAsked)
            return 0;
        std::function<void()> body = std::move(pendingBody), then = std::move(pendingThen);
        try {
            body();
        } catch (...) {
            // A job that fails this way ends as any other; the program goes on.
        }
        const Job job = engineJob.exchange(Job::None);
        post([then = std::move(then), job] {
            current = Job::None;
            // A pause ends with its run; a cancel stays as the run's outcome
            // until the next run starts.
            if (job == Job::Delivery)
                deliveryPaused = false;
            if (stopAsked)
                return;
            if (then)
                then();
            if (watcher && current == Job::None)
                watcher->workEnded();
        });
    }
}

// Tells nobody: the view before any form is up.
WorkObserver nobody;

// The sessions' reports go to the view; their pause and cancel are the
// delivery's.
class Sink final : public TransferObserver {
public:
    void toolTipChanged(const std::string& sTip) override { tellToolTip(sTip); }
    void transferProgress(int64_t lMinimum, int64_t lMaximum, int64_t lValue, bool bStart) override {
        tell([=](WorkObserver& w) { w.transferProgress(lMinimum, lMaximum, lValue, bStart); });
    }
    void statusText(int16_t iPanel, const std::string& sText) override { tellStatus(iPanel, sText); }
    bool pauseAsked() const override { return engineJob == Job::Delivery && deliveryPaused; }
    void holdWhilePaused() override { Work::holdWhilePaused(); }
    bool cancelAsked() const override { return cancelled(); }
};

}  // namespace

bool start(Job job, std::function<void()> body, std::function<void()> then) {
    attach();
    if (current != Job::None || stopAsked)
        return false;
    if (!thread) {
        jobReady.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        wake.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        thread.reset(CreateThread(nullptr, 0, engineLoop, nullptr, 0, nullptr));
        if (!thread)
            return false;
    }
    current = job;
    if (job == Job::Delivery || job == Job::MoveLibrary)
        deliveryPaused = deliveryCancelled = false;
    engineJob = job;
    pendingBody = std::move(body);
    pendingThen = std::move(then);
    SetEvent(jobReady.get());
    return true;
}

bool busy() { return current != Job::None; }

Claim::Claim(Job job) : job_(job) {
    if (current != Job::None || stopAsked)
        return;
    current = job;
    held_ = true;
}

Claim::~Claim() {
    if (held_ && current == job_)
        current = Job::None;
}
Job running() { return current; }

void pauseDelivery() {
    if (!deliveryCancelled)
        deliveryPaused = true;
}

void resumeDelivery() {
    deliveryPaused = false;
    if (wake)
        SetEvent(wake.get());
}

void cancelDelivery() {
    deliveryCancelled = true;
    deliveryPaused = false;
    if (wake)
        SetEvent(wake.get());
    // Only a delivery's calls are ended: the cancel is the run's.
    if (engineJob == Job::Delivery)
        cutSession();
}

void cancelMove() {
    if (engineJob == Job::MoveLibrary)
        deliveryCancelled = true;
}

void wokeFromSleep() { wokeAt = GetTickCount64(); }

bool justWoke() {
    const ULONGLONG at = wokeAt;
    return at != 0 && GetTickCount64() - at < wakeGraceMs;
}

void stop() {
    stopAsked = true;
    if (!thread)
        return;
    SetEvent(wake.get());
    cutSession();
    SetEvent(jobReady.get());
    WaitForSingleObject(thread.get(), INFINITE);
    thread.reset();
    current = Job::None;
    // What the stopped job still had to say goes unsaid: the forms it would
    // reach are about to go, and a restarted engine's jobs are not its.
    ++lifetime;
}

void restart() {
    stop();
    stopAsked = false;
    engineJob = Job::None;
}

void setObserver(WorkObserver* observer) {
    attach();
    watcher = observer;
}

WorkObserver* observer() { return watcher; }

void post(std::function<void()> report) {
    if (onWindowThread()) {
        report();
        return;
    }
    auto* heap = new std::function<void()>([report = std::move(report), posted = lifetime.load()] {
        if (posted == lifetime)
            report();
    });
    if (!PostMessageW(reportWindow, kReportMessage, 0, reinterpret_cast<LPARAM>(heap)))
        delete heap;
}

void tell(std::function<void(WorkObserver&)> fn) {
    post([fn = std::move(fn)] { fn(watcher ? *watcher : nobody); });
}

void tellToolTip(const std::string& sTip) {
    tell([sTip](WorkObserver& w) { w.toolTipChanged(sTip); });
}

void tellStatus(int16_t iPanel, const std::string& sText) {
    tell([iPanel, sText](WorkObserver& w) { w.statusText(iPanel, sText); });
}

void tellIssues() {
    tell([](WorkObserver& w) { w.issuesChanged(); });
}

void tellIssueCount(const std::string& sWord) {
    const int32_t count = newIssueCount;
    tell([count, sWord](WorkObserver& w) {
        w.issueCommandsEnabled(count >= 1);
        w.statusText(1, count < 1 ? "Ready" : sWord);
        w.statusText(2, count < 1 ? "" : ModCommon::toDecimal(count));
    });
}

bool cancelled() {
    return stopAsked || ((engineJob == Job::Delivery || engineJob == Job::MoveLibrary) && deliveryCancelled);
}

void holdWhilePaused() {
    while (deliveryPaused && !cancelled())
        WaitForSingleObject(wake.get(), kSignalPollMs);
}

bool waitFor(DWORD ms) {
    const ULONGLONG until = GetTickCount64() + ms;
    for (ULONGLONG now = GetTickCount64(); now < until && !cancelled(); now = GetTickCount64()) {
        if (deliveryPaused) {
            holdWhilePaused();
            break;
        }
        WaitForSingleObject(wake.get(), static_cast<DWORD>(std::min<ULONGLONG>(until - now, kSignalPollMs)));
    }
    return !cancelled();
}

std::shared_ptr<cFTP> session() { return sessionNow(); }

bool connect() {
    auto ftp = modFTP::newSession(&transferObserver());
    {
        // Published before it connects, so a cancel or the stop can end the wait.
        std::lock_guard<std::mutex> lock(sessionLock);
        currentSession = ftp;
    }
    if (!stopAsked)
        modFTP::openSession(*ftp);
    isConnected = ftp->connected();
    tellToolTip(modFTP::connectionTip(isConnected));
    return isConnected;
}

TransferObserver& transferObserver() {
    static Sink sink;
    return sink;
}

bool connectToServer(std::function<void()> then) { return start(Job::Connect, [] { connect(); }, std::move(then)); }

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
        for (const std::string& magazine : fs.SubFolders(ModCommon::libraryRoot() + library))
            fs.DeleteFile(ModCommon::libraryRoot() + library + magazine + "\\" + partialDownloadName);
}

}  // namespace Work
