// update.exe, run for real in a folder of its own next to a stand-in for
// tolv.exe; its message box is read and closed through driver.exe.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "support/driver_client.h"
#include "updater/frmupdate.h"

namespace fs = std::filesystem;
using testsupport::buildDir;
using testsupport::ChildProcess;
using testsupport::quoted;
using testsupport::runDriver;
using testsupport::testsDir;

namespace {

constexpr DWORD processWaitMs = 30000;
constexpr double boxWaitSeconds = 60;

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Compares a file with the bytes it should hold without printing binaries.
testing::AssertionResult holds(const fs::path& p, const std::string& expected) {
    const std::string actual = readAll(p);
    if (actual == expected)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << p.string() << " holds " << actual.size() << " bytes, expected "
                                       << expected.size() << " other bytes";
}

void writeAll(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

// One program folder: update.exe, the old tolv.exe and optionally a new one in data\tmp.
class UpdateFolder {
public:
    explicit UpdateFolder(const std::string& name) : dir_(testsDir() / "updater_cases" / name) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        fs::copy_file(buildDir() / "update.exe", dir_ / "update.exe");
        fs::copy_file(testsDir() / "stand_in.exe", target());
        oldProgram_ = readAll(target());
        // The stand-in with padding after its image, signed with the test key.
        newProgram_ = readAll(testsDir() / "stand_in_new.exe");
        statement_ = readAll(testsDir() / "stand_in_new.exe.sig");
    }
    fs::path dir() const { return dir_; }
    fs::path target() const { return dir_ / "tolv.exe"; }
    fs::path tmpDir() const { return dir_ / "data" / "tmp"; }
    fs::path newFile() const { return tmpDir() / "tolv.exe"; }
    const std::string& oldProgram() const { return oldProgram_; }
    const std::string& newProgram() const { return newProgram_; }

    void putNewProgram(const std::string& bytes, const std::string& statement) {
        fs::create_directories(tmpDir());
        writeAll(newFile(), bytes);
        writeAll(tmpDir() / "tolv.exe.sig", statement);
    }
    void putNewProgram(const std::string& bytes) { putNewProgram(bytes, statement_); }
    void putNewProgram() { putNewProgram(newProgram_); }
    // Sizes of the program files that have started here, one per start.
    std::string starts() const { return readAll(dir_ / "started.txt"); }
    bool waitForStart(size_t size, DWORD dwTimeoutMs = processWaitMs) const {
        const std::string line = std::to_string(size) + "\r\n";
        for (DWORD waited = 0; waited < dwTimeoutMs; waited += 100) {
            if (starts().find(line) != std::string::npos)
                return true;
            Sleep(100);
        }
        return false;
    }

private:
    fs::path dir_;
    std::string oldProgram_, newProgram_, statement_;
};

struct BoxSeen {
    std::string text;
    std::string windowLine;  // as the driver lists it: hwnd class pid "title"
    DWORD exitCode = STILL_ACTIVE;
};

// Waits for update.exe's box, reads it, closes it by the keyboard and waits for the updater to end.
BoxSeen answerBox(const ChildProcess& update, const std::function<void()>& whileOpen = {}) {
    BoxSeen seen;
    EXPECT_TRUE(update.started()) << "update.exe did not start";
    const std::string pid = "--pid " + std::to_string(update.pid()) + " ";
    auto w = runDriver(pid + "wait-window #32770 " + std::to_string(boxWaitSeconds));
    EXPECT_EQ(0u, w.rc) << "no message box from update.exe";
    seen.windowLine = w.out;
    if (whileOpen)
        whileOpen();
    seen.text = runDriver(pid + "msgbox-text").out;
    // Its button has the focus, and takes Escape through the box's own dialog handling.
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    HWND box = reinterpret_cast<HWND>(std::stoull(w.out, nullptr, 16));
    EXPECT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &gui));
    EXPECT_EQ(IDOK, GetDlgCtrlID(gui.hwndFocus));
    PostMessageA(gui.hwndFocus, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(update.ended(processWaitMs)) << "update.exe did not end after its box was closed";
    seen.exitCode = update.exitCode();
    return seen;
}

std::string runUpdate(const UpdateFolder& f) {
    return quoted(f.dir() / "update.exe");
}

void expectBox(const BoxSeen& seen, const std::string& text) {
    EXPECT_EQ(text, seen.text);
    // The driver lists the box as: hwnd #32770 pid "title", and the title is empty.
    const std::string emptyTitle = " \"\"";
    EXPECT_NE(std::string::npos, seen.windowLine.find(" #32770 ")) << seen.windowLine;
    EXPECT_TRUE(seen.windowLine.ends_with(emptyTitle)) << seen.windowLine;
    EXPECT_EQ(0u, seen.exitCode);
}

