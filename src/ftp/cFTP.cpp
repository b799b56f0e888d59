#include <winsock2.h>

#include "ftp/cFTP.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <vector>

#include "base/ModCommon.h"
#include "ftp/modFTP.h"
#include "text/Text.h"

namespace {

constexpr DWORD blockSize = 255;
// 1028 whole blocks (about 256 KiB): one WinINet read moves what the block
// layout would take 1028 reads for, and no block straddles two reads.
constexpr DWORD chunkSize = 1028 * blockSize;
// What the server sends is written where it belongs and nowhere else: by
// default WinINet keeps a second copy of every file in the user's cache.
constexpr DWORD kUncached = INTERNET_FLAG_NO_CACHE_WRITE;
constexpr DWORD errorBufferSize = 2048;
constexpr DWORD formatLimit = 256;
constexpr double readTargetMs = 50;
constexpr ULONGLONG rateWindowMs = 100;
// A resumed download first reads again this much before the join and
// compares it with the disk, so a file changed on the server is not spliced.
constexpr DWORD joinCheckSize = 64 * 1024;
constexpr const char* agentName = "TOLV";

std::string lastResponse() {
    DWORD dwError = 0, len = errorBufferSize;
    std::string buf(errorBufferSize, '\0');
    if (!InternetGetLastResponseInfoA(&dwError, buf.data(), &len))
        return "";
    buf.resize(std::min<DWORD>(len, errorBufferSize));
    return buf.substr(0, buf.find('\0'));
}

// Wine's listing parser cuts names at the first blank, so a listing never
// finds a file whose name has one; the SIZE command (RFC 3659) asks the
// server about that name directly. Gives -1 when the server knows no such file.
bool hasBlankName(const std::string& sFile) {
    const size_t slash = sFile.find_last_of("/\\");
    return sFile.find(' ', slash == std::string::npos ? 0 : slash + 1) != std::string::npos;
}

int64_t sizeByCommand(HINTERNET hConnection, const std::string& sFile) {
    // Some servers refuse SIZE in ASCII mode; WinINet sets the type again
    // before every transfer anyway.
    FtpCommandA(hConnection, FALSE, FTP_TRANSFER_TYPE_BINARY, "TYPE I", 0, nullptr);
    if (!FtpCommandA(hConnection, FALSE, FTP_TRANSFER_TYPE_BINARY, ("SIZE " + sFile).c_str(), 0, nullptr))
        return -1;
    int64_t size = -1;
    return modFTP::sizeAnswer(lastResponse(), size) ? size : -1;
}

// Wine hands out a listing whose closing reply was no completion (the data
// cut short, the server gone) and only sets this error: what it holds is a
// part, which would make the rest look missing.
bool cutShort(HINTERNET hFind, DWORD dwError) { return hFind && dwError == ERROR_NO_MORE_FILES; }

// Reads exactly cb bytes unless the data ends or fails first; a short count
// is a failure, so no unread bytes can reach the file.
bool readFully(cFTP& ftp, HINTERNET hFile, char* buf, DWORD cb) {
    DWORD got = 0;
    while (got < cb) {
        DWORD n = 0;
        cFTP::Watch watch(ftp);
        // An early end of the data sets no error of its own.
        SetLastError(ERROR_SUCCESS);
        if (!InternetReadFile(hFile, buf + got, cb - got, &n) || n == 0)
            return false;
        got += n;
        watch.progressed();
    }
    return true;
}

// How much of the whole blocks to ask for next: what has already arrived,
// so that a read returns at once however slow the link (the platform's
// reads wait until the whole request is there), or what the link brings in
// readTargetMs at its measured rate, whichever is more; at least one block.
DWORD nextReadSize(cFTP& ftp, HINTERNET hFile, int64_t llLeft, double fBytesPerMs) {
    DWORD available = 0;
    {
        cFTP::Watch watch(ftp);
        // Wine says "pending" once data has come after none was queued; the
        // next call then sees it.
        if (!InternetQueryDataAvailable(hFile, &available, 0, 0) && GetLastError() == ERROR_IO_PENDING)
            InternetQueryDataAvailable(hFile, &available, 0, 0);
    }
    const int64_t byRate = static_cast<int64_t>(fBytesPerMs * readTargetMs);
    const int64_t blocks =
        std::clamp<int64_t>(std::max<int64_t>(available, byRate) / blockSize, 1, chunkSize / blockSize);
    return static_cast<DWORD>(std::min<int64_t>(blocks * blockSize, llLeft));
}

bool writeAll(HANDLE hLocal, const char* buf, DWORD cb) {
    DWORD written = 0;
    if (!WriteFile(hLocal, buf, cb, &written, nullptr))
        return false;
    // Wine reports a disk that fills up midway as a short write, not as a failure.
    if (written != cb)
        SetLastError(ERROR_DISK_FULL);
    return written == cb;
}

// True when the server has nothing beyond the listed size.
bool atEndOfData(cFTP& ftp, HINTERNET hFile) {
    char extra;
    DWORD n = 0;
    cFTP::Watch watch(ftp);
    return InternetReadFile(hFile, &extra, 1, &n) && n == 0;
}

// One transfer on the wire at a time, whatever session carries it.
struct BusyFlag {
    BusyFlag() { modFTP::transferBusy = true; }
    ~BusyFlag() { modFTP::transferBusy = false; }
    BusyFlag(const BusyFlag&) = delete;
    BusyFlag& operator=(const BusyFlag&) = delete;
};

TransferObserver nobody;

// Calls the progress display only when its percent text would change: each
// call is a report to the window thread.
class ProgressSteps {
public:
    ProgressSteps(int64_t llSize, TransferObserver* observer) : size_(llSize), observer_(observer) {}
    void show(int64_t llCount) {
        const int percent = static_cast<int>(llCount * 100 / size_);
        if (percent == shown_)
            return;
        shown_ = percent;
        observer_->transferProgress(0, 0, llCount, false);
    }

private:
    int64_t size_;
    TransferObserver* observer_;
    int shown_ = -1;
};

// The connected stream sockets of this process.
std::set<UINT_PTR> connectedSockets() {
    constexpr UINT_PTR lastCandidate = 0x4000;  // socket handles are small handle values
    std::set<UINT_PTR> found;
    for (UINT_PTR h = 4; h <= lastCandidate; h += 4) {
        int type = 0, len = sizeof type;
        if (getsockopt(static_cast<SOCKET>(h), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &len) != 0 ||
            type != SOCK_STREAM)
            continue;
        sockaddr_in peer{};
        int plen = sizeof peer;
        if (getpeername(static_cast<SOCKET>(h), reinterpret_cast<sockaddr*>(&peer), &plen) == 0)
            found.insert(h);
    }
    return found;
}

}  // namespace

