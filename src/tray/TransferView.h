// The forms' side of a transfer and of the work in progress: the progress in
// the message dialog, the library window and the tray icon, the pause hold,
// and the observer through which the session and the check reach them.
#pragma once
#include <cstdint>

namespace modFTP {

// Drives the dialog's and the library window's progress bars, the percent
// text and the tray icon during a transfer.
void showTransferProgress(int64_t lMinimum, int64_t lMaximum, int64_t lValue, bool bStart);
// Holds the caller in the delivery dialog's modal loop until Resume or Cancel.
void waitWhilePaused();
// Lets the forms follow the work (see WorkObserver); each form calls it when it comes up.
void watchWork();

}  // namespace modFTP
