#include "tray/frmtray.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <cstring>
#include <utility>

#include "base/Log.h"
#include "base/ModCommon.h"
#include "base/resource.h"
#include "dialog/frmmess.h"
#include "dialog/frmsettings.h"
#include "library/Pictures.h"
#include "library/frmmain.h"
#include "text/Text.h"
#include "ftp/modFTP.h"
#include "settings/UserSettings.h"
#include "tray/TransferView.h"
#include "work/Announce.h"
#include "work/Check.h"
#include "work/SelfUpdate.h"
#include "work/Work.h"

using namespace ModCommon;
using namespace Work;

namespace {

constexpr UINT kNotifyVersion = 3;  // NOTIFYICON_VERSION

// The setup sends mnuex's id to make a running program exit: keep it 4.
enum MenuId : UINT { mnushow = 1, mnusearch, mnuopt, mnuex = 4, mnusettings };

frmtray*& instancePtr() {
    static frmtray* p = nullptr;
    return p;
}

void (*exitRoutine)() = nullptr;

// The tray's menu and balloon wait while a check or a delivery runs.
bool checkOrDeliveryRuns() {
    const Work::Job job = Work::running();
    return job == Work::Job::Check || job == Work::Job::FirstCheck || job == Work::Job::Delivery ||
           Work::checkRunning || modFTP::transferBusy;
}

// Into an ANSI field: converted and cut to the field's length, always ended.
template <size_t N>
void copyAnsi(const std::string& s, char (&field)[N]) {
    size_t n = std::min(s.size(), N - 1);
    std::memcpy(field, s.data(), n);
    std::memset(field + n, 0, N - n);
}

// The file description of our own version resource (empty by design).
std::string fileDescription() {
    wchar_t path[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (!size)
        return {};
    std::string data(size, '\0');
    if (!GetFileVersionInfoW(path, 0, size, data.data()))
        return {};
    wchar_t* text = nullptr;
    UINT len = 0;
    if (VerQueryValueW(data.data(), L"\\StringFileInfo\\040904b0\\FileDescription",
                       reinterpret_cast<void**>(&text), &len) &&
        text)
        return Text::utf8(std::wstring_view(text, len ? len - 1 : 0));
    return {};
}

}  // namespace

// --- pure rules --------------------------------------------------------------

WindowsVersion frmtray::getWindowsVersion(DWORD dwVersion) {
    WindowsVersion v;
    v.major = dwVersion & 0xFF;
    v.minor = (dwVersion >> 8) & 0xFF;
    v.build = (dwVersion >> 16) & 0x7FFF;
    v.isNT = (dwVersion & 0x80000000u) == 0;
    return v;
}

void frmtray::shellFlags(const WindowsVersion& v, bool& bUnicode, bool& bBalloons) {
    bUnicode = v.isNT;
    bBalloons = v.isNT ? v.major >= 5 : (v.major == 4 && v.minor == 90);
}

// The platform's version-2 and version-1 record sizes: 936/488 and 152/88 in a
// 32-bit program.
DWORD frmtray::recordSizeFor(bool bUnicode, bool bBalloons) {
    if (bUnicode)
        return bBalloons ? NOTIFYICONDATAW_V2_SIZE : NOTIFYICONDATAW_V1_SIZE;
    return bBalloons ? NOTIFYICONDATAA_V2_SIZE : NOTIFYICONDATAA_V1_SIZE;
}

void frmtray::copyToBuffer(const std::string& sText, void* pBuffer, size_t cbBuffer) {
    if (sText.empty() || cbBuffer < 2)
        return;
    std::wstring w = Text::wide(sText);
    size_t bytes = std::min(w.size() * sizeof(wchar_t), cbBuffer - 2);
    bytes -= bytes % sizeof(wchar_t);
    auto* out = static_cast<unsigned char*>(pBuffer);
    std::memcpy(out, w.data(), bytes);
    std::memset(out + bytes, 0, cbBuffer - bytes);
}

long frmtray::hourBoundaries(double dtFrom, double dtTo) {
    // Work in whole seconds so that 23:00:00 is not read as 22:59:59.999.
    auto hourOf = [](double dt) { return std::floor(std::llround(dt * 86400.0) / 3600.0); };
    return std::lround(std::fabs(hourOf(dtTo) - hourOf(dtFrom)));
}

// --- the form ----------------------------------------------------------------

frmtray& frmtray::instance() {
    frmtray*& p = instancePtr();
    if (!p)
        p = new frmtray();
    return *p;
}

bool frmtray::exists() { return instancePtr() != nullptr; }

void frmtray::unload() {
    frmtray*& p = instancePtr();
    if (!p)
        return;
    frmtray* doomed = p;
    p = nullptr;
    if (doomed->iconAdded_)
        doomed->notify(NIM_DELETE, 0);
    KillTimer(doomed->hwnd_, startTmr);
    KillTimer(doomed->hwnd_, autoTmr);
    KillTimer(doomed->hwnd_, wakeTmr);
    doomed->destroyWindow();
    DestroyMenu(doomed->sysTMenu_);
    delete doomed;
}

UINT frmtray::showLibraryMessage() {
    static const UINT msg = RegisterWindowMessageA("Quillora.ShowLibrary");
    return msg;
}

// Broadcast by a shell that (re)starts: its notification area is empty.
static UINT taskbarCreatedMessage() {
    static const UINT msg = RegisterWindowMessageA("TaskbarCreated");
    return msg;
}

WNDCLASSEXA frmtray::windowClass() {
    WNDCLASSEXA wc{};
    wc.lpszClassName = className;
    return wc;
}

frmtray::frmtray() {
    // The notification area's size, drawn for it rather than shrunk.
    ownedIcon_.reset(Pictures::programIcon(IDI_TRAY, GetSystemMetrics(SM_CXSMICON)));
    icon_ = ownedIcon_.get();
    createWindow(WS_EX_TOOLWINDOW, "Quillora", WS_POPUP, 0, 0, 0, 0, nullptr);

    sysTMenu_ = CreatePopupMenu();
    AppendMenuA(sysTMenu_, MF_STRING, mnushow, "&Open");
    AppendMenuA(sysTMenu_, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(sysTMenu_, MF_STRING, mnusearch, "&New Magazines");
    AppendMenuA(sysTMenu_, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(sysTMenu_, MF_STRING, mnuopt, "&Manager Updates");
    AppendMenuA(sysTMenu_, MF_STRING, mnusettings, "&Settings...");
    AppendMenuA(sysTMenu_, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(sysTMenu_, MF_STRING, mnuex, "E&xit");

    addIcon();
    enableTimer(autoTmr, true);
    modFTP::watchWork();
    lastCheckTime = dateToText(nowAsDate());
}

frmtray::~frmtray() = default;

void frmtray::addIcon() {
    shellFlags(getWindowsVersion(GetVersion()), useUnicodeShell_, shellSupportsBalloons_);
    const std::string tip = fileDescription();
    const UINT id = static_cast<UINT>(reinterpret_cast<UINT_PTR>(icon_));
    if (useUnicodeShell_) {
        nidW_.hWnd = hwnd_;
        nidW_.uID = id;
        nidW_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        nidW_.uCallbackMessage = callbackMessage;
        nidW_.hIcon = icon_;
        copyToBuffer(tip, nidW_.szTip, shellSupportsBalloons_ ? 128 * 2 : 64 * 2);
        if (shellSupportsBalloons_)
            nidW_.uVersion = kNotifyVersion;
    } else {
        nidA_.hWnd = hwnd_;
        nidA_.uID = id;
        nidA_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        nidA_.uCallbackMessage = callbackMessage;
        nidA_.hIcon = icon_;
        copyAnsi(tip, nidA_.szTip);
        if (shellSupportsBalloons_)
            nidA_.uVersion = kNotifyVersion;
    }
    nidW_.cbSize = nidA_.cbSize = recordSize();
    notify(NIM_ADD, NIF_MESSAGE | NIF_ICON | NIF_TIP);
    iconAdded_ = true;
    if (shellSupportsBalloons_)
        notify(NIM_SETVERSION, NIF_MESSAGE | NIF_ICON | NIF_TIP);
    setToolTip("Quillora");
}

DWORD frmtray::recordSize() const { return recordSizeFor(useUnicodeShell_, shellSupportsBalloons_); }

void frmtray::notify(DWORD dwMessage, UINT uFlags) {
    if (useUnicodeShell_) {
        nidW_.uFlags = uFlags;
        Shell_NotifyIconW(dwMessage, &nidW_);
    } else {
        nidA_.uFlags = uFlags;
        Shell_NotifyIconA(dwMessage, &nidA_);
    }
}

void frmtray::ShowBalloonTip(const std::string& sMessage, const std::string& sTitle, int32_t eIcon,
                             double lTimeOutMs) {
    if (!shellSupportsBalloons_)
        return;
    const UINT timeout = static_cast<UINT>(std::lrint(lTimeOutMs));
    if (useUnicodeShell_) {
        copyToBuffer(sMessage, nidW_.szInfo, sizeof nidW_.szInfo);
        copyToBuffer(sTitle, nidW_.szInfoTitle, sizeof nidW_.szInfoTitle);
        nidW_.uTimeout = timeout;
        nidW_.dwInfoFlags = static_cast<DWORD>(eIcon);
    } else {
        copyAnsi(sMessage, nidA_.szInfo);
        copyAnsi(sTitle, nidA_.szInfoTitle);
        nidA_.uTimeout = timeout;
        nidA_.dwInfoFlags = static_cast<DWORD>(eIcon);
    }
    notify(NIM_MODIFY, NIF_INFO);
}

void frmtray::setToolTip(const std::string& sTip) {
    if (useUnicodeShell_)
        copyToBuffer(sTip, nidW_.szTip, (shellSupportsBalloons_ ? 128 : 64) * sizeof(wchar_t));
    else
        copyAnsi(sTip, nidA_.szTip);
    notify(NIM_MODIFY, NIF_TIP);
}

std::string frmtray::toolTip() const {
    if (!useUnicodeShell_)
        return nidA_.szTip;
    return Text::utf8(nidW_.szTip);
}

HICON frmtray::IconHandle() const { return useUnicodeShell_ ? nidW_.hIcon : nidA_.hIcon; }

void frmtray::setIconHandle(HICON hIcon) {
    if (hIcon == IconHandle())
        return;
    nidW_.hIcon = nidA_.hIcon = hIcon;
    notify(NIM_MODIFY, NIF_ICON);
}

void frmtray::enableTimer(UINT_PTR id, bool bEnabled) {
    if (!hwnd_ || id >= std::size(timerOn_))
        return;
    if (bEnabled && !timerOn_[id])
        SetTimer(hwnd_, id, timerIntervalMs, nullptr);
    else if (!bEnabled && timerOn_[id])
        KillTimer(hwnd_, id);
    timerOn_[id] = bEnabled;
}

bool frmtray::timerEnabled(UINT_PTR id) const { return id < std::size(timerOn_) && timerOn_[id]; }

void frmtray::onTaskbarCreated() {
    if (!iconAdded_)
        return;
    // The new shell knows nothing of us: add the icon again with its tip.
    const std::string tip = toolTip();
    addIcon();
    setToolTip(tip);
}

LRESULT frmtray::onMessage(UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == taskbarCreatedMessage()) {
        onTaskbarCreated();
        return 0;
    }
    if (msg == showLibraryMessage()) {
        mnushow_Click();
        return 0;
    }
    switch (msg) {
        case callbackMessage:
            // With the version-3 behaviour the notification code is lParam.
            onNotify(LOWORD(lp));
            return 0;
        case WM_TIMER:
            if (wp == startTmr)
                startTmr_Timer();
            else if (wp == autoTmr)
                autoCheckTick();
            else if (wp == wakeTmr)
                wakeTmr_Timer();
            return 0;
        case WM_POWERBROADCAST:
            onPowerBroadcast(wp);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wp)) {
                case mnushow: mnushow_Click(); break;
                case mnusearch: mnusearch_Click(); break;
                case mnuopt: mnuopt_Click(); break;
                case mnuex: mnuex_Click(); break;
                case mnusettings: mnusettings_Click(); break;
            }
            return 0;
        case WM_CLOSE:
        case WM_ENDSESSION:
            if (msg == WM_ENDSESSION && !wp)
                break;
            // The stop removes the icon; a refused one must leave it.
            frmtray::exitProgram();
            return 0;
    }
    return defaultProc(msg, wp, lp);
}

void frmtray::onNotify(UINT code) {
    const bool afterRightUp = rightUpSeen_;
    if (code != WM_MOUSEMOVE)
        rightUpSeen_ = false;
    switch (code) {
        case notifyKeySelect:
        case notifyLeftUp:
            if (checkOrDeliveryRuns()) {
                if (frmmess::exists())
                    frmmess::instance().bringToFront();
            } else {
                mnushow_Click();
            }
            break;
        case notifyRightUp:
            rightUpSeen_ = true;
            if (!checkOrDeliveryRuns())
                showTrayMenu();
            break;
        case notifyContextMenu:
            // Alone it is the menu key's; after a right button up, that click's echo.
            if (!afterRightUp && !checkOrDeliveryRuns())
                showTrayMenu(true);
            break;
        case notifyBalloonClick:
            if (!checkOrDeliveryRuns())
                announceNewIssues(newIssueCount);
            break;
    }
}

void frmtray::showTrayMenu(bool bAtIcon) {
    POINT pt{};
    GetCursorPos(&pt);
    // Asked by the keyboard: at the icon, where the shell can say where that is.
    struct IconIdentifier {  // NOTIFYICONIDENTIFIER, newer than the platform we build for
        DWORD cbSize;
        HWND hWnd;
        UINT uID;
        GUID guidItem;
    };
    using GetRect = HRESULT(WINAPI*)(const IconIdentifier*, RECT*);
    static const auto iconRect = reinterpret_cast<GetRect>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("shell32.dll"), "Shell_NotifyIconGetRect")));
    RECT r{};
    const IconIdentifier icon{sizeof icon, hwnd_, useUnicodeShell_ ? nidW_.uID : nidA_.uID, {}};
    if (bAtIcon && iconRect && SUCCEEDED(iconRect(&icon, &r)))
        pt = POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    SetForegroundWindow(hwnd_);
    TrackPopupMenu(sysTMenu_, 0, pt.x, pt.y, 0, hwnd_, nullptr);
    // Lets the menu close when the user clicks elsewhere.
    PostMessageA(hwnd_, WM_NULL, 0, 0);
}

