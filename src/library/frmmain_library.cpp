// replaced by the issue-list commands
#include "library/frmmain.h"

void frmmain::tv_NodeClick(HTREEITEM) {}
std::string frmmain::nodeFullPath(HTREEITEM) const { return {}; }
void frmmain::lvl_ColumnClick(int) {}
void frmmain::lvl_ItemClick(int) {}
void frmmain::lvl_DblClick() {}
void frmmain::tb2_ButtonClick(int) {}
void frmmain::sortLibrary(int, bool) {}
