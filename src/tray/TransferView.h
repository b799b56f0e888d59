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
#include "work/Work.h"

namespace modFTP {

// The top of the transfer's progress bars (scaled to 32 bits).
inline int32_t transferMaximum = 0;

// Drives the dialog's and the library window's progress bars, the percent
// text and the tray icon during a transfer.
void showTransferProgress(int64_t lMinimum, int64_t lMaximum, int64_t lValue, bool bStart);
// Holds the caller in the delivery dialog's modal loop until Resume or Cancel.
void waitWhilePaused();
// Lets the forms follow the work (see WorkObserver); each form calls it when it comes up.
void watchWork();

// The forms' side of the work: the tray icon and tool tip, the dialog's and
// the library window's progress, the pause hold, the issue list.
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
    void holdWhilePaused() override { waitWhilePaused(); }
    // Where the press most likely came from: the library window when it is
    // up, the tray otherwise.
    HWND ownerWindow() const override { return frmtray::exists() ? frmtray::instance().hwnd() : nullptr; }
    void refused(const std::string& sRunning) override {
        if (frmmain::exists() && frmmain::instance().visible()) {
            if (refusal_.empty())
                shownBefore_ = list().statusPanel(1);
            refusal_ = sRunning;
            list().setStatusPanel(1, sRunning);
        }
        toolTipChanged(sRunning);
    }
    // The refusal's word goes with the job, unless the job has written its
    // own since; ticks the job refused run now.
    void workEnded() override {
        if (!refusal_.empty() && frmmain::exists() && list().statusPanel(1) == refusal_)
            list().setStatusPanel(1, shownBefore_);
        refusal_.clear();
        if (frmtray::exists())
            PostMessageA(frmtray::instance().hwnd(), frmtray::workEndedMessage, 0, 0);
    }

    void showMessage(const std::string& sText, const std::string& sButton0, const std::string& sButton1,
                     const std::string& sButton2, bool bChoices) override {
        showMessageDialog(sText, sButton0, sButton1, sButton2, bChoices ? frmmess::fullHeight : frmmess::compactHeight);
    }
    void showDelivery(bool bDelivering, const std::string& sText) override {
        frmmess& m = frmmess::instance();
        m.setMessage(sText);
        m.editButtons(0, false, "");
        m.editButtons(1, bDelivering, "Cancel");
        m.editButtons(2, true, bDelivering ? "Pause" : "OK");
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

    void clearIssues() override { list().clearIssues(); }
    void showIssues(bool bShown) override { ShowWindow(list().lv, bShown ? SW_SHOW : SW_HIDE); }
    // Even hidden, the list redraws at every change under Wine, which makes
    // a large first check take minutes.
    void beginIssues() override { SendMessageA(list().lv, WM_SETREDRAW, FALSE, 0); }
    void addIssue(const IssueEntry& e) override {
        list().addIssueEntry(e.key, e.title, e.issue, e.magazine, e.size, e.record);
    }
    void endIssues(bool bTickAll) override {
        frmmain& w = list();
        w.sortIssues(frmmain::colMagazine, false);
        if (bTickAll)
            w.setLstTick();
        SendMessageA(w.lv, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(w.lv, nullptr, TRUE);
    }
    std::vector<std::string> rekeyIssues() override { return list().rekeyForDelivery(); }
    std::vector<std::string> tickedIssues() override { return list().tickedIssues(); }
    bool issueTicked(const std::string& sKey) override { return list().issueTicked(sKey); }
    bool findIssue(const std::string& sKey, IssueEntry& e) override {
        frmmain& w = list();
        const int index = w.findIssueByKey(sKey);
        if (index < 0)
            return false;
        e = {sKey, w.issueText(index, frmmain::colTitle), w.issueText(index, frmmain::colIssue),
             w.issueText(index, frmmain::colMagazine), w.issueText(index, frmmain::colSize),
             w.issueText(index, frmmain::colRecord)};
        return true;
    }
    void issueStatusChanged(const std::string& sKey, const std::string& sStatus) override {
        const int index = list().findIssueByKey(sKey);
        if (index >= 0)
            list().setIssueText(index, frmmain::colStatus, sStatus);
    }
    void issueDone(const std::string& sKey) override {
        const int index = list().findIssueByKey(sKey);
        if (index >= 0)
            list().removeIssue(index);
    }
    int issueCount() override { return list().issueCount(); }

private:
    static frmmain& list() { return frmmain::instance(); }
    std::string refusal_, shownBefore_;
};



}  // namespace modFTP
