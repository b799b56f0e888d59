// Text inside both programs is UTF-8 in std::string. The platform takes and
// gives UTF-16: wide() and utf8() convert at that boundary. Bytes that come
// from outside (catalogue records, the server's settings file) are turned
// into text once, by decode(), where they are shown or become file names;
// where they are compared, recorded or sent back to the server they stay
// the bytes they were.
#pragma once
#include <string>
#include <string_view>

namespace Text {

std::wstring wide(std::string_view sUtf8);
std::string utf8(std::wstring_view sWide);
// A NUL-ended platform text; "" for a null pointer.
std::string utf8(const wchar_t* pWide);

// Well-formed UTF-8: no overlong forms, no surrogates, nothing beyond
// U+10FFFF, no sequence cut short.
bool isUtf8(std::string_view sBytes);
// The rule for bytes from outside: well-formed UTF-8 that is not plain
// ASCII is UTF-8; anything else is in the system code page.
std::string decode(std::string_view sBytes);

// The system code page both ways, exactly as the platform's ...A calls
// convert: for the byte strings that a wide call must carry unchanged.
std::wstring fromCodePage(std::string_view sBytes);
std::string toCodePage(std::wstring_view sWide);

}  // namespace Text
