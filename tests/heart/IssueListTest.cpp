// The issue list of the library window: ticks, keys, removal, sorting, and
// the announcements made from it.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "base/ModCommon.h"
#include "app/StartUp.h"
#include "work/Announce.h"
#include "work/Check.h"
#include "dialog/frmmess.h"
#include "library/frmmain.h"
#include "support/gui.h"
#include "tray/frmtray.h"
#include "ftp/modFTP.h"
#include "work/Work.h"

using namespace ModCommon;
using namespace StartUp;
using namespace Work;
using modFTP::transferBusy;

namespace {

struct IssueListBase : testing::Test {
    ScratchProgramFolder folder;
    frmmain* w = nullptr;
    void SetUp() override {
        createLibraryFolders();
        w = &frmmain::instance();
        w->clearIssues();
        isConnected = true;
        transferBusy = false;
        frmmess::unload();
    }
    void TearDown() override { frmmess::unload(); }
    void addIssues(int n) {
        for (int i = 0; i < n; ++i)
            w->addIssueEntry("key" + std::to_string(i), "Title " + std::to_string(i), std::to_string(i + 1), "Mag",
                             "1.00 MB", "Title " + std::to_string(i) + "_M_" + std::to_string(i + 1) + ".f#");
    }
    void tick(int index, bool on) {
        w->selectIssue(index);
        if (w->getLstTick() != on)
            w->setTick();
    }
    std::string localCatalogue() {
        std::string text;
        fileSystem.ReadAll(dataPath + "em_lst.lcl", text);
        return text;
    }
};

using IssueTicks = IssueListBase;
using IssueRemoval = IssueListBase;
using IssueSorting = IssueListBase;
using Announcements = IssueListBase;

}  // namespace

TEST_F(IssueTicks, TickAllCountAndToggle) {
    addIssues(5);
    w->selectIssue(-1);
    EXPECT_FALSE(w->getLstTick());  // nothing selected
    EXPECT_EQ(frmmain::instance().countTicked(), 0);
    w->setLstTick();
    EXPECT_EQ(frmmain::instance().countTicked(), 5);
    EXPECT_EQ(frmmain::instance().tickedCount, 5);
    // Counting moves neither the selection nor the focus.
    EXPECT_EQ(SendMessageA(w->lv, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), -1);
    w->selectIssue(2);
    w->lv_ItemClick(2);
    EXPECT_FALSE(w->getLstTick());
    w->lv_ItemClick(2);
    EXPECT_TRUE(w->getLstTick());
    tick(0, false);
    tick(3, false);
    EXPECT_EQ(frmmain::instance().countTicked(), 3);
}

TEST_F(IssueTicks, ClickOnTheCheckBoxChangesTheTickOnce) {
    addIssues(2);
    w->open();
    pumpFor(200);
    RECT box{};
    box.left = LVIR_BOUNDS;
    SendMessageA(w->lv, LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&box));
    // The state image sits at the row's left edge.
    POINT pt{box.left + 8, (box.top + box.bottom) / 2};
    LVHITTESTINFO hit{};
    hit.pt = pt;
    SendMessageA(w->lv, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    ASSERT_TRUE(hit.flags & LVHT_ONITEMSTATEICON) << "no check box at the row's left edge";
    w->selectIssue(1);
    const bool before = w->getLstTick();
    ClientToScreen(w->lv, &pt);
    SetCursorPos(pt.x, pt.y);
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_MOUSE;
    in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, in, sizeof(INPUT));
    pumpFor(400);
    w->selectIssue(1);
    EXPECT_NE(w->getLstTick(), before);
    ShowWindow(w->hwnd(), SW_HIDE);
}

