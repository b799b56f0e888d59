#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "base/ModCommon.h"
#include "dialog/frmmess.h"
#include "library/frmmain.h"
#include "support/gui.h"
#include "tray/frmtray.h"
#include "ftp/modFTP.h"
#include "work/Work.h"

using namespace ModCommon;
using namespace Work;
using modFTP::transferBusy;

TEST(TrayShellRules, VersionWordDecodesAndPicksTheRecord) {
    struct Case {
        DWORD word;
        int major, minor, build;
        bool nt, unicode, balloons;
    };
    const Case cases[] = {
        {0x08930005, 5, 0, 2195, true, true, true},     // Windows 2000
        {0x0A280105, 5, 1, 2600, true, true, true},     // Windows XP
        {0x05650004, 4, 0, 1381, true, true, false},    // NT 4
        {0x87CE0A04, 4, 10, 1998, false, false, false}, // Windows 98
        {0x8BB85A04, 4, 90, 3000, false, false, true},  // Windows Me
    };
    for (const Case& c : cases) {
        WindowsVersion v = frmtray::getWindowsVersion(c.word);
        EXPECT_EQ(v.major, c.major) << std::hex << c.word;
        EXPECT_EQ(v.minor, c.minor) << std::hex << c.word;
        EXPECT_EQ(v.build, c.build) << std::hex << c.word;
        EXPECT_EQ(v.isNT, c.nt) << std::hex << c.word;
        bool unicode = false, balloons = false;
        frmtray::shellFlags(v, unicode, balloons);
        EXPECT_EQ(unicode, c.unicode) << std::hex << c.word;
        EXPECT_EQ(balloons, c.balloons) << std::hex << c.word;
    }
}

TEST(TrayShellRules, RecordSizesAreThePlatformsVersionSizes) {
    if (sizeof(void*) == 4) {
        EXPECT_EQ(frmtray::recordSizeFor(true, true), 936u);
        EXPECT_EQ(frmtray::recordSizeFor(false, true), 488u);
        EXPECT_EQ(frmtray::recordSizeFor(true, false), 152u);
        EXPECT_EQ(frmtray::recordSizeFor(false, false), 88u);
    } else {
        // A 64-bit build lays the records out with 8-byte handles.
        EXPECT_EQ(frmtray::recordSizeFor(true, true), offsetof(NOTIFYICONDATAW, guidItem));
        EXPECT_LT(frmtray::recordSizeFor(true, false), frmtray::recordSizeFor(true, true));
        EXPECT_LT(frmtray::recordSizeFor(false, false), frmtray::recordSizeFor(false, true));
    }
}

TEST(TrayShellRules, CopyToBufferTruncatesAndZeroFills) {
    wchar_t field[128];
    std::memset(field, 0x55, sizeof field);
    frmtray::copyToBuffer(std::string(200, 'x'), field, sizeof field);
    EXPECT_EQ(std::wstring(field), std::wstring(127, L'x'));
    EXPECT_EQ(field[127], L'\0');

    std::memset(field, 0x55, sizeof field);
    frmtray::copyToBuffer("Quillora", field, sizeof field);
    EXPECT_EQ(std::wstring(field), L"Quillora");
    for (size_t i = 8; i < 128; ++i)
        ASSERT_EQ(field[i], L'\0') << i;

    // An empty text leaves the field as it was.
    frmtray::copyToBuffer("", field, sizeof field);
    EXPECT_EQ(std::wstring(field), L"Quillora");
}

TEST(TrayShellRules, HourBoundariesCountClockHoursNotElapsedTime) {
    double dayBefore = 0, nextDay = 0;
    ASSERT_TRUE(textToDate("2026-03-01 23:10:00", dayBefore));
    ASSERT_TRUE(textToDate("2026-03-02 23:05:00", nextDay));
    EXPECT_EQ(frmtray::hourBoundaries(dayBefore, nextDay), 24);  // less than 24 full hours
    double sameHour = 0;
    ASSERT_TRUE(textToDate("2026-03-01 23:59:59", sameHour));
    EXPECT_EQ(frmtray::hourBoundaries(dayBefore, sameHour), 0);
    double onTheHour = 0, justBefore = 0;
    ASSERT_TRUE(textToDate("2026-03-02 23:00:00", onTheHour));
    ASSERT_TRUE(textToDate("2026-03-02 22:59:59", justBefore));
    EXPECT_EQ(frmtray::hourBoundaries(dayBefore, onTheHour), 24);
    EXPECT_EQ(frmtray::hourBoundaries(dayBefore, justBefore), 23);
    EXPECT_EQ(frmtray::hourBoundaries(nextDay, dayBefore), 24);  // absolute
}

TEST(TrayForm, StartsWithItsTipAndOnlyThePeriodicTimer) {
    frmtray& tray = frmtray::instance();
    ASSERT_NE(tray.hwnd(), nullptr);
    EXPECT_FALSE(IsWindowVisible(tray.hwnd()));
    EXPECT_EQ(tray.toolTip(), "Quillora");
    EXPECT_TRUE(tray.timerEnabled(frmtray::autoTmr));
    EXPECT_FALSE(tray.timerEnabled(frmtray::startTmr));
    EXPECT_EQ(tray.IconHandle(), tray.ownIcon());
    if (sizeof(void*) == 4) {
        EXPECT_EQ(tray.recordSize(), tray.useUnicodeShell() ? 936u : 488u);
    }
}