void frmtray::mnushow_Click() { frmmain::instance().open(); }

void frmtray::mnusearch_Click() {
    checkNewIssues(false, [] { balloonNewIssues(newIssueCount, false); });
}

void frmtray::mnuopt_Click() { systemUpdate(); }

void frmtray::systemUpdate() { SelfUpdate::systemUpdate(); }

bool frmtray::updateOfferOpen() const {
    return frmmess::exists() && frmmess::instance().visible() && frmmess::instance().offersUpdate();
}

void frmtray::setExitRoutine(void (*routine)()) { exitRoutine = routine; }

void frmtray::exitProgram() {
    if (exitRoutine)
        exitRoutine();
}

void frmtray::mnuex_Click() { exitProgram(); }

void frmtray::mnusettings_Click() { frmsettings::open(); }

bool frmtray::checkFallsDue(const std::string& sLastCheck, double dtNow, int iHours) {
    double last = 0;
    textToDate(sLastCheck, last);
    return iHours > 0 && hourBoundaries(last, dtNow) >= iHours;
}

// A tick while other work runs does nothing: the next one comes in a minute.
// After a wake the wake timer checks instead, on its own back-off; so it does
// when a check falls due while the server cannot be reached (the network is
// away): quiet tries, further and further apart, until it answers.
void frmtray::autoCheckTick() {
    if (Work::busy() || afterWake())
        return;
    auto checked = std::make_shared<double>(0);
    auto dueOffline = std::make_shared<bool>(false);
    Work::start(
        Work::Job::Connect,
        [checked, dueOffline, lastCheck = lastCheckTime, hours = UserSettings::checkHours()] {
            const double now = nowAsDate();
            if (!isConnected && !Work::connect()) {
                *dueOffline = checkFallsDue(lastCheck, now, hours);
                return;
            }
            if (checkFallsDue(lastCheck, now, hours)) {
                runCheck(false);
                *checked = now;
            }
        },
        [this, checked, dueOffline] {
            if (*dueOffline) {
                Log::line("check due while the server cannot be reached; trying again quietly");
                startCatchUp(wakeRetryMs[0]);
            }
            if (*checked == 0)
                return;
            balloonNewIssues(newIssueCount, true);
            lastCheckTime = dateToText(*checked);
        });
}

