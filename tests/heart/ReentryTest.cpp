// Clicks that arrive while a check or a delivery pumps messages: each is
// refused or does the dialog's own way out, and the work in progress ends
// as it would have without it.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <thread>
#include <vector>
#include <memory>
#include <utility>

#include "PublisherFixture.h"
#include "base/ModCommon.h"
#include "app/StartUp.h"
#include "work/Work.h"
#include "work/Check.h"
#include "work/Delivery.h"
#include "work/SelfUpdate.h"
#include "dialog/frmmess.h"
#include "ftp/cFTP.h"
#include "library/frmmain.h"
#include "support/gui.h"
#include "tray/TransferView.h"
#include "tray/frmtray.h"
#include "ftp/modFTP.h"

using namespace ModCommon;
using namespace StartUp;
using namespace Work;
using modFTP::transferBusy;

namespace {

constexpr char threeIssues[] = "Big Issue_AB_9.f#;Winter Issue_AB_1.f#;Spring Issue_CQ_1.f#;";
constexpr int msIntoTheBigIssue = 700;  // it takes about five seconds

struct Reentry : testing::Test {
    ScratchProgramFolder folder;
    frmmain* w = nullptr;
    void SetUp() override {
        createLibraryFolders();
        heart::useTheSamplePublisher();
        frmtray::instance();  // the program always has its tray form
        w = &frmmain::instance();
        w->clearIssues();
        frmmess::unload();
        isConnected = false;
    }
    void TearDown() override {
        frmmess::unload();
        heart::writeServerCatalogue(
            "Winter Issue_AB_1.f#;Spring Issue_CQ_1.f#;Summer Issue_HT_1.f#;Autumn Issue_AB_2.f#;");
    }
    // The three issues listed, the big one first, all ticked.
    void listThree() {
        heart::writeServerCatalogue(threeIssues);
        ASSERT_TRUE(checkNewIssues(false));
        finishWork();
        w->sortIssues(frmmain::colTitle, false);
        ASSERT_EQ(w->issueCount(), 3);
        ASSERT_EQ(w->issueText(0, frmmain::colTitle), "Big Issue");
        w->open();
    }
    bool delivered(const std::string& sRelative) {
        return fileSystem.FileExists(folder.path() + "\\My Magazines\\" + sRelative);
    }
    std::string localCatalogue() {
        std::string text;
        fileSystem.ReadAll(dataPath + "em_lst.lcl", text);
        return text;
    }
};

}  // namespace

TEST_F(Reentry, NewMagazinesDuringADeliveryLosesNothing) {
    listThree();
    std::string dialogAfterClick;
    bool dialogShown = false;
    PromptRecorder about;
    runLater(msIntoTheBigIssue, [&] {
        clickToolbarButton(w->tb, frmmain::tbNewMagazines - 1);
        w->mnAbout_Click();
        runLater(300, [&] {
            dialogAfterClick = frmmess::instance().buttonCaption(2);
            dialogShown = frmmess::instance().visible();
            EXPECT_TRUE(transferBusy);
            EXPECT_EQ(frmtray::instance().toolTip(), "Delivery in progress...");
        });
    });
    w->deliverAll();
    finishWork();
    EXPECT_EQ(dialogAfterClick, "Pause");  // the delivery kept its dialog
    EXPECT_EQ(about.lastText.rfind("Quillora - Version", 0), 0u);
    EXPECT_TRUE(dialogShown);
    EXPECT_TRUE(isConnected);
    EXPECT_TRUE(delivered("Alpine Boating\\Big Issue_AB_9.pdf"));
    EXPECT_TRUE(delivered("Alpine Boating\\Winter Issue_AB_1.pdf"));
    EXPECT_TRUE(delivered("Coastal Quilts\\Spring Issue_CQ_1.pdf"));
    EXPECT_EQ(w->issueCount(), 0);
    EXPECT_EQ(frmmess::instance().message(), "Delivery complete.");
}

