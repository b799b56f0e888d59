#include "ftp/SafeFetch.h"

#include <windows.h>

#include "app/ModCommon.h"
#include "ftp/cFTP.h"

namespace {

constexpr char partialSuffix[] = ".part";

int64_t localSize(const std::string& sPath) {
    WIN32_FILE_ATTRIBUTE_DATA fa{};
    if (!GetFileAttributesExA(sPath.c_str(), GetFileExInfoStandard, &fa))
        return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(fa.nFileSizeHigh) << 32) | fa.nFileSizeLow);
}

}  // namespace

FetchResult fetchWhole(cFTP& ftp, const std::string& sLocal, const std::string& sRemote, int64_t llMaxBytes) {
    const FileSystem& fs = ModCommon::fileSystem;
    // Asked first: a file the server says is missing or too big is not fetched.
    const int64_t serverSize = ftp.GetFTPFileSize(sRemote);
    if (serverSize == -1)
        return FetchResult::Failed;
    if (serverSize > llMaxBytes)
        return FetchResult::TooLarge;
    const std::string partial = sLocal + partialSuffix;
    fs.DeleteFile(partial);
    if (!ftp.SimpleFTPGetFile(partial, sRemote)) {
        fs.DeleteFile(partial);
        return FetchResult::Failed;
    }
    const int64_t got = localSize(partial);
    const bool whole = got >= 0 && (serverSize < 0 || got == serverSize);
    if (got > llMaxBytes) {
        fs.DeleteFile(partial);
        return FetchResult::TooLarge;
    }
    if (!whole || !fs.Flush(partial) || !fs.MoveFile(partial, sLocal, true)) {
        fs.DeleteFile(partial);
        return FetchResult::Failed;
    }
    return FetchResult::Fetched;
}
