// The hidden tray form: owns the notification-area icon, its menu, balloons,
// the two timers that drive all automatic work.
#pragma once
#include <windows.h>
#include <shellapi.h>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "base/Window.h"

struct WindowsVersion {
    int major = 0;
    int minor = 0;
    int build = 0;
    bool isNT = true;
};

class frmtray : public Window<frmtray> {
public:
    // Timer ids and their interval.
    static constexpr UINT_PTR startTmr = 1;
    static constexpr UINT_PTR autoTmr = 2;
    static constexpr UINT timerIntervalMs = 60000;
    // After a wake: the first check comes soon, and while the server cannot
    // be reached the next ones come further apart, the last wait repeating.
    static constexpr UINT_PTR wakeTmr = 3;
    static inline UINT wakeCheckDelayMs = 20000;
    static inline std::array<UINT, 4> wakeRetryMs{60000, 120000, 240000, 300000};
    // Shell notifications, as they arrive in the callback's lParam.
    static constexpr UINT notifyLeftUp = 0x202;
    static constexpr UINT notifyRightUp = 0x205;
    static constexpr UINT notifyBalloonClick = 0x405;
    // The keyboard's ways to the icon (Win+B, then Enter or Space, or the
    // menu key): shells that speak version 3 send these too, and follow a
    // mouse's button-up with the matching one (NIN_SELECT, WM_CONTEXTMENU).
    static constexpr UINT notifySelect = 0x400, notifyKeySelect = 0x401;
    static constexpr UINT notifyContextMenu = WM_CONTEXTMENU;
    // The callback message: notifications arrive as mouse moves.
    static constexpr UINT callbackMessage = WM_MOUSEMOVE;
    // The tray window's class, by which a second start finds the first.
    static constexpr const char* className = "QuilloraTray";
    // Posted by a second start: open the library window.
    static UINT showLibraryMessage();

    // The one instance: created (icon added) on first use.
    static frmtray& instance();
    static bool exists();
    // Removes the icon and destroys the form (the orderly stop).
    static void unload();
    // The orderly stop, as start-up gives it: the forms ask for it here.
    static void setExitRoutine(void (*exitRoutine)());
    static void exitProgram();
    // Local time of the last automatic check, as dateToText writes it.
    static inline std::string lastCheckTime;

    void ShowBalloonTip(const std::string& sMessage, const std::string& sTitle = "", int32_t eIcon = 0,
                        double lTimeOutMs = 0);
    void setToolTip(const std::string& sTip);
    HICON IconHandle() const;
    void setIconHandle(HICON hIcon);
    // The form's own icon (the one shown when idle).
    HICON ownIcon() const { return icon_; }

    // Self-update on request (tray menu "&Manager Updates").
    void systemUpdate();
    // True while the message dialog offers an update.
    bool updateOfferOpen() const;

    void enableTimer(UINT_PTR id, bool bEnabled);
    bool timerEnabled(UINT_PTR id) const;

    // Handlers, public so the program's other forms and tests can drive them.
    void onNotify(UINT code);
    void startTmr_Timer();
    void autoCheckTick();
    // WM_POWERBROADCAST, as every top-level window gets it.
    void onPowerBroadcast(WPARAM event);
    void wakeTmr_Timer();
    // Quiet checks still to come on the back-off: after a wake, or after a
    // check fell due while the server could not be reached.
    bool afterWake() const { return wakeTry_ >= 0; }
    void mnushow_Click();
    void mnusearch_Click();
    void mnuopt_Click();
    void mnuex_Click();
    void mnusettings_Click();

    // What the form decided about the shell it talks to.
    bool useUnicodeShell() const { return useUnicodeShell_; }
    bool shellSupportsBalloons() const { return shellSupportsBalloons_; }
    DWORD recordSize() const;
    std::string toolTip() const;  // the tip as last sent to the shell

    // Pure rules, exposed for tests.
    static WindowsVersion getWindowsVersion(DWORD dwVersion);
    static void shellFlags(const WindowsVersion& v, bool& bUnicode, bool& bBalloons);
    static DWORD recordSizeFor(bool bUnicode, bool bBalloons);
    static void copyToBuffer(const std::string& sText, void* pBuffer, size_t cbBuffer);
    // Number of hour boundaries between two OLE dates (absolute).
    static long hourBoundaries(double dtFrom, double dtTo);
    // An automatic check is due iHours boundaries after the last, as
    // lastCheckTime gives it (never when iHours is 0).
    static bool checkFallsDue(const std::string& sLastCheck, double dtNow, int iHours);

private:
    friend Window<frmtray>;
    frmtray();
    ~frmtray();
    static WNDCLASSEXA windowClass();
    LRESULT onMessage(UINT msg, WPARAM wp, LPARAM lp);
    void addIcon();
    void notify(DWORD dwMessage, UINT uFlags);
    void showTrayMenu(bool bAtIcon = false);
    void onTaskbarCreated();

    HICON icon_ = nullptr;
    AutoHicon ownedIcon_;  // icon_ as the form made it
    HMENU sysTMenu_ = nullptr;
    bool useUnicodeShell_ = true;
    bool shellSupportsBalloons_ = true;
    NOTIFYICONDATAW nidW_{};
    NOTIFYICONDATAA nidA_{};
    bool timerOn_[3] = {false, false, false};
    bool iconAdded_ = false;
    bool rightUpSeen_ = false;  // the context-menu notice that follows is the same click's
    int wakeTry_ = -1;          // the wake checks that failed so far; -1 when none is due
    void scheduleWakeCheck(UINT ms);
    // The quiet checks on the back-off begin, the first after ms.
    void startCatchUp(UINT ms);
};
