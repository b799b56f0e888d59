// Telling the user what a check found: a balloon on the tray icon, or the
// message dialog with the delivery choices.
#include "work/Announce.h"

#include "app/ModCommon.h"
#include "dialog/frmmess.h"
#include "library/frmmain.h"
#include "tray/frmtray.h"

using namespace ModCommon;

namespace {

constexpr int32_t kBalloonIcon = NIIF_INFO;
constexpr double kBalloonTimeOutMs = 500;

std::string availableText(int32_t lCount) {
    return toDecimal(lCount) + " new magazine" + (lCount < 2 ? " is available." : "s are available.");
}

void enableDeliverAndRemove(bool bEnabled) {
    frmmain& w = frmmain::instance();
    w.enableButton(frmmain::tbDeliver, bEnabled);
    w.enableButton(frmmain::tbRemove, bEnabled);
}

void showNoneAvailable() { showMessageDialog("None available.", "", "", "OK"); }

void showChoices(const std::string& sMessage) {
    enableDeliverAndRemove(true);
    showMessageDialog(sMessage, "Deliver", "Close", "Remove", frmmess::fullHeight);
}

}  // namespace

void balloonNewIssues(int32_t lCount, bool bQuiet) {
    std::string text;
    if (lCount > 0)
        text = availableText(lCount) + "\n\nClick me for delivery options.";
    else if (bQuiet)
        return;
    else
        text = "None available.";
    frmtray::instance().ShowBalloonTip(text, "Quillora", kBalloonIcon, kBalloonTimeOutMs);
}

void announceNewIssues(int32_t lCount) {
    if (transferBusy || !isConnected)
        return;
    if (lCount < 1) {
        enableDeliverAndRemove(false);
        showNoneAvailable();
    } else {
        setStatusText(1, "New");
        setStatusText(2, toDecimal(lCount));
        showChoices(availableText(lCount) + "\n\nWhat would you like to do?");
    }
    frmmess::instance().bringToFront();
}

void announceSelection(int32_t lCount) {
    if (transferBusy || !isConnected)
        return;
    if (countTicked() < 1) {
        messageBox("Nothing to do.", MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (lCount < 1) {
        setStatusText(1, "Ready");
        setStatusText(2, "");
        enableDeliverAndRemove(false);
        showNoneAvailable();
    } else {
        showChoices(lCount < 2 ? std::string("Your selection is ready for delivery.\n\nWhat would you like to do?")
                               : "Your " + toDecimal(lCount) +
                                     " selections are ready for delivery.\n\nWhat would you like to do?");
    }
    frmmess::instance().bringToFront();
}
