#include "release/SignedRelease.h"

#include <bcrypt.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "text/Text.h"

#ifndef TOLV_UPDATE_KEY
#error "TOLV_UPDATE_KEY (the release signing public key, X||Y in hex) is not set"
#endif

namespace {

constexpr char header[] = "Quillora release";
constexpr size_t hashBytes = 32;
constexpr size_t coordinateBytes = 32;
constexpr size_t signatureBytes = 2 * coordinateBytes;
constexpr size_t maxVersionLength = 32;
constexpr size_t maxSizeDigits = 18;
constexpr DWORD readChunk = 1 << 20;

struct AlgorithmCloser {
    void operator()(BCRYPT_ALG_HANDLE h) const { BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashCloser {
    void operator()(BCRYPT_HASH_HANDLE h) const { BCryptDestroyHash(h); }
};
struct KeyCloser {
    void operator()(BCRYPT_KEY_HANDLE h) const { BCryptDestroyKey(h); }
};
using AutoAlgorithm = std::unique_ptr<void, AlgorithmCloser>;
using AutoHash = std::unique_ptr<void, HashCloser>;
using AutoKey = std::unique_ptr<void, KeyCloser>;
struct FileCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using AutoFile = std::unique_ptr<void, FileCloser>;

AutoFile openForReading(const std::string& sPath) {
    HANDLE h = CreateFileW(Text::wide(sPath).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return AutoFile(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

AutoAlgorithm openAlgorithm(LPCWSTR id) {
    BCRYPT_ALG_HANDLE h = nullptr;
    if (BCryptOpenAlgorithmProvider(&h, id, nullptr, 0) != 0)
        return nullptr;
    return AutoAlgorithm(h);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool fromHex(std::string_view text, std::vector<UCHAR>& bytes) {
    if (text.size() % 2)
        return false;
    bytes.resize(text.size() / 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        const int hi = hexDigit(text[2 * i]), lo = hexDigit(text[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes[i] = static_cast<UCHAR>(hi * 16 + lo);
    }
    return true;
}

bool isLowerHex(std::string_view text, size_t length) {
    return text.size() == length && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// Feeds a hash piece by piece; BCryptCreateHash, unlike the one-call
// BCryptHash, is there on every Windows since Vista.
class Sha256 {
public:
    Sha256() : alg_(openAlgorithm(BCRYPT_SHA256_ALGORITHM)) {
        BCRYPT_HASH_HANDLE h = nullptr;
        if (alg_ && BCryptCreateHash(alg_.get(), &h, nullptr, 0, nullptr, 0, 0) == 0)
            hash_.reset(h);
    }
    bool add(const void* p, size_t n) {
        return hash_ && BCryptHashData(hash_.get(), static_cast<PUCHAR>(const_cast<void*>(p)),
                                       static_cast<ULONG>(n), 0) == 0;
    }
    bool finish(UCHAR (&digest)[hashBytes]) {
        return hash_ && BCryptFinishHash(hash_.get(), digest, hashBytes, 0) == 0;
    }

private:
    AutoAlgorithm alg_;
    AutoHash hash_;
};

std::string toHex(const UCHAR* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

bool verifySignature(std::string_view signedText, std::string_view signatureHex) {
    std::vector<UCHAR> key, signature;
    if (!fromHex(TOLV_UPDATE_KEY, key) || key.size() != 2 * coordinateBytes ||
        !fromHex(signatureHex, signature) || signature.size() != signatureBytes)
        return false;
    UCHAR digest[hashBytes];
    Sha256 sha;
    if (!sha.add(signedText.data(), signedText.size()) || !sha.finish(digest))
        return false;

    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB));
    auto* head = reinterpret_cast<BCRYPT_ECCKEY_BLOB*>(blob.data());
    head->dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    head->cbKey = coordinateBytes;
    blob.insert(blob.end(), key.begin(), key.end());
    AutoAlgorithm ecdsa = openAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    BCRYPT_KEY_HANDLE hKey = nullptr;
    if (!ecdsa || BCryptImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &hKey, blob.data(),
                                      static_cast<ULONG>(blob.size()), 0) != 0)
        return false;
    AutoKey owned(hKey);
    return BCryptVerifySignature(hKey, nullptr, digest, hashBytes, signature.data(),
                                 static_cast<ULONG>(signature.size()), 0) == 0;
}

// "name=value" with exactly that name; the value in sValue.
bool field(std::string_view line, std::string_view name, std::string_view& sValue) {
    if (line.size() <= name.size() || line.substr(0, name.size()) != name || line[name.size()] != '=')
        return false;
    sValue = line.substr(name.size() + 1);
    return true;
}

bool parseSize(std::string_view text, int64_t& size) {
    if (text.empty() || text.size() > maxSizeDigits ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    size = 0;
    for (char c : text) size = size * 10 + (c - '0');
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
    if (!isWellFormedVersion(s.version) || !parseSize(size, s.size) || !isLowerHex(sha256, 2 * hashBytes) ||
        !isLowerHex(signature, 2 * signatureBytes))
        return false;
    s.sha256 = std::string(sha256);
    const size_t signedLength = static_cast<size_t>(lines[4].data() - text.data());
    if (!verifySignature(text.substr(0, signedLength), signature))
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
    Sha256 sha;
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
    UCHAR digest[hashBytes];
    return sha.finish(digest) && toHex(digest, hashBytes) == statement.sha256;
}

}  // namespace SignedRelease
