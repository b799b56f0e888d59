// The Windows half of tools/bench-sleep: the computer's sleep and wake with
// the program's own waits (20 s to the wake's first check, then 1, 2, 4 and
// 5 minutes; 120 s in which a delivery waits for the network without
// spending a try), against the sample publisher the script started.
//   bench-sleep.exe delivery PROGRAM_FOLDER SERVER_DIR ISSUE ASLEEP_S BACK_AFTER_WAKE_S
//   bench-sleep.exe week PROGRAM_FOLDER SERVER_DIR DOWN_AFTER_WAKE_S [tick-first]
// SERVER_DIR is the publisher's folder (port, log, root) as a Unix path;
// ISSUE the issue's path below /pub/, its record new in the catalogue.
// "Unreachable" points the program at a port where nothing listens; going to
// sleep also cuts the session's connections, as the network that goes with
// the sleep does.
#include <windows.h>
#include <commctrl.h>

// GCC 12 misreads "text" + std::to_string(n) as an overlapping copy.
#pragma GCC diagnostic ignored "-Wrestrict"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "PublisherFixture.h"
#include "app/StartUp.h"
#include "base/Log.h"
#include "base/ModCommon.h"
#include "catalogue/Catalogue.h"
#include "dialog/frmmess.h"
#include "ftp/cFTP.h"
#include "library/frmmain.h"
#include "tray/frmtray.h"
#include "work/Check.h"
#include "work/Delivery.h"
#include "work/Work.h"

using namespace ModCommon;
using Clock = std::chrono::steady_clock;

namespace {

// How long either part may run before it gives up on the program.
constexpr int partDeadlineS = 600;
constexpr const char* nowhere = "127.0.0.1:9";
// With tick-first: how long after the minute's overdue tick the wake's messages come.
constexpr double tickFirstS = 1;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

std::string serverAddress(const std::string& serverDir) {
    std::ifstream in(heart::winePath(serverDir + "/port"));
    std::string port;
    in >> port;
    return "127.0.0.1:" + port;
}

void pointAt(const std::string& address) { SetEnvironmentVariableA("TOLV_SERVER", address.c_str()); }

// Lets the window thread run until done() holds or the seconds pass; watch
// runs after every round of messages.
bool pumpUntil(const std::function<bool()>& done, double seconds, const std::function<void()>& watch = {}) {
    const auto start = Clock::now();
    while (!done()) {
        if (secondsSince(start) >= seconds)
            return false;
        doEvents();
        if (watch)
            watch();
        Sleep(5);
    }
    return true;
}

void send(UINT event) { SendMessageW(frmtray::instance().hwnd(), WM_POWERBROADCAST, event, 0); }

// The dialog as a user reads it, on one line.
std::string dialogText() {
    if (!frmmess::exists())
        return "(no dialog)";
    frmmess& m = frmmess::instance();
    std::string text = "\"";
    for (char c : m.message())
        text += c == '\n' ? std::string("\\n") : std::string(1, c);
    text += "\"";
    if (m.buttonVisible(0) || m.buttonVisible(1) || m.buttonVisible(2)) {
        text += " [";
        bool first = true;
        for (int i = 0; i < 3; ++i)
            if (m.buttonVisible(i)) {
                text += (first ? "" : " | ") + m.buttonCaption(i);
                first = false;
            }
        text += "]";
    }
    // The line under the text, but for the progress it counts.
    const std::string note = m.message2();
    if (!note.empty() && !note.ends_with("% complete."))
        text += " note \"" + note + "\"";
    return text;
}

void addDistinct(std::vector<std::string>& seen, const std::string& text) {
    if (seen.empty() || seen.back() != text)
        seen.push_back(text);
}

std::string readFile(const std::string& path) {
    std::string text;
    fileSystem.ReadAll(path, text);
    return text;
}

// The program's own log from the given length on, each line indented.
std::string logSince(size_t from) {
    const std::string text = readFile(Log::path());
    std::string out;
    for (size_t at = from; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        out += "    " + line + "\n";
        at = end + 1;
    }
    return out;
}

int countIn(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Each RETR of the file in the server's log: its bytes and seconds.
struct Transfer {
    long long bytes = 0;
    double seconds = 0;
};
std::vector<Transfer> transfers(const heart::ServerLog& log, const std::string& name) {
    std::vector<Transfer> out;
    const std::string text = log.since();
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = text.substr(at, end - at);
        const size_t named = line.find("/" + name + " completed=");
        if (line.find(" RETR ") == std::string::npos || named == std::string::npos)
            continue;
        const size_t bytes = line.find("bytes=", named), seconds = line.find("seconds=", named);
        if (bytes != std::string::npos && seconds != std::string::npos)
            out.push_back({std::atoll(line.c_str() + bytes + 6), std::atof(line.c_str() + seconds + 8)});
    }
    return out;
}

int prompts = 0;
std::string lastPrompt;

// The program as it runs in the notification area, in its own folder.
void startProgram(const std::string& folder) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    fileSystem.CreateFolder(folder);
    setProgramFolder(folder);
    StartUp::createLibraryFolders();
    setPromptHook([](const std::string& text, UINT) {
        ++prompts;
        lastPrompt = text;
        return IDOK;
    });
    frmtray::instance();
    frmmain::instance();
}

