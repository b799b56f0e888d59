// driver: finds and works the windows of programs running in the same Wine
// session (or Windows desktop), for end-to-end tests. Prints results on
// stdout; exit code 0 ok, 1 not found or timed out, 2 wrong usage.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int exitOk = 0;
constexpr int exitNotFound = 1;
constexpr int exitUsage = 2;
constexpr DWORD pollMs = 100;
constexpr double defaultWaitSeconds = 10;
constexpr UINT sendTimeoutMs = 2000;
constexpr char messageBoxClass[] = "#32770";
constexpr char popupMenuClass[] = "#32768";
constexpr char trayIconClass[] = "__winex11_tray_icon";
constexpr int messageBoxTextId = 0xFFFF;

const char usage[] =
    "usage: driver [--pid N] [--exe PATH-PART] COMMAND [ARGS]\n"
    "  list                              visible top-level windows: hwnd class pid \"title\"\n"
    "  wait-window WINDOW [SECONDS]      waits for a visible top-level window and prints it\n"
    "  text WINDOW                       child controls: hwnd class id \"text\"\n"
    "  click WINDOW CAPTION              presses the visible child button with that caption\n"
    "  msgbox-text [SECONDS]             text of the platform message box\n"
    "  close-msgbox [CAPTION] [SECONDS]  presses a message box button (the first when none named)\n"
    "  tray NOTIFICATION [INDEX]         posts a mouse message (0x202, 0x205...) to a tray icon\n"
    "  post WINDOW MSG [WPARAM] [LPARAM] posts a message to a window, hidden ones too\n"
    "  click-at WINDOW X Y [double]      a real left click (or double click) at X,Y of the\n"
    "                                    window's client area, the pointer moved there\n"
    "  menu CAPTION [SECONDS]            chooses the item of the open popup menu by its &-key,\n"
    "                                    or \"#N\" for the N-th item (from 1)\n"
    "  balloon-text [SECONDS]            text of the visible balloon tip\n"
    "  wait-exit PID [SECONDS]           waits for a process to end\n"
    "WINDOW is 0xHWND (a child window too for post and click-at), a class name, or part of a title. --pid and --exe keep only\n"
    "the windows of one process (its id, or part of its executable's path).\n";

struct Filter {
    DWORD pid = 0;
    std::string exePart;  // lower case
};
Filter filter;

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(tolower(c)); });
    return s;
}

std::string className(HWND h) {
    char buf[256] = {};
    GetClassNameA(h, buf, sizeof buf);
    return buf;
}

// WM_GETTEXT reaches controls of other processes too (GetWindowText does not).
std::string windowText(HWND h) {
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutA(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, sendTimeoutMs, &len))
        return {};
    std::string s(len + 1, '\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutA(h, WM_GETTEXT, s.size(), reinterpret_cast<LPARAM>(s.data()), SMTO_ABORTIFHUNG,
                        sendTimeoutMs, &got);
    s.resize(std::min<size_t>(got, len));
    return s;
}

DWORD windowPid(HWND h) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return pid;
}

std::string processImage(DWORD pid) {
    HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!p)
        return {};
    char path[MAX_PATH * 2] = {};
    DWORD n = sizeof path;
    if (!QueryFullProcessImageNameA(p, 0, path, &n))
        n = 0;
    CloseHandle(p);
    return std::string(path, n);
}

bool passesFilter(HWND h) {
    if (filter.pid && windowPid(h) != filter.pid)
        return false;
    if (!filter.exePart.empty() &&
        lower(processImage(windowPid(h))).find(filter.exePart) == std::string::npos)
        return false;
    return true;
}

std::vector<HWND> topLevelWindows() {
    std::vector<HWND> all;
    EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return all;
}

std::vector<HWND> childWindows(HWND parent) {
    std::vector<HWND> all;
    EnumChildWindows(
        parent,
        [](HWND h, LPARAM p) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return all;
}

bool matches(HWND h, const std::string& spec) {
    if (spec.rfind("0x", 0) == 0)
        return h == reinterpret_cast<HWND>(static_cast<INT_PTR>(strtoull(spec.c_str(), nullptr, 16)));
    return className(h) == spec || windowText(h).find(spec) != std::string::npos;
}

HWND findTopLevel(const std::string& spec, bool bVisibleOnly = true) {
    for (HWND h : topLevelWindows())
        if ((!bVisibleOnly || IsWindowVisible(h)) && passesFilter(h) && matches(h, spec))
            return h;
    return nullptr;
}

// Polls until find() gives a window or the time is up.
HWND waitFor(const std::function<HWND()>& find, double seconds) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    for (;;) {
        if (HWND h = find())
            return h;
        if (GetTickCount64() >= deadline)
            return nullptr;
        Sleep(pollMs);
    }
}

std::string handleText(HWND h) {
    char buf[32];
    snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(h)));
    return buf;
}

