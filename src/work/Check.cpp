// The check for new issues: copy the server's catalogue and settings, keep
// the records the local catalogue does not know, and list every one whose
// PDF exists on the server.
#include "work/Check.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string_view>

#include "base/Log.h"
#include "base/ModCommon.h"
#include "catalogue/Catalogue.h"
#include "ftp/ServerCopies.h"
#include "ftp/ServerListing.h"
#include "ftp/cFTP.h"
#include "ftp/modFTP.h"
#include "text/Text.h"
#include "work/IssueModel.h"
#include "work/SignedIssues.h"

using namespace ModCommon;
using namespace Work;

namespace {

std::wstring localeInfo(LCTYPE type, const wchar_t* fallback) {
    wchar_t buffer[16] = {};
    return GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buffer, 16) ? buffer : fallback;
}

// The running check's: whether a failure is kept quiet, and whether the copies failed.
bool quietFailure = false;
bool copiesFailed = false;

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

MegabyteText::MegabyteText()
    : decimal_(Text::utf8(localeInfo(LOCALE_SDECIMAL, L"."))), thousand_(Text::utf8(localeInfo(LOCALE_STHOUSAND, L","))) {}

// Two decimals, rounded half up, the whole megabytes grouped by three, the
// user's separators.
std::string MegabyteText::operator()(int64_t llBytes) const {
    const bool negative = llBytes < 0;
    const uint64_t bytes = negative ? 0 - static_cast<uint64_t>(llBytes) : static_cast<uint64_t>(llBytes);
    const uint64_t cents = (bytes / (1u << 20)) * 100 + ((bytes % (1u << 20)) * 100 + (1u << 19)) / (1u << 20);
    const std::string whole = std::to_string(cents / 100);
    std::string text = negative && cents ? "-" : "";
    text.reserve(whole.size() * 2 + 8);
    for (size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0)
            text += thousand_;
        text += whole[i];
    }
    const char decimals[] = {static_cast<char>('0' + cents % 100 / 10), static_cast<char>('0' + cents % 10), '\0'};
    return text.append(decimal_).append(decimals).append(" MB");
}

