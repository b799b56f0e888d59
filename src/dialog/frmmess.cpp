#include "dialog/frmmess.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "base/Controls.h"
#include "base/Dpi.h"
#include "base/ModCommon.h"
#include "base/resource.h"
#include "library/frmmain.h"
#include "text/Text.h"
#include "tray/TransferView.h"
#include "tray/frmtray.h"
#include "work/Check.h"
#include "work/Delivery.h"
#include "work/SelfUpdate.h"
#include "work/Work.h"

using namespace ModCommon;

namespace {

constexpr char kClassName[] = "QuilloraMessage";
constexpr int kClientWidth = 4470;  // twips
constexpr int kFirstButtonId = 100;
constexpr int kFirstOptionId = 200;
// The publisher's page about BitTorrent software.
constexpr char kBitTorrentInfoPage[] = "http://www.bittorrent.com/";

using Controls::Place;
constexpr Place kIcon{105, 180, 795, 765};
constexpr Place kLblinf{1020, 210, 3255, 795};
constexpr Place kLblinf2{1020, 630, 2355, 225};
constexpr Place kButtons[3] = {{195, 1110, 1305, 495}, {1575, 1110, 1320, 495}, {2970, 1110, 1305, 495}};
constexpr Place kPb{195, 1125, 2685, 465};
constexpr Place kFrame1{195, 1695, 4080, 720};
constexpr Place kLabel1{195 + 315, 1695 + 315, 1245, 240};
// A little wider than designed, so the captions fit where Tahoma is
// replaced by a wider font; both still end inside the frame.
constexpr Place kOptions[2] = {{2115, 1995, 930, 225}, {3075, 1995, 1170, 225}};

constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;

// Labels show "&" as it stands, and line feeds as line breaks.
std::string toLabelText(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\n' && (out.empty() || out.back() != '\r'))
            out += '\r';
        out += c;
    }
    return out;
}

std::string fromLabelText(const std::string& s) {
    std::string out;
    for (char c : s)
        if (c != '\r')
            out += c;
    return out;
}

frmmess*& instancePtr() {
    static frmmess* p = nullptr;
    return p;
}

HWND trayOwner() { return frmtray::exists() ? frmtray::instance().hwnd() : nullptr; }

}  // namespace

frmmess& frmmess::instance() {
    frmmess*& p = instancePtr();
    if (!p)
        p = new frmmess();
    if (!p->hwnd_)
        p->create();
    return *p;
}

bool frmmess::exists() { return instancePtr() && instancePtr()->hwnd_; }

void frmmess::unload() {
    frmmess* p = instancePtr();
    if (!p || !p->hwnd_)
        return;
    p->endHold();
    p->destroyWindow();
}

frmmess::frmmess() = default;
frmmess::~frmmess() = default;

WNDCLASSEXA frmmess::windowClass() { return Controls::dialogClass(kClassName, IDI_MESS); }

