// The issue list: ticks, the commands on ticked issues, sorting, the
// toolbar. Items are addressed by key; deliverAll and removeAll rewrite the
// keys before each run.
#include <windows.h>
#include <commctrl.h>

#include <map>
#include <optional>

#include "base/ModCommon.h"
#include "catalogue/Catalogue.h"
#include "dialog/frmmess.h"
#include "library/ListSort.h"
#include "library/frmmain.h"
#include "text/Text.h"
#include "work/Announce.h"
#include "work/Check.h"
#include "work/Delivery.h"
#include "work/IssueModel.h"
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

// --- the list: a view of the issue model -----------------------------------------

int32_t frmmain::countTicked() {
    tickedCount = static_cast<int32_t>(issues().tickedCount());
    return tickedCount;
}

int frmmain::issueCount() const { return static_cast<int>(issues().count()); }

void frmmain::refreshIssues() {
    // The list stores nothing: it learns the count and asks for what it shows.
    SendMessageW(lv, LVM_SETITEMCOUNT, issues().count(), LVSICF_NOSCROLL);
    InvalidateRect(lv, nullptr, FALSE);
}

int frmmain::addIssueEntry(const std::string& sKey, const std::string& sTitle, const std::string& sIssue,
                           const std::string& sMagazine, const std::string& sSize, const std::string& sRecord) {
    IssueEntry row;
    row.key = sKey;
    row.title = sTitle;
    row.issue = sIssue;
    row.magazine = sMagazine;
    row.size = sSize;
    row.record = sRecord;
    const size_t index = issues().append({row});
    refreshIssues();
    return static_cast<int>(index);
}

int frmmain::findIssueByKey(const std::string& sKey) const { return issues().indexOfKey(sKey); }

void frmmain::selectIssue(int index) {
    setItemState(lv, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (index >= 0)
        setItemState(lv, index, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

void frmmain::removeIssue(int index) {
    if (const auto row = issues().at(static_cast<size_t>(index)))
        issues().remove(row->id);
    refreshIssues();
}

void frmmain::clearIssues() {
    issues().clear();
    refreshIssues();
}

// The magazine and record columns give the server's bytes, as the server and
// the local catalogue get them; the list shows their text.
std::string frmmain::issueText(int index, int iColumn) const {
    const auto row = issues().at(static_cast<size_t>(index));
    if (!row)
        return {};
    switch (iColumn) {
        case colMagazine: return row->magazine;
        case colRecord: return row->record;
        default: return IssueModel::shownText(*row, iColumn);
    }
}

void frmmain::sortIssues(int iColumn, bool bDescending) {
    issues().sort(iColumn, bDescending);
    refreshIssues();
}

// What the list shows of a row: its texts and the tick.
void frmmain::issueDisplayInfo(NMLVDISPINFOW* info) {
    LVITEMW& item = info->item;
    const auto row = issues().at(static_cast<size_t>(item.iItem));
    if (!row)
        return;
    if (item.mask & LVIF_TEXT) {
        // The record column only keeps the column count: it has no width,
        // and a screen reader is not to read the raw record out either.
        shownText_ = item.iSubItem == colRecord ? std::wstring() : Text::wide(IssueModel::shownText(*row, item.iSubItem));
        item.pszText = shownText_.data();
    }
    if (item.mask & LVIF_IMAGE)
        item.iImage = 0;
    if (item.mask & LVIF_STATE) {
        item.state = (item.state & ~kStateImageMask) | (row->ticked ? kTicked : kUnticked);
        item.stateMask |= kStateImageMask;
    }
}

// --- ticks ---------------------------------------------------------------------

bool frmmain::getLstTick() {
    const int i = selectedIndex(lv);
    const auto row = i < 0 ? std::nullopt : issues().at(static_cast<size_t>(i));
    return row && row->ticked;
}

void frmmain::setLstTick() {
    issues().tickAll();
    refreshIssues();
}

void frmmain::setTick() {
    const int i = selectedIndex(lv);
    if (i < 0)
        return;
    issues().setTicked(static_cast<size_t>(i), !getLstTick());
    SendMessageW(lv, LVM_REDRAWITEMS, i, i);
}

// --- commands ------------------------------------------------------------------

bool frmmain::deliverAll() { return deliverTicked(); }

bool frmmain::removeAll() {
    enableButton(tbDeliver, false);
    enableButton(tbRemove, false);
    // The question was asked on the window; the dialog that offered Remove goes once it is done.
    return removeTicked([] { frmmess::unload(); });
}

void frmmain::removeMag() {
    bool confirmed = false;
    {
        // While a job runs the list is its: nothing is asked or removed. And
        // while the question is open, no check may rebuild the list it asks about.
        Work::Claim question(Work::Job::Remove);
        if (!question)
            return;
        const int32_t n = countTicked();
        if (n < 1) {
            messageBox("Nothing to do.", MB_OK | MB_ICONINFORMATION);
            return;
        }
        const std::string text =
            n == 1
                ? std::string("This will permanently remove your selected item.\n\nAre you sure you want to do this?")
                : "This will permanently remove your " + toDecimal(n) +
                      " selected items.\n\nAre you sure you want to do this?";
        confirmed = messageBox(text, MB_YESNO | MB_ICONQUESTION) == IDYES;
    }
    if (confirmed)
        removeAll();
}

// --- events --------------------------------------------------------------------

void frmmain::lv_ColumnClick(int iColumn) {
    sortIssues(iColumn, toggleSortDirection(lvSortToggle));
}

// A click on a row, or on its check box, toggles its tick once.
void frmmain::lv_ItemClick(int) { setTick(); }

void frmmain::lvmen_Popup() {
    if (issueCount() >= 1)
        popupMenu(lvmen_);
}

void frmmain::tb_ButtonClick(int iButton) {
    // The first three start work: while work runs they do nothing, and the
    // dialog (a delivery's Pause and Cancel) stays.
    if (iButton < tbClose) {
        if (Work::busy())
            return;
        frmmess::instance().hide();
    }
    switch (iButton) {
        case tbNewMagazines:
            enableButton(tbDeliver, false);
            enableButton(tbRemove, false);
            checkNewIssues(true, [] { announceNewIssues(Work::newIssueCount); });
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