void frmtray::startTmr_Timer() {
    // An open update offer waits for the user; nothing is fetched meanwhile.
    if (Work::busy() || updateOfferOpen())
        return;
    enum class Outcome { NotConnected, AlreadyChecked, Offered, Checked };
    auto outcome = std::make_shared<Outcome>(Outcome::NotConnected);
    Work::start(
        Work::Job::FirstCheck,
        [outcome, onRequest = UserSettings::checkHours() == 0] {
            if (!isConnected && !Work::connect())
                return;
            if (checkDone) {
                *outcome = Outcome::AlreadyChecked;
                return;
            }
            if (SelfUpdate::autoSystemUpdate()) {
                *outcome = Outcome::Offered;
                return;
            }
            // The program's own update is still looked for; the issues wait
            // for the user to ask.
            if (onRequest) {
                *outcome = Outcome::AlreadyChecked;
                return;
            }
            runCheck(false);
            *outcome = Outcome::Checked;
        },
        [this, outcome] {
            if (*outcome == Outcome::Checked)
                balloonNewIssues(newIssueCount, true);
            if (*outcome == Outcome::Checked || *outcome == Outcome::AlreadyChecked)
                enableTimer(startTmr, false);
        });
}

void frmtray::onPowerBroadcast(WPARAM event) {
    switch (event) {
        case PBT_APMSUSPEND:
            // The network goes with the sleep: hold the delivery rather than
            // let its tries run out against a server it cannot reach.
            if (Work::running() == Work::Job::Delivery && frmmess::exists())
                frmmess::instance().pauseForSleep();
            // So does the connection: the minute's tick, due during the sleep,
            // may come before the word of the wake, and must try to connect
            // quietly rather than check on a connection it takes for alive.
            if (!Work::busy())
                Work::isConnected = false;
            KillTimer(hwnd_, wakeTmr);
            wakeTry_ = -1;
            break;
        case PBT_APMRESUMEAUTOMATIC:
        case PBT_APMRESUMESUSPEND:
            // A wake the user sees brings both, one soon after the other.
            Work::wokeFromSleep();
            if (frmmess::exists())
                frmmess::instance().resumeAfterSleep();
            if (UserSettings::checkHours() > 0) {
                startCatchUp(wakeCheckDelayMs);
            }
            break;
    }
}

