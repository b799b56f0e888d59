// Exact names and sizes of the files in server folders: one listing per
// folder, read in bulk through a data connection and parsed here, so names
// with blanks or leading dots and sizes beyond 4 GiB come out as the server
// has them.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

class cFTP;

// Machine-readable listing (RFC 3659 MLSD): file names and their whole
// sizes; sub-folders carry -1.
std::map<std::string, int64_t> parseMlsd(const std::string& sText);
// Name list (NLST): the bare names, any folder part the server puts in
// front removed.
std::set<std::string> parseNlst(const std::string& sText);

// Sizes as cFTP::GetFTPFileSize gives them (-1 when there is no such file,
// -2 for any other failure), with one listing per folder instead of one
// query per file. Where a folder cannot be listed that way, each file is
// asked for as before.
class FolderSizes {
public:
    // How a folder came to be listed.
    enum class Way { None, Mlsd, Nlst, Platform };

    explicit FolderSizes(cFTP& ftp);
    ~FolderSizes();
    FolderSizes(const FolderSizes&) = delete;
    FolderSizes& operator=(const FolderSizes&) = delete;

    // Names that sizeOf will be asked for: where the sizes must be asked
    // file by file, they are then asked together.
    void expect(const std::string& sFolder, const std::string& sName);
    int64_t sizeOf(const std::string& sFolder, const std::string& sName);
    Way wayOf(const std::string& sFolder) const;

    // Where listing commands go; defined beside the listing code.
    class Session;

private:
    struct Listing;
    int64_t listedSize(const std::string& sFolder, const std::string& sName);
    const Listing& listingOf(const std::string& sFolder);
    bool listThroughSession(const std::string& sFolder, Listing& listing);
    void listThroughPlatform(const std::string& sFolder, Listing& listing);
    int64_t askSize(const std::string& sFolder, const std::string& sName);
    void sizeExpected(const std::string& sFolder, Listing& listing);

    cFTP& ftp_;
    std::unique_ptr<Session> session_;
    bool sessionTried_ = false;
    bool mlsdRefused_ = false;
    bool nlstRefused_ = false;
    std::map<std::string, Listing> cache_;
    std::map<std::string, std::set<std::string>> expected_;
};