void frmmess::create() {
    // Made on the primary monitor, so at the system's DPI.
    const int dpi = Dpi::ofSystem();
    RECT r{0, 0, Dpi::fromTwips(kClientWidth, dpi), 10};
    Dpi::adjustWindowRect(r, kStyle, kExStyle, dpi);
    createWindow(kExStyle, " ", kStyle, CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left,
                 Dpi::fromTwips(compactHeight, dpi), trayOwner());
    font_ = Dpi::uiFont(dpi_);
    controlsDpi_ = dpi_;
    shownOnce_ = false;
    modal_ = false;
    actions_[0] = actions_[1] = Action::None;
    actions_[2] = Action::Dismiss;
    modFTP::watchWork();

    pIcon_ = Controls::make(font_.get(), dpi_, hwnd_, "STATIC", "", WS_VISIBLE | SS_ICON | SS_CENTERIMAGE, kIcon);
    setIcon();
    lblinf_ = Controls::make(font_.get(), dpi_, hwnd_, "STATIC", "", WS_VISIBLE | SS_LEFT | SS_NOPREFIX, kLblinf);
    lblinf2_ = Controls::make(font_.get(), dpi_, hwnd_, "STATIC", "", SS_LEFT | SS_NOPREFIX, kLblinf2);
    for (int i = 0; i < 3; ++i)
        cmdmess_[i] = Controls::make(font_.get(), dpi_, hwnd_, "BUTTON", i == 2 ? "OK" : "", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                                  kButtons[i], kFirstButtonId + i);
    pb_ = Controls::make(font_.get(), dpi_, hwnd_, PROGRESS_CLASSA, "", 0, kPb);
    frame1_ = Controls::make(font_.get(), dpi_, hwnd_, "BUTTON", "", WS_VISIBLE | BS_GROUPBOX, kFrame1);
    label1_ = Controls::make(font_.get(), dpi_, hwnd_, "STATIC", "Delivery type:", WS_VISIBLE | SS_LEFT, kLabel1);
    optType_[0] = Controls::make(font_.get(), dpi_, hwnd_, "BUTTON", "Normal", WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON,
                              kOptions[0], kFirstOptionId);
    optType_[1] =
        Controls::make(font_.get(), dpi_, hwnd_, "BUTTON", "BitTorrent", WS_VISIBLE | BS_AUTORADIOBUTTON, kOptions[1], kFirstOptionId + 1);
    SendMessageA(optType_[0], BM_SETCHECK, BST_CHECKED, 0);

    // The progress bar lies above the left and middle buttons, the option
    // buttons above their frame: a visible bar hides "Cancel" except where
    // it is made narrower.
    SetWindowPos(pb_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    // The percent line lies inside the message label's box, so it goes above it.
    SetWindowPos(lblinf2_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetWindowPos(frame1_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// The dialog's icon, at its size for the window's DPI.
void frmmess::setIcon() {
    const int size = Dpi::metric(SM_CXICON, dpi_);
    icon_.reset(static_cast<HICON>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_MESS), IMAGE_ICON, size, size, 0)));
    SendMessageA(pIcon_, STM_SETICON, reinterpret_cast<WPARAM>(icon_.get()), 0);
}

LRESULT frmmess::onMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_COMMAND: {
            int id = LOWORD(wp);
            if (HIWORD(wp) != BN_CLICKED)
                break;
            if (id == IDCANCEL) {  // Escape: what the close box does
                closeBox_Click();
                return 0;
            }
            if (id == IDOK) {  // Enter: the button with the keys, else the first one shown
                const HWND* focused = std::find(std::begin(cmdmess_), std::end(cmdmess_), GetFocus());
                const HWND* shown = std::find_if(std::begin(cmdmess_), std::end(cmdmess_),
                                                 [](HWND b) { return IsWindowVisible(b) && IsWindowEnabled(b); });
                const HWND* pressed = focused != std::end(cmdmess_) ? focused : shown;
                if (pressed != std::end(cmdmess_))
                    cmdmess_Click(static_cast<int>(pressed - std::begin(cmdmess_)));
                return 0;
            }
            if (id >= kFirstButtonId && id < kFirstButtonId + 3) {
                cmdmess_Click(id - kFirstButtonId);
                return 0;
            }
            if (id >= kFirstOptionId && id < kFirstOptionId + 2) {
                optType_Click(id - kFirstOptionId);
                return 0;
            }
            break;
        }
        case WM_CTLCOLORSTATIC:
            // The scheme's colours, so the text reads on a high-contrast one too.
            SetTextColor(reinterpret_cast<HDC>(wp), GetSysColor(COLOR_BTNTEXT));
            SetBkMode(reinterpret_cast<HDC>(wp), TRANSPARENT);
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        case WM_CLOSE:
            closeBox_Click();
            return 0;
        case WM_ACTIVATE:
            // The keyboard goes back where it was, or starts at the first button there is.
            if (LOWORD(wp) == WA_INACTIVE) {
                HWND focus = GetFocus();
                focus_ = focus && IsChild(hwnd_, focus) ? focus : nullptr;
            } else if (focus_ && IsWindowVisible(focus_) && IsWindowEnabled(focus_)) {
                SetFocus(focus_);
            } else {
                focusFirstButton();
            }
            return 0;
        case WM_DPICHANGED: {
            // Made again for the new scale: font, icon, every control's place.
            AutoHfont old = std::move(font_);
            font_ = Dpi::uiFont(dpi_);
            Controls::rescale(hwnd_, controlsDpi_, dpi_, font_.get());
            controlsDpi_ = dpi_;
            setIcon();
            takeSuggestedRect(lp);
            return 0;
        }
    }
    return defaultProc(msg, wp, lp);
}

