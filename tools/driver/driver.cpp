// driver: finds and works the windows of programs running in the same Wine
// session (or Windows desktop), for end-to-end tests. Prints results on
// stdout; exit code 0 ok, 1 not found or timed out, 2 wrong usage.
#include <windows.h>

#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "text/Text.h"
#include "work/LibraryMove.h"

namespace {

constexpr int exitOk = 0;
constexpr int exitNotFound = 1;
constexpr int exitUsage = 2;
constexpr DWORD pollMs = 100;
constexpr DWORD finePollMs = 5;
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
    "  balloon-time [SECONDS]            waits for a balloon, looking every 5 ms, and prints the\n"
    "                                    system time it was seen (Unix seconds), then its text\n"
    "  items WINDOW COLUMN               rows of the list view that has a column headed COLUMN:\n"
    "                                    the headings, then one line per item, cells\n"
    "                                    tab-separated, \"[x] \" or \"[ ] \" before a ticked or\n"
    "                                    unticked item\n"
    "  tree WINDOW                       full paths of the tree view's nodes, \"*\" before the\n"
    "                                    selected one\n"
    "  tree-click WINDOW PATH            clicks the tree view node with that full path,\n"
    "                                    expanding its parents first\n"
    "  status WINDOW                     the status bar's panels, one a line\n"
    "  wait-exit PID [SECONDS]           waits for a process to end\n"
    "  names WINDOW [CLASS...]           the accessible (MSAA) name of every control that takes\n"
    "                                    the focus, and of each toolbar button, one a line:\n"
    "                                    class id \"name\"; fails when a name is empty. Windows\n"
    "                                    of the CLASSes are named too, though they take no focus\n"
    "  move-library FROM TO [--lock REL] moves the library in FROM to TO (the move is recorded at\n"
    "                                    once) and prints files, bytes, seconds and the message;\n"
    "                                    --lock holds FROM\\REL open, shared with nobody, meanwhile\n"
    "WINDOW is 0xHWND (a child window too for post and click-at), a class name, or part of a title.\n"
    "--pid and --exe keep only the windows of one process (its id, or part of its executable's path).\n"
    "items, tree, tree-click, status and names need a target of the driver's own bitness.\n";

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
    wchar_t path[MAX_PATH * 2] = {};
    DWORD n = MAX_PATH * 2;
    if (!QueryFullProcessImageNameW(p, 0, path, &n))
        n = 0;
    CloseHandle(p);
    std::string s(n * 3, '\0');  // UTF-8, as the arguments it is compared with
    s.resize(WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(n), s.data(), static_cast<int>(s.size()),
                                 nullptr, nullptr));
    return s;
}

bool passesFilter(HWND h) {
    if (filter.pid && windowPid(h) != filter.pid)
        return false;
    if (!filter.exePart.empty() &&
        lower(processImage(windowPid(h))).find(filter.exePart) == std::string::npos)
        return false;
    return true;
}

// A window enumeration callback must be stdcall on i686, which a lambda is not.
BOOL CALLBACK collectWindow(HWND h, LPARAM p) {
    reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
    return TRUE;
}

std::vector<HWND> topLevelWindows() {
    std::vector<HWND> all;
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&all));
    return all;
}

std::vector<HWND> childWindows(HWND parent) {
    std::vector<HWND> all;
    EnumChildWindows(parent, collectWindow, reinterpret_cast<LPARAM>(&all));
    return all;
}

bool matches(HWND h, const std::string& window) {
    if (window.rfind("0x", 0) == 0)
        return h == reinterpret_cast<HWND>(static_cast<INT_PTR>(strtoull(window.c_str(), nullptr, 16)));
    return className(h) == window || windowText(h).find(window) != std::string::npos;
}

HWND findTopLevel(const std::string& window, bool bVisibleOnly = true) {
    for (HWND h : topLevelWindows())
        if ((!bVisibleOnly || IsWindowVisible(h)) && passesFilter(h) && matches(h, window))
            return h;
    return nullptr;
}

