// replaced by the issue-list commands
#include "library/frmmain.h"

void frmmain::tb_ButtonClick(int iButton) {
    if (iButton == tbClose)
        ShowWindow(hwnd_, SW_HIDE);
    else if (iButton == tbHelp)
        popupMenu(mnHelp_);
}
bool frmmain::getLstTick() { return false; }
void frmmain::setLstTick() {}
void frmmain::setTick() {}
bool frmmain::deliverAll() { return false; }
bool frmmain::removeAll() { return false; }
void frmmain::removeMag() {}
int frmmain::addIssueEntry(const std::string&, const std::string& sTitle, const std::string& sIssue,
                           const std::string& sMagazine, const std::string& sSize, const std::string& sRecord) {
    LVITEMA it{};
    it.mask = LVIF_TEXT | LVIF_IMAGE;
    it.iItem = issueCount();
    it.pszText = const_cast<char*>(sTitle.c_str());
    int index = static_cast<int>(SendMessageA(lv, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&it)));
    setIssueText(index, colIssue, sIssue);
    setIssueText(index, colMagazine, sMagazine);
    setIssueText(index, colSize, sSize);
    setIssueText(index, colRecord, sRecord);
    return index;
}
int frmmain::findIssueByKey(const std::string&) const { return -1; }
void frmmain::selectIssue(int) {}
void frmmain::removeIssue(int) {}
int frmmain::issueCount() const { return static_cast<int>(SendMessageA(lv, LVM_GETITEMCOUNT, 0, 0)); }
std::string frmmain::issueText(int, int) const { return {}; }
void frmmain::setIssueText(int index, int iColumn, const std::string& sText) {
    LVITEMA it{};
    it.iSubItem = iColumn;
    it.pszText = const_cast<char*>(sText.c_str());
    SendMessageA(lv, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&it));
}
void frmmain::sortIssues(int, bool) {}
void frmmain::lv_ColumnClick(int) {}
void frmmain::lv_ItemClick(int) {}
void frmmain::lvmen_Popup() {
    if (issueCount() > 0)
        popupMenu(lvmen_);
}
