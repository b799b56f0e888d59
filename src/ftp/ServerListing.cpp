#include <winsock2.h>
#include <ws2tcpip.h>

#include "ftp/ServerListing.h"

#include <wininet.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include "base/Handles.h"
#include "base/Log.h"
#include "base/ModCommon.h"
#include "ftp/cDirList.h"
#include "ftp/cFTP.h"
#include "ftp/modFTP.h"

namespace {

constexpr int replyNoSuchFile = 550;
constexpr int replyNotAFolder = 501;  // MLSD of a path that is no folder (RFC 3659)
constexpr size_t readChunk = 64 * 1024;
// A server past these bounds is broken or hostile, not merely large.
constexpr size_t listingLimit = 16 << 20;
constexpr size_t replyLineLimit = 1 << 20;
constexpr int replyLinesLimit = 1000;
constexpr int64_t unknownSize = -3;     // listed, size not asked yet

bool isPreliminary(int iCode) {
    return iCode >= 100 && iCode < 200;
}
bool isDone(int iCode) {
    return iCode >= 200 && iCode < 300;
}
// "Not understood" or "not implemented": the server has no such command.
bool isRefusal(int iCode) {
    return iCode == 500 || iCode == 502 || iCode == 504;
}

int replyCode(const std::string& sReply) {
    if (sReply.size() < 3 || !isdigit(static_cast<unsigned char>(sReply[0])))
        return 0;
    return std::atoi(sReply.substr(0, 3).c_str());
}

std::string afterLastSlash(const std::string& s) {
    return s.substr(s.find_last_of('/') + 1);
}

template <typename Fn>
void forEachLine(const std::string& sText, Fn fn) {
    size_t start = 0;
    while (start < sText.size()) {
        size_t end = sText.find('\n', start);
        if (end == std::string::npos)
            end = sText.size();
        size_t stop = end;
        if (stop > start && sText[stop - 1] == '\r')
            --stop;
        if (stop > start)
            fn(sText.substr(start, stop - start));
        start = end + 1;
    }
}

std::string lastResponse() {
    DWORD dwError = 0, len = 0;
    InternetGetLastResponseInfoA(&dwError, nullptr, &len);
    std::string buf(len + 1, '\0');
    if (!InternetGetLastResponseInfoA(&dwError, buf.data(), &len))
        return "";
    return buf.substr(0, buf.find('\0'));
}

}  // namespace

std::map<std::string, int64_t> parseMlsd(const std::string& sText) {
    std::map<std::string, int64_t> files;
    forEachLine(sText, [&](const std::string& line) {
        // Facts end at the first blank (fact values have none); the name
        // is all the rest, blanks included.
        const size_t blank = line.find(' ');
        if (blank == std::string::npos)
            return;
        std::string facts = line.substr(0, blank);
        for (char& c : facts) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        const std::string name = afterLastSlash(line.substr(blank + 1));
        if (name.empty() || name == "." || name == "..")
            return;
        int64_t size = -1;
        bool isFile = false;
        size_t start = 0;
        while (start < facts.size()) {
            size_t end = facts.find(';', start);
            if (end == std::string::npos)
                end = facts.size();
            const std::string fact = facts.substr(start, end - start);
            if (fact == "type=file")
                isFile = true;
            else if (fact.rfind("size=", 0) == 0)
                size = std::strtoll(fact.c_str() + 5, nullptr, 10);
            start = end + 1;
        }
        files[name] = isFile && size >= 0 ? size : -1;
    });
    return files;
}

std::set<std::string> parseNlst(const std::string& sText) {
    std::set<std::string> names;
    forEachLine(sText, [&](const std::string& line) {
        const std::string name = afterLastSlash(line);
        if (!name.empty() && name != "." && name != "..")
            names.insert(name);
    });
    return names;
}

// One way of sending commands that open a data connection: WinINet's own
// where the platform has it, otherwise a control connection of our own.
class FolderSizes::Session {
public:
    virtual ~Session() = default;
    // Runs a listing command; returns the code of the server's last word on
    // it (2xx: sData holds the listing) or 0 when the connection failed.
    virtual int list(const std::string& sCommand, std::string& sData) = 0;
    // A command without data; returns the reply code (0: connection failed).
    virtual int command(const std::string& sCommand, std::string& sReply) = 0;
    // Several such commands; one reply text each, "" where none came.
    virtual std::vector<std::string> commands(const std::vector<std::string>& lines) {
        std::vector<std::string> replies(lines.size());
        for (size_t i = 0; i < lines.size(); ++i) command(lines[i], replies[i]);
        return replies;
    }
    // True once a time-out or a malformed reply has ended the connection.
    virtual bool broken() const { return false; }
};