// Polls until find() gives a window or the time is up.
HWND waitFor(const std::function<HWND()>& find, double seconds, DWORD everyMs = pollMs) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    for (;;) {
        if (HWND h = find())
            return h;
        if (GetTickCount64() >= deadline)
            return nullptr;
        Sleep(everyMs);
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
// the click opens a modal box in the target. Option and check boxes change
// their own state on a click, so they get a posted BM_CLICK instead.
void pressButton(HWND button) {
    switch (GetWindowLongPtrA(button, GWL_STYLE) & BS_TYPEMASK) {
        case BS_AUTORADIOBUTTON:
        case BS_AUTOCHECKBOX:
        case BS_AUTO3STATE:
            PostMessageA(button, BM_CLICK, 0, 0);
            return;
    }
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
HWND findAnyWindow(const std::string& target) {
    if (target.rfind("0x", 0) == 0) {
        HWND h = reinterpret_cast<HWND>(static_cast<INT_PTR>(strtoull(target.c_str(), nullptr, 16)));
        return IsWindow(h) ? h : nullptr;
    }
    return findTopLevel(target, false);
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

// For benchmarks that time tolv against a clock outside Wine: the precise
// system time is the host's own (GetSystemTimePreciseAsFileTime is newer
// than the platform we build for, so it is looked up).
double unixSecondsNow() {
    using PreciseTime = void(WINAPI*)(LPFILETIME);
    static const auto precise = reinterpret_cast<PreciseTime>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
    FILETIME ft;
    (precise ? precise : GetSystemTimeAsFileTime)(&ft);
    const ULONGLONG ticks = (ULONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    constexpr ULONGLONG unixEpoch = 116444736000000000ULL;  // 1970-01-01 in 100 ns since 1601
    return double(ticks - unixEpoch) / 1e7;
}

int cmdBalloonTime(const std::vector<std::string>& a) {
    HWND h = waitFor(findBalloon, secondsArg(a, 0), finePollMs);
    if (!h)
        return exitNotFound;
    const double seen = unixSecondsNow();
    printf("%.6f\n%s\n", seen, windowText(h).c_str());
    return exitOk;
}

// List views, tree views and status bars take their records and text
// buffers by pointer, so these must live in the process the control runs in.
class RemoteBuffer {
public:
    static constexpr size_t recordSize = 256;
    static constexpr size_t textSize = 2048;
    explicit RemoteBuffer(HWND control) {
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, windowPid(control));
        if (process_)
            base_ = static_cast<char*>(
                VirtualAllocEx(process_, nullptr, recordSize + textSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
    ~RemoteBuffer() {
        if (base_)
            VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
        if (process_)
            CloseHandle(process_);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;
    bool ok() const { return base_ != nullptr; }
    LPARAM record() const { return reinterpret_cast<LPARAM>(base_); }
    char* text() const { return base_ + recordSize; }
    template <class T>
    bool putRecord(const T& r) const {
        static_assert(sizeof(T) <= recordSize);
        return WriteProcessMemory(process_, base_, &r, sizeof r, nullptr);
    }
    template <class T>
    T getRecord() const {
        T r{};
        ReadProcessMemory(process_, base_, &r, sizeof r, nullptr);
        return r;
    }
    std::string getText() const {
        std::string s(textSize, '\0');
        if (!ReadProcessMemory(process_, text(), s.data(), s.size(), nullptr))
            return {};
        s.resize(strnlen(s.data(), s.size()));
        return s;
    }
    // The buffer as a wide text, printed as UTF-8: names the code page cannot hold.
    std::string getWideText() const {
        std::wstring w(textSize / sizeof(wchar_t), L'\0');
        if (!ReadProcessMemory(process_, text(), w.data(), w.size() * sizeof(wchar_t), nullptr))
            return {};
        w.resize(wcsnlen(w.data(), w.size() - 1));
        std::string s(w.size() * 3, '\0');
        s.resize(WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(),
                                     static_cast<int>(s.size()), nullptr, nullptr));
        return s;
    }
    // Sends a message whose lParam is the record and returns the text buffer.
    std::string ask(HWND control, UINT msg, WPARAM wp) const {
        const char nothing = 0;
        WriteProcessMemory(process_, text(), &nothing, 1, nullptr);
        DWORD_PTR result = 0;
        SendMessageTimeoutA(control, msg, wp, record(), SMTO_ABORTIFHUNG, sendTimeoutMs, &result);
        return getText();
    }
    std::string askWide(HWND control, UINT msg, WPARAM wp) const {
        const wchar_t nothing = 0;
        WriteProcessMemory(process_, text(), &nothing, sizeof nothing, nullptr);
        DWORD_PTR result = 0;
        SendMessageTimeoutW(control, msg, wp, record(), SMTO_ABORTIFHUNG, sendTimeoutMs, &result);
        return getWideText();
    }
    // Sends a message whose lParam is the text buffer itself.
    std::string askWideText(HWND control, UINT msg, WPARAM wp) const {
        const wchar_t nothing = 0;
        WriteProcessMemory(process_, text(), &nothing, sizeof nothing, nullptr);
        DWORD_PTR result = 0;
        SendMessageTimeoutW(control, msg, wp, reinterpret_cast<LPARAM>(text()), SMTO_ABORTIFHUNG, sendTimeoutMs,
                            &result);
        return getWideText();
    }

private:
    HANDLE process_ = nullptr;
    char* base_ = nullptr;
};

LRESULT sendTo(HWND h, UINT msg, WPARAM wp = 0, LPARAM lp = 0) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(h, msg, wp, lp, SMTO_ABORTIFHUNG, sendTimeoutMs, &result);
    return static_cast<LRESULT>(result);
}

std::vector<HWND> childrenOfClass(HWND parent, const char* cls) {
    std::vector<HWND> out;
    for (HWND c : childWindows(parent))
        if (lower(className(c)) == lower(cls))
            out.push_back(c);
    return out;
}

std::vector<std::string> listHeadings(HWND lv, const RemoteBuffer& buf) {
    std::vector<std::string> out;
    HWND header = reinterpret_cast<HWND>(sendTo(lv, LVM_GETHEADER));
    const int n = header ? static_cast<int>(sendTo(header, HDM_GETITEMCOUNT)) : 0;
    for (int i = 0; i < n; ++i) {
        HDITEMA item{};
        item.mask = HDI_TEXT;
        item.pszText = buf.text();
        item.cchTextMax = RemoteBuffer::textSize;
        buf.putRecord(item);
        out.push_back(buf.ask(header, HDM_GETITEMA, i));
    }
    return out;
}

int cmdItems(const std::vector<std::string>& a) {
    HWND h = findTopLevel(a[0]);
    if (!h)
        return exitNotFound;
    for (HWND lv : childrenOfClass(h, WC_LISTVIEWA)) {
        RemoteBuffer buf(lv);
        if (!buf.ok())
            return exitNotFound;
        const std::vector<std::string> headings = listHeadings(lv, buf);
        if (std::find(headings.begin(), headings.end(), a[1]) == headings.end())
            continue;
        std::string line;
        for (const std::string& heading : headings) {
            if (!line.empty())
                line += '\t';
            line += heading;
        }
        printf("%s\n", line.c_str());
        const int n = static_cast<int>(sendTo(lv, LVM_GETITEMCOUNT));
        for (int i = 0; i < n; ++i) {
            const auto tick = (sendTo(lv, LVM_GETITEMSTATE, i, LVIS_STATEIMAGEMASK) & LVIS_STATEIMAGEMASK) >> 12;
            line = tick == 2 ? "[x] " : tick == 1 ? "[ ] " : "";
            for (size_t col = 0; col < headings.size(); ++col) {
                LVITEMW item{};
                item.iSubItem = static_cast<int>(col);
                item.pszText = reinterpret_cast<wchar_t*>(buf.text());
                item.cchTextMax = RemoteBuffer::textSize / sizeof(wchar_t);
                buf.putRecord(item);
                if (col)
                    line += '\t';
                line += buf.askWide(lv, LVM_GETITEMTEXTW, i);
            }
            printf("%s\n", line.c_str());
        }
        return exitOk;
    }
    return exitNotFound;
}

std::string nodeText(HWND tv, HTREEITEM node, const RemoteBuffer& buf) {
    TVITEMW item{};
    item.mask = TVIF_TEXT | TVIF_HANDLE;
    item.hItem = node;
    item.pszText = reinterpret_cast<wchar_t*>(buf.text());
    item.cchTextMax = RemoteBuffer::textSize / sizeof(wchar_t);
    buf.putRecord(item);
    return buf.askWide(tv, TVM_GETITEMW, 0);
}

HTREEITEM nextNode(HWND tv, HTREEITEM node, UINT how) {
    return reinterpret_cast<HTREEITEM>(sendTo(tv, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(node)));
}

// Every node with its full path, depth first.
std::vector<std::pair<HTREEITEM, std::string>> treeNodes(HWND tv, const RemoteBuffer& buf) {
    std::vector<std::pair<HTREEITEM, std::string>> out;
    std::function<void(HTREEITEM, const std::string&)> walk = [&](HTREEITEM first, const std::string& prefix) {
        for (HTREEITEM n = first; n; n = nextNode(tv, n, TVGN_NEXT)) {
            out.emplace_back(n, prefix + nodeText(tv, n, buf));
            walk(nextNode(tv, n, TVGN_CHILD), out.back().second + "\\");
        }
    };
    walk(nextNode(tv, nullptr, TVGN_ROOT), "");
    return out;
}

HWND findTree(const std::string& window) {
    HWND h = findTopLevel(window);
    std::vector<HWND> trees = h ? childrenOfClass(h, WC_TREEVIEWA) : std::vector<HWND>{};
    return trees.empty() ? nullptr : trees[0];
}

int cmdTree(const std::vector<std::string>& a) {
    HWND tv = findTree(a[0]);
    if (!tv)
        return exitNotFound;
    RemoteBuffer buf(tv);
    if (!buf.ok())
        return exitNotFound;
    HTREEITEM selected = nextNode(tv, nullptr, TVGN_CARET);
    for (const auto& [node, path] : treeNodes(tv, buf))
        printf("%s%s\n", node == selected ? "*" : "", path.c_str());
    return exitOk;
}

// The pointer is put on the node as well, for programs that hit-test where
// the cursor is rather than where the message says.
int cmdTreeClick(const std::vector<std::string>& a) {
    HWND tv = findTree(a[0]);
    if (!tv)
        return exitNotFound;
    RemoteBuffer buf(tv);
    if (!buf.ok())
        return exitNotFound;
    for (const auto& [node, path] : treeNodes(tv, buf)) {
        if (path != a[1])
            continue;
        // A user opens the parents first; a hidden node has no rectangle.
        sendTo(tv, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(node));
        // TVM_GETITEMRECT takes the node's handle in the rectangle it fills.
        RECT r{};
        static_assert(sizeof node <= sizeof r);
        memcpy(&r, &node, sizeof node);
        buf.putRecord(r);
        if (!sendTo(tv, TVM_GETITEMRECT, TRUE, buf.record()))
            return exitNotFound;
        r = buf.getRecord<RECT>();
        POINT pt{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        POINT screen = pt;
        ClientToScreen(tv, &screen);
        SetCursorPos(screen.x, screen.y);
        PostMessageA(tv, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(pt.x, pt.y));
        PostMessageA(tv, WM_LBUTTONUP, 0, MAKELPARAM(pt.x, pt.y));
        return exitOk;
    }
    return exitNotFound;
}

int cmdStatus(const std::vector<std::string>& a) {
    HWND h = findTopLevel(a[0]);
    std::vector<HWND> bars = h ? childrenOfClass(h, STATUSCLASSNAMEA) : std::vector<HWND>{};
    if (bars.empty())
        return exitNotFound;
    RemoteBuffer buf(bars[0]);
    if (!buf.ok())
        return exitNotFound;
    const int n = static_cast<int>(sendTo(bars[0], SB_GETPARTS));
    for (int i = 0; i < n; ++i) {
        if (LOWORD(sendTo(bars[0], SB_GETTEXTLENGTHA, i)) >= RemoteBuffer::textSize)
            return exitNotFound;
        DWORD_PTR result = 0;
        SendMessageTimeoutA(bars[0], SB_GETTEXTA, i, reinterpret_cast<LPARAM>(buf.text()), SMTO_ABORTIFHUNG,
                            sendTimeoutMs, &result);
        printf("%s\n", buf.getText().c_str());
    }
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

int cmdMoveLibrary(const std::vector<std::string>& a) {
    HANDLE locked = INVALID_HANDLE_VALUE;
    if (a.size() >= 4 && a[2] == "--lock") {
        // As a reader that opened the file without sharing it would hold it.
        locked = CreateFileW(Text::wide(a[0] + "\\" + a[3]).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (locked == INVALID_HANDLE_VALUE) {
            fprintf(stderr, "driver: cannot open %s (error %lu)\n", a[3].c_str(), GetLastError());
            return exitUsage;
        }
    } else if (a.size() != 2) {
        fputs(usage, stderr);
        return exitUsage;
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    long long reports = 0;
    const LibraryMove::Result r = LibraryMove::move(
        a[0], a[1], [] { return true; }, [&reports](const LibraryMove::Progress&) { ++reports; }, nullptr);
    QueryPerformanceCounter(&end);
    if (locked != INVALID_HANDLE_VALUE)
        CloseHandle(locked);
    printf("files %lld\nbytes %lld\nseconds %.3f\nprogress-reports %lld\nmoved %s\nmessage %s\n",
           static_cast<long long>(r.files), static_cast<long long>(r.bytes),
           static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart), reports,
           r.moved ? "yes" : "no", r.message.c_str());
    for (const std::string& path : r.leftBehind)
        printf("left-behind %s\n", path.c_str());
    return r.moved ? exitOk : exitNotFound;
}

std::string utf8(const wchar_t* w, size_t n) {
    std::string s(n * 3, '\0');
    s.resize(WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(n), s.data(), static_cast<int>(s.size()), nullptr,
                                 nullptr));
    return s;
}

// A name as a screen reader asks it: from the window's accessible object,
// the one the control gives or the platform's own. CHILDID_SELF names the
// window, 1 and on its child elements (toolbar buttons).
std::string accessibleName(HWND h, LONG child) {
    IAccessible* acc = nullptr;
    if (FAILED(AccessibleObjectFromWindow(h, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                          reinterpret_cast<void**>(&acc))) ||
        !acc)
        return {};
    VARIANT id;
    VariantInit(&id);
    id.vt = VT_I4;
    id.lVal = child;
    BSTR name = nullptr;
    std::string out;
    if (acc->get_accName(id, &name) == S_OK && name)
        out = utf8(name, SysStringLen(name));
    SysFreeString(name);
    acc->Release();
    return out;
}

// Controls reached by Tab, and the other option buttons of a group, which
// the arrow keys reach.
bool takesFocus(HWND h) {
    if (!IsWindowVisible(h) || !IsWindowEnabled(h))
        return false;
    const LONG_PTR style = GetWindowLongPtrA(h, GWL_STYLE);
    if (style & WS_TABSTOP)
        return true;
    const LONG_PTR type = style & BS_TYPEMASK;
    return lower(className(h)) == "button" && (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON);
}

// A button's name where the accessible object has none for it: its caption,
// else the tip its tool-tip control shows (which the toolbar's owner gives).
std::string toolbarButtonText(HWND toolbar, int idCommand, const RemoteBuffer& buf, std::string& how) {
    const LRESULT length = sendTo(toolbar, TB_GETBUTTONTEXTW, static_cast<WPARAM>(idCommand));  // no buffer: its length
    if (length > 0 && static_cast<size_t>(length) < RemoteBuffer::textSize / sizeof(wchar_t)) {
        how = "caption";
        return buf.askWideText(toolbar, TB_GETBUTTONTEXTW, static_cast<WPARAM>(idCommand));
    }
    HWND tips = reinterpret_cast<HWND>(sendTo(toolbar, TB_GETTOOLTIPS));
    if (!tips)
        return {};
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = toolbar;
    tool.uId = static_cast<UINT_PTR>(idCommand);
    tool.lpszText = reinterpret_cast<wchar_t*>(buf.text());
    buf.putRecord(tool);
    how = "tip";
    return buf.askWide(tips, TTM_GETTEXTW, RemoteBuffer::textSize / sizeof(wchar_t));
}

int cmdNames(const std::vector<std::string>& a) {
    HWND top = findTopLevel(a[0]);
    if (!top)
        return exitNotFound;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return exitNotFound;
    int rc = exitOk;
    auto report = [&rc](const std::string& cls, long id, const std::string& name, const std::string& how) {
        printf("%s %ld \"%s\"%s\n", cls.c_str(), id, name.c_str(),
               how.empty() ? "" : ("  (not through MSAA: " + how + ")").c_str());
        if (name.empty())
            rc = exitNotFound;
    };
    for (HWND c : childWindows(top)) {
        const std::string cls = className(c);
        const bool named = std::find(a.begin() + 1, a.end(), cls) != a.end();
        if (IsWindowVisible(c) && (takesFocus(c) || named))
            report(cls, GetDlgCtrlID(c), accessibleName(c, CHILDID_SELF), "");
        if (lower(cls) != lower(TOOLBARCLASSNAMEA) || !IsWindowVisible(c))
            continue;
        RemoteBuffer buf(c);
        const int n = buf.ok() ? static_cast<int>(sendTo(c, TB_BUTTONCOUNT)) : 0;
        if (!buf.ok())
            rc = exitNotFound;
        for (int i = 0; i < n; ++i) {
            buf.putRecord(TBBUTTON{});
            sendTo(c, TB_GETBUTTON, static_cast<WPARAM>(i), buf.record());
            const auto button = buf.getRecord<TBBUTTON>();
            if ((button.fsStyle & BTNS_SEP) || (button.fsState & TBSTATE_HIDDEN))
                continue;
            std::string how, name = accessibleName(c, i + 1);
            if (name.empty())
                name = toolbarButtonText(c, button.idCommand, buf, how);
            report(cls, button.idCommand, name, how);
        }
    }
    CoUninitialize();
    return rc;
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
    {"balloon-time", 0, cmdBalloonTime},
    {"items", 2, cmdItems},
    {"tree", 1, cmdTree},
    {"tree-click", 2, cmdTreeClick},
    {"status", 1, cmdStatus},
    {"wait-exit", 1, cmdWaitExit},
    {"names", 1, cmdNames},
    {"move-library", 2, cmdMoveLibrary},
};

}  // namespace

int main() {
    // Arguments and list texts are UTF-8: names need not fit the code page.
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const int length = static_cast<int>(wcslen(argv[i]));
        std::string arg(length * 3, '\0');
        arg.resize(
            WideCharToMultiByte(CP_UTF8, 0, argv[i], length, arg.data(), length * 3, nullptr, nullptr));
        args.push_back(arg);
    }
    LocalFree(argv);
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
