// What the publisher's signed list asks of a check and of each delivery.
// The check fetches the list first; the settings file and the catalogue are
// then kept only as the list describes them, and each delivered issue only
// with the list's size and SHA-256. Once a server has served a valid list
// it is remembered (data\copies.ini, [signed lists]): from then on a missing
// or broken list keeps the earlier copies and fails every delivery until a
// valid one is back. A server that never served one works as before.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ftp/ReceivedBytes.h"
#include "ftp/SafeFetch.h"
#include "release/Signature.h"

class ServerCopies;

namespace SignedIssues {

// Fetches and judges the list of the session's server (a copy like the
// others: an unchanged one costs no transfer).
void fetchList(ServerCopies& copies);

// As copies.fetch, but a copy the list does not describe is not kept: the
// earlier one and what was said about it stay, and the result is Failed.
FetchResult fetchDescribed(ServerCopies& copies, const std::string& sLocal, const std::string& sRemote,
                           int64_t llMaxBytes, bool bGrows);

// The SHA-256 of a download, computed on a thread of its own while the
// next bytes arrive: the platform's hash is slower than a fast link, and
// in line it would add its whole time to the delivery's.
class StreamHash : public ReceivedBytes {
public:
    StreamHash();
    ~StreamHash() override;
    StreamHash(const StreamHash&) = delete;
    StreamHash& operator=(const StreamHash&) = delete;

    void restart() override;
    void add(const char* p, size_t n) override;
    // Once every byte given is hashed: the digest in hex ("" before any
    // restart), and in llBytes how many there were.
    std::string finishHex(int64_t& llBytes);

private:
    void run();
    void drain(std::unique_lock<std::mutex>& lock);

    std::mutex lock_;
    std::condition_variable work_, done_;
    std::deque<std::vector<char>> queue_;
    std::vector<std::vector<char>> spare_;  // hashed blocks, kept for the next bytes
    size_t queued_ = 0;
    bool hashing_ = false, stop_ = false;
    std::optional<Signature::Sha256> sha_;
    int64_t bytes_ = 0;
    std::thread worker_;
};

// One issue's delivery, hashed as it arrives (cFTP::setReceiver).
class IssueCheck {
public:
    // sRemote: the issue's path on the server, as the list names it.
    explicit IssueCheck(const std::string& sRemote);
    // Nothing may be delivered: the server's list is missing or broken, or
    // names no such file.
    bool refused() const { return refused_; }
    // A server size that differs from the list's dooms the delivery.
    bool sizeRefused(int64_t llServerSize) const;
    // Once the download is done: the bytes are those the list describes.
    bool matches();
    // The bytes are hashed only where the list gives a hash to compare with.
    ReceivedBytes* receiver() { return expected_ ? &hash_ : nullptr; }

private:
    bool refused_ = false, expected_ = false;
    int64_t size_ = -1;
    std::string sha256_;
    StreamHash hash_;
};

}  // namespace SignedIssues
