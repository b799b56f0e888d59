// Display scale. Every window is drawn for the DPI of the monitor it is on,
// which can differ between windows and change while one is open; the designed
// sizes (twips, or pixels at 96 DPI) are converted with that window's own DPI.
#pragma once
#include <windows.h>

#include "base/Handles.h"

namespace Dpi {

constexpr int standard = 96;  // 100 %

// The DPI the system was started with (the primary monitor's).
int ofSystem();
// The DPI of the monitor the window is on, where the platform tells it per
// window (Windows 10 1607 and later); the system's otherwise.
int ofWindow(HWND h);

inline int fromTwips(int twips, int dpi) { return MulDiv(twips, dpi, 1440); }
inline int toTwips(int pixels, int dpi) { return MulDiv(pixels, 1440, dpi); }
inline int fromDips(int dips, int dpi) { return MulDiv(dips, dpi, standard); }

// The program's face, Tahoma at 8 points, made for that DPI.
AutoHfont uiFont(int dpi);
// A system measure (SM_CXSMICON...) as it is at that DPI.
int metric(int index, int dpi);
// The outer rectangle of a window whose client area is r, at that DPI.
void adjustWindowRect(RECT& r, DWORD style, DWORD exStyle, int dpi);

}  // namespace Dpi
