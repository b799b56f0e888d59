// The check for new issues.
#pragma once
#include <cstdint>
#include <string>

#include "app/Work.h"

// False when it did not run: other work was running (and the user was told,
// per ask).
bool checkNewIssues(bool bShowProgress, Work::Ask ask = Work::Ask::Tell);
std::string fetchNewRecords(cFTP& ftp);
void showNoConnection();
// A size in bytes as the issue list shows it: "##,##0.00 MB" with the user's separators.
std::string formatMegabytes(int64_t llBytes);
