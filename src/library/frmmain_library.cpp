// The delivered-issues view: the folder tree, the file list and the small
// toolbar under the issue list.
#include <windows.h>
#include <commctrl.h>

#include "app/ModCommon.h"
#include "catalogue/LibraryScan.h"
#include "library/ListSort.h"
#include "library/frmmain.h"
#include "text/Text.h"

using namespace ModCommon;

namespace {

std::string nodeText(HWND tv, HTREEITEM node) {
    wchar_t buffer[MAX_PATH] = {};
    TVITEMW item{};
    item.mask = TVIF_TEXT;
    item.hItem = node;
    item.pszText = buffer;
    item.cchTextMax = MAX_PATH;
    SendMessageW(tv, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return Text::utf8(buffer);
}

HTREEITEM selectedNode(HWND tv) {
    return reinterpret_cast<HTREEITEM>(SendMessageA(tv, TVM_GETNEXTITEM, TVGN_CARET, 0));
}

}  // namespace

std::string frmmain::nodeFullPath(HTREEITEM hNode) const {
    std::string path;
    for (HTREEITEM n = hNode; n; n = reinterpret_cast<HTREEITEM>(SendMessageA(tv, TVM_GETNEXTITEM, TVGN_PARENT,
                                                                             reinterpret_cast<LPARAM>(n))))
        path = path.empty() ? nodeText(tv, n) : nodeText(tv, n) + "\\" + path;
    return path;
}

void frmmain::tv_NodeClick(HTREEITEM hNode) {
    if (hNode)
        fillLibraryList(nodeFullPath(hNode));
}

void frmmain::sortLibrary(int iColumn, bool bDescending) { sortListByText(lvl, iColumn, bDescending); }

void frmmain::lvl_ColumnClick(int iColumn) { sortLibrary(iColumn, toggleSortDirection(lvlSortToggle)); }

void frmmain::lvl_ItemClick(int index) {
    wchar_t buffer[MAX_PATH] = {};
    LVITEMW item{};
    item.iSubItem = colLocation;
    item.pszText = buffer;
    item.cchTextMax = MAX_PATH;
    if (index >= 0 &&
        SendMessageW(lvl, LVM_GETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)) >= 0)
        selectedLocation = Text::utf8(buffer);
}

void frmmain::lvl_DblClick() {
    if (SendMessageA(lvl, LVM_GETITEMCOUNT, 0, 0) < 1)
        return;
    openDocument(trim(programFolder() + "\\" + nodeFullPath(selectedNode(tv)) + "\\" + selectedLocation), true);
}

void frmmain::tb2_ButtonClick(int iButton) {
    if (iButton == 1) {
        buildLibraryTree();
    } else if (iButton == 2) {
        HWND focus = GetFocus();
        if (focus == tv)
            openDocument(programFolder() + "\\" + nodeFullPath(selectedNode(tv)), false);
        else if (focus == lvl)
            lvl_DblClick();
    }
}
