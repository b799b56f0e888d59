// The library window: the issue list on top, the library tree and file list
// below, the toolbars, the status bar with its progress bar. Created once,
// hidden instead of closed until the orderly stop.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/Handles.h"
#include "base/Window.h"

class cSplitter;

class frmmain : public Window<frmmain> {
public:
    // Toolbar buttons of tb (1-based, as the program numbers them).
    static constexpr int tbNewMagazines = 1, tbDeliver = 2, tbRemove = 3, tbClose = 4, tbHelp = 5;
    // Columns of lv (sub-item indexes).
    static constexpr int colTitle = 0, colIssue = 1, colMagazine = 2, colStatus = 3, colSize = 4, colRecord = 5;
    // Columns of lvl.
    static constexpr int colDate = 2, colLocation = 3;

    static constexpr const char* placeSection = "Library window";
    // The one window; created hidden on first use.
    static frmmain& instance();
    static bool exists();
    // Lets the close through and destroys the window (the orderly stop).
    static void unload();

    // Controls, under the names the rest of the program uses.
    HWND tb = nullptr, tb2 = nullptr, stat = nullptr, pb = nullptr;
    HWND picSplitMain = nullptr, picSplitSub = nullptr;
    HWND lv = nullptr, tv = nullptr, lvl = nullptr;

    std::unique_ptr<cSplitter> m_cSplitMain, m_cSplitSub;
    float lvSortToggle = 0, lvlSortToggle = 0;
    int32_t tickedCount = 0;
    std::string selectedLocation;

    // The window's own icon (also shown in the tray during transfers).
    HICON icon() const { return icon_; }

    // Create if needed, restore when minimized, show and bring to the front.
    void open();
    // The window's keys (the toolbar's commands, Tab between the lists):
    // true when msg was one of them and has been handled.
    bool translateKey(MSG& msg);
    bool visible() const;
    // Remembers where and how large the window is shown (not while hidden or minimized).
    void keepPlace();

    void setStatusPanel(int16_t iPanel, const std::string& sText);
    std::string statusPanel(int16_t iPanel) const;
    void enableButton(int iButton, bool bEnabled);
    bool buttonEnabled(int iButton) const;

    // Help menu.
    void mnuOnHelp_Click();
    void mnuup_Click();
    void mnAbout_Click();
    // Opens data\quillora.log with the program the shell gives text files.
    void mnuLog_Click();

    // Issue list and its commands, a view of the issue model. Buttons are
    // numbered from 1, items and columns (sub-items) from 0.
    void tb_ButtonClick(int iButton);
    bool getLstTick();
    void setLstTick();
    void setTick();
    bool deliverAll();
    bool removeAll();
    void removeMag();
    // Number of ticked entries; also kept in tickedCount.
    int32_t countTicked();
    // Shows the model as it is now.
    void refreshIssues();
    // Appends one entry (as the check makes it) and returns its index.
    int addIssueEntry(const std::string& sKey, const std::string& sTitle, const std::string& sIssue,
                      const std::string& sMagazine, const std::string& sSize, const std::string& sRecord);
    int findIssueByKey(const std::string& sKey) const;
    void selectIssue(int index);
    void removeIssue(int index);
    void clearIssues();
    int issueCount() const;
    std::string issueText(int index, int iColumn) const;
    void sortIssues(int iColumn, bool bDescending);
    void lv_ColumnClick(int iColumn);
    void lv_ItemClick(int index);
    void lvmen_Popup();
    HMENU issueMenu() const { return lvmen_; }

    // Delivered-issues view: the folder tree of both libraries, and the
    // issue files of the folder sPath (relative to the program folder).
    void buildLibraryTree();
    void fillLibraryList(const std::string& sPath);
    void tv_NodeClick(HTREEITEM hNode);
    std::string nodeFullPath(HTREEITEM hNode) const;
    void lvl_ColumnClick(int iColumn);
    void lvl_ItemClick(int index);
    void lvl_DblClick();
    void tb2_ButtonClick(int iButton);
    void sortLibrary(int iColumn, bool bDescending);

private:
    friend Window<frmmain>;
    frmmain();
    ~frmmain();
    static WNDCLASSEXA windowClass();
    LRESULT onMessage(UINT msg, WPARAM wp, LPARAM lp);
    LRESULT onNotify(NMHDR* hdr);
    static LRESULT CALLBACK SplitBoxProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT onSplitBox(HWND box, UINT msg, WPARAM wp, LPARAM lp);
    void onCommand(int id);
    void create();
    void createControls();
    // Names for the controls that show none, read by screen readers.
    void nameControls();
    void load();
    void layout();
    void layoutStatusBar();
    void sizeStatusBar();
    void makePictures();
    void applyDpi();
    void placeProgressBar();
    void placeSmallToolbar();
    void popupMenu(HMENU menu, const POINT* at = nullptr);
    void lvmen_PopupAtSelection();
    void issueDisplayInfo(NMLVDISPINFOW* info);

    HICON icon_ = nullptr;
    HMENU mnHelp_ = nullptr, lvmen_ = nullptr;
    AutoHmenu menuOwner_;  // holds both pop-up menus
    AutoHaccel keys_;      // the toolbar's keys
    HWND focus_ = nullptr;  // the control that had the keyboard when the window went inactive
    AutoHimagelist imgl32_, imgl16t_, imgl16_;
    AutoHfont font_;  // for the window's DPI
    AutoHicon bigIcon_, smallIcon_, trayIcon_;  // the window's own, for its DPI
    bool allowClose_ = false;
    std::wstring shownText_;  // what the list last asked for, kept until it asks again
};
