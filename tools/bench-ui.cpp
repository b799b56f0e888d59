// The Windows half of tools/bench-ui: while tolv delivers a slow issue,
// measures how long its delivery dialog takes to answer a message, then how
// long reading the text of each of tolv's windows takes (as screen readers
// and test tools do), then the time from a click on "Pause" to the dialog
// offering "Resume".
//   bench-ui.exe [SECONDS] [INTERVAL-MS]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

constexpr char dialogClass[] = "QuilloraMessage";
constexpr UINT answerLimitMs = 60000;
constexpr DWORD pollMs = 2;

static double msSince(const LARGE_INTEGER& t0) {
    LARGE_INTEGER f, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t1);
    return double(t1.QuadPart - t0.QuadPart) * 1000.0 / double(f.QuadPart);
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

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20;
    const DWORD intervalMs = argc > 2 ? static_cast<DWORD>(std::atoi(argv[2])) : 100;

    HWND pause = nullptr;
    for (int i = 0; i < 600 && !(pause = findButton("Pause")); ++i) Sleep(100);
    if (!pause) {
        std::fprintf(stderr, "no delivery dialog with \"Pause\"\n");
        return 1;
    }
    HWND dlg = GetParent(pause);

    std::vector<double> answers;
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    for (int i = 0; msSince(start) < seconds * 1000; ++i) {
        LARGE_INTEGER t0;
        QueryPerformanceCounter(&t0);
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(dlg, WM_NULL, 0, 0, SMTO_NORMAL, answerLimitMs, &result)) {
            std::fprintf(stderr, "the dialog did not answer within %u ms\n", answerLimitMs);
            return 1;
        }
        answers.push_back(msSince(t0));
        const double next = double(i + 1) * intervalMs - msSince(start);
        if (next > 0)
            Sleep(static_cast<DWORD>(next));
    }
    std::printf("answers %zu every %lu ms over %.0f s\n", answers.size(), intervalMs, seconds);
    const auto slowest = std::max_element(answers.begin(), answers.end());
    std::printf("answer p50 %.1f ms  p95 %.1f ms  max %.1f ms (at %.1f s)\n", percentile(answers, 0.5),
                percentile(answers, 0.95), *slowest, double(slowest - answers.begin()) * intervalMs / 1000.0);

    // One WM_GETTEXT to each window, one after the other.
    std::vector<double> texts;
    LARGE_INTEGER textsStart;
    QueryPerformanceCounter(&textsStart);
    for (HWND w : windowsOf(dlg)) {
        char text[256] = {};
        LARGE_INTEGER t0;
        QueryPerformanceCounter(&t0);
        DWORD_PTR result = 0;
        if (SendMessageTimeoutA(w, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                                answerLimitMs, &result))
            texts.push_back(msSince(t0));
    }
    if (!texts.empty())
        std::printf("window texts %zu in %.1f ms  p50 %.1f ms  max %.1f ms\n", texts.size(), msSince(textsStart),
                    percentile(texts, 0.5), *std::max_element(texts.begin(), texts.end()));

    if (!(pause = findButton("Pause"))) {
        std::fprintf(stderr, "the delivery ended before \"Pause\" could be timed\n");
        return 1;
    }
    LARGE_INTEGER t0;
    QueryPerformanceCounter(&t0);
    press(pause);
    HWND resume = nullptr;
    while (!(resume = findButton("Resume")) && msSince(t0) < answerLimitMs) Sleep(pollMs);
    if (!resume) {
        std::fprintf(stderr, "no \"Resume\" within %u ms\n", answerLimitMs);
        return 1;
    }
    std::printf("pause to resume %.1f ms\n", msSince(t0));
    // Resume and let the bench end the delivery.
    press(resume);
    return 0;
}
