// A download that goes on from a partial local file: REST where the file
// ends, once the bytes before it match the server's.
#include <gtest/gtest.h>

#include <cstdlib>

#include "FtpTestServer.h"
#include "base/ModCommon.h"
#include "ftp/ReceivedBytes.h"
#include "ftp/modFTP.h"
#include "work/Work.h"

using namespace ftptest;

namespace {

// The publisher logs every REST; vsftpd every command.
int restsLogged(const std::string& sCommand) {
    const char* dir = std::getenv("TOLV_FTP_TEST_DIR");
    std::string log = readFile(std::string("Z:") + dir + (isPublisher() ? "/log" : "/vsftpd.log"));
    int n = 0;
    for (size_t at = log.find(sCommand); at != std::string::npos; at = log.find(sCommand, at + 1)) ++n;
    return n;
}

// Sees every byte of a download as the hash does.
struct Collected : ReceivedBytes {
    std::string bytes;
    void restart() override { bytes.clear(); }
    void add(const char* p, size_t n) override { bytes.append(p, n); }
};

class Resume : public testing::Test {
protected:
    void SetUp() override {
        modFTP::transferBusy = Work::deliveryPaused = Work::deliveryCancelled = false;
        dir = scratchFolder();
        served = readFile(servedFile("sizes/s200000.bin"));
    }
    std::string dir, served;
};

}  // namespace

TEST_F(Resume, PartialFileGoesOnFromItsEndWithOneRest) {
    writeFile(dir + "s.bin", served.substr(0, 150000));
    // The last 64 KiB before the join are read again and compared.
    const std::string rest = "REST " + std::to_string(150000 - 65536);
    const int before = restsLogged(rest);
    auto ftp = openSession();
    Collected seen;
    ftp->setReceiver(&seen);
    EXPECT_TRUE(ftp->FTPDownloadFile(dir + "s.bin", "sizes/s200000.bin", true));
    EXPECT_TRUE(sameBytes(served, readFile(dir + "s.bin")));
    // The hash sees the bytes kept on disk, then the new ones: the whole issue.
    EXPECT_TRUE(sameBytes(served, seen.bytes));
    EXPECT_EQ(cFTP::Outcome::Done, ftp->LastOutcome());
    EXPECT_EQ(1, restsLogged(rest) - before);
}

TEST_F(Resume, ForeignOrLongerLocalFileIsWrittenAnew) {
    auto ftp = openSession();
    Collected seen;
    ftp->setReceiver(&seen);
    writeFile(dir + "s.bin", std::string(150000, 'x'));
    EXPECT_TRUE(ftp->FTPDownloadFile(dir + "s.bin", "sizes/s200000.bin", true));
    EXPECT_TRUE(sameBytes(served, readFile(dir + "s.bin")));
    EXPECT_TRUE(sameBytes(served, seen.bytes));  // none of the foreign bytes
    writeFile(dir + "t.bin", served + "more");
    EXPECT_TRUE(ftp->FTPDownloadFile(dir + "t.bin", "sizes/s200000.bin", true));
    EXPECT_TRUE(sameBytes(served, readFile(dir + "t.bin")));
    // A short file wholly inside the compared span needs no REST at all.
    writeFile(dir + "u.bin", served.substr(0, 1000));
    EXPECT_TRUE(ftp->FTPDownloadFile(dir + "u.bin", "sizes/s200000.bin", true));
    EXPECT_TRUE(sameBytes(served, readFile(dir + "u.bin")));
}