void frmmess::setMessage(const std::string& sText) {
    SetWindowTextW(lblinf_, Text::wide(toLabelText(sText)).c_str());
}
std::string frmmess::message() const { return fromLabelText(Controls::text(lblinf_)); }
void frmmess::setMessage2(const std::string& sText) {
    SetWindowTextW(lblinf2_, Text::wide(toLabelText(sText)).c_str());
}
std::string frmmess::message2() const { return fromLabelText(Controls::text(lblinf2_)); }
void frmmess::showMessage2(bool bVisible) { ShowWindow(lblinf2_, bVisible ? SW_SHOWNA : SW_HIDE); }
void frmmess::showProgress(bool bVisible) { ShowWindow(pb_, bVisible ? SW_SHOWNA : SW_HIDE); }
bool frmmess::progressVisible() const { return IsWindowVisible(pb_); }

void frmmess::setProgressRange(int32_t lMin, int32_t lMax) {
    SendMessageA(pb_, PBM_SETRANGE32, static_cast<WPARAM>(lMin), static_cast<LPARAM>(lMax));
}
void frmmess::setProgressValue(int32_t lValue) { SendMessageA(pb_, PBM_SETPOS, static_cast<WPARAM>(lValue), 0); }
int32_t frmmess::progressValue() const { return static_cast<int32_t>(SendMessageA(pb_, PBM_GETPOS, 0, 0)); }

