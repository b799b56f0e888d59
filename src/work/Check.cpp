// The check for new issues: copy the server's catalogue and settings, keep
// the records the local catalogue does not know, and list every one whose
// PDF exists on the server.
#include "work/Check.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>

#include "base/ModCommon.h"
#include "catalogue/Catalogue.h"
#include "ftp/ServerCopies.h"
#include "ftp/ServerListing.h"
#include "ftp/cFTP.h"
#include "ftp/modFTP.h"
#include "text/Text.h"
#include "work/IssueModel.h"

using namespace ModCommon;
using namespace Work;

namespace {

std::vector<std::string> splitAt(const std::string& s, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = s.find(sep, start);
        parts.push_back(s.substr(start, at - start));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

std::wstring localeInfo(LCTYPE type, const wchar_t* fallback) {
    wchar_t buffer[16] = {};
    return GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buffer, 16) ? buffer : fallback;
}

void showCompact(const std::string& sText, const std::string& sButton2 = "") {
    tell([=](WorkObserver& w) { w.showMessage(sText, "", "", sButton2); });
}

// The records of the data folder's server catalogue. False when the copy is
// bigger than any catalogue should be or holds a record longer than the
// issue list can hold: such a catalogue is refused whole.
bool readServerCatalogue(std::vector<std::string>& records) {
    const std::string path = dataPath + Catalogue::kServerCatalogue;
    if (fileSystem.FileSize(path) > Catalogue::kMaxCatalogueBytes)
        return false;
    records = splitServerCatalogue(readTextFile(path));
    return std::none_of(records.begin(), records.end(),
                        [](const std::string& r) { return r.size() > Catalogue::kMaxRecordLength; });
}

}  // namespace

std::string formatMegabytes(int64_t llBytes) {
    char number[64];
    std::snprintf(number, sizeof number, "%.2f", static_cast<double>(llBytes) / 1024.0 / 1024.0);
    std::wstring decimal = localeInfo(LOCALE_SDECIMAL, L".");
    std::wstring thousand = localeInfo(LOCALE_STHOUSAND, L",");
    NUMBERFMTW fmt{};
    fmt.NumDigits = 2;
    fmt.LeadingZero = 1;
    fmt.Grouping = 3;
    fmt.lpDecimalSep = decimal.data();
    fmt.lpThousandSep = thousand.data();
    fmt.NegativeOrder = 1;
    wchar_t text[64] = {};
    if (!GetNumberFormatW(LOCALE_USER_DEFAULT, 0, Text::wide(number).c_str(), &fmt, text, 64))
        return std::string(number) + " MB";
    return Text::utf8(text) + " MB";
}

void showNoConnection() {
    tell([](WorkObserver& w) {
        w.showMessage("No Internet connection established.\n\nPlease click 'Connect' and try again.", "",
                      "Connect...", "Cancel");
    });
}

// A message box: the folder's name may be longer than the dialog's label.
void showFolderNotWritable() {
    const std::string text = "Quillora cannot save files in its folder " + programFolder() +
                             ".\n\nPlease ask an administrator to install Quillora with its setup program, or to "
                             "let you change that folder.";
    tell([text](WorkObserver& w) { w.notice(text, MB_OK | MB_ICONEXCLAMATION); });
}

std::string fetchNewRecords(cFTP& ftp) {
    // Without this, a folder the user may not write to would fail every check
    // with the Internet text below.
    if (!fileSystem.CanCreateFiles(dataPath)) {
        showFolderNotWritable();
        return "";
    }
    Work::tellToolTip("Checking...");
    const std::string settingsPath = dataPath + Catalogue::kSettingsFile;
    ServerCopies copies(ftp);
    const FetchResult settings =
        copies.fetch(settingsPath, Catalogue::kSettingsFile, Catalogue::kMaxSettingsBytes, false);
    const FetchResult catalogue = copies.fetch(dataPath + Catalogue::kServerCatalogue,
                                               Catalogue::kServerCatalogue, Catalogue::kMaxCatalogueBytes, true);
    bool usable =
        (fileExists(settingsPath, false) || fileExists(dataPath + Catalogue::kServerCatalogue, false)) &&
        settings != FetchResult::TooLarge && catalogue != FetchResult::TooLarge;
    std::vector<std::string> records;
    if (usable)
        usable = readServerCatalogue(records);
    if (!usable) {
        showCompact(
            "An error occured whilst checking for magazines.\n\nPlease make sure you have an active Internet "
            "connection.",
            "OK");
        Work::tellToolTip("Quillora");
        return "";
    }
    int32_t count = 0;
    const std::string result = listNewRecords(records, KnownRecords(readLocalCatalogue()), count);
    newIssueCount = count;
    Work::tellToolTip("Quillora");
    return result;
}

