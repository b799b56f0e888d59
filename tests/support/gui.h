// Helpers for tests that drive real windows on the test's own thread.
#pragma once
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

#include "base/ModCommon.h"
#include "work/Work.h"
#include "support/ScratchFolder.h"

// Lets messages run for about ms milliseconds.
inline void pumpFor(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        ModCommon::doEvents();
        Sleep(5);
    }
}

// Pumps until the condition holds or ms pass; returns the condition.
inline bool pumpUntil(const std::function<bool()>& done, int ms = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        ModCommon::doEvents();
        Sleep(5);
    }
    return true;
}

// Pumps the window thread's messages until the job that runs has ended and
// every report of it has been shown; false when it runs on past ms.
inline bool finishWork(int ms = 120000) {
    // A click still queued may be what starts the job.
    ModCommon::doEvents();
    return pumpUntil([] { return !Work::busy(); }, ms);
}

// Runs fn as a job on the engine and waits for it; false when it could not start.
inline bool runOnEngine(std::function<void()> fn, Work::Job job = Work::Job::Update) {
    return Work::start(job, std::move(fn)) && finishWork();
}

// Keeps the engine busy with a job that waits until this goes out of scope.
class BusyEngine {
public:
    explicit BusyEngine(Work::Job job = Work::Job::Connect) : release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        HANDLE release = release_;
        started = Work::start(job, [release] { WaitForSingleObject(release, INFINITE); });
    }
    ~BusyEngine() {
        SetEvent(release_);
        finishWork();
        CloseHandle(release_);
    }
    bool started = false;

private:
    HANDLE release_;
};

// A server that accepts connections and never says a word, as a network
// that swallows traffic does: the system completes the connection from the
// listening queue, and nothing ever answers.
class SilentServer {
public:
    SilentServer();
    ~SilentServer();
    // "127.0.0.1:port", for TOLV_SERVER.
    std::string address() const;

private:
    uintptr_t socket_ = ~uintptr_t{0};
    unsigned short port_ = 0;
};

// Input as a user gives it, queued for whatever loop pumps next: a button
// press, the close box of a window, a click on a toolbar button (0-based),
// the menu item with that caption.
void pressButton(HWND hButton);
void pressCloseBox(HWND hWindow);
void clickToolbarButton(HWND hToolbar, int index);
void chooseMenuItem(HWND hOwner, HMENU hMenu, const std::string& sCaption);

// Runs fn once from the message loop after ms milliseconds (for code that
// sits in a modal loop meanwhile).
void runLater(int ms, std::function<void()> fn);
// Runs fn once from the message loop as soon as ready() holds.
inline void runWhen(std::function<bool()> ready, std::function<void()> fn) {
    runLater(20, [ready, fn] { ready() ? fn() : runWhen(ready, fn); });
}

// A fresh, empty program folder under the temporary folder; removed by the
// destructor, and made the program folder while it lives.
class ScratchProgramFolder {
public:
    ScratchProgramFolder() : previous_(ModCommon::programFolder()) { ModCommon::setProgramFolder(folder_.path()); }
    ~ScratchProgramFolder() { ModCommon::setProgramFolder(previous_); }
    const std::string& path() const { return folder_.path(); }

private:
    std::string previous_;
    ScratchFolder folder_;
};

// Records what would have been shown in the platform message box, answering
// with a fixed button.
class PromptRecorder {
public:
    explicit PromptRecorder(int answer = IDOK);
    ~PromptRecorder();
    int count = 0;
    std::string lastText;
    UINT lastFlags = 0;
    int answer;
};
