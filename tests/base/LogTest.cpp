// The log: bounded on disk, whole lines from many threads, no secrets.
#include <gtest/gtest.h>
#include <windows.h>

#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "base/Log.h"
#include "base/ModCommon.h"
#include "support/gui.h"

using namespace ModCommon;

namespace {

struct LogFolder : testing::Test {
    ScratchProgramFolder folder;
    void SetUp() override { fileSystem.CreateFolder(folder.path() + "\\data"); }
    void TearDown() override { Log::maxBytes = 1 << 20; }
    static std::string read(const std::string& sPath) {
        std::string text;
        fileSystem.ReadAll(sPath, text);
        return text;
    }
};

// Two threads write past the bound many times over: one older file is kept,
// both stay under the bound, and every line in them is whole.
TEST_F(LogFolder, WritingPastTheBoundKeepsOneOlderFileOfWholeLines) {
    Log::maxBytes = 4096;
    auto write = [](char who) {
        for (int i = 0; i < 200; ++i) Log::line(std::string("copy ") + who + std::to_string(i), "226 Done.");
    };
    std::thread other(write, 'b');
    write('a');
    other.join();
    Log::line("the last line");
    const std::string current = read(Log::path()), older = read(Log::olderPath());
    EXPECT_LE(current.size(), 4096u);
    EXPECT_GT(older.size(), 3000u);
    EXPECT_LE(older.size(), 4096u);
    EXPECT_EQ(fileSystem.Files(folder.path() + "\\data").size(), 2u);
    EXPECT_NE(current.find("the last line\r\n"), std::string::npos);
    const std::regex whole(
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d (copy [ab]\d+ \| reply: 226 Done\.|the last line)\r)");
    for (const std::string& text : {older, current}) {
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) EXPECT_TRUE(std::regex_match(line, whole)) << line;
    }
}

// A secret never shows, wherever it comes from; a reply of several lines
// keeps its last, and a name with a line break stays on its line.
TEST_F(LogFolder, SecretsAreHiddenAndEachEntryIsOneLine) {
    Log::hide("s3cret@host");
    Log::line("login with s3cret@host to\r\nfolder", "230-Welcome s3cret@host\r\n230 Login ok.\r\n", 12014);
    EXPECT_EQ(read(Log::path()).substr(20),
              "login with *** to  folder | reply: 230 Login ok. | error 12014\r\n");
}

}  // namespace
