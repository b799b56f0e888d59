// The child controls of the program's small windows: made at their designed
// place (twips) for the window's DPI, with the window's font, and placed
// again when the DPI changes.
#pragma once
#include <windows.h>

#include <string>

namespace Controls {

struct Place {
    int left, top, width, height;  // twips, client coordinates
};

// Wide windows: a text the code page cannot hold (an issue's title, a
// folder's name) shows whole.
HWND make(HFONT font, int dpi, HWND parent, const char* sClass, const std::string& sText, DWORD style,
          const Place& p, int id = 0, DWORD exStyle = 0);
// Every child keeps its place and size in proportion at the new DPI, and
// takes the font made for it.
void rescale(HWND parent, int fromDpi, int toDpi, HFONT font);
std::string text(HWND h);
// The class of a small window of controls: the scheme's face colour, the
// arrow, and the program's icon of that resource id.
WNDCLASSEXA dialogClass(const char* sName, int iconId);
void setText(HWND h, const std::string& sText);

}  // namespace Controls
