// systemUpdate and autoSystemUpdate against the sample publisher: the served
// settings file says which version is published, the served tolv.exe is a
// real 32-bit program (or, where a test says so, something else).
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "base/ModCommon.h"
#include "app/StartUp.h"
#include "work/Work.h"
#include "dialog/frmmess.h"
#include "ftp/modFTP.h"
#include "library/frmmain.h"
#include "support/driver_client.h"
#include "support/gui.h"
#include "work/ReleaseCheck.h"
#include "work/SelfUpdate.h"
#include "tray/TransferView.h"
#include "tray/frmtray.h"

namespace fs = std::filesystem;
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


const char offerText2[] = "Quillora 2.0 is available.\n\nPlease click 'Update' to continue.";

fs::path serverDir() {
    const char* dir = std::getenv("TOLV_SELFUPDATE_SERVER");
    std::string unix = dir ? dir : "";
    for (char& c : unix)
        if (c == '/')
            c = '\\';
    return fs::path("Z:" + unix);
}

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeAll(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

testing::AssertionResult holds(const fs::path& p, const std::string& expected) {
    if (!fs::exists(p))
        return testing::AssertionFailure() << p.string() << " does not exist";
    const std::string actual = readAll(p);
    if (actual == expected)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << p.string() << " holds " << actual.size() << " bytes, expected "
                                       << expected.size() << " other bytes";
}

// One program folder per test; publish() says which version the server has.
class SelfUpdateTest : public testing::Test {
protected:
    SelfUpdateTest() : server_(serverDir()) {}

    void SetUp() override {
        const std::string port = readAll(server_ / "port");
        ASSERT_FALSE(port.empty()) << "no publisher at " << server_.string();
        SetEnvironmentVariableA("TOLV_SERVER",
                                ("127.0.0.1:" + port.substr(0, port.find_first_of("\r\n"))).c_str());
        served_ = readAll(pub() / SelfUpdate::programFileName);

        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        folder_ = testsupport::testsDir() / "selfupdate_cases" /
                  (std::string(info->test_suite_name()) + "." + info->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "data");
        setProgramFolder(folder_.string());
        isConnected = false;
        isFirstRun = checkRunning = transferBusy = false;
        SelfUpdate::offerDeclined = false;
        modFTP::watchWork();  // the forms show the engine's reports, as the tray does from start-up
    }
    void TearDown() override {
        if (frmmess::exists())
            frmmess::unload();
        writeAll(pub() / SelfUpdate::programFileName, served_);
        publish("1.0", "");
        SetEnvironmentVariableA("TOLV_SERVER", nullptr);
    }

    fs::path pub() const { return server_ / "root" / "pub"; }
    fs::path servedStatement() const { return pub() / "tolv.exe.sig"; }
    // The settings file names the version; the statement is the fixture's
    // signed one for it (sStatement), or none.
    void publish(const std::string& sVersion, const std::string& sStatement) {
        writeAll(pub() / "VORK.ini",
                 "[MAGS]\r\nAB=Alpine Boating\r\n\r\n[CONFIG]\r\nver=" + sVersion + "\r\n");
        fs::remove(servedStatement());
        if (!sStatement.empty())
            fs::copy_file(server_ / "sigs" / (sStatement + ".sig"), servedStatement());
    }
    void publish(const std::string& sVersion) { publish(sVersion, sVersion); }
    fs::path fetched() const { return folder_ / "data" / "tmp" / SelfUpdate::programFileName; }
    // Nothing of a refused release is left in data\tmp.
    bool nothingFetched() const {
        return !fs::exists(fetched()) &&
               !fs::exists(folder_ / "data" / "tmp" / SelfUpdate::statementFileName);
    }

    // The dialog's message and which of its buttons show, as "caption" or "-".
    std::string dialog() const {
        if (!frmmess::exists() || !frmmess::instance().visible())
            return "(no dialog)";
        frmmess& m = frmmess::instance();
        std::string s = m.message();
        for (int i = 0; i < 3; ++i)
            s += " [" + (m.buttonVisible(i) ? m.buttonCaption(i) : std::string("-")) + "]";
        return s;
    }

    fs::path server_;
    fs::path folder_;
    std::string served_;
};

class SelfUpdateOnRequest : public SelfUpdateTest {};
class SelfUpdateAutomatic : public SelfUpdateTest {};

}  // namespace

TEST_F(SelfUpdateOnRequest, SameVersionFetchesNothingElse) {
    publish("1.0", "");
    frmtray::instance().systemUpdate();
    finishWork();
    EXPECT_EQ("No new version available. [-] [-] [OK]", dialog());
    EXPECT_TRUE(fs::exists(folder_ / "data" / "VORK.ini"));
    EXPECT_FALSE(fs::exists(fetched()));
}

