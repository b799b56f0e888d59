// The delivered-issues view: the folder tree, the file list and the small
// toolbar under the issue list, filled from the library folders (nothing is
// cached).
#include <windows.h>
#include <commctrl.h>

#include "base/ModCommon.h"
#include "catalogue/Catalogue.h"
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

HTREEITEM addNode(HWND tv, HTREEITEM parent, const std::string& sText) {
    std::wstring text = Text::wide(sText);
    TVINSERTSTRUCTW ins{};
    ins.hParent = parent;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT;
    ins.item.pszText = text.data();
    return reinterpret_cast<HTREEITEM>(SendMessageW(tv, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
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
    const std::wstring text = Text::wide(sText);
    LVFINDINFOW find{};
    find.flags = LVFI_STRING;
    find.psz = text.c_str();
    return SendMessageW(list, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)) >= 0;
}

void setSubItem(HWND list, int index, int column, const std::string& sText) {
    std::wstring text = Text::wide(sText);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text.data();
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
}

}  // namespace

void frmmain::buildLibraryTree() {
    const std::string& folder = libraryRoot();
    ensureFolder(folder + "\\My Magazines");
    ensureFolder(folder + "\\My Torrents");
    SendMessageA(lvl, LVM_DELETEALLITEMS, 0, 0);
    SendMessageA(tv, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    HTREEITEM mags = addNode(tv, TVI_ROOT, "My Magazines");
    HTREEITEM torr = addNode(tv, TVI_ROOT, "My Torrents");
    addFolderNodes(tv, mags, folder + "\\My Magazines\\");
    addFolderNodes(tv, torr, folder + "\\My Torrents\\");
    SendMessageA(tv, TVM_SORTCHILDREN, FALSE, reinterpret_cast<LPARAM>(TVI_ROOT));
    setStatusPanel(3, "Library: " + folder);
}

void frmmain::fillLibraryList(const std::string& sPath) {
    const std::string& folder = libraryRoot();
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
        std::wstring title = Text::wide(fields[0]);
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = static_cast<int>(SendMessageA(lvl, LVM_GETITEMCOUNT, 0, 0));
        item.pszText = title.data();
        item.iImage = 0;
        int index = static_cast<int>(SendMessageW(lvl, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
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
    // Only what the list shows is opened; the shell would run "x.pdf.exe".
    if (SendMessageA(lvl, LVM_GETITEMCOUNT, 0, 0) < 1 ||
        (!selectedLocation.empty() && !isLibraryIssueFile(selectedLocation)))
        return;
    openDocument(trim(libraryRoot() + "\\" + nodeFullPath(selectedNode(tv)) + "\\" + selectedLocation), true);
}

void frmmain::tb2_ButtonClick(int iButton) {
    if (iButton == 1) {
        buildLibraryTree();
    } else if (iButton == 2) {
        HWND focus = GetFocus();
        if (focus == tv)
            openDocument(libraryRoot() + "\\" + nodeFullPath(selectedNode(tv)), false);
        else if (focus == lvl)
            lvl_DblClick();
    }
}
