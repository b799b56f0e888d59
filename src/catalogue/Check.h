// The check for new issues.
#pragma once
#include <cstdint>
#include <string>

void checkNewIssues(bool bShowProgress);
std::string fetchNewRecords();
void showNoConnection();
// The program folder cannot be written (a standard user's "Program Files").
void showFolderNotWritable();
// A size in bytes as the issue list shows it: "##,##0.00 MB" with the user's separators.
std::string formatMegabytes(int64_t llBytes);
