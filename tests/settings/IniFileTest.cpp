#include <gtest/gtest.h>

#include <climits>

#include "base/FileSystem.h"
#include "base/ModCommon.h"
#include "settings/cInifile.h"
#include "support/ScratchFolder.h"

namespace {

class IniFile : public ::testing::Test {
protected:
    void SetUp() override {
        ini.setPath(folder.path() + "\\test.ini");
        ini.setSection("S");
    }
    std::string fileText() const {
        std::string text;
        FileSystem().ReadAll(ini.Path(), text);
        return text;
    }
    void put(const std::string& sKey, const std::string& sValue) {
        ini.setKey(sKey);
        ini.setValue(sValue);
        ASSERT_TRUE(ini.Success());
    }
    ScratchFolder folder;
    cInifile ini;
};

TEST_F(IniFile, ValueReadsWhatWasWrittenAndDefaultWhenMissing) {
    ini.setKey("missing");
    EXPECT_EQ(ini.Value(), "");
    ini.setDefault("fallback");
    EXPECT_EQ(ini.Value(), "fallback");

    put("k", "hello world");
    EXPECT_NE(ini.LastReturnCode(), 0);
    EXPECT_EQ(ini.Value(), "hello world");
}

TEST_F(IniFile, WriteDropsNulCharacters) {
    ini.setKey("k");
    ini.setValue(std::string("a\0b\0\0c", 6));
    EXPECT_TRUE(ini.Success());
    EXPECT_EQ(ini.Value(), "abc");
    EXPECT_NE(fileText().find("k=abc"), std::string::npos);
}

TEST_F(IniFile, FailedWriteIsReportedThroughLastReturnCode) {
    put("k", "v");
    ini.setPath(folder.path() + "\\no such folder\\test.ini");
    ini.setValue("v");
    EXPECT_EQ(ini.LastReturnCode(), 0);
    EXPECT_FALSE(ini.Success());
}

TEST_F(IniFile, DeleteKeyAndSectionRemoveOnlyTheirTarget) {
    put("a", "1");
    put("b", "2");
    ini.setSection("T");
    put("c", "3");

    ini.setSection("S");
    ini.setKey("a");
    ini.DeleteKey();
    EXPECT_TRUE(ini.Success());
    EXPECT_EQ(ini.Value(), "");
    ini.setKey("b");
    EXPECT_EQ(ini.Value(), "2");

    ini.DeleteSection();
    EXPECT_EQ(ini.Value(), "");
    ini.setSection("T");
    ini.setKey("c");
    EXPECT_EQ(ini.Value(), "3");
}

TEST_F(IniFile, SettingINISectionRemovesTheSection) {
    put("a", "1");
    ini.setINISection("a=9");
    EXPECT_TRUE(ini.Success());
    EXPECT_EQ(ini.INISection(), "");
    EXPECT_EQ(fileText().find("[S]"), std::string::npos);
}

TEST_F(IniFile, EnumerationIsIndexedFromOne) {
    put("a", "1");
    put("b", "2");
    ini.setSection("T");
    put("c", "3");

    ini.setSection("S");
    EXPECT_EQ(ini.INISection(), std::string("a\0b\0", 4));
    EXPECT_EQ(ini.Sections(), std::string("S\0T\0", 4));

    std::vector<std::string> names{"stale"};
    int32_t count = -1;
    ini.EnumerateCurrentSection(names, count);
    ASSERT_EQ(count, 2);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[1], "a");
    EXPECT_EQ(names[2], "b");

    ini.EnumerateAllSections(names, count);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(names[1], "S");
    EXPECT_EQ(names[2], "T");
}

TEST_F(IniFile, EmptyOrMissingSectionEnumeratesAsNothing) {
    std::vector<std::string> names{"stale"};
    int32_t count = -1;
    ini.setSection("nothing here");
    ini.EnumerateCurrentSection(names, count);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(names.empty());

    // The platform hands back the default (without a NUL) for a missing
    // section; it is not a name.
    ini.setDefault("dflt");
    ini.EnumerateCurrentSection(names, count);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(names.empty());

    ini.setPath(folder.path() + "\\missing.ini");
    ini.EnumerateAllSections(names, count);
    EXPECT_EQ(count, 0);
}

std::string localDecimal(const char* sWhole, const char* sFraction) {
    char sep[8] = ".";
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, sep, sizeof(sep));
    return std::string(sWhole) + sep + sFraction;
}

TEST(IniCLngDefault, ConvertsOrFallsBack) {
    EXPECT_EQ(cInifile::CLngDefault("12"), 12);
    EXPECT_EQ(cInifile::CLngDefault(" 7 "), 7);
    EXPECT_EQ(cInifile::CLngDefault("-2147483648"), INT32_MIN);
    EXPECT_EQ(cInifile::CLngDefault("FAIL", 5), 5);
    EXPECT_EQ(cInifile::CLngDefault(""), 0);
    EXPECT_EQ(cInifile::CLngDefault("2147483648", -1), -1);
    EXPECT_EQ(cInifile::CLngDefault(std::string("12\0", 3) + "3", -1), -1);
}

TEST(IniCLngDefault, RoundsHalvesToEven) {
    EXPECT_EQ(cInifile::CLngDefault(localDecimal("2", "5")), 2);
    EXPECT_EQ(cInifile::CLngDefault(localDecimal("3", "5")), 4);
    EXPECT_EQ(cInifile::CLngDefault(localDecimal("-2", "5")), -2);
    EXPECT_EQ(cInifile::CLngDefault(localDecimal("7", "6")), 8);
}

// --- window positions --------------------------------------------------------------