// Tells the listings which PDFs the check will ask for, so that sizes that
// must be asked file by file are asked together; the same records as
// listNewIssues asks for.
static void expectIssueFiles(const std::string& sNewRecords, FolderSizes& sizes) {
    const std::vector<std::string> pieces = splitAt(sNewRecords, ';');
    std::map<std::string, std::string> names;
    for (size_t i = 0; i + 1 < pieces.size(); ++i) {
        if (!isSafeRecord(Text::decode(pieces[i])))
            continue;
        const std::string code = splitAt(pieces[i], '_')[1];
        auto name = names.find(code);
        if (name == names.end())
            name = names.emplace(code, magazineName(code)).first;
        if (isSafeLibraryName(Text::decode(name->second)))
            sizes.expect(name->second, typedFileName(pieces[i], "pdf"));
    }
}

int32_t listNewIssues(const std::string& sNewRecords, const IssueSizeQuery& sizeOf) {
    const std::vector<std::string> pieces = splitAt(sNewRecords, ';');
    std::map<std::string, std::string> names;  // by code: one look-up per magazine
    std::vector<IssueEntry> rows;
    for (size_t i = 0; i + 1 < pieces.size(); ++i) {
        const std::string& record = pieces[i];
        // The server is not trusted: what would not make a safe name in
        // the library is left out. The server is asked with its own bytes.
        const std::string text = Text::decode(record);
        if (!isSafeRecord(text))
            continue;
        const std::vector<std::string> fields = splitAt(record, '_');
        auto name = names.find(fields[1]);
        if (name == names.end())
            name = names.emplace(fields[1], magazineName(fields[1])).first;
        const std::string magazine = Text::decode(name->second);
        if (!isSafeLibraryName(magazine))
            continue;
        const int64_t size = sizeOf(name->second, typedFileName(record, "pdf"));
        if (size == -1)
            continue;
        int16_t number = 0;
        const std::string issue = issueNumber(fields[2], number) ? toDecimal(number) : "";
        IssueEntry row;
        row.key = "key" + toDecimal(static_cast<long long>(i));
        row.title = splitAt(text, '_')[0];
        row.issue = issue;
        row.magazine = name->second;
        row.size = formatMegabytes(size);
        row.record = record;
        row.ticked = true;
        rows.push_back(std::move(row));
    }
    const auto count = static_cast<int32_t>(rows.size());
    IssueModel& model = issues();
    model.append(std::move(rows));
    model.sort(IssueModel::colMagazine, false);
    tellIssues();
    return count;
}

void runCheck(bool bShowProgress) {
    if (bShowProgress)
        showCompact("Connecting...");
    if (!connect()) {
        showNoConnection();
        return;
    }
    checkRunning = true;
    checkDone = true;
    const std::string& folder = programFolder();
    ensureFolder(folder + "\\data");
    ensureFolder(folder + "\\My Magazines");
    ensureFolder(folder + "\\My Torrents");
    issues().clear();
    tellIssues();
    tellStatus(1, "Checking...");
    tellStatus(2, "");
    if (bShowProgress)
        showCompact("Checking for magazines...");

    const auto ftp = session();
    const std::string records = fetchNewRecords(*ftp);
    newIssueCount = 0;
    {
        FolderSizes sizes(*ftp);
        expectIssueFiles(records, sizes);
        newIssueCount = listNewIssues(records, [&](const std::string& sFolder, const std::string& sName) {
            return sizes.sizeOf(sFolder, sName);
        });
    }
    tellIssueCount("New");
    checkRunning = false;
}

bool checkNewIssues(bool bShowProgress, std::function<void()> then) {
    return start(Job::Check, [bShowProgress] { runCheck(bShowProgress); }, std::move(then));
}
