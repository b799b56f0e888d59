#include "library/frmmain.h"

#include <windowsx.h>

#include <algorithm>
#include <iterator>

#include "base/Dpi.h"
#include "base/Log.h"
#include "base/ModCommon.h"
#include "base/resource.h"
#include "dialog/frmmess.h"
#include "dialog/frmsettings.h"
#include "library/Pictures.h"
#include "library/cSplitter.h"
#include "settings/UserSettings.h"
#include "text/Text.h"
#include "tray/TransferView.h"
#include "tray/frmtray.h"
#include "work/Announce.h"
#include "work/Work.h"

using namespace ModCommon;

namespace {

constexpr char kClassName[] = "QuilloraLibrary";
constexpr char kSplitBoxClass[] = "QuilloraSplitBox";
constexpr char kCaption[] = " Quillora";
constexpr char kHelpFile[] = "\\Quillora Help.pdf";
constexpr char kPublisherNotice[] =
    "Published by Orvane. Your subscription brings each new issue to this computer as soon as it appears.\n"
    "Copyright (C) Orvane. All rights reserved.";
constexpr char kTestBuildNotice[] = "Test build: trusts the public TEST update key.";

// Design, in twips.
constexpr int kInnerWidth = 8700, kInnerHeight = 5535;
constexpr int kSplitLeft = 105, kSplitTop = 1000, kSplitMarginX = 210, kSplitMarginY = 1600;
constexpr int kStatHeight = 465;
constexpr int kPanelWidths[4] = {3175, 1058, 7964, 2540};
constexpr int kPanel3Minimum = 2540;
constexpr int kTb2Gap = 60;  // tb2 rides this far under lv
constexpr int kTb2Width = 1200, kTb2Height = 330;
struct Place {
    int left, top, width, height;
};
constexpr Place kPicSplitMain{150, 975, 8430, 2595};
constexpr Place kPicSplitSub{0, 1305, 8385, 1245};
// lv columns: Title takes what the others leave.
constexpr int kLvTitleMargin = 6000, kLvlTitleMargin = 6200;
constexpr int kLvWidths[6] = {2700, 500, 2000, 1000, 800, 0};
constexpr int kLvlWidths[4] = {2500, 500, 1100, 0};
constexpr const char* kLvColumns[6] = {"Title", "Issue#", "Magazine", "Status", "Size", "FN"};
constexpr const char* kLvlColumns[4] = {"Title", "Issue#", "Date", "Location"};

// Progress bar over status panel 2.
constexpr int kPbInset = 50, kPbNarrower = 175;
constexpr double kPbTopDivisor = 3.8, kPbHeightDivisor = 1.8;

// Command ids.
constexpr int kTbFirstId = 1000, kTb2FirstId = 1100;
enum MenuId {
    idReadHelp = 1200,
    idManagerUpdates,
    idAbout,
    idOpenLog,
    idSettings,
    idSelectAll = 1210,
    idDeliverAll,
    idRemoveAll,
};
struct Button {
    const char* caption;
    const char* tip;
};
constexpr Button kTbButtons[5] = {{"  New Magazines", "Check for new magazines."},
                                  {"Deliver", "Deliver selected."},
                                  {"Remove", "Remove selected."},
                                  {"Close", "Close window."},
                                  {"Help", "Show Help."}};
constexpr const char* kTb2Tips[3] = {"Refresh.", "Open.", "No function."};

constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

frmmain*& instancePtr() {
    static frmmain* p = nullptr;
    return p;
}

HINSTANCE module() {
    return GetModuleHandleA(nullptr);
}

// A control at its designed place, in the window's font.
HWND makeChild(HFONT font, int dpi, HWND parent, const char* cls, DWORD style, const Place& p, int id = 0,
               DWORD exStyle = 0) {
    HWND h = CreateWindowExA(exStyle, cls, "", WS_CHILD | style, Dpi::fromTwips(p.left, dpi),
                             Dpi::fromTwips(p.top, dpi), Dpi::fromTwips(p.width, dpi), Dpi::fromTwips(p.height, dpi),
                             parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), module(), nullptr);
    SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return h;
}