void endProgram() {
    Work::stop();
    frmmess::unload();
    frmmain::unload();
    frmtray::unload();
}

int deliveryPart(const std::string& folder, const std::string& serverDir, const std::string& issue,
                 double asleepS, double backAfterWakeS) {
    startProgram(folder);
    const std::string server = serverAddress(serverDir);
    const std::string pub = heart::winePath(serverDir + "/root/pub");
    std::string local = issue, name = issue;
    for (char& c : local)
        if (c == '/')
            c = '\\';
    name.erase(0, name.rfind('/') + 1);
    const std::string magazine = local.substr(0, local.rfind('\\'));
    const std::string record = name.substr(0, name.rfind('.')) + ".f#";

    // Every other record of the catalogue is known already: only this issue is new.
    std::string known;
    const std::string catalogue = readFile(pub + "\\" + Catalogue::kServerCatalogue);
    for (size_t at = 0, end; (end = catalogue.find(';', at)) != std::string::npos; at = end + 1)
        if (catalogue.compare(at, end - at, record) != 0)
            known += catalogue.substr(at, end - at + 1);
    fileSystem.Append(dataPath + Catalogue::kLocalCatalogue, known);

    pointAt(server);
    checkNewIssues(false);
    pumpUntil([] { return !Work::busy(); }, partDeadlineS);
    frmmain& w = frmmain::instance();
    if (w.issueCount() != 1) {
        std::printf("the check listed %d issues, not the one new issue; stopped\n%s", w.issueCount(),
                    logSince(0).c_str());
        endProgram();
        return 1;
    }
    const int64_t size = fileSystem.FileSize(pub + "\\" + local);
    const std::string partial = libraryRoot() + "\\" + Work::libraryFolder + "\\" + magazine + "\\" +
                                partialDownloadName;
    const heart::ServerLog log(serverDir);
    const size_t logFrom = readFile(Log::path()).size();

    const auto started = Clock::now();
    w.deliverAll();
    // A third of the way.
    pumpUntil([&] { return !Work::busy() || fileSystem.FileSize(partial) >= size / 3; }, partDeadlineS);
    if (!Work::busy()) {
        std::printf("the delivery ended before a third had arrived; stopped\n");
        endProgram();
        return 1;
    }
    const int64_t suspendedAt = fileSystem.FileSize(partial);
    const double suspendedAfter = secondsSince(started);
    send(PBT_APMSUSPEND);
    pointAt(nowhere);
    if (const auto ftp = Work::session())
        ftp->Abort();

    std::vector<std::string> asleep;
    addDistinct(asleep, dialogText());
    pumpUntil([] { return false; }, asleepS, [&] { addDistinct(asleep, dialogText()); });
    const bool heldAsleep = Work::busy();
    const int64_t afterSleep = fileSystem.FileSize(partial);

    if (backAfterWakeS <= 0)
        pointAt(server);
    const auto woke = Clock::now();
    send(PBT_APMRESUMEAUTOMATIC);
    send(PBT_APMRESUMESUSPEND);
    std::vector<std::string> awake;
    addDistinct(awake, dialogText());
    bool back = backAfterWakeS <= 0;
    const bool ended = pumpUntil([] { return !Work::busy(); }, partDeadlineS, [&] {
        if (!back && secondsSince(woke) >= backAfterWakeS) {
            pointAt(server);
            back = true;
        }
        addDistinct(awake, dialogText());
    });
    const double wakeToEnd = secondsSince(woke);

    const std::string arrived = readFile(libraryRoot() + "\\" + Work::libraryFolder + "\\" + local);
    const bool exact = !arrived.empty() && arrived == readFile(pub + "\\" + local);
    const std::vector<Transfer> sent = transfers(log, name);
    long long total = 0;
    for (const Transfer& t : sent)
        total += t.bytes;

    std::printf("issue: /pub/%s, %lld bytes\n", issue.c_str(), static_cast<long long>(size));
    std::printf("suspended %.1f s into the delivery, %lld bytes on disk (%.1f %%); the server unreachable "
                "for %.0f s\n",
                suspendedAfter, static_cast<long long>(suspendedAt), 100.0 * double(suspendedAt) / double(size),
                asleepS);
    std::printf("dialog while asleep:\n");
    for (const std::string& text : asleep)
        std::printf("    %s\n", text.c_str());
    std::printf("delivery held while asleep: %s (%lld bytes written meanwhile)\n", heldAsleep ? "yes" : "NO, it ended",
                static_cast<long long>(afterSleep - suspendedAt));
    if (backAfterWakeS > 0)
        std::printf("woke (PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND); the server back %.0f s later\n",
                    backAfterWakeS);
    else
        std::printf("woke (PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND) with the server answering again\n");
    std::printf("dialog from the wake on:\n");
    for (const std::string& text : awake)
        std::printf("    %s\n", text.c_str());
    std::printf("arrived byte-exact: %s\n", exact ? "yes" : "NO");
    std::printf("RETR of the issue: %zu, REST: %d\n", sent.size(), log.count("] REST "));
    std::printf("bytes the server sent for it: %lld (%.3f x its %lld bytes)", total, double(total) / double(size),
                static_cast<long long>(size));
    for (size_t i = 0; i < sent.size(); ++i)
        std::printf("%s%lld in %.1f s", i == 0 ? "; per RETR: " : " + ", sent[i].bytes, sent[i].seconds);
    std::printf("\n");
    std::printf("failed (Work::failedCount): %d; message boxes: %d%s%s\n", Work::failedCount, prompts,
                prompts ? ", the last: " : "", lastPrompt.c_str());
    if (ended)
        std::printf("from the wake to the end of the delivery: %.1f s\n", wakeToEnd);
    else
        std::printf("the delivery had not ended %.0f s after the wake\n", wakeToEnd);
    std::printf("the program's log of the delivery:\n%s", logSince(logFrom).c_str());
    endProgram();
    return exact && Work::failedCount == 0 ? 0 : 1;
}

