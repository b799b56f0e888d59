// Whoever must see every byte of a download as it is written (a hash of the
// issue, say). The bytes come in file order from the first: a resumed
// download gives the bytes already on disk before the new ones, and every
// try begins with restart().
#pragma once
#include <cstddef>

class ReceivedBytes {
public:
    virtual ~ReceivedBytes() = default;
    virtual void restart() = 0;
    virtual void add(const char* p, size_t n) = 0;
};
