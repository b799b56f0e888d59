#include <winsock2.h>

#include "ftp/cFTP.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "app/ModCommon.h"
#include "ftp/ReadThread.h"
#include "ftp/modFTP.h"
#include "text/Text.h"

namespace {

constexpr DWORD blockSize = 255;
// 1028 whole blocks (about 256 KiB): one WinINet read moves what the block
// layout would take 1028 reads for, and no block straddles two reads.
constexpr DWORD chunkSize = 1028 * blockSize;
constexpr DWORD errorBufferSize = 2048;
constexpr DWORD formatLimit = 256;
constexpr ULONGLONG pumpIntervalMs = 100;
constexpr double readTargetMs = 50;
constexpr DWORD watchdogTickMs = 250;
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
    const std::string reply = lastResponse();
    if (reply.rfind("213 ", 0) != 0)
        return -1;
    return std::strtoll(reply.c_str() + 4, nullptr, 10);
}

// Wine's FTP reads wait on the data socket with no time-out at all (Windows
// honours the receive time-out), and nothing cancels them, so a stalled
// server would hold the only user-interface thread forever. Shutting the data
// socket down and cancelling its pending receive ends the read with an error. The data sockets are this
// process's stream sockets connected to an FTP server (a host that a control
// connection on controlPort leads to) on any other port.
void shutDownDataSockets(uint16_t controlPort) {
    constexpr UINT_PTR lastCandidate = 0x4000;  // socket handles are small handle values
    struct Peer {
        SOCKET s;
        sockaddr_in addr;
    };
    std::vector<Peer> peers;
    for (UINT_PTR h = 4; h <= lastCandidate; h += 4) {
        int type = 0, len = sizeof type;
        if (getsockopt(static_cast<SOCKET>(h), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &len) != 0 ||
            type != SOCK_STREAM)
            continue;
        Peer p{static_cast<SOCKET>(h), {}};
        int alen = sizeof p.addr;
        if (getpeername(p.s, reinterpret_cast<sockaddr*>(&p.addr), &alen) == 0 && p.addr.sin_family == AF_INET)
            peers.push_back(p);
    }
    auto isServer = [&](const in_addr& a) {
        return std::any_of(peers.begin(), peers.end(), [&](const Peer& c) {
            return ntohs(c.addr.sin_port) == controlPort && c.addr.sin_addr.s_addr == a.s_addr;
        });
    };
    for (const Peer& p : peers)
        if (ntohs(p.addr.sin_port) != controlPort && isServer(p.addr.sin_addr)) {
            shutdown(p.s, SD_BOTH);
            CancelIoEx(reinterpret_cast<HANDLE>(p.s), nullptr);
        }
}

// The port the session's control connection uses.
uint16_t sessionControlPort() { return modFTP::ftpPort ? modFTP::ftpPort : INTERNET_DEFAULT_FTP_PORT; }

// While a blocking call runs, this watchdog ends it once it has made no
// progress for cFTP::timeOutMs.
class StallWatchdog {
public:
    // probe, when given, tells progress the watchdog cannot see otherwise
    // (it is called on the watchdog's thread); progress is then bytes moved,
    // not calls made, so a trickle of short reads is no proof of life.
    explicit StallWatchdog(std::function<int64_t()> probe = nullptr)
        : probe_(std::move(probe)),
          controlPort_(sessionControlPort()),
          stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          since_(GetTickCount64()) {
        thread_.reset(CreateThread(nullptr, 0, run, this, 0, nullptr));
    }
    ~StallWatchdog() {
        SetEvent(stop_.get());
        if (thread_)
            WaitForSingleObject(thread_.get(), INFINITE);
    }
    // Marks the span of one blocking call.
    class Watch {
    public:
        explicit Watch(StallWatchdog& w) : w_(w) {
            if (!w_.probe_)
                w_.since_ = GetTickCount64();
            w_.armed_ = true;
        }
        ~Watch() { w_.armed_ = false; }

