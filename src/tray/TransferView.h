// The forms' side of a transfer and of the work in progress: the progress in
// the message dialog, the library window and the tray icon, the pause hold,
// and the observer through which the session and the check reach them.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dialog/frmmess.h"
#include "library/frmmain.h"
#include "tray/frmtray.h"
#include "base/ModCommon.h"
#include "work/Work.h"

namespace modFTP {

// The top of the transfer's progress bars (scaled to 32 bits).
inline int32_t transferMaximum = 0;

// Drives the dialog's and the library window's progress bars, the percent
// text and the tray icon during a transfer.
void showTransferProgress(int64_t lMinimum, int64_t lMaximum, int64_t lValue, bool bStart);
// Lets the forms follow the work (see WorkObserver); each form calls it when it comes up.
void watchWork();

// The forms' side of the work: the tray icon and tool tip, the dialog's and
// the library window's progress, the issue list. Runs on the window thread.
class FormsView : public WorkObserver {
public:
    void toolTipChanged(const std::string& sTip) override {
        if (frmtray::exists())
            frmtray::instance().setToolTip(sTip);
    }
    void transferProgress(int64_t lMinimum, int64_t lMaximum, int64_t lValue, bool bStart) override {
        showTransferProgress(lMinimum, lMaximum, lValue, bStart);
    }
    void statusText(int16_t iPanel, const std::string& sText) override { list().setStatusPanel(iPanel, sText); }
    void notice(const std::string& sText, UINT uFlags) override { ModCommon::messageBox(sText, uFlags); }

    void showMessage(const std::string& sText, const std::string& sButton0, const std::string& sButton1,
                     const std::string& sButton2, bool bChoices) override {
        showMessageDialog(sText, sButton0, sButton1, sButton2, bChoices ? frmmess::fullHeight : frmmess::compactHeight);
    }
    void showDelivery(bool bDelivering, const std::string& sText) override {
        frmmess& m = frmmess::instance();
        m.setMessage(sText);
        m.editButtons(0, false, "");
        m.editButtons(1, bDelivering, "Cancel");
        // A pause clicked before the issue began holds it: the dialog keeps saying so.
        m.editButtons(2, true, bDelivering ? (Work::deliveryPaused ? "Resume" : "Pause") : "OK");
        m.showMessage2(bDelivering);
        m.showProgress(bDelivering);
        m.setHeightTwips(frmmess::compactHeight);
        m.show();
    }
    void deliveryNote(const std::string& sText) override {
        if (frmmess::exists())
            frmmess::instance().setMessage2(sText);
    }
    void bringMessageForward() override { frmmess::instance().bringToFront(); }
    void balloon(const std::string& sText) override {
        frmtray::instance().ShowBalloonTip(sText, "Quillora", NIIF_INFO, 500);
    }
    void openLibrary() override { list().open(); }
    void libraryChanged() override { list().buildLibraryTree(); }
    void issueCommandsEnabled(bool bEnabled) override {
        list().enableButton(frmmain::tbDeliver, bEnabled);
        list().enableButton(frmmain::tbRemove, bEnabled);
    }
    void issuesChanged() override { list().refreshIssues(); }
    // A run that ends holds nothing: a pause's hold on the library window ends with it.
    void workEnded() override {
        if (frmmess::exists())
            frmmess::instance().endHold();
    }

private:
    static frmmain& list() { return frmmain::instance(); }
};

}  // namespace modFTP
