// A delivery on a real network, against sample publishers with faults: a
// drop or a stall goes on where the file on disk ends, a file changed on the
// server or a server without REST starts again, a 550 is not tried again, a
// pause outlasts the server's idle time-out, and a full disk is said first.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <fstream>
#include <functional>
#include <set>

#include "PublisherFixture.h"
#include "base/ModCommon.h"
#include "app/StartUp.h"
#include "work/Work.h"
#include "work/Check.h"
#include "dialog/frmmess.h"
#include "work/DeliveryRetry.h"
#include "ftp/cFTP.h"
#include "library/frmmain.h"
#include "support/gui.h"
#include "ftp/modFTP.h"

using namespace ModCommon;
using namespace StartUp;
using namespace Work;
using modFTP::transferBusy;

namespace {

std::string retryDir() {
    char buf[1024] = {};
    GetEnvironmentVariableA("TOLV_RETRY_DIR", buf, sizeof buf);
    return buf;
}

// How often sText occurs in the log of the publisher in sServer ("main" or "norest").
int logged(const std::string& sServer, const std::string& sText) {
    std::string log;
    fileSystem.ReadAll(heart::winePath(retryDir() + "/" + sServer + "/log"), log);
    int n = 0;
    for (size_t at = log.find(sText); at != std::string::npos; at = log.find(sText, at + 1)) ++n;
    return n;
}

void pointAt(const std::string& sServer) {
    std::ifstream in(heart::winePath(retryDir() + "/" + sServer + "/port"));
    std::string port;
    in >> port;
    SetEnvironmentVariableA("TOLV_SERVER", ("127.0.0.1:" + port).c_str());
}

// What the issue's status and the dialog's second line showed while a delivery ran.
class Watch {
public:
    explicit Watch(frmmain& w) : w_(w) {
        runLater(pollMs, [this] { poll(); });
    }
    ~Watch() {
        stop_ = true;
        pumpFor(2 * pollMs);
    }
    bool saw(const std::string& sText) const { return seen_.count(sText) > 0; }

private:
    static constexpr int pollMs = 30;
    void poll() {
        if (stop_)
            return;
        if (w_.issueCount() > 0)
            seen_.insert(w_.issueText(0, frmmain::colStatus));
        if (frmmess::exists())
            seen_.insert(frmmess::instance().message2());
        runLater(pollMs, [this] { poll(); });
    }
    frmmain& w_;
    std::set<std::string> seen_;
    bool stop_ = false;
};

class DeliveryRetry : public testing::Test {
protected:
    ScratchProgramFolder folder;
    frmmain* w = nullptr;
    void SetUp() override {
        createLibraryFolders();
        pointAt("main");
        w = &frmmain::instance();
        w->clearIssues();
        frmmess::unload();
        checkRunning = transferBusy = deliveryPaused = deliveryCancelled = false;
        deliveryRetry::waitsMs = {200, 400, 600};
        cFTP::timeOutMs = 1500;
    }
    void TearDown() override {
        frmmess::unload();
        deliveryRetry::waitsMs = {2000, 8000, 30000};
        cFTP::timeOutMs = 30000;
    }
    // Offers the issues of sCatalogue as a check does, and delivers them.
    void deliver(const std::string& sCatalogue, const std::string& sServer = "main") {
        std::ofstream(heart::winePath(retryDir() + "/" + sServer + "/root/pub/em_lst.srv"), std::ios::binary)
            << sCatalogue;
        checkNewIssues(false);
        finishWork();
        ASSERT_GT(w->issueCount(), 0);
        w->deliverAll();
        finishWork();
    }
    std::string delivered(const std::string& sRelative) {
        std::string text;
        fileSystem.ReadAll(programFolder() + "\\My Magazines\\" + sRelative, text);
        return text;
    }
    std::string served(const std::string& sRelative, const std::string& sServer = "main") {
        std::string text;
        fileSystem.ReadAll(heart::winePath(retryDir() + "/" + sServer + "/root/pub/") + sRelative, text);
        return text;
    }
    void expectDelivered(const std::string& sRelative, const std::string& sServer = "main") {
        EXPECT_EQ(frmmess::instance().message(), "Delivery complete.");
        EXPECT_EQ(w->issueCount(), 0);
        const std::string got = delivered(sRelative);
        EXPECT_EQ(got.size(), served(sRelative, sServer).size());
        EXPECT_TRUE(got == served(sRelative, sServer)) << "not byte-exact";
    }
};

}  // namespace

