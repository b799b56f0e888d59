#include "ftp/ServerCopies.h"

#include <algorithm>
#include <cstdlib>

#include "base/Log.h"
#include "base/ModCommon.h"
#include "ftp/cFTP.h"
#include "ftp/modFTP.h"
#include "settings/cInifile.h"

namespace {

constexpr char stateFile[] = "copies.ini";
constexpr char partialSuffix[] = ".part";
// The bytes read again at the start of the file and before the end of the
// local copy and compared, so a file rewritten on the server there is never
// continued. An edit between the two that keeps the length passes.
constexpr int64_t headBytes = 4 * 1024;
constexpr int64_t overlapBytes = 4 * 1024;

// The text of a "213" reply (MDTM), or "" for any other.
std::string answerOf(const std::string& sReply) {
    if (sReply.rfind("213 ", 0) != 0)
        return "";
    std::string text = sReply.substr(4);
    text.erase(text.find_last_not_of(" \r\n") + 1);
    return text;
}

std::string stateValue(cInifile& state, const char* key) {
    state.setKey(key);
    return state.Value();
}

// The server a session talks to: another server's answers say nothing
// about this one's file, however alike they look.
std::string sessionServer() { return modFTP::ftpHost + ":" + std::to_string(modFTP::ftpPort); }

void keepAnswers(cInifile& state, int64_t size, const std::string& modified) {
    state.setKey("server");
    state.setValue(sessionServer());
    state.setKey("size");
    state.setValue(std::to_string(size));
    state.setKey("modified");
    state.setValue(modified);
}

}  // namespace

std::string ServerCopies::statePath() { return ModCommon::dataPath + stateFile; }

void ServerCopies::forget(const std::string& sRemote) {
    cInifile state;
    state.setPath(statePath());
    state.setSection(sRemote);
    state.DeleteSection();
}

FetchResult ServerCopies::fetch(const std::string& sLocal, const std::string& sRemote, int64_t llMaxBytes,
                                bool bGrows) {
    const FileSystem& fs = ModCommon::fileSystem;
    cInifile state;
    state.setPath(statePath());
    state.setSection(sRemote);
    // MDTM first: a server without it is asked nothing more.
    const std::string modified = answerOf(ftp_.Reply("MDTM " + sRemote));
    int64_t size = -1;
    if (!modified.empty()) {
        if (!binary_)
            ftp_.Reply("TYPE I");
        binary_ = true;
        if (!modFTP::sizeAnswer(ftp_.Reply("SIZE " + sRemote), size))
            size = -1;
    }
    const std::string keptSize = stateValue(state, "size");
    const int64_t have = fs.FileSize(sLocal);
    // The local copy is whole when it still has the size it was fetched at.
    if (size >= 0 && have >= 0 && keptSize == std::to_string(have) &&
        stateValue(state, "server") == sessionServer()) {
        if (size == have && modified == stateValue(state, "modified")) {
            Log::line(sRemote + " unchanged on the server (" + std::to_string(size) + " bytes), not copied");
            return FetchResult::Fetched;
        }
        if (bGrows && size > have && size <= llMaxBytes && appendTail(sLocal, sRemote, have, size)) {
            keepAnswers(state, size, modified);
            Log::line("continued " + sRemote + " from " + std::to_string(have) + " to " +
                      std::to_string(size) + " bytes");
            return FetchResult::Fetched;
        }
    }
    const FetchResult result = fetchWhole(ftp_, sLocal, sRemote, llMaxBytes, size);
    if (result != FetchResult::Fetched)
        return result;  // the earlier copy and what was said about it stay
    if (size >= 0) {
        keepAnswers(state, size, modified);
    } else {
        state.DeleteSection();
    }
    return result;
}

// Continues the local copy (llHave bytes) to the server's llSize bytes. The
// new bytes are added to a copy of it under a temporary name that replaces
// it only once it is whole.
bool ServerCopies::appendTail(const std::string& sLocal, const std::string& sRemote, int64_t llHave,
                              int64_t llSize) {
    const FileSystem& fs = ModCommon::fileSystem;
    const int64_t from = llHave - overlapBytes;
    std::string local, head, fetched;
    // A copy too short to hold both windows apart costs little whole.
    if (from < headBytes || !fs.ReadAll(sLocal, local) || static_cast<int64_t>(local.size()) != llHave)
        return false;
    // The head first: a file rewritten at its start is never continued.
    const bool read = ftp_.ReadFrom(sRemote, 0, headBytes, head, false) &&
                      head.compare(0, std::string::npos, local, 0, static_cast<size_t>(headBytes)) == 0 &&
                      ftp_.ReadFrom(sRemote, from, llSize - from, fetched);
    if (!read) {
        // A REST the transfer never used would cut the whole copy that follows.
        ftp_.Reply("REST 0");
        return false;
    }
    if (fetched.compare(0, static_cast<size_t>(llHave - from), local, static_cast<size_t>(from)) != 0)
        return false;
    const std::string partial = sLocal + partialSuffix;
    fs.DeleteFile(partial);
    local.append(fetched, static_cast<size_t>(llHave - from));
    if (fs.Append(partial, local) && fs.FileSize(partial) == llSize && fs.MoveFile(partial, sLocal, true))
        return true;
    fs.DeleteFile(partial);
    return false;
}
