#include "ftp/modFTP.h"

#include <wininet.h>
#include <commctrl.h>
#include <climits>
#include <cmath>
#include <memory>

#include "app/ModCommon.h"
#include "dialog/frmmess.h"
#include "ftp/cFTP.h"
#include "library/frmmain.h"
#include "tray/frmtray.h"

namespace modFTP {

namespace {

constexpr const char* serverOverride = "TOLV_SERVER";
constexpr const char* anonymousUser = "anonymous";
constexpr const char* tipConnected = "Quillora";
constexpr const char* tipNotConnected = "Quillora (Not connected)";
constexpr double msPerDay = 86400000.0;
constexpr double daysFrom1601To1899 = 109205.0;

// Progress bars hold 32-bit values; sizes beyond that are shown scaled down.
int progressShift = 0;
// What the percent text and the tray icon last showed, so unchanged values
// cost nothing.
std::string shownText;
bool libraryIconShown = false;

std::string environment(const char* sName) {
    char buf[512];
    const DWORD n = GetEnvironmentVariableA(sName, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

void setTrayIcon(bool bLibraryIcon) {
    if (!frmtray::exists())
        return;
    frmtray& tray = frmtray::instance();
    if (bLibraryIcon) {
        if (libraryIconShown || !frmmain::exists())
            return;
        tray.setIconHandle(frmmain::instance().icon());
    } else {
        tray.setIconHandle(tray.ownIcon());
    }
    libraryIconShown = bLibraryIcon;
}

}  // namespace

void serverAddress(std::string& sHost, uint16_t& iPort) {
    sHost = TOLV_FTP_HOST;
    iPort = 0;
    const std::string over = environment(serverOverride);
    if (over.empty())
        return;
    const size_t colon = over.rfind(':');
    sHost = over.substr(0, colon);
    if (colon == std::string::npos)
        return;
    char* end = nullptr;
    const unsigned long port = strtoul(over.c_str() + colon + 1, &end, 10);
    if (*end == '\0' && port > 0 && port <= 65535)
        iPort = static_cast<uint16_t>(port);
}

bool forceOnline() {
    INTERNET_CONNECTED_INFO info{INTERNET_STATE_CONNECTED, 0};
    return InternetSetOptionA(nullptr, INTERNET_OPTION_CONNECTED_STATE, &info, sizeof info);
}

bool autodialConnection(HWND hWnd, DWORD lFlags, bool bForce) {
    return InternetAutodial(bForce ? (lFlags | INTERNET_AUTODIAL_FAILIFSECURITYCHECK) : 0, hWnd);
}

void connectToServer() {
    using namespace ModCommon;
    serverAddress(ftpHost, ftpPort);
    ftpPassword = TOLV_FTP_PASSWORD;
    ftpUser = anonymousUser;
    forceOnline();
    frmtray& tray = frmtray::instance();
    autodialConnection(tray.hwnd(), INTERNET_AUTODIAL_FORCE_UNATTENDED, true);
    if (transferBusy) {
        // The running download is inside the current session: replacing it
        // would pull the object from under that loop. The refusal is what a
        // new OpenConnection would answer.
        isConnected = false;
        tray.setToolTip(tipNotConnected);
        return;
    }
    tray.mFTP.reset(new cFTP());
    tray.mFTP->SetModePassive();
    tray.mFTP->SetTransferBinary();
    isConnected = tray.mFTP->OpenConnection();
    tray.setToolTip(isConnected ? tipConnected : tipNotConnected);
    tray.mFTP->SetFTPDirectory(serverDirectory);
    doEvents();
}

std::string progressText(int64_t lValue, int64_t lMaximum) {
    // nearbyint rounds half to even in the default rounding mode.
    const double percent = std::nearbyint(static_cast<double>(lValue) / static_cast<double>(lMaximum) * 100.0);
    return ModCommon::toDecimal(static_cast<long long>(percent)) + "% complete.";
}

void showTransferProgress(int64_t lMinimum, int64_t lMaximum, int64_t lValue, bool bStart) {
    using namespace ModCommon;
    if (bStart) {
        progressShift = 0;
        while ((lMaximum >> progressShift) > INT32_MAX)
            ++progressShift;
        const int32_t lo = static_cast<int32_t>(lMinimum >> progressShift);
        const int32_t hi = static_cast<int32_t>(lMaximum >> progressShift);
        if (frmmess::exists())
            frmmess::instance().setProgressRange(lo, hi);
        if (frmmain::exists()) {
            HWND pb = frmmain::instance().pb;
            SendMessageA(pb, PBM_SETRANGE32, lo, hi);
            ShowWindow(pb, SW_SHOW);
        }
        transferMaximum = hi;
        shownText.clear();
        return;
    }
    const int32_t value = static_cast<int32_t>(lValue >> progressShift);
    if (frmmess::exists())
        frmmess::instance().setProgressValue(value);
    if (frmmain::exists())
        SendMessageA(frmmain::instance().pb, PBM_SETPOS, value, 0);
    if (value < transferMaximum) {
        const std::string text = progressText(value, transferMaximum);
        if (text != shownText) {
            setStatusText(1, text);
            if (frmmess::exists())
                frmmess::instance().setMessage2(text);
            shownText = text;
        }
        setTrayIcon(true);
    }
    if (lValue == lMinimum) {
        if (frmmess::exists())
            frmmess::instance().setMessage2("");
        if (frmmain::exists())
            ShowWindow(frmmain::instance().pb, SW_HIDE);
        setTrayIcon(false);
        shownText.clear();
    }
}

void waitWhilePaused() {
    frmmess& dialog = frmmess::instance();
    dialog.hide();
    dialog.showModal(frmtray::exists() ? frmtray::instance().hwnd() : nullptr);
    ModCommon::doEvents();
}

double fileTimeToDate(const FILETIME& ft) {
    FILETIME local{};
    if (!FileTimeToLocalFileTime(&ft, &local)) {
        ModCommon::messageBox(ModCommon::toDecimal(GetLastError()), MB_OK);
        return 0;
    }
    const uint64_t ticks = (static_cast<uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
    // 100 ns ticks to milliseconds, kept to four places as the ticks allow.
    const double ms = static_cast<double>(ticks / 10000) + static_cast<double>(ticks % 10000) / 10000.0;
    return ms / msPerDay - daysFrom1601To1899;
}

}  // namespace modFTP
