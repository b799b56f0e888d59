#include "release/Sha256Fast.h"

#include <cpuid.h>
#include <immintrin.h>

#include <algorithm>
#include <cstring>

namespace {

alignas(16) constexpr uint32_t roundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// Hashes whole 64-byte blocks into state. The instructions keep the eight
// words as ABEF and CDGH (named, as in the manuals, highest lane first) and take the message four words at a
// time; each later group of four is made from the four before it (msg1, msg2). Windows promises a 32-bit
// thread only 4-byte stack alignment, hence the realignment for the 16-byte values spilled there, and only
// unaligned loads and stores of memory.
__attribute__((target("sha,sse4.1,ssse3"), force_align_arg_pointer)) void compress(uint32_t state[8],
                                                                                   const unsigned char* data,
                                                                                   size_t blocks) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    const __m128i cdab = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
    const __m128i efgh =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; blocks; --blocks, data += Sha256Fast::blockBytes) {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        __m128i w[4];
        for (int i = 0; i < 4; ++i)
            w[i] =
                _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byteSwap);
        for (int group = 0; group < 16; ++group) {
            __m128i& words = w[group % 4];
            if (group >= 4) {  // words holds those of group - 4
                const __m128i later =
                    _mm_add_epi32(_mm_sha256msg1_epu32(words, w[(group + 1) % 4]),
                                  _mm_alignr_epi8(w[(group + 3) % 4], w[(group + 2) % 4], 4));
                words = _mm_sha256msg2_epu32(later, w[(group + 3) % 4]);
            }
            const __m128i k = _mm_add_epi32(
                words, _mm_loadu_si128(reinterpret_cast<const __m128i*>(roundConstants + 4 * group)));
            // Two rounds each, the second pair of words moved low. After two
            // rounds the old A, B, E, F are the new C, D, G, H: the pair
            // leaves each variable holding what its name says.
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, k);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(k, 0x0E));
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

}  // namespace

bool Sha256Fast::available() {
    static const bool has = [] {
        unsigned a, b, c, d;
        if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSSE3) || !(c & bit_SSE4_1))
            return false;
        return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA);
    }();
    return has;
}

void Sha256Fast::add(const void* p, size_t n) {
    if (!n)
        return;
    auto* bytes = static_cast<const unsigned char*>(p);
    length_ += n;
    if (used_) {
        const size_t take = std::min(n, blockBytes - used_);
        std::memcpy(block_ + used_, bytes, take);
        used_ += take, bytes += take, n -= take;
        if (used_ < blockBytes)
            return;
        compress(state_, block_, 1);
        used_ = 0;
    }
    if (n >= blockBytes)
        compress(state_, bytes, n / blockBytes);
    used_ = n % blockBytes;
    std::memcpy(block_, bytes + n - used_, used_);
}

void Sha256Fast::finish(unsigned char (&digest)[hashBytes]) {
    // 0x80, zeros, then the length in bits, big-endian, ending a block.
    const uint64_t bits = length_ * 8;
    block_[used_++] = 0x80;
    if (used_ > blockBytes - 8) {
        std::memset(block_ + used_, 0, blockBytes - used_);
        compress(state_, block_, 1);
        used_ = 0;
    }
    std::memset(block_ + used_, 0, blockBytes - 8 - used_);
    for (int i = 0; i < 8; ++i) block_[blockBytes - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
    compress(state_, block_, 1);
    for (int i = 0; i < 32; ++i) digest[i] = static_cast<unsigned char>(state_[i / 4] >> (24 - 8 * (i % 4)));
}