TEST_F(IssueRemoval, NothingTickedSaysNothingToDo) {
    addIssues(2);
    tick(0, false);
    tick(1, false);
    PromptRecorder prompt;
    w->removeMag();
    finishWork();
    EXPECT_EQ(prompt.lastText, "Nothing to do.");
    EXPECT_EQ(prompt.lastFlags, UINT(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(w->issueCount(), 2);
}

TEST_F(IssueRemoval, ConfirmationTextsAndNoKeepsEverything) {
    addIssues(3);
    w->setLstTick();
    PromptRecorder prompt(IDNO);
    w->removeMag();
    finishWork();
    EXPECT_EQ(prompt.lastText,
              "This will permanently remove your 3 selected items.\n\nAre you sure you want to do this?");
    EXPECT_EQ(prompt.lastFlags, UINT(MB_YESNO | MB_ICONQUESTION));
    tick(0, false);
    tick(1, false);
    w->removeMag();
    finishWork();
    EXPECT_EQ(prompt.lastText, "This will permanently remove your selected item.\n\nAre you sure you want to do this?");
    EXPECT_EQ(w->issueCount(), 3);
    EXPECT_EQ(localCatalogue(), "");
}

// While "Are you sure" is open, the daily timer's check must not rebuild
// and tick the list the answer acts on.
TEST_F(IssueRemoval, NoCheckRunsWhileTheQuestionIsOpen) {
    addIssues(3);
    for (int i : {0, 1, 2})
        tick(i, i == 1);
    bool checked = true;
    setPromptHook([&](const std::string&, UINT) {
        checked = checkNewIssues(false);
        return IDYES;
    });
    w->removeMag();
    finishWork();
    setPromptHook(nullptr);
    EXPECT_FALSE(checked);
    EXPECT_EQ(localCatalogue(), "Title 1_M_2.f#");
}

TEST_F(IssueRemoval, RemovedRecordsAreAppendedWithoutSeparator) {
    addIssues(5);
    tick(1, true);
    tick(3, true);
    for (int i : {0, 2, 4})
        tick(i, false);
    showMessageDialog("x", "Deliver", "Close", "Remove");
    PromptRecorder prompt(IDYES);
    w->removeMag();
    finishWork();
    EXPECT_EQ(w->issueCount(), 3);
    EXPECT_EQ(localCatalogue(), "Title 1_M_2.f#Title 3_M_4.f#");
    EXPECT_EQ(w->statusPanel(1), "Remaining");
    EXPECT_EQ(w->statusPanel(2), "3");
    EXPECT_EQ(newIssueCount, 3);
    EXPECT_TRUE(w->buttonEnabled(frmmain::tbDeliver));
    EXPECT_TRUE(w->buttonEnabled(frmmain::tbRemove));
    EXPECT_FALSE(frmmess::exists());  // the dialog goes with the confirmed removal

    w->setLstTick();
    w->removeMag();
    finishWork();
    EXPECT_EQ(w->issueCount(), 0);
    EXPECT_EQ(w->statusPanel(1), "Ready");
    EXPECT_EQ(w->statusPanel(2), "");
    EXPECT_FALSE(w->buttonEnabled(frmmain::tbDeliver));
    EXPECT_FALSE(w->buttonEnabled(frmmain::tbRemove));
}

TEST_F(IssueSorting, FirstClickDescendsAndOneToggleServesAllColumns) {
    w->addIssueEntry("a", "Beta", "2", "Zeta", "", "r1");
    w->addIssueEntry("b", "alpha", "10", "Eta", "", "r2");
    w->addIssueEntry("c", "Gamma", "9", "Theta", "", "r3");
    w->addIssueEntry("d", "Delta", "1", "ETA", "", "r4");
    w->lvSortToggle = 0;
    w->lv_ColumnClick(frmmain::colTitle);
    EXPECT_EQ(w->issueText(0, frmmain::colTitle), "Gamma");
    EXPECT_EQ(w->issueText(3, frmmain::colTitle), "alpha");  // letter case ignored
    w->lv_ColumnClick(frmmain::colMagazine);
    // Names equal but for case keep the order they had (Delta came before alpha).
    EXPECT_EQ(w->issueText(0, frmmain::colMagazine), "ETA");
    EXPECT_EQ(w->issueText(1, frmmain::colMagazine), "Eta");
    EXPECT_EQ(w->issueText(3, frmmain::colMagazine), "Zeta");
    w->lv_ColumnClick(frmmain::colIssue);  // as text: 9 before 2 before 10
    EXPECT_EQ(w->issueText(0, frmmain::colIssue), "9");
    EXPECT_EQ(w->issueText(3, frmmain::colIssue), "1");
}

TEST_F(Announcements, NewIssuesDialogSingularPluralAndNone) {
    announceNewIssues(1);
    frmmess& m = frmmess::instance();
    EXPECT_EQ(m.message(), "1 new magazine is available.\n\nWhat would you like to do?");
    EXPECT_EQ(m.buttonCaption(0), "Deliver");
    EXPECT_EQ(m.buttonCaption(1), "Close");
    EXPECT_EQ(m.buttonCaption(2), "Remove");
    EXPECT_NEAR(m.heightTwips(), frmmess::fullHeight, 15);
    EXPECT_TRUE(m.optionSelected(0));
    EXPECT_EQ(w->statusPanel(1), "New");
    EXPECT_EQ(w->statusPanel(2), "1");
    EXPECT_TRUE(w->buttonEnabled(frmmain::tbDeliver));

    announceNewIssues(2);
    EXPECT_EQ(m.message(), "2 new magazines are available.\n\nWhat would you like to do?");

    announceNewIssues(0);
    EXPECT_EQ(m.message(), "None available.");
    EXPECT_FALSE(m.buttonVisible(0));
    EXPECT_FALSE(m.buttonVisible(1));
    EXPECT_EQ(m.buttonCaption(2), "OK");
    EXPECT_NEAR(m.heightTwips(), frmmess::compactHeight, 15);
    EXPECT_FALSE(w->buttonEnabled(frmmain::tbDeliver));
    EXPECT_FALSE(w->buttonEnabled(frmmain::tbRemove));
}

TEST_F(Announcements, SelectionTextsAndNothingToDo) {
    addIssues(3);
    w->setLstTick();
    announceSelection(frmmain::instance().countTicked());
    EXPECT_EQ(frmmess::instance().message(), "Your 3 selections are ready for delivery.\n\nWhat would you like to do?");
    tick(0, false);
    tick(1, false);
    announceSelection(frmmain::instance().countTicked());
    EXPECT_EQ(frmmess::instance().message(), "Your selection is ready for delivery.\n\nWhat would you like to do?");
    tick(2, false);
    frmmess::unload();
    PromptRecorder prompt;
    announceSelection(0);
    EXPECT_EQ(prompt.lastText, "Nothing to do.");
    EXPECT_FALSE(frmmess::exists());
}

TEST_F(Announcements, SilentWithoutConnectionOrDuringATransfer) {
    addIssues(1);
    w->setLstTick();
    isConnected = false;
    announceNewIssues(1);
    announceSelection(1);
    EXPECT_FALSE(frmmess::exists());
    isConnected = true;
    transferBusy = true;
    announceNewIssues(1);
    announceSelection(1);
    transferBusy = false;
    EXPECT_FALSE(frmmess::exists());
}

TEST_F(Announcements, StatusTextCreatesTheWindowHidden) {
    frmmain::instance().setStatusPanel(1, "Checking...");
    frmmain::instance().setStatusPanel(2, "12");
    EXPECT_FALSE(w->visible());
    EXPECT_EQ(w->statusPanel(1), "Checking...");
    EXPECT_EQ(w->statusPanel(2), "12");
}
