// The server connection and the routines the block transfers share.
#pragma once
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class cFTP;
class TransferObserver;

namespace modFTP {

// The publisher's server: host and anonymous password are build settings;
// TOLV_SERVER=host[:port] in the environment overrides host and port.
constexpr const char* serverDirectory = "/pub/";
void serverAddress(std::string& sHost, uint16_t& iPort);

// The server session's settings, as the last openSession set them.
inline std::string ftpHost;
inline std::string ftpUser;
inline std::string ftpPassword;
inline uint16_t ftpPort = 0;  // 0: the FTP service's default port
// A transfer is on the wire (on any session): a second one is refused.
inline std::atomic<bool> transferBusy{false};
// A session in passive binary mode whose transfers observer hears of; not
// connected yet, so that whoever may have to end its wait holds it first.
std::shared_ptr<cFTP> newSession(TransferObserver* observer = nullptr);
// Logs the session in and changes to the server's folder when it can.
void openSession(cFTP& ftp);
// The tool tip for a connection state.
const char* connectionTip(bool bConnected);

bool forceOnline();
bool autodialConnection(HWND hWnd, DWORD lFlags, bool bForce);

// The size in a reply to SIZE: "213 " and digits only. False for any other
// reply, a bare "213" included: no answer.
bool sizeAnswer(const std::string& sReply, int64_t& llSize);

// "45% complete.": the percent rounded half to even.
std::string progressText(int64_t lValue, int64_t lMaximum);

// A UTC file time as an OLE date in local time.
double fileTimeToDate(const FILETIME& ft);

}  // namespace modFTP