TEST_F(SelfUpdateOnRequest, ANewerVersionFetchesAndOffersTheProgram) {
    publish("2.0");
    frmtray::instance().systemUpdate();
    finishWork();
    EXPECT_EQ(std::string(offerText2) + " [-] [-] [Update]", dialog());
    EXPECT_TRUE(holds(fetched(), served_));
}

TEST_F(SelfUpdateOnRequest, AnOldFetchedFileIsReplaced) {
    fs::create_directories(fetched().parent_path());
    writeAll(fetched(), "left from an earlier fetch");
    publish("2.0");
    frmtray::instance().systemUpdate();
    finishWork();
    EXPECT_EQ(std::string(offerText2) + " [-] [-] [Update]", dialog());
    EXPECT_TRUE(holds(fetched(), served_));
}

TEST_F(SelfUpdateOnRequest, SomethingThatIsNotAProgramIsNotOffered) {
    publish("2.0");
    writeAll(pub() / SelfUpdate::programFileName, "<html><body>We are moving servers.</body></html>");
    frmtray::instance().systemUpdate();
    finishWork();
    EXPECT_EQ("A problem occured whilst updating. [-] [-] [OK]", dialog());
    EXPECT_FALSE(fs::exists(fetched()));
}

// An empty version counts as new, but no signed statement names it.
TEST_F(SelfUpdateOnRequest, NoSettingsFileAndNoProgramOnTheServer) {
    fs::remove(pub() / "VORK.ini");
    fs::remove(pub() / SelfUpdate::programFileName);
    fs::create_directories(fetched().parent_path());
    writeAll(fetched(), "left from an earlier fetch");
    frmtray::instance().systemUpdate();
    finishWork();
    EXPECT_EQ("No new version available. [-] [-] [OK]", dialog());
    EXPECT_TRUE(nothingFetched());
}

TEST_F(SelfUpdateOnRequest, WithoutASignedStatementNothingIsOffered) {
    publish("2.0", "");
    frmtray::instance().systemUpdate();
    finishWork();
    EXPECT_EQ("No new version available. [-] [-] [OK]", dialog());
    EXPECT_TRUE(nothingFetched());
}

// An older signed build must not come back, nor ours under another spelling,
// nor a statement for another version.
TEST_F(SelfUpdateOnRequest, AnOlderOrOtherSignedVersionIsNotOffered) {
    for (const auto& [ver, statement] :
         {std::pair{"0.9", "0.9"}, std::pair{"1.00", "1.00"}, std::pair{"3.0", "2.0"}}) {
        SCOPED_TRACE(ver);
        publish(ver, statement);
        frmtray::instance().systemUpdate();
        finishWork();
        EXPECT_EQ("No new version available. [-] [-] [OK]", dialog());
        EXPECT_TRUE(nothingFetched());
    }
}

