#include "work/SignedIssues.h"

#include <windows.h>

#include <memory>

#include "base/Log.h"
#include "base/ModCommon.h"
#include "ftp/ServerCopies.h"
#include "ftp/modFTP.h"
#include "release/SignedList.h"
#include "settings/cInifile.h"
#include "text/Text.h"

using ModCommon::dataPath;
using ModCommon::fileSystem;

namespace {

constexpr char seenSection[] = "signed lists";
constexpr char keptSuffix[] = ".kept";
constexpr const char* answerKeys[] = {"server", "size", "modified"};

enum class State { Unsigned, Signed, Broken };

// What the last check found; deliveries run after it on the same engine thread.
struct Found {
    State state = State::Unsigned;
    std::shared_ptr<const SignedList::List> list;
};
Found& found() {
    static Found f;
    return f;
}

std::string sessionServer() {
    return modFTP::ftpHost + ":" + std::to_string(modFTP::ftpPort);
}

cInifile seenState() {
    cInifile state;
    state.setPath(ServerCopies::statePath());
    state.setSection(seenSection);
    state.setKey(sessionServer());
    return state;
}

// A copy as it was before a fetch, and what copies.ini said of it, to be put
// back when the new one is not the one the list describes. A hard link
// keeps the earlier bytes without copying them: a fetch replaces the copy
// by renaming a new file over it.
class KeptCopy {
public:
    KeptCopy(const std::string& sLocal, const std::string& sRemote)
        : local_(sLocal), kept_(sLocal + keptSuffix) {
        fileSystem.DeleteFile(kept_);
        had_ = fileSystem.FileExists(local_) &&
               (CreateHardLinkW(Text::wide(kept_).c_str(), Text::wide(local_).c_str(), nullptr) ||
                fileSystem.CopyFile(local_, kept_, true));
        state_.setPath(ServerCopies::statePath());
        state_.setSection(sRemote);
        for (size_t i = 0; i < std::size(answerKeys); ++i) {
            state_.setKey(answerKeys[i]);
            answers_[i] = state_.Value();
        }
    }
    ~KeptCopy() { fileSystem.DeleteFile(kept_); }
    KeptCopy(const KeptCopy&) = delete;
    KeptCopy& operator=(const KeptCopy&) = delete;

    void restore() {
        if (had_)
            fileSystem.MoveFile(kept_, local_, true);
        else
            fileSystem.DeleteFile(local_);
        for (size_t i = 0; i < std::size(answerKeys); ++i) {
            state_.setKey(answerKeys[i]);
            if (answers_[i].empty())
                state_.DeleteKey();
            else
                state_.setValue(answers_[i]);
        }
    }

private:
    std::string local_, kept_;
    bool had_ = false;
    cInifile state_;
    std::string answers_[std::size(answerKeys)];
};

}  // namespace

namespace SignedIssues {

void fetchList(ServerCopies& copies) {
    Found& f = found();
    f = {};
    const std::string local = dataPath + SignedList::fileName;
    auto list = std::make_shared<SignedList::List>();
    const FetchResult fetched = copies.fetch(local, SignedList::fileName, SignedList::maxListBytes, false);
    cInifile seen = seenState();
    if (fetched == FetchResult::Fetched && list->read(local)) {
        f.state = State::Signed;
        f.list = std::move(list);
        seen.setValue("1");
        return;
    }
    // A list that is there but fails is never taken as no list.
    const bool present = fetched != FetchResult::Failed;
    f.state = present || !seen.Value().empty() ? State::Broken : State::Unsigned;
    if (f.state == State::Broken)
        Log::line(std::string("the signed list ") + SignedList::fileName +
                  (present ? " did not pass its check" : " is missing after one was seen") +
                  ": nothing is copied or delivered");
}

FetchResult fetchDescribed(ServerCopies& copies, const std::string& sLocal, const std::string& sRemote,
                           int64_t llMaxBytes, bool bGrows) {
    const Found& f = found();
    if (f.state == State::Broken)
        return FetchResult::Failed;
    if (f.state == State::Unsigned)
        return copies.fetch(sLocal, sRemote, llMaxBytes, bGrows);
    KeptCopy kept(sLocal, sRemote);
    const FetchResult result = copies.fetch(sLocal, sRemote, llMaxBytes, bGrows);
    const SignedList::Entry* entry = f.list->find(sRemote);
    if (result != FetchResult::Fetched || (entry && SignedList::fileMatches(sLocal, *entry)))
        return result;
    kept.restore();
    Log::line(sRemote + " does not match the signed list: the earlier copy stays");
    return FetchResult::Failed;
}

IssueCheck::IssueCheck(const std::string& sRemote) {
    const Found& f = found();
    if (f.state == State::Unsigned)
        return;
    const SignedList::Entry* entry = f.state == State::Signed ? f.list->find(sRemote) : nullptr;
    refused_ = !entry;
    if (!entry)
        return;
    expected_ = true;
    size_ = entry->size;
    sha256_ = std::string(entry->sha256);
}

bool IssueCheck::sizeRefused(int64_t llServerSize) const {
    return expected_ && llServerSize >= 0 && llServerSize != size_;
}

bool IssueCheck::matches() {
    int64_t received = 0;
    return !refused_ && (!expected_ || (hash_.finishHex(received) == sha256_ && received == size_));
}

// Bytes queued beyond this hold the download until the hash catches up.
constexpr size_t maxQueuedBytes = 16 * 1024 * 1024;

StreamHash::StreamHash() : worker_([this] { run(); }) {}

StreamHash::~StreamHash() {
    {
        const std::lock_guard<std::mutex> lock(lock_);
        stop_ = true;
    }
    work_.notify_all();
    worker_.join();
}

namespace {
constexpr size_t maxSpareBlocks = 8;
}  // namespace

void StreamHash::drain(std::unique_lock<std::mutex>& lock) {
    done_.wait(lock, [this] { return queue_.empty() && !hashing_; });
}

void StreamHash::restart() {
    std::unique_lock<std::mutex> lock(lock_);
    drain(lock);
    sha_.reset();
    sha_.emplace();
    bytes_ = 0;
}

void StreamHash::add(const char* p, size_t n) {
    std::unique_lock<std::mutex> lock(lock_);
    done_.wait(lock, [this] { return queued_ < maxQueuedBytes; });
    // A block already hashed takes the bytes: its memory is in place, where
    // fresh memory for every block costs more than the hash itself.
    std::vector<char> block;
    if (!spare_.empty()) {
        block = std::move(spare_.back());
        spare_.pop_back();
    }
    lock.unlock();
    block.assign(p, p + n);
    lock.lock();
    queue_.push_back(std::move(block));
    queued_ += n;
    work_.notify_one();
}

std::string StreamHash::finishHex(int64_t& llBytes) {
    std::unique_lock<std::mutex> lock(lock_);
    drain(lock);
    llBytes = bytes_;
    return sha_ ? sha_->finishHex() : "";
}

void StreamHash::run() {
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        work_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (queue_.empty())
            return;
        std::vector<char> block = std::move(queue_.front());
        queue_.pop_front();
        hashing_ = true;
        lock.unlock();
        if (sha_)
            sha_->add(block.data(), block.size());
        lock.lock();
        hashing_ = false;
        queued_ -= block.size();
        bytes_ += static_cast<int64_t>(block.size());
        if (spare_.size() < maxSpareBlocks)
            spare_.push_back(std::move(block));
        done_.notify_all();
    }
}

}  // namespace SignedIssues
