// The issue list: ticks, the commands on ticked issues, sorting, the
// toolbar. Items are addressed by key; deliverAll and removeAll rewrite the
// keys before each run.
#include <windows.h>
#include <commctrl.h>

#include <map>

#include "app/ModCommon.h"
#include "catalogue/Catalogue.h"
#include "dialog/frmmess.h"
#include "library/ListSort.h"
#include "library/frmmain.h"
#include "text/Text.h"
#include "work/Announce.h"
#include "work/Check.h"
#include "work/Delivery.h"
#include "work/Work.h"

using namespace ModCommon;

namespace {

constexpr UINT kTicked = INDEXTOSTATEIMAGEMASK(2);    // 0x2000
constexpr UINT kUnticked = INDEXTOSTATEIMAGEMASK(1);  // 0x1000
constexpr UINT kStateImageMask = 0xF000;
constexpr UINT kSetTickMask = 0xFFFFF000;

void setItemState(HWND list, int index, UINT state, UINT mask) {
    LVITEMA item{};
    item.mask = LVIF_STATE;
    item.state = state;
    item.stateMask = mask;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
}

int selectedIndex(HWND list) {
    return static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

std::string itemText(HWND list, int index, int column) {
    wchar_t buffer[Catalogue::kMaxRecordLength + 1] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = Catalogue::kMaxRecordLength + 1;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    return Text::utf8(buffer);
}

struct SortOrder {
    std::map<LPARAM, std::wstring> texts;  // by the items' own lParam
    bool descending;
};

// List-view sorting compares texts the way the user reads them: by the
// locale's rules, letter case ignored.
int CALLBACK compareByText(LPARAM a, LPARAM b, LPARAM order) {
    auto* o = reinterpret_cast<const SortOrder*>(order);
    const std::wstring& ta = o->texts.at(a);
    const std::wstring& tb = o->texts.at(b);
    int r = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, ta.c_str(), -1, tb.c_str(), -1) - CSTR_EQUAL;
    return o->descending ? -r : r;
}

LPARAM itemParam(HWND list, int index) {
    LVITEMA item{};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return item.lParam;
}

}  // namespace

// The texts are taken before sorting and found again by each item's lParam:
// Wine's list view hands the comparison indexes that move while it sorts.
void sortListByText(HWND list, int iColumn, bool bDescending) {
    SortOrder order{{}, bDescending};
    const int n = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        if (!order.texts.emplace(itemParam(list, i), Text::wide(itemText(list, i, iColumn))).second) {
            // Items without distinct lParams (the file list) get their
            // positions as lParams, and the texts are taken again.
            order.texts.clear();
            for (int j = 0; j < n; ++j) {
                LVITEMA item{};
                item.mask = LVIF_PARAM;
                item.iItem = j;
                item.lParam = j;
                SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
                order.texts.emplace(j, Text::wide(itemText(list, j, iColumn)));
            }
            break;
        }
    }
    SendMessageA(list, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&order), reinterpret_cast<LPARAM>(compareByText));
}

bool toggleSortDirection(float& toggle) {
    if (toggle != 1) {
        toggle += 1;
        return true;
    }
    toggle = 0;
    return false;
}

// --- what the work asks of the list -------------------------------------------

int32_t frmmain::countTicked() {
    tickedCount = static_cast<int32_t>(tickedIssues().size());
    return tickedCount;
}

std::vector<std::string> frmmain::tickedIssues() {
    std::vector<std::string> keys;
    for (int i = 0, n = issueCount(); i < n; ++i) {
        selectIssue(i);
        if (getLstTick())
            keys.push_back(issueKey(i));
    }
    return keys;
}

bool frmmain::issueTicked(const std::string& sKey) {
    const int index = findIssueByKey(sKey);
    if (index < 0)
        return false;
    selectIssue(index);
    return getLstTick();
}

// --- items ---------------------------------------------------------------------

int frmmain::issueCount() const { return static_cast<int>(SendMessageA(lv, LVM_GETITEMCOUNT, 0, 0)); }

