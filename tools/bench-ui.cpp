// The Windows half of tools/bench-ui: measures from outside how long tolv's
// windows take to answer a message, sent every INTERVAL-MS for SECONDS, each
// window from a thread of its own so that one hung window does not hold up
// the figures of another. An answer that takes longer than answerLimitMs
// counts as none.
//   bench-ui.exe check SECONDS [INTERVAL-MS]
//     the tray window, from now on (the caller starts the check once
//     "measuring" is printed);
//   bench-ui.exe delivery SECONDS [INTERVAL-MS]
//     once a delivery dialog offers "Pause": the tray window and that dialog,
//     then how long reading the text of each of tolv's windows takes (as
//     screen readers and test tools do), then the time from a click on
//     "Pause" to the dialog offering "Resume".
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

constexpr char trayClass[] = "QuilloraTray";
constexpr char dialogClass[] = "QuilloraMessage";
constexpr UINT answerLimitMs = 20000;
constexpr DWORD pollMs = 2;

static double msSince(const LARGE_INTEGER& t0) {
    LARGE_INTEGER f, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t1);
    return double(t1.QuadPart - t0.QuadPart) * 1000.0 / double(f.QuadPart);
}

static LARGE_INTEGER now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t;
}

// The tray's window is a hidden top-level window.
static HWND findTray() { return FindWindowExA(nullptr, nullptr, trayClass, nullptr); }

static HWND findDialog() {
    for (HWND dlg = nullptr; (dlg = FindWindowExA(nullptr, dlg, dialogClass, nullptr));)
        if (IsWindowVisible(dlg))
            return dlg;
    return nullptr;
}

// A visible button with this caption in a visible delivery dialog. Reading
// another process's caption sends it no message, so a busy program cannot
// slow the search down.
static HWND findButton(const char* sCaption) {
    for (HWND dlg = nullptr; (dlg = FindWindowExA(nullptr, dlg, dialogClass, nullptr));) {
        if (!IsWindowVisible(dlg))
            continue;
        for (HWND c = nullptr; (c = FindWindowExA(dlg, c, "Button", nullptr));) {
            char text[64] = {};
            GetWindowTextA(c, text, sizeof text);
            if (IsWindowVisible(c) && std::string(text) == sCaption)
                return c;
        }
    }
    return nullptr;
}

static void press(HWND button) {
    PostMessageA(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
}

static double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * double(v.size() - 1) + 0.5))];
}

// One window's answers, measured on a thread of its own. A window that goes
// away is looked for again; the times it could not be found are counted.
struct Probe {
    Probe(const char* n, std::function<HWND()> f, double s, DWORD ms)
        : name(n), find(std::move(f)), seconds(s), intervalMs(ms) {}
    const char* name;
    std::function<HWND()> find;
    double seconds;
    DWORD intervalMs;
    std::vector<double> answers;  // ms; answerLimitMs for one that never came
    std::vector<double> sentAt;   // s since the start
    int unanswered = 0;
    int absent = 0;
};

static DWORD WINAPI runProbe(void* p) {
    Probe& probe = *static_cast<Probe*>(p);
    const LARGE_INTEGER start = now();
    HWND h = nullptr;
    for (int i = 0; msSince(start) < probe.seconds * 1000; ++i) {
        if (!h || !IsWindow(h))
            h = probe.find();
        if (!h) {
            ++probe.absent;
        } else {
            const LARGE_INTEGER t0 = now();
            const double at = msSince(start) / 1000.0;
            DWORD_PTR result = 0;
            // Not SMTO_ABORTIFHUNG: a hung window must cost its full wait.
            const bool answered = SendMessageTimeoutA(h, WM_NULL, 0, 0, SMTO_NORMAL, answerLimitMs, &result);
            const double took = msSince(t0);
            if (answered || took >= answerLimitMs * 0.99) {
                probe.unanswered += !answered;
                probe.answers.push_back(answered ? took : answerLimitMs);
                probe.sentAt.push_back(at);
            } else {
                h = nullptr;
                ++probe.absent;
            }
        }
        const double next = double(i + 1) * probe.intervalMs - msSince(start);
        if (next > 0)
            Sleep(static_cast<DWORD>(next));
    }
    return 0;
}

static std::string figure(double ms) {
    char text[32];
    if (ms >= answerLimitMs)
        std::snprintf(text, sizeof text, ">=%u", answerLimitMs);
    else
        std::snprintf(text, sizeof text, "%.1f", ms);
    return text;
}

