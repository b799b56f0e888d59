// One FTP session over WinINet: the connection, the remote directory, sizes,
// listings, and file copies either whole or block by block with progress,
// pause and cancel. No member lets an error escape; results and the last
// error text report failures.
#pragma once
#include <windows.h>
#include <wininet.h>
#include <cstdint>
#include <memory>
#include <string>

#include "app/Handles.h"
#include "ftp/cDirList.h"

class cFTP {
public:
    cFTP();
    ~cFTP();
    cFTP(const cFTP&) = delete;
    cFTP& operator=(const cFTP&) = delete;

    // Connect, send and receive time-out of every new instance. Without one a
    // stalled server would block the only thread forever; tests shorten it.
    static inline DWORD timeOutMs = 30000;

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
    bool SimpleFTPPutFile(const std::string& sLocal, const std::string& sRemote);
    bool FTPDownloadFile(std::string sLocal, std::string sRemote);
    // Trims both names in place.
    bool FTPUploadFile(std::string& sLocal, std::string& sRemote);

    // The listing of sFilter, or null for "no list" (nothing matched or failure).
    cDirList* GetDirectoryListing(const std::string& sFilter);
    cDirList& Directory();

    std::string GetLastErrorMessage() const { return lastError_; }

    // State, for callers and tests that want to see it.
    bool connected() const { return hConnection_.valid(); }
    bool internetOpen() const { return hInternet_.valid(); }
    DWORD transferType() const { return transferType_; }
    DWORD connectionFlags() const { return connectionFlags_; }
    HINTERNET connection() const { return hConnection_.get(); }

private:
    enum class Outcome { Done, Failed, Cancelled };
    void RecordError(DWORD lError, const char* sCall);
    bool isNoSuchFile(DWORD lError) const;
    // llStart: bytes already in hLocal, counted as received.
    Outcome receiveBlocks(HANDLE hLocal, int64_t llSize, int64_t llStart = 0);

    // Destroyed in reverse order: the file, the connection, then the session.
    AutoHinternet hInternet_;
    AutoHinternet hConnection_;
    AutoHinternet hFile_;
    DWORD transferType_ = FTP_TRANSFER_TYPE_UNKNOWN;
    DWORD connectionFlags_ = 0;
    std::string lastError_;
    std::unique_ptr<cDirList> listing_;
};