int frmmain::addIssueEntry(const std::string& sKey, const std::string& sTitle, const std::string& sIssue,
                           const std::string& sMagazine, const std::string& sSize, const std::string& sRecord) {
    std::wstring title = Text::wide(sTitle);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = issueCount();
    item.pszText = title.data();
    item.iImage = 0;
    item.lParam = ++nextIssueId_;
    int index = static_cast<int>(SendMessageW(lv, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (index < 0)
        return -1;
    issueKeys_[item.lParam] = sKey;
    setIssueText(index, colIssue, sIssue);
    setIssueText(index, colMagazine, sMagazine);
    setIssueText(index, colSize, sSize);
    setIssueText(index, colRecord, sRecord);
    return index;
}

int frmmain::findIssueByKey(const std::string& sKey) const {
    for (int i = 0, n = issueCount(); i < n; ++i) {
        auto it = issueKeys_.find(itemParam(lv, i));
        if (it != issueKeys_.end() && it->second == sKey)
            return i;
    }
    return -1;
}

std::string frmmain::issueKey(int index) const {
    auto it = issueKeys_.find(itemParam(lv, index));
    return it == issueKeys_.end() ? std::string() : it->second;
}

void frmmain::selectIssue(int index) {
    setItemState(lv, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (index >= 0)
        setItemState(lv, index, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

void frmmain::removeIssue(int index) {
    issueKeys_.erase(itemParam(lv, index));
    serverBytes_.erase({itemParam(lv, index), colMagazine});
    serverBytes_.erase({itemParam(lv, index), colRecord});
    SendMessageA(lv, LVM_DELETEITEM, static_cast<WPARAM>(index), 0);
}

void frmmain::clearIssues() {
    issueKeys_.clear();
    serverBytes_.clear();
    SendMessageA(lv, LVM_DELETEALLITEMS, 0, 0);
}

std::string frmmain::issueText(int index, int iColumn) const {
    auto bytes = serverBytes_.find({itemParam(lv, index), iColumn});
    return bytes != serverBytes_.end() ? bytes->second : itemText(lv, index, iColumn);
}

void frmmain::setIssueText(int index, int iColumn, const std::string& sText) {
    std::wstring text = Text::wide(sText);
    if (iColumn == colMagazine || iColumn == colRecord) {
        serverBytes_[{itemParam(lv, index), iColumn}] = sText;
        text = Text::wide(Text::decode(sText));
    }
    LVITEMW item{};
    item.iSubItem = iColumn;
    item.pszText = text.data();
    SendMessageW(lv, LVM_SETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
}

void frmmain::sortIssues(int iColumn, bool bDescending) { sortListByText(lv, iColumn, bDescending); }

// Keys are rewritten from a fresh table in one pass, so a key left over from
// an earlier run (of either command, in any order) can never clash.
static void rekey(std::map<LPARAM, std::string>& keys, int16_t pass, HWND list, int count) {
    keys.clear();
    for (int i = 0; i < count; ++i)
        keys[itemParam(list, i)] = toDecimal(pass) + "m" + toDecimal(i + 1);
}

// --- ticks ---------------------------------------------------------------------

bool frmmain::getLstTick() {
    int i = selectedIndex(lv);
    if (i < 0)
        return false;
    UINT state = static_cast<UINT>(SendMessageA(lv, LVM_GETITEMSTATE, static_cast<WPARAM>(i), kStateImageMask));
    return (state & kTicked) != 0;
}

void frmmain::setLstTick() {
    for (int i = 0, n = issueCount(); i < n; ++i)
        setItemState(lv, i, kTicked, kSetTickMask);
}

void frmmain::setTick() {
    int i = selectedIndex(lv);
    if (i < 0)
        return;
    setItemState(lv, i, getLstTick() ? kUnticked : kTicked, kSetTickMask);
}

// --- commands ------------------------------------------------------------------

std::vector<std::string> frmmain::rekeyForDelivery() {
    const int n = issueCount();
    ++deliverPass;
    rekey(issueKeys_, deliverPass, lv, n);
    std::vector<std::string> keys;
    for (int i = 1; i <= n; ++i)
        keys.push_back(toDecimal(deliverPass) + "m" + toDecimal(i));
    if (deliverPass >= 2)
        deliverPass = 0;
    return keys;
}

bool frmmain::deliverAll() { return deliverTicked(); }

bool frmmain::removeAll() {
    enableButton(tbDeliver, false);
    enableButton(tbRemove, false);
    const int32_t newIssueCount = issueCount();
    bool result = false;
    if (newIssueCount >= 1) {
        ++removePass;
        const int n = newIssueCount;
        rekey(issueKeys_, removePass, lv, n);
        for (int i = 1; i <= n; ++i) {
            int index = findIssueByKey(toDecimal(removePass) + "m" + toDecimal(i));
            if (index < 0)
                continue;
            selectIssue(index);
            if (getLstTick()) {
                // Dismissed for good: recorded without ";" so later checks skip it.
                appendTextFile(issueText(index, colRecord), programFolder() + "\\data\\em_lst.lcl");
                removeIssue(index);
            }
        }
        if (removePass >= 2)
            removePass = 0;
        result = true;
    }
    countRemaining();
    return result;
}

void frmmain::removeMag() {
    // A running check or delivery addresses the list by its keys; and while
    // the question is open, no check may rebuild the list it asks about.
    Work::Running hold(Work::Job::List);
    if (!hold)
        return;
    const int32_t n = countTicked();
    if (n < 1) {
        messageBox("Nothing to do.", MB_OK | MB_ICONINFORMATION);
        return;
    }
    const std::string text =
        n == 1 ? std::string("This will permanently remove your selected item.\n\nAre you sure you want to do this?")
               : "This will permanently remove your " + toDecimal(n) +
                     " selected items.\n\nAre you sure you want to do this?";
    if (messageBox(text, MB_YESNO | MB_ICONQUESTION) == IDYES) {
        removeAll();
        frmmess::unload();
    }
}

// --- events --------------------------------------------------------------------

void frmmain::lv_ColumnClick(int iColumn) {
    sortIssues(iColumn, toggleSortDirection(lvSortToggle));
}

// The window lets only row clicks through: a click on the check box itself
// is toggled by the list view.
void frmmain::lv_ItemClick(int) { setTick(); }

void frmmain::lvmen_Popup() {
    if (issueCount() >= 1)
        popupMenu(lvmen_);
}

void frmmain::tb_ButtonClick(int iButton) {
    // The first three start work: while work runs they are refused, and the
    // dialog (a delivery's Pause and Cancel) stays.
    if (iButton < tbClose) {
        if (Work::refuseWhileBusy())
            return;
        frmmess::instance().hide();
    }
    switch (iButton) {
        case tbNewMagazines:
            enableButton(tbDeliver, false);
            enableButton(tbRemove, false);
            if (checkNewIssues(true))
                announceNewIssues(Work::newIssueCount);
            break;
        case tbDeliver:
            announceSelection(countTicked());
            break;
        case tbRemove:
            removeMag();
            SetForegroundWindow(hwnd_);
            break;
        case tbClose:
            ShowWindow(hwnd_, SW_HIDE);
            break;
        case tbHelp:
            popupMenu(mnHelp_);
            break;
    }
}
