// The setup (Quillora-Setup-TESTKEY.exe in a test build) under Wine, silent:
// a per-user installation that asks for no elevation, an upgrade over a
// running program with a library, and the uninstallation with and without
// the library.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "Installation.h"
#include "base/FileSystem.h"
#include "support/ScratchFolder.h"
#include "support/driver_client.h"

using namespace testsupport;
using namespace e2e;
namespace fs = std::filesystem;

namespace {

constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillora";
constexpr DWORD kSetupWaitMs = 120000;
const char* const kProgramFiles[] = {"tolv.exe", "update.exe", "Quillora Help.pdf", "uninstall.exe"};

bool machineKeyExists(const char* key, HKEY root = HKEY_LOCAL_MACHINE) {
    HKEY h;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &h) != ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

fs::path shellFolder(int csidl) {
    char path[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

fs::path startMenuShortcut(int csidl = CSIDL_PROGRAMS) {
    return shellFolder(csidl) / "Quillora.lnk";
}

std::string versionText(const fs::path& exe, const std::string& name) {
    DWORD ignored = 0;
    std::string block(GetFileVersionInfoSizeA(exe.string().c_str(), &ignored), '\0');
    char* text = nullptr;
    UINT len = 0;
    if (block.empty() ||
        !GetFileVersionInfoA(exe.string().c_str(), 0, static_cast<DWORD>(block.size()), block.data()) ||
        !VerQueryValueA(block.data(), ("\\StringFileInfo\\040904b0\\" + name).c_str(),
                        reinterpret_cast<void**>(&text), &len) ||
        !len)
        return "<none>";
    return text;
}

DWORD runToEnd(const std::string& commandLine) {
    ChildProcess p(commandLine);
    if (!p.started() || !p.ended(kSetupWaitMs))
        return DWORD(-1);
    return p.exitCode();
}

// The uninstaller runs on from a copy of itself; it is done when it has
// removed its own file, the last one it removes.
bool uninstallFinished(const fs::path& dir) {
    for (int i = 0; i < 600 && fs::exists(dir / "uninstall.exe"); ++i) Sleep(100);
    return !fs::exists(dir / "uninstall.exe");
}

// The title of a visible window of the process, once it shows one.
BOOL CALLBACK titleOf(HWND h, LPARAM lParam) {
    auto* found = reinterpret_cast<std::pair<DWORD, std::string>*>(lParam);
    DWORD pid = 0;
    char title[256] = {};
    GetWindowThreadProcessId(h, &pid);
    if (pid == found->first && IsWindowVisible(h) && GetWindowTextA(h, title, sizeof title) > 0)
        found->second = title;
    return found->second.empty();
}

std::string windowTitle(DWORD pid) {
    std::pair<DWORD, std::string> found{pid, {}};
    for (int i = 0; i < 200 && found.second.empty(); ++i, Sleep(100))
        EnumWindows(titleOf, reinterpret_cast<LPARAM>(&found));
    return found.second;
}

HWND waitForTray() {
    HWND h = nullptr;
    for (int i = 0; i < 200 && !(h = FindWindowA("QuilloraTray", nullptr)); ++i) Sleep(100);
    return h;
}

// Files as a delivery leaves them, and as they read afterwards.
void writeFile(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    FileSystem().Append(p.string(), text);
}

std::string readFile(const fs::path& p) {
    std::string text;
    return FileSystem().ReadAll(p.string(), text) ? text : "<missing>";
}

struct InstallerE2E : testing::Test {
    ScratchFolder scratch;
    fs::path dir;
    fs::path setup;
    void SetUp() override {
        forget();
        dir = fs::path(scratch.path()) / "Quillora";
        setup = buildDir() / TOLV_SETUP_NAME;
        ASSERT_TRUE(fs::exists(setup));
    }
    void TearDown() override {
        forget();
        std::error_code ignored;
        fs::remove_all(defaultFolder(), ignored);
    }
    void forget() {
        forgetInstallation();
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            RegDeleteTreeA(root, kUninstallKey);
            RegDeleteKeyA(root, kUninstallKey);
        }
        DeleteFileA(startMenuShortcut().string().c_str());
    }
    static fs::path defaultFolder() { return shellFolder(CSIDL_LOCAL_APPDATA) / "Programs" / "Quillora"; }
    void install() { ASSERT_EQ(runToEnd(quoted(setup) + " /S /D=" + dir.string()), 0u); }
};

}  // namespace

TEST_F(InstallerE2E, InstallUpgradeOverARunningProgramThenUninstallKeepingTheLibrary) {
    // Unelevated, into the user's own folder, with nothing outside the
    // user's profile and registry.
    const auto userText = [](const char* key, const char* value) {
        return readMachineText(key, value, HKEY_CURRENT_USER);
    };
    EXPECT_NE(readFile(setup).find("level=\"asInvoker\""), std::string::npos) << "the manifest asks for elevation";
    {
        // A build that trusts the TEST key says so in the setup's title.
        ChildProcess shown(quoted(setup));
        EXPECT_EQ(windowTitle(shown.pid()).rfind("Quillora TESTKEY Setup", 0), 0u);
    }
    dir = defaultFolder();
    ASSERT_EQ(runToEnd(quoted(setup) + " /S"), 0u);
    const std::string profile = shellFolder(CSIDL_PROFILE).string() + "\\";
    EXPECT_TRUE(dir.string().starts_with(profile) && startMenuShortcut().string().starts_with(profile));
    for (const char* name : kProgramFiles) EXPECT_TRUE(fs::exists(dir / name)) << name;
    EXPECT_TRUE(fs::exists(startMenuShortcut()));
    EXPECT_FALSE(fs::exists(startMenuShortcut(CSIDL_COMMON_PROGRAMS)));
    EXPECT_FALSE(machineKeyExists(kUninstallKey));
    EXPECT_FALSE(machineKeyExists(kTolvKey));
    EXPECT_EQ(readMachineText(kRunKey, "tolv"), "<missing>");
    EXPECT_EQ(userText(kRunKey, "tolv"), quoted(dir / "tolv.exe"));
    EXPECT_EQ(userText(kUninstallKey, "DisplayName"), "Quillora");
    // The program's version information says what "Programs and Features" says.
    const fs::path tolvExe = dir / "tolv.exe";
    EXPECT_EQ(userText(kUninstallKey, "DisplayVersion"), versionText(tolvExe, "ProductVersion"));
    EXPECT_EQ(versionText(tolvExe, "FileVersion"), versionText(tolvExe, "ProductVersion"));
    EXPECT_EQ(userText(kUninstallKey, "Publisher"), "Orvane");
    EXPECT_EQ(versionText(tolvExe, "CompanyName"), "Orvane");
    EXPECT_EQ(versionText(tolvExe, "ProductName"), "Quillora");
    EXPECT_EQ(versionText(tolvExe, "FileDescription"), "Quillora");
    EXPECT_EQ(userText(kUninstallKey, "DisplayIcon"), (dir / "tolv.exe").string() + ",0");
    EXPECT_EQ(userText(kUninstallKey, "UninstallString"), quoted(dir / "uninstall.exe"));
    EXPECT_EQ(userText(kUninstallKey, "QuietUninstallString"), quoted(dir / "uninstall.exe") + " /S");
    DWORD size = 0, cb = sizeof size;
    EXPECT_EQ(RegGetValueA(HKEY_CURRENT_USER, kUninstallKey, "EstimatedSize", RRF_RT_REG_DWORD, nullptr,
                           &size, &cb),
              ERROR_SUCCESS);
    EXPECT_GT(size, 0u);

    const fs::path issue = dir / "My Magazines" / "Alpine Boating" / "Winter Issue_AB_1.pdf";
    {
        ChildProcess tolv(quoted(dir / "tolv.exe"));
        DriverResult welcome =
            runDriver("--pid " + std::to_string(tolv.pid()) + " wait-window QuilloraMessage 30");
        ASSERT_EQ(welcome.rc, 0u) << welcome.out;
        EXPECT_NE(runDriver("text QuilloraMessage").out.find("Welcome to Quillora."), std::string::npos);
        // Able to write the machine's registry (Wine lets everyone), tolv
        // still keeps its logon start and settings in the user's.
        EXPECT_EQ(readMachineText(kRunKey, "tolv"), "<missing>");
        EXPECT_EQ(userText(kRunKey, "tolv"), quoted(dir / "tolv"));
        EXPECT_TRUE(machineKeyExists(kSettingsKey, HKEY_CURRENT_USER));
        EXPECT_FALSE(machineKeyExists(kTolvKey));
        EXPECT_TRUE(fs::is_directory(dir / "data"));
        ASSERT_EQ(runDriver("click QuilloraMessage Continue").rc, 0u);

        writeFile(issue, "%PDF-1.4 winter");
        writeFile(dir / "data" / "em_lst.lcl", "Winter Issue_AB_1.f#;");

        // The upgrade finds the installation by itself and first asks the
        // running program to exit.
        ASSERT_EQ(runToEnd(quoted(setup) + " /S"), 0u);
        EXPECT_TRUE(tolv.ended(15000));
        EXPECT_EQ(tolv.exitCode(), 0u);
    }
    EXPECT_EQ(readFile(issue), "%PDF-1.4 winter");
    EXPECT_EQ(readFile(dir / "data" / "em_lst.lcl"), "Winter Issue_AB_1.f#;");
    EXPECT_TRUE(fs::exists(dir / "tolv.exe"));
    EXPECT_EQ(userText(kUninstallKey, "InstallLocation"), dir.string());

    {
        ChildProcess tolv(quoted(dir / "tolv.exe"));
        ASSERT_NE(waitForTray(), nullptr);
        ASSERT_EQ(runToEnd(quoted(dir / "uninstall.exe") + " /S"), 0u);
        ASSERT_TRUE(uninstallFinished(dir));
        EXPECT_TRUE(tolv.ended(15000));
    }
    for (const char* name : kProgramFiles) EXPECT_FALSE(fs::exists(dir / name)) << name;
    EXPECT_FALSE(fs::exists(startMenuShortcut()));
    EXPECT_EQ(readMachineText(kRunKey, "tolv"), "<missing>");
    EXPECT_EQ(userText(kRunKey, "tolv"), "<missing>");
    EXPECT_FALSE(machineKeyExists(kTolvKey, HKEY_CURRENT_USER));
    EXPECT_FALSE(machineKeyExists(kUninstallKey, HKEY_CURRENT_USER));
    EXPECT_EQ(readFile(issue), "%PDF-1.4 winter");
    EXPECT_EQ(readFile(dir / "data" / "em_lst.lcl"), "Winter Issue_AB_1.f#;");
    EXPECT_TRUE(fs::is_directory(dir / "My Torrents"));
}

// A program folder outside the profile (here "C:\\quillora-..."), which the
// setup gives rights of its own (Wine 8 keeps none, so they are not read
// back). "Also remove my magazines", ticked on the command line of a silent
// uninstall, leaves no folder.
TEST_F(InstallerE2E, FolderOutsideTheProfileGoesWholeWithTheMagazines) {
    ScratchFolder outside("C:\\");
    dir = fs::path(outside.path()) / "Quillora";
    install();
    writeFile(dir / "My Magazines" / "Alpine Boating" / "Winter Issue_AB_1.pdf", "%PDF-1.4 winter");
    writeFile(dir / "My Torrents" / "Alpine Boating" / "Winter Issue_AB_1.torrent", "d8:announce");
    writeFile(dir / "data" / "em_lst.lcl", "Winter Issue_AB_1.f#;");
    ASSERT_EQ(runToEnd(quoted(dir / "uninstall.exe") + " /S /REMOVEMAGAZINES"), 0u);
    ASSERT_TRUE(uninstallFinished(dir));
    for (int i = 0; i < 300 && fs::exists(dir); ++i)
        Sleep(100);  // the folder goes right after the uninstaller's file (later on a busy machine)
    EXPECT_FALSE(fs::exists(dir));
    EXPECT_FALSE(machineKeyExists(kUninstallKey, HKEY_CURRENT_USER));
}

// A folder that held another copy's library and data before the setup ran:
// "Also remove my magazines" removes only what this installation put there,
// and another installation's settings in the machine's key stay.
TEST_F(InstallerE2E, UninstallKeepsWhatWasThereBeforeTheSetup) {
    ScratchFolder outside("C:\\");
    dir = fs::path(outside.path()) / "Quillora";
    const fs::path issue = dir / "My Magazines" / "Alpine Boating" / "Winter Issue_AB_1.pdf";
    writeFile(issue, "%PDF-1.4 winter");
    writeFile(dir / "data" / "em_lst.lcl", "Winter Issue_AB_1.f#;");
    HKEY other;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &other, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(other);
    ASSERT_TRUE(rememberInstallation());
    install();
    ASSERT_EQ(runToEnd(quoted(dir / "uninstall.exe") + " /S /REMOVEMAGAZINES"), 0u);
    ASSERT_TRUE(uninstallFinished(dir));
    for (const char* name : kProgramFiles) EXPECT_FALSE(fs::exists(dir / name)) << name;
    EXPECT_EQ(readFile(issue), "%PDF-1.4 winter");
    EXPECT_EQ(readFile(dir / "data" / "em_lst.lcl"), "Winter Issue_AB_1.f#;");
    EXPECT_TRUE(machineKeyExists(kSettingsKey));
    EXPECT_FALSE(machineKeyExists(kTolvKey, HKEY_CURRENT_USER));
}
