// The progress display and the pause hold, with the real library window,
// message dialog and tray form.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include "FtpTestServer.h"
#include "base/ModCommon.h"
#include "dialog/frmmess.h"
#include "ftp/modFTP.h"
#include "library/frmmain.h"
#include "support/gui.h"
#include "tray/TransferView.h"
#include "tray/frmtray.h"
#include "work/Work.h"

using namespace ftptest;

namespace {

int barValue(HWND pb) { return static_cast<int>(SendMessageA(pb, PBM_GETPOS, 0, 0)); }
// The bar's own visibility, whether or not its window is shown.
bool barShown(HWND pb) { return GetWindowLongA(pb, GWL_STYLE) & WS_VISIBLE; }
int barMax(HWND pb) { return static_cast<int>(SendMessageA(pb, PBM_GETRANGE, FALSE, 0)); }

class TransferProgress : public testing::Test {
protected:
    void SetUp() override {
        frmmain::instance();
        showMessageDialog("Delivering...", "", "Cancel", "Pause");
        frmmess::instance().showProgress(true);
    }
    void TearDown() override {
        modFTP::showTransferProgress(0, 0, 0, false);
        frmmess::unload();
    }
};

}  // namespace

TEST_F(TransferProgress, BarsTextAndTrayIconFollowTheTransfer) {
    frmmain& lib = frmmain::instance();
    frmtray& tray = frmtray::instance();
    modFTP::showTransferProgress(0, 1000, 0, true);
    EXPECT_EQ(1000, barMax(lib.pb));
    EXPECT_TRUE(barShown(lib.pb));
    EXPECT_EQ(1000, modFTP::transferMaximum);

    modFTP::showTransferProgress(0, 0, 125, false);  // 12.5 %
    EXPECT_EQ(125, barValue(lib.pb));
    EXPECT_EQ(125, frmmess::instance().progressValue());
    EXPECT_EQ("12% complete.", frmmess::instance().message2());
    EXPECT_EQ("12% complete.", lib.statusPanel(1));
    EXPECT_EQ(lib.icon(), tray.IconHandle());

    modFTP::showTransferProgress(0, 0, 375, false);  // 37.5 %
    EXPECT_EQ("38% complete.", frmmess::instance().message2());

    modFTP::showTransferProgress(0, 0, 0, false);
    EXPECT_EQ("", frmmess::instance().message2());
    EXPECT_FALSE(barShown(lib.pb));
    EXPECT_EQ(tray.ownIcon(), tray.IconHandle());
    EXPECT_EQ("0% complete.", lib.statusPanel(1));  // stays until the next status text
}

TEST_F(TransferProgress, SizesBeyond32BitsAreScaled) {
    const int64_t threeGiB = 3LL << 30;
    modFTP::showTransferProgress(0, threeGiB, 0, true);
    EXPECT_GT(modFTP::transferMaximum, 0);
    EXPECT_GT(barMax(frmmain::instance().pb), 0);
    modFTP::showTransferProgress(0, 0, threeGiB / 2, false);
    EXPECT_EQ("50% complete.", frmmess::instance().message2());
    EXPECT_EQ(barMax(frmmain::instance().pb) / 2, barValue(frmmain::instance().pb));
}

namespace {
class Pause : public TransferProgress {
protected:
    void SetUp() override {
        TransferProgress::SetUp();
        modFTP::transferBusy = Work::deliveryPaused = Work::deliveryCancelled = false;
        Work::isConnected = true;
        ftp = openSession();
        dir = scratchFolder();
    }
    void TearDown() override {
        Work::deliveryPaused = Work::deliveryCancelled = false;
        TransferProgress::TearDown();
    }
    // The download as a delivery runs it: on the engine, while this thread
    // (the window's) answers the dialog's buttons.
    bool deliver() {
        bool delivered = false;
        Work::start(Work::Job::Delivery, [&] { delivered = ftp->FTPDownloadFile(dir + "slow.bin", "slow/slow.bin"); });
        finishWork();
        return delivered;
    }
    std::unique_ptr<cFTP> ftp;
    std::string dir;
};
}  // namespace

// The slow file takes about two seconds; the dialog's buttons act in the middle.
TEST_F(Pause, PauseHoldsInTheDialogAndResumeLosesNothing) {
    bool held = false;
    int valueAtPause = -1, valueAfterHold = -1;
    runLater(400, [&] {
        frmmess::instance().cmdmess_Click(2);  // "Pause"
        runLater(800, [&] {
            held = frmmess::instance().modal();
            valueAtPause = frmmess::instance().progressValue();
            runLater(300, [&] {
                valueAfterHold = frmmess::instance().progressValue();
                frmmess::instance().cmdmess_Click(2);  // "Resume"
            });
        });
    });
    EXPECT_TRUE(deliver());
    EXPECT_TRUE(held);
    EXPECT_GT(valueAtPause, 0);
    EXPECT_EQ(valueAtPause, valueAfterHold);  // nothing moves while paused
    EXPECT_TRUE(sameBytes(readFile(servedFile("slow/slow.bin")), readFile(dir + "slow.bin")));
    EXPECT_FALSE(modFTP::transferBusy);
}

TEST_F(Pause, CancelButtonStopsTheDownload) {
    runLater(400, [] { frmmess::instance().cmdmess_Click(1); });  // "Cancel"
    EXPECT_FALSE(deliver());
    EXPECT_TRUE(Work::deliveryCancelled);
    const size_t got = readFile(dir + "slow.bin").size();
    EXPECT_LT(got, 600u * 1024);
    EXPECT_EQ(0u, got % 255);
}

TEST_F(Pause, CancelWhilePausedEndsTheHold) {
    runLater(400, [] {
        frmmess::instance().cmdmess_Click(2);  // "Pause"
        runLater(300, [] { frmmess::instance().cmdmess_Click(1); });  // "Cancel"
    });
    EXPECT_FALSE(deliver());
    EXPECT_FALSE(Work::deliveryPaused);
    EXPECT_FALSE(modFTP::transferBusy);
}
