#include "catalogue/Catalogue.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <limits>

#include "base/ModCommon.h"
#include "settings/cInifile.h"

namespace {

std::string dataFolder() {
    return ModCommon::programFolder() + "\\data";
}

}  // namespace

bool fileExists(const std::string& sPath, bool createIfMissing) {
    const FileSystem& fs = ModCommon::fileSystem;
    if (!createIfMissing)
        return fs.FileExists(sPath);
    // Create only when missing: never empty a catalogue that appeared meanwhile.
    return fs.FileExists(sPath) || fs.CreateTextFile(sPath, false) || fs.FileExists(sPath);
}

bool ensureFolder(const std::string& sPath) {
    const FileSystem& fs = ModCommon::fileSystem;
    return fs.FolderExists(sPath) || fs.CreateFolder(sPath);
}

std::string readTextFile(const std::string& sPath) {
    ensureFolder(dataFolder());
    fileExists(sPath, true);
    std::string text;
    if (!ModCommon::fileSystem.ReadAll(sPath, text))
        return {};
    return ModCommon::trim(text);
}

void appendTextFile(const std::string& sText, const std::string& sPath) {
    ensureFolder(dataFolder());
    fileExists(sPath, true);
    ModCommon::fileSystem.Append(sPath, sText);
}

std::string readLocalCatalogue() {
    ModCommon::programFolder();  // sets dataPath on first use
    const std::string sPath = ModCommon::dataPath + Catalogue::kLocalCatalogue;
    fileExists(sPath, true);
    return readTextFile(sPath);
}

std::string magazineName(const std::string& sCode) {
    static cInifile ini;  // one object for the life of the process
    ini.setPath(dataFolder() + "\\" + Catalogue::kSettingsFile);
    ini.setSection(Catalogue::kMagazineSection);
    std::vector<std::string> names;
    int32_t count = 0;
    ini.EnumerateCurrentSection(names, count);
    std::string value;
    for (int32_t i = 1; i <= count; ++i) {
        if (names[static_cast<size_t>(i)] == sCode) {
            ini.setKey(sCode);
            value = ModCommon::trim(ini.Value());
            break;
        }
    }
    return value.empty() ? Catalogue::kUnknownMagazine : value;
}

bool issueNumber(const std::string& sText, int16_t& iNumber) {
    const size_t dot = sText.find('.');
    if (dot == std::string::npos)
        return false;
    const std::string front = ModCommon::trim(sText.substr(0, dot));
    const char* first = front.data();
    const char* last = first + front.size();
    if (first != last && *first == '+')
        ++first;
    int value = 0;
    auto [end, ec] = std::from_chars(first, last, value);
    if (first == last || ec != std::errc() || end != last || value < std::numeric_limits<int16_t>::min() ||
        value > std::numeric_limits<int16_t>::max())
        return false;
    iNumber = static_cast<int16_t>(value);
    return true;
}

std::string typedFileName(const std::string& sRecord, const std::string& sType) {
    const std::string_view placeholder = Catalogue::kTypePlaceholder;
    std::string name;
    name.reserve(sRecord.size() + sType.size());
    size_t start = 0;
    for (size_t hit = sRecord.find(placeholder); hit != std::string::npos;
         hit = sRecord.find(placeholder, start)) {
        name.append(sRecord, start, hit - start).append(sType);
        start = hit + placeholder.size();
    }
    return name.append(sRecord, start);
}

bool isIssueFileName(const std::string& sName) {
    return std::count(sName.begin(), sName.end(), '_') >= 2;
}

std::vector<std::string> splitServerCatalogue(const std::string& sText) {
    const std::string text = ModCommon::trim(sText);
    std::vector<std::string> records;
    size_t start = 0;
    for (size_t sep = text.find(Catalogue::kRecordSeparator); sep != std::string::npos;
         sep = text.find(Catalogue::kRecordSeparator, start)) {
        records.emplace_back(text, start, sep - start);
        start = sep + 1;
    }
    return records;
}

std::string listNewRecords(const std::vector<std::string>& records, const KnownRecords& known,
                           int32_t& iCount) {
    std::string result;
    iCount = 0;
    for (const std::string& record : records) {
        if (known.isKnown(record))
            continue;
        result.append(record).push_back(Catalogue::kRecordSeparator);
        ++iCount;
    }
    // Trimmed once: only the first record can bring leading blanks, and the
    // text always ends in the separator.
    return ModCommon::trim(result);
}

// --- known and new -----------------------------------------------------------
//
// The index samples the text's 8-byte grams at every 8th position. Any
// occurrence of a record of 15 or more bytes covers, for each of the 8
// alignments, grams at sampled positions; so looking up the rarest such gram
// for each alignment and comparing the text there finds every occurrence,
// exactly as a plain search would. Shorter records are searched plainly.