void frmmess::setProgressWidthTwips(int twips) {
    SetWindowPos(pb_, nullptr, 0, 0, px(twips), px(kPb.height),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(hwnd_, nullptr, TRUE);
}

int frmmess::progressWidthTwips() const {
    RECT r;
    GetWindowRect(pb_, &r);
    return twips(r.right - r.left);
}

frmmess::Action frmmess::actionFor(int index, const std::string& sCapt) {
    struct Entry {
        int index;
        const char* caption;
        Action action;
    };
    static constexpr Entry table[] = {
        {0, "Deliver", Action::Deliver},   {1, "Connect...", Action::Connect},
        {1, "Close", Action::Close},       {1, "Cancel", Action::CancelDelivery},
        {1, "Read Help", Action::ReadHelp}, {2, "Pause", Action::Pause},
        {2, "Resume", Action::Resume},     {2, "Cancel", Action::Dismiss},
        {2, "OK", Action::Dismiss},        {2, "Continue", Action::Continue},
        {2, "Remove", Action::Remove},     {2, "Update", Action::Update},
    };
    for (const Entry& e : table)
        if (e.index == index && sCapt == e.caption)
            return e.action;
    return Action::None;
}

void frmmess::setButton(int index, const std::string& sCapt, Action action) {
    SetWindowTextW(cmdmess_[index], Text::wide(sCapt).c_str());
    actions_[index] = action;
}

void frmmess::editButtons(double iButton, bool bEnabled, const std::string& sCapt) {
    long index = std::lrint(iButton);  // to the nearest, halves to even
    if (index < 0 || index > 2)
        return;
    setButton(index, sCapt, bEnabled ? actionFor(index, sCapt) : Action::None);
    // A button that goes takes the keys with it: they move to one still shown
    // (a delivery's Cancel, when the run has ended and OK is left).
    const bool hadKeys = GetFocus() == cmdmess_[index];
    ShowWindow(cmdmess_[index], bEnabled ? SW_SHOWNA : SW_HIDE);
    if (hadKeys && !bEnabled)
        focusFirstButton();
}

void frmmess::focusFirstButton() {
    for (HWND button : cmdmess_)
        if (IsWindowVisible(button) && IsWindowEnabled(button)) {
            SetFocus(button);
            return;
        }
}

bool frmmess::offersUpdate() const {
    return std::find(std::begin(actions_), std::end(actions_), Action::Update) != std::end(actions_);
}

std::string frmmess::buttonCaption(int index) const { return Controls::text(cmdmess_[index]); }
bool frmmess::buttonVisible(int index) const { return IsWindowVisible(cmdmess_[index]); }

bool frmmess::optionSelected(int index) const {
    return SendMessageA(optType_[index], BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void frmmess::selectOption(int index) {
    SendMessageA(optType_[index], BM_SETCHECK, BST_CHECKED, 0);
    SendMessageA(optType_[1 - index], BM_SETCHECK, BST_UNCHECKED, 0);
}

void frmmess::getFileType() {
    if (optionSelected(1)) {
        Work::fileType = "torrent";
        Work::libraryFolder = "My Torrents";
    } else {
        Work::fileType = "pdf";
        Work::libraryFolder = "My Magazines";
    }
}

void frmmess::cmdmess_Click(int index) {
    if (index >= 0 && index < 3)
        act(actions_[index]);
}

// The way out a dialog offers, in this order: cancel a delivery, continue
// past the welcome, "not now" to an update, else close.
void frmmess::closeBox_Click() {
    for (Action a : {Action::CancelDelivery, Action::Continue, Action::Close})
        if (std::find(std::begin(actions_), std::end(actions_), a) != std::end(actions_)) {
            act(a);
            return;
        }
    if (offersUpdate())
        SelfUpdate::declineOffer();
    // A paused delivery's dialog closed is a cancelled delivery.
    if (Work::deliveryPaused)
        Work::cancelDelivery();
    unload();
}

void frmmess::act(Action action) {
    switch (action) {
        case Action::None:
            return;
        case Action::Deliver:
            if (Work::busy())
                return;
            getFileType();
            deliverTicked();
            return;
        case Action::Connect:
            if (Work::busy())
                return;
            setMessage("Connecting...");
            Work::connectToServer([] {
                if (Work::isConnected) {
                    unload();
                    return;
                }
                ++connectAttempts;
                // The prompt may have been closed while connecting.
                if (exists())
                    instance().setMessage(
                        "Unable to connect to the Internet, please ensure you have an Internet connection "
                        "before trying again. Attempt: " +
                        toDecimal(connectAttempts));
            });
            return;
        case Action::Close:
            unload();
            if (frmmain::exists() && frmmain::instance().visible())
                SetForegroundWindow(frmmain::instance().hwnd());
            return;
        case Action::CancelDelivery:
            // The run ends at once and then shows how it ended.
            endHold();
            Work::cancelDelivery();
            return;
        case Action::ReadHelp:
            frmmain::instance().mnuOnHelp_Click();
            frmtray::instance().enableTimer(frmtray::startTmr, true);
            unload();
            return;
        case Action::Pause:
            setButton(2, "Resume", Action::Resume);
            Work::pauseDelivery();
            setProgressWidthTwips(pbPausedWidth);
            beginHold();
            return;
        case Action::Resume:
            // Without a connection the run reconnects by itself, as after a drop.
            dropSleepNote();
            setButton(2, "Pause", Action::Pause);
            endHold();
            Work::resumeDelivery();
            setProgressWidthTwips(pbWidth);
            return;
        case Action::Dismiss:
            // What stands in for a paused delivery's dialog leaves no Resume
            // behind it: closing it ends the run.
            if (Work::deliveryPaused)
                Work::cancelDelivery();
            unload();
            return;
        case Action::Continue:
            frmtray::instance().enableTimer(frmtray::startTmr, true);
            unload();
            return;
        case Action::Remove:
            frmmain::instance().removeMag();
            if (exists())
                bringToFront();
            return;
        case Action::Update:
            handOverUpdate();
            return;
    }
}

void frmmess::pauseForSleep() {
    // Nothing delivers, or the user's own pause holds it already.
    if (actions_[2] != Action::Pause)
        return;
    act(Action::Pause);
    pausedForSleep_ = true;
    setMessage(message() + "\n\n" + sleepNote);
}

void frmmess::resumeAfterSleep() {
    if (pausedForSleep_ && actions_[2] == Action::Resume)
        act(Action::Resume);
    dropSleepNote();
}

void frmmess::dropSleepNote() {
    pausedForSleep_ = false;
    const std::string text = message(), note = std::string("\n\n") + sleepNote;
    if (text.ends_with(note))
        setMessage(text.substr(0, text.size() - note.size()));
}

// The updater takes over only when it runs; otherwise the offer stays.
void frmmess::handOverUpdate() {
    if (!SelfUpdate::handOver([] { frmtray::exitProgram(); }))
        return;
    if (exists())
        bringToFront();
}

// While a delivery is paused the library window takes no input, as under a
// modal dialog; the dialog itself stays usable.
void frmmess::beginHold() {
    if (modal_)
        return;
    modal_ = true;
    HWND mainWnd = frmmain::exists() ? frmmain::instance().hwnd() : nullptr;
    heldLibrary_ = mainWnd && EnableWindow(mainWnd, FALSE) == 0;
}

void frmmess::endHold() {
    if (!modal_)
        return;
    modal_ = false;
    if (heldLibrary_ && frmmain::exists())
        EnableWindow(frmmain::instance().hwnd(), TRUE);
    heldLibrary_ = false;
}

void frmmess::optType_Click(int index) {
    if (index == 1) {
        int answer = messageBox(
            "By selecting this option you'll require BitTorrent software.\n\nWould you like to learn more about "
            "BitTorrent?",
            MB_YESNO | MB_ICONQUESTION, hwnd_);
        if (answer == IDYES)
            runCommand(shellOpenCommand(kBitTorrentInfoPage));
    }
    if (exists())
        bringToFront();
}

void frmmess::setHeightTwips(int twips) {
    RECT r;
    GetWindowRect(hwnd_, &r);
    SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, px(twips),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int frmmess::heightTwips() const {
    RECT r;
    GetWindowRect(hwnd_, &r);
    return this->twips(r.bottom - r.top);
}

static void centreOnScreen(HWND h) {
    RECT r, work;
    GetWindowRect(h, &r);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    int w = r.right - r.left, ht = r.bottom - r.top;
    SetWindowPos(h, nullptr, work.left + (work.right - work.left - w) / 2, work.top + (work.bottom - work.top - ht) / 2,
                 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void frmmess::show(HWND hOwner) {
    SetWindowLongPtrA(hwnd_, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(hOwner ? hOwner : trayOwner()));
    if (!shownOnce_) {
        centreOnScreen(hwnd_);
        shownOnce_ = true;
    }
    ShowWindow(hwnd_, SW_SHOW);
    bringToFront();
}

void frmmess::hide() { ShowWindow(hwnd_, SW_HIDE); }
bool frmmess::visible() const { return hwnd_ && IsWindowVisible(hwnd_); }
void frmmess::bringToFront() { SetForegroundWindow(hwnd_); }

void showMessageDialog(const std::string& sMessage, const std::string& sButton0, const std::string& sButton1,
                       const std::string& sButton2, int heightTwips, HWND hOwner) {
    frmmess& m = frmmess::instance();
    m.setMessage(sMessage);
    m.editButtons(0, !sButton0.empty(), sButton0);
    m.editButtons(1, !sButton1.empty(), sButton1);
    m.editButtons(2, !sButton2.empty(), sButton2);
    if (heightTwips == frmmess::fullHeight) {
        // The delivery-type group is uncovered after the dialog is up.
        m.setHeightTwips(frmmess::compactHeight);
        m.show(hOwner);
        m.setHeightTwips(heightTwips);
    } else {
        m.setHeightTwips(heightTwips);
        m.show(hOwner);
    }
    m.bringToFront();
}
