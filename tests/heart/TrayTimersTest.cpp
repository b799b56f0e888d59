// The tray form's timers and menu doing their full work against the sample
// publisher: connection, the first check, the daily check, balloons.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include "PublisherFixture.h"
#include "base/ModCommon.h"
#include "app/StartUp.h"
#include "dialog/frmmess.h"
#include "dialog/frmsettings.h"
#include "library/frmmain.h"
#include "support/driver_client.h"
#include "support/gui.h"
#include "support/keyboard.h"
#include "settings/UserSettings.h"
#include "tray/frmtray.h"
#include "ftp/modFTP.h"
#include "work/Work.h"

using namespace ModCommon;
using namespace StartUp;
using namespace Work;
using modFTP::transferBusy;

namespace {

struct TrayTimers : testing::Test {
    ScratchProgramFolder folder;
    frmtray* tray = nullptr;
    void SetUp() override {
        createLibraryFolders();
        tray = &frmtray::instance();
        frmmain::instance().clearIssues();
        frmmess::unload();
        checkRunning = transferBusy = checkDone = isFirstRun = false;
        isConnected = false;
        heart::writeServerCatalogue("Winter Issue_AB_1.f#;Spring Issue_CQ_1.f#;");
    }
    void TearDown() override {
        tray->enableTimer(frmtray::startTmr, false);
        frmtray::wakeCheckDelayMs = 20000;
        frmtray::wakeRetryMs = {60000, 120000, 240000, 300000};
        frmmess::unload();
    }
    // The balloon's text as the shell shows it (the driver's console output
    // ends its lines with CR LF).
    std::string balloon() {
        std::string text = testsupport::runDriver("balloon-text 5").out;
        std::erase(text, '\r');
        return text;
    }
};

}  // namespace

TEST_F(TrayTimers, StartTimerWaitsForTheServerThenChecksOnceQuietly) {
    heart::useNoServer();
    tray->enableTimer(frmtray::startTmr, true);
    tray->startTmr_Timer();
    finishWork();
    EXPECT_FALSE(isConnected);
    EXPECT_TRUE(tray->timerEnabled(frmtray::startTmr));  // tries again in a minute
    EXPECT_FALSE(frmmess::exists());                      // and shows nothing
    EXPECT_FALSE(checkDone);

    heart::useTheSamplePublisher();
    {
        BusyEngine other(Work::Job::Connect);  // the periodic tick's connect
        tray->startTmr_Timer();
        EXPECT_TRUE(tray->timerEnabled(frmtray::startTmr));
        EXPECT_FALSE(checkDone);
    }
    // A tick while other work runs does nothing; the next one checks.
    tray->startTmr_Timer();
    finishWork();
    EXPECT_TRUE(checkDone);
    EXPECT_FALSE(tray->timerEnabled(frmtray::startTmr));
    EXPECT_EQ(newIssueCount, 2);
    EXPECT_EQ(balloon(), "2 new magazines are available.\n\nClick me for delivery options.");
}

TEST_F(TrayTimers, StartTimerStopsWhenACheckAlreadyRan) {
    heart::useTheSamplePublisher();
    checkDone = true;
    tray->enableTimer(frmtray::startTmr, true);
    tray->startTmr_Timer();
    finishWork();
    EXPECT_FALSE(tray->timerEnabled(frmtray::startTmr));
    EXPECT_EQ(frmmain::instance().issueCount(), 0);
}

