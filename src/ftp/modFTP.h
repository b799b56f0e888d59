// Server connection and the transfer display shared by the FTP session.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>

void connectToServer();
bool forceOnline();
bool autodialConnection(HWND hWnd, DWORD lFlags, bool bForce);
void showTransferProgress(double minimum, double maximum, double value, bool bStart);
void waitWhilePaused();
double fileTimeToDate(const FILETIME& ft);
