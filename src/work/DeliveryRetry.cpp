#include "work/DeliveryRetry.h"

#include <algorithm>
#include <cstdint>
#include <random>

#include "base/Log.h"
#include "base/ModCommon.h"
#include "ftp/cFTP.h"
#include "text/Text.h"
#include "work/Delivery.h"
#include "work/Work.h"

using namespace ModCommon;
using namespace Work;

namespace deliveryRetry {

namespace {

constexpr const char* retryingText = "Retrying...";
constexpr const char* waitingText = "Waiting for the network...";

DWORD stretched(DWORD ms) {
    static std::minstd_rand random(GetTickCount());
    std::uniform_real_distribution<double> factor(0.75, 1.25);
    return static_cast<DWORD>(ms * factor(random));
}

// Holds the delivery for about ms. Pause holds it until Resume, which tries
// again at once; Cancel ends it. False when cancelled.
bool waitBeforeRetry(DWORD ms, const char* sNote = retryingText) {
    // A held delivery already says why it waits.
    if (!Work::deliveryPaused) {
        tell([sNote](WorkObserver& w) { w.deliveryNote(sNote); });
        tellStatus(1, sNote);
    }
    return Work::waitFor(stretched(ms));
}

bool diskFull(DWORD lError) {
    return lError == ERROR_DISK_FULL || lError == ERROR_HANDLE_DISK_FULL;
}

// A login the server refused will be refused again.
bool loginRefused() {
    const auto ftp = Work::session();
    const std::string error = ftp ? ftp->GetLastErrorMessage() : "";
    return error.rfind("530", 0) == 0 || error.find(" code: 12014 ") != std::string::npos ||
           error.find(" code: 12015 ") != std::string::npos;
}

// Unreachable: no connection to the server could be made at all.
enum class Try { Done, Permanent, Transient, Resumable, Unreachable };

// One try, and what the failure of it means for the next.
Try tryOnce(const std::string& sRemote, const std::string& sLocal, bool bResume, std::string& sFailure,
            const std::string& sTitle) {
    if (bResume && !ensureSession())
        return loginRefused() ? Try::Permanent : cancelled() ? Try::Transient : Try::Unreachable;
    if (downloadIssueFile(sRemote, sLocal, bResume))
        return Try::Done;
    const auto ftp = Work::session();
    if (cancelled() || !ftp)
        return Try::Permanent;
    switch (ftp->LastOutcome()) {
        case cFTP::Outcome::WriteFailed:
            if (diskFull(ftp->LastWriteError()))
                sFailure = noRoomText(sTitle);
            return Try::Permanent;
        case cFTP::Outcome::Lost:
            break;
        default:
            // A refusal on a session that has gone is the session's doing.
            if (ftp->CheckSession())
                return Try::Permanent;
    }
    // A transfer held by a long pause loses its connections to the server's
    // idle time-out: that costs no try.
    return ftp->LastHeldByPause() ? Try::Resumable : Try::Transient;
}

// One line per failed try, with the server's last word on it.
void logTry(const std::string& sRemote, Try outcome, size_t tries, size_t retries, bool bWaiting) {
    std::string what = "try " + std::to_string(tries) + " of " + sRemote + " failed";
    if (outcome == Try::Permanent)
        what += ", for good";
    else if (outcome == Try::Resumable)
        what += " after a pause held it; going on at once";
    else {
        if (outcome == Try::Unreachable)
            what += ": the server cannot be reached";
        if (bWaiting)
            what += "; waiting for the network, which costs no try";
        else if (retries < waitsMs.size())
            what += "; retrying in about " + std::to_string(waitsMs[retries]) + " ms";
        else
            what += "; no tries left";
    }
    const auto ftp = Work::session();
    Log::line(what, ftp ? ftp->LastReply() : "", ftp ? ftp->LastErrorCode() : 0);
}

}  // namespace

bool ensureSession() {
    const auto ftp = Work::session();
    return (ftp && ftp->CheckSession()) || (!cancelled() && Work::connect());
}

bool roomFor(const std::string& sFolder, int64_t llBytes) {
    std::string folder = sFolder;
    while (!fileSystem.FolderExists(folder)) {
        const size_t slash = folder.find_last_of('\\');
        if (slash == std::string::npos || slash == 0)
            return true;
        folder.resize(slash);
    }
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(Text::wide(folder + "\\").c_str(), &available, nullptr, nullptr))
        return true;  // the write will tell
    return static_cast<int64_t>(available.QuadPart) >= llBytes;
}

std::string noRoomText(const std::string& sTitle) {
    // The compact dialog shows four lines: a long title needs two of them.
    return "Not enough free disk space for " + sTitle + ".";
}

bool downloadWithRetries(const std::string& sRemote, const std::string& sLocal, uint32_t id,
                         const std::string& sTitle, std::string& sFailure) {
    size_t retries = 0, tries = 0;
    ULONGLONG awaySince = 0;  // since when no connection to the server could be made
    for (bool resume = false;; resume = true) {
        const Try outcome = tryOnce(sRemote, sLocal, resume, sFailure, sTitle);
        const ULONGLONG now = GetTickCount64();
        const bool awayBegins = outcome == Try::Unreachable && awaySince == 0;
        awaySince = outcome != Try::Unreachable ? 0 : awayBegins ? now : awaySince;
        // Waiting for the network spends no try: when it went away (a lost
        // Wi-Fi, a cable), for networkWaitMs; just after a wake, when it is
        // often not back; and when a connection is lost while the delivery
        // is held (by Pause, or by a sleep, which takes the network with it).
        const bool away = awaySince != 0 && now - awaySince < networkWaitMs;
        const bool waiting = away || Work::justWoke() || Work::deliveryPaused;
        // A network away is logged when the wait for it begins.
        if (outcome != Try::Done && !cancelled() && (!away || awayBegins))
            logTry(sRemote, outcome, ++tries, retries, waiting);
        switch (outcome) {
            case Try::Done:
                return true;
            case Try::Permanent:
                return false;
            case Try::Resumable:
                continue;
            case Try::Transient:
            case Try::Unreachable:
                break;
        }
        if (!waiting && retries == waitsMs.size())
            return false;
        const char* note = away ? waitingText : retryingText;
        setIssueStatus(note, id);
        if (!waitBeforeRetry(waiting ? wakePollMs : waitsMs[retries++], note))
            return false;
        setIssueStatus("Delivering...", id);
    }
}

}  // namespace deliveryRetry
