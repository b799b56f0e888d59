// What every top-level form of the program does the same way: its window
// class, the HWND it owns and the dispatch of that window's messages to the
// form's own handler.
//
//   class frmfoo : public Window<frmfoo> {
//       friend Window<frmfoo>;
//       static WNDCLASSEXA windowClass();                 // name, icon, brush...
//       LRESULT onMessage(UINT msg, WPARAM wp, LPARAM lp); // every message
//   };
//
// The form is known to its window from WM_NCCREATE on and forgotten at
// WM_NCDESTROY, so no message reaches a form that is not there, and hwnd()
// is null once the window has gone.
#pragma once
#include <windows.h>

#include "base/Dpi.h"

template <class Form>
class Window {
public:
    HWND hwnd() const { return hwnd_; }
    // The DPI the window is drawn for: its monitor's, from creation on, and
    // what WM_DPICHANGED said last.
    int dpi() const { return dpi_; }

    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

protected:
    Window() = default;
    ~Window() { destroyWindow(); }

    // Registers the form's class the first time and creates its window.
    HWND createWindow(DWORD dwExStyle, const char* sTitle, DWORD dwStyle, int x, int y, int iWidth, int iHeight,
                      HWND hOwner) {
        static const bool registered = [] {
            WNDCLASSEXA wc = Form::windowClass();
            wc.cbSize = sizeof wc;
            wc.lpfnWndProc = proc;
            wc.hInstance = GetModuleHandleA(nullptr);
            return RegisterClassExA(&wc) != 0;
        }();
        (void)registered;  // a failed registration shows as a null window
        CreateWindowExA(dwExStyle, Form::windowClass().lpszClassName, sTitle, dwStyle, x, y, iWidth, iHeight,
                        hOwner, nullptr, GetModuleHandleA(nullptr), static_cast<Form*>(this));
        return hwnd_;
    }

    void destroyWindow() {
        if (hwnd_)
            DestroyWindow(hwnd_);
    }

    LRESULT defaultProc(UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcA(hwnd_, msg, wp, lp); }

    // Designed sizes in twips, at the window's DPI.
    int px(int twips) const { return Dpi::fromTwips(twips, dpi_); }
    int twips(int pixels) const { return Dpi::toTwips(pixels, dpi_); }

    // WM_DPICHANGED, once the form has made its fonts and pictures for the
    // new DPI: the window takes the rectangle the platform suggests.
    void takeSuggestedRect(LPARAM lp) {
        const RECT* r = reinterpret_cast<const RECT*>(lp);
        if (r)
            SetWindowPos(hwnd_, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
    }

    HWND hwnd_ = nullptr;
    int dpi_ = Dpi::standard;

private:
    static LRESULT CALLBACK proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_NCCREATE) {
            auto* self = static_cast<Form*>(reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams);
            self->hwnd_ = h;
            self->dpi_ = Dpi::ofWindow(h);
            SetWindowLongPtrA(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
        auto* self = reinterpret_cast<Form*>(GetWindowLongPtrA(h, GWLP_USERDATA));
        if (!self)
            return DefWindowProcA(h, msg, wp, lp);
        if (msg == WM_DPICHANGED && HIWORD(wp))
            self->dpi_ = HIWORD(wp);
        if (msg != WM_NCDESTROY)
            return self->onMessage(msg, wp, lp);
        const LRESULT result = self->onMessage(msg, wp, lp);
        SetWindowLongPtrA(h, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        return result;
    }
};
