// The check for new issues.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "work/Work.h"

// False when it did not run: other work was running (and the user was told,
// per ask).
bool checkNewIssues(bool bShowProgress, Work::Ask ask = Work::Ask::Tell);
std::string fetchNewRecords(cFTP& ftp);
// The size of an issue's PDF in its magazine's server folder; -1 when missing.
using IssueSizeQuery = std::function<int64_t(const std::string& sFolder, const std::string& sName)>;
// Adds a ticked entry to the hidden issue list for each new record (each
// followed by ";") that is safe and whose PDF is there, sorted by magazine.
// Returns the number of entries.
int32_t listNewIssues(const std::string& sNewRecords, const IssueSizeQuery& sizeOf);
void showNoConnection();
// The program folder cannot be written (a standard user's "Program Files").
void showFolderNotWritable();
// A size in bytes as the issue list shows it: "##,##0.00 MB" with the user's separators.
std::string formatMegabytes(int64_t llBytes);
