// The library scan and the delivered-issues view over real folders.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "base/ModCommon.h"
#include "app/StartUp.h"
#include "catalogue/LibraryScan.h"
#include "library/frmmain.h"
#include "support/gui.h"

using namespace ModCommon;
using namespace StartUp;

namespace {

struct LibraryView : testing::Test {
    ScratchProgramFolder folder;
    frmmain* w = nullptr;
    void SetUp() override {
        createLibraryFolders();
        w = &frmmain::instance();
    }
    void file(const std::string& relative) { fileSystem.Append(folder.path() + "\\" + relative, "x"); }
    void dir(const std::string& relative) { fileSystem.CreateFolder(folder.path() + "\\" + relative); }
    std::vector<std::string> column(int c) {
        std::vector<std::string> out;
        int n = static_cast<int>(SendMessageA(w->lvl, LVM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < n; ++i) {
            char buffer[260] = {};
            LVITEMA item{};
            item.iSubItem = c;
            item.pszText = buffer;
            item.cchTextMax = sizeof buffer;
            SendMessageA(w->lvl, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
            out.push_back(buffer);
        }
        return out;
    }
    std::vector<std::string> children(HTREEITEM parent) {
        std::vector<std::string> out;
        for (auto n = reinterpret_cast<HTREEITEM>(
                 SendMessageA(w->tv, TVM_GETNEXTITEM, parent ? TVGN_CHILD : TVGN_ROOT, reinterpret_cast<LPARAM>(parent)));
             n; n = reinterpret_cast<HTREEITEM>(SendMessageA(w->tv, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(n))))
            out.push_back(w->nodeFullPath(n));
        return out;
    }
    HTREEITEM root(int i) {
        auto n = reinterpret_cast<HTREEITEM>(SendMessageA(w->tv, TVM_GETNEXTITEM, TVGN_ROOT, 0));
        while (i-- > 0)
            n = reinterpret_cast<HTREEITEM>(SendMessageA(w->tv, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(n)));
        return n;
    }
};

}  // namespace

TEST_F(LibraryView, TreeShowsBothLibrariesAndTheirMagazineFolders) {
    dir("My Magazines\\Computing");
    dir("My Magazines\\Gardens ");
    dir("My Torrents\\Computing");
    dir("My Magazines\\Computing\\Deeper");
    frmmain::instance().buildLibraryTree();
    EXPECT_EQ(children(nullptr), (std::vector<std::string>{"My Magazines", "My Torrents"}));
    auto mags = children(root(0));
    std::sort(mags.begin(), mags.end());
    EXPECT_EQ(mags, (std::vector<std::string>{"My Magazines\\Computing", "My Magazines\\Gardens"}));
    EXPECT_EQ(children(root(1)), (std::vector<std::string>{"My Torrents\\Computing"}));
}

TEST_F(LibraryView, ListShowsOnlyIssueFilesSortedByIssueTextDescending) {
    dir("My Magazines\\AB");
    for (const char* name : {"Winter Issue_AB_12.pdf", "notes.txt", "x_y.pdf", "Spring_AB_9.pdf",
                             "Summer_AB_10.torrent", "Autumn_AB_3.PDF", "Winter Issue_AB_13.pdf",
                             "Odd_AB_x.pdf", "Evil_AB_1.pdf.exe", "Bad_AB_2.torrent.lnk"})
        file(std::string("My Magazines\\AB\\") + name);
    frmmain::instance().fillLibraryList("My Magazines\\AB");
    const auto titles = column(0);
    EXPECT_EQ(column(1), (std::vector<std::string>{"9", "3", "12", "10", ""}));
    EXPECT_EQ(titles, (std::vector<std::string>{"Spring", "Autumn", "Winter Issue", "Summer", "Odd"}));
    EXPECT_EQ(column(frmmain::colLocation)[2], "Winter Issue_AB_12.pdf");
    // Month name and four-digit year, from the file's creation date.
    SYSTEMTIME now;
    GetLocalTime(&now);
    char expected[64];
    GetDateFormatA(LOCALE_USER_DEFAULT, 0, &now, "MMMM yyyy", expected, sizeof expected);
    EXPECT_EQ(column(frmmain::colDate)[0], expected);

    frmmain::instance().fillLibraryList("My Magazines");  // a top-level node: the list empties
    EXPECT_TRUE(column(0).empty());
    EXPECT_EQ(fileDateText(folder.path() + "\\nowhere.pdf"), "-");
}

TEST_F(LibraryView, OpeningUnclickedOrMissingPathsReportsThem) {
    dir("My Magazines\\AB");
    file("My Magazines\\AB\\Winter_AB_1.pdf");
    frmmain::instance().buildLibraryTree();
    HTREEITEM ab = reinterpret_cast<HTREEITEM>(
        SendMessageA(w->tv, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(root(0))));
    SendMessageA(w->tv, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(ab));
    w->tv_NodeClick(ab);
    ASSERT_EQ(column(0).size(), 1u);
    PromptRecorder prompt;
    w->selectedLocation.clear();
    w->lvl_DblClick();  // before any item was clicked: the folder path as a file
    EXPECT_EQ(prompt.lastText, "Unable to locate " + folder.path() +
                                   "\\My Magazines\\AB\\.\n\n Please make sure it exists and try again.");
    w->lvl_ItemClick(0);
    EXPECT_EQ(w->selectedLocation, "Winter_AB_1.pdf");
    fileSystem.DeleteFile(folder.path() + "\\My Magazines\\AB\\Winter_AB_1.pdf");
    w->lvl_DblClick();
    EXPECT_EQ(prompt.lastText, "Unable to locate " + folder.path() +
                                   "\\My Magazines\\AB\\Winter_AB_1.pdf.\n\n Please make sure it exists and try again.");
    // "Open." with the focus elsewhere does nothing.
    const int before = prompt.count;
    SetFocus(nullptr);
    w->tb2_ButtonClick(2);
    EXPECT_EQ(prompt.count, before);
}

TEST_F(LibraryView, SortingTheFileListLeavesTheIssueListToggleAlone) {
    w->lvSortToggle = 0;
    w->lvlSortToggle = 0;
    w->lvl_ColumnClick(0);
    EXPECT_EQ(w->lvlSortToggle, 1);
    EXPECT_EQ(w->lvSortToggle, 0);
}