TEST(TrayForm, ToolTipIsCutOnABalloonCapableShell) {
    frmtray& tray = frmtray::instance();
    ASSERT_TRUE(tray.shellSupportsBalloons());
    tray.setToolTip(std::string(200, 'a'));
    EXPECT_EQ(tray.toolTip(), std::string(127, 'a'));
    tray.setToolTip("Quillora (Not connected)");
    EXPECT_EQ(tray.toolTip(), "Quillora (Not connected)");
    tray.setToolTip("Quillora");
}

TEST(TrayForm, IconSwapsAndReturns) {
    frmtray& tray = frmtray::instance();
    HICON other = LoadIcon(nullptr, IDI_APPLICATION);
    tray.setIconHandle(other);
    EXPECT_EQ(tray.IconHandle(), other);
    tray.setIconHandle(other);  // the same handle again changes nothing
    EXPECT_EQ(tray.IconHandle(), other);
    tray.setIconHandle(tray.ownIcon());
    EXPECT_EQ(tray.IconHandle(), tray.ownIcon());
}

TEST(TrayForm, ClickWhileBusyBringsTheDialogForward) {
    frmtray& tray = frmtray::instance();
    showMessageDialog("Delivering: x", "", "Cancel", "Pause");
    HWND other = CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                 nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    pumpFor(100);
    transferBusy = true;
    tray.onNotify(frmtray::notifyLeftUp);
    finishWork();
    pumpFor(100);
    transferBusy = false;
    EXPECT_EQ(GetForegroundWindow(), frmmess::instance().hwnd());
    DestroyWindow(other);
    frmmess::unload();
}

TEST(TrayForm, OtherNotificationsAreIgnored) {
    frmtray& tray = frmtray::instance();
    // A mouse move or a button press on the icon does nothing at all.
    tray.onNotify(WM_MOUSEMOVE);
    finishWork();
    tray.onNotify(WM_LBUTTONDOWN);
    finishWork();
    tray.onNotify(WM_RBUTTONDOWN);
    finishWork();
    EXPECT_FALSE(frmmess::exists());
}

// Tray icons as the shell shows them (Wine: child windows of its tray window).
static BOOL CALLBACK countTrayIcon(HWND child, LPARAM q) {
    char cls[64] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (std::strcmp(cls, "__winex11_tray_icon") == 0)
        ++*reinterpret_cast<int*>(q);
    return TRUE;
}
static BOOL CALLBACK countTrayIconsOf(HWND top, LPARAM p) {
    EnumChildWindows(top, countTrayIcon, p);
    return TRUE;
}
static int shownTrayIcons() {
    int n = 0;
    EnumWindows(countTrayIconsOf, reinterpret_cast<LPARAM>(&n));
    return n;
}

// A restarted shell has lost every icon and says so: ours comes back, with its tip.
TEST(TrayForm, IconReturnsWhenTheShellRestarts) {
    frmtray& tray = frmtray::instance();
    tray.setToolTip("Quillora (Not connected)");
    pumpFor(200);
    const int shown = shownTrayIcons();
    ASSERT_GE(shown, 1);
    NOTIFYICONDATAW gone{};
    gone.cbSize = tray.recordSize();
    gone.hWnd = tray.hwnd();
    gone.uID = static_cast<UINT>(reinterpret_cast<UINT_PTR>(tray.ownIcon()));
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &gone));
    EXPECT_TRUE(pumpUntil([&] { return shownTrayIcons() == shown - 1; }, 2000));
    PostMessageA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(pumpUntil([&] { return shownTrayIcons() == shown; }, 2000));
    EXPECT_EQ(tray.toolTip(), "Quillora (Not connected)");
    tray.setToolTip("Quillora");
}

// An exit refused during a transfer leaves the program running with its icon.
TEST(TrayForm, CloseRefusedDuringATransferKeepsTheIcon) {
    frmtray& tray = frmtray::instance();
    pumpFor(200);
    const int shown = shownTrayIcons();
    transferBusy = true;
    SendMessageA(tray.hwnd(), WM_CLOSE, 0, 0);
    transferBusy = false;
    pumpFor(300);
    EXPECT_TRUE(frmtray::exists());
    EXPECT_EQ(shownTrayIcons(), shown);
}

// Win+B, then Enter or the menu key: the icon's keyboard selection opens the
// library window as a click does, and the menu key opens the menu. The
// notices a shell sends after a mouse's button-up change nothing.
TEST(TrayForm, KeyboardSelectionAndMenuKeyActAsClicks) {
    frmtray& tray = frmtray::instance();
    auto menuShown = [&](UINT code) {
        bool shown = false;
        runLater(150, [&] {
            HWND menu = FindWindowA("#32768", nullptr);
            shown = menu && IsWindowVisible(menu);
            EndMenu();
        });
        tray.onNotify(code);
        pumpFor(300);
        return shown;
    };
    EXPECT_TRUE(menuShown(frmtray::notifyContextMenu));
    EXPECT_TRUE(menuShown(frmtray::notifyRightUp));
    EXPECT_FALSE(menuShown(frmtray::notifyContextMenu)) << "the right click's echo opened a second menu";

    tray.onNotify(frmtray::notifySelect);  // a left click's echo
    pumpFor(100);
    EXPECT_FALSE(frmmain::exists() && frmmain::instance().visible());
    tray.onNotify(frmtray::notifyKeySelect);
    pumpFor(100);
    ASSERT_TRUE(frmmain::exists());
    EXPECT_TRUE(frmmain::instance().visible());
    ShowWindow(frmmain::instance().hwnd(), SW_HIDE);
}