TEST_F(Reentry, RemoveAndSelectAllWaitForTheDelivery) {
    listThree();
    ASSERT_EQ(w->issueText(1, frmmain::colTitle), "Spring Issue");
    w->selectIssue(1);
    w->setTick();  // Spring Issue stays behind
    PromptRecorder prompts(IDYES);
    bool onTheWire = false;
    runWhen([] { return transferBusy.load(); }, [&] {
        chooseMenuItem(w->hwnd(), w->issueMenu(), "Remove All Selected");
        chooseMenuItem(w->hwnd(), w->issueMenu(), "Select All");
        // Timers come after the queued clicks: the issue was still coming.
        runLater(1, [&] { onTheWire = transferBusy.load(); });
    });
    w->deliverAll();
    finishWork();
    EXPECT_TRUE(onTheWire);
    EXPECT_EQ(prompts.count, 0);
    EXPECT_EQ(localCatalogue(), "Big Issue_AB_9.f#;Winter Issue_AB_1.f#;");
    EXPECT_TRUE(delivered("Alpine Boating\\Winter Issue_AB_1.pdf"));
    ASSERT_EQ(w->issueCount(), 1);
    EXPECT_EQ(w->issueText(0, frmmain::colTitle), "Spring Issue");
    w->selectIssue(0);
    EXPECT_FALSE(w->getLstTick());
    EXPECT_FALSE(delivered("Coastal Quilts\\Spring Issue_CQ_1.pdf"));
}

// The close box, or "Cancel" on the no-connection prompt that took the
// dialog's place.
TEST_F(Reentry, CloseBoxDuringAPauseCancelsTheRun) {
    for (bool prompt : {false, true}) {
        SCOPED_TRACE(prompt);
        listThree();
        std::chrono::steady_clock::time_point closed;
        runLater(msIntoTheBigIssue, [&] {
            pressButton(frmmess::instance().button(2));  // Pause
            runLater(500, [&] {
                EXPECT_TRUE(frmmess::instance().modal());
                closed = std::chrono::steady_clock::now();
                if (prompt)
                    showNoConnection();
                prompt ? pressButton(frmmess::instance().button(2)) : pressCloseBox(frmmess::instance().hwnd());
            });
        });
        w->deliverAll();
        finishWork();
        const auto took = std::chrono::steady_clock::now() - closed;
        EXPECT_LT(took, std::chrono::seconds(2));
        EXPECT_EQ(frmmess::instance().message(), "Delivery Cancelled");
        EXPECT_EQ(frmmess::instance().buttonCaption(2), "OK");
        for (int i = 0; i < w->issueCount(); ++i)
            EXPECT_EQ(w->issueText(i, frmmain::colStatus), "Cancelled") << i;
        EXPECT_EQ(localCatalogue(), "");
        // Nothing holds the way out: no transfer, no pause, no work.
        EXPECT_FALSE(transferBusy);
        EXPECT_FALSE(deliveryPaused);
        EXPECT_EQ(Work::running(), Work::Job::None);
    }
}

// Forwards to the forms, and presses a button once the check has its
// session ("Checking..." in the tool tip), remembering that session.
class PressWhenChecking final : public modFTP::FormsView {
public:
    explicit PressWhenChecking(HWND hButton) : button_(hButton) {}
    void toolTipChanged(const std::string& sTip) override {
        if (sTip == "Checking..." && button_) {
            session = Work::session();
            pressButton(std::exchange(button_, nullptr));
        }
        FormsView::toolTipChanged(sTip);
    }
    std::shared_ptr<cFTP> session;

private:
    HWND button_;
};

// Left-over dialogs clicked while the check pumps: the check keeps its
// session and its list, and nothing is delivered.
TEST_F(Reentry, LeftOverDialogsCannotPullTheCheckAway) {
    heart::writeServerCatalogue(threeIssues);
    WorkObserver* forms = Work::observer();
    for (int button : {0, 1}) {
        SCOPED_TRACE(button);
        if (button == 0)
            showMessageDialog("3 new magazines are available.", "Deliver", "Close", "Remove", frmmess::fullHeight);
        else
            showNoConnection();
        PressWhenChecking presser(frmmess::instance().button(button));  // "Deliver", "Connect..."
        Work::setObserver(&presser);
        const bool ran = checkNewIssues(false);
        finishWork();
        Work::setObserver(forms);
        ASSERT_TRUE(ran);
        ASSERT_TRUE(presser.session);
        EXPECT_EQ(presser.session, Work::session());  // the check's session was not replaced
        EXPECT_EQ(w->issueCount(), 3);
        EXPECT_TRUE(isConnected);
        EXPECT_FALSE(fileSystem.FolderExists(folder.path() + "\\My Magazines\\Alpine Boating"));
    }
}

