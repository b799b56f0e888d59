// The server connection and the routines the block transfers share.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>

namespace modFTP {

// The publisher's server: host and anonymous password are build settings;
// TOLV_SERVER=host[:port] in the environment overrides host and port.
constexpr const char* serverDirectory = "/pub/";
void serverAddress(std::string& sHost, uint16_t& iPort);

// Puts a fresh, connected session into the tray form's mFTP and sets
// isConnected and the tray tool tip; callers read isConnected afterwards.
void connectToServer();
bool forceOnline();
bool autodialConnection(HWND hWnd, DWORD lFlags, bool bForce);

// Drives the dialog's and the library window's progress bars, the percent
// text and the tray icon during a transfer.
void showTransferProgress(int64_t lMinimum, int64_t lMaximum, int64_t lValue, bool bStart);
// "45% complete.": the percent rounded half to even.
std::string progressText(int64_t lValue, int64_t lMaximum);
// Holds the caller in the delivery dialog's modal loop until Resume or Cancel.
void waitWhilePaused();

// A UTC file time as an OLE date in local time.
double fileTimeToDate(const FILETIME& ft);

}  // namespace modFTP