void printWindow(HWND h) {
    printf("%s %s %lu \"%s\"\n", handleText(h).c_str(), className(h).c_str(), windowPid(h),
           windowText(h).c_str());
}

std::string withoutAmpersands(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), '&'), s.end());
    return s;
}

HWND findButton(HWND parent, const std::string& caption) {
    for (HWND c : childWindows(parent)) {
        if (!IsWindowVisible(c) || lower(className(c)) != "button")
            continue;
        if (caption.empty() || withoutAmpersands(windowText(c)) == withoutAmpersands(caption))
            return c;
    }
    return nullptr;
}

// Posting the notification the parent would get keeps us from blocking when
// the click opens a modal box in the target.
void pressButton(HWND button) {
    PostMessageA(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
}

double secondsArg(const std::vector<std::string>& args, size_t i) {
    return i < args.size() ? atof(args[i].c_str()) : defaultWaitSeconds;
}

UINT_PTR numberArg(const std::string& s) {
    return static_cast<UINT_PTR>(strtoull(s.c_str(), nullptr, 0));
}

HWND findMessageBox() {
    return findTopLevel(messageBoxClass);
}

std::string messageBoxText(HWND box) {
    if (HWND text = GetDlgItem(box, messageBoxTextId))
        return windowText(text);
    std::string all;
    for (HWND c : childWindows(box))
        if (lower(className(c)) == "static" && !windowText(c).empty())
            all += windowText(c) + "\n";
    return all;
}

// Wine's tray: one child window per icon in the "Wine System Tray" window, or
// top-level icon windows when an XEMBED tray docks them; ordered left to right.
std::vector<HWND> trayIcons() {
    std::vector<HWND> icons;
    for (HWND top : topLevelWindows()) {
        if (className(top) == trayIconClass && IsWindowVisible(top))
            icons.push_back(top);
        for (HWND c : childWindows(top))
            if (className(c) == trayIconClass && IsWindowVisible(c))
                icons.push_back(c);
    }
    std::sort(icons.begin(), icons.end(), [](HWND a, HWND b) {
        RECT ra, rb;
        GetWindowRect(a, &ra);
        GetWindowRect(b, &rb);
        return ra.left < rb.left;
    });
    return icons;
}

HWND findBalloon() {
    for (HWND h : topLevelWindows())
        if (IsWindowVisible(h) && className(h) == TOOLTIPS_CLASSA && !windowText(h).empty())
            return h;
    return nullptr;
}

int cmdList() {
    for (HWND h : topLevelWindows())
        if (IsWindowVisible(h) && passesFilter(h))
            printWindow(h);
    return exitOk;
}

int cmdWaitWindow(const std::vector<std::string>& a) {
    HWND h = waitFor([&] { return findTopLevel(a[0]); }, secondsArg(a, 1));
    if (!h)
        return exitNotFound;
    printWindow(h);
    return exitOk;
}

int cmdText(const std::vector<std::string>& a) {
    HWND h = findTopLevel(a[0]);
    if (!h)
        return exitNotFound;
    for (HWND c : childWindows(h))
        printf("%s %s %d \"%s\"\n", handleText(c).c_str(), className(c).c_str(), GetDlgCtrlID(c),
               windowText(c).c_str());
    return exitOk;
}

int cmdClick(const std::vector<std::string>& a) {
    HWND h = findTopLevel(a[0]);
    HWND button = h ? findButton(h, a[1]) : nullptr;
    if (!button)
        return exitNotFound;
    pressButton(button);
    return exitOk;
}

int cmdMsgboxText(const std::vector<std::string>& a) {
    HWND box = waitFor(findMessageBox, secondsArg(a, 0));
    if (!box)
        return exitNotFound;
    printf("%s\n", messageBoxText(box).c_str());
    return exitOk;
}

int cmdCloseMsgbox(const std::vector<std::string>& a) {
    const std::string caption = a.empty() ? "" : a[0];
    HWND box = waitFor(findMessageBox, secondsArg(a, 1));
    HWND button = box ? findButton(box, caption) : nullptr;
    if (!button)
        return exitNotFound;
    pressButton(button);
    return exitOk;
}

int cmdTray(const std::vector<std::string>& a) {
    const UINT msg = static_cast<UINT>(numberArg(a[0]));
    // Wine's icon window relays mouse messages only; the rest (a balloon
    // click, 0x405) never reaches the owner through it.
    if (msg < WM_MOUSEFIRST || msg > WM_MOUSELAST) {
        fprintf(stderr,
                "Wine's tray icon relays mouse messages only; post the callback to the owner instead\n");
        return exitUsage;
    }
    std::vector<HWND> icons = trayIcons();
    if (icons.empty())
        return exitNotFound;
    const size_t index = a.size() > 1 ? numberArg(a[1]) : icons.size() - 1;
    if (index >= icons.size())
        return exitNotFound;
    RECT r;
    GetClientRect(icons[index], &r);
    PostMessageA(icons[index], msg, 0, MAKELPARAM(r.right / 2, r.bottom / 2));
    printWindow(icons[index]);
    return exitOk;
}

// A handle names any window, a child control too: "text" prints them.
HWND findAnyWindow(const std::string& spec) {
    if (spec.rfind("0x", 0) == 0) {
        HWND h = reinterpret_cast<HWND>(static_cast<INT_PTR>(strtoull(spec.c_str(), nullptr, 16)));
        return IsWindow(h) ? h : nullptr;
    }
    return findTopLevel(spec, false);
}

int cmdPost(const std::vector<std::string>& a) {
    HWND h = findAnyWindow(a[0]);
    if (!h)
        return exitNotFound;
    const WPARAM wp = a.size() > 2 ? numberArg(a[2]) : 0;
    const LPARAM lp = a.size() > 3 ? static_cast<LPARAM>(numberArg(a[3])) : 0;
    return PostMessageA(h, static_cast<UINT>(numberArg(a[1])), wp, lp) ? exitOk : exitNotFound;
}

// A popup menu's items live in the owner's process and cannot be read from
// here, so items are chosen the way the keyboard does it: the menu loop of
// the owner's thread takes keys posted to the menu window.
// Through the input queue, not a posted message: the target sees the pointer
// where the click is (GetCursorPos), as some controls' handlers ask it.
int cmdClickAt(const std::vector<std::string>& a) {
    HWND h = findAnyWindow(a[0]);
    if (!h || !IsWindowVisible(h))
        return exitNotFound;
    POINT pt{atoi(a[1].c_str()), atoi(a[2].c_str())};
    ClientToScreen(h, &pt);
    if (!SetCursorPos(pt.x, pt.y))
        return exitNotFound;
    const int clicks = a.size() > 3 && a[3] == "double" ? 2 : 1;
    for (int i = 0; i < clicks; ++i) {
        INPUT in[2] = {};
        in[0].type = in[1].type = INPUT_MOUSE;
        in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        if (SendInput(2, in, sizeof(INPUT)) != 2)
            return exitNotFound;
    }
    return exitOk;
}

int cmdMenu(const std::vector<std::string>& a) {
    const std::string& caption = a[0];
    HWND menu = waitFor([] { return findTopLevel(popupMenuClass); }, secondsArg(a, 1));
    if (!menu)
        return exitNotFound;
    if (caption.size() > 1 && caption[0] == '#') {
        const int n = atoi(caption.c_str() + 1);
        if (n < 1)
            return exitUsage;
        for (int i = 0; i < n; ++i) PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
        return exitOk;
    }
    const size_t amp = caption.find('&');
    if (amp == std::string::npos || amp + 1 >= caption.size()) {
        fprintf(stderr, "give the caption with its &-key (E&xit) or #N\n");
        return exitUsage;
    }
    PostMessageA(menu, WM_CHAR, static_cast<unsigned char>(caption[amp + 1]), 0);
    return exitOk;
}

int cmdBalloonText(const std::vector<std::string>& a) {
    HWND h = waitFor(findBalloon, secondsArg(a, 0));
    if (!h)
        return exitNotFound;
    printf("%s\n", windowText(h).c_str());
    return exitOk;
}

int cmdWaitExit(const std::vector<std::string>& a) {
    HANDLE p = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(numberArg(a[0])));
    if (!p)
        return exitOk;  // already gone
    const DWORD r = WaitForSingleObject(p, static_cast<DWORD>(secondsArg(a, 1) * 1000));
    CloseHandle(p);
    return r == WAIT_OBJECT_0 ? exitOk : exitNotFound;
}

