#include "ftp/ReadThread.h"

#include "app/ModCommon.h"

namespace {

// The longest the window thread waits without looking at its messages. A
// read that ends within the first slice lets none run, so the messages come
// where the transfer's own pumps put them whenever the data is there.
constexpr DWORD sliceMs = 50;

bool quitPending() {
    MSG msg;
    return PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE);
}

}  // namespace

ReadThread::ReadThread()
    : request_(CreateEventA(nullptr, FALSE, FALSE, nullptr)), done_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
    thread_.reset(CreateThread(nullptr, 0, loop, this, 0, nullptr));
}

ReadThread::~ReadThread() {
    if (!thread_)
        return;
    read_ = nullptr;
    SetEvent(request_.get());
    WaitForSingleObject(thread_.get(), INFINITE);
}

DWORD WINAPI ReadThread::loop(void* p) {
    auto* self = static_cast<ReadThread*>(p);
    for (;;) {
        WaitForSingleObject(self->request_.get(), INFINITE);
        if (!self->read_)
            return 0;
        self->result_ = (*self->read_)();
        self->error_ = GetLastError();
        SetEvent(self->done_.get());
    }
}

void ReadThread::runAnsweringOnly(const std::function<void()>& call) {
    const std::function<bool()> read = [&] { return call(), true; };
    if (!thread_) {
        read();
        return;
    }
    read_ = &read;
    SetEvent(request_.get());
    HANDLE done = done_.get();
    while (MsgWaitForMultipleObjectsEx(1, &done, sliceMs, QS_SENDMESSAGE, 0) != WAIT_OBJECT_0) {
        // Delivers what was sent, removes nothing from the queue.
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    SetLastError(error_);
}

bool ReadThread::run(const std::function<bool()>& read, const std::function<bool()>& giveUp,
                     const std::function<void()>& interrupt, const std::function<void()>& beforeMessages) {
    if (!thread_)
        return read();
    read_ = &read;
    SetEvent(request_.get());
    HANDLE done = done_.get();
    bool gaveUp = false;
    if (WaitForSingleObject(done, sliceMs) != WAIT_OBJECT_0) {
        if (beforeMessages)
            beforeMessages();
        for (;;) {
            // A quit left for the main loop would wake every wait at once.
            const DWORD woke = quitPending() ? WaitForSingleObject(done, sliceMs)
                                             : MsgWaitForMultipleObjectsEx(1, &done, sliceMs, QS_ALLINPUT,
                                                                           MWMO_INPUTAVAILABLE);
            if (woke == WAIT_OBJECT_0)
                break;
            if (woke == WAIT_OBJECT_0 + 1)
                ModCommon::doEvents();
            if (!gaveUp && giveUp()) {
                gaveUp = true;
                interrupt();
            }
        }
    }
    SetLastError(error_);
    return result_ && !gaveUp;
}
