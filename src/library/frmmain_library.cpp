// The delivered-issues view: the folder tree, the file list and the small
// toolbar under the issue list.
#include <windows.h>
#include <commctrl.h>

#include "app/ModCommon.h"
#include "catalogue/LibraryScan.h"
#include "library/ListSort.h"
#include "library/frmmain.h"

using namespace ModCommon;

namespace {

std::string nodeText(HWND tv, HTREEITEM node) {
    char buffer[MAX_PATH] = {};
    TVITEMA item{};
    item.mask = TVIF_TEXT;
    item.hItem = node;
    item.pszText = buffer;
    item.cchTextMax = sizeof buffer;
    SendMessageA(tv, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return buffer;
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
    char buffer[MAX_PATH] = {};
    LVITEMA item{};
    item.iSubItem = colLocation;
    item.pszText = buffer;
    item.cchTextMax = sizeof buffer;
    if (index >= 0 &&
        SendMessageA(lvl, LVM_GETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)) >= 0)
        selectedLocation = buffer;
}

void frmmain::lvl_DblClick() {
    // Only what the list shows is opened; the shell would run "x.pdf.exe".
    if (SendMessageA(lvl, LVM_GETITEMCOUNT, 0, 0) < 1 ||
        (!selectedLocation.empty() && !isLibraryIssueFile(selectedLocation)))
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
