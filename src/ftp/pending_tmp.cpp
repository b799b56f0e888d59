// TEMPORARY: stand-ins for what lands in main soon (ModCommon, frmtray,
// frmmess, frmmain); removed when those arrive.
#include <algorithm>

#include "app/ModCommon.h"
#include "dialog/frmmess.h"
#include "ftp/cFTP.h"
#include "library/frmmain.h"
#include "tray/frmtray.h"

namespace ModCommon {
namespace {
PromptHook promptHook;
std::string tipText;
}
void doEvents() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}
int messageBox(const std::string& sText, UINT uFlags, HWND hOwner) {
    if (promptHook)
        return promptHook(sText, uFlags);
    return MessageBoxA(hOwner, sText.c_str(), "", uFlags);
}
void setPromptHook(PromptHook hook) { promptHook = std::move(hook); }
void setStatusText(int16_t, const std::string&) {}
std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return "";
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}
std::string toDecimal(long long n) { return std::to_string(n); }
}  // namespace ModCommon

static std::string g_tip;
frmtray::frmtray() {}
frmtray::~frmtray() {}
frmtray& frmtray::instance() {
    static frmtray* t = new frmtray;
    return *t;
}
bool frmtray::exists() { return true; }
void frmtray::setToolTip(const std::string& sTip) { g_tip = sTip; }
std::string frmtray::toolTip() const { return g_tip; }
HICON frmtray::IconHandle() const { return icon_; }
void frmtray::setIconHandle(HICON hIcon) { icon_ = hIcon; }

bool frmmess::exists() { return false; }
frmmess& frmmess::instance() { return *static_cast<frmmess*>(nullptr); }
void frmmess::setProgressRange(int32_t, int32_t) {}
void frmmess::setProgressValue(int32_t) {}
void frmmess::setMessage2(const std::string&) {}
void frmmess::hide() {}
void frmmess::showModal(HWND) {}

bool frmmain::exists() { return false; }
frmmain& frmmain::instance() { return *static_cast<frmmain*>(nullptr); }
