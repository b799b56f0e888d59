#include "settings/cInifile.h"

#include <oleauto.h>

#include <algorithm>

#include "base/ModCommon.h"
#include "text/Text.h"

namespace {

constexpr DWORD kValueBufferSize = 255;
constexpr DWORD kListBufferSize = 8192;
// Saved positions stay this many pixels inside the screen's edge.
constexpr int kScreenMarginPixels = 4;

constexpr const char* kKeyMaximised = "Maximised";
constexpr const char* kKeyLeft = "Left";
constexpr const char* kKeyTop = "Top";
constexpr const char* kKeyWidth = "Width";
constexpr const char* kKeyHeight = "Height";
// A missing key reads back as this, which is not a number.
constexpr const char* kMissingMarker = "FAIL";

// The file's path goes wide; sections, keys and values stay the bytes the
// ...A calls would give and take (the code page both ways), so that the
// catalogue's readers decide how to read them.
std::wstring bytesArg(const std::string& s) {
    return Text::fromCodePage(s);
}
const wchar_t* orNull(const std::wstring& s, bool bNull) {
    return bNull ? nullptr : s.c_str();
}

std::string readProfile(const char* pSection, const std::string* pKey, const std::string& sDefault,
                        DWORD dwBufferSize, const std::string& sPath) {
    const std::wstring section = pSection ? bytesArg(pSection) : std::wstring();
    const std::wstring key = pKey ? bytesArg(*pKey) : std::wstring();
    std::wstring buffer(dwBufferSize, L' ');
    const DWORD count =
        GetPrivateProfileStringW(orNull(section, !pSection), orNull(key, !pKey), bytesArg(sDefault).c_str(),
                                 buffer.data(), dwBufferSize, Text::wide(sPath).c_str());
    buffer.resize(count);
    return Text::toCodePage(buffer);
}

BOOL writeProfile(const std::string& sSection, const std::string* pKey, const std::string* pValue,
                  const std::string& sPath) {
    const std::wstring key = pKey ? bytesArg(*pKey) : std::wstring();
    const std::wstring value = pValue ? bytesArg(*pValue) : std::wstring();
    return WritePrivateProfileStringW(bytesArg(sSection).c_str(), orNull(key, !pKey), orNull(value, !pValue),
                                      Text::wide(sPath).c_str());
}

void splitNulList(const std::string& sList, std::vector<std::string>& names, int32_t& count) {
    names.clear();
    count = 0;
    size_t start = 0;
    for (size_t nul = sList.find('\0'); nul != std::string::npos; nul = sList.find('\0', start)) {
        if (names.empty())
            names.emplace_back();  // element 0: the list is indexed from 1
        names.push_back(sList.substr(start, nul - start));
        ++count;
        start = nul + 1;
    }
}

// A window's rectangle in twips, relative to its parent's client area for
// child windows and to the screen otherwise.
struct TwipsRect {
    int32_t left, top, width, height;
};

bool windowRectInTwips(HWND hWnd, TwipsRect& r) {
    RECT rc;
    if (!IsWindow(hWnd) || !GetWindowRect(hWnd, &rc))
        return false;
    if (GetWindowLongPtrA(hWnd, GWL_STYLE) & WS_CHILD)
        MapWindowPoints(HWND_DESKTOP, GetAncestor(hWnd, GA_PARENT), reinterpret_cast<POINT*>(&rc), 2);
    r.left = ModCommon::pixelsToTwipsX(rc.left);
    r.top = ModCommon::pixelsToTwipsY(rc.top);
    r.width = ModCommon::pixelsToTwipsX(rc.right - rc.left);
    r.height = ModCommon::pixelsToTwipsY(rc.bottom - rc.top);
    return true;
}

// Keeps one axis of the rectangle inside [margin, extent - margin].
void clampAxis(int32_t& pos, int32_t& size, int32_t extent, int32_t margin) {
    if (pos < margin)
        pos = margin;
    if (pos + size > extent - margin) {
        pos = extent - margin - size;
        if (pos < margin)
            pos = margin;
        if (pos + size > extent - margin)
            size = extent - pos - margin;
    }
}

bool placeWindow(HWND hWnd, const TwipsRect& r) {
    RECT rc{ModCommon::twipsToPixelsX(r.left), ModCommon::twipsToPixelsY(r.top), 0, 0};
    rc.right = rc.left + ModCommon::twipsToPixelsX(r.width);
    rc.bottom = rc.top + ModCommon::twipsToPixelsY(r.height);
    if (IsZoomed(hWnd) || IsIconic(hWnd)) {
        // Moving a maximized or minimized window would break its state:
        // set the rectangle it returns to instead.
        WINDOWPLACEMENT wp{};
        wp.length = sizeof(wp);
        if (!GetWindowPlacement(hWnd, &wp))
            return false;
        wp.rcNormalPosition = rc;
        return SetWindowPlacement(hWnd, &wp);
    }
    return SetWindowPos(hWnd, nullptr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                        SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

std::string cInifile::Value() const {
    return readProfile(m_sSection.c_str(), &m_sKey, m_sDefault, kValueBufferSize, m_sPath);
}

void cInifile::setValue(const std::string& sValue) {
    std::string text = sValue;
    std::erase(text, '\0');
    m_lLastReturnCode = writeProfile(m_sSection, &m_sKey, &text, m_sPath);
}

void cInifile::DeleteKey() {
    m_lLastReturnCode = writeProfile(m_sSection, &m_sKey, nullptr, m_sPath);
}

void cInifile::DeleteSection() {
    m_lLastReturnCode = writeProfile(m_sSection, nullptr, nullptr, m_sPath);
}

std::string cInifile::sectionList(const char* pSection) const {
    return readProfile(pSection, nullptr, m_sDefault, kListBufferSize, m_sPath);
}

std::string cInifile::INISection() const {
    return sectionList(m_sSection.c_str());
}

std::string cInifile::Sections() const {
    return sectionList(nullptr);
}

void cInifile::setINISection(const std::string& sText) {
    m_lLastReturnCode = writeProfile(m_sSection, nullptr, &sText, m_sPath);
}

void cInifile::EnumerateCurrentSection(std::vector<std::string>& names, int32_t& count) const {
    splitNulList(INISection(), names, count);
}

void cInifile::EnumerateAllSections(std::vector<std::string>& names, int32_t& count) const {
    splitNulList(Sections(), names, count);
}

int32_t cInifile::CLngDefault(const std::string& sString, int32_t lDefault) {
    if (sString.empty() || sString.find('\0') != std::string::npos)
        return lDefault;
    std::wstring wide = Text::fromCodePage(sString);
    if (wide.empty())
        return lDefault;
    LONG value = 0;
    if (FAILED(VarI4FromStr(wide.data(), LOCALE_USER_DEFAULT, 0, &value)))
        return lDefault;
    return value;
}

void cInifile::SaveFormPosition(HWND frmThis) {
    const std::string sKey = m_sKey;
    TwipsRect r;
    if (!windowRectInTwips(frmThis, r)) {
        m_sKey = sKey;
        m_lLastReturnCode = 0;
        return;
    }
    if (!IsIconic(frmThis)) {
        const bool bMaximized = IsZoomed(frmThis);
        m_sKey = kKeyMaximised;
        setValue(bMaximized ? "1" : "0");
        if (!bMaximized) {
            const std::pair<const char*, int32_t> keys[] = {
                {kKeyLeft, r.left}, {kKeyTop, r.top}, {kKeyWidth, r.width}, {kKeyHeight, r.height}};
            for (const auto& [name, value] : keys) {
                m_sKey = name;
                setValue(std::to_string(value));
            }
        }
    }
    m_sKey = sKey;
}

void cInifile::LoadFormPosition(HWND frmThis, int32_t lMinWidth, int32_t lMinHeight) {
    const std::string sKey = m_sKey;
    const std::string sDefault = m_sDefault;
    auto restore = [&] {
        m_sKey = sKey;
        m_sDefault = sDefault;
    };
    TwipsRect r;
    if (!windowRectInTwips(frmThis, r)) {
        restore();
        m_lLastReturnCode = 0;
        return;
    }
    m_sDefault = kMissingMarker;
    auto readKey = [&](const char* name, int32_t current) {
        m_sKey = name;
        return CLngDefault(Value(), current);
    };
    r.left = readKey(kKeyLeft, r.left);
    r.top = readKey(kKeyTop, r.top);
    r.width = std::max(readKey(kKeyWidth, r.width), lMinWidth);
    r.height = std::max(readKey(kKeyHeight, r.height), lMinHeight);

    const int32_t tppX = ModCommon::pixelsToTwipsX(1);
    const int32_t tppY = ModCommon::pixelsToTwipsY(1);
    clampAxis(r.left, r.width, GetSystemMetrics(SM_CXSCREEN) * tppX, kScreenMarginPixels * tppX);
    clampAxis(r.top, r.height, GetSystemMetrics(SM_CYSCREEN) * tppY, kScreenMarginPixels * tppY);

    if (r.width >= lMinWidth && r.height >= lMinHeight && !placeWindow(frmThis, r)) {
        restore();
        m_lLastReturnCode = 0;
        return;
    }
    m_sKey = kKeyMaximised;
    if (CLngDefault(Value(), 0) != 0)
        ShowWindow(frmThis, SW_MAXIMIZE);
    restore();
}
