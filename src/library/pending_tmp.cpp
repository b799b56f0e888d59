// Temporary stand-ins for common services that are being written elsewhere;
// this file goes as soon as they arrive.
#include <windows.h>

#include "app/ModCommon.h"

namespace ModCommon {

static int logPixels(int index) {
    HDC dc = GetDC(nullptr);
    int n = dc ? GetDeviceCaps(dc, index) : 96;
    if (dc)
        ReleaseDC(nullptr, dc);
    return n > 0 ? n : 96;
}

std::string exeBaseName() {
    char path[MAX_PATH * 2] = {};
    std::string exe(path, GetModuleFileNameA(nullptr, path, sizeof path));
    std::string name = exe.substr(exe.find_last_of('\\') + 1);
    size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

int twipsToPixelsX(int twips) { return MulDiv(twips, logPixels(LOGPIXELSX), 1440); }
int twipsToPixelsY(int twips) { return MulDiv(twips, logPixels(LOGPIXELSY), 1440); }
int pixelsToTwipsX(int pixels) { return MulDiv(pixels, 1440, logPixels(LOGPIXELSX)); }
int pixelsToTwipsY(int pixels) { return MulDiv(pixels, 1440, logPixels(LOGPIXELSY)); }

}  // namespace ModCommon