void expectCompleteBox(const BoxSeen& seen) {
    expectBox(seen, "Update complete.");
}
void expectFailureBox(const BoxSeen& seen) {
    expectBox(seen, "A problem occured whilst updating.");
}

}  // namespace

TEST(Updater, ReplacesTheProgramRemovesTmpAndStartsTheNewOne) {
    UpdateFolder f("replaces");
    f.putNewProgram();
    ChildProcess update(runUpdate(f));
    BoxSeen seen = answerBox(update, [&] {
        // The restarted program is already running while the box is open.
        EXPECT_TRUE(f.waitForStart(f.newProgram().size()));
    });
    expectCompleteBox(seen);
    EXPECT_TRUE(holds(f.target(), f.newProgram()));
    EXPECT_FALSE(fs::exists(f.tmpDir()));
    EXPECT_TRUE(fs::exists(f.dir() / "data"));
    EXPECT_FALSE(fs::exists(f.dir() / "tolv.exe.new"));
    EXPECT_EQ(std::to_string(f.newProgram().size()) + "\r\n", f.starts());
}

TEST(Updater, KeepsTmpWhenOtherFilesAreLeftInIt) {
    UpdateFolder f("other_files");
    f.putNewProgram();
    writeAll(f.tmpDir() / "notes.txt", "left behind");
    ChildProcess update(runUpdate(f));
    expectCompleteBox(answerBox(update));
    EXPECT_TRUE(holds(f.target(), f.newProgram()));
    EXPECT_FALSE(fs::exists(f.newFile()));
    EXPECT_EQ("left behind", readAll(f.tmpDir() / "notes.txt"));
    EXPECT_TRUE(f.waitForStart(f.newProgram().size()));
}

TEST(Updater, WithoutANewFileStartsTheOldProgram) {
    UpdateFolder f("no_new_file");
    ChildProcess update(runUpdate(f));
    expectFailureBox(answerBox(update));
    EXPECT_TRUE(holds(f.target(), f.oldProgram()));
    EXPECT_TRUE(f.waitForStart(f.oldProgram().size()));
    EXPECT_FALSE(fs::exists(f.dir() / "data" / "tmp"));
}

// The old program is still ending when the updater starts: its file stays in
// use for a few seconds, and the copy has to wait for it.
TEST(UpdaterSafety, WaitsUntilTheOldProgramHasLetGoOfItsFile) {
    UpdateFolder f("target_in_use");
    f.putNewProgram();
    ChildProcess oldRun(quoted(f.target()) + " 4000");
    ASSERT_TRUE(f.waitForStart(f.oldProgram().size()));
    ChildProcess update(runUpdate(f));
    BoxSeen seen =
        answerBox(update, [&] { EXPECT_TRUE(oldRun.ended()) << "box shown before the copy could run"; });
    expectCompleteBox(seen);
    EXPECT_TRUE(holds(f.target(), f.newProgram()));
    EXPECT_TRUE(f.waitForStart(f.newProgram().size()));
    EXPECT_FALSE(fs::exists(f.tmpDir()));
}

// The new file cannot be read (another program holds it, as a virus
// scanner may): the copy fails and the old program must stay whole.
TEST(UpdaterSafety, AFailedCopyKeepsTheOldProgram) {
    UpdateFolder f("copy_fails");
    f.putNewProgram();
    HANDLE source =
        CreateFileA(f.newFile().string().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, source);
    ChildProcess update(runUpdate(f));
    BoxSeen seen = answerBox(update);
    CloseHandle(source);

    expectFailureBox(seen);
    EXPECT_TRUE(holds(f.target(), f.oldProgram()));
    EXPECT_FALSE(fs::exists(f.dir() / "tolv.exe.new"));
    EXPECT_TRUE(f.waitForStart(f.oldProgram().size()));
}

// A changed byte, a cut file or no statement: the old program stays and starts.
TEST(UpdaterSafety, RefusesAProgramThePublisherDidNotSign) {
    UpdateFolder f("unsigned");
    std::string changed = f.newProgram();
    changed[changed.size() / 2] ^= 1;
    const struct {
        std::string bytes;
        bool signedStatement;
    } cases[] = {{changed, true},
                 {f.newProgram().substr(0, f.newProgram().size() - 1), true},
                 {f.newProgram(), false}};
    for (const auto& c : cases) {
        f.putNewProgram(c.bytes);
        if (!c.signedStatement)
            fs::remove(f.tmpDir() / "tolv.exe.sig");
        ChildProcess update(runUpdate(f));
        expectFailureBox(answerBox(update));
        EXPECT_TRUE(holds(f.target(), f.oldProgram()));
        EXPECT_FALSE(fs::exists(f.dir() / "tolv.exe.new"));
        EXPECT_FALSE(fs::exists(f.tmpDir()));
    }
    EXPECT_TRUE(f.waitForStart(f.oldProgram().size()));
    EXPECT_EQ(std::string::npos, f.starts().find(std::to_string(f.newProgram().size())));
}

