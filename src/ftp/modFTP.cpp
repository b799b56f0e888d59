#include "ftp/modFTP.h"

#include <wininet.h>
#include <climits>
#include <cmath>
#include <memory>

#include "base/Log.h"
#include "base/ModCommon.h"
#include "ftp/cFTP.h"

namespace modFTP {

namespace {

constexpr const char* serverOverride = "TOLV_SERVER";
constexpr const char* anonymousUser = "anonymous";
constexpr const char* tipConnected = "Quillora";
constexpr const char* tipNotConnected = "Quillora (Not connected)";
constexpr double msPerDay = 86400000.0;
constexpr double daysFrom1601To1899 = 109205.0;

std::string environment(const char* sName) {
    char buf[512];
    const DWORD n = GetEnvironmentVariableA(sName, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
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

const char* connectionTip(bool bConnected) { return bConnected ? tipConnected : tipNotConnected; }

std::shared_ptr<cFTP> newSession(TransferObserver* observer) {
    serverAddress(ftpHost, ftpPort);
    ftpPassword = TOLV_FTP_PASSWORD;
    Log::hide(ftpPassword);
    ftpUser = anonymousUser;
    auto ftp = std::make_shared<cFTP>();
    ftp->setObserver(observer);
    ftp->SetModePassive();
    ftp->SetTransferBinary();
    return ftp;
}

void openSession(cFTP& ftp) {
    forceOnline();
    // Unattended: the engine has no window to parent a dialler's questions.
    autodialConnection(nullptr, INTERNET_AUTODIAL_FORCE_UNATTENDED, true);
    if (!ftp.OpenConnection()) {
        Log::line("connecting to " + ftpHost + ":" + std::to_string(ftpPort) + " failed", ftp.LastReply(),
                  ftp.LastErrorCode());
        return;
    }
    if (!ftp.SetFTPDirectory(serverDirectory))
        Log::line(std::string("changing to ") + serverDirectory + " failed", ftp.LastReply(),
                  ftp.LastErrorCode());
}

bool sizeAnswer(const std::string& sReply, int64_t& llSize) {
    if (sReply.rfind("213 ", 0) != 0)
        return false;
    const size_t end = sReply.find_last_not_of(" \r\n") + 1;
    if (end <= 4 || end - 4 > 18 || sReply.find_first_not_of("0123456789", 4) < end)
        return false;  // no digits, too many for a size, or something else among them
    llSize = std::stoll(sReply.substr(4, end - 4));
    return true;
}

std::string progressText(int64_t lValue, int64_t lMaximum) {
    // nearbyint rounds half to even in the default rounding mode.
    const double percent = std::nearbyint(static_cast<double>(lValue) / static_cast<double>(lMaximum) * 100.0);
    return ModCommon::toDecimal(static_cast<long long>(percent)) + "% complete.";
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
