// The publisher's signature and the SHA-256 behind it: one check for the
// release statements and the signed list of issues alike. The public key is
// built in (TOLV_UPDATE_KEY, X||Y in hex).
#pragma once
#include <windows.h>
// after windows.h, whose types it uses
#include <bcrypt.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "release/Sha256Fast.h"

namespace Signature {

inline constexpr size_t hashBytes = 32;
// r||s of an ECDSA P-256 signature, in hex.
inline constexpr size_t signatureDigits = 128;

// Feeds a hash piece by piece; BCryptCreateHash, unlike the one-call
// BCryptHash, is there on every Windows since Vista. Where the processor
// has SHA instructions it hashes with them instead: not every platform's
// hash does (Wine's runs at about 60 MB/s, slower than a fast link).
class Sha256 {
public:
    Sha256();
    bool add(const void* p, size_t n);
    // The digest in lowercase hex; "" when the platform failed.
    std::string finishHex();
    bool finish(UCHAR (&digest)[hashBytes]);

private:
    std::optional<Sha256Fast> fast_;
    struct AlgorithmCloser {
        void operator()(BCRYPT_ALG_HANDLE h) const { BCryptCloseAlgorithmProvider(h, 0); }
    };
    struct HashCloser {
        void operator()(BCRYPT_HASH_HANDLE h) const { BCryptDestroyHash(h); }
    };
    std::unique_ptr<void, AlgorithmCloser> alg_;
    std::unique_ptr<void, HashCloser> hash_;
};

// A file of the publisher's (a statement, a list) opened to be read; null
// when it cannot be.
struct FileCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using AutoFile = std::unique_ptr<void, FileCloser>;
AutoFile openForReading(const std::string& sPath);
// A size written in decimal digits only, as the publisher's files give it.
bool parseSize(std::string_view text, int64_t& size);

std::string toHex(const UCHAR* p, size_t n);
bool isLowerHex(std::string_view text, size_t length);
// True when signatureHex (r||s) signs the SHA-256 of signedText with the built-in key.
bool verify(std::string_view signedText, std::string_view signatureHex);

}  // namespace Signature
