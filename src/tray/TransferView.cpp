#include "tray/TransferView.h"

#include <windows.h>
#include <commctrl.h>

#include <climits>
#include <string>

#include "app/ModCommon.h"
#include "work/Work.h"
#include "dialog/frmmess.h"
#include "ftp/modFTP.h"
#include "library/frmmain.h"
#include "tray/frmtray.h"

namespace modFTP {

namespace {

// Progress bars hold 32-bit values; sizes beyond that are shown scaled down.
int progressShift = 0;
// What the percent text and the tray icon last showed, so unchanged values
// cost nothing.
std::string shownText;
bool libraryIconShown = false;

void setTrayIcon(bool bLibraryIcon) {
    if (!frmtray::exists())
        return;
    frmtray& tray = frmtray::instance();
    if (bLibraryIcon) {
        if (libraryIconShown || !frmmain::exists())
            return;
        tray.setIconHandle(frmmain::instance().icon());
    } else {
        tray.setIconHandle(tray.ownIcon());
    }
    libraryIconShown = bLibraryIcon;
}

}  // namespace

void showTransferProgress(int64_t lMinimum, int64_t lMaximum, int64_t lValue, bool bStart) {
    using namespace ModCommon;
    if (bStart) {
        progressShift = 0;
        while ((lMaximum >> progressShift) > INT32_MAX)
            ++progressShift;
        const int32_t lo = static_cast<int32_t>(lMinimum >> progressShift);
        const int32_t hi = static_cast<int32_t>(lMaximum >> progressShift);
        if (frmmess::exists())
            frmmess::instance().setProgressRange(lo, hi);
        if (frmmain::exists()) {
            HWND pb = frmmain::instance().pb;
            SendMessageA(pb, PBM_SETRANGE32, lo, hi);
            ShowWindow(pb, SW_SHOW);
        }
        transferMaximum = hi;
        shownText.clear();
        return;
    }
    const int32_t value = static_cast<int32_t>(lValue >> progressShift);
    if (frmmess::exists())
        frmmess::instance().setProgressValue(value);
    if (frmmain::exists())
        SendMessageA(frmmain::instance().pb, PBM_SETPOS, value, 0);
    if (value < transferMaximum) {
        const std::string text = progressText(value, transferMaximum);
        if (text != shownText) {
            setStatusText(1, text);
            if (frmmess::exists())
                frmmess::instance().setMessage2(text);
            shownText = text;
        }
        setTrayIcon(true);
    }
    if (lValue == lMinimum) {
        if (frmmess::exists())
            frmmess::instance().setMessage2("");
        if (frmmain::exists())
            ShowWindow(frmmain::instance().pb, SW_HIDE);
        setTrayIcon(false);
        shownText.clear();
    }
}

namespace {

// The forms' side of the work: the tray icon and tool tip, the dialog's and
// the library window's progress, the pause hold.
class FormsView final : public WorkObserver {
public:
    void toolTipChanged(const std::string& sTip) override {
        if (frmtray::exists())
            frmtray::instance().setToolTip(sTip);
    }
    void transferProgress(int64_t lMinimum, int64_t lMaximum, int64_t lValue, bool bStart) override {
        showTransferProgress(lMinimum, lMaximum, lValue, bStart);
    }
    void statusText(int16_t iPanel, const std::string& sText) override { ModCommon::setStatusText(iPanel, sText); }
    void holdWhilePaused() override { waitWhilePaused(); }
    // Where the press most likely came from: the library window when it is
    // up, the tray otherwise.
    HWND ownerWindow() const override { return frmtray::exists() ? frmtray::instance().hwnd() : nullptr; }
    void refused(const std::string& sRunning) override {
        if (frmmain::exists() && frmmain::instance().visible())
            ModCommon::setStatusText(1, sRunning);
        toolTipChanged(sRunning);
    }
};

}  // namespace

void watchWork() {
    static FormsView view;
    Work::setObserver(&view);
}

void waitWhilePaused() {
    frmmess& dialog = frmmess::instance();
    dialog.hide();
    dialog.showModal(frmtray::exists() ? frmtray::instance().hwnd() : nullptr);
    ModCommon::doEvents();
}

}  // namespace modFTP
