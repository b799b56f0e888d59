// SHA-256 fed as a delivery feeds it: in pieces of any size, empty ones too.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "release/Signature.h"

static void feed(Signature::Sha256& hash, const std::string& text, std::mt19937& rng, size_t maxPiece) {
    for (size_t at = 0, n = 0; at < text.size(); at += n) {
        n = std::min<size_t>(text.size() - at, rng() % (maxPiece + 1));
        hash.add(text.data() + at, n);
    }
}

TEST(Sha256, PublishedVectors) {
    std::mt19937 rng(1);
    const std::pair<std::string, const char*> vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}};
    for (const auto& [text, hex] : vectors) {
        Signature::Sha256 sha;
        feed(sha, text, rng, 1000);
        EXPECT_EQ(sha.finishHex(), hex) << text.size() << " bytes";
    }
}

TEST(Sha256, ProcessorHashEqualsPlatformHash) {
    if (!Sha256Fast::available())
        GTEST_SKIP() << "this processor has no SHA instructions";
    BCRYPT_ALG_HANDLE alg = nullptr;
    ASSERT_EQ(BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0), 0);
    std::mt19937 rng(7);
    const size_t large[] = {4095, 65537, (1 << 20) + 3};
    for (size_t i = 0; i < 301 + std::size(large); ++i) {
        const size_t length = i <= 300 ? i : large[i - 301];
        std::string text(length, '\0');
        std::generate(text.begin(), text.end(), [&] { return static_cast<char>(rng()); });
        Signature::Sha256 sha;  // on the processor's instructions here
        feed(sha, text, rng, 1 + rng() % (length + 1));
        UCHAR platform[Signature::hashBytes];
        BCRYPT_HASH_HANDLE hash = nullptr;
        ASSERT_EQ(BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0), 0);
        BCryptHashData(hash, reinterpret_cast<PUCHAR>(text.data()), static_cast<ULONG>(length), 0);
        BCryptFinishHash(hash, platform, sizeof platform, 0);
        BCryptDestroyHash(hash);
        EXPECT_EQ(sha.finishHex(), Signature::toHex(platform, sizeof platform)) << length;
    }
    BCryptCloseAlgorithmProvider(alg, 0);
}
