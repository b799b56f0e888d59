// One FTP session over WinINet: the connection, the remote directory, sizes,
// listings, and file copies either whole or block by block with progress,
// pause and cancel. No member lets an error escape; results and the last
// error text report failures.
#pragma once
#include <windows.h>
#include <wininet.h>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "base/Handles.h"
#include "ftp/ReceivedBytes.h"
#include "ftp/TransferObserver.h"
#include "ftp/cDirList.h"

class cFTP {
public:
    cFTP();
    ~cFTP();
    cFTP(const cFTP&) = delete;
    cFTP& operator=(const cFTP&) = delete;

    // Connect, send and receive time-out of every new instance, and the
    // longest any call may wait without progress; tests shorten it.
    static inline DWORD timeOutMs = 30000;
    // The least time a whole copy is given, however small; tests shorten it.
    static inline ULONGLONG copyFloorMs = 60000;

    bool OpenConnection();
    void CloseConnection();
    void SetModePassive() { connectionFlags_ = INTERNET_FLAG_PASSIVE; }
    void SetModeActive() { connectionFlags_ = 0; }
    void SetTransferBinary() { transferType_ = FTP_TRANSFER_TYPE_BINARY; }
    void SetTransferASCII() { transferType_ = FTP_TRANSFER_TYPE_ASCII; }

    bool SetFTPDirectory(const std::string& sDir);
    std::string GetFTPDirectory();
    // The whole size of a remote file; -1 when there is no such file (however
    // the server says so), -2 for any other failure.
    int64_t GetFTPFileSize(const std::string& sFile);
    bool checkServerFile(const std::string& sWhich);

    bool SimpleFTPGetFile(const std::string& sLocal, const std::string& sRemote);
    // A copy streamed into sLocal without a size query first. It ends as
    // TooLarge at the first byte past llMaxBytes, and as Failed once it has
    // run longer than copyDeadlineMs of what has arrived or without the
    // server's completion reply.
    enum class Copy { Done, Failed, TooLarge };
    Copy FTPCopyBounded(const std::string& sLocal, const std::string& sRemote, int64_t llMaxBytes);
    // The greater of copyFloorMs and the bytes at 16 KB/s.
    static ULONGLONG copyDeadlineMs(int64_t llBytes);
    bool SimpleFTPPutFile(const std::string& sLocal, const std::string& sRemote);
    // With bResume, a local file that holds the start of the remote one is
    // continued from its end (REST), once its last bytes still match the
    // server's; otherwise, and on a server without REST, it is written anew.
    bool FTPDownloadFile(std::string sLocal, std::string sRemote, bool bResume = false);
    // Trims both names in place.
    bool FTPUploadFile(std::string& sLocal, std::string& sRemote);

    // The listing of sFilter, or null for "no list" (nothing matched or failure).
    cDirList* GetDirectoryListing(const std::string& sFilter);
    cDirList& Directory();

    std::string GetLastErrorMessage() const { return lastError_; }
    // What the server last said, and the platform's error code, when the last
    // connection, look-up or transfer failed: for the log. Empty and 0
    // after one that worked.
    const std::string& LastReply() const { return lastReply_; }
    DWORD LastErrorCode() const { return lastCode_; }

    // How the last FTPDownloadFile ended. Lost is what another try may get
    // past: the data dropped or stalled, 421/425/426, the session gone.
    // WriteFailed is the local disk's doing (its error in LastWriteError).
    enum class Outcome { Done, Failed, Cancelled, Lost, WriteFailed };
    Outcome LastOutcome() const { return outcome_; }
    DWORD LastWriteError() const { return writeError_; }
    // A pause held the last download: a connection lost then is the pause's
    // doing, not the network's.
    bool LastHeldByPause() const { return heldByPause_; }
    // NOOP: true while the server still answers on this session.
    bool CheckSession();
    // Sends one command; the server's reply, or "" when none came.
    std::string Reply(const std::string& sCommand);
    // The llCount bytes of sRemote from llFrom on (REST), exactly: a short or
    // longer file, a refused REST, a stall, the copy deadline or no completion
    // reply gives false. Without bToEnd the file may go on: the transfer is
    // ended once llCount bytes are in.
    bool ReadFrom(const std::string& sRemote, int64_t llFrom, int64_t llCount, std::string& sData,
                  bool bToEnd = true);

