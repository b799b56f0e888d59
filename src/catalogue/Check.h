// The check for new issues.
#pragma once
#include <string>

void checkNewIssues(bool bShowProgress);
std::string fetchNewRecords();
void showNoConnection();