TEST_F(DeliveryRetry, DropAtHalfGoesOnWithOneRest) {
    const int rests = logged("main", "] REST ");
    {
        Watch watch(*w);
        deliver("Dropped_AB_20.f#;");
        EXPECT_TRUE(watch.saw("Retrying..."));
    }
    expectDelivered("Alpine Boating\\Dropped_AB_20.pdf");
    EXPECT_EQ(logged("main", "] REST ") - rests, 1);
}

TEST_F(DeliveryRetry, CancelWhileWaitingToRetryEndsTheRun) {
    deliveryRetry::waitsMs = {8000, 8000, 8000};
    bool over = false;
    std::function<void()> cancelOnRetry = [&] {
        if (w->issueCount() > 0 && w->issueText(0, frmmain::colStatus) == "Retrying...")
            frmmess::instance().cmdmess_Click(1);  // Cancel
        else if (!over)
            runLater(20, cancelOnRetry);
    };
    runLater(20, cancelOnRetry);
    const ULONGLONG start = GetTickCount64();
    deliver("Cancelled_CQ_25.f#;");
    over = true;
    pumpFor(100);
    EXPECT_LT(GetTickCount64() - start, 5000u);  // the wait is at least 6 s
    EXPECT_EQ(frmmess::instance().message(), "Delivery Cancelled");
    ASSERT_EQ(w->issueCount(), 1);
    EXPECT_EQ(w->issueText(0, frmmain::colStatus), "Cancelled");
    EXPECT_TRUE(fileSystem.Files(programFolder() + "\\My Magazines\\Coastal Quilts").empty());
}

TEST_F(DeliveryRetry, FileChangedBetweenTriesStartsAgainFromZero) {
    const std::string signedBytes = served("Coastal Quilts\\Changed_CQ_21.pdf");
    deliver("Changed_CQ_21.f#;");
    // Never spliced from both: the bytes the check's signed list describes,
    // or, when the change came before the last try, nothing until a check
    // has the publisher's new list.
    if (delivered("Coastal Quilts\\Changed_CQ_21.pdf").empty()) {
        EXPECT_EQ(frmmess::instance().message(), "1 failed to deliver.\n\nPlease try again at a later date.");
        EXPECT_TRUE(fileSystem.Files(programFolder() + "\\My Magazines\\Coastal Quilts").empty());
        deliver("Changed_CQ_21.f#;");
        expectDelivered("Coastal Quilts\\Changed_CQ_21.pdf");
    } else {
        EXPECT_EQ(frmmess::instance().message(), "Delivery complete.");
        EXPECT_TRUE(delivered("Coastal Quilts\\Changed_CQ_21.pdf") == signedBytes) << "not byte-exact";
    }
}

TEST_F(DeliveryRetry, StallGoesOnWhereItStopped) {
    const int rests = logged("main", "] REST ");
    deliver("Stalled_HT_22.f#;");
    expectDelivered("Home Tinkerer\\Stalled_HT_22.pdf");
    EXPECT_EQ(logged("main", "] REST ") - rests, 1);
}

TEST_F(DeliveryRetry, ServerWithoutRestStartsAgainFromZero) {
    pointAt("norest");
    const int refused = logged("norest", "] REST "),
              whole = logged("norest", "Dropped_AB_20.pdf completed=1");
    deliver("Dropped_AB_20.f#;", "norest");
    expectDelivered("Alpine Boating\\Dropped_AB_20.pdf", "norest");
    EXPECT_EQ(logged("norest", "] REST ") - refused, 1);
    EXPECT_EQ(logged("norest", "Dropped_AB_20.pdf completed=1") - whole, 1);
}

TEST_F(DeliveryRetry, Answer550IsNotTriedAgain) {
    deliveryRetry::waitsMs = {8000, 8000, 8000};
    w->addIssueEntry("gone", "Gone", "23", "Home Tinkerer", "0.10 MB", "Gone_HT_23.f#");
    w->setLstTick();
    const ULONGLONG start = GetTickCount64();
    w->deliverAll();
    finishWork();
    EXPECT_LT(GetTickCount64() - start, 5000u);  // the shortest wait is 6 s
    EXPECT_EQ(frmmess::instance().message(), "1 failed to deliver.\n\nPlease try again at a later date.");
    ASSERT_EQ(w->issueCount(), 1);
    EXPECT_EQ(w->issueText(0, frmmain::colStatus), "Failed");
}