    private:
        StallWatchdog& w_;
    };

private:
    static DWORD WINAPI run(void* p) {
        auto* w = static_cast<StallWatchdog*>(p);
        int64_t seen = -1;
        while (WaitForSingleObject(w->stop_.get(), watchdogTickMs) == WAIT_TIMEOUT) {
            // Time spent between blocking calls (messages, a pause) is no stall.
            if (!w->armed_)
                w->since_ = GetTickCount64();
            if (w->probe_) {
                const int64_t now = w->probe_();
                if (now != seen)
                    w->since_ = GetTickCount64();
                seen = now;
            }
            if (w->armed_ && GetTickCount64() - w->since_ >= cFTP::timeOutMs) {
                shutDownDataSockets(w->controlPort_);
                w->since_ = GetTickCount64();
            }
        }
        return 0;
    }
    std::function<int64_t()> probe_;
    uint16_t controlPort_;
    AutoHandle stop_, thread_;
    std::atomic<bool> armed_{false};
    std::atomic<ULONGLONG> since_{0};
};

// Ends a wait on this session's data connection: the read in flight fails soon.
void cutDataConnection() {
    shutDownDataSockets(sessionControlPort());
}

// Reads exactly cb bytes unless the data ends or fails first; a short count
// is a failure, so no unread bytes can reach the file.
bool readFully(StallWatchdog& watchdog, HINTERNET hFile, char* buf, DWORD cb) {
    DWORD got = 0;
    while (got < cb) {
        DWORD n = 0;
        StallWatchdog::Watch watch(watchdog);
        if (!InternetReadFile(hFile, buf + got, cb - got, &n) || n == 0)
            return false;
        got += n;
    }
    return true;
}

// Hands a read of the delivery to its thread; Cancel ends it at once, however
// long the server would keep it waiting.
bool readOffThread(ReadThread& reader, TransferObserver& observer, const std::function<bool()>& read,
                   const std::function<void()>& beforeMessages = {},
                   const std::function<void()>& afterMessages = {}) {
    return reader.run(
        read,
        [&] {
            if (afterMessages)
                afterMessages();
            return observer.cancelAsked();
        },
        cutDataConnection, beforeMessages);
}

// An exchange on the control connection (a listing, opening or closing the
// data) is short and bounded by the session's time-outs: it runs on the
// transfer's thread too, but only messages sent from outside are answered
// meanwhile, so no click or timer of this program can come between.
void exchangeOffThread(ReadThread& reader, const std::function<void()>& exchange) {
    reader.runAnsweringOnly(exchange);
}

// How much of the whole blocks to ask for next: what has already arrived,
// so that a read returns at once however slow the link (the platform's
// reads wait until the whole request is there), or what the link brings in
// readTargetMs at its measured rate, whichever is more; at least one block.
DWORD nextReadSize(StallWatchdog& watchdog, HINTERNET hFile, int64_t llLeft, double fBytesPerMs) {
    DWORD available = 0;
    {
        StallWatchdog::Watch watch(watchdog);
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
bool atEndOfData(StallWatchdog& watchdog, HINTERNET hFile) {
    char extra;
    DWORD n = 0;
    StallWatchdog::Watch watch(watchdog);
    return InternetReadFile(hFile, &extra, 1, &n) && n == 0;
}

// Lets window messages run when input is waiting or a few times a second,
// instead of after every block: each pump costs more than a block's data.
class MessagePump {
public:
    bool due() const {
        return HIWORD(GetQueueStatus(QS_INPUT | QS_POSTMESSAGE)) || GetTickCount64() - last_ >= pumpIntervalMs;
    }
    void now() {
        ModCommon::doEvents();
        last_ = GetTickCount64();
    }

private:
    ULONGLONG last_ = GetTickCount64();
};

// One transfer on the wire at a time, whatever session carries it.
struct BusyFlag {
    BusyFlag() { modFTP::transferBusy = true; }
    ~BusyFlag() { modFTP::transferBusy = false; }
    BusyFlag(const BusyFlag&) = delete;
    BusyFlag& operator=(const BusyFlag&) = delete;
};

TransferObserver nobody;

// Calls the progress display only when its percent text would change; the
// callers do so just before messages run, which is when anything is painted.
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

}  // namespace

cFTP::cFTP() {
    setObserver(nullptr);
    hInternet_.reset(InternetOpenA(agentName, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!hInternet_) {
        ModCommon::messageBox("An Internet connection could not be found.", MB_OK);
        return;
    }
    DWORD ms = timeOutMs;
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
                         INTERNET_OPTION_DATA_SEND_TIMEOUT, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT})
        InternetSetOptionA(hInternet_.get(), option, &ms, sizeof ms);
}

