// The real tolv.exe against the sample publisher, worked from outside the
// way a user works it: the check and its balloon, the new-issues dialog,
// deliveries of both kinds, pause, resume and cancel during a slow transfer,
// removal, titles in Latin-1 and UTF-8, and what the library window and the
// disk show afterwards; all from a folder whose name the code page cannot hold.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "heart/PublisherFixture.h"
#include "support/ScratchFolder.h"
#include "Installation.h"
#include "support/driver_client.h"

using namespace testsupport;
using namespace e2e;
namespace fs = std::filesystem;

namespace {

constexpr DWORD kWaitMs = 20000;
constexpr char kPartialName[] = "~quillora-download.tmp";

// Labels hold CR LF; the program's own texts use LF alone.
std::string withoutCr(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
    return s;
}

std::string fileText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> lines(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// This month as the library view writes a file's date.
std::string thisMonth() {
    char buf[64] = {};
    GetDateFormatA(LOCALE_USER_DEFAULT, 0, nullptr, "MMMM yyyy", buf, sizeof buf);
    return buf;
}

struct HeartE2E : testing::Test {
    ScratchFolder folder;
    fs::path root{fs::path(folder.path()) / L"\u0141ukasz Zaj\u0105c" / "Quillora"};
    std::string pid;

    void SetUp() override {
        fs::create_directories(root);
        forgetInstallation();
        ASSERT_TRUE(rememberInstallation());  // a known installation: no welcome dialog
        fs::copy_file(buildDir() / "tolv.exe", root / "tolv.exe");
        heart::useTheSamplePublisher();
    }
    void TearDown() override { forgetInstallation(); }

    // The driver, kept to tolv's windows.
    DriverResult own(const std::string& args) {
        DriverResult r = runDriver("--pid " + pid + " " + args);
        r.out = withoutCr(r.out);
        return r;
    }
    // Polls a driver command until its output holds the text (or is it).
    ::testing::AssertionResult shows(const std::string& args, const std::string& text, bool bOwn = true,
                                     bool bWhole = false) {
        DriverResult r;
        for (const ULONGLONG end = GetTickCount64() + kWaitMs; GetTickCount64() < end; Sleep(100)) {
            r = bOwn ? own(args) : runDriver(args);
            r.out = withoutCr(r.out);
            if (r.rc == 0 && (bWhole ? r.out == text : r.out.find(text) != std::string::npos))
                return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << "\"" << args << "\" never showed \"" << text << "\"; last: " << r.out;
    }
    ::testing::AssertionResult balloon(const std::string& text) {
        return shows("balloon-text 1", text, false, true);
    }
    void click(const std::string& caption) { ASSERT_EQ(own("click QuilloraMessage " + caption).rc, 0u) << caption; }
    // Tray notifications go straight to tolv's own tray window: the newest
    // icon on the shared desktop may belong to another test program.
    void trayMenu(const std::string& item) {
        ASSERT_EQ(own("post QuilloraTray 0x200 0 0x205").rc, 0u);  // right button up
        ASSERT_EQ(own("menu " + item + " 10").rc, 0u) << item;
    }
    void balloonClick() { ASSERT_EQ(own("post QuilloraTray 0x200 0 0x405").rc, 0u); }

    // The status bar's first two panels: state and count.
    std::vector<std::string> statusPanels() {
        std::vector<std::string> panels = lines(own("status QuilloraLibrary").out);
        panels.resize(2);
        return panels;
    }
    std::string catalogue() { return fileText(root / "data" / "em_lst.lcl"); }
    ::testing::AssertionResult catalogueBecomes(const std::string& want) {
        for (const ULONGLONG end = GetTickCount64() + kWaitMs; GetTickCount64() < end; Sleep(100))
            if (catalogue() == want)
                return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "local catalogue: \"" << catalogue() << "\"";
    }
    std::string server(const std::string& relative) { return fileText(heart::pubFolder() + "\\" + relative); }
    std::vector<std::string> filesIn(const fs::path& dir) {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    // Waits for a file to grow beyond a size.
    ::testing::AssertionResult grows(const fs::path& p, uintmax_t size) {
        for (const ULONGLONG end = GetTickCount64() + kWaitMs; GetTickCount64() < end; Sleep(50))
            if (sizeOrZero(p) > size)
                return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << p << " stayed at " << sizeOrZero(p) << " bytes";
    }
    uintmax_t sizeOrZero(const fs::path& p) {
        std::error_code ec;
        const uintmax_t n = fs::file_size(p, ec);
        return ec ? 0 : n;
    }
};

}  // namespace

TEST_F(HeartE2E, CheckAnnounceDeliverPauseCancelRemoveAndTheLibrary) {
    const std::string first = "Winter Issue_AB_1.f#;Spring Issue_CQ_1.f#;";
    heart::writeServerCatalogue(first);
    ChildProcess tolv(quoted(root / "tolv.exe"));
    ASSERT_TRUE(tolv.started());
    pid = std::to_string(tolv.pid());

    // The start timer's check announces quietly in a balloon; a click on it
    // opens the dialog with the choices.
    for (ULONGLONG end = GetTickCount64() + kWaitMs; own("post QuilloraTray 0x113 1 0").rc && GetTickCount64() < end;)
        Sleep(100);
    ASSERT_TRUE(balloon("2 new magazines are available.\n\nClick me for delivery options."));
    EXPECT_EQ(catalogue(), "");
    balloonClick();
    ASSERT_TRUE(shows("text QuilloraMessage", "\"2 new magazines are available.\n\nWhat would you like to do?\""));
    const std::string offer = own("text QuilloraMessage").out;
    for (const char* control : {"\"Deliver\"", "\"Close\"", "\"Remove\"", "\"Normal\"", "\"BitTorrent\""})
        EXPECT_NE(offer.find(control), std::string::npos) << control << " in " << offer;

    // "Deliver" with "Normal": PDFs, one folder per magazine, each record
    // ended by ";" in the local catalogue.
    click("Deliver");
    ASSERT_TRUE(catalogueBecomes(first));
    EXPECT_TRUE(shows("text QuilloraMessage", "\"Delivery complete.\""));
    EXPECT_TRUE(shows("text QuilloraMessage", "\"OK\""));
    EXPECT_EQ(fileText(root / "My Magazines" / "Alpine Boating" / "Winter Issue_AB_1.pdf"),
              server("Alpine Boating\\Winter Issue_AB_1.pdf"));
    EXPECT_EQ(fileText(root / "My Magazines" / "Coastal Quilts" / "Spring Issue_CQ_1.pdf"),
              server("Coastal Quilts\\Spring Issue_CQ_1.pdf"));
    EXPECT_TRUE(fs::is_empty(root / "My Torrents"));
    EXPECT_EQ(lines(own("items QuilloraLibrary Magazine").out).size(), 1u) << "headings only";
    EXPECT_EQ(statusPanels(), (std::vector<std::string>{"Ready", ""}));
    click("OK");

    // The tray menu's check; "BitTorrent" asks first, then the torrent goes
    // to its own library.
    const std::string second = first + "Autumn Issue_AB_2.f#;";
    heart::writeServerCatalogue(second);
    trayMenu("&New Magazines");
    ASSERT_TRUE(balloon("1 new magazine is available.\n\nClick me for delivery options."));
    balloonClick();
    ASSERT_TRUE(shows("text QuilloraMessage", "\"1 new magazine is available.\n\nWhat would you like to do?\""));
    click("BitTorrent");
    DriverResult question = own("msgbox-text 10");
    EXPECT_EQ(question.out, "By selecting this option you'll require BitTorrent software.\n\n"
                            "Would you like to learn more about BitTorrent?");
    ASSERT_EQ(own("close-msgbox No").rc, 0u);
    click("Deliver");
    ASSERT_TRUE(catalogueBecomes(second));
    EXPECT_EQ(fileText(root / "My Torrents" / "Alpine Boating" / "Autumn Issue_AB_2.torrent"),
              server("Alpine Boating\\Autumn Issue_AB_2.torrent"));
    EXPECT_EQ(filesIn(root / "My Magazines" / "Alpine Boating"), std::vector<std::string>{"Winter Issue_AB_1.pdf"});
    EXPECT_TRUE(shows("text QuilloraMessage", "\"Delivery complete.\""));
    click("OK");

    // A large slow issue: Pause holds the transfer, Resume goes on, Cancel
    // ends the run and leaves no partial file.
    heart::writeServerCatalogue(second + "Big Issue_AB_9.f#;Summer Issue_HT_1.f#;");
    trayMenu("&New Magazines");
    ASSERT_TRUE(balloon("2 new magazines are available.\n\nClick me for delivery options."));
    balloonClick();
    ASSERT_TRUE(shows("text QuilloraMessage", "\"2 new magazines are available.\n\nWhat would you like to do?\""));
    click("Normal");
    click("Deliver");
    // While bytes arrive the dialog answers slowly (events are processed
    // between blocks), so the transfer is watched on disk and the dialog
    // read while it is held.
    const fs::path partial = root / "My Magazines" / "Alpine Boating" / kPartialName;
    ASSERT_TRUE(grows(partial, 0));
    click("Pause");
    ASSERT_TRUE(shows("text QuilloraMessage", "\"Resume\""));
    const std::string held = own("text QuilloraMessage").out;
    EXPECT_NE(held.find("\"Delivering: Big Issue\""), std::string::npos) << held;
    EXPECT_NE(held.find("% complete.\""), std::string::npos) << held;
    EXPECT_NE(held.find("\"Cancel\""), std::string::npos) << held;
    EXPECT_EQ(lines(own("items QuilloraLibrary Magazine").out),
              (std::vector<std::string>{"Title\tIssue#\tMagazine\tStatus\tSize\tFN",
                                        "[x] Big Issue\t9\tAlpine Boating\tDelivering...\t12.00 MB\t",
                                        "[x] Summer Issue\t1\tHome Tinkerer\tWaiting\t0.00 MB\t"}));
    const uintmax_t heldSize = sizeOrZero(partial);
    EXPECT_GT(heldSize, 0u);
    Sleep(1000);
    EXPECT_EQ(sizeOrZero(partial), heldSize) << "grew while paused";
    click("Resume");
    EXPECT_TRUE(grows(partial, heldSize)) << "after Resume";
    click("Cancel");
    ASSERT_TRUE(shows("text QuilloraMessage", "\"Delivery Cancelled\""));
    EXPECT_EQ(filesIn(root / "My Magazines" / "Alpine Boating"), std::vector<std::string>{"Winter Issue_AB_1.pdf"});
    EXPECT_FALSE(fs::exists(root / "My Magazines" / "Home Tinkerer"));
    EXPECT_EQ(catalogue(), second);
    const std::vector<std::string> cancelled = lines(own("items QuilloraLibrary Magazine").out);
    ASSERT_EQ(cancelled.size(), 3u);
    EXPECT_EQ(cancelled[1].substr(0, 14), "[x] Big Issue\t");
    EXPECT_NE(cancelled[1].find("\tCancelled\t"), std::string::npos) << cancelled[1];
    EXPECT_NE(cancelled[2].find("\tCancelled\t"), std::string::npos) << cancelled[2];
    EXPECT_EQ(statusPanels(), (std::vector<std::string>{"Remaining", "2"}));
    click("OK");

    // "Remove" asks, then records both without ";" so no check offers them.
    balloonClick();
    ASSERT_TRUE(shows("text QuilloraMessage", "\"2 new magazines are available.\n\nWhat would you like to do?\""));
    click("Remove");
    EXPECT_EQ(own("msgbox-text 10").out,
              "This will permanently remove your 2 selected items.\n\nAre you sure you want to do this?");
    ASSERT_EQ(own("close-msgbox Yes").rc, 0u);
    ASSERT_TRUE(catalogueBecomes(second + "Big Issue_AB_9.f#Summer Issue_HT_1.f#"));
    EXPECT_TRUE(shows("items QuilloraLibrary Magazine", "Title\tIssue#\tMagazine\tStatus\tSize\tFN", true, true));
    EXPECT_EQ(statusPanels(), (std::vector<std::string>{"Ready", ""}));
    trayMenu("&New Magazines");
    EXPECT_TRUE(balloon("None available."));

    // The library: both kinds of folder, and the issue files of each.
    std::vector<std::string> tree = lines(own("tree QuilloraLibrary").out);
    for (std::string& node : tree)
        node.erase(0, node.find_first_not_of('*'));
    std::sort(tree.begin(), tree.end());
    EXPECT_EQ(tree, (std::vector<std::string>{"My Magazines", "My Magazines\\Alpine Boating",
                                              "My Magazines\\Coastal Quilts", "My Torrents",
                                              "My Torrents\\Alpine Boating"}));
    ASSERT_EQ(own("tree-click QuilloraLibrary \"My Magazines\\Alpine Boating\"").rc, 0u);
    EXPECT_TRUE(shows("items QuilloraLibrary Location",
                      "Title\tIssue#\tDate\tLocation\nWinter Issue\t1\t" + thisMonth() + "\tWinter Issue_AB_1.pdf"));
    ASSERT_EQ(own("tree-click QuilloraLibrary \"My Torrents\\Alpine Boating\"").rc, 0u);
    EXPECT_TRUE(shows("items QuilloraLibrary Location",
                      "Location\nAutumn Issue\t2\t" + thisMonth() + "\tAutumn Issue_AB_2.torrent"));

    // Titles as publishers write them: a Latin-1 byte, UTF-8, plain ASCII.
    // Listed and saved as meant, fetched with the server's own bytes.
    const std::string cafe = "Caf\xE9 Culture_CC_1.f#;", lodz = "\xC5\x81\xC3\xB3" "d\xC5\xBA Weekly_WK_2.f#;";
    const std::string before = catalogue();
    heart::writeServerCatalogue(second + cafe + lodz + "Winter Issue_CQ_2.f#;");
    trayMenu("&New Magazines");
    ASSERT_TRUE(balloon("3 new magazines are available.\n\nClick me for delivery options."));
    const std::vector<std::string> offered = lines(own("items QuilloraLibrary Magazine").out);
    ASSERT_EQ(offered.size(), 4u);
    EXPECT_EQ(offered[1], "[x] Caf\u00e9 Culture\t1\tCaf\u00e9 Culture\t\t0.01 MB\t");
    EXPECT_EQ(offered[3], "[x] \u0141\u00f3d\u017a Weekly\t2\tWiadomo\u015bci\t\t0.02 MB\t");
    balloonClick();
    ASSERT_TRUE(shows("text QuilloraMessage", "\"3 new magazines are available.\n\nWhat would you like to do?\""));
    click("Deliver");
    ASSERT_TRUE(catalogueBecomes(before + cafe + "Winter Issue_CQ_2.f#;" + lodz));
    auto pattern = [](size_t n) {  // the sample publisher's n-th named issue
        std::string bytes(10000 * n, '\0');
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7 + n) % 251);
        return bytes;
    };
    const fs::path mags = root / "My Magazines";
    EXPECT_EQ(fileText(mags / L"Caf\u00e9 Culture" / L"Caf\u00e9 Culture_CC_1.pdf"), pattern(1));
    EXPECT_EQ(fileText(mags / L"Wiadomo\u015bci" / L"\u0141\u00f3d\u017a Weekly_WK_2.pdf"), pattern(2));
    EXPECT_EQ(fileText(mags / "Coastal Quilts" / "Winter Issue_CQ_2.pdf"), server("Coastal Quilts\\Winter Issue_CQ_2.pdf"));
    click("OK");
    EXPECT_TRUE(shows("tree QuilloraLibrary", "My Magazines\\Wiadomo\u015bci"));
    ASSERT_EQ(own("tree-click QuilloraLibrary \"My Magazines\\Wiadomo\u015bci\"").rc, 0u);
    EXPECT_TRUE(shows("items QuilloraLibrary Location", "\n\u0141\u00f3d\u017a Weekly\t2\t" + thisMonth() +
                                                            "\t\u0141\u00f3d\u017a Weekly_WK_2.pdf"));

    trayMenu("E&xit");
    ASSERT_TRUE(tolv.ended(15000));
    EXPECT_EQ(tolv.exitCode(), 0u);
}