TEST_F(TrayTimers, PeriodicTickChecksAfterTwentyFourHourBoundaries) {
    heart::useTheSamplePublisher();
    const double now = nowAsDate();
    frmtray::lastCheckTime = dateToText(now - 23.0 / 24.0);
    const std::string recent = frmtray::lastCheckTime;
    tray->autoCheckTick();
    finishWork();
    EXPECT_TRUE(isConnected);  // it connects while offline
    EXPECT_EQ(frmtray::lastCheckTime, recent);
    EXPECT_EQ(frmmain::instance().issueCount(), 0);

    frmtray::lastCheckTime = dateToText(now - 1.0 - 1.0 / 24.0);
    tray->autoCheckTick();
    finishWork();
    EXPECT_EQ(frmmain::instance().issueCount(), 2);
    double last = 0;
    ASSERT_TRUE(textToDate(frmtray::lastCheckTime, last));
    EXPECT_NEAR(last, nowAsDate(), 2.0 / 86400);

    // Due while the server cannot be reached: quiet tries on the back-off
    // until it answers.
    frmtray::wakeRetryMs = {100, 200, 400, 500};
    heart::useNoServer();
    isConnected = false;
    frmmain::instance().clearIssues();
    frmtray::lastCheckTime = dateToText(now - 2.0);
    tray->autoCheckTick();
    finishWork();
    EXPECT_TRUE(tray->afterWake());
    pumpFor(400);
    finishWork();
    EXPECT_FALSE(frmmess::exists());
    heart::useTheSamplePublisher();
    EXPECT_TRUE(pumpUntil([&] { return !tray->afterWake(); }));
    finishWork();
    EXPECT_EQ(frmmain::instance().issueCount(), 2);

    // Nothing new: a timer shows no balloon at all; the menu says so.
    heart::writeServerCatalogue("");
    frmtray::lastCheckTime = dateToText(now - 2.0);
    tray->autoCheckTick();
    finishWork();
    EXPECT_EQ(newIssueCount, 0);
    tray->mnusearch_Click();
    finishWork();
    EXPECT_EQ(balloon(), "None available.");
}

