// Moving the library to a folder the user chose: all of it arrives and the
// old folders go, or the move fails and the old library stays whole.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <map>

#include "base/FileSystem.h"
#include "base/Handles.h"
#include "support/ScratchFolder.h"
#include "text/Text.h"
#include "work/LibraryMove.h"

namespace {

// Path below the library's root -> the file's size and a digest of its
// bytes, or "/" for a folder.
using Files = std::map<std::string, std::string>;

const std::string winter = "My Magazines\\Alpine Boating\\Winter Issue_AB_1.pdf";
const std::string spring = "My Magazines\\Alpine Boating\\Spring Issue_AB_2.pdf";
const std::string weekly = "My Magazines\\Wiadomości\\Łódź Weekly_WK_2.pdf";
const std::string torrent = "My Torrents\\Alpine Boating\\Winter Issue_AB_1.torrent";
const std::string torrentBytes = "d8:announce22:udp://tracker.invalid:80e";

class LibraryMoving : public testing::Test {
protected:
    void SetUp() override {
        put(from, winter, bytes((3 << 20) + 17));  // several of the move's blocks
        put(from, spring, bytes(4000));
        put(from, weekly, bytes(70000));
        put(from, torrent, torrentBytes);
        fs.CreateFolder(from + "\\My Magazines\\Garden Notes");
        put(from, "data\\em_lst.lcl", "AB;1;Winter Issue\r\n");
        before = contents(from);
    }

    static std::string bytes(size_t n) {
        std::string s(n, '\0');
        for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 2654435761u) >> 13);
        return s;
    }
    void put(const std::string& sRoot, const std::string& sRel, const std::string& sBytes) const {
        fs.CreateFolder(sRoot);
        for (size_t cut = sRel.find('\\'); cut != std::string::npos; cut = sRel.find('\\', cut + 1))
            fs.CreateFolder(sRoot + "\\" + sRel.substr(0, cut));
        fs.Append(sRoot + "\\" + sRel, sBytes);
    }
    Files contents(const std::string& sRoot) const {
        Files out;
        for (const char* folder : LibraryMove::folderNames) collect(sRoot, folder, out);
        return out;
    }
    void collect(const std::string& sRoot, const std::string& sRel, Files& out) const {
        const std::string path = sRoot + "\\" + sRel;
        if (!fs.FolderExists(path))
            return;
        out[sRel] = "/";
        for (const std::string& name : fs.SubFolders(path)) collect(sRoot, sRel + "\\" + name, out);
        for (const std::string& name : fs.Files(path)) {
            std::string bytes;
            fs.ReadAll(path + "\\" + name, bytes);
            out[sRel + "\\" + name] =
                std::to_string(bytes.size()) + " #" + std::to_string(std::hash<std::string>{}(bytes));
        }
    }
    // iCancelAt: the move asks before each file and block whether to stop; the
    // iCancelAt-th asking answers yes (0: never).
    LibraryMove::Result moveTo(const std::string& sTo, bool bCommit = true, int iCancelAt = 0) {
        int asked = 0;
        return LibraryMove::move(
            from, sTo,
            [&] {
                ++commits;
                return bCommit;
            },
            [&](const LibraryMove::Progress& p) { last = p; }, [&] { return ++asked == iCancelAt; });
    }
    static FILETIME writeTime(const std::string& sPath) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        GetFileAttributesExW(Text::wide(sPath).c_str(), GetFileExInfoStandard, &data);
        return data.ftLastWriteTime;
    }

    FileSystem fs;
    ScratchFolder scratch;
    const std::string from = scratch.path() + "\\program", to = scratch.path() + "\\Library";
    Files before;
    int commits = 0;
    LibraryMove::Progress last;
};

