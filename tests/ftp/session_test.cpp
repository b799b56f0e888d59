// cFTP against a real server: the sample publisher, and vsftpd in the
// compatibility run. Nothing here depends on which one answers.
#include <gtest/gtest.h>

#include "FtpTestServer.h"
#include "base/ModCommon.h"
#include "ftp/modFTP.h"

using namespace ftptest;

namespace {
class Session : public testing::Test {
protected:
    void SetUp() override { ftp = openSession(); }
    std::unique_ptr<cFTP> ftp;
};
}  // namespace

TEST_F(Session, DirectoryChangesAndTheServersOwnWordsOnFailure) {
    EXPECT_EQ("/pub", ftp->GetFTPDirectory());
    EXPECT_TRUE(ftp->SetFTPDirectory("sizes"));
    EXPECT_EQ("/pub/sizes", ftp->GetFTPDirectory());
    EXPECT_FALSE(ftp->SetFTPDirectory("/no such folder"));
    // Error 12003 gives the server's last response alone.
    const std::string err = ftp->GetLastErrorMessage();
    EXPECT_EQ(0u, err.rfind("550", 0)) << err;
    EXPECT_EQ(std::string::npos, err.find("error code:")) << err;
    EXPECT_EQ("/pub/sizes", ftp->GetFTPDirectory());
}

TEST_F(Session, FileSizes) {
    EXPECT_EQ(510, ftp->GetFTPFileSize("sizes/s510.bin"));
    EXPECT_EQ(1, ftp->GetFTPFileSize("sizes/s1.bin"));
    EXPECT_EQ(0, ftp->GetFTPFileSize("sizes/s0.bin"));
    EXPECT_EQ(1000, ftp->GetFTPFileSize("Has Blank/issue one.bin"));
    EXPECT_EQ(static_cast<int64_t>(readFile(servedFile("VORK.ini")).size()), ftp->GetFTPFileSize("VORK.ini"));
    EXPECT_TRUE(ftp->checkServerFile("sizes/s254.bin"));
}

TEST_F(Session, NoSuchFileIsMinusOneHoweverTheServerSaysIt) {
    EXPECT_EQ(-1, ftp->GetFTPFileSize("sizes/nosuch.bin"));       // existing folder
    EXPECT_EQ(-1, ftp->GetFTPFileSize("no such folder/x.pdf"));   // missing folder
    EXPECT_EQ("", ftp->GetLastErrorMessage());
    EXPECT_FALSE(ftp->checkServerFile("sizes/nosuch.bin"));
    // The session stays usable after each answer.
    EXPECT_EQ(256, ftp->GetFTPFileSize("sizes/s256.bin"));
}

TEST_F(Session, OtherFailuresAreMinusTwoWithAText) {
    ftp->CloseConnection();
    EXPECT_FALSE(ftp->connected());
    EXPECT_EQ(-2, ftp->GetFTPFileSize("sizes/s1.bin"));
    EXPECT_EQ(0u, ftp->GetLastErrorMessage().rfind("FtpFindFirstFile error code: ", 0)) << ftp->GetLastErrorMessage();
    EXPECT_FALSE(ftp->checkServerFile("sizes/s1.bin"));
    EXPECT_EQ("", ftp->GetFTPDirectory());
    EXPECT_EQ(0u, ftp->GetLastErrorMessage().rfind("FtpGetCurrentDirectory error code: ", 0));
    EXPECT_TRUE(ftp->OpenConnection());
    EXPECT_EQ(1, ftp->GetFTPFileSize("/pub/sizes/s1.bin"));
}

TEST_F(Session, ListingOfAFolder) {
    cDirList* list = ftp->GetDirectoryListing("sizes/*");
    ASSERT_NE(nullptr, list);
    EXPECT_EQ(list, &ftp->Directory());
    EXPECT_EQ(510, list->Item("s510.bin").FileSize);
    EXPECT_EQ(510, list->Item("s510.bin").FileSizeFull);
    EXPECT_EQ(0, list->Item("s0.bin").FileSize);
    EXPECT_FALSE(list->Item("s1.bin").Directory);
    EXPECT_EQ(&list->Item(1), &list->Item(list->Item(1).Filename));
    // Time stamps come out as local OLE dates of the server's clock: the tree
    // was laid out minutes ago.
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    EXPECT_NEAR(modFTP::fileTimeToDate(now), list->Item("s1.bin").LastWriteTime, 1.0);

    cDirList* top = ftp->GetDirectoryListing("/pub/*");
    ASSERT_NE(nullptr, top);
    EXPECT_TRUE(top->Item("sizes").Directory);
    EXPECT_FALSE(top->Item("em_lst.srv").Directory);
    EXPECT_THROW(top->Item("s1.bin"), std::out_of_range);  // the first listing is gone
    EXPECT_EQ(&ftp->Directory(), top);
}

TEST_F(Session, ListingThatMatchesNothingIsNoListWithoutError) {
    ASSERT_NE(nullptr, ftp->GetDirectoryListing("sizes/*"));
    EXPECT_EQ(nullptr, ftp->GetDirectoryListing("nosuch.bin"));
    EXPECT_EQ("", ftp->GetLastErrorMessage());
    EXPECT_EQ(0, ftp->Directory().Count());  // a fresh, empty list
}

TEST_F(Session, SimpleGetFileOverwrites) {
    const std::string local = scratchFolder() + "VORK.ini";
    writeFile(local, std::string(4000, 'x'));
    EXPECT_TRUE(ftp->SimpleFTPGetFile(local, "VORK.ini"));
    EXPECT_TRUE(sameBytes(readFile(servedFile("VORK.ini")), readFile(local)));
    EXPECT_TRUE(ftp->SimpleFTPGetFile(scratchFolder() + "issue one.bin", "Has Blank/issue one.bin"));
    EXPECT_FALSE(ftp->SimpleFTPGetFile(scratchFolder() + "nosuch.srv", "nosuch.srv"));
}

TEST_F(Session, ActiveModeWorksToo) {
    ftp->SetModeActive();
    EXPECT_EQ(0u, ftp->connectionFlags());
    ASSERT_TRUE(ftp->OpenConnection());
    EXPECT_EQ(510, ftp->GetFTPFileSize("/pub/sizes/s510.bin"));
    const std::string local = scratchFolder() + "s255.bin";
    EXPECT_TRUE(ftp->SimpleFTPGetFile(local, "/pub/sizes/s255.bin"));
    EXPECT_TRUE(sameBytes(readFile(servedFile("sizes/s255.bin")), readFile(local)));
}