int weekPart(const std::string& folder, const std::string& serverDir, double downAfterWakeS, bool tickFirst) {
    startProgram(folder);
    const std::string server = serverAddress(serverDir);
    frmtray& tray = frmtray::instance();
    frmmain& w = frmmain::instance();
    // A week ago the lid closed on a program that had run and checked for a
    // while, connected; the network stays away until after the wake.
    Work::checkDone = true;
    Work::isConnected = true;
    frmtray::lastCheckTime = dateToText(nowAsDate() - 7.0);
    pointAt(nowhere);
    const heart::ServerLog log(serverDir);
    const size_t logFrom = readFile(Log::path()).size();

    send(PBT_APMSUSPEND);
    pumpUntil([] { return false; }, 1);

    std::vector<double> attempts;
    bool wasBusy = Work::busy(), back = false, dialog = false;
    double filled = -1, backAt = -1;
    std::string firstDialog;
    const auto woke = Clock::now();
    const auto watch = [&] {
        const double t = secondsSince(woke);
        if (!back && t >= downAfterWakeS) {
            pointAt(server);
            back = true;
            backAt = t;
        }
        const bool busy = Work::busy();
        if (busy && !wasBusy)
            attempts.push_back(t);
        wasBusy = busy;
        if (frmmess::exists() && !dialog) {
            dialog = true;
            char at[32];
            std::snprintf(at, sizeof at, " at %.1f s", t);
            firstDialog = dialogText() + at;
        }
        if (filled < 0 && w.issueCount() > 0)
            filled = t;
    };
    if (tickFirst) {
        // The minute's timer fell due during the sleep: its tick can come
        // before the system's word of the wake.
        PostMessageW(tray.hwnd(), WM_TIMER, frmtray::autoTmr, 0);
        pumpUntil([] { return false; }, tickFirstS, watch);
    }
    send(PBT_APMRESUMEAUTOMATIC);
    send(PBT_APMRESUMESUSPEND);
    const bool done =
        pumpUntil([&] { return filled >= 0 && !Work::busy() && !tray.afterWake(); }, partDeadlineS, watch);
    // The balloon and anything else the check's end brings.
    pumpUntil([] { return false; }, 3, [&] {
        if (frmmess::exists() && !dialog) {
            dialog = true;
            firstDialog = dialogText();
        }
    });

    const std::string programLog = logSince(logFrom);
    std::printf("last check 7 days before the sleep; the server unreachable until %.0f s after the wake\n",
                downAfterWakeS);
    std::printf("check attempts, seconds after the wake:");
    for (double t : attempts)
        std::printf(" %.1f", t);
    std::printf("\n");
    if (!attempts.empty())
        std::printf("first attempt: %.1f s after the wake\n", attempts.front());
    if (back)
        std::printf("the server answering again: %.1f s after the wake\n", backAt);
    // The attempt that completed the check: the first one once the server answered?
    size_t firstAfterBack = 0;
    while (firstAfterBack < attempts.size() && attempts[firstAfterBack] < backAt)
        ++firstAfterBack;
    const bool completedAtOnce = filled >= 0 && firstAfterBack + 1 == attempts.size();
    if (filled >= 0)
        std::printf("check completed (issue list filled, %d issues): %.1f s after the wake, %.1f s after the "
                    "server answered again, by the %s attempt after that\n",
                    w.issueCount(), filled, filled - backAt, completedAtOnce ? "first" : "NOT first");
    else
        std::printf("no check completed within %d s of the wake\n", partDeadlineS);
    std::printf("checks made: %zu attempts; in the program's log %d failed connects and %d checks started; %d "
                "reached the server (RETR of VORK.ini in its log)\n",
                attempts.size(), countIn(programLog, "connecting to " + std::string(nowhere) + " failed"),
                countIn(programLog, "check started"), static_cast<int>(log.retrieved("VORK.ini").size()));
    std::printf("failure dialog: %s; message boxes: %d%s%s\n", dialog ? firstDialog.c_str() : "none", prompts,
                prompts ? ", the last: " : "", lastPrompt.c_str());
    const bool soon = !attempts.empty() && attempts.front() <= 60;
    std::printf("targets: the first check within 60 s of the wake: %s; the check done by the first attempt once "
                "the server answers: %s; no failure dialog nor message box while unreachable: %s\n",
                soon ? "met" : "NOT met", completedAtOnce ? "met" : "NOT met",
                !dialog && prompts == 0 ? "met" : "NOT met");
    std::printf("the program's log from the sleep on:\n%s", programLog.c_str());
    endProgram();
    return done && !dialog && prompts == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string part = argc > 1 ? argv[1] : "";
    if (part == "delivery" && argc == 7)
        return deliveryPart(argv[2], argv[3], argv[4], std::atof(argv[5]), std::atof(argv[6]));
    if (part == "week" && (argc == 5 || (argc == 6 && std::string(argv[5]) == "tick-first")))
        return weekPart(argv[2], argv[3], std::atof(argv[4]), argc == 6);
    std::fprintf(stderr,
                 "usage: bench-sleep.exe delivery PROGRAM_FOLDER SERVER_DIR ISSUE ASLEEP_S BACK_AFTER_WAKE_S\n"
                 "       bench-sleep.exe week PROGRAM_FOLDER SERVER_DIR DOWN_AFTER_WAKE_S [tick-first]\n");
    return 2;
}
