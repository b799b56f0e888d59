// The block download: layout, refusals, pause-free cancel points. Runs
// against the publisher and vsftpd alike.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>

#include "FtpTestServer.h"
#include "base/ModCommon.h"
#include "tray/frmtray.h"
#include "ftp/modFTP.h"
#include "work/Work.h"

using namespace ftptest;

namespace {

// How many files in the user's Internet cache are copies of sName (the
// cache keeps them as "name[N]" in folders of its own).
int cachedCopies(const std::string& sFolder, const std::string& sName) {
    int n = 0;
    WIN32_FIND_DATAA found{};
    HANDLE h = FindFirstFileA((sFolder + "\\*").c_str(), &found);
    for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &found)) {
        const std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            n += cachedCopies(sFolder + "\\" + name, sName);
        else if (name.rfind(sName + "[", 0) == 0)
            ++n;
    }
    if (h != INVALID_HANDLE_VALUE)
        FindClose(h);
    return n;
}

int cachedCopies(const std::string& sName) {
    char cache[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, CSIDL_INTERNET_CACHE, nullptr, 0, cache);
    return cachedCopies(cache, sName);
}

class Download : public testing::Test {
protected:
    void SetUp() override {
        modFTP::transferBusy = Work::deliveryPaused = Work::deliveryCancelled = false;
        ftp = openSession();
        dir = scratchFolder();
    }
    void TearDown() override {
        modFTP::transferBusy = Work::deliveryPaused = Work::deliveryCancelled = false;
    }
    bool fetch(const std::string& sRemote, const std::string& sLocalName) {
        return ftp->FTPDownloadFile(dir + sLocalName, sRemote);
    }
    std::unique_ptr<cFTP> ftp;
    std::string dir;
};

}  // namespace

TEST_F(Download, SizesAroundTheBlockArriveExactly) {
    for (const char* name : {"s1.bin", "s254.bin", "s255.bin", "s256.bin", "s510.bin", "s520.bin"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(fetch(std::string("sizes/") + name, name));
        EXPECT_TRUE(sameBytes(readFile(servedFile(std::string("sizes/") + name)), readFile(dir + name)));
        EXPECT_FALSE(modFTP::transferBusy);
    }
}

TEST_F(Download, LargerFileAcrossManyReads) {
    const int cached = cachedCopies("s200000");
    EXPECT_TRUE(fetch("sizes/s200000.bin", "s200000.bin"));
    EXPECT_TRUE(sameBytes(readFile(servedFile("sizes/s200000.bin")), readFile(dir + "s200000.bin")));
    // Only the library holds it: no second copy in the user's Internet cache.
    EXPECT_EQ(cachedCopies("s200000"), cached);
}

TEST_F(Download, EmptyRemoteFileFailsWithoutALocalFile) {
    EXPECT_FALSE(fetch("sizes/s0.bin", "s0.bin"));
    EXPECT_FALSE(fileExists(dir + "s0.bin"));
    EXPECT_FALSE(modFTP::transferBusy);
}

TEST_F(Download, NamesWithBlanksSurroundingSpacesAndBytesBeyondAscii) {
    const std::string padded = std::string("  ").append(dir).append("issue one.bin ");
    EXPECT_TRUE(ftp->FTPDownloadFile(padded, "Has Blank/issue one.bin"));
    EXPECT_TRUE(sameBytes(readFile(servedFile("Has Blank/issue one.bin")), readFile(dir + "issue one.bin")));
    // Latin-1 and UTF-8 names, asked for (SIZE, RETR) with the server's own bytes.
    int64_t size = 0;
    for (const char* name : {"Caf\xE9 Culture/Caf\xE9 Culture_CC_1.pdf",
                             "Wiadomo\xC5\x9B" "ci/\xC5\x81\xC3\xB3" "d\xC5\xBA Weekly_WK_2.pdf"}) {
        EXPECT_EQ(ftp->GetFTPFileSize(name), size += 10000) << name;
        EXPECT_TRUE(fetch(name, "named.pdf")) << name;
        EXPECT_EQ(ModCommon::fileSystem.FileSize(dir + "named.pdf"), size) << name;
    }
}

TEST_F(Download, OlderLongerLocalFileLosesItsTail) {
    writeFile(dir + "s256.bin", std::string(5000, 'x'));
    EXPECT_TRUE(fetch("sizes/s256.bin", "s256.bin"));
    EXPECT_TRUE(sameBytes(readFile(servedFile("sizes/s256.bin")), readFile(dir + "s256.bin")));
}

TEST_F(Download, MissingRemoteFileTouchesNothing) {
    frmtray::instance().setToolTip("Quillora");
    EXPECT_FALSE(fetch("sizes/nosuch.bin", "nosuch.bin"));
    EXPECT_FALSE(modFTP::transferBusy);
    EXPECT_EQ("Quillora", frmtray::instance().toolTip());
    EXPECT_FALSE(fileExists(dir + "nosuch.bin"));
}

TEST_F(Download, RefusedWhileAnotherDownloadRuns) {
    modFTP::transferBusy = true;
    EXPECT_FALSE(fetch("sizes/s1.bin", "s1.bin"));
    EXPECT_FALSE(ftp->OpenConnection());
    EXPECT_TRUE(ftp->connected());  // the refusal leaves the connection alone
    std::string local = dir + "up.bin", remote = "incoming/up.bin";
    EXPECT_FALSE(ftp->FTPUploadFile(local, remote));
    EXPECT_TRUE(modFTP::transferBusy);
    EXPECT_FALSE(fileExists(dir + "s1.bin"));
}

TEST_F(Download, CancelledDeliveryDoesNotStart) {
    struct Cancelled : TransferObserver {
        bool cancelAsked() const override { return true; }
    } cancelled;
    ftp->setObserver(&cancelled);
    EXPECT_FALSE(fetch("sizes/s1.bin", "s1.bin"));
    EXPECT_EQ(ftp->LastOutcome(), cFTP::Outcome::Cancelled);
    EXPECT_FALSE(fileExists(dir + "s1.bin"));
}
