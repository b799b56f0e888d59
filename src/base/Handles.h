// Thin owners for platform handles: each closes its handle exactly once.
#pragma once
#include <windows.h>
#include <wininet.h>
#include <commctrl.h>
#include <utility>

template <typename T, auto CloseFn>
class Owned {
public:
    Owned() = default;
    explicit Owned(T h) : h_(h) {}
    ~Owned() { reset(); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& o) noexcept : h_(std::exchange(o.h_, T{})) {}
    Owned& operator=(Owned&& o) noexcept {
        if (this != &o) {
            reset();
            h_ = std::exchange(o.h_, T{});
        }
        return *this;
    }
    void reset(T h = T{}) {
        if (valid())
            CloseFn(h_);
        h_ = h;
    }
    T release() { return std::exchange(h_, T{}); }
    T get() const { return h_; }
    bool valid() const { return h_ != T{} && (T)h_ != (T)INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return valid(); }

private:
    T h_{};
};

inline BOOL closeGdiObject(HGDIOBJ h) { return DeleteObject(h); }

using AutoHandle = Owned<HANDLE, CloseHandle>;
using AutoHinternet = Owned<HINTERNET, InternetCloseHandle>;
using AutoHkey = Owned<HKEY, RegCloseKey>;
using AutoHicon = Owned<HICON, DestroyIcon>;
using AutoHfont = Owned<HFONT, closeGdiObject>;
using AutoHbrush = Owned<HBRUSH, closeGdiObject>;
using AutoHbitmap = Owned<HBITMAP, closeGdiObject>;
using AutoHimagelist = Owned<HIMAGELIST, ImageList_Destroy>;
using AutoHmenu = Owned<HMENU, DestroyMenu>;
using AutoHaccel = Owned<HACCEL, DestroyAcceleratorTable>;
using AutoFindHandle = Owned<HANDLE, FindClose>;
