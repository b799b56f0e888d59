#include "ftp/SafeFetch.h"

#include <windows.h>

#include "base/ModCommon.h"
#include "ftp/cFTP.h"

namespace {

constexpr char partialSuffix[] = ".part";

}  // namespace

FetchResult fetchWhole(cFTP& ftp, const std::string& sLocal, const std::string& sRemote, int64_t llMaxBytes,
                       int64_t llExpected) {
    const FileSystem& fs = ModCommon::fileSystem;
    const std::string partial = sLocal + partialSuffix;
    fs.DeleteFile(partial);
    // No size query first: under Wine each one lists the whole folder, one
    // byte per system call. A 550, a drop, a stall, the deadline or a byte
    // past the cap fails the transfer, counted as it arrives, so an endless
    // file never takes more than the cap on disk.
    const cFTP::Copy copy = ftp.FTPCopyBounded(partial, sRemote, llMaxBytes);
    FetchResult result = copy == cFTP::Copy::TooLarge ? FetchResult::TooLarge : FetchResult::Failed;
    // Flushed before the rename: a copy is trusted across starts (copies.ini),
    // so a crash must leave the earlier one or this one, never a hollow file.
    if (copy == cFTP::Copy::Done && (llExpected < 0 || fs.FileSize(partial) == llExpected) &&
        fs.Flush(partial) && fs.MoveFile(partial, sLocal, true))
        result = FetchResult::Fetched;
    if (result != FetchResult::Fetched)
        fs.DeleteFile(partial);
    return result;
}