// --- ending a call that waits ------------------------------------------------
//
// Wine's FTP calls wait on their sockets with no time-out of their own once
// a server has gone quiet, and a handle closed from another thread lives on
// until the call that holds it returns, so closing it ends nothing. Shutting
// the socket down does: the call fails at once. The sockets are this
// session's own: those connected since it began to connect.

class cFTP::Watchdog {
public:
    explicit Watchdog(cFTP& owner) : owner_(owner), stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        thread_.reset(CreateThread(nullptr, 0, run, this, 0, nullptr));
    }
    ~Watchdog() {
        SetEvent(stop_.get());
        if (thread_)
            WaitForSingleObject(thread_.get(), INFINITE);
    }
    std::atomic<int> armed{0};
    std::atomic<ULONGLONG> since{0}, deadline{0};
    std::mutex probeLock;
    std::function<int64_t()> probe;

private:
    static DWORD WINAPI run(void* p) {
        auto* w = static_cast<Watchdog*>(p);
        while (WaitForSingleObject(w->stop_.get(), tickMs) == WAIT_TIMEOUT) {
            if (!w->armed)
                continue;
            {
                std::lock_guard<std::mutex> lock(w->probeLock);
                if (w->probe) {
                    const int64_t seen = w->probe();
                    if (seen != w->probed)
                        w->since = GetTickCount64();
                    w->probed = seen;
                }
            }
            const ULONGLONG now = GetTickCount64();
            const ULONGLONG until = w->deadline;
            if (now - w->since >= cFTP::timeOutMs || (until && now >= until)) {
                w->owner_.cutConnections();
                w->since = now;
            }
        }
        return 0;
    }
    static constexpr DWORD tickMs = 100;
    int64_t probed = -1;
    cFTP& owner_;
    AutoHandle stop_, thread_;
};

cFTP::Watch::Watch(cFTP& ftp, ULONGLONG deadlineTick, std::function<int64_t()> probe) : ftp_(ftp) {
    if (!ftp_.watchdog_)
        ftp_.watchdog_ = std::make_unique<Watchdog>(ftp_);
    Watchdog& w = *ftp_.watchdog_;
    if (probe) {
        std::lock_guard<std::mutex> lock(w.probeLock);
        w.probe = std::move(probe);
    }
    if (w.armed++ == 0) {
        w.since = GetTickCount64();
        w.deadline = deadlineTick;
    } else if (deadlineTick) {
        w.deadline = deadlineTick;
    }
}