cFTP::~cFTP() = default;

void cFTP::setObserver(TransferObserver* observer) { observer_ = observer ? observer : &nobody; }

bool cFTP::OpenConnection() {
    if (modFTP::transferBusy)
        return false;
    hConnection_.reset();
    const INTERNET_PORT port = modFTP::ftpPort ? modFTP::ftpPort : INTERNET_INVALID_PORT_NUMBER;
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
    WIN32_FIND_DATAA fd{};
    SetLastError(ERROR_SUCCESS);
    AutoHinternet hFind(FtpFindFirstFileA(hConnection_.get(), sFile.c_str(), &fd, 0, 0));
    const DWORD err = GetLastError();
    if (hFind)
        return static_cast<int64_t>((static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow);
    if (isNoSuchFile(err))
        return hasBlankName(sFile) ? sizeByCommand(hConnection_.get(), sFile) : -1;
    RecordError(err, "FtpFindFirstFile");
    return -2;
}

bool cFTP::checkServerFile(const std::string& sWhich) {
    WIN32_FIND_DATAA fd{};
    AutoHinternet hFind(FtpFindFirstFileA(hConnection_.get(), sWhich.c_str(), &fd, 0, 0));
    if (hFind)
        return true;
    return hasBlankName(sWhich) && hConnection_ && sizeByCommand(hConnection_.get(), sWhich) >= 0;
}

bool cFTP::SimpleFTPGetFile(const std::string& sLocal, const std::string& sRemote) {
    StallWatchdog watchdog([sLocal] { return ModCommon::fileSystem.FileSize(sLocal); });
    StallWatchdog::Watch watch(watchdog);
    // The local path goes wide; the server's name goes through the code page
    // both ways, as the ...A call would send it: the server gets its own bytes.
    const BOOL ok =
        FtpGetFileW(hConnection_.get(), Text::fromCodePage(sRemote).c_str(), Text::wide(sLocal).c_str(),
                    FALSE, FILE_ATTRIBUTE_NORMAL, transferType_ | INTERNET_FLAG_RELOAD, 0);
    ModCommon::doEvents();
    return ok;
}

ULONGLONG cFTP::copyDeadlineMs(int64_t llBytes) {
    constexpr ULONGLONG floorMs = 60000;
    constexpr int64_t slowestBytesPerSecond = 16 * 1024;
    return std::max<ULONGLONG>(
        floorMs, static_cast<ULONGLONG>(std::max<int64_t>(llBytes, 0)) * 1000 / slowestBytesPerSecond);
}

cFTP::Copy cFTP::FTPCopyBounded(const std::string& sLocal, const std::string& sRemote, int64_t llMaxBytes) {
    const ULONGLONG start = GetTickCount64();
    std::atomic<int64_t> count{0};
    // Growth keeps the stall watchdog content, so a trickle is ended by the
    // deadline, which grows only with what has arrived: a read still waiting
    // then is cut.
    auto overdue = [&] { return GetTickCount64() - start >= copyDeadlineMs(count.load()); };
    StallWatchdog watchdog([&count] { return count.load(); });
    // The platform's calls wait for the server; they run on a thread of their
    // own, so the window answers however slowly the copy comes.
    ReadThread reader;
    exchangeOffThread(reader, [&] {
        StallWatchdog::Watch watch(watchdog);
        hFile_.reset(FtpOpenFileA(hConnection_.get(), sRemote.c_str(), GENERIC_READ,
                                  transferType_ | INTERNET_FLAG_RELOAD, 0));
        if (!hFile_)
            RecordError(GetLastError(), "FtpOpenFile");
    });
    if (!hFile_)
        return Copy::Failed;
    AutoHandle hLocal(CreateFileW(Text::wide(sLocal).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<char> buf(chunkSize);
    Copy result = Copy::Failed;
    while (hLocal && !overdue()) {
        DWORD n = 0;
        const bool read = reader.run(
            [&] {
                // What has arrived, so the read returns at once, but never
                // past the first byte over the cap: no more than that is ever read.
                StallWatchdog::Watch watch(watchdog);
                DWORD available = 0;
                if (!InternetQueryDataAvailable(hFile_.get(), &available, 0, 0) &&
                    GetLastError() == ERROR_IO_PENDING)
                    InternetQueryDataAvailable(hFile_.get(), &available, 0, 0);
                const DWORD want = static_cast<DWORD>(
                    std::clamp<int64_t>(std::min<int64_t>(available, llMaxBytes + 1 - count), 1, chunkSize));
                return InternetReadFile(hFile_.get(), buf.data(), want, &n) != FALSE;
            },
            overdue, cutDataConnection);
        if (!read)
            break;
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
    }
    hLocal.reset();
    // Closing reads the server's last word on the transfer: a data
    // connection cut short ends like a whole one, and only "426" tells. The
    // platform keeps that word for the thread that closed.
    bool closed = false;
    std::string reply;
    exchangeOffThread(reader, [&] {
        closed = InternetCloseHandle(hFile_.release());
        reply = lastResponse();
    });
    if (result == Copy::Done && (!closed || reply.rfind('4', 0) == 0 || reply.rfind('5', 0) == 0))
        result = Copy::Failed;
    return result;
}

bool cFTP::SimpleFTPPutFile(const std::string& sLocal, const std::string& sRemote) {
    return FtpPutFileW(hConnection_.get(), Text::wide(sLocal).c_str(), Text::fromCodePage(sRemote).c_str(),
                       transferType_, 0);
}

cFTP::Outcome cFTP::receiveBlocks(ReadThread& reader, HANDLE hLocal, int64_t llSize, int64_t llFrom) {
    using namespace ModCommon;
    const int64_t whole = llSize - llSize % blockSize;
    std::vector<char> buf(chunkSize);
    MessagePump pump;
    ProgressSteps progress(llSize, observer_);
    std::atomic<int64_t> count{llFrom};
    StallWatchdog watchdog([&count] { return count.load(); });
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
        }
    };
    // Pause and cancel only change while messages run, so checking them
    // after each pump is checking them before every block.
    while (count < whole) {
        pauseIfAsked();
        if (observer_->cancelAsked())
            return Outcome::Cancelled;
        DWORD want = 0;
        const bool got = readOffThread(
            reader, *observer_,
            [&] {
                want = nextReadSize(watchdog, hFile_.get(), whole - count, bytesPerMs);
                return readFully(watchdog, hFile_.get(), buf.data(), want);
            },
            [&] { progress.show(count); },
            // A pause holds at once, not after a read the link may take a
            // while to fill: the read goes on meanwhile, and what it brings
            // is written, in order, once the hold ends.
            pauseIfAsked);
        if (!got)
            return observer_->cancelAsked() ? Outcome::Cancelled : Outcome::Lost;
        if (!writeAll(hLocal, buf.data(), want)) {
            writeError_ = GetLastError();
            return Outcome::WriteFailed;
        }
        count += want;
        if (pump.due()) {
            // The rate between two pumps; a pause in between only lowers it.
            const ULONGLONG now = GetTickCount64();
            bytesPerMs = static_cast<double>(count - windowCount) /
                         static_cast<double>(std::max<ULONGLONG>(now - windowStart, 1));
            progress.show(count);
            pump.now();
            windowCount = count;
            windowStart = now;
        }
    }
    if (whole > llFrom) {
        progress.show(count);
        pump.now();
    }
    // A cancel during the last whole block stops before the short last block.
    pauseIfAsked();
    if (observer_->cancelAsked())
        return Outcome::Cancelled;
    const DWORD remainder = static_cast<DWORD>(llSize - count);
    if (remainder && !readOffThread(reader, *observer_,
                                    [&] { return readFully(watchdog, hFile_.get(), buf.data(), remainder); }))
        return observer_->cancelAsked() ? Outcome::Cancelled : Outcome::Lost;
    if (remainder && !writeAll(hLocal, buf.data(), remainder)) {
        writeError_ = GetLastError();
        return Outcome::WriteFailed;
    }
    count += remainder;
    // More data than the listed size is as wrong as less.
    if (!readOffThread(reader, *observer_, [&] { return atEndOfData(watchdog, hFile_.get()); }))
        return observer_->cancelAsked() ? Outcome::Cancelled : Outcome::Failed;
    observer_->transferProgress(0, count, 0, true);
    observer_->transferProgress(0, 0, count, false);
    return Outcome::Done;
}

bool cFTP::FTPDownloadFile(std::string sLocal, std::string sRemote, bool bResume) {
    using namespace ModCommon;
    outcome_ = Outcome::Failed;
    heldByPause_ = false;
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
    ReadThread reader;
    int64_t size = -2;
    exchangeOffThread(reader,
                      [&] { size = trimmed ? GetFTPFileSize(sRemote) : (checkServerFile(sRemote) ? 0 : -1); });
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
        exchangeOffThread(reader, [&] { size = GetFTPFileSize(sRemote); });
    observer_->transferProgress(0, size, 0, true);
    if (size < 1) {
        observer_->transferProgress(0, 0, 0, false);
        return false;
    }
    const int64_t from = bResume ? joinPoint(reader, sLocal, sRemote, size) : 0;
    // The server's answer is the opening thread's to read.
    Outcome refused = Outcome::Lost;
    if (from == 0)
        exchangeOffThread(reader, [&] {
            hFile_.reset(FtpOpenFileA(hConnection_.get(), sRemote.c_str(), GENERIC_READ, transferType_, 0));
            if (!hFile_)
                refused = openFailure();
        });
    if (!hFile_) {
        outcome_ = observer_->cancelAsked() ? Outcome::Cancelled : refused;
        observer_->transferProgress(0, 0, 0, false);
        return false;
    }
    observer_->statusText(2, "");
    // Cut at the join (or to nothing): an older, longer file must not keep its tail.
    AutoHandle hLocal(CreateFileW(Text::wide(sLocal).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER at{};
    at.QuadPart = from;
    if (hLocal && SetFilePointerEx(hLocal.get(), at, nullptr, FILE_BEGIN) && SetEndOfFile(hLocal.get()))
        outcome_ = receiveBlocks(reader, hLocal.get(), size, from);
    else {
        writeError_ = GetLastError();
        outcome_ = Outcome::WriteFailed;
    }
    hLocal.reset();
    // Closing waits for the server's last word on the transfer.
    exchangeOffThread(reader, [&] { hFile_.reset(); });
    observer_->transferProgress(0, 0, 0, false);
    if (outcome_ == Outcome::Done && observer_->cancelAsked())
        outcome_ = Outcome::Cancelled;
    return outcome_ == Outcome::Done;
}

bool cFTP::CheckSession() {
    return hConnection_ &&
           FtpCommandA(hConnection_.get(), FALSE, FTP_TRANSFER_TYPE_BINARY, "NOOP", 0, nullptr) &&
           lastResponse().rfind("200", 0) == 0;
}

std::string cFTP::Reply(const std::string& sCommand) {
    if (!hConnection_)
        return "";
    // A refusal comes back as the extended error; any other failure leaves
    // the reply to an earlier command in place, which must not be taken.
    if (!FtpCommandA(hConnection_.get(), FALSE, FTP_TRANSFER_TYPE_BINARY, sCommand.c_str(), 0, nullptr) &&
        GetLastError() != ERROR_INTERNET_EXTENDED_ERROR)
        return "";
    return lastResponse();
}

bool cFTP::ReadFrom(const std::string& sRemote, int64_t llFrom, int64_t llCount, std::string& sData) {
    if (llCount <= 0 || llCount > MAXDWORD || !hConnection_)
        return false;
    // The same deadline as a whole copy of that many bytes: a trickle that
    // keeps the stall watchdog content still ends.
    const ULONGLONG start = GetTickCount64();
    auto overdue = [&] { return GetTickCount64() - start >= copyDeadlineMs(llCount); };
    StallWatchdog watchdog;
    ReadThread reader;
    exchangeOffThread(reader, [&] {
        if (RestartAt(llFrom))
            hFile_.reset(
                FtpOpenFileA(hConnection_.get(), sRemote.c_str(), GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0));
    });
    if (!hFile_)
        return false;
    sData.assign(static_cast<size_t>(llCount), '\0');
    const bool ok = reader.run(
        [&] {
            return readFully(watchdog, hFile_.get(), sData.data(), static_cast<DWORD>(llCount)) &&
                   atEndOfData(watchdog, hFile_.get());
        },
        overdue, cutDataConnection);
    exchangeOffThread(reader, [&] { hFile_.reset(); });
    return ok;
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
int64_t cFTP::joinPoint(ReadThread& reader, const std::string& sLocal, const std::string& sRemote,
                        int64_t llSize) {
    // A missing file (-1) has nothing to join either.
    const int64_t have = ModCommon::fileSystem.FileSize(sLocal);
    if (have <= 0 || have > llSize)
        return 0;
    const int64_t checkFrom = std::max<int64_t>(0, have - joinCheckSize);
    int64_t refused = -1;
    exchangeOffThread(reader, [&] {
        if (checkFrom > 0 && !RestartAt(checkFrom))
            refused = CheckSession() ? 0 : -1;
        else
            hFile_.reset(FtpOpenFileA(hConnection_.get(), sRemote.c_str(), GENERIC_READ, transferType_, 0));
    });
    if (!hFile_)
        return refused;
    const DWORD cb = static_cast<DWORD>(have - checkFrom);
    std::vector<char> remote(cb), local(cb);
    AutoHandle hLocal(CreateFileW(Text::wide(sLocal).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER at{};
    at.QuadPart = checkFrom;
    DWORD got = 0;
    const bool localRead = hLocal && SetFilePointerEx(hLocal.get(), at, nullptr, FILE_BEGIN) &&
                           ReadFile(hLocal.get(), local.data(), cb, &got, nullptr) && got == cb;
    StallWatchdog watchdog;
    const bool remoteRead =
        readOffThread(reader, *observer_, [&] { return readFully(watchdog, hFile_.get(), remote.data(), cb); });
    if (remoteRead && localRead && remote == local)
        return have;
    exchangeOffThread(reader, [&] { hFile_.reset(); });
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
    MessagePump pump;
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
            if (pump.due()) {
                progress.show(count);
                pump.now();
            }
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
    WIN32_FIND_DATAA fd{};
    SetLastError(ERROR_SUCCESS);
    AutoHinternet hFind(FtpFindFirstFileA(hConnection_.get(), sFilter.c_str(), &fd, 0, 0));
    DWORD err = GetLastError();
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

void cFTP::RecordError(DWORD lError, const char* sCall) {
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