// The publisher closes a data connection after two seconds without
// progress, and the session with it; the issue is mostly larger than what
// the socket buffers hold, so a paused client loses both and goes on with
// REST (otherwise the data waits in the buffers and the session is lost).
TEST_F(DeliveryRetry, PauseOutlastingTheIdleTimeOutStillDelivers) {
    const char* timeOut = "timed out.";
    const int timeouts = logged("main", timeOut), rests = logged("main", "] REST ");
    const ULONGLONG deadline = GetTickCount64() + 30000;
    bool paused = false, timedOut = false, over = false;
    std::function<void()> pauseOnceShown, resumeAfterTimeOut;
    pauseOnceShown = [&] {
        frmmess* m = frmmess::exists() ? &frmmess::instance() : nullptr;
        // At once: a 64 MB copy from this host's own server can be over in well under a second.
        if (m && m->buttonCaption(2) == "Pause") {
            m->cmdmess_Click(2);
            paused = true;
            runLater(200, resumeAfterTimeOut);
        } else if (!over && GetTickCount64() < deadline) {
            runLater(5, pauseOnceShown);
        }
    };
    resumeAfterTimeOut = [&] {
        if (over)
            return;
        timedOut = logged("main", timeOut) > timeouts;
        if (timedOut || GetTickCount64() > deadline)
            frmmess::instance().cmdmess_Click(2);  // Resume
        else
            runLater(200, resumeAfterTimeOut);
    };
    runLater(20, pauseOnceShown);
    {
        Watch watch(*w);
        deliver("Paused_AB_24.f#;");
        EXPECT_FALSE(watch.saw("Retrying..."));  // the pause costs no try
    }
    over = true;
    pumpFor(300);
    EXPECT_TRUE(paused);
    EXPECT_TRUE(timedOut);
    expectDelivered("Alpine Boating\\Paused_AB_24.pdf");
    EXPECT_LE(logged("main", "] REST ") - rests, 1);
}

TEST_F(DeliveryRetry, NoRoomOnDiskFailsAtOnceAndWritesNothing) {
    const std::string small = heart::winePath(retryDir() + "/small");
    if (!fileSystem.FileExists(small + "\\mounted"))
        GTEST_SKIP() << "no small disk could be mounted on this machine";
    const std::string program = small + "\\program" + std::to_string(GetCurrentProcessId());
    fileSystem.CreateFolder(program);
    setProgramFolder(program);
    createLibraryFolders();
    deliver("Winter Issue_AB_1.f#;");  // a few hundred bytes, but the margin is 16 MB
    EXPECT_EQ(frmmess::instance().message(), "Not enough free disk space for Winter Issue.");
    ASSERT_EQ(w->issueCount(), 1);
    EXPECT_EQ(w->issueText(0, frmmain::colStatus), "Failed");
    EXPECT_FALSE(fileSystem.FolderExists(program + "\\My Magazines\\Alpine Boating"));
}

TEST_F(DeliveryRetry, DiskFillingUpMidwayIsSaidAndNotTriedAgain) {
    const std::string small = heart::winePath(retryDir() + "/small");
    if (!fileSystem.FileExists(small + "\\mounted"))
        GTEST_SKIP() << "no small disk could be mounted on this machine";
    deliveryRetry::waitsMs = {8000, 8000, 8000};
    std::string failure;
    bool connected = false, delivered = true;
    ULONGLONG took = 0;
    // 64 MB onto an 8 MB disk, past the check before the issue.
    runOnEngine(
        [&] {
            connected = Work::connect();
            const ULONGLONG start = GetTickCount64();
            delivered = deliveryRetry::downloadWithRetries("Alpine Boating/Paused_AB_24.pdf", small + "\\filling.tmp",
                                                           0, "Paused", failure);
            took = GetTickCount64() - start;
        },
        Work::Job::Delivery);
    EXPECT_TRUE(connected);
    EXPECT_FALSE(delivered);
    EXPECT_LT(took, 5000u);
    EXPECT_EQ(failure, "Not enough free disk space for Paused.");
    DeleteFileA((small + "\\filling.tmp").c_str());
}
