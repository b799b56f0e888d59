// A whole-file copy from the server that replaces the local copy only when
// it has arrived whole: a refused, dropped, stalled or cut transfer leaves
// the earlier copy byte for byte as it was.
#pragma once
#include <cstdint>
#include <string>

class cFTP;

enum class FetchResult { Fetched, Failed, TooLarge };

// sRemote is fetched under a temporary name beside sLocal, counted against
// llMaxBytes as it arrives and held to its deadline (cFTP::FTPCopyBounded),
// and only then, with the server's completion reply and exactly llExpected
// bytes (the SIZE answer, when there was one), flushed and renamed over sLocal.
FetchResult fetchWhole(cFTP& ftp, const std::string& sLocal, const std::string& sRemote, int64_t llMaxBytes,
                       int64_t llExpected = -1);
