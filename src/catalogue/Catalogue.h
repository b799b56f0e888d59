// The catalogue record and the three files that remember which issues exist
// ("em_lst.srv", from the server) and which the user has dealt with
// ("em_lst.lcl", ours, only ever appended to), plus the magazine names of
// "VORK.ini". Files are bytes without a BOM: records are compared, recorded
// and sent to the server as those bytes, and read as text (Text::decode:
// UTF-8 where they are well-formed UTF-8, else the system code page) where
// they are shown or name a file in the library.
//
// A record is "title_code_number.f#"; with "f#" replaced by the file type it
// is the issue's file name on the server and on disk.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Catalogue {
inline constexpr const char* kServerCatalogue = "em_lst.srv";
inline constexpr const char* kLocalCatalogue = "em_lst.lcl";
inline constexpr const char* kSettingsFile = "VORK.ini";
inline constexpr const char* kMagazineSection = "MAGS";
inline constexpr const char* kUnknownMagazine = "UKNOWN";
inline constexpr char kRecordSeparator = ';';
inline constexpr const char* kTypePlaceholder = "f#";
// Bounds on what the server sends. The issue list hands a record back
// through a buffer of kMaxRecordLength + 1 bytes, so a longer one would come
// back cut.
inline constexpr int64_t kMaxCatalogueBytes = 64 * 1024 * 1024;
inline constexpr int64_t kMaxSettingsBytes = 1024 * 1024;
inline constexpr size_t kMaxRecordLength = 1023;
}  // namespace Catalogue

// The whole file without leading and trailing blanks; "" on any failure. A
// missing file is created empty (and the data folder with it).
std::string readTextFile(const std::string& sPath);
// Appends the bytes unchanged; failures are ignored.
void appendTextFile(const std::string& sText, const std::string& sPath);
// With createIfMissing a missing file is created empty; the result is then
// false only when it could not be created.
bool fileExists(const std::string& sPath, bool createIfMissing);
// Creates the folder (one level) when missing; false only when it still
// does not exist afterwards.
bool ensureFolder(const std::string& sPath);
std::string readLocalCatalogue();

// The name of a magazine code from section "MAGS" of the data folder's
// "VORK.ini" (exact-case key match), as the file's bytes: the name of the
// magazine's folder on the server. "UKNOWN" when missing or blank.
std::string magazineName(const std::string& sCode);
// The number before the first "." (field 2 of a record, or a file name's).
// False without a "." or when the front part is not a 16-bit integer.
bool issueNumber(const std::string& sText, int16_t& iNumber);
// The record with every "f#" replaced by the type ("pdf" or "torrent").
std::string typedFileName(const std::string& sRecord, const std::string& sType);
// True for names shaped "*_*_*": at least two "_".
bool isIssueFileName(const std::string& sName);

// The records of a server catalogue's text: trimmed, split at every ";",
// the piece after the last ";" dropped. Empty pieces are kept as they are.
std::vector<std::string> splitServerCatalogue(const std::string& sText);

class KnownRecords;
// The records that are not known, each followed by ";", in their order, and
// their number in iCount.
std::string listNewRecords(const std::vector<std::string>& records, const KnownRecords& known,
                           int32_t& iCount);

// Tells whether a record's exact text occurs anywhere in the local
// catalogue's text (case-sensitive substring search). Built once per check;
// answers without scanning the whole text for every record.
class KnownRecords {
public:
    explicit KnownRecords(std::string sLocalText);
    bool isKnown(std::string_view sRecord) const;
    const std::string& text() const { return m_sText; }

private:
    struct Entry {
        uint64_t gram;
        uint32_t pos;
    };
    std::pair<const Entry*, const Entry*> positionsOf(uint64_t gram) const;
    std::string m_sText;
    std::vector<Entry> m_index;  // sampled grams of the text, sorted by gram
};

// The server is not trusted: names from it become folders and file names.
// The checks take the decoded name (Text::decode), the one that is saved.
// A safe name is a single path component that every Windows file system
// accepts: not empty, "." or "..", no \ / : * ? " < > | or control
// character, no trailing dot or blank, not a device name such as CON or
// LPT1 (with or without an extension).
bool isSafeLibraryName(const std::string& sName);
// A record that may become a file name: a safe name, ending in ".f#" (so
// its typed name ends in ".pdf" or ".torrent"), with at least three fields.
bool isSafeRecord(const std::string& sRecord);
