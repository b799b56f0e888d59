#include "catalogue/LibraryScan.h"

#include <windows.h>

#include <algorithm>
#include <cctype>

#include "base/ModCommon.h"
#include "catalogue/Catalogue.h"
#include "text/Text.h"

using namespace ModCommon;

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

}  // namespace

// By the name's end only: the shell opens by the last extension, so
// "x.pdf.exe" would run a program.
bool isLibraryIssueFile(const std::string& sName) {
    const std::string l = lower(sName);
    return isIssueFileName(sName) && (l.ends_with(".pdf") || l.ends_with(".torrent"));
}

std::string fileDateText(const std::string& sPath) {
    FILETIME created, local;
    if (!fileSystem.CreationTime(sPath, created))
        return "-";
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&created, &local) || !FileTimeToSystemTime(&local, &st))
        return {};
    wchar_t text[128] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, 0, &st, L"MMMM yyyy", text, 128);
    return Text::utf8(text);
}
