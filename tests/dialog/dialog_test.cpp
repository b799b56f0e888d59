#include <gtest/gtest.h>

#include "base/ModCommon.h"
#include "dialog/frmmess.h"
#include "dialog/frmsettings.h"
#include "support/gui.h"
#include "tray/frmtray.h"
#include "ftp/modFTP.h"
#include "work/Work.h"

using namespace ModCommon;
using namespace Work;
using modFTP::transferBusy;

namespace {

struct DialogTest : testing::Test {
    void SetUp() override {
        frmtray::instance();
        frmmess::unload();
        deliveryPaused = deliveryCancelled = false;
        isConnected = true;
    }
    void TearDown() override {
        frmmess::unload();
        deliveryPaused = deliveryCancelled = false;
    }
};

}  // namespace

TEST_F(DialogTest, FreshDialogFollowsTheDesign) {
    frmmess& m = frmmess::instance();
    char caption[16] = {};
    GetWindowTextA(m.hwnd(), caption, sizeof caption);
    EXPECT_STREQ(caption, " ");
    EXPECT_EQ(m.buttonCaption(2), "OK");
    EXPECT_EQ(m.buttonCaption(0), "");
    EXPECT_TRUE(m.optionSelected(0));
    EXPECT_FALSE(m.optionSelected(1));
    EXPECT_FALSE(m.progressVisible());
    EXPECT_NEAR(m.progressWidthTwips(), 2685, 15);
    LONG style = GetWindowLongA(m.hwnd(), GWL_STYLE);
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    RECT client;
    GetClientRect(m.hwnd(), &client);
    EXPECT_NEAR(pixelsToTwipsX(client.right), 4470, 15);

    // Its labels are drawn in the scheme's colours, whatever the scheme (high contrast too).
    HDC dc = GetDC(m.hwnd());
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT) ^ 0xFFFFFF);
    SendMessageA(m.hwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), 0);
    EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_BTNTEXT));
    ReleaseDC(m.hwnd(), dc);
}

TEST_F(DialogTest, ShownCentredWithTheRequestedHeights) {
    showMessageDialog("None available.", "", "", "OK");
    frmmess& m = frmmess::instance();
    EXPECT_TRUE(m.visible());
    EXPECT_NEAR(m.heightTwips(), frmmess::compactHeight, 15);
    RECT r, work;
    GetWindowRect(m.hwnd(), &r);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR((r.left + r.right) / 2, (work.left + work.right) / 2, 2);
    EXPECT_NEAR((r.top + r.bottom) / 2, (work.top + work.bottom) / 2, 2);
    EXPECT_EQ(GetWindow(m.hwnd(), GW_OWNER), frmtray::instance().hwnd());

    showMessageDialog("2 new magazines are available.\n\nWhat would you like to do?", "Deliver", "Close",
                      "Remove", frmmess::fullHeight);
    EXPECT_NEAR(m.heightTwips(), frmmess::fullHeight, 15);
    EXPECT_EQ(m.message(), "2 new magazines are available.\n\nWhat would you like to do?");
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(m.buttonVisible(i)) << i;

    // Dragged to a monitor at 200 %: the same design, twice the pixels.
    RECT before{}, button{};
    GetWindowRect(m.hwnd(), &before);
    RECT suggested{before.left, before.top, before.left + 2 * (before.right - before.left),
                   before.top + 2 * (before.bottom - before.top)};
    SendMessageA(m.hwnd(), WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(m.dpi(), 192);
    EXPECT_NEAR(m.heightTwips(), frmmess::fullHeight, 30);  // twice as many pixels
    GetWindowRect(GetDlgItem(m.hwnd(), 101), &button);
    MapWindowPoints(nullptr, m.hwnd(), reinterpret_cast<POINT*>(&button), 2);
    EXPECT_NEAR(button.left, MulDiv(1575, 192, 1440), 1);
    EXPECT_NEAR(button.right - button.left, MulDiv(1320, 192, 1440), 2);
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(GetDlgItem(m.hwnd(), 101), WM_GETFONT, 0, 0)), sizeof font,
               &font);
    EXPECT_EQ(font.lfHeight, -MulDiv(8, 192, 72));
}