cFTP::Watch::~Watch() {
    Watchdog& w = *ftp_.watchdog_;
    if (--w.armed == 0) {
        std::lock_guard<std::mutex> lock(w.probeLock);
        w.probe = nullptr;
    }
}

void cFTP::Watch::progressed() { ftp_.watchdog_->since = GetTickCount64(); }

void cFTP::Watch::setDeadline(ULONGLONG deadlineTick) { ftp_.watchdog_->deadline = deadlineTick; }

void cFTP::cutConnections() {
    std::lock_guard<std::mutex> lock(socketsLock_);
    if (!sessionBegun_)
        return;
    for (UINT_PTR s : connectedSockets())
        if (!before_.count(s)) {
            shutdown(static_cast<SOCKET>(s), SD_BOTH);
            CancelIoEx(reinterpret_cast<HANDLE>(s), nullptr);
        }
}

void cFTP::Abort() {
    aborted_ = true;
    cutConnections();
}


cFTP::cFTP() {
    setObserver(nullptr);
    hInternet_.reset(InternetOpenA(agentName, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!hInternet_) {
        lastError_ = "An Internet connection could not be found.";
        return;
    }
    DWORD ms = timeOutMs;
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
                         INTERNET_OPTION_DATA_SEND_TIMEOUT, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT})
        InternetSetOptionA(hInternet_.get(), option, &ms, sizeof ms);
}

// The watchdog goes first: it must not cut what is being closed.
cFTP::~cFTP() {
    watchdog_.reset();
    hFile_.reset();
    dropCacheCopy();
}

// Opens the server's file for reading. The bytes go where the caller writes
// them and nowhere else: WinINet is asked not to keep a copy in the user's
// Internet cache, and where it keeps one all the same (Wine's does), that
// copy is deleted once the transfer is closed.
void cFTP::openRemote(const std::string& sRemote, DWORD dwFlags) {
    hFile_.reset();
    dropCacheCopy();
    hFile_.reset(FtpOpenFileA(hConnection_.get(), sRemote.c_str(), GENERIC_READ, dwFlags | kUncached, 0));
    WCHAR name[MAX_PATH + 1] = {};
    DWORD size = sizeof name;
    if (hFile_ && InternetQueryOptionW(hFile_.get(), INTERNET_OPTION_DATAFILE_NAME, name, &size))
        cacheCopy_ = name;
}

void cFTP::dropCacheCopy() {
    if (!cacheCopy_.empty())
        DeleteFileW(cacheCopy_.c_str());
    cacheCopy_.clear();
}

void cFTP::setObserver(TransferObserver* observer) { observer_ = observer ? observer : &nobody; }

bool cFTP::OpenConnection() {
    if (modFTP::transferBusy || aborted_)
        return false;
    hConnection_.reset();
    {
        std::lock_guard<std::mutex> lock(socketsLock_);
        before_ = connectedSockets();
        sessionBegun_ = true;
    }
    const INTERNET_PORT port = modFTP::ftpPort ? modFTP::ftpPort : INTERNET_INVALID_PORT_NUMBER;
    // A server that accepts and never greets is given up at the time-out.
    Watch watch(*this);
    forgetFailure();
    hConnection_.reset(InternetConnectA(hInternet_.get(), modFTP::ftpHost.c_str(), port,
                                        modFTP::ftpUser.c_str(), modFTP::ftpPassword.c_str(),
                                        INTERNET_SERVICE_FTP, connectionFlags_, 0));
    if (!hConnection_) {
        RecordError(GetLastError(), "InternetConnect");
        return false;
    }
    return true;
}

void cFTP::CloseConnection() { hConnection_.reset(); }

bool cFTP::SetFTPDirectory(const std::string& sDir) {
    Watch watch(*this);
    if (FtpSetCurrentDirectoryA(hConnection_.get(), sDir.c_str()))
        return true;
    RecordError(GetLastError(), "FtpSetCurrentDirectory");
    return false;
}

std::string cFTP::GetFTPDirectory() {
    constexpr DWORD size = 1024;
    std::string buf(size, '\0');
    DWORD len = size;
    if (!FtpGetCurrentDirectoryA(hConnection_.get(), buf.data(), &len)) {
        RecordError(GetLastError(), "FtpGetCurrentDirectory");
        return "";
    }
    return buf.substr(0, buf.find('\0'));
}

