#include "release/SignedRelease.h"

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "release/Signature.h"
#include "text/Text.h"

using Signature::hashBytes;

namespace {

using Signature::AutoFile;
using Signature::openForReading;
using Signature::parseSize;

constexpr char header[] = "Quillora release";
constexpr size_t maxVersionLength = 32;
constexpr DWORD readChunk = 1 << 20;

// "name=value" with exactly that name; the value in sValue.
bool field(std::string_view line, std::string_view name, std::string_view& sValue) {
    if (line.size() <= name.size() || line.substr(0, name.size()) != name || line[name.size()] != '=')
        return false;
    sValue = line.substr(name.size() + 1);
    return true;
}

std::string_view withoutLeadingZeros(std::string_view part) {
    const size_t first = part.find_first_not_of('0');
    return first == std::string_view::npos ? std::string_view() : part.substr(first);
}

}  // namespace

namespace SignedRelease {

bool isWellFormedVersion(const std::string& sVersion) {
    if (sVersion.empty() || sVersion.size() > maxVersionLength || sVersion.front() == '.' ||
        sVersion.back() == '.' || sVersion.find("..") != std::string::npos)
        return false;
    return std::all_of(sVersion.begin(), sVersion.end(),
                       [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

int compareVersions(const std::string& a, const std::string& b) {
    const bool aOk = isWellFormedVersion(a), bOk = isWellFormedVersion(b);
    if (!aOk || !bOk)
        return int(aOk) - int(bOk);
    std::string_view x(a), y(b);
    while (!x.empty() || !y.empty()) {
        const size_t xe = std::min(x.find('.'), x.size()), ye = std::min(y.find('.'), y.size());
        // Compared as digit strings: no part can overflow.
        const std::string_view xp = withoutLeadingZeros(x.substr(0, xe)),
                               yp = withoutLeadingZeros(y.substr(0, ye));
        if (xp.size() != yp.size())
            return xp.size() < yp.size() ? -1 : 1;
        if (const int c = xp.compare(yp))
            return c < 0 ? -1 : 1;
        x = x.substr(std::min(xe + 1, x.size()));
        y = y.substr(std::min(ye + 1, y.size()));
    }
    return 0;
}

bool readStatement(const std::string& sPath, Statement& statement) {
    AutoFile h = openForReading(sPath);
    if (!h)
        return false;
    char buffer[maxStatementBytes + 1];
    DWORD got = 0;
    if (!ReadFile(h.get(), buffer, sizeof buffer, &got, nullptr) || got > maxStatementBytes)
        return false;
    const std::string_view text(buffer, got);

    std::vector<std::string_view> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            return false;  // every line ends in a line feed
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::string_view version, size, sha256, signature;
    if (lines.size() != 5 || lines[0] != header || !field(lines[1], "version", version) ||
        !field(lines[2], "size", size) || !field(lines[3], "sha256", sha256) ||
        !field(lines[4], "signature", signature))
        return false;
    Statement s;
    s.version = std::string(version);
    if (!isWellFormedVersion(s.version) || !parseSize(size, s.size) ||
        !Signature::isLowerHex(sha256, 2 * hashBytes) ||
        !Signature::isLowerHex(signature, Signature::signatureDigits))
        return false;
    s.sha256 = std::string(sha256);
    const size_t signedLength = static_cast<size_t>(lines[4].data() - text.data());
    if (!Signature::verify(text.substr(0, signedLength), signature))
        return false;
    statement = std::move(s);
    return true;
}

bool readDescribedBytes(HANDLE h, const Statement& statement, std::string& sBytes) {
    LARGE_INTEGER size{}, start{};
    if (!GetFileSizeEx(h, &size) || size.QuadPart != statement.size || statement.size > maxProgramBytes ||
        !SetFilePointerEx(h, start, nullptr, FILE_BEGIN))
        return false;
    sBytes.resize(static_cast<size_t>(statement.size));
    Signature::Sha256 sha;
    size_t done = 0;
    while (done < sBytes.size()) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(sBytes.size() - done, readChunk));
        if (!ReadFile(h, sBytes.data() + done, want, &got, nullptr) || got == 0 ||
            !sha.add(sBytes.data() + done, got))
            return false;
        done += got;
    }
    // Nothing may follow the described bytes (the file could be growing).
    char extra;
    DWORD more = 0;
    if (!ReadFile(h, &extra, 1, &more, nullptr) || more != 0)
        return false;
    return sha.finishHex() == statement.sha256;
}

}  // namespace SignedRelease