    // Ends whatever the session waits for, from any thread: the call in
    // progress fails at once, and the session is done.
    void Abort();

    // Marks one call that may wait on the server, for its scope: once it
    // has made no progress for timeOutMs, or its deadline (a GetTickCount64
    // time, 0 for none) has passed, the session's connections are cut.
    class Watch {
    public:
        // probe, when given, tells progress the caller cannot (it runs on
        // the watchdog's thread): a change in what it returns is progress.
        explicit Watch(cFTP& ftp, ULONGLONG deadlineTick = 0, std::function<int64_t()> probe = {});
        ~Watch();
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;
        void progressed();
        void setDeadline(ULONGLONG deadlineTick);

    private:
        cFTP& ftp_;
    };

    // Who hears of this session's transfers and may pause or cancel them;
    // nobody (and nothing paused) unless set.
    void setObserver(TransferObserver* observer);
    // Who sees the bytes of each FTPDownloadFile; nobody unless set.
    void setReceiver(ReceivedBytes* receiver) { receiver_ = receiver; }

    // State, for callers and tests that want to see it.
    bool connected() const { return hConnection_.valid(); }
    bool internetOpen() const { return hInternet_.valid(); }
    DWORD transferType() const { return transferType_; }
    DWORD connectionFlags() const { return connectionFlags_; }
    HINTERNET connection() const { return hConnection_.get(); }

private:
    void RecordError(DWORD lError, const char* sCall);
    // Keeps the server's reply as it stands, and dwError, for LastReply.
    void keepFailure(DWORD dwError);
    void forgetFailure();
    bool isNoSuchFile(DWORD lError) const;
    // llFrom: bytes already in hLocal, counted as received.
    Outcome receiveBlocks(HANDLE hLocal, int64_t llSize, int64_t llFrom);
    bool RestartAt(int64_t llOffset);
    // Closes hFile_; true when the server said the transfer completed.
    bool closeTransfer();
    int64_t joinPoint(const std::string& sLocal, const std::string& sRemote, int64_t llSize);
    // The first llBytes of hLocal to the receiver, as a resumed download
    // begins; false when they cannot be read.
    bool replayToReceiver(HANDLE hLocal, int64_t llBytes);
    // Shuts down the sockets this session connected.
    void cutConnections();
    class Watchdog;
    Outcome openFailure() const;

    // Destroyed in reverse order: the file, the connection, then the session.
    AutoHinternet hInternet_;
    AutoHinternet hConnection_;
    AutoHinternet hFile_;
    std::wstring cacheCopy_;  // the Internet cache's copy of what hFile_ reads, to delete
    void openRemote(const std::string& sRemote, DWORD dwFlags);
    void dropCacheCopy();
    DWORD transferType_ = FTP_TRANSFER_TYPE_UNKNOWN;
    DWORD connectionFlags_ = 0;
    std::string lastError_;
    std::string lastReply_;
    DWORD lastCode_ = 0;
    std::unique_ptr<cDirList> listing_;
    Outcome outcome_ = Outcome::Done;
    DWORD writeError_ = 0;
    bool heldByPause_ = false;
    TransferObserver* observer_ = nullptr;
    ReceivedBytes* receiver_ = nullptr;
    std::atomic<bool> aborted_{false};
    std::mutex socketsLock_;
    bool sessionBegun_ = false;
    std::set<UINT_PTR> before_;  // connected before the session began
    std::unique_ptr<Watchdog> watchdog_;
};