// Servers and platforms say "no such file" differently: Windows gives
// ERROR_NO_MORE_FILES, Wine no error at all, and a server that answers the
// listing with 550 (pyftpdlib; any server for a missing folder) comes back as
// the extended error with that response.
bool cFTP::isNoSuchFile(DWORD lError) const {
    if (lError == ERROR_NO_MORE_FILES || lError == ERROR_SUCCESS)
        return true;
    return lError == ERROR_INTERNET_EXTENDED_ERROR && lastResponse().rfind("550", 0) == 0;
}

int64_t cFTP::GetFTPFileSize(const std::string& sFile) {
    Watch watch(*this);
    forgetFailure();
    WIN32_FIND_DATAA fd{};
    SetLastError(ERROR_SUCCESS);
    AutoHinternet hFind(FtpFindFirstFileA(hConnection_.get(), sFile.c_str(), &fd, INTERNET_FLAG_RELOAD | kUncached, 0));
    const DWORD err = GetLastError();
    if (cutShort(hFind.get(), err)) {
        RecordError(err, "FtpFindFirstFile");
        return -2;
    }
    if (hFind)
        return static_cast<int64_t>((static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow);
    if (isNoSuchFile(err)) {
        keepFailure(err);
        return hasBlankName(sFile) ? sizeByCommand(hConnection_.get(), sFile) : -1;
    }
    RecordError(err, "FtpFindFirstFile");
    return -2;
}

bool cFTP::checkServerFile(const std::string& sWhich) {
    Watch watch(*this);
    WIN32_FIND_DATAA fd{};
    AutoHinternet hFind(FtpFindFirstFileA(hConnection_.get(), sWhich.c_str(), &fd, INTERNET_FLAG_RELOAD | kUncached, 0));
    if (hFind)
        return true;
    return hasBlankName(sWhich) && hConnection_ && sizeByCommand(hConnection_.get(), sWhich) >= 0;
}

bool cFTP::SimpleFTPGetFile(const std::string& sLocal, const std::string& sRemote) {
    // The platform's call reports nothing while it copies: the file's growth
    // is its progress.
    Watch watch(*this, 0, [sLocal] { return ModCommon::fileSystem.FileSize(sLocal); });
    // The local path goes wide; the server's name goes through the code page
    // both ways, as the ...A call would send it: the server gets its own bytes.
    return FtpGetFileW(hConnection_.get(), Text::fromCodePage(sRemote).c_str(), Text::wide(sLocal).c_str(), FALSE,
                       FILE_ATTRIBUTE_NORMAL, transferType_ | INTERNET_FLAG_RELOAD | kUncached, 0);
}

ULONGLONG cFTP::copyDeadlineMs(int64_t llBytes) {
    constexpr int64_t slowestBytesPerSecond = 16 * 1024;
    return std::max<ULONGLONG>(
        copyFloorMs, static_cast<ULONGLONG>(std::max<int64_t>(llBytes, 0)) * 1000 / slowestBytesPerSecond);
}

cFTP::Copy cFTP::FTPCopyBounded(const std::string& sLocal, const std::string& sRemote, int64_t llMaxBytes) {
    const ULONGLONG start = GetTickCount64();
    int64_t count = 0;
    // Growth keeps the stall rule content, so a trickle is ended by the
    // deadline, which grows only with what has arrived: a read still waiting
    // then is cut.
    Watch watch(*this, start + copyDeadlineMs(0));
    auto overdue = [&] { return GetTickCount64() - start >= copyDeadlineMs(count); };
    forgetFailure();
    DWORD readError = ERROR_SUCCESS;
    openRemote(sRemote, transferType_ | INTERNET_FLAG_RELOAD);
    if (!hFile_) {
        RecordError(GetLastError(), "FtpOpenFile");
        return Copy::Failed;
    }
    AutoHandle hLocal(CreateFileW(Text::wide(sLocal).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<char> buf(chunkSize);
    Copy result = Copy::Failed;
    while (hLocal && !overdue() && !observer_->cancelAsked()) {
        // What has arrived, so the read returns at once, but never past the
        // first byte over the cap: no more than that is ever read.
        DWORD available = 0, n = 0;
        if (!InternetQueryDataAvailable(hFile_.get(), &available, 0, 0) && GetLastError() == ERROR_IO_PENDING)
            InternetQueryDataAvailable(hFile_.get(), &available, 0, 0);
        const DWORD want = static_cast<DWORD>(
            std::clamp<int64_t>(std::min<int64_t>(available, llMaxBytes + 1 - count), 1, chunkSize));
        if (!InternetReadFile(hFile_.get(), buf.data(), want, &n)) {
            readError = GetLastError();
            break;
        }
        if (n == 0) {
            result = overdue() ? Copy::Failed : Copy::Done;
            break;
        }
        if (count + n > llMaxBytes) {
            result = Copy::TooLarge;
            break;
        }
        if (!writeAll(hLocal.get(), buf.data(), n))
            break;
        count += n;
        watch.progressed();
        watch.setDeadline(start + copyDeadlineMs(count));
    }
    hLocal.reset();
    if (!closeTransfer() && result == Copy::Done)
        result = Copy::Failed;
    if (result != Copy::Done)
        keepFailure(readError);
    return result;
}

bool cFTP::closeTransfer() {
    // Closing reads the server's last word on the transfer. A data connection
    // cut short ends like a whole one, whether the server said 426, restarted
    // and closed both connections without a word, or the stall watch cut it;
    // only a completion reply (2xx) tells a whole transfer. With no reply the
    // text is still the RETR's own preliminary one.
    const bool closed = InternetCloseHandle(hFile_.release());
    dropCacheCopy();
    return closed && lastResponse().rfind('2', 0) == 0;
}

bool cFTP::SimpleFTPPutFile(const std::string& sLocal, const std::string& sRemote) {
    return FtpPutFileW(hConnection_.get(), Text::wide(sLocal).c_str(), Text::fromCodePage(sRemote).c_str(),
                       transferType_, 0);
}

cFTP::Outcome cFTP::receiveBlocks(HANDLE hLocal, int64_t llSize, int64_t llFrom) {
    const int64_t whole = llSize - llSize % blockSize;
    std::vector<char> buf(chunkSize);
    ProgressSteps progress(llSize, observer_);
    int64_t count = llFrom;
    double bytesPerMs = 0;
    int64_t windowCount = llFrom;
    ULONGLONG windowStart = GetTickCount64();
    if (llFrom > 0)
        progress.show(llFrom);
    auto pauseIfAsked = [&] {
        if (observer_->pauseAsked()) {
            // The hold shows how far the delivery got.
            progress.show(count);
            heldByPause_ = true;
            observer_->holdWhilePaused();
            windowCount = count;
            windowStart = GetTickCount64();
        }
    };
    while (count < whole) {
        pauseIfAsked();
        if (observer_->cancelAsked())
            return Outcome::Cancelled;
        const DWORD want = nextReadSize(*this, hFile_.get(), whole - count, bytesPerMs);
        if (!readFully(*this, hFile_.get(), buf.data(), want)) {
            lastCode_ = GetLastError();
            return observer_->cancelAsked() ? Outcome::Cancelled : Outcome::Lost;
        }
        if (!writeAll(hLocal, buf.data(), want)) {
            writeError_ = GetLastError();
            return Outcome::WriteFailed;
        }
        if (receiver_)
            receiver_->add(buf.data(), want);
        count += want;
        progress.show(count);
        const ULONGLONG now = GetTickCount64();
        if (now - windowStart >= rateWindowMs) {
            bytesPerMs = static_cast<double>(count - windowCount) / static_cast<double>(now - windowStart);
            windowCount = count;
            windowStart = now;
        }
    }
    // A cancel during the last whole block stops before the short last block.
    pauseIfAsked();
    if (observer_->cancelAsked())
        return Outcome::Cancelled;
    const DWORD remainder = static_cast<DWORD>(llSize - count);
    if (remainder && !readFully(*this, hFile_.get(), buf.data(), remainder)) {
        lastCode_ = GetLastError();
        return observer_->cancelAsked() ? Outcome::Cancelled : Outcome::Lost;
    }
    if (remainder && !writeAll(hLocal, buf.data(), remainder)) {
        writeError_ = GetLastError();
        return Outcome::WriteFailed;
    }
    if (remainder && receiver_)
        receiver_->add(buf.data(), remainder);
    count += remainder;
    // More data than the listed size is as wrong as less.
    if (!atEndOfData(*this, hFile_.get()))
        return observer_->cancelAsked() ? Outcome::Cancelled : Outcome::Failed;
    observer_->transferProgress(0, count, 0, true);
    observer_->transferProgress(0, 0, count, false);
    return Outcome::Done;
}

bool cFTP::FTPDownloadFile(std::string sLocal, std::string sRemote, bool bResume) {
    using namespace ModCommon;
    outcome_ = Outcome::Failed;
    heldByPause_ = false;
    forgetFailure();
    if (modFTP::transferBusy)
        return false;
    if (observer_->pauseAsked()) {
        heldByPause_ = true;
        observer_->holdWhilePaused();
    }
    if (observer_->cancelAsked()) {
        outcome_ = Outcome::Cancelled;
        return false;
    }
    // A file exists exactly when its size can be read, so one listing
    // answers both questions unless trimming changes the name.
    const bool trimmed = trim(sRemote) == sRemote;
    int64_t size = trimmed ? GetFTPFileSize(sRemote) : (checkServerFile(sRemote) ? 0 : -1);
    if (size < 0) {
        // -2: the listing itself failed, as it does on a session the server dropped.
        if (size == -2)
            outcome_ = Outcome::Lost;
        return false;
    }
    observer_->toolTipChanged("Delivery in progress...");
    const BusyFlag busy;
    sLocal = trim(sLocal);
    sRemote = trim(sRemote);
    if (sLocal.empty() || sRemote.empty())
        return false;
    if (!trimmed)
        size = GetFTPFileSize(sRemote);
    observer_->transferProgress(0, size, 0, true);
    if (size < 1) {
        observer_->transferProgress(0, 0, 0, false);
        return false;
    }
    const int64_t from = bResume ? joinPoint(sLocal, sRemote, size) : 0;
    Outcome refused = Outcome::Lost;
    if (from == 0) {
        Watch watch(*this);
        openRemote(sRemote, transferType_);
        if (!hFile_) {
            const DWORD err = GetLastError();
            refused = openFailure();
            keepFailure(err);
        }
    }
    if (!hFile_) {
        outcome_ = observer_->cancelAsked() ? Outcome::Cancelled : refused;
        observer_->transferProgress(0, 0, 0, false);
        return false;
    }
    observer_->statusText(2, "");
    // Cut at the join (or to nothing): an older, longer file must not keep its tail.
    AutoHandle hLocal(CreateFileW(Text::wide(sLocal).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER at{};
    at.QuadPart = from;
    if (hLocal && replayToReceiver(hLocal.get(), from) && SetFilePointerEx(hLocal.get(), at, nullptr, FILE_BEGIN) &&
        SetEndOfFile(hLocal.get()))
        outcome_ = receiveBlocks(hLocal.get(), size, from);
    else {
        writeError_ = GetLastError();
        outcome_ = Outcome::WriteFailed;
    }
    hLocal.reset();
    {
        // Closing waits for the server's last word on the transfer.
        Watch watch(*this);
        hFile_.reset();
    }
    dropCacheCopy();
    observer_->transferProgress(0, 0, 0, false);
    if (outcome_ == Outcome::Done && observer_->cancelAsked())
        outcome_ = Outcome::Cancelled;
    // After the close: the server's last word on the transfer.
    if (outcome_ != Outcome::Done)
        keepFailure(outcome_ == Outcome::WriteFailed ? writeError_ : lastCode_);
    return outcome_ == Outcome::Done;
}

bool cFTP::replayToReceiver(HANDLE hLocal, int64_t llBytes) {
    if (!receiver_)
        return true;
    receiver_->restart();
    std::vector<char> buf(chunkSize);
    for (int64_t done = 0; done < llBytes;) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<int64_t>(chunkSize, llBytes - done));
        if (!ReadFile(hLocal, buf.data(), want, &got, nullptr) || got != want)
            return false;
        receiver_->add(buf.data(), got);
        done += got;
    }
    return true;
}

bool cFTP::CheckSession() {
    Watch watch(*this);
    return hConnection_ &&
           FtpCommandA(hConnection_.get(), FALSE, FTP_TRANSFER_TYPE_BINARY, "NOOP", 0, nullptr) &&
           lastResponse().rfind("200", 0) == 0;
}

std::string cFTP::Reply(const std::string& sCommand) {
    if (!hConnection_)
        return "";
    Watch watch(*this);
    // A refusal comes back as the extended error; any other failure leaves
    // the reply to an earlier command in place, which must not be taken.
    if (!FtpCommandA(hConnection_.get(), FALSE, FTP_TRANSFER_TYPE_BINARY, sCommand.c_str(), 0, nullptr) &&
        GetLastError() != ERROR_INTERNET_EXTENDED_ERROR)
        return "";
    return lastResponse();
}

bool cFTP::ReadFrom(const std::string& sRemote, int64_t llFrom, int64_t llCount, std::string& sData,
                    bool bToEnd) {
    if (llCount <= 0 || llCount > MAXDWORD || !hConnection_)
        return false;
    // The same deadline as a whole copy of that many bytes: a trickle that
    // keeps the stall rule content still ends.
    Watch watch(*this, GetTickCount64() + copyDeadlineMs(llCount));
    if (RestartAt(llFrom))
        openRemote(sRemote, FTP_TRANSFER_TYPE_BINARY);
    if (!hFile_)
        return false;
    sData.assign(static_cast<size_t>(llCount), '\0');
    const bool ok = readFully(*this, hFile_.get(), sData.data(), static_cast<DWORD>(llCount)) &&
                    (!bToEnd || atEndOfData(*this, hFile_.get()));
    if (!bToEnd) {
        // Ended early on purpose: the server's 426 for it says nothing.
        hFile_.reset();
        dropCacheCopy();
        return ok;
    }
    return closeTransfer() && ok;
}

bool cFTP::RestartAt(int64_t llOffset) {
    // Servers take REST for binary transfers only.
    FtpCommandA(hConnection_.get(), FALSE, FTP_TRANSFER_TYPE_BINARY, "TYPE I", 0, nullptr);
    const std::string command = "REST " + std::to_string(llOffset);
    FtpCommandA(hConnection_.get(), FALSE, FTP_TRANSFER_TYPE_BINARY, command.c_str(), 0, nullptr);
    return lastResponse().rfind("350", 0) == 0;
}

// Where a resumed download goes on: the length of the local file, with the
// remote file open at that point, once the bytes before it matched the
// server's. 0 when it must start again from the first byte (nothing to join,
// REST refused, a mismatch); -1 when the server could not be asked at all.
int64_t cFTP::joinPoint(const std::string& sLocal, const std::string& sRemote, int64_t llSize) {
    // A missing file (-1) has nothing to join either.
    const int64_t have = ModCommon::fileSystem.FileSize(sLocal);
    if (have <= 0 || have > llSize)
        return 0;
    const int64_t checkFrom = std::max<int64_t>(0, have - joinCheckSize);
    {
        Watch watch(*this);
        if (checkFrom > 0 && !RestartAt(checkFrom))
            return CheckSession() ? 0 : -1;
        openRemote(sRemote, transferType_);
    }
    if (!hFile_)
        return -1;
    const DWORD cb = static_cast<DWORD>(have - checkFrom);
    std::vector<char> remote(cb), local(cb);
    AutoHandle hLocal(CreateFileW(Text::wide(sLocal).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER at{};
    at.QuadPart = checkFrom;
    DWORD got = 0;
    const bool localRead = hLocal && SetFilePointerEx(hLocal.get(), at, nullptr, FILE_BEGIN) &&
                           ReadFile(hLocal.get(), local.data(), cb, &got, nullptr) && got == cb;
    const bool remoteRead = readFully(*this, hFile_.get(), remote.data(), cb);
    if (remoteRead && localRead && remote == local)
        return have;
    Watch watch(*this);
    hFile_.reset();
    dropCacheCopy();
    return remoteRead ? 0 : -1;
}

cFTP::Outcome cFTP::openFailure() const {
    const DWORD err = GetLastError();
    switch (err) {
        case ERROR_INTERNET_EXTENDED_ERROR: {
            // 421 closing, 425 no data connection, 426 transfer aborted: the
            // server's passing state, not the file's.
            const std::string reply = lastResponse();
            for (const char* code : {"421", "425", "426"})
                if (reply.rfind(code, 0) == 0)
                    return Outcome::Lost;
            return Outcome::Failed;
        }
        case ERROR_INTERNET_TIMEOUT:
        case ERROR_INTERNET_CONNECTION_ABORTED:
        case ERROR_INTERNET_CONNECTION_RESET:
        case ERROR_INTERNET_CANNOT_CONNECT:
        case ERROR_FTP_DROPPED:
            return Outcome::Lost;
        default:
            return Outcome::Failed;
    }
}

bool cFTP::FTPUploadFile(std::string& sLocal, std::string& sRemote) {
    if (modFTP::transferBusy)
        return false;
    sLocal = ModCommon::trim(sLocal);
    sRemote = ModCommon::trim(sRemote);
    if (sLocal.empty() || sRemote.empty())
        return false;
    // The local file first: a missing one must not leave an empty remote file.
    AutoHandle hLocal(CreateFileW(Text::wide(sLocal).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!hLocal || !GetFileSizeEx(hLocal.get(), &size))
        return false;
    hFile_.reset(FtpOpenFileA(hConnection_.get(), sRemote.c_str(), GENERIC_WRITE, transferType_, 0));
    if (!hFile_) {
        RecordError(GetLastError(), "FtpOpenFile:PutFile");
        return false;
    }
    observer_->transferProgress(0, size.QuadPart, 0, true);
    const int64_t whole = size.QuadPart - size.QuadPart % blockSize;
    const DWORD remainder = static_cast<DWORD>(size.QuadPart % blockSize);
    std::vector<char> buf(chunkSize);
    ProgressSteps progress(size.QuadPart, observer_);
    int64_t count = 0;
    auto send = [&](DWORD cb, const char* sCall) {
        DWORD got = 0, sent = 0;
        if (!ReadFile(hLocal.get(), buf.data(), cb, &got, nullptr) || got != cb) {
            RecordError(GetLastError(), sCall);
            return false;
        }
        if (!InternetWriteFile(hFile_.get(), buf.data(), cb, &sent) || sent != cb) {
            RecordError(GetLastError(), sCall);
            return false;
        }
        return true;
    };
    bool ok = true;
    while (ok && count < whole) {
        const DWORD want = static_cast<DWORD>(std::min<int64_t>(chunkSize, whole - count));
        ok = send(want, "InternetWriteFile");
        if (ok) {
            count += want;
            progress.show(count);
        }
    }
    if (ok && remainder)
        ok = send(remainder, "InternetWriteFile2");
    if (ok) {
        count += remainder;
        observer_->transferProgress(0, count, 0, true);
        observer_->transferProgress(0, 0, count, false);
    }
    hLocal.reset();
    // Closing the handle ends the upload; the server's answer decides.
    HINTERNET h = hFile_.release();
    if (!InternetCloseHandle(h) && ok) {
        RecordError(GetLastError(), "InternetWriteFile");
        ok = false;
    }
    observer_->transferProgress(0, 0, 0, false);
    return ok;
}

cDirList* cFTP::GetDirectoryListing(const std::string& sFilter) {
    listing_.reset();
    // A listing trickled just under the time-out still ends: it has the
    // deadline of a whole copy.
    Watch watch(*this, GetTickCount64() + copyDeadlineMs(0));
    WIN32_FIND_DATAA fd{};
    SetLastError(ERROR_SUCCESS);
    AutoHinternet hFind(FtpFindFirstFileA(hConnection_.get(), sFilter.c_str(), &fd, INTERNET_FLAG_RELOAD | kUncached, 0));
    DWORD err = GetLastError();
    if (cutShort(hFind.get(), err)) {
        RecordError(err, "FtpFindFirstFile");
        return nullptr;
    }
    if (!hFind) {
        if (!isNoSuchFile(err))
            RecordError(err, "FtpFindFirstFile");
        return nullptr;
    }
    cDirList& list = Directory();
    for (;;) {
        const std::string name(fd.cFileName, strnlen(fd.cFileName, sizeof fd.cFileName));
        const int64_t size = static_cast<int64_t>((static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow);
        try {
            list.Add(fd.dwFileAttributes, modFTP::fileTimeToDate(fd.ftCreationTime),
                     modFTP::fileTimeToDate(fd.ftLastAccessTime), modFTP::fileTimeToDate(fd.ftLastWriteTime), size,
                     name);
        } catch (const std::invalid_argument&) {
            // A name listed twice: the first entry stands.
        }
        std::memset(fd.cFileName, 0, sizeof fd.cFileName);
        if (!InternetFindNextFileA(hFind.get(), &fd)) {
            err = GetLastError();
            if (err == ERROR_NO_MORE_FILES)
                return &list;
            RecordError(err, "InternetFindNextFile");
            return nullptr;
        }
    }
}

cDirList& cFTP::Directory() {
    if (!listing_)
        listing_ = std::make_unique<cDirList>();
    return *listing_;
}

void cFTP::keepFailure(DWORD dwError) {
    lastReply_ = lastResponse();
    lastCode_ = dwError;
}

void cFTP::forgetFailure() {
    lastReply_.clear();
    lastCode_ = 0;
}

void cFTP::RecordError(DWORD lError, const char* sCall) {
    keepFailure(lError);
    if (lError == ERROR_INTERNET_EXTENDED_ERROR) {
        // The server's own words say more than the code.
        lastError_ = lastResponse();
        return;
    }
    std::wstring msg(errorBufferSize, L'\0');
    const DWORD len = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE, GetModuleHandleA("wininet.dll"), lError, 0,
                                     msg.data(), formatLimit, nullptr);
    msg.resize(len);
    lastError_ =
        std::string(sCall) + " error code: " + std::to_string(lError) + " Message: " + Text::utf8(msg);
}
