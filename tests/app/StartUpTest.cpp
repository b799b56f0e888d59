#include <gtest/gtest.h>

#include "base/ModCommon.h"
#include "app/StartUp.h"
#include "dialog/frmmess.h"
#include "settings/UserSettings.h"
#include "settings/cRegistry.h"
#include "support/gui.h"
#include "tray/frmtray.h"
#include "ftp/modFTP.h"
#include "work/Work.h"

using namespace ModCommon;
using namespace StartUp;
using namespace Work;
using modFTP::transferBusy;

namespace {

constexpr char kTolvKey[] = "SOFTWARE\\Orvane\\TOLV";
constexpr char kSettingsKey[] = "SOFTWARE\\Orvane\\TOLV\\Settings";
constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string readText(const char* key, const char* value, DWORD* type = nullptr,
                     HKEY root = HKEY_LOCAL_MACHINE) {
    char data[512] = {};
    DWORD size = sizeof data, t = 0;
    if (RegGetValueA(root, key, value, RRF_RT_ANY | RRF_NOEXPAND, &t, data, &size) != ERROR_SUCCESS)
        return "<missing>";
    if (type)
        *type = t;
    return data;
}

// Both the machine's and the user's keys: a standard user's go under the latter.
void forgetRegistry() {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        RegDeleteTreeA(root, kTolvKey);
        RegDeleteKeyA(root, kTolvKey);
        HKEY run;
        if (RegOpenKeyExA(root, kRunKey, 0, KEY_SET_VALUE, &run) == ERROR_SUCCESS) {
            RegDeleteValueA(run, exeBaseName().c_str());
            RegCloseKey(run);
        }
    }
}

struct FirstRunTest : testing::Test {
    ScratchProgramFolder folder;
    void SetUp() override {
        forgetRegistry();
        frmmess::unload();
    }
    void TearDown() override {
        cRegistry::denyWrites(nullptr);
        frmmess::unload();
        forgetRegistry();
        frmtray::instance().enableTimer(frmtray::startTmr, false);
    }
};

}  // namespace

TEST_F(FirstRunTest, FirstStartWelcomesAndRemembersTheNextIsQuiet) {
    checkFirstRun();
    EXPECT_TRUE(isFirstRun);
    EXPECT_FALSE(frmtray::instance().timerEnabled(frmtray::startTmr));
    ASSERT_TRUE(frmmess::exists());
    frmmess& m = frmmess::instance();
    EXPECT_TRUE(m.visible());
    EXPECT_EQ(m.message(), "Welcome to Quillora.\n\nWould you like to read the Help file?");
    EXPECT_FALSE(m.buttonVisible(0));
    EXPECT_EQ(m.buttonCaption(1), "Read Help");
    EXPECT_EQ(m.buttonCaption(2), "Continue");
    EXPECT_NEAR(m.heightTwips(), frmmess::compactHeight, 15);
    DWORD type = 0;
    EXPECT_EQ(readText(kSettingsKey, "fRun", &type, HKEY_CURRENT_USER), "1");
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(readText(kSettingsKey, "fRun"), "<missing>");

    // The answer starts the timer for the first check.
    m.cmdmess_Click(2);
    finishWork();
    EXPECT_TRUE(frmtray::instance().timerEnabled(frmtray::startTmr));
    frmtray::instance().enableTimer(frmtray::startTmr, false);

    checkFirstRun();
    EXPECT_FALSE(isFirstRun);
    EXPECT_FALSE(frmmess::exists());
    EXPECT_TRUE(frmtray::instance().timerEnabled(frmtray::startTmr));
}

void setRunValue(HKEY root, const std::string& command) {
    HKEY run;
    ASSERT_EQ(RegCreateKeyExA(root, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &run, nullptr), ERROR_SUCCESS);
    RegSetValueExA(run, exeBaseName().c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                   DWORD(command.size() + 1));
    RegCloseKey(run);
}

// The user's own Run key only, even where the machine's is writable (Wine lets
// everyone write it): quoted, so that a folder with blanks cannot start
// "C:\Program.exe", and rewritten at every start until the user turns it off.
TEST_F(FirstRunTest, RunValueIsTheUsersOwnRewrittenAtEveryStartQuoted) {
    const std::string expected = "\"" + folder.path() + "\\" + exeBaseName() + "\"";
    checkFirstRun();
    DWORD type = 0;
    EXPECT_EQ(readText(kRunKey, exeBaseName().c_str(), &type, HKEY_CURRENT_USER), expected);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(expected.find(".exe"), std::string::npos);
    EXPECT_EQ(readText(kRunKey, exeBaseName().c_str()), "<missing>");

    setRunValue(HKEY_CURRENT_USER, "stale");
    checkFirstRun();
    EXPECT_EQ(readText(kRunKey, exeBaseName().c_str(), nullptr, HKEY_CURRENT_USER), expected);

    ASSERT_TRUE(UserSettings::setStartWithWindows(false));
    checkFirstRun();
    EXPECT_EQ(readText(kRunKey, exeBaseName().c_str(), nullptr, HKEY_CURRENT_USER), "<missing>");
}

