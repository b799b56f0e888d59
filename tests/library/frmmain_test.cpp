#include "library/frmmain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "base/ModCommon.h"
#include "app/StartUp.h"
#include "dialog/frmmess.h"
#include "library/cSplitter.h"
#include "support/driver_client.h"
#include "support/gui.h"

using namespace ModCommon;
using namespace StartUp;

namespace {

void pump() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
}

RECT rectIn(HWND h, HWND parent) {
    RECT r{};
    GetWindowRect(h, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

long width(const RECT& r) {
    return r.right - r.left;
}
long height(const RECT& r) {
    return r.bottom - r.top;
}

// Resizes the library window so that its inner area is w x h pixels.
void setClientSize(int w, int h) {
    HWND wnd = frmmain::instance().hwnd();
    RECT r{0, 0, w, h};
    AdjustWindowRectEx(&r, GetWindowLongA(wnd, GWL_STYLE), FALSE, GetWindowLongA(wnd, GWL_EXSTYLE));
    SetWindowPos(wnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    pump();
}

int columnWidth(HWND list, int column) {
    return static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, column, 0));
}

std::string columnName(HWND list, int column) {
    char text[64] = {};
    LVCOLUMNA c{};
    c.mask = LVCF_TEXT;
    c.pszText = text;
    c.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(&c));
    return text;
}

std::string className(HWND h) {
    char name[64] = {};
    GetClassNameA(h, name, sizeof name);
    return name;
}

std::string buttonText(HWND toolbar, int id) {
    char text[64] = {};
    SendMessageA(toolbar, TB_GETBUTTONTEXTA, id, reinterpret_cast<LPARAM>(text));
    return text;
}

// The tip a toolbar's tool-tip control gets for a button, asked the way the
// tool-tip control asks when the pointer rests on it.
std::string toolTip(HWND toolbar, int index) {
    TBBUTTON b{};
    SendMessageA(toolbar, TB_GETBUTTON, index, reinterpret_cast<LPARAM>(&b));
    NMTTDISPINFOA info{};
    info.hdr.hwndFrom = reinterpret_cast<HWND>(SendMessageA(toolbar, TB_GETTOOLTIPS, 0, 0));
    info.hdr.idFrom = static_cast<UINT_PTR>(b.idCommand);
    info.hdr.code = TTN_GETDISPINFOA;
    SendMessageA(GetParent(toolbar), WM_NOTIFY, b.idCommand, reinterpret_cast<LPARAM>(&info));
    return info.lpszText ? info.lpszText : "";
}

int splitAreaPixelsHeight() {
    RECT r{};
    GetClientRect(frmmain::instance().picSplitMain, &r);
    return r.bottom;
}

// The main splitter's share, fixed at load: 100 pixels of the designed split area.
long expectedIssueListHeight() {
    const double share = 100.0f / static_cast<float>(twipsToPixelsY(2595));
    return std::lround(share * splitAreaPixelsHeight());
}

// The window keeps its place in the program's data folder: a scratch one, so
// that no run starts from where the last one left it.
struct LibraryWindowTest : ::testing::Test {
    static inline std::unique_ptr<ScratchProgramFolder> folder;
    static void SetUpTestSuite() {
        folder = std::make_unique<ScratchProgramFolder>();
        frmmain::instance();
    }
    static void TearDownTestSuite() {
        if (frmmess::exists())
            frmmess::unload();
        frmmain::unload();
        folder.reset();
    }
    frmmain& w = frmmain::instance();
};

using LibraryWindow = LibraryWindowTest;
using LibraryLayout = LibraryWindowTest;

}  // namespace