// Two magazines (one named outside ASCII), a torrent and an empty folder go
// to a folder that already holds the same torrent and a file of the user's:
// everything arrives byte for byte with its time, the old folders go, the
// data folder and the user's file stay.
TEST_F(LibraryMoving, EveryFileArrivesByteForByteAndTheOldFoldersGo) {
    const FILETIME delivered{0x5a3c0000, 0x01d9a000};  // in 2023
    {
        AutoHandle h(CreateFileW(Text::wide(from + "\\" + winter).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(SetFileTime(h.get(), nullptr, nullptr, &delivered));
    }
    put(to, "notes.txt", "mine");
    put(to, torrent, torrentBytes);

    const LibraryMove::Result result = moveTo(to);
    EXPECT_TRUE(result.moved) << result.message;
    EXPECT_EQ(result.message, "");
    EXPECT_EQ(contents(to), before);
    const FILETIME arrived = writeTime(to + "\\" + winter);
    EXPECT_EQ(CompareFileTime(&delivered, &arrived), 0);
    EXPECT_FALSE(fs.FolderExists(from + "\\My Magazines"));
    EXPECT_FALSE(fs.FolderExists(from + "\\My Torrents"));
    EXPECT_TRUE(fs.FileExists(from + "\\data\\em_lst.lcl"));
    EXPECT_TRUE(fs.FileExists(to + "\\notes.txt"));
    EXPECT_EQ(commits, 1);
    EXPECT_EQ(result.files, 4);
    EXPECT_EQ(last.filesDone, last.filesTotal);
    EXPECT_EQ(last.filesTotal, 4);
    EXPECT_EQ(last.bytesDone, last.bytesTotal);
    EXPECT_EQ(last.bytesTotal, result.bytes);
}

// A reader holds the torrent open without sharing it, after the issues
// were copied; then the user cancels; then the new place cannot be
// recorded. Each time the old library stays whole and nothing the move made
// is left, while the copy that was there before stays.
TEST_F(LibraryMoving, ALockedFileACancelOrAFailedCommitLeavesTheOldLibraryWhole) {
    put(to, spring, bytes(4000));
    const Files there = contents(to);
    {
        AutoHandle reader(CreateFileW(Text::wide(from + "\\" + torrent).c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(reader);
        const LibraryMove::Result result = moveTo(to);
        EXPECT_FALSE(result.moved);
        EXPECT_NE(result.message.find("Winter Issue_AB_1.torrent\" is in use by another program (error 32). "
                                      "Nothing was changed."),
                  std::string::npos)
            << result.message;
    }
    EXPECT_EQ(contents(from), before);
    EXPECT_EQ(contents(to), there);
    EXPECT_EQ(commits, 0);

    const LibraryMove::Result cancelled = moveTo(to, true, 3);
    EXPECT_FALSE(cancelled.moved);
    EXPECT_EQ(cancelled.message, "The library was not moved: the move was cancelled. Nothing was changed.");
    EXPECT_EQ(contents(to), there);
    EXPECT_EQ(commits, 0);

    const std::string elsewhere = scratch.path() + "\\New\\Library";
    const LibraryMove::Result unrecorded = moveTo(elsewhere, false);
    EXPECT_FALSE(unrecorded.moved);
    EXPECT_EQ(unrecorded.message,
              "The library could not be moved: its new place could not be recorded. Nothing was changed.");
    EXPECT_EQ(commits, 1);
    EXPECT_EQ(contents(from), before);
    EXPECT_FALSE(fs.FolderExists(scratch.path() + "\\New"));
}

// A place inside the library, the library's own folder, a file, a folder
// that cannot be made and a relative path are refused up front; an issue of
// the same name but other bytes at the new place fails the move before
// anything is copied.
TEST_F(LibraryMoving, PlacesThatCannotTakeTheLibraryAreRefused) {
    put(scratch.path(), "a file", "x");
    const std::string inside = from + "\\My Magazines\\Wiadomości\\Library";
    for (const std::string& place : {inside, from, from + "\\", scratch.path() + "\\a file",
                                     scratch.path() + "\\a file\\Library", std::string("Library")})
        EXPECT_NE(LibraryMove::refusal(from, place), "") << place;
    EXPECT_EQ(LibraryMove::refusal(from, to), "");
    EXPECT_EQ(LibraryMove::refusal(from, scratch.path() + "\\New\\Library"), "");

    EXPECT_FALSE(moveTo(inside).moved);
    EXPECT_FALSE(fs.FolderExists(inside));

    put(to, weekly, "another edition");
    const LibraryMove::Result result = moveTo(to);
    EXPECT_FALSE(result.moved);
    EXPECT_NE(result.message.find("Łódź Weekly_WK_2.pdf\" is already there, and differs from"),
              std::string::npos)
        << result.message;
    EXPECT_EQ(contents(from), before);
    EXPECT_EQ(commits, 0);
}

}  // namespace
