// Start-up: the steps that bring the program up, and the orderly stop.
#pragma once
#include <windows.h>

#include <functional>

namespace StartUp {

// The shell library, loaded from start to stop.
inline HMODULE shellLibraryHandle = nullptr;
// The orderly stop has begun.
inline bool isExiting = false;

bool initCommonControls();
// The data and library folders, the default delivery type, and what an
// exit in the middle of a job left behind.
void createLibraryFolders();
// Logon start and the first-run mark; a first run is greeted.
void checkFirstRun();
// The orderly stop: refused while a transfer is on the wire; otherwise the
// running job ends as a cancel ends it, then the forms go and the process ends.
void exitProgram();
// One message of the window thread's loop: the library window's keys, then
// the dialog's, else translated and sent to its window.
void dispatchMessage(MSG& msg);
// Test seam: what the last step of exitProgram does (ExitProcess(0) unless set).
void setProcessEnd(std::function<void(UINT)> fn);

}  // namespace StartUp
