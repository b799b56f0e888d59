// The check for new issues.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "work/Work.h"

class cFTP;

// Starts the check as a job; then runs on the window thread once it has
// ended. False when it did not start: other work runs.
bool checkNewIssues(bool bShowProgress, std::function<void()> then = {});
// The check itself, on the engine: connect, copy, compare, list. False when
// the server could not be reached or its copies were unusable; bQuiet keeps
// that from the user (a timed check tried again later).
bool runCheck(bool bShowProgress, bool bQuiet = false);
std::string fetchNewRecords(cFTP& ftp);
// The size of an issue's PDF in its magazine's server folder; -1 when missing.
using IssueSizeQuery = std::function<int64_t(const std::string& sFolder, const std::string& sName)>;
// Lists a ticked entry in the issue model for each new record (each
// followed by ";") that is safe and whose PDF is there, sorted by magazine.
// Returns the number of entries.
int32_t listNewIssues(const std::string& sNewRecords, const IssueSizeQuery& sizeOf);
void showNoConnection();
// The program folder cannot be written (a standard user's "Program Files").
void showFolderNotWritable();
// A size in bytes as the issue list shows it: "##,##0.00 MB" with the user's separators.
std::string formatMegabytes(int64_t llBytes);
// The same, with the user's separators read once for many sizes.
class MegabyteText {
public:
    MegabyteText();
    std::string operator()(int64_t llBytes) const;

private:
    std::string decimal_, thousand_;
};
