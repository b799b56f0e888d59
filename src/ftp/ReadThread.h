// Runs a transfer's blocking reads on a thread of its own. The platform's
// FTP reads wait until every byte asked for is there, and asking what has
// arrived waits too when nothing has; so the window thread only hands each
// read over and waits for it in short slices, letting window messages run
// meanwhile. Everything else stays on the window thread.
#pragma once
#include <windows.h>

#include <functional>

#include "app/Handles.h"

class ReadThread {
public:
    ReadThread();
    ~ReadThread();
    ReadThread(const ReadThread&) = delete;
    ReadThread& operator=(const ReadThread&) = delete;

    // Runs read on the thread and gives its result (with its last error).
    // Until it returns, messages run as they come (beforeMessages, when
    // given, first brings the display up to date), and giveUp is asked after
    // each; once it says yes, interrupt must make the read end soon, and the
    // result is false.
    bool run(const std::function<bool()>& read, const std::function<bool()>& giveUp,
             const std::function<void()>& interrupt, const std::function<void()>& beforeMessages = {});

    // Runs call on the thread; meanwhile answers only the messages that other
    // threads and programs send (a screen reader asking for a window's
    // text), so nothing of this program runs before call is done.
    void runAnsweringOnly(const std::function<void()>& call);

private:
    static DWORD WINAPI loop(void* p);
    AutoHandle request_, done_, thread_;
    const std::function<bool()>* read_ = nullptr;
    bool result_ = false;
    DWORD error_ = 0;
};
