// Telling the user what a check found.
#pragma once
#include <cstdint>

void balloonNewIssues(int32_t lCount, bool bQuiet);
void announceNewIssues(int32_t lCount);
void announceSelection(int32_t lCount);