RECT windowRectIn(HWND h, HWND parent) {
    RECT r{};
    GetWindowRect(h, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void addColumns(HWND list, const char* const* names, const int* widths, int count, int dpi) {
    for (int i = 0; i < count; ++i) {
        LVCOLUMNA c{};
        c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        c.pszText = const_cast<char*>(names[i]);
        c.cx = Dpi::fromTwips(widths[i], dpi);
        c.iSubItem = i;
        SendMessageA(list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&c));
    }
}

void addExtendedStyle(HWND list, DWORD bits) {
    DWORD style = static_cast<DWORD>(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, style | bits);
}

// A negative width is refused and the column keeps its width.
void setColumnWidth(HWND list, int column, int twips, int dpi) {
    if (twips >= 0)
        SendMessageA(list, LVM_SETCOLUMNWIDTH, column, Dpi::fromTwips(twips, dpi));
}

void addButtons(HWND toolbar, int firstId, int count, const char* const* captions) {
    SendMessageA(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    for (int i = 0; i < count; ++i) {
        TBBUTTON b{};
        b.iBitmap = i;
        b.idCommand = firstId + i + 1;
        b.fsState = TBSTATE_ENABLED;
        b.fsStyle = BTNS_BUTTON;
        b.iString = captions && captions[i] ? reinterpret_cast<INT_PTR>(captions[i]) : -1;
        SendMessageA(toolbar, TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&b));
    }
    SendMessageA(toolbar, TB_AUTOSIZE, 0, 0);
}

short mouseButton(UINT msg, WPARAM wp) {
    switch (msg) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
            return 1;
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
            return 2;
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
            return 4;
        default:
            return static_cast<short>((wp & MK_LBUTTON ? 1 : 0) | (wp & MK_RBUTTON ? 2 : 0) |
                                      (wp & MK_MBUTTON ? 4 : 0));
    }
}

short shiftState(WPARAM wp) {
    return static_cast<short>((wp & MK_SHIFT ? 1 : 0) | (wp & MK_CONTROL ? 2 : 0) |
                              (GetKeyState(VK_MENU) < 0 ? 4 : 0));
}

int heightTwips(HWND h, int dpi) {
    RECT r{};
    GetWindowRect(h, &r);
    return Dpi::toTwips(r.bottom - r.top, dpi);
}

}  // namespace

// ---------------------------------------------------------------------------
// The one instance

frmmain& frmmain::instance() {
    frmmain*& p = instancePtr();
    if (!p) {
        p = new frmmain();
        p->create();
    }
    return *p;
}

bool frmmain::exists() {
    return instancePtr() != nullptr;
}

void frmmain::unload() {
    frmmain*& p = instancePtr();
    if (!p)
        return;
    p->allowClose_ = true;
    if (p->hwnd_)
        SendMessageA(p->hwnd_, WM_CLOSE, 0, 0);
    p->destroyWindow();
    delete std::exchange(p, nullptr);
}

frmmain::frmmain() = default;
frmmain::~frmmain() = default;

WNDCLASSEXA frmmain::windowClass() {
    WNDCLASSEXA wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.hIcon = static_cast<HICON>(LoadImageA(module(), MAKEINTRESOURCEA(IDI_MAIN), IMAGE_ICON, 32, 32, LR_SHARED));
    wc.hIconSm = static_cast<HICON>(LoadImageA(module(), MAKEINTRESOURCEA(IDI_MAIN), IMAGE_ICON, 16, 16, LR_SHARED));
    wc.lpszClassName = kClassName;
    return wc;
}

