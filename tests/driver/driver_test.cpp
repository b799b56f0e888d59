// driver.exe against windows of this test program: a small window with a
// button and a label, a popup menu, a tray icon and its balloon, all on a
// thread of their own that pumps messages like a real program.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "support/driver_client.h"

using testsupport::runDriver;

namespace {

constexpr char probeClass[] = "DriverProbe";
constexpr char probeTitle[] = "Driver Probe";
constexpr int pressId = 101;
constexpr UINT menuOne = 201, menuTwo = 202, menuExit = 203;
constexpr UINT trayCallback = WM_APP + 1;
constexpr UINT openMenu = WM_APP + 2;
constexpr UINT showBalloon = WM_APP + 3;
constexpr wchar_t balloonText[] = L"3 new issues are waiting";

// The window, menu and tray icon the driver works on.
class Probe {
public:
    Probe() : thread_([this] { run(); }) {
        while (!hwnd_.load()) Sleep(10);
    }
    ~Probe() {
        PostMessageA(hwnd_, WM_CLOSE, 0, 0);
        thread_.join();
    }
    HWND hwnd() const { return hwnd_; }
    std::atomic<int> presses{0};
    std::atomic<UINT> lastTrayMessage{0};
    std::atomic<UINT> menuChoice{0};
    std::atomic<bool> menuOpen{false};
    std::atomic<LPARAM> clickAt{-1};     // client point of the last left button press
    std::atomic<LPARAM> pointerAt{-1};   // where GetCursorPos put the pointer then

private:
    static LRESULT CALLBACK WndProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
        auto* self = reinterpret_cast<Probe*>(GetWindowLongPtrA(h, GWLP_USERDATA));
        switch (msg) {
            case WM_COMMAND:
                if (LOWORD(wp) == pressId && HIWORD(wp) == BN_CLICKED)
                    ++self->presses;
                return 0;
            case WM_LBUTTONDOWN: {
                POINT pt;
                GetCursorPos(&pt);
                ScreenToClient(h, &pt);
                self->pointerAt = MAKELPARAM(pt.x, pt.y);
                self->clickAt = lp;
                return 0;
            }
            case trayCallback:
                self->lastTrayMessage = static_cast<UINT>(lp);
                return 0;
            case openMenu:
                self->trackMenu();
                return 0;
            case showBalloon:
                self->balloon();
                return 0;
            case WM_DESTROY:
                Shell_NotifyIconW(NIM_DELETE, &self->nid_);
                PostQuitMessage(0);
                return 0;
        }
        return DefWindowProcA(h, msg, wp, lp);
    }

