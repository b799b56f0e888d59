#include "text/Text.h"

#include <windows.h>

namespace {

std::wstring toWide(UINT codePage, std::string_view s) {
    if (s.empty())
        return {};
    const int n = MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(n > 0 ? n : 0, L'\0');
    if (n > 0)
        MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string toBytes(UINT codePage, std::wstring_view w) {
    if (w.empty())
        return {};
    const int n =
        WideCharToMultiByte(codePage, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(codePage, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

}  // namespace

namespace Text {

std::wstring wide(std::string_view sUtf8) {
    return toWide(CP_UTF8, sUtf8);
}

std::string utf8(std::wstring_view sWide) {
    return toBytes(CP_UTF8, sWide);
}

std::string utf8(const wchar_t* pWide) {
    return pWide ? utf8(std::wstring_view(pWide)) : std::string();
}

std::wstring fromCodePage(std::string_view sBytes) {
    return toWide(CP_ACP, sBytes);
}

std::string toCodePage(std::wstring_view sWide) {
    return toBytes(CP_ACP, sWide);
}

bool isUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char lead = static_cast<unsigned char>(s[i]);
        size_t length;
        char32_t c;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, c = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, c = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, c = lead & 0x07;
        } else {
            return false;  // a continuation byte, C0/C1 (always overlong) or F5 and above
        }
        if (s.size() - i < length)
            return false;
        for (size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(s[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (next & 0x3F);
        }
        static constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < kShortest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

std::string decode(std::string_view sBytes) {
    if (isUtf8(sBytes))
        return std::string(sBytes);  // plain ASCII reads the same either way
    return utf8(fromCodePage(sBytes));
}

}  // namespace Text