namespace {

class PlatformSession : public FolderSizes::Session {
public:
    explicit PlatformSession(cFTP& ftp) : ftp_(ftp), hConnection_(ftp.connection()) {}

    // False when the platform cannot run a command with a data connection
    // (Wine's FtpCommand refuses it without sending anything). A listing
    // trickled just under the time-out still ends: it has a copy's deadline.
    bool supported(const std::string& sCommand, int& iCode, std::string& sData) {
        cFTP::Watch watch(ftp_, GetTickCount64() + cFTP::copyDeadlineMs(0));
        HINTERNET h = nullptr;
        SetLastError(ERROR_SUCCESS);
        if (!FtpCommandA(hConnection_, TRUE, FTP_TRANSFER_TYPE_BINARY, sCommand.c_str(), 0, &h)) {
            if (GetLastError() == ERROR_SUCCESS)
                return false;
            iCode = replyCode(lastResponse());
            return true;
        }
        iCode = readAll(h, sData, watch);
        return true;
    }

    int list(const std::string& sCommand, std::string& sData) override {
        int code = 0;
        supported(sCommand, code, sData);
        return code;
    }

    int command(const std::string& sCommand, std::string& sReply) override {
        cFTP::Watch watch(ftp_);
        const BOOL ok =
            FtpCommandA(hConnection_, FALSE, FTP_TRANSFER_TYPE_BINARY, sCommand.c_str(), 0, nullptr);
        sReply = lastResponse();
        return ok || GetLastError() == ERROR_INTERNET_EXTENDED_ERROR ? replyCode(sReply) : 0;
    }

private:
    static int readAll(HINTERNET hData, std::string& sData, cFTP::Watch& watch) {
        AutoHinternet data(hData);
        std::vector<char> buf(readChunk);
        for (;;) {
            DWORD n = 0;
            if (!InternetReadFile(data.get(), buf.data(), static_cast<DWORD>(buf.size()), &n))
                return 0;
            if (n == 0)
                break;
            if (sData.size() + n > listingLimit)
                return 0;
            sData.append(buf.data(), n);
            watch.progressed();
        }
        // Closing the handle reads the server's closing reply: the end of the
        // data says nothing, a listing cut short ends the same way. Without a
        // reply the text is still the command's preliminary one, no 2xx.
        return InternetCloseHandle(data.release()) ? replyCode(lastResponse()) : 0;
    }

    cFTP& ftp_;
    HINTERNET hConnection_;
};

using AutoSocket = Owned<SOCKET, closesocket>;

// A second control connection to the same server and folder, for the
// listings the platform cannot fetch itself.
class SocketSession : public FolderSizes::Session {
public:
    ~SocketSession() override {
        if (control_)
            sendLine("QUIT");
        control_.reset();
        if (started_)
            WSACleanup();
    }