struct Command {
    const char* name;
    size_t minArgs;
    int (*run)(const std::vector<std::string>&);
};

const Command commands[] = {
    {"list", 0, [](const std::vector<std::string>&) { return cmdList(); }},
    {"wait-window", 1, cmdWaitWindow},
    {"text", 1, cmdText},
    {"click", 2, cmdClick},
    {"msgbox-text", 0, cmdMsgboxText},
    {"close-msgbox", 0, cmdCloseMsgbox},
    {"tray", 1, cmdTray},
    {"post", 2, cmdPost},
    {"click-at", 3, cmdClickAt},
    {"menu", 1, cmdMenu},
    {"balloon-text", 0, cmdBalloonText},
    {"wait-exit", 1, cmdWaitExit},
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    while (args.size() >= 2 && (args[0] == "--pid" || args[0] == "--exe")) {
        if (args[0] == "--pid")
            filter.pid = static_cast<DWORD>(numberArg(args[1]));
        else
            filter.exePart = lower(args[1]);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) {
        fputs(usage, stderr);
        return exitUsage;
    }
    for (const Command& c : commands) {
        if (args[0] != c.name)
            continue;
        args.erase(args.begin());
        if (args.size() < c.minArgs) {
            fputs(usage, stderr);
            return exitUsage;
        }
        const int rc = c.run(args);
        fflush(stdout);
        return rc;
    }
    fputs(usage, stderr);
    return exitUsage;
}