class IniFormPosition : public IniFile {
protected:
    void SetUp() override {
        IniFile::SetUp();
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kClass;
        RegisterClassA(&wc);
        hWnd = CreateWindowExA(0, kClass, "position", WS_OVERLAPPEDWINDOW, 100, 120, 400, 300, nullptr,
                               nullptr, wc.hInstance, nullptr);
        ASSERT_NE(hWnd, nullptr);
        ini.setSection("Window");
    }
    void TearDown() override {
        if (hWnd)
            DestroyWindow(hWnd);
    }
    RECT rect() const {
        RECT rc{};
        GetWindowRect(hWnd, &rc);
        return rc;
    }
    std::string read(const char* sKey) {
        ini.setKey(sKey);
        return ini.Value();
    }
    static int tx(int px) { return ModCommon::pixelsToTwipsX(px); }
    static int ty(int px) { return ModCommon::pixelsToTwipsY(px); }

    static constexpr const char* kClass = "QuilloraIniTestWindow";
    static constexpr int kMargin = 4;
    HWND hWnd = nullptr;
    const int screenW = GetSystemMetrics(SM_CXSCREEN);
    const int screenH = GetSystemMetrics(SM_CYSCREEN);
};

TEST_F(IniFormPosition, SaveAndLoadRoundTripAndKeepTheCallersKey) {
    ini.setKey("mine");
    ini.SaveFormPosition(hWnd);
    EXPECT_EQ(ini.Key(), "mine");
    EXPECT_EQ(read("Maximised"), "0");
    EXPECT_EQ(read("Left"), std::to_string(tx(100)));
    EXPECT_EQ(read("Height"), std::to_string(ty(300)));

    SetWindowPos(hWnd, nullptr, 10, 10, 200, 200, SWP_NOZORDER);
    ini.setKey("mine");
    ini.setDefault("theirs");
    ini.LoadFormPosition(hWnd, 0, 0);
    RECT rc = rect();
    EXPECT_EQ(rc.left, 100);
    EXPECT_EQ(rc.top, 120);
    EXPECT_EQ(rc.right - rc.left, 400);
    EXPECT_EQ(rc.bottom - rc.top, 300);
    EXPECT_EQ(ini.Key(), "mine");
    EXPECT_EQ(ini.Default(), "theirs");
    EXPECT_FALSE(IsZoomed(hWnd));
}

TEST_F(IniFormPosition, MaximizedWindowSavesOnlyItsState) {
    ShowWindow(hWnd, SW_MAXIMIZE);
    ASSERT_TRUE(IsZoomed(hWnd));
    ini.SaveFormPosition(hWnd);
    EXPECT_EQ(read("Maximised"), "1");
    EXPECT_EQ(read("Left"), "");

    ShowWindow(hWnd, SW_RESTORE);
    ASSERT_FALSE(IsZoomed(hWnd));
    ini.LoadFormPosition(hWnd, 0, 0);
    EXPECT_TRUE(IsZoomed(hWnd));
}

TEST_F(IniFormPosition, FarOffScreenComesBackFourPixelsInside) {
    put("Left", std::to_string(tx(screenW * 3)));
    put("Top", std::to_string(ty(-5000)));
    put("Width", std::to_string(tx(400)));
    put("Height", std::to_string(ty(300)));
    ini.LoadFormPosition(hWnd, 0, 0);
    RECT rc = rect();
    EXPECT_EQ(rc.right, screenW - kMargin);
    EXPECT_EQ(rc.top, kMargin);
    EXPECT_EQ(rc.right - rc.left, 400);
}

TEST_F(IniFormPosition, TooWideIsCutAndTooSmallAfterCuttingIsNotMoved) {
    put("Left", "0");
    put("Top", std::to_string(ty(50)));
    put("Width", std::to_string(tx(screenW * 2)));
    put("Height", std::to_string(ty(300)));
    ini.LoadFormPosition(hWnd, tx(200), 0);
    RECT rc = rect();
    EXPECT_EQ(rc.left, kMargin);
    EXPECT_EQ(rc.right, screenW - kMargin);
    EXPECT_EQ(rc.top, 50);

    SetWindowPos(hWnd, nullptr, 100, 120, 400, 300, SWP_NOZORDER);
    ini.LoadFormPosition(hWnd, tx(screenW), 0);
    rc = rect();
    EXPECT_EQ(rc.left, 100);
    EXPECT_EQ(rc.right - rc.left, 400);
}

TEST_F(IniFormPosition, MissingKeysKeepTheWindowButEnforceTheMinimum) {
    ini.LoadFormPosition(hWnd, tx(500), ty(350));
    RECT rc = rect();
    EXPECT_EQ(rc.left, 100);
    EXPECT_EQ(rc.top, 120);
    EXPECT_EQ(rc.right - rc.left, 500);
    EXPECT_EQ(rc.bottom - rc.top, 350);
}

TEST_F(IniFormPosition, NoWindowEndsAtOnceRestoringKeyAndDefault) {
    put("k", "v");
    ASSERT_NE(ini.LastReturnCode(), 0);
    DestroyWindow(hWnd);
    HWND gone = std::exchange(hWnd, nullptr);

    ini.setKey("mine");
    ini.setDefault("theirs");
    ini.LoadFormPosition(gone, 0, 0);
    EXPECT_EQ(ini.Key(), "mine");
    EXPECT_EQ(ini.Default(), "theirs");
    EXPECT_EQ(ini.LastReturnCode(), 0);

    put("k", "v");
    ini.setKey("mine");
    ini.setDefault("");
    ini.SaveFormPosition(gone);
    EXPECT_EQ(ini.Key(), "mine");
    EXPECT_EQ(ini.LastReturnCode(), 0);
    EXPECT_EQ(read("Maximised"), "");
}

}  // namespace