TEST_F(Reentry, CloseBoxOnTheWelcomeContinues) {
    frmtray& tray = frmtray::instance();
    tray.enableTimer(frmtray::startTmr, false);
    showMessageDialog("Welcome to Quillora.\n\nWould you like to read the Help file?", "", "Read Help", "Continue");
    pressCloseBox(frmmess::instance().hwnd());
    finishWork();
    EXPECT_TRUE(pumpUntil([] { return !frmmess::exists(); }, 2000));
    EXPECT_TRUE(tray.timerEnabled(frmtray::startTmr));
    tray.enableTimer(frmtray::startTmr, false);
}

// A server that accepts and never greets: the check gives it up at the
// session's time-out and says so as for any failed connection, the window
// answering all the while; and Exit during such a check ends the check
// first, at once, then the program.
TEST_F(Reentry, ASilentServerIsGivenUpAndExitEndsTheCheckFirst) {
    SilentServer silent;
    SetEnvironmentVariableA("TOLV_SERVER", silent.address().c_str());
    const DWORD timeOut = cFTP::timeOutMs;
    cFTP::timeOutMs = 1500;
    frmtray& tray = frmtray::instance();
    const auto began = std::chrono::steady_clock::now();
    ASSERT_TRUE(checkNewIssues(false));
    DWORD_PTR answer = 0;
    pumpFor(300);
    // Asked from another thread, as another program would: the window answers.
    std::thread asker([&] {
        SendMessageTimeoutW(tray.hwnd(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 200, &answer) ? answer = 1 : answer = 2;
    });
    pumpUntil([&] { return answer != 0; }, 2000);
    asker.join();
    EXPECT_EQ(answer, 1u);
    EXPECT_TRUE(finishWork(10000));
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
    EXPECT_FALSE(isConnected);
    EXPECT_EQ(frmmess::instance().message(),
              "No Internet connection established.\n\nPlease click 'Connect' and try again.");

    cFTP::timeOutMs = timeOut;  // now only Exit ends the wait
    std::vector<UINT> ends;
    setProcessEnd([&](UINT code) { ends.push_back(code); });
    ASSERT_TRUE(checkNewIssues(false));
    pumpFor(300);
    ASSERT_TRUE(Work::busy());
    const auto exitAt = std::chrono::steady_clock::now();
    StartUp::exitProgram();
    EXPECT_LT(std::chrono::steady_clock::now() - exitAt, std::chrono::seconds(2));
    EXPECT_EQ(ends, std::vector<UINT>{0});
    EXPECT_FALSE(Work::busy());
    EXPECT_FALSE(frmtray::exists());
    setProcessEnd([](UINT code) { ExitProcess(code); });
    StartUp::isExiting = false;
    Work::restart();
}

// Exit from the tray menu, the setup's close request and the end of the
// session, each while a job waits on a server that never answers: the job
// ends first, as a cancel ends it, then the program, with nothing left running.
TEST_F(Reentry, ExitDuringEveryKindOfJobEndsTheJobFirst) {
    SilentServer silent;
    SetEnvironmentVariableA("TOLV_SERVER", silent.address().c_str());
    std::vector<UINT> ends;
    setProcessEnd([&](UINT code) { ends.push_back(code); });
    frmtray::setExitRoutine(StartUp::exitProgram);
    const struct {
        const char* job;
        std::function<bool()> start;
        UINT message;
        WPARAM wp;
    } cases[] = {
        {"check", [] { return checkNewIssues(false); }, WM_COMMAND, 4 /* the menu's Exit */},
        {"delivery",
         [this] {
             w->addIssueEntry("key0", "Winter Issue", "1", "AB", "1.00 MB", "Winter Issue_AB_1.f#");
             return deliverTicked();
         },
         WM_CLOSE, 0},
        {"update", [] { return SelfUpdate::systemUpdate(); }, WM_ENDSESSION, TRUE},
        {"connect", [] { return connectToServer(); }, WM_CLOSE, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.job);
        ends.clear();
        frmtray& tray = frmtray::instance();
        w = &frmmain::instance();
        ASSERT_TRUE(c.start());
        pumpFor(200);
        ASSERT_TRUE(Work::busy()) << "the job did not wait for the server";
        const auto asked = std::chrono::steady_clock::now();
        SendMessageA(tray.hwnd(), c.message, c.wp, 0);
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2));
        EXPECT_EQ(ends, std::vector<UINT>{0});
        EXPECT_FALSE(Work::busy());
        EXPECT_FALSE(frmtray::exists());
        EXPECT_FALSE(frmmain::exists());
        StartUp::isExiting = false;
        Work::restart();
    }
    frmtray::setExitRoutine(nullptr);
    setProcessEnd([](UINT code) { ExitProcess(code); });
}
