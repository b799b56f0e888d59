#include "tray/TransferView.h"

#include <windows.h>
#include <commctrl.h>

#include <climits>
#include <string>

#include "base/ModCommon.h"
#include "dialog/frmmess.h"
#include "ftp/modFTP.h"
#include "library/frmmain.h"
#include "tray/frmtray.h"
#include "work/Work.h"

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
            frmmain::instance().setStatusPanel(1, text);
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

void watchWork() {
    static FormsView view;
    Work::setObserver(&view);
}

}  // namespace modFTP