// The publisher signed the new program as the version already installed.
TEST(UpdaterSafety, RefusesAReleaseNoNewerThanTheInstalledProgram) {
    UpdateFolder f("not_newer");
    f.putNewProgram(f.newProgram(), readAll(testsDir() / "stand_in_new.exe.old.sig"));
    ChildProcess update(runUpdate(f));
    expectFailureBox(answerBox(update));
    EXPECT_TRUE(holds(f.target(), f.oldProgram()));
    EXPECT_TRUE(f.waitForStart(f.oldProgram().size()));
    EXPECT_FALSE(fs::exists(f.tmpDir()));
}

// The old program does not let go of its file within the wait.
TEST(UpdaterSafety, ATargetHeldOpenKeepsTheOldProgram) {
    UpdateFolder f("target_held");
    f.putNewProgram();
    HANDLE held = CreateFileA(f.target().string().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    SetEnvironmentVariableA("TOLV_TARGET_WAIT_MS", "1500");  // half a minute in the field
    ChildProcess update(runUpdate(f));
    SetEnvironmentVariableA("TOLV_TARGET_WAIT_MS", nullptr);
    BoxSeen seen = answerBox(update);
    CloseHandle(held);
    expectFailureBox(seen);
    EXPECT_TRUE(holds(f.target(), f.oldProgram()));
    EXPECT_TRUE(f.waitForStart(f.oldProgram().size()));
}

TEST(UpdaterResources, VersionTextsIconAndManifest) {
    const std::string exe = (buildDir() / "update.exe").string();
    DWORD ignored = 0;
    std::string block(GetFileVersionInfoSizeA(exe.c_str(), &ignored), '\0');
    ASSERT_FALSE(block.empty());
    ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
    auto value = [&](const char* name) {
        char* text = nullptr;
        UINT len = 0;
        std::string key = std::string("\\StringFileInfo\\040904b0\\") + name;
        if (!VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&text), &len) || !len)
            return std::string();
        return std::string(text);
    };
    EXPECT_EQ("update", value("ProductName"));
    EXPECT_EQ("1.00", value("FileVersion"));
    EXPECT_EQ("Keep this file safe.", value("Comments"));

    HMODULE m = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, m);
    EXPECT_NE(nullptr, FindResourceA(m, MAKEINTRESOURCEA(1), RT_GROUP_ICON));
    HRSRC manifest = FindResourceA(m, MAKEINTRESOURCEA(1), RT_MANIFEST);
    ASSERT_NE(nullptr, manifest);
    std::string xml(static_cast<const char*>(LockResource(LoadResource(m, manifest))),
                    SizeofResource(m, manifest));
    EXPECT_NE(std::string::npos, xml.find("Microsoft.Windows.Common-Controls"));
    EXPECT_NE(std::string::npos, xml.find("asInvoker"));
    EXPECT_NE(std::string::npos, xml.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}")) << "Windows 10 and 11 not declared";
    EXPECT_NE(std::string::npos, xml.find(">true/pm</dpiAware>")) << "not DPI aware";
    EXPECT_NE(std::string::npos, xml.find(">PerMonitorV2, PerMonitor<")) << "not per-monitor aware";
    FreeLibrary(m);
}

// The form as designed at 96 DPI, then at 200 % when the system says so.
TEST(UpdaterForm, ScalesItsFontAndLayoutToANewDpi) {
    frmupdate form(GetModuleHandleA(nullptr));
    HWND label = FindWindowExA(form.hwnd(), nullptr, "STATIC", frmupdate::label1Text);
    auto layout = [&] {
        LOGFONTA lf{};
        GetObjectA(reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0)), sizeof lf, &lf);
        RECT w{}, l{};
        GetWindowRect(form.hwnd(), &w);
        GetWindowRect(label, &l);
        MapWindowPoints(nullptr, form.hwnd(), reinterpret_cast<POINT*>(&l), 2);
        char s[80];
        snprintf(s, sizeof s, "font %ld, label %ld,%ld %ldx%ld, window %ld,%ld %ldx%ld", lf.lfHeight, l.left,
                 l.top, l.right - l.left, l.bottom - l.top, w.left, w.top, w.right - w.left,
                 w.bottom - w.top);
        return std::string(s);
    };
    SetWindowPos(form.hwnd(), nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ("font -11, label 16,16 220x20, window 40,30 260x100", layout());
    RECT suggested{50, 40, 50 + 530, 40 + 210};
    SendMessageA(form.hwnd(), WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ("font -21, label 32,32 440x40, window 50,40 530x210", layout());  // -MulDiv(8, 192, 72)
}
