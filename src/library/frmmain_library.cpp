// The delivered-issues view: the folder tree, the file list and the small
// toolbar under the issue list, filled from the library folders (nothing is
// cached).
#include <windows.h>
#include <commctrl.h>

#include "app/ModCommon.h"
#include "catalogue/Catalogue.h"
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

HTREEITEM addNode(HWND tv, HTREEITEM parent, const std::string& sText) {
    TVINSERTSTRUCTA ins{};
    ins.hParent = parent;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT;
    ins.item.pszText = const_cast<char*>(sText.c_str());
    return reinterpret_cast<HTREEITEM>(SendMessageA(tv, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins)));
}

void addFolderNodes(HWND tv, HTREEITEM parent, const std::string& sFolder) {
    for (const std::string& name : fileSystem.SubFolders(sFolder))
        addNode(tv, parent, trim(name));
}

std::vector<std::string> splitFields(const std::string& s) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t bar = s.find('_', start);
        fields.push_back(s.substr(start, bar - start));
        if (bar == std::string::npos)
            return fields;
        start = bar + 1;
    }
}

bool listHasText(HWND list, const std::string& sText) {
    LVFINDINFOA find{};
    find.flags = LVFI_STRING;
    find.psz = sText.c_str();
    return SendMessageA(list, LVM_FINDITEMA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)) >= 0;
}

void setSubItem(HWND list, int index, int column, const std::string& sText) {
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(sText.c_str());
    SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
}

}  // namespace

void frmmain::buildLibraryTree() {
    const std::string& folder = programFolder();
    ensureFolder(folder + "\\My Magazines");
    ensureFolder(folder + "\\My Torrents");
    SendMessageA(lvl, LVM_DELETEALLITEMS, 0, 0);
    SendMessageA(tv, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    HTREEITEM mags = addNode(tv, TVI_ROOT, "My Magazines");
    HTREEITEM torr = addNode(tv, TVI_ROOT, "My Torrents");
    addFolderNodes(tv, mags, folder + "\\My Magazines\\");
    addFolderNodes(tv, torr, folder + "\\My Torrents\\");
    SendMessageA(tv, TVM_SORTCHILDREN, FALSE, reinterpret_cast<LPARAM>(TVI_ROOT));
}

void frmmain::fillLibraryList(const std::string& sPath) {
    const std::string& folder = programFolder();
    ensureFolder(folder + "\\My Magazines");
    ensureFolder(folder + "\\My Torrents");
    SendMessageA(lvl, LVM_DELETEALLITEMS, 0, 0);
    if (sPath.find('\\') == std::string::npos)
        return;
    const std::string dir = folder + "\\" + sPath;
    ensureFolder(dir);
    for (const std::string& name : fileSystem.Files(dir)) {
        if (!isLibraryIssueFile(name))
            continue;
        const std::vector<std::string> fields = splitFields(name);
        // Two files with the same title in one folder: only the first is listed.
        if (listHasText(lvl, fields[0]))
            continue;
        LVITEMA item{};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = static_cast<int>(SendMessageA(lvl, LVM_GETITEMCOUNT, 0, 0));
        item.pszText = const_cast<char*>(fields[0].c_str());
        item.iImage = 0;
        int index = static_cast<int>(SendMessageA(lvl, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        if (index < 0)
            continue;
        int16_t number = 0;
        if (issueNumber(fields[2], number))
            setSubItem(lvl, index, 1, toDecimal(number));
        setSubItem(lvl, index, colDate, fileDateText(dir + "\\" + name));
        setSubItem(lvl, index, colLocation, name);
    }
    sortListByText(lvl, 1, true);
}

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
