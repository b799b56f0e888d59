// The check for new issues and the delivery run, end to end inside the
// program, against the sample publisher on loopback.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "PublisherFixture.h"
#include "base/ModCommon.h"
#include "app/StartUp.h"
#include "catalogue/Catalogue.h"
#include "work/Check.h"
#include "dialog/frmmess.h"
#include "dialog/frmsettings.h"
#include "work/DeliveryRetry.h"
#include "ftp/cFTP.h"
#include "ftp/modFTP.h"
#include "library/frmmain.h"
#include "support/ScratchFolder.h"
#include "support/gui.h"
#include "text/Text.h"
#include "tray/frmtray.h"
#include "work/SelfUpdate.h"
#include "work/Work.h"

using namespace ModCommon;
using namespace StartUp;
using namespace Work;
using modFTP::transferBusy;

namespace {

// The start timer's update step, as a job: true when it offered an update.
bool autoUpdate() {
    bool offered = false;
    runOnEngine([&offered] { offered = SelfUpdate::autoSystemUpdate(); });
    return offered;
}


struct HeartBase : testing::Test {
    ScratchProgramFolder folder;
    frmmain* w = nullptr;
    void SetUp() override {
        createLibraryFolders();
        heart::useTheSamplePublisher();
        w = &frmmain::instance();
        w->clearIssues();
        frmmess::unload();
        checkRunning = transferBusy = deliveryPaused = deliveryCancelled = false;
        isConnected = false;
        deliveryRetry::waitsMs = {100, 100, 100};  // the broken issue drops on every try
        Work::wakeGraceMs = 0;                      // no test has just woken unless it says so
    }
    void TearDown() override {
        frmmess::unload();
        // A wake's check left waiting would run in the next test.
        SendMessageW(frmtray::instance().hwnd(), WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
        deliveryRetry::waitsMs = {2000, 8000, 30000};
        cFTP::timeOutMs = 30000;
        deliveryRetry::wakePollMs = 2000;
        frmtray::wakeCheckDelayMs = 20000;
        frmtray::wakeRetryMs = {60000, 120000, 240000, 300000};
        heart::writeServerCatalogue(
            "Winter Issue_AB_1.f#;Spring Issue_CQ_1.f#;Summer Issue_HT_1.f#;Autumn Issue_AB_2.f#;");
    }
    std::string file(const std::string& relative) {
        std::string text;
        fileSystem.ReadAll(folder.path() + "\\" + relative, text);
        return text;
    }
    std::string serverFile(const std::string& relative) {
        std::string text;
        fileSystem.ReadAll(heart::pubFolder() + "\\" + relative, text);
        return text;
    }
    std::vector<std::string> titles() {
        std::vector<std::string> out;
        for (int i = 0; i < w->issueCount(); ++i)
            out.push_back(w->issueText(i, frmmain::colTitle));
        return out;
    }
};

using CheckAgainstPublisher = HeartBase;
using DeliveryAgainstPublisher = HeartBase;

}  // namespace

TEST_F(CheckAgainstPublisher, ListsNewIssuesWhoseFilesExist) {
    heart::writeServerCatalogue("Winter Issue_AB_1.f#;Missing_AB_7.f#;Spring Issue_CQ_1.f#;");
    checkNewIssues(false);
    finishWork();
    EXPECT_TRUE(isConnected);
    EXPECT_TRUE(checkDone);
    EXPECT_FALSE(checkRunning);
    ASSERT_EQ(w->issueCount(), 2);
    EXPECT_EQ(newIssueCount, 2);
    EXPECT_GE(w->findIssueByKey("key0"), 0);
    EXPECT_GE(w->findIssueByKey("key2"), 0);
    EXPECT_EQ(w->findIssueByKey("key1"), -1);
    // Sorted by magazine; every entry ticked; the record kept whole.
    int ab = w->findIssueByKey("key0");
    EXPECT_EQ(w->issueText(0, frmmain::colMagazine), "Alpine Boating");
    EXPECT_EQ(w->issueText(1, frmmain::colMagazine), "Coastal Quilts");
    EXPECT_EQ(w->issueText(ab, frmmain::colTitle), "Winter Issue");
    EXPECT_EQ(w->issueText(ab, frmmain::colIssue), "1");
    EXPECT_EQ(w->issueText(ab, frmmain::colRecord), "Winter Issue_AB_1.f#");
    EXPECT_EQ(w->issueText(ab, frmmain::colStatus), "");
    EXPECT_EQ(frmmain::instance().countTicked(), 2);
    EXPECT_EQ(w->statusPanel(1), "New");
    EXPECT_EQ(w->statusPanel(2), "2");
    EXPECT_TRUE(w->buttonEnabled(frmmain::tbDeliver));
    EXPECT_TRUE(w->buttonEnabled(frmmain::tbRemove));
    EXPECT_EQ(frmtray::instance().toolTip(), "Quillora");
    // The server's files stay in the data folder; the local catalogue is made.
    EXPECT_EQ(file("data\\em_lst.srv"), serverFile("em_lst.srv"));
    EXPECT_TRUE(fileSystem.FileExists(dataPath + "VORK.ini"));
    EXPECT_TRUE(fileSystem.FileExists(dataPath + "em_lst.lcl"));
}

TEST_F(CheckAgainstPublisher, KnownUnsafeAndMalformedRecordsStayOut) {
    fileSystem.Append(dataPath + "em_lst.lcl", "Winter Issue_AB_1.f#;");
    fileSystem.CreateFolder(heart::pubFolder() + "\\UKNOWN");
    fileSystem.Append(heart::pubFolder() + "\\UKNOWN\\Lost_ZZ_3.pdf", "%PDF-1.4");
    heart::writeServerCatalogue(
        "Winter Issue_AB_1.f#;..\\..\\evil_AB_1.f#;two_AB.f#;Spring Issue_CQ_1.pdf;CON_AB_1.f#;"
        "Lost_ZZ_3.f#;Spring Issue_CQ_1.f#;");
    checkNewIssues(false);
    finishWork();
    EXPECT_EQ(titles(), (std::vector<std::string>{"Spring Issue", "Lost"}));
    int lost = w->findIssueByKey("key4");
    ASSERT_GE(lost, 0);
    EXPECT_EQ(w->issueText(lost, frmmain::colMagazine), "UKNOWN");
    EXPECT_EQ(w->issueText(lost, frmmain::colSize), "0.00 MB");
}

TEST_F(CheckAgainstPublisher, SizesInMegabytesWithTheUsersSeparators) {
    heart::writeServerCatalogue("Sized_CQ_7.f#;");
    checkNewIssues(false);
    finishWork();
    ASSERT_EQ(w->issueCount(), 1);
    EXPECT_EQ(w->issueText(0, frmmain::colSize), "1.50 MB");
    EXPECT_EQ(formatMegabytes(2147483647LL), "2,048.00 MB");
    EXPECT_EQ(formatMegabytes(0), "0.00 MB");
    EXPECT_EQ(formatMegabytes(1099511627776LL + 5243), "1,048,576.01 MB");  // rounded, grouped by three
}

TEST_F(CheckAgainstPublisher, NothingNewLeavesReadyAndDisabledButtons) {
    heart::writeServerCatalogue("Winter Issue_AB_1.f#;Spring Issue_CQ_1.f#;");
    fileSystem.Append(dataPath + "em_lst.lcl", "Winter Issue_AB_1.f#;Spring Issue_CQ_1.f#");
    checkNewIssues(true);
    finishWork();
    EXPECT_EQ(w->issueCount(), 0);
    EXPECT_EQ(newIssueCount, 0);
    EXPECT_EQ(w->statusPanel(1), "Ready");
    EXPECT_EQ(w->statusPanel(2), "");
    EXPECT_FALSE(w->buttonEnabled(frmmain::tbDeliver));
    EXPECT_FALSE(w->buttonEnabled(frmmain::tbRemove));
    // With progress shown, the dialog stays for the caller's announcement.
    ASSERT_TRUE(frmmess::exists());
    EXPECT_EQ(frmmess::instance().message(), "Checking for magazines...");
}

TEST_F(CheckAgainstPublisher, NoConnectionShowsThePromptAndChangesNothing) {
    heart::useNoServer();
    w->addIssueEntry("old", "Old", "1", "Mag", "1.00 MB", "Old_AB_1.f#");
    w->setStatusPanel(1, "Remaining");
    checkNewIssues(false);
    finishWork();
    EXPECT_FALSE(isConnected);
    EXPECT_EQ(frmtray::instance().toolTip(), "Quillora (Not connected)");
    ASSERT_TRUE(frmmess::exists());
    frmmess& m = frmmess::instance();
    EXPECT_EQ(m.message(), "No Internet connection established.\n\nPlease click 'Connect' and try again.");
    EXPECT_EQ(m.buttonCaption(1), "Connect...");
    EXPECT_EQ(m.buttonCaption(2), "Cancel");
    EXPECT_EQ(w->issueCount(), 1);
    EXPECT_EQ(w->statusPanel(1), "Remaining");

    // "Connect..." counts the failed attempts, across closing the prompt.
    const int16_t before = frmmess::connectAttempts;
    m.cmdmess_Click(1);
    finishWork();
    EXPECT_EQ(m.message(), "Unable to connect to the Internet, please ensure you have an Internet connection before "
                           "trying again. Attempt: " + std::to_string(before + 1));
    m.cmdmess_Click(1);
    finishWork();
    EXPECT_NE(m.message().find("Attempt: " + std::to_string(before + 2)), std::string::npos);
    m.cmdmess_Click(2);  // Cancel
    EXPECT_FALSE(frmmess::exists());
    showNoConnection();
    heart::useTheSamplePublisher();
    frmmess::instance().cmdmess_Click(1);
    finishWork();
    EXPECT_TRUE(isConnected);
    EXPECT_FALSE(frmmess::exists());  // connected: the prompt closes
}

namespace {

constexpr char kCheckFailed[] =
    "An error occured whilst checking for magazines.\n\nPlease make sure you have an active Internet "
    "connection.";

// The publishers whose VORK.ini and em_lst.srv always fail: "550", "drop" or "restart".
void useFaultyPublisher(const std::string& kind) {
    std::ifstream in(heart::winePath(heart::serverDir() + "/../faulty-" + kind + "/port"));
    std::string port;
    in >> port;
    SetEnvironmentVariableA("TOLV_SERVER", ("127.0.0.1:" + port).c_str());
}

}  // namespace

TEST_F(CheckAgainstPublisher, FailedCopiesKeepTheEarlierOnesWhole) {
    for (const char* fault : {"550", "drop", "restart"}) {
        SCOPED_TRACE(fault);
        heart::useTheSamplePublisher();
        heart::writeServerCatalogue("Winter Issue_AB_1.f#;Spring Issue_CQ_1.f#;");
        checkNewIssues(false);
        finishWork();
        ASSERT_EQ(w->issueCount(), 2);
        const std::string settings = file("data\\VORK.ini"), catalogue = file("data\\em_lst.srv");
        const size_t logFrom = file("data\\quillora.log").size();

        useFaultyPublisher(fault);
        checkNewIssues(false);
        finishWork();
        EXPECT_TRUE(isConnected) << "the faulty publisher was not reached";
        // The log tells support which file failed and what the server said, and no password.
        const std::string log = file("data\\quillora.log").substr(logFrom);
        EXPECT_NE(log.find(fault == std::string("550") ? " copy of em_lst.srv failed | reply: 550 "
                                                       : " copy of em_lst.srv failed"),
                  std::string::npos)
            << log;
        EXPECT_EQ(log.find(TOLV_FTP_PASSWORD), std::string::npos);
        EXPECT_EQ(file("data\\VORK.ini"), settings);
        EXPECT_EQ(file("data\\em_lst.srv"), catalogue);
        EXPECT_EQ(titles(), (std::vector<std::string>{"Winter Issue", "Spring Issue"}));
        EXPECT_FALSE(autoUpdate()) << "the earlier settings file names our version";
        frmtray::instance().systemUpdate();  // a fetch that failed is no "No new version"
        finishWork();
        EXPECT_EQ(frmmess::instance().message(), "A problem occured whilst updating.");
        EXPECT_EQ(file("data\\VORK.ini"), settings);
        EXPECT_FALSE(fileSystem.FileExists(dataPath + "VORK.ini.part"));
        EXPECT_FALSE(fileSystem.FileExists(dataPath + "em_lst.srv.part"));
    }
}

// A server that sends its settings file and catalogue without end: each
// copy stops at its cap, on disk too, and the earlier ones stay.
TEST_F(CheckAgainstPublisher, EndlessCopiesStopAtTheirCapsAndKeepTheEarlierOnes) {
    checkNewIssues(false);
    finishWork();
    const std::string settings = file("data\\VORK.ini"), catalogue = file("data\\em_lst.srv");
    useFaultyPublisher("endless");
    std::atomic<bool> done{false};
    int64_t peak[2] = {-1, -1};  // the largest copies on disk while the check runs
    std::thread watch([&] {
        for (; !done; Sleep(1))
            for (int i = 0; i < 2; ++i)
                peak[i] = std::max(peak[i],
                                   fileSystem.FileSize(dataPath + (i ? "em_lst.srv" : "VORK.ini") + ".part"));
    });
    checkNewIssues(false);
    finishWork();
    done = true;
    watch.join();
    std::printf("largest copies on disk: VORK.ini %lld, em_lst.srv %lld bytes\n",
                static_cast<long long>(peak[0]), static_cast<long long>(peak[1]));
    EXPECT_EQ(frmmess::instance().message(), kCheckFailed);
    EXPECT_GT(peak[0], 0) << "another server's file alike in size and time is still fetched";
    EXPECT_GT(peak[1], 0);
    EXPECT_LE(peak[0], Catalogue::kMaxSettingsBytes);
    EXPECT_LE(peak[1], Catalogue::kMaxCatalogueBytes);
    EXPECT_EQ(file("data\\VORK.ini"), settings);
    EXPECT_EQ(file("data\\em_lst.srv"), catalogue);
}

// One byte every 20 s is progress to a stall watchdog; the copy's deadline
// (a minute for so few bytes) still ends it, and the check goes on. The
// window answers meanwhile.
TEST_F(CheckAgainstPublisher, ATrickledSettingsFileEndsAtItsDeadline) {
    checkNewIssues(false);
    finishWork();
    const std::string settings = file("data\\VORK.ini");
    useFaultyPublisher("trickle");
    cFTP::copyFloorMs = 3000;  // a minute in the program
    const ULONGLONG start = GetTickCount64();
    ULONGLONG answered = ~0ull;
    runLater(1000, [&] { answered = GetTickCount64() - start; });
    checkNewIssues(false);
    finishWork();
    const ULONGLONG took = GetTickCount64() - start;
    cFTP::copyFloorMs = 60000;
    std::printf("the trickled check took %llu ms; a timer due at 1000 ms ran at %llu ms\n", took, answered);
    EXPECT_LT(answered, 2000u) << "the window waited for the trickled copy";
    EXPECT_GE(took, 3000u);
    EXPECT_LT(took, 10000u);
    EXPECT_EQ(file("data\\VORK.ini"), settings);
    EXPECT_GT(w->issueCount(), 0);
}

// A listing of 20 MB, or a size answered late in a batch of them: the folder
// is listed the next way, and every issue still gets its own size.
// A listing that trickles a byte a second, never slow enough for the
// time-out, ends at its deadline while the window answers.
TEST_F(CheckAgainstPublisher, BadListingsStillGiveEachIssueItsSize) {
    useFaultyPublisher("listing");
    cFTP::timeOutMs = 1500;
    cFTP::copyFloorMs = 3000;
    const std::pair<const char*, const char*> checks[] = {{"Sized_AB_7.f#;Winter Issue_AB_1.f#;", "0.00 MB"},
                                                          {"Sized_CQ_7.f#;Big_CQ_8.f#;", "1.50 MB"},
                                                          {"Sized_HT_7.f#;Summer Issue_HT_1.f#;", nullptr}};
    for (const auto& [records, second] : checks) {
        const ULONGLONG start = GetTickCount64();
        ULONGLONG answered = ~0ull;
        runLater(500, [&] { answered = GetTickCount64() - start; });
        std::ofstream(heart::winePath(heart::serverDir() + "/../faulty-listing/root/pub/em_lst.srv"))
            << records;
        checkNewIssues(false);
        finishWork();
        ASSERT_EQ(w->issueCount(), 2) << records;
        if (GetTickCount64() - start > 1500) {
            EXPECT_LT(answered, 1500u) << records << ": the window waited for the listing";
        }
        EXPECT_LT(GetTickCount64() - start, 10000u) << records << ": the listing outlived its deadline";
        if (!second)
            continue;  // the trickled folder's issues are listed; their sizes are not known
        EXPECT_EQ(w->issueText(w->findIssueByKey("key0"), frmmain::colSize), "2.50 MB") << records;
        EXPECT_EQ(w->issueText(w->findIssueByKey("key1"), frmmain::colSize), second) << records;
    }
    cFTP::copyFloorMs = 60000;
}

TEST_F(CheckAgainstPublisher, AnOversizedCatalogueOrRecordIsRefused) {
    for (const bool oversized : {true, false}) {
        SCOPED_TRACE(oversized ? "catalogue over the cap" : "record too long for the list");
        if (oversized) {
            heart::writeServerCatalogue("Winter Issue_AB_1.f#;");
            // Sparse: the size is what counts.
            HANDLE h = CreateFileA((heart::pubFolder() + "\\em_lst.srv").c_str(), GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(h, INVALID_HANDLE_VALUE);
            LARGE_INTEGER end;
            end.QuadPart = Catalogue::kMaxCatalogueBytes + 1;
            SetFilePointerEx(h, end, nullptr, FILE_BEGIN);
            SetEndOfFile(h);
            CloseHandle(h);
        } else {
            heart::writeServerCatalogue("Winter Issue_AB_1.f#;" +
                                        std::string(Catalogue::kMaxRecordLength, 'x') + "_AB_1.f#;");
        }
        checkNewIssues(false);
        finishWork();
        ASSERT_TRUE(frmmess::exists());
        EXPECT_EQ(frmmess::instance().message(), kCheckFailed);
        EXPECT_EQ(w->issueCount(), 0);
        EXPECT_FALSE(checkRunning);
        EXPECT_EQ(w->statusPanel(1), "Ready");
        frmmess::unload();
    }
}

// A program folder the user may not write to (a standard user's "Program
// Files") is named, instead of the Internet text. Wine lets us write
// anywhere, so a file stands where the data folder belongs: the writes into
// it fail for real.
TEST_F(CheckAgainstPublisher, UnwritableProgramFolderIsNamed) {
    ASSERT_TRUE(fileSystem.DeleteFolder(folder.path() + "\\data"));
    ASSERT_TRUE(fileSystem.CreateTextFile(folder.path() + "\\data", false));
    PromptRecorder prompt(IDOK);
    checkNewIssues(false);
    finishWork();
    EXPECT_TRUE(isConnected);
    EXPECT_EQ(prompt.count, 1);
    EXPECT_EQ(prompt.lastText, "Quillora cannot save files in its folder " + folder.path() +
                                   ".\n\nPlease ask an administrator to install Quillora with its setup program, or "
                                   "to let you change that folder.");
    EXPECT_EQ(prompt.lastFlags, UINT(MB_OK | MB_ICONEXCLAMATION));
    EXPECT_FALSE(frmmess::exists());
    EXPECT_EQ(w->issueCount(), 0);
    EXPECT_EQ(frmtray::instance().toolTip(), "Quillora");
}

TEST_F(DeliveryAgainstPublisher, SecondOfThreeFailsTheOthersArrive) {
    heart::writeServerCatalogue("Winter Issue_AB_1.f#;Broken_CQ_5.f#;Summer Issue_HT_1.f#;");
    checkNewIssues(false);
    finishWork();
    ASSERT_EQ(w->issueCount(), 3);
    std::vector<std::string> dialogs;
    frmmess::instance();
    showMessageDialog("x", "Deliver", "Close", "Remove", frmmess::fullHeight);
    frmmess::instance().cmdmess_Click(0);  // Deliver, "Normal"
    finishWork();
    EXPECT_EQ(fileType, "pdf");
    EXPECT_EQ(file("My Magazines\\Alpine Boating\\Winter Issue_AB_1.pdf"),
              serverFile("Alpine Boating\\Winter Issue_AB_1.pdf"));
    EXPECT_EQ(file("My Magazines\\Home Tinkerer\\Summer Issue_HT_1.pdf"),
              serverFile("Home Tinkerer\\Summer Issue_HT_1.pdf"));
    EXPECT_FALSE(fileSystem.FileExists(folder.path() + "\\My Magazines\\Coastal Quilts\\Broken_CQ_5.pdf"));
    EXPECT_TRUE(fileSystem.Files(folder.path() + "\\My Magazines\\Coastal Quilts").empty());
    ASSERT_EQ(w->issueCount(), 1);
    EXPECT_EQ(w->issueText(0, frmmain::colTitle), "Broken");
    EXPECT_EQ(w->issueText(0, frmmain::colStatus), "Failed");  // not turned back to "Waiting"
    EXPECT_EQ(failedCount, 1);
    EXPECT_EQ(file("data\\em_lst.lcl"), "Winter Issue_AB_1.f#;Summer Issue_HT_1.f#;");
    EXPECT_EQ(frmmess::instance().message(), "Delivery complete.");
    EXPECT_EQ(frmmess::instance().buttonCaption(2), "OK");
    EXPECT_EQ(w->statusPanel(1), "Remaining");
    EXPECT_EQ(w->statusPanel(2), "1");
    EXPECT_FALSE(transferBusy);
    EXPECT_EQ(frmtray::instance().IconHandle(), frmtray::instance().ownIcon());

    const std::string log = file("data\\quillora.log");
    EXPECT_NE(log.find(" delivered Alpine Boating/Winter Issue_AB_1.pdf ("), std::string::npos) << log;
    EXPECT_NE(log.find(" try 1 of Coastal Quilts/Broken_CQ_5.pdf failed; retrying in about 100 ms"),
              std::string::npos);
    EXPECT_NE(log.find(" delivery of Coastal Quilts/Broken_CQ_5.pdf failed: the transfer failed"),
              std::string::npos);

    // Delivering the failed one alone: the count text of a fresh run.
    w->deliverAll();
    finishWork();
    EXPECT_EQ(frmmess::instance().message(), "1 failed to deliver.\n\nPlease try again at a later date.");
}

TEST_F(DeliveryAgainstPublisher, TorrentsGoToTheirOwnLibrary) {
    heart::writeServerCatalogue("Autumn Issue_AB_2.f#;");
    checkNewIssues(false);
    finishWork();
    ASSERT_EQ(w->issueCount(), 1);
    showMessageDialog("x", "Deliver", "Close", "Remove", frmmess::fullHeight);
    frmmess::instance().selectOption(1);
    frmmess::instance().cmdmess_Click(0);
    finishWork();
    EXPECT_EQ(file("My Torrents\\Alpine Boating\\Autumn Issue_AB_2.torrent"),
              serverFile("Alpine Boating\\Autumn Issue_AB_2.torrent"));
    EXPECT_FALSE(fileSystem.FolderExists(folder.path() + "\\My Magazines\\Alpine Boating"));
    // The library tree shows it.
    auto torr = reinterpret_cast<HTREEITEM>(SendMessageA(w->tv, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    torr = reinterpret_cast<HTREEITEM>(SendMessageA(w->tv, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(torr)));
    auto child = reinterpret_cast<HTREEITEM>(SendMessageA(w->tv, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(torr)));
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(w->nodeFullPath(child), "My Torrents\\Alpine Boating");
}

// The library moved in the Settings window to a folder named in another
// language: an issue held open by a reader stops the move and the old
// library stays whole; once it is free everything moves, and the library
// window, the next delivery and the next start follow it.
TEST_F(DeliveryAgainstPublisher, AMovedLibraryTakesItsIssuesAndTheNextDelivery) {
    heart::writeServerCatalogue("Winter Issue_AB_1.f#;");
    auto deliver = [&] {
        checkNewIssues(false);
        finishWork();
        showMessageDialog("x", "Deliver", "Close", "Remove", frmmess::fullHeight);
        frmmess::instance().cmdmess_Click(0);
        finishWork();
        frmmess::unload();
    };
    deliver();
    const std::string winter = "My Magazines\\Alpine Boating\\Winter Issue_AB_1.pdf";
    const std::string delivered = file("data\\em_lst.lcl");
    ScratchFolder scratch;
    const std::string documents = scratch.path() + "\\Dokumente J\xc3\xbcrgen";
    ASSERT_TRUE(fileSystem.CreateFolder(documents));

    frmsettings::open();
    frmsettings& s = frmsettings::instance();
    HANDLE reader = CreateFileW(Text::wide(folder.path() + "\\" + winter).c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    s.chooseFolder(documents);
    s.cmdOK_Click();
    finishWork();
    CloseHandle(reader);
    ASSERT_TRUE(frmsettings::exists());
    EXPECT_NE(s.note().find("Winter Issue_AB_1.pdf"), std::string::npos) << s.note();
    EXPECT_EQ(libraryRoot(), folder.path());
    EXPECT_EQ(file(winter), serverFile("Alpine Boating\\Winter Issue_AB_1.pdf"));
    EXPECT_TRUE(fileSystem.SubFolders(documents).empty());

    s.chooseFolder(documents);
    s.cmdOK_Click();
    finishWork();
    EXPECT_FALSE(frmsettings::exists());
    EXPECT_EQ(libraryRoot(), documents);
    std::string moved;
    fileSystem.ReadAll(documents + "\\" + winter, moved);
    EXPECT_EQ(moved, serverFile("Alpine Boating\\Winter Issue_AB_1.pdf"));
    EXPECT_FALSE(fileSystem.FolderExists(folder.path() + "\\My Magazines"));
    EXPECT_EQ(file("data\\em_lst.lcl"), delivered);
    EXPECT_EQ(w->statusPanel(3), "Library: " + documents);
    auto mags = reinterpret_cast<HTREEITEM>(SendMessageA(w->tv, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    auto child = reinterpret_cast<HTREEITEM>(SendMessageA(w->tv, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(mags)));
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(w->nodeFullPath(child), "My Magazines\\Alpine Boating");

    // Longer than before: a copy of the same size and second would pass for unchanged.
    heart::writeServerCatalogue("Winter Issue_AB_1.f#;Spring Issue_CQ_1.f#;");
    deliver();
    EXPECT_TRUE(fileSystem.FileExists(documents + "\\My Magazines\\Coastal Quilts\\Spring Issue_CQ_1.pdf"));
    setLibraryRoot("");
    createLibraryFolders();  // the next start
    EXPECT_EQ(libraryRoot(), documents);
}

TEST_F(DeliveryAgainstPublisher, PauseHoldsAndResumeFinishesTheIssue) {
    heart::writeServerCatalogue("Big Issue_AB_9.f#;");
    checkNewIssues(false);
    finishWork();
    ASSERT_EQ(w->issueCount(), 1);
    bool sawPercent = false, heldWhilePaused = false;
    runLater(700, [&] {
        frmmess& m = frmmess::instance();
        sawPercent = m.message2().find("% complete.") != std::string::npos;
        EXPECT_EQ(frmtray::instance().IconHandle(), frmmain::instance().icon());
        m.cmdmess_Click(2);  // Pause
        EXPECT_EQ(m.buttonCaption(2), "Resume");
        runLater(800, [&] {
            // A sleep and a wake meanwhile leave the user's pause as it was.
            SendMessageW(frmtray::instance().hwnd(), WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
            SendMessageW(frmtray::instance().hwnd(), WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
            heldWhilePaused = frmmess::instance().modal() && transferBusy && deliveryPaused &&
                              frmmess::instance().buttonCaption(2) == "Resume";
            isConnected = false;                    // lost while paused: Resume still goes on
            frmmess::instance().cmdmess_Click(2);  // Resume
        });
    });
    w->deliverAll();
    finishWork();
    EXPECT_TRUE(sawPercent);
    EXPECT_TRUE(heldWhilePaused);
    EXPECT_EQ(frmmess::instance().message(), "Delivery complete.");
    EXPECT_EQ(file("My Magazines\\Alpine Boating\\Big Issue_AB_9.pdf").size(), 3u * 1024 * 1024);
    EXPECT_EQ(frmtray::instance().IconHandle(), frmtray::instance().ownIcon());
}

// The lid closed mid-issue: the network and the connections go with the
// sleep, and after the wake the server takes a while to answer. The issue
// goes on where the file on disk ends, and no try is spent on the wait.
TEST_F(DeliveryAgainstPublisher, SleepHoldsTheIssueAndTheWakeGoesOnFromThePartialFile) {
    heart::writeServerCatalogue("Big Issue_AB_9.f#;");
    checkNewIssues(false);
    finishWork();
    ASSERT_EQ(w->issueCount(), 1);
    frmtray& tray = frmtray::instance();
    Work::wakeGraceMs = 5000;
    deliveryRetry::wakePollMs = 100;
    frmtray::wakeCheckDelayMs = 100;
    frmtray::wakeRetryMs = {100, 100, 100, 100};
    const heart::ServerLog log;
    const size_t logFrom = file("data\\quillora.log").size();
    std::string asleep;
    runLater(700, [&] {
        SendMessageW(tray.hwnd(), WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
        asleep = frmmess::instance().message() + "|" + frmmess::instance().buttonCaption(2);
        heart::useNoServer();
        Work::session()->Abort();
        runLater(400, [&] {
            SendMessageW(tray.hwnd(), WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
            // Longer than the three tries a drop may spend.
            runLater(1200, [] { heart::useTheSamplePublisher(); });
        });
    });
    w->deliverAll();
    finishWork();
    EXPECT_EQ(asleep, "Delivering: Big Issue\n\nPaused while the computer sleeps.|Resume");
    EXPECT_EQ(frmmess::instance().message(), "Delivery complete.");
    EXPECT_EQ(failedCount, 0);
    EXPECT_TRUE(file("My Magazines\\Alpine Boating\\Big Issue_AB_9.pdf") == serverFile("Alpine Boating\\Big Issue_AB_9.pdf"))
        << "not byte-exact";
    const std::vector<long long> sent = log.retrieved("Big Issue_AB_9.pdf");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_LT(sent[1], 3LL * 1024 * 1024);  // the second went on, not from the start
    EXPECT_EQ(log.count("] REST "), 1);
    // Neither the connection the sleep cut nor the tries in the wake's grace
    // spend one of the delivery's tries.
    const std::string tries = file("data\\quillora.log").substr(logFrom);
    EXPECT_EQ(tries.find("retrying in about"), std::string::npos) << tries;
    EXPECT_NE(tries.find("waiting for the network"), std::string::npos) << tries;
    // The check the wake asked for was not due: it ends the wake's tries.
    EXPECT_TRUE(pumpUntil([&] { return !tray.afterWake(); }));
    finishWork();
}

// The network goes away in the middle of an issue for longer than its tries
// would last: the delivery waits for it, says so, and goes on where the file
// ends once the server answers again.
TEST_F(DeliveryAgainstPublisher, ANetworkAwayForAWhileHoldsTheIssueUntilItIsBack) {
    heart::writeServerCatalogue("Big Issue_AB_9.f#;");
    checkNewIssues(false);
    finishWork();
    ASSERT_EQ(w->issueCount(), 1);
    deliveryRetry::wakePollMs = 100;
    const heart::ServerLog log;
    std::string away;
    runLater(700, [&] {
        heart::useNoServer();
        Work::session()->Abort();
        runLater(1500, [&] {
            away = frmmess::instance().message2();
            heart::useTheSamplePublisher();
        });
    });
    w->deliverAll();
    finishWork();
    EXPECT_EQ(away, "Waiting for the network...");
    EXPECT_EQ(frmmess::instance().message(), "Delivery complete.");
    EXPECT_EQ(failedCount, 0);
    EXPECT_TRUE(file("My Magazines\\Alpine Boating\\Big Issue_AB_9.pdf") == serverFile("Alpine Boating\\Big Issue_AB_9.pdf"))
        << "not byte-exact";
    EXPECT_EQ(log.count("] REST "), 1);
}

TEST_F(DeliveryAgainstPublisher, CancelStopsTheRunAndLeavesNoPartialFile) {
    heart::writeServerCatalogue("Big Issue_AB_9.f#;Winter Issue_AB_1.f#;Spring Issue_CQ_1.f#;");
    checkNewIssues(false);
    finishWork();
    ASSERT_EQ(w->issueCount(), 3);
    w->sortIssues(frmmain::colTitle, false);  // the big issue first
    ASSERT_EQ(w->issueText(0, frmmain::colTitle), "Big Issue");
    runLater(700, [] { frmmess::instance().cmdmess_Click(1); });  // Cancel
    w->deliverAll();
    finishWork();
    EXPECT_TRUE(deliveryCancelled);
    EXPECT_EQ(frmmess::instance().message(), "Delivery Cancelled");
    ASSERT_EQ(w->issueCount(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(w->issueText(i, frmmain::colStatus), "Cancelled") << i;
    EXPECT_TRUE(fileSystem.Files(folder.path() + "\\My Magazines\\Alpine Boating").empty());
    EXPECT_FALSE(fileSystem.FolderExists(folder.path() + "\\My Magazines\\Coastal Quilts"));
    EXPECT_EQ(file("data\\em_lst.lcl"), "");
}

TEST_F(DeliveryAgainstPublisher, WithoutConnectionNothingIsDownloaded) {
    heart::writeServerCatalogue("Winter Issue_AB_1.f#;Spring Issue_CQ_1.f#;");
    checkNewIssues(false);
    finishWork();
    ASSERT_EQ(w->issueCount(), 2);
    heart::useNoServer();
    w->deliverAll();
    finishWork();
    EXPECT_EQ(frmmess::instance().message(),
              "No Internet connection established.\n\nPlease click 'Connect' and try again.");
    EXPECT_EQ(w->issueCount(), 2);
    EXPECT_EQ(w->issueText(0, frmmain::colStatus), "");
    EXPECT_TRUE(fileSystem.SubFolders(folder.path() + "\\My Magazines").empty());
}

// Day after day the publisher appends to a catalogue of a few KiB, once
// rewrites it at the same size while its clock went back: only what changed
// crosses the wire, and the issue list is what whole copies would give.
TEST_F(CheckAgainstPublisher, ChecksFetchOnlyWhatTheServerChanged) {
    std::string known;
    for (int i = 100; i < 1000; ++i) known += "Old Issue_AB_" + std::to_string(i) + ".f#;";
    heart::writeServerCatalogue(known);
    fileSystem.Append(dataPath + "em_lst.lcl", known);
    checkNewIssues(false);
    finishWork();

    heart::ServerLog unchanged;
    checkNewIssues(false);
    finishWork();
    EXPECT_EQ(unchanged.since().find("RETR"), std::string::npos) << unchanged.since();

    heart::ServerLog appended;
    const std::string added = "Spring Issue_CQ_1.f#;Winter Issue_AB_1.f#;";
    heart::writeServerCatalogue(known + added);
    checkNewIssues(false);
    finishWork();
    const std::vector<std::string> listed = titles();
    EXPECT_EQ(listed, (std::vector<std::string>{"Winter Issue", "Spring Issue"}));
    EXPECT_EQ(file("data\\em_lst.srv"), serverFile("em_lst.srv"));
    EXPECT_EQ(appended.retrieved("em_lst.srv").back(), 4096 + long(added.size()));
    EXPECT_TRUE(appended.retrieved("VORK.ini").empty());
    EXPECT_NE(appended.since().find("REST " + std::to_string(known.size() - 4096) + " 350"), std::string::npos);
    fileSystem.DeleteFile(dataPath + "copies.ini");
    checkNewIssues(false);
    finishWork();
    EXPECT_EQ(titles(), listed) << "a whole copy lists other issues";

    heart::ServerLog rewritten;
    std::string same = known + added;
    same.replace(same.find("Winter"), 6, "Summer");
    heart::writeServerCatalogue(same);
    heart::shiftServerTime("em_lst.srv", -24);
    checkNewIssues(false);
    finishWork();
    EXPECT_EQ(rewritten.retrieved("em_lst.srv"), std::vector<long long>{long(same.size())});
    EXPECT_EQ(rewritten.since().find("REST"), std::string::npos);
    EXPECT_EQ(file("data\\em_lst.srv"), same);

    // A record fixed in place at the start, then one appended: a whole copy.
    heart::ServerLog headFixed;
    std::string fixed = same + "Autumn Issue_AB_2.f#;";
    fixed.replace(0, 3, "New");
    heart::writeServerCatalogue(fixed);
    checkNewIssues(false);
    finishWork();
    EXPECT_TRUE(file("data\\em_lst.srv") == fixed) << "the old head stayed in front of the new tail";
    EXPECT_EQ(headFixed.retrieved("em_lst.srv").back(), long(fixed.size()));
}

// A server that cannot say when a file changed and never had a signed list:
// both are copied whole at every check, as they always were, and issues
// are delivered.
TEST_F(CheckAgainstPublisher, WithoutModificationTimesEveryCheckCopiesWhole) {
    useFaultyPublisher("no-mdtm");
    heart::ServerLog log(heart::serverDir() + "/../faulty-no-mdtm");
    checkNewIssues(false);
    finishWork();
    const std::vector<std::string> first = titles();
    checkNewIssues(false);
    finishWork();
    EXPECT_EQ(first.size(), 6u);
    EXPECT_EQ(titles(), first);
    const long long size = static_cast<long long>(file("data\\em_lst.srv").size());
    EXPECT_EQ(log.retrieved("em_lst.srv"), (std::vector<long long>{size, size}));
    EXPECT_EQ(log.retrieved("VORK.ini").size(), 2u);
    w->deliverAll();
    finishWork();
    EXPECT_EQ(frmmess::instance().message(), "Delivery complete.");
    EXPECT_EQ(w->issueCount(), 0);
}

namespace {

// The publisher that signed its list of 200 issues once, at its start: what
// a test changes on its disk is served as tampered with, until the test puts
// it back. The issues known to the local catalogue are all but a few.
struct FrozenPublisher {
    const std::string pub = heart::winePath(heart::serverDir() + "/../faulty-frozen/root/pub");
    std::vector<std::pair<std::string, std::string>> changed;  // what to put back

    explicit FrozenPublisher(const std::vector<std::string>& sNew) {
        useFaultyPublisher("frozen");
        std::string known = read("em_lst.srv");
        for (const std::string& record : sNew) known.erase(known.find(record + ";"), record.size() + 1);
        fileSystem.Append(dataPath + "em_lst.lcl", known);
    }
    ~FrozenPublisher() {
        for (auto it = changed.rbegin(); it != changed.rend(); ++it) {
            fileSystem.DeleteFile(pub + "\\" + it->first);
            if (!it->second.empty())
                fileSystem.Append(pub + "\\" + it->first, it->second);
        }
    }
    std::string read(const std::string& relative) const {
        std::string text;
        fileSystem.ReadAll(pub + "\\" + relative, text);
        return text;
    }
    void write(const std::string& relative, const std::string& text) {
        changed.emplace_back(relative, read(relative));
        fileSystem.DeleteFile(pub + "\\" + relative);
        if (text.empty())
            return;
        fileSystem.Append(pub + "\\" + relative, text);
        // A time of its own: MDTM says whole seconds, and a write of the same
        // size within one would look unchanged.
        HANDLE h = CreateFileA((pub + "\\" + relative).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0,
                               nullptr);
        FILETIME ft{};
        GetSystemTimeAsFileTime(&ft);
        ULARGE_INTEGER t{{ft.dwLowDateTime, ft.dwHighDateTime}};
        t.QuadPart += changed.size() * 600000000ULL;  // a minute a write
        ft = {t.LowPart, t.HighPart};
        SetFileTime(h, nullptr, nullptr, &ft);
        CloseHandle(h);
    }
};

}  // namespace

// An issue whose bytes are not the ones the publisher signed fails as any
// failed delivery does and leaves nothing in the library; the others arrive.
TEST_F(DeliveryAgainstPublisher, ATamperedIssueIsNotPlaced) {
    FrozenPublisher server({"Winter Issue_AB_1.f#", "Spring Issue_CQ_1.f#"});
    checkNewIssues(false);
    finishWork();
    ASSERT_EQ(w->issueCount(), 2);
    std::string bytes = server.read("Alpine Boating\\Winter Issue_AB_1.pdf");
    bytes[bytes.size() / 2] ^= 1;
    server.write("Alpine Boating\\Winter Issue_AB_1.pdf", bytes);
    w->deliverAll();
    finishWork();
    EXPECT_TRUE(fileSystem.Files(folder.path() + "\\My Magazines\\Alpine Boating").empty());
    EXPECT_EQ(file("My Magazines\\Coastal Quilts\\Spring Issue_CQ_1.pdf"),
              server.read("Coastal Quilts\\Spring Issue_CQ_1.pdf"));
    ASSERT_EQ(w->issueCount(), 1);
    EXPECT_EQ(w->issueText(0, frmmain::colStatus), "Failed");
    EXPECT_EQ(failedCount, 1);

    // Of another size: refused before a byte is fetched.
    server.write("Alpine Boating\\Winter Issue_AB_1.pdf", bytes + "x");
    heart::ServerLog log(heart::serverDir() + "/../faulty-frozen");
    w->deliverAll();
    finishWork();
    EXPECT_EQ(frmmess::instance().message(), "1 failed to deliver.\n\nPlease try again at a later date.");
    EXPECT_TRUE(log.retrieved("Winter Issue_AB_1.pdf").empty());
}

// A settings file or catalogue the signed list does not describe, whether
// copied whole or appended to: the earlier copies stay, as after a failed
// copy, and so do the issues they list.
TEST_F(CheckAgainstPublisher, ATamperedCatalogueKeepsTheEarlierCopies) {
    FrozenPublisher server({"Winter Issue_AB_1.f#"});
    checkNewIssues(false);
    finishWork();
    ASSERT_EQ(titles(), std::vector<std::string>{"Winter Issue"});
    const std::string settings = file("data\\VORK.ini"), catalogue = file("data\\em_lst.srv");
    const std::string copies = file("data\\copies.ini");
    ASSERT_GT(catalogue.size(), 4096u) << "too small to be appended to";
    for (const bool append : {true, false}) {
        SCOPED_TRACE(append ? "appended" : "whole");
        server.write("em_lst.srv", append ? catalogue + "Spring Issue_CQ_1.f#;" : "Spring Issue_CQ_1.f#;");
        server.write("VORK.ini", server.read("VORK.ini") + "X1=Extra\r\n");
        heart::ServerLog log(heart::serverDir() + "/../faulty-frozen");
        checkNewIssues(false);
        finishWork();
        EXPECT_EQ(log.retrieved("em_lst.srv").size(), 1u) << "not fetched";
        EXPECT_EQ(file("data\\em_lst.srv"), catalogue);
        EXPECT_EQ(file("data\\VORK.ini"), settings);
        EXPECT_EQ(file("data\\copies.ini"), copies);
        EXPECT_EQ(titles(), std::vector<std::string>{"Winter Issue"});
        EXPECT_FALSE(fileSystem.FileExists(dataPath + "em_lst.srv.kept"));
    }
}

// Once a server has served a signed list, a missing or broken one fails
// every delivery and keeps the earlier copies, until a valid one is back.
TEST_F(DeliveryAgainstPublisher, AListGoneAfterOneWasSeenFailsDeliveries) {
    FrozenPublisher server({"Winter Issue_AB_1.f#"});
    checkNewIssues(false);
    finishWork();
    const std::string catalogue = file("data\\em_lst.srv");
    const std::string list = server.read("em_lst.sig");
    std::string broken = list;
    broken[broken.size() - 2] = broken[broken.size() - 2] == '0' ? '1' : '0';
    for (const std::string& served : {std::string(), broken}) {
        SCOPED_TRACE(served.empty() ? "removed" : "broken");
        server.write("em_lst.sig", served);
        server.write("em_lst.srv", "Spring Issue_CQ_1.f#;");
        checkNewIssues(false);
        finishWork();
        EXPECT_EQ(file("data\\em_lst.srv"), catalogue);
        ASSERT_EQ(titles(), std::vector<std::string>{"Winter Issue"});
        w->deliverAll();
        finishWork();
        EXPECT_EQ(frmmess::instance().message(), "1 failed to deliver.\n\nPlease try again at a later date.");
        EXPECT_EQ(w->issueText(0, frmmain::colStatus), "Failed");
        EXPECT_FALSE(fileSystem.FolderExists(folder.path() + "\\My Magazines\\Alpine Boating"));
        server.write("em_lst.srv", catalogue);
        server.write("em_lst.sig", list);
    }
    checkNewIssues(false);
    finishWork();
    w->deliverAll();
    finishWork();
    EXPECT_EQ(frmmess::instance().message(), "Delivery complete.");
}
