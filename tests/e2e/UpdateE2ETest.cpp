// The self-update end to end: the real tolv.exe asks the sample publisher,
// offers the newer build, hands over to the real update.exe, and the new
// build starts from the same folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <tlhelp32.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/ScratchFolder.h"
#include "Installation.h"
#include "support/driver_client.h"
#include "text/Text.h"

namespace fs = std::filesystem;
using namespace testsupport;
using namespace e2e;

namespace {

constexpr char kOfferText[] = "Quillora 2.0 is available.";
constexpr char kFailureText[] = "A problem occured whilst updating.";
constexpr char kDoneText[] = "Update complete.";

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeAll(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

fs::path serverDir() {
    const char* dir = std::getenv("TOLV_UPDATE_E2E_SERVER");
    std::string unix = dir ? dir : "";
    for (char& c : unix)
        if (c == '/')
            c = '\\';
    return fs::path("Z:" + unix);
}

// The process id in a window line as the driver prints it: hwnd class pid "title".
DWORD pidOf(const std::string& windowLine) {
    std::istringstream in(windowLine);
    std::string hwnd, cls;
    DWORD pid = 0;
    in >> hwnd >> cls >> pid;
    return pid;
}

struct UpdateE2E : testing::Test {
    ScratchFolder folder;
    fs::path dir, exe, served;
    std::string original, newBuild;
    // Only the windows of the programs in this test's folder.
    std::string tolvOnly, updateOnly;

    void SetUp() override {
        const std::string port = readAll(serverDir() / "port");
        ASSERT_FALSE(port.empty()) << "no publisher at " << serverDir().string();
        SetEnvironmentVariableA("TOLV_SERVER", ("127.0.0.1:" + port.substr(0, port.find_first_of("\r\n"))).c_str());

        dir = fs::path(folder.path()) / L"\u0141ukasz Zaj\u0105c";  // a name outside the code page
        fs::create_directories(dir);
        exe = dir / "tolv.exe";
        fs::copy_file(buildDir() / "tolv.exe", exe);
        fs::copy_file(buildDir() / "update.exe", dir / "update.exe");
        original = readAll(exe);
        const std::string leaf = Text::utf8(dir.filename().wstring());
        tolvOnly = "--exe \"" + leaf + "\\tolv.exe\" ";
        updateOnly = "--exe \"" + leaf + "\\update.exe\" ";

        served = serverDir() / "root" / "pub" / "tolv.exe";
        newBuild = readAll(served);  // the fixture's signed 2.0
        writeAll(serverDir() / "root" / "pub" / "VORK.ini",
                 "[MAGS]\r\nAB=Alpine Boating\r\n\r\n[CONFIG]\r\nver=2.0\r\n");
        // Not a first run: the offer comes only on request, not with the welcome.
        forgetInstallation();
        ASSERT_TRUE(rememberInstallation());
    }
    void TearDown() override {
        writeAll(served, newBuild);
        forgetInstallation();
        SetEnvironmentVariableA("TOLV_SERVER", nullptr);
    }

    // Tray icons belong to the shell's process under Wine, so they are
    // counted; a program's own windows can be told by its file.
    static int trayIconCount() {
        int n = 0;
        while (runDriver("tray 0x200 " + std::to_string(n)).rc == 0)
            ++n;
        return n;
    }
    bool waitForIcons(int n, int seconds) {
        for (int i = 0; i < seconds * 10; ++i) {
            if (trayIconCount() == n)
                return true;
            Sleep(100);
        }
        return false;
    }
    // A running tolv.exe of this test's folder other than notPid; 0 without one.
    DWORD runningTolv(DWORD notPid) const {
        HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snap == INVALID_HANDLE_VALUE)
            return 0;
        PROCESSENTRY32 pe{};
        pe.dwSize = sizeof pe;
        DWORD found = 0;
        for (BOOL more = Process32First(snap, &pe); more && !found; more = Process32Next(snap, &pe)) {
            if (pe.th32ProcessID == notPid || _stricmp(pe.szExeFile, "tolv.exe") != 0)
                continue;
            HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pe.th32ProcessID);
            if (!p)
                continue;
            wchar_t image[MAX_PATH * 2] = {};
            DWORD n = MAX_PATH * 2;
            std::error_code ec;
            if (QueryFullProcessImageNameW(p, 0, image, &n) && fs::equivalent(fs::path(image), exe, ec))
                found = pe.th32ProcessID;
            CloseHandle(p);
        }
        CloseHandle(snap);
        return found;
    }
    DWORD waitForTolv(DWORD notPid, int seconds) const {
        for (int i = 0; i < seconds * 10; ++i) {
            if (DWORD pid = runningTolv(notPid))
                return pid;
            Sleep(100);
        }
        return 0;
    }