    bool open(const std::string& sDirectory) {
        WSADATA wsa;
        started_ = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
        if (!started_)
            return false;
        const uint16_t port = modFTP::ftpPort ? modFTP::ftpPort : INTERNET_DEFAULT_FTP_PORT;
        addrinfo hints{}, *found = nullptr;
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        if (getaddrinfo(modFTP::ftpHost.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
            return false;
        server_ = *reinterpret_cast<sockaddr_in*>(found->ai_addr);
        freeaddrinfo(found);
        control_.reset(connectTo(server_));
        std::string reply;
        if (!control_ || !isDone(readReply(reply)))
            return false;
        int code = command("USER " + modFTP::ftpUser, reply);
        if (code == 331)
            code = command("PASS " + modFTP::ftpPassword, reply);
        return isDone(code) && isDone(command("TYPE I", reply)) &&
               isDone(command("CWD " + sDirectory, reply));
    }

    int list(const std::string& sCommand, std::string& sData) override {
        std::string reply;
        if (command("PASV", reply) != 227)
            return 0;
        sockaddr_in at = server_;
        if (!passivePort(reply, at.sin_port))
            return 0;
        AutoSocket data(connectTo(at));
        if (!data)
            return 0;
        const int code = command(sCommand, reply);
        if (!isPreliminary(code))
            return code;
        // The listing has the deadline of a whole-file copy of its size, and
        // no gap longer than a command's.
        const ULONGLONG start = GetTickCount64();
        std::vector<char> buf(readChunk);
        for (;;) {
            const int n = receive(data.get(), buf.data(), static_cast<int>(buf.size()),
                                  std::min(start + cFTP::copyDeadlineMs(static_cast<int64_t>(sData.size())),
                                           GetTickCount64() + cFTP::timeOutMs));
            if (n < 0 || sData.size() + n > listingLimit)
                return drop();
            if (n == 0)
                break;
            sData.append(buf.data(), n);
        }
        data.reset();
        return readReply(reply);
    }

    int command(const std::string& sCommand, std::string& sReply) override {
        return sendLine(sCommand) ? readReply(sReply) : 0;
    }

    // Sent in batches without waiting for each reply: one round trip per
    // batch instead of one per command. A batch stays far below what the
    // socket buffers hold, so neither side can block the other.
    // A reply that did not come in time drops the connection (readReply),
    // so a late one can never be taken for the answer to a later command.
    std::vector<std::string> commands(const std::vector<std::string>& lines) override {
        constexpr size_t batch = 64;
        std::vector<std::string> replies(lines.size());
        for (size_t first = 0; first < lines.size(); first += batch) {
            const size_t end = std::min(lines.size(), first + batch);
            std::string text;
            for (size_t i = first; i < end; ++i) text += lines[i] + "\r\n";
            if (!sendText(text))
                return replies;
            for (size_t i = first; i < end; ++i)
                if (!readReply(replies[i]))
                    return replies;
        }
        return replies;
    }

    bool broken() const override { return !control_; }

private:
    int drop() {
        control_.reset();
        pending_.clear();
        return 0;
    }

    // recv that gives up at the deadline (GetTickCount64 time): -1 then.
    static int receive(SOCKET s, char* buf, int len, ULONGLONG deadline) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline || !ready(s, false, static_cast<DWORD>(deadline - now)))
            return -1;
        return recv(s, buf, len, 0);
    }

    static bool ready(SOCKET s, bool forWriting, DWORD ms) {
        fd_set set, failed;
        FD_ZERO(&set);
        FD_ZERO(&failed);
        FD_SET(s, &set);
        FD_SET(s, &failed);
        timeval wait{static_cast<long>(ms / 1000), static_cast<long>(ms % 1000 * 1000)};
        return select(0, forWriting ? nullptr : &set, forWriting ? &set : nullptr, &failed, &wait) > 0 &&
               FD_ISSET(s, &set);
    }