    void run() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = WndProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = probeClass;
        RegisterClassA(&wc);
        HWND h = CreateWindowExA(0, probeClass, probeTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 400, 300,
                                 nullptr, nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrA(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        CreateWindowExA(0, "BUTTON", "&Press", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, 10, 80, 24, h,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(pressId)), wc.hInstance, nullptr);
        CreateWindowExA(0, "BUTTON", "Hidden", WS_CHILD | BS_PUSHBUTTON, 100, 10, 80, 24, h, nullptr,
                        wc.hInstance, nullptr);
        CreateWindowExA(0, "STATIC", "Label text", WS_CHILD | WS_VISIBLE, 10, 50, 120, 20, h, nullptr,
                        wc.hInstance, nullptr);
        addCommonControls(h);
        nid_.cbSize = sizeof nid_;
        nid_.hWnd = h;
        nid_.uID = 1;
        nid_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        nid_.uCallbackMessage = trayCallback;
        nid_.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(32512));  // IDI_APPLICATION
        wcscpy(nid_.szTip, L"Driver probe");
        Shell_NotifyIconW(NIM_ADD, &nid_);
        hwnd_ = h;
        MSG m;
        while (GetMessageA(&m, nullptr, 0, 0) > 0) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
    }

    // A list with tick boxes (reached by Tab, and unnamed), a tree, a status
    // bar and two option buttons.
    void addCommonControls(HWND h) {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES};
        InitCommonControlsEx(&icc);
        HINSTANCE inst = GetModuleHandleA(nullptr);
        HWND lv = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT, 10, 80,
                                  200, 80, h, nullptr, inst, nullptr);
        SendMessageA(lv, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES, LVS_EX_CHECKBOXES);
        const char* headings[] = {"Name", "Size"};
        for (int i = 0; i < 2; ++i) {
            LVCOLUMNA col{};
            col.mask = LVCF_TEXT | LVCF_WIDTH;
            col.cx = 80;
            col.pszText = const_cast<char*>(headings[i]);
            SendMessageA(lv, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&col));
        }
        const char* rows[][2] = {{"apple", "3"}, {"pear", "5"}};
        for (int i = 0; i < 2; ++i) {
            LVITEMA item{};
            item.mask = LVIF_TEXT;
            item.iItem = i;
            item.pszText = const_cast<char*>(rows[i][0]);
            SendMessageA(lv, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
            item.iSubItem = 1;
            item.pszText = const_cast<char*>(rows[i][1]);
            SendMessageA(lv, LVM_SETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
        }
        ListView_SetCheckState(lv, 0, TRUE);
        tree_ = CreateWindowExA(0, WC_TREEVIEWA, "", WS_CHILD | WS_VISIBLE | TVS_HASLINES, 220, 10, 150, 150, h,
                                nullptr, inst, nullptr);
        TVINSERTSTRUCTA node{};
        node.hInsertAfter = TVI_LAST;
        node.item.mask = TVIF_TEXT;
        node.item.pszText = const_cast<char*>("Top");
        auto top = reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&node)));
        node.hParent = top;
        node.item.pszText = const_cast<char*>("Leaf");
        leaf_ = reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&node)));
        SendMessageA(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(top));
        HWND bar = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, h, nullptr, inst,
                                   nullptr);
        int edges[] = {100, -1};
        SendMessageA(bar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(edges));
        SendMessageA(bar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>("left"));
        SendMessageA(bar, SB_SETTEXTA, 1, reinterpret_cast<LPARAM>("right"));
        for (int i = 0; i < 2; ++i)
            options_[i] = CreateWindowExA(0, "BUTTON", i ? "Two" : "One",
                                          WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON | (i ? 0 : WS_GROUP), 10,
                                          170 + 25 * i, 80, 22, h, nullptr, inst, nullptr);
        SendMessageA(options_[0], BM_SETCHECK, BST_CHECKED, 0);
    }

public:
    HWND tree() const { return tree_; }
    HTREEITEM leaf() const { return leaf_; }
    bool optionChecked(int i) const { return SendMessageA(options_[i], BM_GETCHECK, 0, 0) == BST_CHECKED; }

private:
    void trackMenu() {
        HMENU m = CreatePopupMenu();
        AppendMenuA(m, MF_STRING, menuOne, "&One");
        AppendMenuA(m, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(m, MF_STRING, menuTwo, "&Two");
        AppendMenuA(m, MF_STRING, menuExit, "E&xit");
        SetForegroundWindow(hwnd_);
        menuOpen = true;
        menuChoice = TrackPopupMenu(m, TPM_RETURNCMD | TPM_NONOTIFY, 100, 100, 0, hwnd_, nullptr);
        menuOpen = false;
        DestroyMenu(m);
    }

    void balloon() {
        nid_.uFlags = NIF_INFO;
        wcscpy(nid_.szInfo, balloonText);
        wcscpy(nid_.szInfoTitle, L"Probe");
        nid_.dwInfoFlags = NIIF_INFO;
        Shell_NotifyIconW(NIM_MODIFY, &nid_);
    }

    std::atomic<HWND> hwnd_{nullptr};
    HWND tree_ = nullptr;
    HTREEITEM leaf_ = nullptr;
    HWND options_[2] = {};
    NOTIFYICONDATAW nid_{};
    std::thread thread_;
};

template <typename Pred>
bool waitUntil(Pred pred, DWORD dwTimeoutMs = 10000) {
    for (DWORD waited = 0; waited < dwTimeoutMs; waited += 50) {
        if (pred())
            return true;
        Sleep(50);
    }
    return pred();
}