    // Chooses "&Manager Updates" and returns the message dialog's controls once
    // the check has ended (its button shows).
    std::string requestUpdate(const std::string& button) {
        EXPECT_EQ(runDriver("tray 0x205").rc, 0u);
        EXPECT_EQ(runDriver("menu \"&Manager Updates\" 10").rc, 0u);
        for (int i = 0; i < 300; ++i) {
            // The buttons are set last: once the button shows, one more
            // reading sees the whole dialog, not a label read mid-change.
            if (runDriver(tolvOnly + "text QuilloraMessage").out.find("\"" + button + "\"") != std::string::npos)
                break;
            Sleep(100);
        }
        return runDriver(tolvOnly + "text QuilloraMessage").out;
    }
    void exitThroughMenu(DWORD pid) {
        ASSERT_EQ(runDriver("tray 0x205").rc, 0u);
        ASSERT_EQ(runDriver("menu E&xit 10").rc, 0u);
        EXPECT_EQ(runDriver("wait-exit " + std::to_string(pid) + " 15").rc, 0u);
    }
};

}  // namespace

TEST_F(UpdateE2E, OfferedBuildReplacesTheProgramAndStarts) {
    const std::string& marked = newBuild;
    ASSERT_NE(marked, original);

    const int iconsBefore = trayIconCount();
    ChildProcess tolv(quoted(exe));
    ASSERT_TRUE(tolv.started());
    ASSERT_TRUE(waitForIcons(iconsBefore + 1, 20));
    const std::string offer = requestUpdate("Update");
    EXPECT_NE(offer.find(kOfferText), std::string::npos) << offer;
    ASSERT_NE(offer.find("\"Update\""), std::string::npos) << offer;
    EXPECT_EQ(readAll(dir / "data" / "tmp" / "tolv.exe"), marked);

    ASSERT_EQ(runDriver(tolvOnly + "click QuilloraMessage Update").rc, 0u);
    ASSERT_TRUE(tolv.ended(15000)) << "tolv did not hand over";
    EXPECT_EQ(tolv.exitCode(), 0u);

    DriverResult box = runDriver(updateOnly + "wait-window #32770 30");
    ASSERT_EQ(box.rc, 0u) << "no box from update.exe";
    const DWORD updatePid = pidOf(box.out);
    EXPECT_EQ(runDriver(updateOnly + "msgbox-text").out, kDoneText);
    EXPECT_TRUE(readAll(exe) == marked) << "tolv.exe holds " << readAll(exe).size() << " bytes, the new build "
                                        << marked.size();
    EXPECT_FALSE(fs::exists(dir / "data" / "tmp"));

    // The new build runs from the same folder; it is no child of ours.
    const DWORD newPid = waitForTolv(tolv.pid(), 30);
    EXPECT_NE(newPid, 0u) << "the new build did not start";
    EXPECT_TRUE(waitForIcons(iconsBefore + 1, 20)) << "the new build shows no icon";

    EXPECT_EQ(runDriver(updateOnly + "close-msgbox").rc, 0u);
    EXPECT_EQ(runDriver("wait-exit " + std::to_string(updatePid) + " 15").rc, 0u);
    if (newPid)
        exitThroughMenu(newPid);
    EXPECT_EQ(runningTolv(0), 0u) << "a tolv of this folder still runs";
    EXPECT_EQ(trayIconCount(), iconsBefore);
}

TEST_F(UpdateE2E, TruncatedBuildIsNotOffered) {
    writeAll(served, newBuild.substr(0, newBuild.size() / 2));

    const int iconsBefore = trayIconCount();
    ChildProcess tolv(quoted(exe));
    ASSERT_TRUE(tolv.started());
    ASSERT_TRUE(waitForIcons(iconsBefore + 1, 20));
    const std::string text = requestUpdate("OK");
    EXPECT_NE(text.find(kFailureText), std::string::npos) << text;
    EXPECT_EQ(text.find("\"Update\""), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(dir / "data" / "tmp" / "tolv.exe"));
    EXPECT_EQ(readAll(exe), original);

    ASSERT_EQ(runDriver(tolvOnly + "click QuilloraMessage OK").rc, 0u);
    exitThroughMenu(tolv.pid());
    ASSERT_TRUE(tolv.ended(5000));
    EXPECT_EQ(tolv.exitCode(), 0u);
}
