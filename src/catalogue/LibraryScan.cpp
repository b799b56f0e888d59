#include "catalogue/LibraryScan.h"

#include <windows.h>

#include <algorithm>
#include <cctype>

#include "app/ModCommon.h"
#include "catalogue/Catalogue.h"

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
    char text[128] = {};
    GetDateFormatA(LOCALE_USER_DEFAULT, 0, &st, "MMMM yyyy", text, sizeof text);
    return text;
}
