// The updater's only form. All of its work happens while it loads, before it
// would first be shown; it unloads itself at the end, so the only thing the
// user sees is the closing message box.
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

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

    // The form as load() creates it, hidden and laid out for its monitor's
    // DPI, without the update's work: tests look at it this way.
    explicit frmupdate(HINSTANCE hInstance);
    ~frmupdate();
    frmupdate(const frmupdate&) = delete;
    frmupdate& operator=(const frmupdate&) = delete;
    HWND hwnd() const { return hwnd_; }

private:
    struct FontDeleter {
        void operator()(HFONT f) const { DeleteObject(f); }
    };

    static LRESULT CALLBACK WndProc(HWND, UINT, WPARAM, LPARAM);
    void Form_Load();
    LRESULT Form_DpiChanged(WPARAM, LPARAM);
    void layOut();

    HWND hwnd_ = nullptr;
    HWND label1_ = nullptr;
    UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
    std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter> font_;
};