static void report(const Probe& p) {
    if (p.answers.empty()) {
        std::printf("%-7s no window of class found (%d tries)\n", p.name, p.absent);
        return;
    }
    const auto slowest = std::max_element(p.answers.begin(), p.answers.end());
    std::printf(
        "%-7s %zu messages every %lu ms over %.0f s: p50 %s ms  p95 %s ms  max %s ms (sent at %.1f s); "
        "%d not answered within %u ms",
        p.name, p.answers.size(), p.intervalMs, p.seconds, figure(percentile(p.answers, 0.5)).c_str(),
        figure(percentile(p.answers, 0.95)).c_str(), figure(*slowest).c_str(),
        p.sentAt[slowest - p.answers.begin()], p.unanswered, answerLimitMs);
    if (p.absent)
        std::printf("; %d times no window", p.absent);
    std::printf("\n");
}

static void measure(std::vector<Probe>& probes) {
    std::vector<HANDLE> threads;
    for (Probe& p : probes) threads.push_back(CreateThread(nullptr, 0, runProbe, &p, 0, nullptr));
    WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
    for (HANDLE t : threads) CloseHandle(t);
    for (const Probe& p : probes) report(p);
}

// Every window of one process, top-level ones and their children.
struct ProcessWindows {
    DWORD pid;
    std::vector<HWND> windows;
};

static BOOL CALLBACK addChild(HWND h, LPARAM p) {
    reinterpret_cast<ProcessWindows*>(p)->windows.push_back(h);
    return TRUE;
}

static BOOL CALLBACK addTopLevel(HWND h, LPARAM p) {
    auto* found = reinterpret_cast<ProcessWindows*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == found->pid) {
        found->windows.push_back(h);
        EnumChildWindows(h, addChild, p);
    }
    return TRUE;
}

static std::vector<HWND> windowsOf(HWND hwnd) {
    ProcessWindows found{0, {}};
    GetWindowThreadProcessId(hwnd, &found.pid);
    EnumWindows(addTopLevel, reinterpret_cast<LPARAM>(&found));
    return found.windows;
}

// One WM_GETTEXT to each window, one after the other.
static void timeWindowTexts(HWND anyOfThem) {
    std::vector<double> texts;
    int unanswered = 0;
    const LARGE_INTEGER start = now();
    for (HWND w : windowsOf(anyOfThem)) {
        char text[256] = {};
        const LARGE_INTEGER t0 = now();
        DWORD_PTR result = 0;
        if (SendMessageTimeoutA(w, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                                answerLimitMs, &result))
            texts.push_back(msSince(t0));
        else
            ++unanswered;
    }
    if (!texts.empty())
        std::printf("window texts %zu in %.1f ms  p50 %.1f ms  max %.1f ms; %d not answered\n", texts.size(),
                    msSince(start), percentile(texts, 0.5), *std::max_element(texts.begin(), texts.end()),
                    unanswered);
}

static int timePauseToResume() {
    HWND pause = findButton("Pause");
    if (!pause) {
        std::fprintf(stderr, "the delivery ended before \"Pause\" could be timed\n");
        return 1;
    }
    const LARGE_INTEGER t0 = now();
    press(pause);
    HWND resume = nullptr;
    while (!(resume = findButton("Resume")) && msSince(t0) < answerLimitMs) Sleep(pollMs);
    if (!resume) {
        std::printf("pause to resume >=%u ms (no \"Resume\")\n", answerLimitMs);
        return 0;
    }
    std::printf("pause to resume %.1f ms\n", msSince(t0));
    // Resume and let the bench end the delivery.
    press(resume);
    return 0;
}

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const double seconds = argc > 2 ? std::atof(argv[2]) : 20;
    const DWORD intervalMs = argc > 3 ? static_cast<DWORD>(std::atoi(argv[3])) : 100;
    if (mode != "check" && mode != "delivery") {
        std::fprintf(stderr, "usage: bench-ui.exe check|delivery [SECONDS] [INTERVAL-MS]\n");
        return 2;
    }
    std::vector<Probe> probes;
    probes.emplace_back("tray", findTray, seconds, intervalMs);
    if (mode == "check") {
        if (!findTray()) {
            std::fprintf(stderr, "no window of class %s\n", trayClass);
            return 1;
        }
        std::printf("measuring\n");
        std::fflush(stdout);
        measure(probes);
        return 0;
    }

    HWND pause = nullptr;
    for (int i = 0; i < 600 && !(pause = findButton("Pause")); ++i) Sleep(100);
    if (!pause) {
        std::fprintf(stderr, "no delivery dialog with \"Pause\"\n");
        return 1;
    }
    probes.emplace_back("dialog", findDialog, seconds, intervalMs);
    measure(probes);
    if (HWND tray = findTray())
        timeWindowTexts(tray);
    return timePauseToResume();
}
