#include "release/SignedList.h"

#include <windows.h>

#include <algorithm>
#include <memory>

#include "release/Signature.h"
#include "text/Text.h"

namespace {

using Signature::AutoFile;
using Signature::openForReading;
using Signature::parseSize;

constexpr std::string_view header = "Quillora issues";
constexpr std::string_view signatureField = "signature=";
constexpr DWORD readChunk = 1 << 20;

// The whole file, when it is no bigger than llMax bytes.
bool readBounded(const std::string& sPath, int64_t llMax, std::string& sText) {
    AutoFile h = openForReading(sPath);
    LARGE_INTEGER size{};
    if (!h || !GetFileSizeEx(h.get(), &size) || size.QuadPart > llMax)
        return false;
    sText.resize(static_cast<size_t>(size.QuadPart));
    for (size_t done = 0; done < sText.size();) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(sText.size() - done, readChunk));
        if (!ReadFile(h.get(), sText.data() + done, want, &got, nullptr) || got == 0)
            return false;
        done += got;
    }
    return true;
}

}  // namespace

namespace SignedList {

bool List::read(const std::string& sPath) {
    entries_.clear();
    if (!readBounded(sPath, maxListBytes, text_) || !parse()) {
        text_.clear();
        entries_.clear();
        return false;
    }
    return true;
}

bool List::parse() {
    if (text_.empty() || text_.back() != '\n')
        return false;
    const std::string_view all(text_);
    // The signature's line is the last one.
    const size_t last = all.rfind('\n', all.size() - 2) + 1;
    const std::string_view signatureLine = all.substr(last, all.size() - 1 - last);
    if (last == 0 || signatureLine.substr(0, signatureField.size()) != signatureField ||
        !Signature::isLowerHex(signatureLine.substr(signatureField.size()), Signature::signatureDigits) ||
        all.substr(0, header.size() + 1) != std::string(header) + "\n")
        return false;
    // "<64 hex> <size> <path>", the path being the rest of the line.
    for (size_t start = header.size() + 1; start < last;) {
        const size_t end = all.find('\n', start);
        const std::string_view line = all.substr(start, end - start);
        start = end + 1;
        const size_t hashEnd = 2 * Signature::hashBytes, sizeEnd = line.find(' ', hashEnd + 1);
        Named named;
        if (line.size() <= hashEnd || line[hashEnd] != ' ' || sizeEnd == std::string_view::npos ||
            !Signature::isLowerHex(line.substr(0, hashEnd), hashEnd) ||
            !parseSize(line.substr(hashEnd + 1, sizeEnd - hashEnd - 1), named.entry.size) ||
            sizeEnd + 1 == line.size())
            return false;
        named.entry.sha256 = line.substr(0, hashEnd);
        named.path = line.substr(sizeEnd + 1);
        entries_.push_back(named);
    }
    if (!Signature::verify(all.substr(0, last), signatureLine.substr(signatureField.size())))
        return false;
    std::sort(entries_.begin(), entries_.end(),
              [](const Named& a, const Named& b) { return a.path < b.path; });
    // A path named twice could be given either size: such a list is no list.
    return std::adjacent_find(entries_.begin(), entries_.end(), [](const Named& a, const Named& b) {
               return a.path == b.path;
           }) == entries_.end();
}

const Entry* List::find(std::string_view path) const {
    const auto at = std::lower_bound(entries_.begin(), entries_.end(), path,
                                     [](const Named& n, std::string_view p) { return n.path < p; });
    return at != entries_.end() && at->path == path ? &at->entry : nullptr;
}

bool fileMatches(const std::string& sPath, const Entry& entry) {
    AutoFile h = openForReading(sPath);
    LARGE_INTEGER size{};
    if (!h || !GetFileSizeEx(h.get(), &size) || size.QuadPart != entry.size)
        return false;
    std::vector<char> buffer(readChunk);
    Signature::Sha256 sha;
    for (int64_t done = 0; done < entry.size;) {
        DWORD got = 0;
        if (!ReadFile(h.get(), buffer.data(), readChunk, &got, nullptr) || got == 0 ||
            !sha.add(buffer.data(), got))
            return false;
        done += got;
    }
    return sha.finishHex() == entry.sha256;
}

}  // namespace SignedList
