// The delivery run: one ticked issue downloaded into the library.
#pragma once
#include <string>

void deliverIssue(const std::string& sKey);
// With bResume, the file on disk is continued where it ends.
bool downloadIssueFile(const std::string& sRemotePath, const std::string& sLocalFile, bool bResume = false);
void showDeliveryDialog(int iMode, const std::string& sText);
void setIssueStatus(const std::string& sStatus, const std::string& sKey);