void frmtray::scheduleWakeCheck(UINT ms) { SetTimer(hwnd_, wakeTmr, ms, nullptr); }

void frmtray::startCatchUp(UINT ms) {
    wakeTry_ = 0;
    scheduleWakeCheck(ms);
}

// The check that fell due during the sleep. The connection from before it
// is gone whatever isConnected says; until the server answers, each try is
// quiet and the next one waits longer.
void frmtray::wakeTmr_Timer() {
    KillTimer(hwnd_, wakeTmr);
    // Other work runs (a delivery going on after the wake): try again later.
    if (Work::busy()) {
        scheduleWakeCheck(wakeRetryMs[0]);
        return;
    }
    enum class Outcome { Offline, NotDue, Checked };
    auto outcome = std::make_shared<Outcome>(Outcome::Offline);
    auto checked = std::make_shared<double>(0);
    Work::start(
        Work::Job::Connect,
        [outcome, checked, lastCheck = lastCheckTime, hours = UserSettings::checkHours()] {
            if (!Work::connect())
                return;
            const double now = nowAsDate();
            if (!checkFallsDue(lastCheck, now, hours)) {
                *outcome = Outcome::NotDue;
            } else if (runCheck(false, true)) {
                *outcome = Outcome::Checked;
                *checked = now;
            }
        },
        [this, outcome, checked] {
            if (*outcome == Outcome::Offline) {
                const size_t step = std::min<size_t>(wakeTry_++, wakeRetryMs.size() - 1);
                scheduleWakeCheck(wakeRetryMs[step]);
                return;
            }
            wakeTry_ = -1;
            if (*outcome == Outcome::Checked) {
                balloonNewIssues(newIssueCount, true);
                lastCheckTime = dateToText(*checked);
            }
        });
}
