// The updater's only form. All of its work happens while it loads, before it
// would first be shown; it unloads itself at the end, so the only thing the
// user sees is the closing message box.
#pragma once
#include <windows.h>

#include <string>

class frmupdate {
public:
    static constexpr const char* caption = " Tessaly Update";
    static constexpr const char* label1Text = "Please wait...";
    static constexpr const char* doneText = "Update complete.";
    // The text tolv shows when an update fails, for the same failure here.
    static constexpr const char* failedText = "A problem occured whilst updating.";
    // How long the copy waits for the old program to let go of its file;
    // TOLV_TARGET_WAIT_MS may shorten it (tests do), never lengthen it.
    static constexpr DWORD targetWaitMs = 30000;
    static DWORD targetWait();

    // Creates the form, runs the update and unloads the form again.
    static void load(HINSTANCE hInstance);

private:
    explicit frmupdate(HINSTANCE hInstance);
    ~frmupdate();
    frmupdate(const frmupdate&) = delete;
    frmupdate& operator=(const frmupdate&) = delete;

    static LRESULT CALLBACK WndProc(HWND, UINT, WPARAM, LPARAM);
    void Form_Load();

    HWND hwnd_ = nullptr;
    HWND label1_ = nullptr;
    HFONT font_ = nullptr;
};