namespace {

constexpr size_t kGram = 8;
constexpr size_t kStride = 8;
constexpr size_t kShortestIndexed = kGram + kStride - 1;
// A gram with this few positions is rare enough; stop looking for a rarer one.
constexpr ptrdiff_t kFewPositions = 4;

uint64_t gramAt(const char* p) {
    uint64_t g;
    std::memcpy(&g, p, sizeof(g));
    return g;
}

}  // namespace

KnownRecords::KnownRecords(std::string sLocalText) : m_sText(std::move(sLocalText)) {
    const size_t n = m_sText.size();
    if (n < kGram || n > std::numeric_limits<uint32_t>::max())
        return;  // searched plainly
    m_index.reserve(n / kStride + 1);
    for (size_t pos = 0; pos + kGram <= n; pos += kStride)
        m_index.push_back({gramAt(m_sText.data() + pos), static_cast<uint32_t>(pos)});
    std::sort(m_index.begin(), m_index.end(), [](const Entry& a, const Entry& b) { return a.gram < b.gram; });
}

std::pair<const KnownRecords::Entry*, const KnownRecords::Entry*> KnownRecords::positionsOf(
    uint64_t gram) const {
    auto range = std::equal_range(m_index.begin(), m_index.end(), Entry{gram, 0},
                                  [](const Entry& a, const Entry& b) { return a.gram < b.gram; });
    return {std::to_address(range.first), std::to_address(range.second)};
}

bool KnownRecords::isKnown(std::string_view sRecord) const {
    const size_t m = sRecord.size();
    const size_t n = m_sText.size();
    if (m > n)
        return false;
    if (m < kShortestIndexed || m_index.empty())
        return std::string_view(m_sText).find(sRecord) != std::string_view::npos;
    for (size_t align = 0; align < kStride; ++align) {
        const Entry* bestFirst = nullptr;
        const Entry* bestLast = nullptr;
        size_t bestOffset = 0;
        bool absent = false;
        // From the end: the code and the issue number tell records apart
        // better than titles, which share their words.
        for (size_t step = (m - kGram - align) / kStride + 1; step-- > 0;) {
            const size_t offset = align + step * kStride;
            auto [first, last] = positionsOf(gramAt(sRecord.data() + offset));
            if (first == last) {
                absent = true;
                break;
            }
            if (!bestFirst || last - first < bestLast - bestFirst) {
                bestFirst = first;
                bestLast = last;
                bestOffset = offset;
                if (last - first <= kFewPositions)
                    break;
            }
        }
        if (absent)
            continue;
        for (const Entry* e = bestFirst; e != bestLast; ++e) {
            if (e->pos < bestOffset)
                continue;
            const size_t start = e->pos - bestOffset;
            if (start + m <= n && std::memcmp(m_sText.data() + start, sRecord.data(), m) == 0)
                return true;
        }
    }
    return false;
}

// --- names from the server ------------------------------------------------------

namespace {

// Device names stay devices with any extension and with blanks before it.
bool isDeviceName(const std::string& sName) {
    std::string_view stem = std::string_view(sName).substr(0, sName.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    if (stem.size() > 7)  // longer than "CONOUT$": no device
        return false;
    std::string base(stem);
    std::transform(base.begin(), base.end(), base.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; });
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    if (std::find(std::begin(kDevices), std::end(kDevices), base) != std::end(kDevices))
        return true;
    if (base.size() < 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0))
        return false;
    // Digits 1-9, and the superscript one, two and three (names are UTF-8 here).
    const std::string digit = base.substr(3);
    return (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || digit == "\u00B9" ||
           digit == "\u00B2" || digit == "\u00B3";
}

}  // namespace

bool isSafeLibraryName(const std::string& sName) {
    if (sName.empty() || sName.back() == '.' || sName.back() == ' ')
        return false;  // also "." and ".."
    static const auto forbidden = [] {
        std::array<bool, 256> table{};
        for (int c = 0; c < 0x20; ++c) table[c] = true;
        for (const char* c = "\\/:*?\"<>|"; *c; ++c) table[static_cast<unsigned char>(*c)] = true;
        return table;
    }();
    const bool badChar =
        std::any_of(sName.begin(), sName.end(), [](char c) { return forbidden[static_cast<unsigned char>(c)]; });
    return !badChar && !isDeviceName(sName);
}

bool isSafeRecord(const std::string& sRecord) {
    static constexpr std::string_view kTypedEnd = ".f#";
    return isSafeLibraryName(sRecord) && sRecord.ends_with(kTypedEnd) && isIssueFileName(sRecord);
}
