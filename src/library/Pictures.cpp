#include "library/Pictures.h"

#include <cstdlib>
#include <iterator>

#include "base/Handles.h"
#include "base/resource.h"

namespace Pictures {

namespace {

// Percentages the toolbar strips are drawn for, and their resources.
constexpr int kScales[] = {100, 125, 150, 200};
constexpr int kBigStrips[] = {IDB_TOOLBAR, IDB_TOOLBAR_125, IDB_TOOLBAR_150, IDB_TOOLBAR_200};
constexpr int kSmallStrips[] = {IDB_SMALLTOOLBAR, IDB_SMALLTOOLBAR_125, IDB_SMALLTOOLBAR_150,
                                IDB_SMALLTOOLBAR_200};
static_assert(std::size(kBigStrips) == std::size(kScales) && std::size(kSmallStrips) == std::size(kScales));

size_t scaleIndex(int dpi) {
    for (size_t i = 0; i < std::size(kScales); ++i)
        if (dpi * 100 <= kScales[i] * USER_DEFAULT_SCREEN_DPI)
            return i;
    return std::size(kScales) - 1;
}

using LoadIconWithScaleDownFn = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);

// Windows Vista and later scale icons down with a better filter than
// LoadImage does; Windows 7 has it only in comctl32, so it is looked up.
LoadIconWithScaleDownFn loadIconWithScaleDown() {
    HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
    if (!comctl)
        return nullptr;
    return reinterpret_cast<LoadIconWithScaleDownFn>(
        reinterpret_cast<void*>(GetProcAddress(comctl, "LoadIconWithScaleDown")));
}

}  // namespace

HIMAGELIST toolbarImages(bool smallButtons, int dpi) {
    const size_t index = scaleIndex(dpi);
    const int resource = smallButtons ? kSmallStrips[index] : kBigStrips[index];
    // LR_CREATEDIBSECTION keeps the strip's 32 bits, alpha included.
    AutoHbitmap strip(static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource),
                                                      IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    BITMAP bm{};
    if (!strip || !GetObjectW(strip.get(), sizeof bm, &bm))
        return nullptr;
    const int cell = std::abs(bm.bmHeight);
    if (cell == 0 || bm.bmWidth < cell)
        return nullptr;
    const int count = bm.bmWidth / cell;
    AutoHimagelist list(ImageList_Create(cell, cell, ILC_COLOR32, count, 0));
    if (!list || ImageList_Add(list.get(), strip.get(), nullptr) < 0)
        return nullptr;
    return list.release();
}

HICON programIcon(int resource, int size) {
    HINSTANCE module = GetModuleHandleW(nullptr);
    if (LoadIconWithScaleDownFn scaleDown = loadIconWithScaleDown()) {
        HICON icon = nullptr;
        if (SUCCEEDED(scaleDown(module, MAKEINTRESOURCEW(resource), size, size, &icon)) && icon)
            return icon;
    }
    return static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(resource), IMAGE_ICON, size, size, 0));
}

}  // namespace Pictures