void frmmain::create() {
    // The splitter boxes are children of no form of their own.
    static const bool registered = [] {
        WNDCLASSEXA box{};
        box.cbSize = sizeof box;
        box.lpfnWndProc = SplitBoxProc;
        box.hInstance = module();
        box.hCursor = LoadCursor(nullptr, IDC_ARROW);
        box.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        box.lpszClassName = kSplitBoxClass;
        return RegisterClassExA(&box) != 0;
    }();
    modFTP::watchWork();
    (void)registered;

    // Shown in the notification area while a delivery runs.
    trayIcon_.reset(Pictures::programIcon(IDI_MAIN, GetSystemMetrics(SM_CXSMICON)));
    icon_ = trayIcon_.get();

    // Made on the primary monitor, so at the system's DPI.
    const int dpi = Dpi::ofSystem();
    RECT r{0, 0, Dpi::fromTwips(kInnerWidth, dpi), Dpi::fromTwips(kInnerHeight, dpi)};
    Dpi::adjustWindowRect(r, kStyle, 0, dpi);
    const int width = r.right - r.left, height = r.bottom - r.top;
    const int left = std::max(0, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
    const int top = std::max(0, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
    createWindow(0, kCaption, kStyle, left, top, width, height, nullptr);
    font_ = Dpi::uiFont(dpi_);
    createControls();
    nameControls();
    load();
    layout();
    // Where and how large the user left it; it stays hidden until opened.
    RECT now{};
    GetWindowRect(hwnd_, &now);
    UserSettings::windowPlace(placeSection).LoadFormPosition(hwnd_, twips(now.right - now.left) / 2,
                                                             twips(now.bottom - now.top) / 2);
    ShowWindow(hwnd_, SW_HIDE);
}

void frmmain::createControls() {
    tb = makeChild(font_.get(), dpi_, hwnd_, TOOLBARCLASSNAMEA, WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP,
                   {0, 0, 0, 0});
    stat = makeChild(font_.get(), dpi_, hwnd_, STATUSCLASSNAMEA, WS_VISIBLE | SBARS_SIZEGRIP | SBARS_TOOLTIPS, {0, 0, 0, kStatHeight});
    sizeStatusBar();
    SendMessageA(stat, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>("Ready"));
    pb = makeChild(font_.get(), dpi_, stat, PROGRESS_CLASSA, PBS_SMOOTH, {0, 0, 0, 0});

    // The boxes hold the lists: Tab walks into them, in the order made.
    picSplitMain =
        makeChild(font_.get(), dpi_, hwnd_, kSplitBoxClass, WS_VISIBLE | WS_CLIPCHILDREN, kPicSplitMain, 0, WS_EX_CONTROLPARENT);
    lv = makeChild(font_.get(), dpi_, 
        picSplitMain, WC_LISTVIEWA,
        WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS |
            LVS_OWNERDATA,
        {}, 0, WS_EX_CLIENTEDGE);
    addColumns(lv, kLvColumns, kLvWidths, 6, dpi_);
    // The ticks are the model's too: the list asks for them with the texts.
    SendMessageW(lv, LVM_SETCALLBACKMASK, LVIS_STATEIMAGEMASK, 0);
    picSplitSub =
        makeChild(font_.get(), dpi_, picSplitMain, kSplitBoxClass, WS_VISIBLE | WS_CLIPCHILDREN, kPicSplitSub, 0, WS_EX_CONTROLPARENT);
    tv = makeChild(font_.get(), dpi_, 
        picSplitSub, WC_TREEVIEWA,
        WS_VISIBLE | WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS, {}, 0,
        WS_EX_CLIENTEDGE);
    lvl = makeChild(font_.get(), dpi_, picSplitSub, WC_LISTVIEWA, WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHAREIMAGELISTS, {},
                    0, WS_EX_CLIENTEDGE);
    addColumns(lvl, kLvlColumns, kLvlWidths, 4, dpi_);
    tb2 = makeChild(font_.get(), dpi_, 
        picSplitMain, TOOLBARCLASSNAMEA,
        WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER,
        {0, 0, kTb2Width, kTb2Height});

    // The toolbar's commands by keyboard, as the help document lists them.
    ACCEL keys[] = {{FVIRTKEY, VK_F5, kTbFirstId + tbNewMagazines},
                    {FVIRTKEY | FCONTROL, 'D', kTbFirstId + tbDeliver},
                    {FVIRTKEY, VK_DELETE, kTbFirstId + tbRemove},
                    {FVIRTKEY, VK_ESCAPE, kTbFirstId + tbClose},
                    {FVIRTKEY, VK_F1, idReadHelp},
                    {FVIRTKEY | FCONTROL, 'A', idSelectAll},
                    {FVIRTKEY | FCONTROL, 'R', kTb2FirstId + 1}};  // the library's Refresh
    keys_.reset(CreateAcceleratorTableA(keys, static_cast<int>(std::size(keys))));

    menuOwner_.reset(CreateMenu());
    mnHelp_ = CreatePopupMenu();
    AppendMenuA(mnHelp_, MF_STRING, idReadHelp, "&Read Help");
    AppendMenuA(mnHelp_, MF_STRING, idManagerUpdates, "Manager Updates");
    AppendMenuA(mnHelp_, MF_STRING, idSettings, "&Settings...");
    AppendMenuA(mnHelp_, MF_STRING, idOpenLog, "Open &Log");
    AppendMenuA(mnHelp_, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(mnHelp_, MF_STRING, idAbout, "&About");
    lvmen_ = CreatePopupMenu();
    AppendMenuA(lvmen_, MF_STRING, idSelectAll, "Select All");
    AppendMenuA(lvmen_, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(lvmen_, MF_STRING, idDeliverAll, "Deliver All Selected");
    AppendMenuA(lvmen_, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(lvmen_, MF_STRING, idRemoveAll, "Remove All Selected");
    AppendMenuA(menuOwner_.get(), MF_POPUP, reinterpret_cast<UINT_PTR>(mnHelp_), "mnHelp");
    AppendMenuA(menuOwner_.get(), MF_POPUP, reinterpret_cast<UINT_PTR>(lvmen_), "lvmen");
}

// What the window does when it is first loaded; the split areas still have
// their designed sizes here, which fixes the main splitter's share.
void frmmain::load() {
    addExtendedStyle(lv, LVS_EX_FULLROWSELECT | LVS_EX_ONECLICKACTIVATE | LVS_EX_CHECKBOXES);
    addExtendedStyle(lvl, LVS_EX_FULLROWSELECT);

    m_cSplitMain = std::make_unique<cSplitter>();
    cSplitter& upper = *m_cSplitMain;
    upper.Orientation(cSplitter::horizontal);
    upper.FullDrag(true);
    upper.KeepProportion(true);
    upper.Container(picSplitMain);
    upper.MinimumSize(2, 58);
    upper.MinimumSize(1, 100);
    upper.Bind(lv, picSplitSub);
    upper.SplitterSize(30);
    upper.Proportion(1);
    upper.Position(1);

    m_cSplitSub = std::make_unique<cSplitter>();
    cSplitter& lower = *m_cSplitSub;
    lower.Orientation(cSplitter::vertical);
    lower.FullDrag(true);
    lower.KeepProportion(true);
    lower.Container(picSplitSub);
    lower.MinimumSize(2, 205);
    lower.MinimumSize(1, 205);
    lower.Bind(tv, lvl);
    lower.SplitterSize(7);
    lower.Proportion(1);

    // From here on a failing step leaves its control as it is.
    makePictures();

    const char* captions[5];
    std::transform(std::begin(kTbButtons), std::end(kTbButtons), captions,
                   [](const Button& b) { return b.caption; });
    addButtons(tb, kTbFirstId, 5, captions);
    addButtons(tb2, kTb2FirstId, 3, nullptr);
    placeSmallToolbar();

    buildLibraryTree();
}

// ---------------------------------------------------------------------------
// Window procedures: flat dispatch only

LRESULT CALLBACK frmmain::SplitBoxProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    frmmain* self = instancePtr();
    if (self && self->hwnd_)
        return self->onSplitBox(h, msg, wp, lp);
    return DefWindowProcA(h, msg, wp, lp);
}

LRESULT frmmain::onMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_SIZE:
            if (tb)
                SendMessageA(tb, TB_AUTOSIZE, 0, 0);
            if (stat) {
                SendMessageA(stat, WM_SIZE, 0, 0);
                layoutStatusBar();
            }
            layout();
            return 0;
        case WM_PAINT: {
            placeProgressBar();
            PAINTSTRUCT ps;
            BeginPaint(hwnd_, &ps);
            EndPaint(hwnd_, &ps);
            return 0;
        }
        case WM_CLOSE:
            keepPlace();
            if (!allowClose_) {
                ShowWindow(hwnd_, SW_HIDE);
                return 0;
            }
            destroyWindow();
            return 0;
        case WM_NOTIFY:
            return onNotify(reinterpret_cast<NMHDR*>(lp));
        case WM_COMMAND:
            onCommand(LOWORD(wp));
            return 0;
        case WM_ACTIVATE:
            // The control that had the keyboard gets it back; the issue list first.
            if (LOWORD(wp) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus && IsChild(hwnd_, focus))
                    focus_ = focus;
            } else {
                SetFocus(focus_ && IsWindow(focus_) && IsWindowVisible(focus_) ? focus_ : lv);
            }
            return 0;
        case WM_DPICHANGED:
            applyDpi();
            takeSuggestedRect(lp);
            layout();
            placeSmallToolbar();
            return 0;
        case WM_CONTEXTMENU:
            // Shift+F10 or the menu key: at the selected issue (a click has its own way).
            if (reinterpret_cast<HWND>(wp) == lv && lp == -1)
                lvmen_PopupAtSelection();
            return 0;
    }
    return defaultProc(msg, wp, lp);
}

bool frmmain::translateKey(MSG& msg) {
    if (!hwnd_ || (msg.hwnd != hwnd_ && !IsChild(hwnd_, msg.hwnd)))
        return false;
    return TranslateAcceleratorA(hwnd_, keys_.get(), &msg) || IsDialogMessageA(hwnd_, &msg);
}

void frmmain::lvmen_PopupAtSelection() {
    if (issueCount() < 1)
        return;
    const int item = static_cast<int>(SendMessageW(lv, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    RECT r{LVIR_BOUNDS, 0, 0, 0};
    if (item < 0 || !SendMessageW(lv, LVM_GETITEMRECT, item, reinterpret_cast<LPARAM>(&r)))
        r = RECT{};
    POINT at{r.left + 8, r.bottom};
    ClientToScreen(lv, &at);
    popupMenu(lvmen_, &at);
}

LRESULT frmmain::onSplitBox(HWND box, UINT msg, WPARAM wp, LPARAM lp) {
    cSplitter* splitter = box == picSplitMain  ? m_cSplitMain.get()
                          : box == picSplitSub ? m_cSplitSub.get()
                                               : nullptr;
    const float x = static_cast<float>(twips(GET_X_LPARAM(lp)));
    const float y = static_cast<float>(twips(GET_Y_LPARAM(lp)));
    switch (msg) {
        case WM_NOTIFYFORMAT:
            // The lists report in UTF-16, so every title shows whole.
            return NFR_UNICODE;
        case WM_NOTIFY:
            return onNotify(reinterpret_cast<NMHDR*>(lp));
        case WM_COMMAND:
            onCommand(LOWORD(wp));
            return 0;
        case WM_CONTEXTMENU:
            // Passed on naming the list it is for: the default names the box.
            return SendMessageA(hwnd_, msg, wp, lp);
        case WM_SIZE:
            if (!splitter)
                break;
            splitter->Resize();
            if (box == picSplitMain)
                placeSmallToolbar();
            return 0;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            if (!splitter)
                break;
            SetCapture(box);
            splitter->MouseDown(mouseButton(msg, wp), shiftState(wp), x, y);
            return 0;
        case WM_MOUSEMOVE:
            if (!splitter)
                break;
            splitter->MouseMove(mouseButton(msg, wp), shiftState(wp), x, y);
            if (box == picSplitMain)
                placeSmallToolbar();
            return 0;
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
        case WM_MBUTTONUP:
            if (!splitter)
                break;
            if (GetCapture() == box)
                ReleaseCapture();
            splitter->MouseUp(mouseButton(msg, wp), shiftState(wp), x, y);
            return 0;
        case WM_SETCURSOR:
            // The splitter shows its own cursor over the bar.
            if (LOWORD(lp) == HTCLIENT && reinterpret_cast<HWND>(wp) == box)
                return TRUE;
            break;
    }
    return DefWindowProcA(box, msg, wp, lp);
}

LRESULT frmmain::onNotify(NMHDR* hdr) {
    if (hdr->code == TTN_GETDISPINFOA || hdr->code == TTN_GETDISPINFOW) {
        const int id = static_cast<int>(hdr->idFrom);
        const char* tip = nullptr;
        if (id > kTbFirstId && id <= kTbFirstId + 5)
            tip = kTbButtons[id - kTbFirstId - 1].tip;
        else if (id > kTb2FirstId && id <= kTb2FirstId + 3)
            tip = kTb2Tips[id - kTb2FirstId - 1];
        if (hdr->code == TTN_GETDISPINFOA) {
            reinterpret_cast<NMTTDISPINFOA*>(hdr)->lpszText = const_cast<char*>(tip ? tip : "");
        } else {
            static wchar_t wide[80];
            MultiByteToWideChar(CP_ACP, 0, tip ? tip : "", -1, wide, 80);
            reinterpret_cast<NMTTDISPINFOW*>(hdr)->lpszText = wide;
        }
        return 0;
    }
    if (hdr->hwndFrom == lv) {
        switch (hdr->code) {
            case LVN_GETDISPINFOW:
                issueDisplayInfo(reinterpret_cast<NMLVDISPINFOW*>(hdr));
                return 0;
            case LVN_KEYDOWN:
                if (reinterpret_cast<NMLVKEYDOWN*>(hdr)->wVKey == VK_SPACE)
                    setTick();
                return 0;
            case LVN_COLUMNCLICK:
                lv_ColumnClick(reinterpret_cast<NMLISTVIEW*>(hdr)->iSubItem);
                return 0;
            case NM_CLICK: {
                // The list keeps no ticks of its own: a click on the row or on
                // its box toggles the model's, once.
                auto* act = reinterpret_cast<NMITEMACTIVATE*>(hdr);
                if (act->iItem >= 0) {
                    selectIssue(act->iItem);
                    lv_ItemClick(act->iItem);
                }
                return 0;
            }
            case NM_RCLICK:
                lvmen_Popup();
                return 0;
        }
        return 0;
    }
    if (hdr->hwndFrom == lvl) {
        switch (hdr->code) {
            case LVN_COLUMNCLICK:
                lvl_ColumnClick(reinterpret_cast<NMLISTVIEW*>(hdr)->iSubItem);
                return 0;
            case NM_CLICK:
                if (reinterpret_cast<NMITEMACTIVATE*>(hdr)->iItem >= 0)
                    lvl_ItemClick(reinterpret_cast<NMITEMACTIVATE*>(hdr)->iItem);
                return 0;
            case NM_DBLCLK:
            case NM_RETURN:
                lvl_DblClick();
                return 0;
            case LVN_ITEMCHANGED: {
                // Chosen by the arrow keys as well as by a click.
                const auto* change = reinterpret_cast<NMLISTVIEW*>(hdr);
                if (change->iItem >= 0 && (change->uNewState & ~change->uOldState & LVIS_SELECTED))
                    lvl_ItemClick(change->iItem);
                return 0;
            }
        }
        return 0;
    }
    // The arrow keys show the folder they move to, as a click does.
    if (hdr->hwndFrom == tv && (hdr->code == TVN_SELCHANGEDA || hdr->code == TVN_SELCHANGEDW)) {
        // The two layouts agree up to the new item's handle.
        const auto* change = reinterpret_cast<NMTREEVIEWW*>(hdr);
        if (change->action == TVC_BYKEYBOARD && change->itemNew.hItem)
            tv_NodeClick(change->itemNew.hItem);
        return 0;
    }
    if (hdr->hwndFrom == tv && hdr->code == NM_CLICK) {
        TVHITTESTINFO hit{};
        GetCursorPos(&hit.pt);
        ScreenToClient(tv, &hit.pt);
        HTREEITEM node =
            reinterpret_cast<HTREEITEM>(SendMessageA(tv, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
        if (node && (hit.flags & TVHT_ONITEM))
            tv_NodeClick(node);
        return 0;
    }
    return 0;
}

void frmmain::onCommand(int id) {
    if (id > kTbFirstId && id <= kTbFirstId + 5) {
        tb_ButtonClick(id - kTbFirstId);
        return;
    }
    if (id > kTb2FirstId && id <= kTb2FirstId + 3) {
        tb2_ButtonClick(id - kTb2FirstId);
        return;
    }
    switch (id) {
        case IDOK:  // Enter, through the dialog keys: a library file or folder opens
            if (GetFocus() == lvl || GetFocus() == tv)
                tb2_ButtonClick(2);
            return;
        case idReadHelp:
            mnuOnHelp_Click();
            return;
        case idManagerUpdates:
            mnuup_Click();
            return;
        case idAbout:
            mnAbout_Click();
            return;
        case idOpenLog:
            mnuLog_Click();
            return;
        case idSettings:
            frmsettings::open();
            return;
        case idSelectAll:
            if (!Work::busy())
                setLstTick();
            return;
        case idDeliverAll:
            if (!Work::busy())
                announceSelection(countTicked());
            return;
        case idRemoveAll:
            removeMag();
            if (hwnd_)
                SetForegroundWindow(hwnd_);
            return;
    }
}

// ---------------------------------------------------------------------------
// Layout

void frmmain::layout() {
    if (!hwnd_ || !picSplitMain)
        return;
    RECT client{};
    GetClientRect(hwnd_, &client);
    const int scaleWidth = twips(client.right), scaleHeight = twips(client.bottom);
    const int width = scaleWidth - kSplitMarginX, height = scaleHeight - kSplitMarginY;
    if (width >= 0 && height >= 0)
        MoveWindow(picSplitMain, px(kSplitLeft), px(kSplitTop), px(width),
                   px(height), TRUE);
    setColumnWidth(lv, colTitle, scaleWidth - kLvTitleMargin, dpi_);
    for (int c = colIssue; c <= colRecord; ++c) setColumnWidth(lv, c, kLvWidths[c], dpi_);
    setColumnWidth(lvl, colTitle, scaleWidth - kLvlTitleMargin, dpi_);
    for (int c = colIssue; c <= colLocation; ++c) setColumnWidth(lvl, c, kLvlWidths[c], dpi_);
    if (IsIconic(hwnd_))
        ShowWindow(hwnd_, SW_HIDE);
}

// The bar sizes itself to its font; how its minimum height adds up with the
// borders differs between comctl32 versions, so correct by the result.
void frmmain::sizeStatusBar() {
    int minHeight = px(kStatHeight);
    for (int attempt = 0; attempt < 3; ++attempt) {
        SendMessageA(stat, SB_SETMINHEIGHT, minHeight, 0);
        SendMessageA(stat, WM_SIZE, 0, 0);
        RECT bar{};
        GetWindowRect(stat, &bar);
        const int missing = px(kStatHeight) - (bar.bottom - bar.top);
        if (missing == 0)
            break;
        minHeight = std::max(0, minHeight + missing);
    }
    layoutStatusBar();
}

// The toolbars' pictures, the issue icon and the window's icons, drawn for
// the window's DPI.
void frmmain::makePictures() {
    const int small = Dpi::metric(SM_CXSMICON, dpi_), big = Dpi::metric(SM_CXICON, dpi_);
    // The old pictures go only once nothing shows them.
    AutoHimagelist tools(Pictures::toolbarImages(false, dpi_)), smallTools(Pictures::toolbarImages(true, dpi_));
    AutoHimagelist items(ImageList_Create(small, small, ILC_COLOR32, 1, 1));
    if (AutoHicon item{Pictures::programIcon(IDI_ITEM, small)})
        ImageList_AddIcon(items.get(), item.get());
    SendMessageA(lv, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(items.get()));
    SendMessageA(lvl, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(items.get()));
    SendMessageA(tb, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(tools.get()));
    SendMessageA(tb2, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(smallTools.get()));
    imgl32_ = std::move(tools);
    imgl16t_ = std::move(smallTools);
    imgl16_ = std::move(items);

    AutoHicon bigIcon(Pictures::programIcon(IDI_MAIN, big)), smallIcon(Pictures::programIcon(IDI_MAIN, small));
    SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon.get()));
    SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon.get()));
    bigIcon_ = std::move(bigIcon);
    smallIcon_ = std::move(smallIcon);
}

// The window moved to a monitor of another scale (dpi_ holds the new one):
// fonts, pictures and the designed sizes are made again for it.
void frmmain::applyDpi() {
    font_ = Dpi::uiFont(dpi_);
    for (HWND control : {tb, stat, pb, lv, tv, lvl, tb2})
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
    makePictures();
    SendMessageA(tb, TB_AUTOSIZE, 0, 0);
    SetWindowPos(tb2, nullptr, 0, 0, px(kTb2Width), px(kTb2Height), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    m_cSplitMain->DisplayDpi(dpi_);
    m_cSplitSub->DisplayDpi(dpi_);
    sizeStatusBar();
}

// Panel 3 springs to fill the width left over, never narrower than its minimum.
void frmmain::layoutStatusBar() {
    RECT client{};
    GetClientRect(hwnd_, &client);
    const int scaleWidth = twips(client.right);
    const int fixed = kPanelWidths[0] + kPanelWidths[1] + kPanelWidths[3];
    const int spring = std::max(kPanel3Minimum, scaleWidth - fixed);
    int edges[4];
    edges[0] = px(kPanelWidths[0]);
    edges[1] = px(kPanelWidths[0] + kPanelWidths[1]);
    edges[2] = px(kPanelWidths[0] + kPanelWidths[1] + spring);
    edges[3] = px(kPanelWidths[0] + kPanelWidths[1] + spring + kPanelWidths[3]);
    SendMessageA(stat, SB_SETPARTS, 4, reinterpret_cast<LPARAM>(edges));
}

void frmmain::placeProgressBar() {
    if (!stat || !pb)
        return;
    int edges[4] = {};
    if (SendMessageA(stat, SB_GETPARTS, 4, reinterpret_cast<LPARAM>(edges)) < 2)
        return;
    const int panelLeft = twips(edges[0]), panelWidth = twips(edges[1] - edges[0]);
    const int statHeight = heightTwips(stat, dpi_);
    const int width = panelWidth - kPbNarrower;
    const int height = static_cast<int>(statHeight / kPbHeightDivisor);
    if (width < 0 || height < 0)
        return;
    // pb lives in the status bar, so its top is measured from the bar's own top.
    MoveWindow(pb, px(panelLeft + kPbInset),
               px(static_cast<int>(statHeight / kPbTopDivisor)), px(width),
               px(height), TRUE);
}

void frmmain::placeSmallToolbar() {
    if (!tb2 || !lv)
        return;
    RECT r = windowRectIn(tb2, picSplitMain);
    SetWindowPos(tb2, HWND_TOP, r.left, px(heightTwips(lv, dpi_) + kTb2Gap), 0, 0,
                 SWP_NOSIZE | SWP_NOACTIVATE);
}

// ---------------------------------------------------------------------------
// Showing, status bar and buttons

void frmmain::open() {
    frmmain& w = instance();
    if (IsIconic(w.hwnd_))
        ShowWindow(w.hwnd_, SW_RESTORE);
    ShowWindow(w.hwnd_, SW_SHOW);
    SetForegroundWindow(w.hwnd_);
    BringWindowToTop(w.hwnd_);
}

bool frmmain::visible() const {
    return hwnd_ && IsWindowVisible(hwnd_);
}

void frmmain::keepPlace() {
    if (hwnd_ && IsWindowVisible(hwnd_) && !IsIconic(hwnd_))
        UserSettings::windowPlace(placeSection).SaveFormPosition(hwnd_);
}

void frmmain::setStatusPanel(int16_t iPanel, const std::string& sText) {
    if (iPanel < 1 || iPanel > 4)
        return;
    const std::wstring text = Text::wide(sText);
    SendMessageW(stat, SB_SETTEXTW, iPanel - 1, reinterpret_cast<LPARAM>(text.c_str()));
    // A text cut at the panel's end shows whole as the panel's tip.
    SendMessageW(stat, SB_SETTIPTEXTW, iPanel - 1, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string frmmain::statusPanel(int16_t iPanel) const {
    if (iPanel < 1 || iPanel > 4)
        return {};
    const int length = LOWORD(SendMessageW(stat, SB_GETTEXTLENGTHW, iPanel - 1, 0));
    std::wstring text(length + 1, L'\0');
    SendMessageW(stat, SB_GETTEXTW, iPanel - 1, reinterpret_cast<LPARAM>(text.data()));
    text.resize(length);
    return Text::utf8(text);
}

void frmmain::enableButton(int iButton, bool bEnabled) {
    SendMessageA(tb, TB_ENABLEBUTTON, kTbFirstId + iButton, MAKELPARAM(bEnabled ? TRUE : FALSE, 0));
}

bool frmmain::buttonEnabled(int iButton) const {
    return SendMessageA(tb, TB_ISBUTTONENABLED, kTbFirstId + iButton, 0) != 0;
}

void frmmain::popupMenu(HMENU menu, const POINT* at) {
    POINT pt{};
    if (at)
        pt = *at;
    else
        GetCursorPos(&pt);
    // The owner must be in front, or the menu does not close when the user clicks elsewhere.
    SetForegroundWindow(hwnd_);
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, 0, hwnd_, nullptr);
    PostMessageA(hwnd_, WM_NULL, 0, 0);
}

// ---------------------------------------------------------------------------
// Help menu

void frmmain::mnuOnHelp_Click() {
    openDocument(programFolder() + kHelpFile, true);
}

void frmmain::mnuup_Click() {
    frmtray::instance().systemUpdate();
}

void frmmain::mnuLog_Click() {
    // Before anything has happened there is no log yet: an empty one opens.
    const std::string log = Log::path();
    if (!fileSystem.FileExists(log))
        fileSystem.CreateTextFile(log, false);
    openDocument(log, true);
}

void frmmain::mnAbout_Click() {
    // A test build says so right under the version, where the box shows it.
    const std::string testBuild = trustsTestKey ? std::string("\n") + kTestBuildNotice : std::string();
    const std::string about =
        std::string("Quillora - Version ") + programVersion + testBuild + "\n\n" + kPublisherNotice;
    // The delivery's dialog holds its Pause and Cancel: About goes in a box of its own.
    if (Work::running() == Work::Job::Delivery) {
        messageBox(about, MB_OK | MB_ICONINFORMATION, hwnd_);
        return;
    }
    frmmess& m = frmmess::instance();
    m.setMessage(about);
    m.editButtons(0, false, "");
    m.editButtons(1, false, "");
    m.editButtons(2, true, "OK");
    m.setHeightTwips(frmmess::compactHeight);
    m.show(hwnd_);
    SetForegroundWindow(m.hwnd());
}
