// The delivery run: one ticked issue downloaded into the library.
#pragma once
#include <string>

// An issue is written under this name in its magazine's folder and renamed
// when complete.
inline constexpr char partialDownloadName[] = "~quillora-download.tmp";

// Delivers every ticked issue of the list, one after the other, as one job.
// False when refused, or when the list is empty.
bool deliverTicked();
void deliverIssue(const std::string& sKey);
// The list's count after a command: the buttons and the status bar follow it.
void countRemaining();
// With bResume, the file on disk is continued where it ends.
bool downloadIssueFile(const std::string& sRemotePath, const std::string& sLocalFile, bool bResume = false);
void showDeliveryDialog(int iMode, const std::string& sText);
void setIssueStatus(const std::string& sStatus, const std::string& sKey);