std::string formatMegabytes(int64_t llBytes) { return MegabyteText()(llBytes); }

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
        Log::line("check failed: no file can be created in " + dataPath, "", GetLastError());
        showFolderNotWritable();
        return "";
    }
    Work::tellToolTip("Checking...");
    const std::string settingsPath = dataPath + Catalogue::kSettingsFile;
    ServerCopies copies(ftp);
    SignedIssues::fetchList(copies);
    const FetchResult settings = SignedIssues::fetchDescribed(copies, settingsPath, Catalogue::kSettingsFile,
                                                              Catalogue::kMaxSettingsBytes, false);
    const FetchResult catalogue =
        SignedIssues::fetchDescribed(copies, dataPath + Catalogue::kServerCatalogue, Catalogue::kServerCatalogue,
                                     Catalogue::kMaxCatalogueBytes, true);
    bool usable =
        (fileExists(settingsPath, false) || fileExists(dataPath + Catalogue::kServerCatalogue, false)) &&
        settings != FetchResult::TooLarge && catalogue != FetchResult::TooLarge;
    std::vector<std::string> records;
    const bool copied = usable;
    if (usable)
        usable = readServerCatalogue(records);
    if (!usable) {
        copiesFailed = true;
        Log::line(std::string("check failed: ") +
                  (copied
                       ? std::string(Catalogue::kServerCatalogue) + " is too large or holds too long a record"
                       : std::string("no usable ") + Catalogue::kSettingsFile + " or " +
                             Catalogue::kServerCatalogue + " (see the copies above)"));
        if (!quietFailure)
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

namespace {

// A new record the library can hold, as the list shows it.
struct SafeRecord {
    size_t index;             // its place among the new records
    std::string_view record;  // the server's bytes
    std::string text;         // decoded for reading
    size_t issueAt;           // where its issue field begins
    const std::string* magazine;  // the magazine's name, the server's bytes
    std::string pdf;          // the issue's file on the server
};
// By code: the settings file is read, and the name judged, once per magazine.
using Magazines = std::map<std::string, std::optional<std::string>, std::less<>>;

// The new records whose title and magazine make safe names in the library:
// the server is not trusted, and what it names is left out otherwise.
std::vector<SafeRecord> safeRecords(const std::string& sNewRecords, Magazines& magazines) {
    std::vector<SafeRecord> found;
    const std::string_view all(sNewRecords);
    // Each record ends with its ";"; what follows the last one is no record.
    size_t i = 0;
    for (size_t start = 0, end; (end = all.find(';', start)) != std::string_view::npos; start = end + 1, ++i) {
        const std::string_view record = all.substr(start, end - start);
        std::string text = Text::decode(record);
        if (!isSafeRecord(text))
            continue;
        // Safe records hold at least two "_": title, code, issue.
        const size_t codeAt = record.find('_') + 1, issueAt = record.find('_', codeAt) + 1;
        const std::string_view code = record.substr(codeAt, issueAt - 1 - codeAt);
        auto magazine = magazines.find(code);
        if (magazine == magazines.end()) {
            std::string name = magazineName(std::string(code));
            const bool safe = isSafeLibraryName(Text::decode(name));
            magazine = magazines.emplace(std::string(code), safe ? std::optional(std::move(name)) : std::nullopt).first;
        }
        if (magazine->second)
            found.push_back({i, record, std::move(text), issueAt, &*magazine->second,
                             typedFileName(std::string(record), "pdf")});
    }
    return found;
}

// The issues of the records that the server has, with their sizes, into the
// model; the number listed.
int32_t listIssues(const std::vector<SafeRecord>& records, const IssueSizeQuery& sizeOf) {
    std::vector<IssueEntry> rows;
    const MegabyteText megabytes;
    for (const SafeRecord& r : records) {
        // The server is asked with its own bytes.
        const int64_t size = sizeOf(*r.magazine, r.pdf);
        if (size == -1)
            continue;
        IssueEntry row;
        int16_t number = 0;
        if (issueNumber(std::string(r.record.substr(r.issueAt, r.record.find('_', r.issueAt) - r.issueAt)), number))
            row.issue = toDecimal(number);
        row.key = "key" + toDecimal(static_cast<long long>(r.index));
        row.title = r.text.substr(0, r.text.find('_'));
        row.magazine = *r.magazine;
        row.size = megabytes(size);
        row.record = r.record;
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

}  // namespace

int32_t listNewIssues(const std::string& sNewRecords, const IssueSizeQuery& sizeOf) {
    Magazines magazines;
    return listIssues(safeRecords(sNewRecords, magazines), sizeOf);
}

bool runCheck(bool bShowProgress, bool bQuiet) {
    if (bShowProgress)
        showCompact("Connecting...");
    Log::line("check started");
    if (!connect()) {
        Log::line("check failed: no connection to the server");
        if (!bQuiet)
            showNoConnection();
        return false;
    }
    quietFailure = bQuiet;
    copiesFailed = false;
    checkRunning = true;
    checkDone = true;
    ensureFolder(programFolder() + "\\data");
    ensureFolder(libraryRoot() + "\\My Magazines");
    ensureFolder(libraryRoot() + "\\My Torrents");
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
        Magazines magazines;
        const std::vector<SafeRecord> found = safeRecords(records, magazines);
        // The listings learn every file the check will ask for, so that sizes
        // that must be asked file by file are asked together.
        FolderSizes sizes(*ftp);
        for (const SafeRecord& r : found) sizes.expect(*r.magazine, r.pdf);
        newIssueCount = listIssues(found, [&](const std::string& sFolder, const std::string& sName) {
            return sizes.sizeOf(sFolder, sName);
        });
    }
    tellIssueCount("New");
    Log::line("check done: " + std::to_string(newIssueCount) + " new issue(s) listed");
    checkRunning = false;
    quietFailure = false;
    return !copiesFailed;
}

bool checkNewIssues(bool bShowProgress, std::function<void()> then) {
    return start(Job::Check, [bShowProgress] { runCheck(bShowProgress); }, std::move(then));
}