// The Settings window at 150 %: its controls and font follow, and its list of
// choices still drops open whole.
TEST_F(DialogTest, SettingsFollowTheMonitorsScale) {
    ScratchProgramFolder folder;
    frmsettings::open();
    frmsettings& s = frmsettings::instance();
    RECT before{}, ok{}, dropped{};
    GetWindowRect(s.hwnd(), &before);
    RECT suggested{before.left, before.top, before.left + 3 * (before.right - before.left) / 2,
                   before.top + 3 * (before.bottom - before.top) / 2};
    SendMessageA(s.hwnd(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    GetWindowRect(s.cmdOK, &ok);
    MapWindowPoints(nullptr, s.hwnd(), reinterpret_cast<POINT*>(&ok), 2);
    EXPECT_NEAR(ok.left, MulDiv(3360, 144, 1440), 1);
    EXPECT_NEAR(ok.right - ok.left, MulDiv(1305, 144, 1440), 2);
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(s.cboEvery, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_EQ(font.lfHeight, -MulDiv(8, 144, 72));
    SendMessageA(s.cboEvery, CB_SHOWDROPDOWN, TRUE, 0);
    SendMessageA(s.cboEvery, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
    SendMessageA(s.cboEvery, CB_SHOWDROPDOWN, FALSE, 0);
    EXPECT_GE(dropped.bottom - dropped.top, 4 * SendMessageA(s.cboEvery, CB_GETITEMHEIGHT, 0, 0));
    frmsettings::unload();
}

TEST_F(DialogTest, EditButtonsSetsCaptionAndVisibilityByNearestIndex) {
    frmmess& m = frmmess::instance();
    showMessageDialog("x", "", "", "OK");
    m.editButtons(1, false, "Hidden but named");
    EXPECT_EQ(m.buttonCaption(1), "Hidden but named");
    EXPECT_FALSE(m.buttonVisible(1));
    EXPECT_TRUE(IsWindowEnabled(m.button(1)));  // the flag is visibility, not the enabled state
    m.editButtons(0.4, true, "Zero");
    EXPECT_EQ(m.buttonCaption(0), "Zero");
    EXPECT_TRUE(m.buttonVisible(0));
    m.editButtons(1.5, true, "Two");  // halves go to the even index
    EXPECT_EQ(m.buttonCaption(2), "Two");
    m.editButtons(7, true, "nowhere");  // no such button: nothing happens
    EXPECT_EQ(m.buttonCaption(2), "Two");
}

TEST_F(DialogTest, DeliveryTypeFollowsTheOptionButtons) {
    frmmess& m = frmmess::instance();
    m.getFileType();
    EXPECT_EQ(fileType, "pdf");
    EXPECT_EQ(libraryFolder, "My Magazines");
    m.selectOption(1);
    m.getFileType();
    EXPECT_EQ(fileType, "torrent");
    EXPECT_EQ(libraryFolder, "My Torrents");
    // Closing and using the dialog again starts from the design: "Normal".
    frmmess::unload();
    EXPECT_FALSE(frmmess::exists());
    EXPECT_TRUE(frmmess::instance().optionSelected(0));
    frmmess::instance().getFileType();
    EXPECT_EQ(fileType, "pdf");
}

TEST_F(DialogTest, BitTorrentNoticeAsksAndKeepsTheChoice) {
    PromptRecorder prompt(IDNO);
    frmmess& m = frmmess::instance();
    m.selectOption(1);
    m.optType_Click(1);
    EXPECT_EQ(prompt.count, 1);
    EXPECT_EQ(prompt.lastText,
              "By selecting this option you'll require BitTorrent software.\n\nWould you like to learn more about "
              "BitTorrent?");
    EXPECT_EQ(prompt.lastFlags, UINT(MB_YESNO | MB_ICONQUESTION));
    EXPECT_TRUE(m.optionSelected(1));
    m.optType_Click(0);  // "Normal" asks nothing
    EXPECT_EQ(prompt.count, 1);
}

TEST_F(DialogTest, PauseAndResumeMoveTheProgressBar) {
    showMessageDialog("Delivering: Winter Issue", "", "Cancel", "Pause");
    frmmess& m = frmmess::instance();
    m.showProgress(true);
    m.cmdmess_Click(2);
    finishWork();
    EXPECT_EQ(m.buttonCaption(2), "Resume");
    EXPECT_TRUE(deliveryPaused);
    EXPECT_NEAR(m.progressWidthTwips(), frmmess::pbPausedWidth, 15);
    m.cmdmess_Click(2);
    finishWork();
    EXPECT_EQ(m.buttonCaption(2), "Pause");
    EXPECT_FALSE(deliveryPaused);
    EXPECT_NEAR(m.progressWidthTwips(), frmmess::pbWidth, 15);
    EXPECT_TRUE(m.visible());
}

TEST_F(DialogTest, ResumeAndCancelEndTheModalHold) {
    showMessageDialog("Delivering: Winter Issue", "", "Cancel", "Pause");
    frmmess& m = frmmess::instance();
    m.cmdmess_Click(2);  // Pause
    EXPECT_TRUE(m.modal());
    m.cmdmess_Click(2);  // Resume
    EXPECT_FALSE(deliveryPaused);
    EXPECT_TRUE(m.visible());
    EXPECT_FALSE(m.modal());

    m.cmdmess_Click(2);  // Pause again
    m.cmdmess_Click(1);  // Cancel
    EXPECT_FALSE(m.modal());
    EXPECT_TRUE(deliveryCancelled);
    EXPECT_FALSE(deliveryPaused);
    EXPECT_TRUE(m.visible());
}

TEST_F(DialogTest, ClosingButtonsDestroyTheWindow) {
    for (const char* caption : {"OK", "Cancel"}) {
        showMessageDialog("x", "", "", caption);
        frmmess::instance().cmdmess_Click(2);
        EXPECT_FALSE(frmmess::exists()) << caption;
    }
    showMessageDialog("x", "", "Close", "");
    frmmess::instance().cmdmess_Click(1);
    finishWork();
    EXPECT_FALSE(frmmess::exists());
}

TEST_F(DialogTest, ContinueStartsTheStartTimer) {
    frmtray& tray = frmtray::instance();
    tray.enableTimer(frmtray::startTmr, false);
    showMessageDialog("Welcome to Quillora.\n\nWould you like to read the Help file?", "", "Read Help",
                      "Continue");
    frmmess::instance().cmdmess_Click(2);
    finishWork();
    EXPECT_TRUE(tray.timerEnabled(frmtray::startTmr));
    EXPECT_FALSE(frmmess::exists());
    tray.enableTimer(frmtray::startTmr, false);
}

TEST_F(DialogTest, UpdateWithoutTheNewProgramWarns) {
    ScratchProgramFolder folder;
    PromptRecorder prompt;
    showMessageDialog("Quillora 2.0 is available.\n\nPlease click 'Update' to continue.", "", "", "Update");
    frmmess::instance().cmdmess_Click(2);
    finishWork();
    EXPECT_EQ(prompt.count, 1);
    EXPECT_EQ(prompt.lastText, "Unable to update. Please contact support.");
    EXPECT_EQ(prompt.lastFlags, UINT(MB_OK | MB_ICONEXCLAMATION));
    EXPECT_TRUE(frmmess::exists());  // the offer stays open
}

TEST_F(DialogTest, UnknownCaptionDoesNothing) {
    showMessageDialog("x", "", "", "");
    frmmess& m = frmmess::instance();
    m.cmdmess_Click(2);
    finishWork();
    m.cmdmess_Click(0);
    finishWork();
    m.cmdmess_Click(1);
    finishWork();
    EXPECT_TRUE(frmmess::exists());
    EXPECT_TRUE(m.visible());
}
