// The Settings window: starting with Windows, how often to look for new
// issues, and the library's folder. One instance, opened from the tray menu
// and the library window; a change of folder moves the library as a job of
// the engine, with its progress shown here.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "base/Handles.h"
#include "base/Window.h"

class frmsettings : public Window<frmsettings> {
public:
    static constexpr const char* className = "QuilloraSettings";
    static constexpr const char* placeSection = "Settings window";

    // Creates the window when there is none, shows it and brings it forward.
    static void open();
    static bool exists();
    static frmsettings& instance();  // only while it exists
    // Closes it (the orderly stop): a move under way is cancelled first.
    static void unload();

    // The controls, for the keyboard and for tests.
    HWND chkStart = nullptr, cboEvery = nullptr, txtLibrary = nullptr, cmdChange = nullptr, cmdDocuments = nullptr,
         lblNote = nullptr, pb = nullptr, cmdOK = nullptr, cmdCancel = nullptr;

    // The folder the library goes to on OK (the shown one).
    const std::string& chosenFolder() const { return chosen_; }
    void chooseFolder(const std::string& sFolder);
    std::string note() const;
    bool moving() const { return moving_; }

    void cmdChange_Click();
    void cmdDocuments_Click();
    void cmdOK_Click();
    void cmdCancel_Click();

    // The user's Documents folder.
    static std::string documentsFolder();

private:
    friend Window<frmsettings>;
    frmsettings();
    ~frmsettings();
    static WNDCLASSEXA windowClass();
    LRESULT onMessage(UINT msg, WPARAM wp, LPARAM lp);
    void create();
    void load();
    void close();
    void startMove();
    void moveProgress(int64_t filesDone, int64_t filesTotal);
    void moveEnded(bool bMoved, const std::string& sMessage);
    void enableInput(bool bEnabled);
    void setNote(const std::string& sText);

    AutoHfont font_;
    int controlsDpi_ = Dpi::standard;
    std::string chosen_;
    bool moving_ = false;
    HWND focus_ = nullptr;  // the control that had the keyboard when the window went inactive
};
