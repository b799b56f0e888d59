// What a transfer tells, and asks, whoever started it. The transport knows
// nothing of the work above it: the caller hands a session one of these.
#pragma once
#include <cstdint>
#include <string>

class TransferObserver {
public:
    virtual ~TransferObserver() = default;
    virtual void toolTipChanged(const std::string&) {}
    // bStart: a transfer of lMaximum bytes begins. Otherwise lValue bytes
    // have come; lValue == lMinimum ends the display.
    virtual void transferProgress(int64_t, int64_t, int64_t, bool) {}
    virtual void statusText(int16_t, const std::string&) {}
    // Asked before every block: a pause holds the transfer in holdWhilePaused
    // until it is resumed or cancelled; a cancel ends it.
    virtual bool pauseAsked() const { return false; }
    virtual void holdWhilePaused() {}
    virtual bool cancelAsked() const { return false; }
};
