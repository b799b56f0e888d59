// The message dialog: the one small window through which the program
// announces, asks, shows delivery progress and offers choices. Created from
// its design on first use, destroyed whenever a button closes it.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>

#include "base/Window.h"

class frmmess : public Window<frmmess> {
public:
    // What a button does: set with its caption when the dialog is filled,
    // so no click depends on how a caption reads.
    enum class Action {
        None,
        Deliver,
        Connect,
        Close,
        Dismiss,
        CancelDelivery,
        ReadHelp,
        Pause,
        Resume,
        Continue,
        Remove,
        Update
    };

    static constexpr int compactHeight = 2265;  // twips, without the delivery-type group
    static constexpr int fullHeight = 3045;     // twips, with it
    static constexpr int pbPausedWidth = 1215;  // twips: uncovers "Cancel"
    static constexpr int pbWidth = 2700;        // twips: covers "Cancel" again

    // The one instance, created from the design when there is none.
    static frmmess& instance();
    static bool exists();
    // Closes the dialog: its window is destroyed; connectAttempts survives.
    static void unload();

    // Failed "Connect..." attempts while the program runs.
    static inline int16_t connectAttempts = 0;

    // lblinf, lblinf2 and the progress bar pb.
    void setMessage(const std::string& sText);
    std::string message() const;
    void setMessage2(const std::string& sText);
    std::string message2() const;
    void showMessage2(bool bVisible);
    void showProgress(bool bVisible);
    bool progressVisible() const;
    void setProgressRange(int32_t lMin, int32_t lMax);
    void setProgressValue(int32_t lValue);
    int32_t progressValue() const;
    void setProgressWidthTwips(int twips);
    int progressWidthTwips() const;

    // Shows or hides a button with its caption; its action is the one that
    // caption has in that place (see actionFor).
    void editButtons(double iButton, bool bEnabled, const std::string& sCapt);
    static Action actionFor(int index, const std::string& sCapt);
    Action buttonAction(int index) const { return actions_[index]; }
    bool offersUpdate() const;
    std::string buttonCaption(int index) const;
    bool buttonVisible(int index) const;
    HWND button(int index) const { return cmdmess_[index]; }

    // Option buttons of the delivery-type group (0 "Normal", 1 "BitTorrent").
    bool optionSelected(int index) const;
    void selectOption(int index);

    void getFileType();
    void cmdmess_Click(int index);
    // The close box: the dialog's own way out.
    void closeBox_Click();
    void optType_Click(int index);

    // Outer height of the window in twips (2265 or 3045).
    void setHeightTwips(int twips);
    int heightTwips() const;

    // Shows the dialog modeless with hOwner (the tray form when null) and
    // brings it to the foreground.
    void show(HWND hOwner = nullptr);
    void hide();
    bool visible() const;
    // A paused delivery holds: the library window takes no input meanwhile.
    bool modal() const { return modal_; }
    void beginHold();
    void endHold();
    void bringToFront();
    // The computer's sleep holds a running delivery as Pause does and says
    // why; its wake lets go of that hold, never of a pause the user made.
    static constexpr const char* sleepNote = "Paused while the computer sleeps.";
    void pauseForSleep();
    void resumeAfterSleep();

private:
    friend Window<frmmess>;
    frmmess();
    ~frmmess();
    static WNDCLASSEXA windowClass();
    LRESULT onMessage(UINT msg, WPARAM wp, LPARAM lp);
    void create();
    void act(Action action);
    void setButton(int index, const std::string& sCapt, Action action);
    void setIcon();
    // The keys to the first button shown, if there is one.
    void focusFirstButton();
    void handOverUpdate();

    HWND pIcon_ = nullptr, lblinf_ = nullptr, lblinf2_ = nullptr, pb_ = nullptr;
    HWND cmdmess_[3] = {};
    HWND focus_ = nullptr;  // the control that had the keyboard when the dialog went inactive
    AutoHfont font_;        // for the window's DPI
    AutoHicon icon_;
    int controlsDpi_ = Dpi::standard;  // the DPI the controls were placed for
    Action actions_[3] = {};
    HWND frame1_ = nullptr, label1_ = nullptr, optType_[2] = {};
    bool modal_ = false;
    bool heldLibrary_ = false;
    bool shownOnce_ = false;
    bool pausedForSleep_ = false;
    void dropSleepNote();
};

// The usual way callers fill the dialog: the message, the three buttons
// (an empty caption hides a button), the height, then show it modeless owned
// by the tray form (or hOwner) and bring it to the foreground.
void showMessageDialog(const std::string& sMessage, const std::string& sButton0, const std::string& sButton1,
                       const std::string& sButton2, int heightTwips = frmmess::compactHeight,
                       HWND hOwner = nullptr);
