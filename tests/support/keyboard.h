// Driving the program as a user at the keyboard does: real key input through
// the system's queue, taken by the program's own main-loop step, and a watch
// that no mouse took part.
#pragma once
#include <windows.h>

#include <functional>
#include <initializer_list>
#include <string>

// Presses the keys in order and lets them go in reverse order, in one
// SendInput: {VK_CONTROL, 'D'} is Ctrl+D. False when the system refused it.
bool pressKeys(std::initializer_list<WORD> keys);

// Runs the thread's messages as the program's main loop does until done()
// holds or ms pass; returns done().
bool loopUntil(const std::function<bool()>& done, int ms = 5000);

// The pop-up menu window this thread shows, if any.
HWND visibleMenu();

// Counts the mouse messages (client and non-client) that windows of this
// thread take from its queue while it lives: those of the mouse, and those
// posted as if from it. The shell's notifications for a tray icon travel as
// a mouse message to its window: give that window and message to leave them
// out. Sent ones are not counted: a button sends itself a press and a
// release for BM_CLICK, which is how the dialog keys choose an option.
class MouseWatch {
public:
    explicit MouseWatch(HWND hNotifyWindow = nullptr, UINT notifyMessage = 0);
    ~MouseWatch();
    MouseWatch(const MouseWatch&) = delete;
    MouseWatch& operator=(const MouseWatch&) = delete;
    // The system moves the pointer over windows that appear under it, and
    // says so with WM_MOUSEMOVE: those count as moves, the rest as buttons.
    int buttons = 0, moves = 0;
    std::string firstButton;  // for the failure message
    bool pointerMoved() const;

private:
    static LRESULT CALLBACK onGetMessage(int code, WPARAM wp, LPARAM lp);
    void count(HWND hwnd, UINT msg);
    HWND notifyWindow_;
    UINT notifyMessage_;
    POINT pointer_{};
    HHOOK hook_ = nullptr;
};

// While it lives, the shell of this process opens files of one type
// (".pdf") with a program that copies each into sFolder, as a program
// installed for the type would open it. That program is a script under the
// script host, which shows no window: a console's window would take the
// foreground and, gone, leave it to no window under Wine without a window
// manager. The classes root is another for this process only, and nothing
// is left in the registry.
class OpenedFiles {
public:
    OpenedFiles(const std::string& sExtension, const std::string& sFolder);
    ~OpenedFiles();
    OpenedFiles(const OpenedFiles&) = delete;
    OpenedFiles& operator=(const OpenedFiles&) = delete;
    // The bytes of the file of that name as opened ("" before).
    std::string content(const std::string& sName) const;

private:
    std::string folder_;
    HKEY root_ = nullptr;
};
