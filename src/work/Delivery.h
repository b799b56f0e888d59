// The delivery run: the ticked issues downloaded into the library, one
// after the other, as one job; and the removal of ticked issues for good.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

// An issue is written under this name in its magazine's folder and renamed
// when complete.
inline constexpr char partialDownloadName[] = "~quillora-download.tmp";

// Starts the run as a job; then runs on the window thread afterwards. False
// when it did not start: other work runs.
bool deliverTicked(std::function<void()> then = {});
// One issue of the run, by its id in the issue model (on the engine).
void deliverIssue(uint32_t id);
// Starts the removal of the ticked issues as a job: each is recorded in the
// local catalogue as dismissed and taken off the list.
bool removeTicked(std::function<void()> then = {});
// The list's count after a command: the buttons and the status bar follow it.
void countRemaining();
// With bResume, the file on disk is continued where it ends.
bool downloadIssueFile(const std::string& sRemotePath, const std::string& sLocalFile, bool bResume = false);
void showDeliveryDialog(int iMode, const std::string& sText);
void setIssueStatus(const std::string& sStatus, uint32_t id);