TEST_F(SelfUpdateOnRequest, WronglySignedChangedOrCutBuildsAreRefused) {
    std::string changed = served_;
    changed[changed.size() / 2] ^= 1;
    const struct {
        const char* what;
        std::string program, statement;
    } cases[] = {{"another key", served_, "other-key-2.0"},
                 {"a changed byte", changed, "2.0"},
                 {"cut short", served_.substr(0, served_.size() - 100), "2.0"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        publish("2.0", c.statement);
        writeAll(pub() / SelfUpdate::programFileName, c.program);
        frmtray::instance().systemUpdate();
        finishWork();
        EXPECT_EQ("A problem occured whilst updating. [-] [-] [OK]", dialog());
        EXPECT_TRUE(nothingFetched());
    }
}

// The running work keeps its session: nothing reconnects, nothing is said.
TEST_F(SelfUpdateOnRequest, LeavesARunningCheckOrDownloadAlone) {
    publish("2.0");
    frmtray& tray = frmtray::instance();
    Work::connectToServer();
    finishWork();
    const cFTP* session = Work::session().get();
    for (Work::Job job : {Work::Job::Check, Work::Job::Delivery}) {
        BusyEngine running(job);
        ASSERT_TRUE(running.started);
        tray.mnuopt_Click();
        EXPECT_EQ(session, Work::session().get());
        EXPECT_EQ("(no dialog)", dialog());
    }
    EXPECT_FALSE(fs::exists(fetched()));
}

TEST_F(SelfUpdateAutomatic, OffersANewVersionOnlyWhenFetched) {
    publish("1.0", "");
    EXPECT_FALSE(autoUpdate());
    EXPECT_EQ("(no dialog)", dialog());
    EXPECT_FALSE(fs::exists(fetched()));

    publish("2.0");
    EXPECT_TRUE(autoUpdate());
    EXPECT_EQ(std::string(offerText2) + " [-] [-] [Update]", dialog());
    EXPECT_TRUE(holds(fetched(), served_));
}

TEST_F(SelfUpdateAutomatic, FirstRunAsksTheServerNothing) {
    publish("2.0");
    isFirstRun = true;
    EXPECT_FALSE(autoUpdate());
    EXPECT_FALSE(fs::exists(folder_ / "data" / "VORK.ini"));
    EXPECT_EQ("(no dialog)", dialog());
}

TEST_F(SelfUpdateAutomatic, UnsignedOlderOrForeignBuildsAreDroppedSilently) {
    publish("2.0", "");
    EXPECT_FALSE(autoUpdate());
    publish("0.9");
    EXPECT_FALSE(autoUpdate());
    publish("2.0");
    writeAll(pub() / SelfUpdate::programFileName, std::string(4096, 'x'));
    EXPECT_FALSE(autoUpdate());
    EXPECT_EQ("(no dialog)", dialog());
    EXPECT_TRUE(nothingFetched());
}

// "New Magazines" while the update runs does nothing.
TEST_F(SelfUpdateOnRequest, NewMagazinesWaitsForTheUpdate) {
    publish("2.0");
    frmmain& w = frmmain::instance();
    w.open();
    w.clearIssues();
    const std::string before = w.statusPanel(1);
    frmtray::instance().systemUpdate();
    // Queued ahead of the update's end, so it arrives while the update runs.
    clickToolbarButton(w.tb, frmmain::tbNewMagazines - 1);
    finishWork();
    EXPECT_EQ(std::string(offerText2) + " [-] [-] [Update]", dialog());
    EXPECT_EQ(w.statusPanel(1), before);
    EXPECT_EQ(w.issueCount(), 0);
    EXPECT_TRUE(holds(fetched(), served_));
    ShowWindow(w.hwnd(), SW_HIDE);
}

// What "Update" hands over is checked once more: a damaged file is not.
// Without update.exe beside it the program stays, as nothing would restart it.
TEST_F(SelfUpdateOnRequest, UpdateChecksTheStagedProgramAgain) {
    publish("2.0");
    frmtray::instance().systemUpdate();
    finishWork();
    ASSERT_EQ(std::string(offerText2) + " [-] [-] [Update]", dialog());
    PromptRecorder prompts;
    bool ended = false;
    setProcessEnd([&](UINT) { ended = true; });
    pressButton(frmmess::instance().button(2));
    finishWork();
    pumpUntil([&] { return prompts.count > 0; }, 2000);
    EXPECT_EQ(prompts.lastText.rfind("Unable to locate", 0), 0u);
    EXPECT_FALSE(ended);
    writeAll(fetched(), served_.substr(0, served_.size() / 2));
    pressButton(frmmess::instance().button(2));
    finishWork();
    pumpUntil([&] { return prompts.count > 1; }, 2000);
    setProcessEnd([](UINT code) { ExitProcess(code); });
    EXPECT_EQ(prompts.lastText, "Unable to update. Please contact support.");
    EXPECT_FALSE(ended);
    EXPECT_FALSE(fs::exists(fetched()));
}

TEST_F(SelfUpdateAutomatic, AnOpenOfferIsNotFetchedAgainAndItsCloseBoxMeansNotNow) {
    publish("2.0");
    frmtray& tray = frmtray::instance();
    checkDone = true;
    ASSERT_TRUE(autoUpdate());
    // The server's file changes; the open offer keeps what it checked.
    writeAll(pub() / SelfUpdate::programFileName, "<html><body>We are moving servers.</body></html>");
    tray.enableTimer(frmtray::startTmr, true);
    tray.startTmr_Timer();
    finishWork();
    EXPECT_EQ(std::string(offerText2) + " [-] [-] [Update]", dialog());
    EXPECT_TRUE(holds(fetched(), served_));
    EXPECT_TRUE(tray.timerEnabled(frmtray::startTmr));

    writeAll(pub() / SelfUpdate::programFileName, served_);
    pressCloseBox(frmmess::instance().hwnd());
    finishWork();
    EXPECT_TRUE(pumpUntil([] { return !frmmess::exists(); }, 2000));
    EXPECT_FALSE(autoUpdate());  // not again until the next start
    EXPECT_EQ("(no dialog)", dialog());
    tray.enableTimer(frmtray::startTmr, false);
}
