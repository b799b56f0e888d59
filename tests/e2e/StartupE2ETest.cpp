// The real tolv.exe, started from a program folder of its own and worked from
// outside: first run, a later start, two instances, and the way out.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "support/ScratchFolder.h"
#include "Installation.h"
#include "support/driver_client.h"

using namespace testsupport;
using namespace e2e;

namespace {


int trayIconCount() {
    int n = 0;
    while (runDriver("tray 0x200 " + std::to_string(n)).rc == 0)
        ++n;
    return n;
}

struct StartupE2E : testing::Test {
    ScratchFolder folder;
    std::filesystem::path exe;
    void SetUp() override {
        forgetInstallation();
        exe = std::filesystem::path(folder.path()) / "tolv.exe";
        std::filesystem::copy_file(buildDir() / "tolv.exe", exe);
    }
    void TearDown() override { forgetInstallation(); }
    // Exit through the tray menu of the newest icon.
    void exitThroughMenu() {
        ASSERT_EQ(runDriver("tray 0x205").rc, 0u);
        ASSERT_EQ(runDriver("menu E&xit 10").rc, 0u);
    }
};

}  // namespace

TEST_F(StartupE2E, FirstStartWelcomesLaterStartsShowOnlyTheIcon) {
    const int iconsBefore = trayIconCount();
    {
        ChildProcess tolv(quoted(exe));
        ASSERT_TRUE(tolv.started());
        DriverResult dialog = runDriver("--pid " + std::to_string(tolv.pid()) + " wait-window QuilloraMessage 20");
        ASSERT_EQ(dialog.rc, 0u) << dialog.out;
        DriverResult text = runDriver("text QuilloraMessage");
        EXPECT_NE(text.out.find("Welcome to Quillora."), std::string::npos) << text.out;
        EXPECT_NE(text.out.find("\"Read Help\""), std::string::npos) << text.out;
        EXPECT_NE(text.out.find("\"Continue\""), std::string::npos) << text.out;
        EXPECT_EQ(readMachineText(kSettingsKey, "fRun", HKEY_CURRENT_USER), "1");
        EXPECT_EQ(readMachineText(kRunKey, "tolv", HKEY_CURRENT_USER), "\"" + folder.path() + "\\tolv\"");
        EXPECT_EQ(readMachineText(kRunKey, "tolv"), "<missing>");
        EXPECT_EQ(trayIconCount(), iconsBefore + 1);
        for (const char* want : {"data", "My Magazines", "My Torrents"})
            EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(folder.path()) / want)) << want;
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(folder.path()) / "data" / "tmp"));

        ASSERT_EQ(runDriver("click QuilloraMessage Continue").rc, 0u);
        exitThroughMenu();
        ASSERT_TRUE(tolv.ended(15000));
        EXPECT_EQ(tolv.exitCode(), 0u);
        EXPECT_EQ(trayIconCount(), iconsBefore);
    }
    {
        ChildProcess tolv(quoted(exe));
        ASSERT_TRUE(tolv.started());
        // Only the icon: no dialog appears.
        for (int i = 0; i < 50 && trayIconCount() == iconsBefore; ++i)
            Sleep(100);
        EXPECT_EQ(trayIconCount(), iconsBefore + 1);
        EXPECT_NE(runDriver("--pid " + std::to_string(tolv.pid()) + " wait-window QuilloraMessage 2").rc, 0u);

        // A second start brings the first one's library window forward and ends.
        ChildProcess second(quoted(exe));
        ASSERT_TRUE(second.ended(15000));
        EXPECT_EQ(second.exitCode(), 0u);
        DriverResult library =
            runDriver("--pid " + std::to_string(tolv.pid()) + " wait-window QuilloraLibrary 10");
        EXPECT_EQ(library.rc, 0u) << library.out;
        EXPECT_EQ(trayIconCount(), iconsBefore + 1);
        exitThroughMenu();
        EXPECT_TRUE(tolv.ended(15000));
        EXPECT_EQ(tolv.exitCode(), 0u);
    }
}
