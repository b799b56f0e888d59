// SHA-256 on the processor's own SHA instructions. The platform's hash does
// not use them everywhere (Wine's is plain C, slower than a fast link), so
// Signature::Sha256 takes this one wherever the processor has them.
#pragma once
#include <cstddef>
#include <cstdint>

class Sha256Fast {
public:
    static constexpr size_t blockBytes = 64, hashBytes = 32;

    // The processor has the SHA extensions and the SSSE3/SSE4.1 they go with.
    static bool available();

    // Only where available() says so.
    void add(const void* p, size_t n);
    void finish(unsigned char (&digest)[hashBytes]);

private:
    uint32_t state_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    unsigned char block_[blockBytes] = {};
    size_t used_ = 0;      // bytes waiting in block_
    uint64_t length_ = 0;  // bytes added in all
};