    // A server that stops answering must not hold the only thread: the
    // connect, each send and each reply have cFTP::timeOutMs.
    static SOCKET connectTo(const sockaddr_in& at) {
        AutoSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        if (!s)
            return INVALID_SOCKET;
        const DWORD ms = cFTP::timeOutMs;
        setsockopt(s.get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
        u_long nonBlocking = 1;
        ioctlsocket(s.get(), FIONBIO, &nonBlocking);
        if (connect(s.get(), reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0 &&
            (WSAGetLastError() != WSAEWOULDBLOCK || !ready(s.get(), true, ms)))
            return INVALID_SOCKET;
        int error = 0, len = sizeof error;
        getsockopt(s.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len);
        nonBlocking = 0;
        if (error != 0 || ioctlsocket(s.get(), FIONBIO, &nonBlocking) != 0)
            return INVALID_SOCKET;
        return s.release();
    }

    // "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)". Only the port is
    // taken: the data connection goes to the host the control connection
    // reached, as a server behind an address translator would need.
    static bool passivePort(const std::string& sReply, u_short& port) {
        const size_t open = sReply.find_first_of("(0123456789", 4);
        unsigned h[6];
        if (open == std::string::npos ||
            std::sscanf(sReply.c_str() + open + (sReply[open] == '(' ? 1 : 0), "%u,%u,%u,%u,%u,%u", &h[0],
                        &h[1], &h[2], &h[3], &h[4], &h[5]) != 6 ||
            h[4] > 255 || h[5] > 255)
            return false;
        port = htons(static_cast<u_short>(h[4] * 256 + h[5]));
        return true;
    }

    bool sendLine(const std::string& sLine) { return sendText(sLine + "\r\n"); }

    bool sendText(const std::string& text) {
        size_t sent = 0;
        while (control_ && sent < text.size()) {
            const int n = send(control_.get(), text.data() + sent, static_cast<int>(text.size() - sent), 0);
            if (n <= 0)
                return drop();
            sent += n;
        }
        return control_.valid();
    }

    bool readLine(std::string& sLine, ULONGLONG deadline) {
        size_t end;
        while ((end = pending_.find('\n')) == std::string::npos) {
            char buf[4096];
            const int n = receive(control_.get(), buf, sizeof buf, deadline);
            if (n <= 0 || pending_.size() + n > replyLineLimit)
                return false;
            pending_.append(buf, n);
        }
        sLine = pending_.substr(0, end);
        if (!sLine.empty() && sLine.back() == '\r')
            sLine.pop_back();
        pending_.erase(0, end + 1);
        return true;
    }

    // A reply of one line, or of several from "ddd-" to "ddd "; only its
    // first line is kept, which is all any caller reads. A reply that is
    // late, too long or not shaped so drops the connection: what comes
    // after it could not be told apart from the next reply.
    int readReply(std::string& sReply) {
        const ULONGLONG deadline = GetTickCount64() + cFTP::timeOutMs;
        std::string line;
        if (!control_ || !readLine(line, deadline))
            return drop();
        const int code = replyCode(line);
        if (code < 100 || (line.size() > 3 && line[3] != ' ' && line[3] != '-'))
            return drop();
        sReply = line;
        if (line.size() > 3 && line[3] == '-') {
            const std::string last = line.substr(0, 3) + " ";
            int lines = 1;
            do {
                if (++lines > replyLinesLimit || !readLine(line, deadline))
                    return drop();
            } while (line.rfind(last, 0) != 0);
        }
        return code;
    }

    AutoSocket control_;
    sockaddr_in server_{};
    std::string pending_;
    bool started_ = false;
};

}  // namespace

struct FolderSizes::Listing {
    Way way = Way::None;
    bool missing = false;                  // the server has no such folder
    std::map<std::string, int64_t> files;  // Nlst: sizes are asked for when needed
};

FolderSizes::FolderSizes(cFTP& ftp) : ftp_(ftp) {}

FolderSizes::~FolderSizes() = default;

FolderSizes::Way FolderSizes::wayOf(const std::string& sFolder) const {
    auto found = cache_.find(sFolder);
    return found == cache_.end() ? Way::None : found->second.way;
}

int64_t FolderSizes::sizeOf(const std::string& sFolder, const std::string& sName) {
    try {
        return listedSize(sFolder, sName);
    } catch (const std::bad_alloc&) {
        // A listing too large for memory: this file is asked for by itself.
        session_.reset();
        cache_.erase(sFolder);
        return ftp_.GetFTPFileSize(sFolder + "/" + sName);
    }
}

int64_t FolderSizes::listedSize(const std::string& sFolder, const std::string& sName) {
    const Listing& listing = listingOf(sFolder);
    if (listing.missing)
        return -1;
    auto it = listing.files.find(sName);
    switch (listing.way) {
        case Way::Mlsd:
            if (it != listing.files.end())
                return it->second;
            // Some servers leave names with a leading dot out of their listings.
            return sName[0] == '.' ? askSize(sFolder, sName) : -1;
        case Way::Nlst:
            if (it != listing.files.end() && it->second != unknownSize)
                return it->second;
            return it != listing.files.end() || sName[0] == '.' ? askSize(sFolder, sName) : -1;
        case Way::Platform:
            // A wildcard listing leaves out names that start with a dot.
            if (sName[0] != '.') {
                if (it != listing.files.end() && it->second >= 0)
                    return it->second;
                // Wine's listing cuts names at their first blank; when such a cut
                // name is listed the file may well be there, so ask for it.
                const size_t blank = sName.find(' ');
                const bool maybeCut =
                    blank != std::string::npos && listing.files.count(sName.substr(0, blank));
                if (it == listing.files.end() && !maybeCut)
                    return -1;
            }
            break;
        case Way::None:
            break;
    }
    return ftp_.GetFTPFileSize(sFolder + "/" + sName);
}

const FolderSizes::Listing& FolderSizes::listingOf(const std::string& sFolder) {
    auto found = cache_.find(sFolder);
    if (found != cache_.end())
        return found->second;
    Listing& listing = cache_[sFolder];
    const bool listed = listThroughSession(sFolder, listing);
    // A time-out or a malformed reply ended the session: the next way lists
    // this folder, and every one after it.
    if (session_ && session_->broken())
        session_.reset();
    if (!listed)
        listThroughPlatform(sFolder, listing);
    static const char* const wayNames[] = {"", "MLSD", "NLST", "the platform's listing"};
    const std::string what = "listing of " + sFolder;
    if (listing.way == Way::None)
        Log::line(what + " failed: sizes are asked file by file", ftp_.LastReply(), ftp_.LastErrorCode());
    else
        Log::line(what + " by " + wayNames[static_cast<int>(listing.way)] + ": " +
                  (listing.missing ? "no such folder" : std::to_string(listing.files.size()) + " names"));
    return listing;
}

bool FolderSizes::listThroughSession(const std::string& sFolder, Listing& listing) {
    std::string data;
    int code = -1;  // the answer to MLSD, once asked
    if (!sessionTried_) {
        sessionTried_ = true;
        auto platform = std::make_unique<PlatformSession>(ftp_);
        if (platform->supported("MLSD " + sFolder, code, data)) {
            session_ = std::move(platform);
        } else {
            code = -1;
            // The same folder as the session's, or no listing at all.
            const std::string dir = ftp_.GetFTPDirectory();
            auto own = std::make_unique<SocketSession>();
            if (!dir.empty() && own->open(dir))
                session_ = std::move(own);
        }
    }
    if (!session_)
        return false;
    if (!mlsdRefused_) {
        if (code < 0)
            code = session_->list("MLSD " + sFolder, data);
        if (isDone(code) || code == replyNoSuchFile || code == replyNotAFolder) {
            listing.way = Way::Mlsd;
            listing.missing = !isDone(code);
            listing.files = parseMlsd(data);
            return true;
        }
        mlsdRefused_ = isRefusal(code);
        if (!mlsdRefused_)
            return false;
    }
    if (nlstRefused_)
        return false;
    data.clear();
    code = session_->list("NLST " + sFolder, data);
    if (isDone(code) || code == replyNoSuchFile) {
        listing.way = Way::Nlst;
        listing.missing = code == replyNoSuchFile;
        for (const std::string& name : parseNlst(data)) listing.files[name] = unknownSize;
        sizeExpected(sFolder, listing);
        return true;
    }
    nlstRefused_ = isRefusal(code);
    return false;
}

void FolderSizes::listThroughPlatform(const std::string& sFolder, Listing& listing) {
    // "folder/*": WinINet lists a bare folder name as the folder itself.
    cDirList* list = ftp_.GetDirectoryListing(sFolder + "/*");
    if (!list)
        return;
    listing.way = Way::Platform;
    for (const cDirItem& item : *list)
        listing.files[afterLastSlash(item.Filename)] = item.Directory ? -1 : item.FileSizeFull;
}

// The sizes of the expected files that the name list holds, asked all at
// once; some servers leave dot names out of their lists, so those are asked
// anyway.
void FolderSizes::sizeExpected(const std::string& sFolder, Listing& listing) {
    std::vector<std::string> names, lines;
    for (const std::string& name : expected_[sFolder])
        if (listing.files.count(name) || name[0] == '.') {
            names.push_back(name);
            lines.push_back("SIZE " + sFolder + "/" + name);
        }
    const std::vector<std::string> replies = session_->commands(lines);
    // Sizes not answered stay unknown and are asked one by one later.
    for (size_t i = 0; i < names.size(); ++i) {
        const int code = replyCode(replies[i]);
        int64_t size = -1;
        if (modFTP::sizeAnswer(replies[i], size))
            listing.files[names[i]] = size;
        else if (code == replyNoSuchFile)
            listing.files[names[i]] = -1;
    }
}

void FolderSizes::expect(const std::string& sFolder, const std::string& sName) {
    expected_[sFolder].insert(sName);
}

int64_t FolderSizes::askSize(const std::string& sFolder, const std::string& sName) {
    std::string reply;
    const std::string path = sFolder + "/" + sName;
    const int code = session_ ? session_->command("SIZE " + path, reply) : 0;
    if (session_ && session_->broken())
        session_.reset();
    int64_t size = -1;
    if (modFTP::sizeAnswer(reply, size))
        return size;
    if (code == replyNoSuchFile)
        return -1;
    return ftp_.GetFTPFileSize(path);
}
