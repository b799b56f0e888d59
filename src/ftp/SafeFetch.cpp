#include "ftp/SafeFetch.h"

#include <windows.h>

#include "base/Log.h"
#include "base/ModCommon.h"
#include "ftp/cFTP.h"

namespace {

constexpr char partialSuffix[] = ".part";

void logCopy(cFTP& ftp, const std::string& sRemote, FetchResult result, cFTP::Copy copy, int64_t llGot,
             int64_t llExpected, int64_t llMaxBytes) {
    const std::string got = std::to_string(llGot);
    if (result == FetchResult::Fetched)
        Log::line("copied " + sRemote + " (" + got + " bytes)");
    else if (result == FetchResult::TooLarge)
        Log::line("copy of " + sRemote + " refused: more than " + std::to_string(llMaxBytes) + " bytes");
    else if (copy == cFTP::Copy::Done && llExpected >= 0 && llGot != llExpected)
        Log::line("copy of " + sRemote + " failed: " + got + " bytes came, the server's SIZE said " +
                  std::to_string(llExpected));
    else if (copy == cFTP::Copy::Done)
        Log::line("copy of " + sRemote + " failed: the earlier copy could not be replaced", "",
                  GetLastError());
    else
        Log::line("copy of " + sRemote + " failed", ftp.LastReply(), ftp.LastErrorCode());
}

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
    const int64_t got = fs.FileSize(partial);
    if (copy == cFTP::Copy::Done && (llExpected < 0 || got == llExpected) && fs.Flush(partial) &&
        fs.MoveFile(partial, sLocal, true))
        result = FetchResult::Fetched;
    logCopy(ftp, sRemote, result, copy, got, llExpected, llMaxBytes);
    if (result != FetchResult::Fetched)
        fs.DeleteFile(partial);
    return result;
}
