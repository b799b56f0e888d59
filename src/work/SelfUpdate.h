// Self-update: the fetch of a new release, the check of a downloaded
// program file before it is offered, and the hand-over to the updater.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace SelfUpdate {

// The remote and local names of the new program file.
inline constexpr const char* programFileName = "tolv.exe";

// True when sPath holds a whole program that can take tolv.exe's place: a
// 32-bit Windows GUI executable (MZ and PE headers, machine i386, GUI
// subsystem) whose sections all lie inside the file, and, when
// llServerSize is not negative (known), exactly that many bytes long.
bool isWholeProgram(const std::string& sPath, int64_t llServerSize);

// The one check a staged program passes before it is offered, and again
// when "Update" hands it over: whatever else a program must prove goes here.
bool isAcceptableProgram(const std::string& sPath, int64_t llServerSize);

// Where the program is fetched, checked and then kept for the updater.
std::string stagedProgramPath();
// The server's size of the staged program (-1: not known).
inline int64_t stagedProgramSize = -1;
// "Not now" on the offer: no new offer until the next start.
inline bool offerDeclined = false;
void declineOffer();

// On request (tray menu "&Manager Updates"): a job whose every outcome is told.
bool systemUpdate();
// Within the start timer's job (on the engine): true when an update is
// offered; otherwise silent.
bool autoSystemUpdate();
// "Update" on the offer: the staged program is checked once more as a job,
// then (on the window thread) the updater is started and exit runs, or the
// user is told. False when other work runs.
bool handOver(std::function<void()> exit);

}  // namespace SelfUpdate