// driver.exe writes its lines in text mode.
std::string withoutCr(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
    return s;
}

std::string ownWindows() { return "--pid " + std::to_string(GetCurrentProcessId()) + " "; }

}  // namespace

TEST(Driver, FindsWindowsAndReadsTheirControls) {
    Probe probe;
    auto found = runDriver(ownWindows() + "wait-window \"Driver Probe\" 10");
    EXPECT_EQ(0u, found.rc);
    EXPECT_NE(std::string::npos,
              found.out.find(" DriverProbe " + std::to_string(GetCurrentProcessId()) + " \"Driver Probe\""))
        << found.out;
    EXPECT_EQ(0u, runDriver(ownWindows() + "wait-window DriverProbe 1").rc) << "a class name finds it too";
    EXPECT_NE(std::string::npos, runDriver(ownWindows() + "list").out.find("\"Driver Probe\""));

    auto text = runDriver(ownWindows() + "text \"Driver Probe\"");
    EXPECT_EQ(0u, text.rc);
    EXPECT_NE(std::string::npos, text.out.find(" Button 101 \"&Press\"")) << text.out;
    EXPECT_NE(std::string::npos, text.out.find(" Static ")) << text.out;
    EXPECT_NE(std::string::npos, text.out.find("\"Label text\"")) << text.out;

    // The list has no name for a screen reader; the option buttons have their captions.
    auto names = runDriver(ownWindows() + "names \"Driver Probe\"");
    EXPECT_EQ(1u, names.rc) << names.out;
    EXPECT_EQ("SysListView32 0 \"\"\nButton 0 \"One\"\nButton 0 \"Two\"", withoutCr(names.out));

    EXPECT_EQ(1u, runDriver(ownWindows() + "wait-window \"No Such Window\" 0.3").rc);
    EXPECT_EQ(1u, runDriver("--pid 1 wait-window \"Driver Probe\" 0.3").rc)
        << "another process's windows only";
    EXPECT_EQ(2u, runDriver("no-such-command").rc);
}

TEST(Driver, PressesVisibleButtonsByCaption) {
    Probe probe;
    EXPECT_EQ(0u, runDriver(ownWindows() + "click \"Driver Probe\" Press").rc);
    EXPECT_TRUE(waitUntil([&] { return probe.presses == 1; }));
    EXPECT_EQ(0u, runDriver(ownWindows() + "click \"Driver Probe\" &Press").rc);
    EXPECT_TRUE(waitUntil([&] { return probe.presses == 2; }));
    EXPECT_EQ(1u, runDriver(ownWindows() + "click \"Driver Probe\" Hidden").rc);
    EXPECT_EQ(1u, runDriver(ownWindows() + "click \"Driver Probe\" Nothing").rc);
}

TEST(Driver, ChoosesPopupMenuItems) {
    Probe probe;
    PostMessageA(probe.hwnd(), openMenu, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return probe.menuOpen.load(); }));
    EXPECT_EQ(0u, runDriver("menu E&xit 10").rc);
    EXPECT_TRUE(waitUntil([&] { return !probe.menuOpen && probe.menuChoice == menuExit; }))
        << "chosen: " << probe.menuChoice;

    PostMessageA(probe.hwnd(), openMenu, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return probe.menuOpen.load(); }));
    EXPECT_EQ(0u, runDriver("menu #2 10").rc);
    EXPECT_TRUE(waitUntil([&] { return !probe.menuOpen && probe.menuChoice == menuTwo; }))
        << "chosen: " << probe.menuChoice;
    EXPECT_EQ(1u, runDriver("menu &One 0.3").rc) << "no menu is open";
}

