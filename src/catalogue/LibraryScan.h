// The library folders as the library window shows them: the folder tree
// and the issue files of the chosen folder. Nothing is cached.
#pragma once
#include <string>

void buildLibraryTree();
void fillLibraryList(const std::string& sPath);
std::string fileDateText(const std::string& sPath);
// An issue file: shaped "*_*_*" and ending in ".pdf" or ".torrent" (any case).
bool isLibraryIssueFile(const std::string& sName);