// Another copy's value in the machine's Run key is not this copy's to change;
// this copy's own, left there by an earlier build, would start it twice at
// logon and goes, where the machine's registry lets it.
TEST_F(FirstRunTest, MachineRunValueStaysUnlessItStartsThisCopy) {
    const std::string command = "\"" + folder.path() + "\\" + exeBaseName() + "\"";
    const std::string other = "\"C:\\Other Copy\\" + exeBaseName() + "\"";
    setRunValue(HKEY_LOCAL_MACHINE, other);
    checkFirstRun();
    EXPECT_EQ(readText(kRunKey, exeBaseName().c_str()), other);
    EXPECT_EQ(readText(kRunKey, exeBaseName().c_str(), nullptr, HKEY_CURRENT_USER), command);

    setRunValue(HKEY_LOCAL_MACHINE, command);
    cRegistry::denyWrites(HKEY_LOCAL_MACHINE);
    checkFirstRun();
    EXPECT_EQ(readText(kRunKey, exeBaseName().c_str()), command);
    cRegistry::denyWrites(nullptr);
    checkFirstRun();
    EXPECT_EQ(readText(kRunKey, exeBaseName().c_str()), "<missing>");
    EXPECT_EQ(readText(kRunKey, exeBaseName().c_str(), nullptr, HKEY_CURRENT_USER), command);
}

TEST(LibraryFolders, CreatedWhenMissingAndLeftAloneOtherwise) {
    ScratchProgramFolder folder;
    fileType = "torrent";
    libraryFolder = "My Torrents";
    createLibraryFolders();
    EXPECT_EQ(dataPath, folder.path() + "\\data\\");
    EXPECT_EQ(fileType, "pdf");
    EXPECT_EQ(libraryFolder, "My Magazines");
    for (const char* name : {"\\data", "\\My Magazines", "\\My Torrents"})
        EXPECT_TRUE(fileSystem.FolderExists(folder.path() + name)) << name;
    EXPECT_FALSE(fileSystem.FolderExists(folder.path() + "\\data\\tmp"));

    // A second start changes nothing that is already there, but what an exit
    // in the middle of a job left behind.
    ASSERT_TRUE(fileSystem.Append(folder.path() + "\\data\\em_lst.lcl", "a_X_1.f#;"));
    const std::vector<std::string> leftovers = {"\\data\\VORK.ini.part", "\\data\\tmp\\tolv.exe.sig",
                                                "\\My Torrents\\Alpine Boating\\~quillora-download.tmp"};
    for (const char* name : {"\\data\\tmp", "\\My Torrents\\Alpine Boating"})
        ASSERT_TRUE(fileSystem.CreateFolder(folder.path() + name));
    for (const std::string& name : leftovers)
        ASSERT_TRUE(fileSystem.Append(folder.path() + name, "x"));
    createLibraryFolders();
    for (const std::string& name : leftovers)
        EXPECT_FALSE(fileSystem.FileExists(folder.path() + name)) << name;
    EXPECT_FALSE(fileSystem.FolderExists(folder.path() + "\\data\\tmp"));
    std::string text;
    ASSERT_TRUE(fileSystem.ReadAll(folder.path() + "\\data\\em_lst.lcl", text));
    EXPECT_EQ(text, "a_X_1.f#;");
}

TEST(ExitProgram, RefusedDuringATransferThenStopsWithCodeZero) {
    std::vector<UINT> ends;
    setProcessEnd([&](UINT code) { ends.push_back(code); });
    frmtray& tray = frmtray::instance();
    tray.enableTimer(frmtray::startTmr, true);
    showMessageDialog("Delivering: x", "", "Cancel", "Pause");

    transferBusy = true;
    exitProgram();
    EXPECT_TRUE(ends.empty());
    EXPECT_FALSE(isExiting);
    EXPECT_TRUE(frmtray::exists());
    EXPECT_TRUE(tray.timerEnabled(frmtray::autoTmr));
    EXPECT_TRUE(tray.timerEnabled(frmtray::startTmr));
    EXPECT_TRUE(frmmess::exists());

    transferBusy = false;
    exitProgram();
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0], 0u);
    EXPECT_TRUE(isExiting);
    EXPECT_FALSE(frmtray::exists());
    EXPECT_FALSE(frmmess::exists());
    // A second call (as from a closing form) returns at once.
    exitProgram();
    EXPECT_EQ(ends.size(), 1u);
    isExiting = false;
    Work::restart();
}
