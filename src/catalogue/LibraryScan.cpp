#include "catalogue/LibraryScan.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cctype>

#include "app/ModCommon.h"
#include "catalogue/Catalogue.h"
#include "library/ListSort.h"
#include "library/frmmain.h"
#include "text/Text.h"

using namespace ModCommon;

namespace {

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

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
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

bool isLibraryIssueFile(const std::string& sName) {
    const std::string l = lower(sName);
    return isIssueFileName(sName) && (l.find(".pdf") != std::string::npos || l.find(".torrent") != std::string::npos);
}

void buildLibraryTree() {
    const std::string& folder = programFolder();
    ensureFolder(folder + "\\My Magazines");
    ensureFolder(folder + "\\My Torrents");
    frmmain& w = frmmain::instance();
    SendMessageA(w.lvl, LVM_DELETEALLITEMS, 0, 0);
    SendMessageA(w.tv, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    HTREEITEM mags = addNode(w.tv, TVI_ROOT, "My Magazines");
    HTREEITEM torr = addNode(w.tv, TVI_ROOT, "My Torrents");
    addFolderNodes(w.tv, mags, folder + "\\My Magazines\\");
    addFolderNodes(w.tv, torr, folder + "\\My Torrents\\");
    SendMessageA(w.tv, TVM_SORTCHILDREN, FALSE, reinterpret_cast<LPARAM>(TVI_ROOT));
}

void fillLibraryList(const std::string& sPath) {
    const std::string& folder = programFolder();
    ensureFolder(folder + "\\My Magazines");
    ensureFolder(folder + "\\My Torrents");
    frmmain& w = frmmain::instance();
    SendMessageA(w.lvl, LVM_DELETEALLITEMS, 0, 0);
    if (sPath.find('\\') == std::string::npos)
        return;
    const std::string dir = folder + "\\" + sPath;
    ensureFolder(dir);
    for (const std::string& name : fileSystem.Files(dir)) {
        if (!isLibraryIssueFile(name))
            continue;
        const std::vector<std::string> fields = splitFields(name);
        // Two files with the same title in one folder: only the first is listed.
        if (listHasText(w.lvl, fields[0]))
            continue;
        std::wstring title = Text::wide(fields[0]);
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = static_cast<int>(SendMessageA(w.lvl, LVM_GETITEMCOUNT, 0, 0));
        item.pszText = title.data();
        item.iImage = 0;
        int index =
            static_cast<int>(SendMessageW(w.lvl, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        if (index < 0)
            continue;
        int16_t number = 0;
        if (issueNumber(fields[2], number))
            setSubItem(w.lvl, index, 1, toDecimal(number));
        setSubItem(w.lvl, index, frmmain::colDate, fileDateText(dir + "\\" + name));
        setSubItem(w.lvl, index, frmmain::colLocation, name);
    }
    sortListByText(w.lvl, 1, true);
}

std::string fileDateText(const std::string& sPath) {
    FILETIME created, local;
    if (!fileSystem.CreationTime(sPath, created))
        return "-";
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&created, &local) || !FileTimeToSystemTime(&local, &st))
        return {};
    wchar_t text[128] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, 0, &st, L"MMMM yyyy", text, 128);
    return Text::utf8(text);
}
