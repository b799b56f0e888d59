// What the library window shows of the library folders: which files are
// issues, and their dates.
#pragma once
#include <string>

std::string fileDateText(const std::string& sPath);
// An issue file: shaped "*_*_*" and ending in ".pdf" or ".torrent" (any case).
bool isLibraryIssueFile(const std::string& sName);
