// The delivery run: one ticked issue downloaded into the library.
#pragma once
#include <string>

void deliverIssue(const std::string& sKey);
bool downloadIssueFile(const std::string& sRemotePath, const std::string& sLocalFile);
void showDeliveryDialog(int iMode, const std::string& sText);
void setIssueStatus(const std::string& sStatus, const std::string& sKey);
