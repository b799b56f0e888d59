// Telling the user what a check found: a balloon on the tray icon, or the
// message dialog with the delivery choices.
#include "work/Announce.h"

#include "base/ModCommon.h"
#include "ftp/modFTP.h"
#include "work/IssueModel.h"
#include "work/Work.h"

using namespace ModCommon;
using namespace Work;

namespace {

std::string availableText(int32_t lCount) {
    return toDecimal(lCount) + " new magazine" + (lCount < 2 ? " is available." : "s are available.");
}

void enableDeliverAndRemove(bool bEnabled) {
    tell([bEnabled](WorkObserver& w) { w.issueCommandsEnabled(bEnabled); });
}

void showNoneAvailable() {
    tell([](WorkObserver& w) { w.showMessage("None available.", "", "", "OK"); });
}

void showChoices(const std::string& sMessage) {
    enableDeliverAndRemove(true);
    tell([sMessage](WorkObserver& w) { w.showMessage(sMessage, "Deliver", "Close", "Remove", true); });
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
    tell([text](WorkObserver& w) { w.balloon(text); });
}

void announceNewIssues(int32_t lCount) {
    if (modFTP::transferBusy || !isConnected)
        return;
    if (lCount < 1) {
        enableDeliverAndRemove(false);
        showNoneAvailable();
    } else {
        tellStatus(1, "New");
        tellStatus(2, toDecimal(lCount));
        showChoices(availableText(lCount) + "\n\nWhat would you like to do?");
    }
    tell([](WorkObserver& w) { w.bringMessageForward(); });
}

void announceSelection(int32_t lCount) {
    if (modFTP::transferBusy || !isConnected)
        return;
    if (issues().tickedCount() == 0) {
        messageBox("Nothing to do.", MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (lCount < 1) {
        tellStatus(1, "Ready");
        tellStatus(2, "");
        enableDeliverAndRemove(false);
        showNoneAvailable();
    } else {
        showChoices(lCount < 2 ? std::string("Your selection is ready for delivery.\n\nWhat would you like to do?")
                               : "Your " + toDecimal(lCount) +
                                     " selections are ready for delivery.\n\nWhat would you like to do?");
    }
    tell([](WorkObserver& w) { w.bringMessageForward(); });
}
