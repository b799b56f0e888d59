// Names for the library window's controls that show no text of their own:
// the lists and the split areas, for screen readers. A control's window text
// names it; a list may instead be named by the label just before it among its
// siblings, so each list has a hidden one there with the same text.
#include "library/frmmain.h"

#include <utility>

namespace {

void nameWindow(HWND h, const wchar_t* name) {
    if (h)
        SetWindowTextW(h, name);
}

// The label comes just before the list among its siblings, and never shows.
void labelList(HWND list, const wchar_t* name) {
    if (!list)
        return;
    HWND label = CreateWindowExW(0, L"STATIC", name, WS_CHILD | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0,
                                 GetParent(list), nullptr, GetModuleHandleW(nullptr), nullptr);
    HWND before = GetWindow(list, GW_HWNDPREV);
    SetWindowPos(label, before ? before : HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

}  // namespace

void frmmain::nameControls() {
    const std::pair<HWND, const wchar_t*> lists[] = {
        {lv, L"New issues"}, {tv, L"Library folders"}, {lvl, L"Delivered issues"}};
    for (const auto& [list, name] : lists) {
        labelList(list, name);
        nameWindow(list, name);
    }
    nameWindow(picSplitMain, L"Issues and library");
    nameWindow(picSplitSub, L"Library folders and files");
}
