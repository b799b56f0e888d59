#include "ftp/SafeFetch.h"

#include <windows.h>

#include "app/ModCommon.h"
#include "ftp/cFTP.h"

namespace {

constexpr char partialSuffix[] = ".part";

}  // namespace

FetchResult fetchWhole(cFTP& ftp, const std::string& sLocal, const std::string& sRemote, int64_t llMaxBytes) {
    const FileSystem& fs = ModCommon::fileSystem;
    const std::string partial = sLocal + partialSuffix;
    fs.DeleteFile(partial);
    // No size query first: under Wine each one lists the whole folder, one
    // byte per system call. A 550, a drop or a stall fails the transfer.
    if (!ftp.SimpleFTPGetFile(partial, sRemote)) {
        fs.DeleteFile(partial);
        return FetchResult::Failed;
    }
    // Not flushed: the copies are fetched again at every check, and a flush
    // would cost a disk sync on the window thread each time.
    const int64_t got = ModCommon::fileSystem.FileSize(partial);
    FetchResult result = FetchResult::Failed;
    if (got > llMaxBytes)
        result = FetchResult::TooLarge;
    else if (got >= 0 && fs.MoveFile(partial, sLocal, true))
        result = FetchResult::Fetched;
    if (result != FetchResult::Fetched)
        fs.DeleteFile(partial);
    return result;
}
