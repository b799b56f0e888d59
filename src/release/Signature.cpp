#include "release/Signature.h"

#include <algorithm>
#include <vector>

#include "text/Text.h"

#ifndef TOLV_UPDATE_KEY
#error "TOLV_UPDATE_KEY (the release signing public key, X||Y in hex) is not set"
#endif

namespace {

constexpr size_t coordinateBytes = 32;
constexpr size_t signatureBytes = 2 * coordinateBytes;

struct KeyCloser {
    void operator()(BCRYPT_KEY_HANDLE h) const { BCryptDestroyKey(h); }
};
struct AlgorithmCloser {
    void operator()(BCRYPT_ALG_HANDLE h) const { BCryptCloseAlgorithmProvider(h, 0); }
};
using AutoKey = std::unique_ptr<void, KeyCloser>;

BCRYPT_ALG_HANDLE openAlgorithm(LPCWSTR id) {
    BCRYPT_ALG_HANDLE h = nullptr;
    return BCryptOpenAlgorithmProvider(&h, id, nullptr, 0) == 0 ? h : nullptr;
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

}  // namespace

namespace Signature {

Sha256::Sha256() {
    if (Sha256Fast::available()) {
        fast_.emplace();
        return;
    }
    alg_.reset(openAlgorithm(BCRYPT_SHA256_ALGORITHM));
    BCRYPT_HASH_HANDLE h = nullptr;
    if (alg_ && BCryptCreateHash(alg_.get(), &h, nullptr, 0, nullptr, 0, 0) == 0)
        hash_.reset(h);
}

bool Sha256::add(const void* p, size_t n) {
    if (fast_) {
        fast_->add(p, n);
        return true;
    }
    return hash_ && BCryptHashData(hash_.get(), static_cast<PUCHAR>(const_cast<void*>(p)),
                                   static_cast<ULONG>(n), 0) == 0;
}

bool Sha256::finish(UCHAR (&digest)[hashBytes]) {
    if (fast_) {
        fast_->finish(digest);
        return true;
    }
    return hash_ && BCryptFinishHash(hash_.get(), digest, hashBytes, 0) == 0;
}

std::string Sha256::finishHex() {
    UCHAR digest[hashBytes];
    return finish(digest) ? toHex(digest, hashBytes) : "";
}

std::string toHex(const UCHAR* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

bool isLowerHex(std::string_view text, size_t length) {
    return text.size() == length && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

bool verify(std::string_view signedText, std::string_view signatureHex) {
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
    const std::unique_ptr<void, AlgorithmCloser> ecdsa(openAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM));
    BCRYPT_KEY_HANDLE hKey = nullptr;
    if (!ecdsa || BCryptImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &hKey, blob.data(),
                                      static_cast<ULONG>(blob.size()), 0) != 0)
        return false;
    const AutoKey owned(hKey);
    return BCryptVerifySignature(hKey, nullptr, digest, hashBytes, signature.data(),
                                 static_cast<ULONG>(signature.size()), 0) == 0;
}

AutoFile openForReading(const std::string& sPath) {
    HANDLE h = CreateFileW(Text::wide(sPath).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return AutoFile(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

bool parseSize(std::string_view text, int64_t& size) {
    constexpr size_t maxSizeDigits = 18;  // far beyond any file, short of overflow
    if (text.empty() || text.size() > maxSizeDigits ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    size = 0;
    for (char c : text) size = size * 10 + (c - '0');
    return true;
}

}  // namespace Signature