// A week asleep: the check that fell due runs soon after the wake. The
// network is not back at first; the tries say nothing and the check runs
// once the server answers. The minute's tick, due during the sleep, may come
// before the word of the wake: it says nothing either and leaves the check
// due. A check asked by hand still says why it failed.
TEST_F(TrayTimers, AWeekAsleepChecksSoonAfterTheWakeQuietlyUntilTheServerAnswers) {
    frmtray::wakeCheckDelayMs = 100;
    frmtray::wakeRetryMs = {100, 200, 400, 500};
    frmtray::lastCheckTime = dateToText(nowAsDate() - 7.0);
    const heart::ServerLog log;
    isConnected = true;  // as it was when the lid closed
    heart::useNoServer();
    SendMessageW(tray->hwnd(), WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
    tray->autoCheckTick();
    finishWork();
    EXPECT_FALSE(frmmess::exists());
    SendMessageW(tray->hwnd(), WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    SendMessageW(tray->hwnd(), WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
    tray->autoCheckTick();  // the minute's tick leaves it to the wake's tries
    pumpFor(900);
    finishWork();
    EXPECT_TRUE(tray->afterWake());
    EXPECT_FALSE(frmmess::exists());
    EXPECT_EQ(frmmain::instance().issueCount(), 0);

    tray->mnusearch_Click();
    finishWork();
    ASSERT_TRUE(frmmess::exists());
    EXPECT_EQ(frmmess::instance().message(),
              "No Internet connection established.\n\nPlease click 'Connect' and try again.");
    frmmess::unload();

    heart::useTheSamplePublisher();
    EXPECT_TRUE(pumpUntil([&] { return !tray->afterWake(); }));
    finishWork();
    EXPECT_EQ(frmmain::instance().issueCount(), 2);
    EXPECT_EQ(log.retrieved("em_lst.srv").size(), 1u);
    double last = 0;
    ASSERT_TRUE(textToDate(frmtray::lastCheckTime, last));
    EXPECT_NEAR(last, nowAsDate(), 5.0 / 86400);
    EXPECT_FALSE(frmmess::exists());
}

// The user chooses in the Settings window, by keyboard, how often the
// program looks; the timers follow, and the window opens where it was left.
TEST_F(TrayTimers, TheSettingsWindowSaysHowOftenTheTimersCheck) {
    heart::useTheSamplePublisher();
    tray->mnusettings_Click();
    ASSERT_TRUE(frmsettings::exists());
    frmsettings* s = &frmsettings::instance();
    EXPECT_EQ(SendMessageA(s->chkStart, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageA(s->cboEvery, CB_GETCURSEL, 0, 0), 0);  // once a day
    EXPECT_EQ(s->chosenFolder(), folder.path());
    const auto names = testsupport::runDriver(  // as a screen reader reads them
        "--pid " + std::to_string(GetCurrentProcessId()) + " names QuilloraSettings", true);
    EXPECT_EQ(names.rc, 0u) << names.out;
    EXPECT_NE(names.out.find("Edit 103 \"Library folder (it holds My Magazines and My Torrents):\""), std::string::npos)
        << names.out;
    SetWindowPos(s->hwnd(), nullptr, 40, 50, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ASSERT_TRUE(pressKeys({VK_MENU, 'L'}));  // the label's key: to the list below it
    ASSERT_TRUE(loopUntil([&] { return GetFocus() == s->cboEvery; }));
    ASSERT_TRUE(pressKeys({VK_DOWN}));
    ASSERT_TRUE(pressKeys({VK_RETURN}));
    ASSERT_TRUE(loopUntil([] { return !frmsettings::exists(); }));
    EXPECT_EQ(UserSettings::checkEvery(), UserSettings::CheckEvery::FewHours);

    frmtray::lastCheckTime = dateToText(nowAsDate() - 5.0 / 24.0);
    tray->autoCheckTick();
    finishWork();
    EXPECT_EQ(frmmain::instance().issueCount(), 2);
    frmmain::instance().clearIssues();

    tray->mnusettings_Click();
    s = &frmsettings::instance();
    RECT r{};
    GetWindowRect(s->hwnd(), &r);
    EXPECT_EQ(r.left, 40);
    EXPECT_EQ(r.top, 50);
    EXPECT_EQ(SendMessageA(s->cboEvery, CB_GETCURSEL, 0, 0), 1);
    SendMessageA(s->cboEvery, CB_SETCURSEL, 2, 0);  // only when I ask
    s->cmdOK_Click();
    frmtray::lastCheckTime = dateToText(nowAsDate() - 7.0);
    tray->autoCheckTick();
    finishWork();
    checkDone = false;
    tray->enableTimer(frmtray::startTmr, true);
    tray->startTmr_Timer();
    finishWork();
    EXPECT_FALSE(tray->timerEnabled(frmtray::startTmr));
    SendMessageW(tray->hwnd(), WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    EXPECT_FALSE(tray->afterWake());
    EXPECT_EQ(frmmain::instance().issueCount(), 0);

    // Escape leaves without saving.
    tray->mnusettings_Click();
    SendMessageA(frmsettings::instance().cboEvery, CB_SETCURSEL, 0, 0);
    ASSERT_TRUE(pressKeys({VK_ESCAPE}));
    ASSERT_TRUE(loopUntil([] { return !frmsettings::exists(); }));
    EXPECT_EQ(UserSettings::checkEvery(), UserSettings::CheckEvery::OnRequest);
}

TEST_F(TrayTimers, BalloonClickAndMenuOpenTheDialogAndWindow) {
    heart::useTheSamplePublisher();
    heart::writeServerCatalogue("Winter Issue_AB_1.f#;");
    tray->mnusearch_Click();
    finishWork();
    EXPECT_EQ(balloon(), "1 new magazine is available.\n\nClick me for delivery options.");
    tray->onNotify(frmtray::notifyBalloonClick);
    finishWork();
    ASSERT_TRUE(frmmess::exists());
    EXPECT_EQ(frmmess::instance().message(), "1 new magazine is available.\n\nWhat would you like to do?");
    EXPECT_NEAR(frmmess::instance().heightTwips(), frmmess::fullHeight, 15);
    frmmess::unload();

    checkRunning = true;  // busy: the balloon click does nothing
    tray->onNotify(frmtray::notifyBalloonClick);
    finishWork();
    checkRunning = false;
    EXPECT_FALSE(frmmess::exists());

    ShowWindow(frmmain::instance().hwnd(), SW_MINIMIZE);
    tray->onNotify(frmtray::notifyLeftUp);
    finishWork();
    pumpFor(200);
    EXPECT_TRUE(frmmain::instance().visible());
    EXPECT_FALSE(IsIconic(frmmain::instance().hwnd()));
    ShowWindow(frmmain::instance().hwnd(), SW_HIDE);
}