TEST(Driver, ClicksTheTrayIconAndReadsTheBalloon) {
    Probe probe;
    auto icon = runDriver("tray 0x205");
    EXPECT_EQ(0u, icon.rc);
    EXPECT_NE(std::string::npos, icon.out.find("__winex11_tray_icon")) << icon.out;
    EXPECT_TRUE(waitUntil([&] { return probe.lastTrayMessage == WM_RBUTTONUP; }))
        << "got " << probe.lastTrayMessage;
    EXPECT_EQ(0u, runDriver("tray 0x202").rc);
    EXPECT_TRUE(waitUntil([&] { return probe.lastTrayMessage == WM_LBUTTONUP; }));
    EXPECT_EQ(2u, runDriver("tray 0x405").rc) << "Wine's icon does not relay a balloon click";

    PostMessageA(probe.hwnd(), showBalloon, 0, 0);
    auto balloon = runDriver("balloon-text 15");
    EXPECT_EQ(0u, balloon.rc);
    EXPECT_EQ("3 new issues are waiting", balloon.out);
}

TEST(Driver, ClicksWithThePointerAtAPointOfAWindowOrAChild) {
    Probe probe;
    // Nothing of the other tests on the same display may cover the point.
    SetWindowPos(probe.hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_EQ(0u, runDriver(ownWindows() + "click-at \"Driver Probe\" 150 190").rc);
    EXPECT_TRUE(waitUntil([&] { return probe.clickAt == MAKELPARAM(150, 190); })) << probe.clickAt;
    EXPECT_EQ(MAKELPARAM(150, 190), probe.pointerAt.load()) << "the pointer moved there too";

    char button[32];
    snprintf(button, sizeof button, "0x%llx",
             static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(GetDlgItem(probe.hwnd(), pressId))));
    EXPECT_EQ(0u, runDriver(std::string("click-at ") + button + " 40 12").rc);
    EXPECT_TRUE(waitUntil([&] { return probe.presses == 1; })) << "a real click on the child button";

    EXPECT_EQ(1u, runDriver(ownWindows() + "click-at \"No Such Window\" 1 1").rc);
    EXPECT_EQ(2u, runDriver("click-at \"Driver Probe\" 1").rc);
}

TEST(Driver, ReadsListsTreesAndStatusBarsAndClicksNodesAndOptions) {
    Probe probe;
    auto items = runDriver(ownWindows() + "items \"Driver Probe\" Size");
    EXPECT_EQ(0u, items.rc);
    EXPECT_EQ("Name\tSize\n[x] apple\t3\n[ ] pear\t5", withoutCr(items.out));
    EXPECT_EQ(1u, runDriver(ownWindows() + "items \"Driver Probe\" Weight").rc);
    EXPECT_EQ("Top\nTop\\Leaf", withoutCr(runDriver(ownWindows() + "tree \"Driver Probe\"").out));
    EXPECT_EQ("left\nright", withoutCr(runDriver(ownWindows() + "status \"Driver Probe\"").out));

    EXPECT_EQ(0u, runDriver(ownWindows() + "tree-click \"Driver Probe\" Top\\Leaf").rc);
    EXPECT_TRUE(waitUntil([&] {
        return reinterpret_cast<HTREEITEM>(SendMessageA(probe.tree(), TVM_GETNEXTITEM, TVGN_CARET, 0)) ==
               probe.leaf();
    }));
    RECT leaf{};
    const HTREEITEM node = probe.leaf();
    memcpy(&leaf, &node, sizeof node);
    SendMessageA(probe.tree(), TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&leaf));
    MapWindowPoints(probe.tree(), nullptr, reinterpret_cast<POINT*>(&leaf), 2);
    POINT cursor{};
    GetCursorPos(&cursor);
    EXPECT_TRUE(PtInRect(&leaf, cursor)) << "the pointer is left on the node, for hit tests";
    EXPECT_EQ("Top\n*Top\\Leaf", withoutCr(runDriver(ownWindows() + "tree \"Driver Probe\"").out));
    EXPECT_EQ(1u, runDriver(ownWindows() + "tree-click \"Driver Probe\" Top\\None").rc);

    EXPECT_EQ(0u, runDriver(ownWindows() + "click \"Driver Probe\" Two").rc);
    EXPECT_TRUE(waitUntil([&] { return probe.optionChecked(1) && !probe.optionChecked(0); }))
        << "an option button is clicked, not only its parent told";
}
