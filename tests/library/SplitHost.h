// A container window for splitter tests: a plain child window that forwards
// its mouse and size events to a cSplitter, as the library window's split
// areas do, inside a top-level frame of a known size.
#pragma once
#include <windows.h>

#include "library/cSplitter.h"

namespace splithost {

inline short buttonOf(UINT msg) {
    switch (msg) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
            return 1;
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
            return 2;
        default:
            return 4;
    }
}

inline LRESULT CALLBACK proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto* s = reinterpret_cast<cSplitter*>(GetWindowLongPtrA(h, GWLP_USERDATA));
    const float x = static_cast<float>(static_cast<short>(LOWORD(lp)));
    const float y = static_cast<float>(static_cast<short>(HIWORD(lp)));
    if (s) {
        switch (msg) {
            case WM_SIZE:
                s->Resize();
                return 0;
            case WM_LBUTTONDOWN:
            case WM_RBUTTONDOWN:
            case WM_MBUTTONDOWN:
                SetCapture(h);
                s->MouseDown(buttonOf(msg), 0, x, y);
                return 0;
            case WM_MOUSEMOVE:
                s->MouseMove(static_cast<short>(wp & MK_LBUTTON ? 1 : 0), 0, x, y);
                return 0;
            case WM_LBUTTONUP:
            case WM_RBUTTONUP:
            case WM_MBUTTONUP:
                ReleaseCapture();
                s->MouseUp(buttonOf(msg), 0, x, y);
                return 0;
        }
    }
    return DefWindowProcA(h, msg, wp, lp);
}

inline const char* className() {
    static const char* name = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = "TestSplitBox";
        RegisterClassA(&wc);
        return "TestSplitBox";
    }();
    return name;
}

inline void pump() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
}

// A frame at (x, y) holding a container of w x h client pixels with two panes.
struct Host {
    HWND frame = nullptr, box = nullptr, pane1 = nullptr, pane2 = nullptr;

    Host(int w, int h, bool visible = false, int x = 0, int y = 0) {
        frame = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "", WS_POPUP | (visible ? WS_VISIBLE : 0), x, y,
                                w + 40, h + 40, nullptr, nullptr, nullptr, nullptr);
        box = CreateWindowExA(0, className(), "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 20, 20, w, h,
                              frame, nullptr, nullptr, nullptr);
        pane1 = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_BLACKRECT, 0, 0, 1, 1, box,
                                nullptr, nullptr, nullptr);
        pane2 = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_GRAYRECT, 0, 0, 1, 1, box,
                                nullptr, nullptr, nullptr);
    }
    ~Host() { DestroyWindow(frame); }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    void attach(cSplitter& s) { SetWindowLongPtrA(box, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&s)); }
    // Resizes the container (its WM_SIZE runs the splitter's Resize when attached).
    void size(int w, int h) {
        SetWindowPos(frame, nullptr, 0, 0, w + 40, h + 40, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        SetWindowPos(box, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // A pane's rectangle in the container's client pixels.
    RECT rectOf(HWND pane) const {
        RECT r{};
        GetWindowRect(pane, &r);
        MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
};

}  // namespace splithost