TEST_F(LibraryWindow, FirstShowHasDesignedCaptionSizeAndFont) {
    char caption[32] = {};
    GetWindowTextA(w.hwnd(), caption, sizeof caption);
    EXPECT_STREQ(caption, " Quillora");
    RECT client{};
    GetClientRect(w.hwnd(), &client);
    EXPECT_EQ(client.right, twipsToPixelsX(8700));
    EXPECT_EQ(client.bottom, twipsToPixelsY(5535));
    EXPECT_FALSE(w.visible());  // created hidden; the tray shows it

    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(w.lv, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_STREQ(font.lfFaceName, "Tahoma");
    EXPECT_NE(w.icon(), nullptr);
    EXPECT_NE(SendMessageA(w.hwnd(), WM_GETICON, ICON_SMALL, 0), 0);
}

TEST_F(LibraryWindow, ControlsSitInTheirContainers) {
    EXPECT_EQ(className(w.tb), "ToolbarWindow32");
    EXPECT_EQ(className(w.tb2), "ToolbarWindow32");
    EXPECT_EQ(className(w.stat), "msctls_statusbar32");
    EXPECT_EQ(className(w.pb), "msctls_progress32");
    EXPECT_EQ(className(w.lv), "SysListView32");
    EXPECT_EQ(className(w.lvl), "SysListView32");
    EXPECT_EQ(className(w.tv), "SysTreeView32");
    EXPECT_EQ(GetParent(w.lv), w.picSplitMain);
    EXPECT_EQ(GetParent(w.picSplitSub), w.picSplitMain);
    EXPECT_EQ(GetParent(w.tb2), w.picSplitMain);
    EXPECT_EQ(GetParent(w.tv), w.picSplitSub);
    EXPECT_EQ(GetParent(w.lvl), w.picSplitSub);
    EXPECT_FALSE(IsWindowVisible(w.pb));  // shown by a transfer
}

TEST_F(LibraryWindow, ListsHaveTheirColumnsAndStyles) {
    const char* lvNames[] = {"Title", "Issue#", "Magazine", "Status", "Size", "FN"};
    const int lvTwips[] = {8700 - 6000, 500, 2000, 1000, 800, 0};
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(columnName(w.lv, c), lvNames[c]);
        EXPECT_EQ(columnWidth(w.lv, c), twipsToPixelsX(lvTwips[c])) << c;
    }
    const char* lvlNames[] = {"Title", "Issue#", "Date", "Location"};
    const int lvlTwips[] = {8700 - 6200, 500, 1100, 0};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(columnName(w.lvl, c), lvlNames[c]);
        EXPECT_EQ(columnWidth(w.lvl, c), twipsToPixelsX(lvlTwips[c])) << c;
    }
    const DWORD lvEx = static_cast<DWORD>(SendMessageA(w.lv, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_EQ(lvEx & 0x64u, 0x64u);  // full-row select, one-click activate, check boxes
    const DWORD lvlEx = static_cast<DWORD>(SendMessageA(w.lvl, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_EQ(lvlEx & 0x64u, 0x20u);
    EXPECT_TRUE(GetWindowLongA(w.lv, GWL_STYLE) & LVS_SINGLESEL);
    EXPECT_EQ(GetWindowLongA(w.lv, GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_EQ(GetWindowLongA(w.lvl, GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);
    // Both lists show the item picture from one shared list.
    HIMAGELIST images = reinterpret_cast<HIMAGELIST>(SendMessageA(w.lv, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    ASSERT_NE(images, nullptr);
    EXPECT_EQ(reinterpret_cast<HIMAGELIST>(SendMessageA(w.lvl, LVM_GETIMAGELIST, LVSIL_SMALL, 0)), images);
    EXPECT_EQ(ImageList_GetImageCount(images), 1);
}

TEST_F(LibraryWindow, ToolbarsHaveCaptionsTipsAndPictures) {
    ASSERT_EQ(SendMessageA(w.tb, TB_BUTTONCOUNT, 0, 0), 5);
    const char* captions[] = {"  New Magazines", "Deliver", "Remove", "Close", "Help"};
    const char* tips[] = {"Check for new magazines.", "Deliver selected.", "Remove selected.",
                          "Close window.", "Show Help."};
    for (int i = 0; i < 5; ++i) {
        TBBUTTON b{};
        SendMessageA(w.tb, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&b));
        EXPECT_EQ(buttonText(w.tb, b.idCommand), captions[i]);
        EXPECT_EQ(toolTip(w.tb, i), tips[i]);
        EXPECT_EQ(b.iBitmap, i);
    }
    HIMAGELIST big = reinterpret_cast<HIMAGELIST>(SendMessageA(w.tb, TB_GETIMAGELIST, 0, 0));
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(ImageList_GetImageCount(big), 5);
    int cx = 0, cy = 0;
    ImageList_GetIconSize(big, &cx, &cy);
    EXPECT_EQ(cx, 32);
    EXPECT_EQ(cy, 32);

    ASSERT_EQ(SendMessageA(w.tb2, TB_BUTTONCOUNT, 0, 0), 3);
    EXPECT_EQ(toolTip(w.tb2, 0), "Refresh.");
    EXPECT_EQ(toolTip(w.tb2, 1), "Open.");
    EXPECT_EQ(toolTip(w.tb2, 2), "No function.");
    HIMAGELIST small = reinterpret_cast<HIMAGELIST>(SendMessageA(w.tb2, TB_GETIMAGELIST, 0, 0));
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(ImageList_GetImageCount(small), 3);
    ImageList_GetIconSize(small, &cx, &cy);
    EXPECT_EQ(cx, 16);
}

TEST_F(LibraryWindow, StatusBarPanelsAndProgressBarPlacement) {
    int edges[8] = {};
    ASSERT_EQ(SendMessageA(w.stat, SB_GETPARTS, 8, reinterpret_cast<LPARAM>(edges)), 4);
    EXPECT_EQ(edges[0], twipsToPixelsX(3175));
    EXPECT_EQ(edges[1], twipsToPixelsX(3175 + 1058));
    EXPECT_EQ(edges[2], twipsToPixelsX(3175 + 1058 + 2540));  // the spring at its minimum
    EXPECT_EQ(w.statusPanel(1), "Ready");
    EXPECT_NEAR(height(rectIn(w.stat, w.hwnd())), twipsToPixelsY(465), 1);

    w.setStatusPanel(1, "Remaining");
    w.setStatusPanel(2, "3");
    EXPECT_EQ(w.statusPanel(1), "Remaining");
    EXPECT_EQ(w.statusPanel(2), "3");
    w.setStatusPanel(5, "nowhere");
    EXPECT_EQ(w.statusPanel(5), "");
    w.setStatusPanel(1, "Ready");
    w.setStatusPanel(2, "");

    // Painting lays pb over panel 2.
    w.open();
    InvalidateRect(w.hwnd(), nullptr, TRUE);
    UpdateWindow(w.hwnd());
    pump();
    RECT pb = rectIn(w.pb, w.stat);
    EXPECT_EQ(pb.left, twipsToPixelsX(pixelsToTwipsX(edges[0]) + 50));
    EXPECT_EQ(width(pb), twipsToPixelsX(pixelsToTwipsX(edges[1] - edges[0]) - 175));
    const int statTwips = pixelsToTwipsY(height(rectIn(w.stat, w.hwnd())));
    EXPECT_EQ(pb.top, twipsToPixelsY(static_cast<int>(statTwips / 3.8)));
    EXPECT_EQ(height(pb), twipsToPixelsY(static_cast<int>(statTwips / 1.8)));
    RECT panel{};
    SendMessageA(w.stat, SB_GETRECT, 1, reinterpret_cast<LPARAM>(&panel));
    EXPECT_GE(pb.left, panel.left);
    EXPECT_LE(pb.right, panel.right);
    ShowWindow(w.hwnd(), SW_HIDE);
}

TEST_F(LibraryWindow, ButtonsEnableAndDisable) {
    for (int b = 1; b <= 5; ++b) EXPECT_TRUE(w.buttonEnabled(b)) << b;
    w.enableButton(frmmain::tbDeliver, false);
    w.enableButton(frmmain::tbRemove, false);
    EXPECT_FALSE(w.buttonEnabled(frmmain::tbDeliver));
    EXPECT_FALSE(w.buttonEnabled(frmmain::tbRemove));
    EXPECT_TRUE(w.buttonEnabled(frmmain::tbNewMagazines));
    w.enableButton(frmmain::tbDeliver, true);
    w.enableButton(frmmain::tbRemove, true);
    EXPECT_TRUE(w.buttonEnabled(frmmain::tbRemove));
}

TEST_F(LibraryWindow, CloseAndMinimiseOnlyHideUntilTheOrderlyStop) {
    w.open();
    pump();
    ASSERT_TRUE(w.visible());
    const int row =
        w.addIssueEntry("1m1", "Spring Garden", "4", "Garden Monthly", "2 MB", "Spring Garden_gm_4.f#");
    HWND before = w.hwnd();

    SendMessageA(w.hwnd(), WM_CLOSE, 0, 0);
    pump();
    EXPECT_TRUE(IsWindow(before));
    EXPECT_FALSE(w.visible());
    w.open();
    pump();
    EXPECT_TRUE(w.visible());
    EXPECT_EQ(w.hwnd(), before);
    EXPECT_EQ(SendMessageA(w.lv, LVM_GETITEMCOUNT, 0, 0), row + 1);  // the lists survive

    ShowWindow(w.hwnd(), SW_MINIMIZE);
    pump();
    EXPECT_FALSE(w.visible());
    w.open();
    pump();
    EXPECT_TRUE(w.visible());
    EXPECT_FALSE(IsIconic(w.hwnd()));
    RECT client{};
    GetClientRect(w.hwnd(), &client);
    EXPECT_EQ(client.right, twipsToPixelsX(8700));

    // The orderly stop lets the close through; the next use creates the
    // window again, where and as large as the user left it.
    RECT designed{}, kept{};
    GetWindowRect(w.hwnd(), &designed);
    SetWindowPos(w.hwnd(), nullptr, 60, 70, 700, 520, SWP_NOZORDER);
    frmmain::unload();
    EXPECT_FALSE(IsWindow(before));
    EXPECT_FALSE(frmmain::exists());
    ASSERT_NE(frmmain::instance().hwnd(), nullptr);
    GetWindowRect(frmmain::instance().hwnd(), &kept);
    EXPECT_EQ(std::vector<LONG>({kept.left, kept.top, kept.right, kept.bottom}),
              std::vector<LONG>({60, 70, 760, 590}));
    EXPECT_FALSE(frmmain::instance().visible());
    SetWindowPos(frmmain::instance().hwnd(), nullptr, designed.left, designed.top, designed.right - designed.left,
                 designed.bottom - designed.top, SWP_NOZORDER);
}

TEST_F(LibraryWindow, AboutBoxIsOwnedAndShowsVersionFirst) {
    w.mnAbout_Click();
    ASSERT_TRUE(frmmess::exists());
    frmmess& m = frmmess::instance();
    const std::string text = m.message();
    // The tests' build trusts the TEST update key, and says so under the version.
    ASSERT_TRUE(trustsTestKey);
    const std::string head = "Quillora - Version 1.0\nTest build: trusts the public TEST update key.\n\n";
    EXPECT_EQ(text.rfind(head, 0), 0u) << text;
    EXPECT_GT(text.size(), head.size());  // the publisher's notice
    EXPECT_FALSE(m.buttonVisible(0));
    EXPECT_FALSE(m.buttonVisible(1));
    EXPECT_TRUE(m.buttonVisible(2));
    EXPECT_EQ(m.buttonCaption(2), "OK");
    EXPECT_EQ(m.heightTwips(), 2265);
    EXPECT_EQ(GetWindow(m.hwnd(), GW_OWNER), w.hwnd());
    EXPECT_TRUE(m.visible());
    frmmess::unload();
}

TEST_F(LibraryWindow, ReadHelpOpensTheGuideBesideTheProgram) {
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    const std::string folder = std::string(temp) + "quillora-help-test";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string saved = programFolder();
    setProgramFolder(folder);
    std::string prompt;
    setPromptHook([&](const std::string& sText, UINT) {
        prompt = sText;
        return IDOK;
    });
    w.mnuOnHelp_Click();
    setPromptHook(nullptr);
    setProgramFolder(saved);
    RemoveDirectoryA(folder.c_str());
    // No guide there: the shell service says which file it looked for.
    EXPECT_NE(prompt.find(folder + "\\Quillora Help.pdf"), std::string::npos) << prompt;
}

TEST_F(LibraryLayout, SplitAreaAndColumnsFollowTheWindow) {
    for (auto [cw, ch] : {std::pair{580, 369}, std::pair{1000, 800}, std::pair{760, 420}}) {
        setClientSize(cw, ch);
        const int sw = pixelsToTwipsX(cw), sh = pixelsToTwipsY(ch);
        RECT area = rectIn(w.picSplitMain, w.hwnd());
        EXPECT_EQ(area.left, twipsToPixelsX(105)) << cw;
        EXPECT_EQ(area.top, twipsToPixelsY(1000)) << cw;
        EXPECT_EQ(width(area), twipsToPixelsX(sw - 210)) << cw;
        EXPECT_EQ(height(area), twipsToPixelsY(sh - 1600)) << ch;
        EXPECT_EQ(columnWidth(w.lv, 0), twipsToPixelsX(sw - 6000)) << cw;
        EXPECT_EQ(columnWidth(w.lvl, 0), twipsToPixelsX(sw - 6200)) << cw;

        // lv keeps its share of the split area; tv stays at its minimum.
        RECT lv = rectIn(w.lv, w.picSplitMain);
        EXPECT_EQ(lv.top, 0);
        EXPECT_EQ(height(lv), expectedIssueListHeight()) << ch;
        RECT sub = rectIn(w.picSplitSub, w.picSplitMain);
        EXPECT_EQ(sub.top, lv.bottom + 30);
        EXPECT_EQ(sub.bottom, splitAreaPixelsHeight());
        EXPECT_EQ(width(rectIn(w.tv, w.picSplitSub)), 205) << cw;
        EXPECT_EQ(rectIn(w.lvl, w.picSplitSub).left, 212) << cw;
        // tb2 rides 60 twips under lv, inside the bar.
        RECT tb2 = rectIn(w.tb2, w.picSplitMain);
        EXPECT_EQ(tb2.top, twipsToPixelsY(pixelsToTwipsY(height(lv)) + 60));
        EXPECT_LE(tb2.bottom, sub.top);
    }
}

TEST_F(LibraryLayout, NarrowWindowsKeepWhatWouldBeNegative) {
    setClientSize(760, 420);
    const int titleBefore = columnWidth(w.lv, 0);
    const RECT areaBefore = rectIn(w.picSplitMain, w.hwnd());

    // 5250 twips: the Title column of lv would be negative and keeps its width;
    // lvl's too; the split area still follows.
    setClientSize(350, 420);
    EXPECT_EQ(columnWidth(w.lv, 0), titleBefore);
    EXPECT_EQ(columnWidth(w.lv, 2), twipsToPixelsX(2000));
    EXPECT_EQ(width(rectIn(w.picSplitMain, w.hwnd())), twipsToPixelsX(pixelsToTwipsX(350) - 210));

    // Narrower than 210 twips (a minimised window has no inner area at all):
    // the split area stays as it was.
    setClientSize(760, 420);
    w.open();
    pump();
    ShowWindow(w.hwnd(), SW_MINIMIZE);
    pump();
    EXPECT_FALSE(w.visible());
    RECT area = rectIn(w.picSplitMain, w.hwnd());
    EXPECT_EQ(width(area), width(areaBefore));
    EXPECT_EQ(height(area), height(areaBefore));
    EXPECT_EQ(columnWidth(w.lv, 0), titleBefore);
    w.open();
    pump();
    ShowWindow(w.hwnd(), SW_HIDE);

    // Lower than 1600 twips: the same.
    setClientSize(760, 100);
    EXPECT_EQ(height(rectIn(w.picSplitMain, w.hwnd())), height(areaBefore));
    setClientSize(580, 369);
}

TEST_F(LibraryLayout, DraggingTheBarMovesTheListAndTheSmallToolbar) {
    setClientSize(760, 500);
    w.open();
    pump();
    RECT lvScreen{};
    GetWindowRect(w.lv, &lvScreen);
    const long before = height(rectIn(w.lv, w.picSplitMain));
    // Grab the bar right of the small toolbar.
    const int x = lvScreen.right - 40, y = lvScreen.bottom + 15;
    SetCursorPos(x, y);
    mouse_event(MOUSEEVENTF_MOVE, 0, 0, 0, 0);
    pump();
    mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
    for (int i = 0; i < 20; ++i, Sleep(10)) pump();
    ASSERT_TRUE(w.m_cSplitMain->dragging());
    SetCursorPos(x, y + 40);
    mouse_event(MOUSEEVENTF_MOVE, 0, 0, 0, 0);
    for (int i = 0; i < 20; ++i, Sleep(10)) pump();
    mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
    for (int i = 0; i < 20; ++i, Sleep(10)) pump();
    EXPECT_FALSE(w.m_cSplitMain->dragging());
    const long after = height(rectIn(w.lv, w.picSplitMain));
    EXPECT_EQ(after, before + 40);
    EXPECT_EQ(rectIn(w.tb2, w.picSplitMain).top, twipsToPixelsY(pixelsToTwipsY(after) + 60));
    EXPECT_EQ(rectIn(w.picSplitSub, w.picSplitMain).top, after + 30);
    ShowWindow(w.hwnd(), SW_HIDE);
    setClientSize(580, 369);
}

// Without a mouse: every control has a name to be read out, Tab walks the
// three lists, the arrow keys show a folder's files, Enter opens one, the
// toolbar's keys work, and Escape closes the dialog as its close box does.
TEST_F(LibraryWindow, WholeByKeyboard) {
    ScratchProgramFolder folder;
    createLibraryFolders();
    const std::string magazine = folder.path() + "\\My Magazines\\Alpine Boating";
    fileSystem.CreateFolder(magazine);
    ASSERT_TRUE(fileSystem.CreateTextFile(magazine + "\\Winter Issue_AB_1.pdf", false));
    w.clearIssues();
    w.addIssueEntry("k1", "Spring Issue", "1", "CQ", "1.00 MB", "Spring Issue_CQ_1.f#");
    w.addIssueEntry("k2", "Summer Issue", "2", "CQ", "2.00 MB", "Summer Issue_CQ_2.f#");
    w.buildLibraryTree();
    w.open();
    pump();
    // A screen reader, from its own process, finds a name for every control
    // the keyboard reaches (the 3 lists), each toolbar button (5 and 3) and
    // both split areas: a line each.
    const std::string ownWindows = "--pid " + std::to_string(GetCurrentProcessId()) + " ";
    const auto names = testsupport::runDriver(ownWindows + "names QuilloraLibrary QuilloraSplitBox", true);
    EXPECT_EQ(names.rc, 0u) << names.out;
    EXPECT_EQ(std::count(names.out.begin(), names.out.end(), '\n'), 5 + 3 + 3 + 2 - 1) << names.out;
    // The issue list's hidden record column is read as empty.
    const auto rows = testsupport::runDriver(ownWindows + "items QuilloraLibrary Magazine", true);
    EXPECT_NE(rows.out.find("Spring Issue"), std::string::npos) << rows.out;
    EXPECT_EQ(rows.out.find(".f#"), std::string::npos) << rows.out;
    auto key = [&](HWND to, WPARAM vk) {
        MSG msg{to, WM_KEYDOWN, vk, 0, 0, {}};
        if (!w.translateKey(msg))
            SendMessageA(to, WM_KEYDOWN, vk, 0);
        pump();
    };
    EXPECT_EQ(GetFocus(), w.lv);  // the issue list first
    key(GetFocus(), VK_TAB);
    EXPECT_EQ(GetFocus(), w.tv);
    key(GetFocus(), VK_TAB);
    EXPECT_EQ(GetFocus(), w.lvl);
    key(GetFocus(), VK_TAB);
    EXPECT_EQ(GetFocus(), w.lv);

    // The tree: from "My Magazines" one down is the magazine, and its files show.
    HTREEITEM root = TreeView_GetRoot(w.tv);
    TreeView_Expand(w.tv, root, TVE_EXPAND);
    TreeView_SelectItem(w.tv, root);
    SetFocus(w.tv);
    key(w.tv, VK_DOWN);
    EXPECT_EQ(SendMessageA(w.lvl, LVM_GETITEMCOUNT, 0, 0), 1);

    // Enter on the file opens it; gone meanwhile, the shell service names it.
    SetFocus(w.lvl);
    key(w.lvl, VK_DOWN);
    fileSystem.DeleteFile(magazine + "\\Winter Issue_AB_1.pdf");
    PromptRecorder prompt(IDOK);
    key(w.lvl, VK_RETURN);
    EXPECT_NE(prompt.lastText.find("Winter Issue_AB_1.pdf"), std::string::npos) << prompt.lastText;

    // Ctrl+A ticks every issue; Escape closes the window as Close does.
    w.selectIssue(0);
    w.setTick();  // untick the one issue
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    key(w.lv, 'A');
    // Ctrl+R refreshes the library: a magazine folder made meanwhile shows.
    fileSystem.CreateFolder(folder.path() + "\\My Magazines\\Coastal Quilts");
    key(w.lv, 'R');
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
    EXPECT_EQ(w.countTicked(), 2);
    HTREEITEM magazines = TreeView_GetRoot(w.tv);
    TreeView_Expand(w.tv, magazines, TVE_EXPAND);
    int shown = 0;
    for (HTREEITEM i = TreeView_GetChild(w.tv, magazines); i; i = TreeView_GetNextSibling(w.tv, i)) ++shown;
    EXPECT_EQ(shown, 2);
    key(w.lv, VK_ESCAPE);
    EXPECT_FALSE(w.visible());

    showMessageDialog("Quillora could not deliver.", "", "", "OK");
    const auto dialogNames = testsupport::runDriver(ownWindows + "names QuilloraMessage", true);
    EXPECT_EQ(dialogNames.rc, 0u) << dialogNames.out;
    EXPECT_NE(dialogNames.out.find("Button 102 \"OK\""), std::string::npos) << dialogNames.out;
    MSG esc{frmmess::instance().hwnd(), WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
    EXPECT_TRUE(IsDialogMessageA(frmmess::instance().hwnd(), &esc));
    pump();
    EXPECT_FALSE(frmmess::exists() && frmmess::instance().visible());
    w.clearIssues();
}

// Moved to a monitor at 144 % and then one at 200 %: the window takes the
// platform's rectangle and is drawn again for the new scale; back at 100 % it
// is as designed.
TEST_F(LibraryLayout, FollowsTheMonitorsScale) {
    RECT designed{};
    GetWindowRect(w.hwnd(), &designed);
    auto moveTo = [&](int dpi, RECT r) {
        SendMessageA(w.hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&r));
        pump();
    };
    for (int dpi : {144, 192}) {
        RECT suggested{designed.left, designed.top, designed.left + MulDiv(width(designed), dpi, 96),
                       designed.top + MulDiv(height(designed), dpi, 96)};
        moveTo(dpi, suggested);
        EXPECT_EQ(w.dpi(), dpi);
        RECT now{};
        GetWindowRect(w.hwnd(), &now);
        EXPECT_TRUE(EqualRect(&now, &suggested)) << dpi;

        LOGFONTA font{};
        GetObjectA(reinterpret_cast<HFONT>(SendMessageA(w.tv, WM_GETFONT, 0, 0)), sizeof font, &font);
        EXPECT_EQ(font.lfHeight, -MulDiv(8, dpi, 72));
        int cx = 0, cy = 0;
        ImageList_GetIconSize(reinterpret_cast<HIMAGELIST>(SendMessageA(w.tb, TB_GETIMAGELIST, 0, 0)), &cx, &cy);
        EXPECT_EQ(cx, dpi / 3);  // 48 and 64: drawn for 150 and 200 %
        ImageList_GetIconSize(reinterpret_cast<HIMAGELIST>(SendMessageA(w.tb2, TB_GETIMAGELIST, 0, 0)), &cx, &cy);
        EXPECT_EQ(cx, dpi / 6);
        ImageList_GetIconSize(ListView_GetImageList(w.lv, LVSIL_SMALL), &cx, &cy);
        EXPECT_EQ(cx, dpi / 6);

        // The bar between the issue list and the library is 30 pixels at 100 %.
        EXPECT_EQ(rectIn(w.picSplitSub, w.picSplitMain).top - rectIn(w.lv, w.picSplitMain).bottom,
                  MulDiv(30, dpi, 96));
        const RECT split = rectIn(w.picSplitMain, w.hwnd());
        EXPECT_EQ(split.left, MulDiv(105, dpi, 1440));
        EXPECT_EQ(split.top, MulDiv(1000, dpi, 1440));
        EXPECT_EQ(height(rectIn(w.stat, w.hwnd())), MulDiv(465, dpi, 1440));
        EXPECT_EQ(columnWidth(w.lv, 1), MulDiv(500, dpi, 1440));
    }
    moveTo(96, designed);
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(w.lv, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_EQ(font.lfHeight, -MulDiv(8, 96, 72));
    EXPECT_EQ(columnWidth(w.lv, 1), twipsToPixelsX(500));
}
