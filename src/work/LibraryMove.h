// Moving the library (its "My Magazines" and "My Torrents" folders) to a
// folder the user chose. Every file is copied under a temporary name,
// flushed, read back and compared with what was read from the original,
// and only then given its name; the old files go only once the caller has
// recorded the new place. Until then any failure removes what the move
// made and leaves the old library as it was. The data folder is not part
// of the library and is never touched.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace LibraryMove {

// The library's two folders, each with one folder per magazine.
inline constexpr const char* folderNames[] = {"My Magazines", "My Torrents"};

struct Progress {
    int64_t filesDone = 0, filesTotal = 0, bytesDone = 0, bytesTotal = 0;
};

struct Result {
    bool moved = false;   // the library now lives in sToRoot
    std::string message;  // for the user when !moved, or when files were left behind
    int64_t files = 0, bytes = 0;
    std::vector<std::string> leftBehind;  // old files still there after the switch (full paths)
};

// The two name one folder, however written ("C:\Lib\" and "c:\lib").
bool sameFolder(const std::string& sA, const std::string& sB);

// Why sToRoot cannot take the library from sFromRoot, as a sentence for the
// user; "" when it can. Looks only: nothing is created.
std::string refusal(const std::string& sFromRoot, const std::string& sToRoot);

// Moves the library from sFromRoot to sToRoot (same relative paths; a file
// already there with the same bytes counts as moved, one with other bytes
// fails the move). commit() is asked once everything is copied and checked:
// it records the new place, and only when it returns true are the old files
// and folders removed. progress() is told a few times a second; cancelled()
// is asked between blocks. Runs on the caller's thread.
Result move(const std::string& sFromRoot, const std::string& sToRoot, const std::function<bool()>& commit,
            const std::function<void(const Progress&)>& progress, const std::function<bool()>& cancelled);

}  // namespace LibraryMove
