#include "base/Controls.h"

#include "base/Dpi.h"
#include "text/Text.h"

namespace Controls {

HWND make(HFONT font, int dpi, HWND parent, const char* sClass, const std::string& sText, DWORD style,
          const Place& p, int id, DWORD exStyle) {
    HWND h = CreateWindowExW(exStyle, Text::wide(sClass).c_str(), Text::wide(sText).c_str(),
                             WS_CHILD | WS_CLIPSIBLINGS | style, Dpi::fromTwips(p.left, dpi),
                             Dpi::fromTwips(p.top, dpi), Dpi::fromTwips(p.width, dpi), Dpi::fromTwips(p.height, dpi),
                             parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr),
                             nullptr);
    SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return h;
}

namespace {
struct Rescale {
    HWND parent;
    int from, to;
    HFONT font;
};
BOOL CALLBACK rescaleChild(HWND h, LPARAM lp) {
    const auto& scale = *reinterpret_cast<const Rescale*>(lp);
    if (GetParent(h) != scale.parent)
        return TRUE;  // a combo box's own edit moves with its box
    RECT r{};
    GetWindowRect(h, &r);
    MapWindowPoints(nullptr, scale.parent, reinterpret_cast<POINT*>(&r), 2);
    auto at = [&](LONG v) { return MulDiv(v, scale.to, scale.from); };
    SetWindowPos(h, nullptr, at(r.left), at(r.top), at(r.right) - at(r.left), at(r.bottom) - at(r.top),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(scale.font), TRUE);
    return TRUE;
}
}  // namespace

void rescale(HWND parent, int fromDpi, int toDpi, HFONT font) {
    Rescale scale{parent, fromDpi, toDpi, font};
    EnumChildWindows(parent, rescaleChild, reinterpret_cast<LPARAM>(&scale));
}

std::string text(HWND h) {
    if (!h)
        return {};
    const int n = GetWindowTextLengthW(h);
    std::wstring s(n + 1, L'\0');
    GetWindowTextW(h, s.data(), n + 1);
    s.resize(n);
    return Text::utf8(s);
}

WNDCLASSEXA dialogClass(const char* sName, int iconId) {
    WNDCLASSEXA wc{};
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.hIcon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(iconId));
    wc.lpszClassName = sName;
    return wc;
}

void setText(HWND h, const std::string& sText) { SetWindowTextW(h, Text::wide(sText).c_str()); }

}  // namespace Controls
