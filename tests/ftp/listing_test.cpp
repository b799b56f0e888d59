// Folder listings as the check uses them, against the real servers: MLSD
// from the sample publisher, NLST and SIZE from vsftpd, and the platform's
// own listing where a server refuses both.
#include <gtest/gtest.h>

#include "FtpTestServer.h"
#include "ftp/ServerListing.h"

using namespace ftptest;

namespace {

constexpr int64_t fiveGiB = 5LL << 30;

// A folder of the served tree for one test, removed afterwards.
class ServedFolder {
public:
    explicit ServedFolder(const std::string& sName) : name_(sName), path_(servedFile(sName)) {
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~ServedFolder() {
        for (const std::string& f : files_) DeleteFileA(f.c_str());
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) RemoveDirectoryA(it->c_str());
        RemoveDirectoryA(path_.c_str());
    }
    const std::string& name() const { return name_; }
    void file(const std::string& sName, const std::string& sData) {
        files_.push_back(path_ + "\\" + sName);
        writeFile(files_.back(), sData);
    }
    // Takes no disk space: the size is set, nothing written.
    void sparse(const std::string& sName, int64_t llSize) {
        files_.push_back(path_ + "\\" + sName);
        AutoHandle h(CreateFileA(files_.back().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER at;
        at.QuadPart = llSize;
        ASSERT_TRUE(h && SetFilePointerEx(h.get(), at, nullptr, FILE_BEGIN) && SetEndOfFile(h.get()));
    }
    void folder(const std::string& sName) {
        folders_.push_back(path_ + "\\" + sName);
        CreateDirectoryA(folders_.back().c_str(), nullptr);
    }

private:
    std::string name_, path_;
    std::vector<std::string> files_, folders_;
};

std::string uniqueName(const char* sStem) {
    return sStem + std::to_string(GetCurrentProcessId());
}

class Listing : public testing::Test {
protected:
    void SetUp() override { ftp = openSession(); }
    std::unique_ptr<cFTP> ftp;
};

}  // namespace

TEST_F(Listing, ExactNamesAndSizesFromOneListingOfTheFolder) {
    ServedFolder mag(uniqueName("Listing Mag "));
    mag.file("Winter Issue_AB_1.pdf", std::string(1234, 'w'));
    mag.file(".Early_AB_2.pdf", "early");
    mag.file("Winter", "a name that a blank-cutting listing would confuse");
    mag.sparse("Big Issue_AB_3.pdf", fiveGiB);
    mag.folder("Folder_AB_4.pdf");

    FolderSizes sizes(*ftp);
    // Announced names are asked together where sizes need asking; the
    // others one by one.
    for (const char* name : {"Winter Issue_AB_1.pdf", "Big Issue_AB_3.pdf", "Folder_AB_4.pdf"})
        sizes.expect(mag.name(), name);
    EXPECT_EQ(1234, sizes.sizeOf(mag.name(), "Winter Issue_AB_1.pdf"));
    EXPECT_EQ(5, sizes.sizeOf(mag.name(), ".Early_AB_2.pdf"));
    EXPECT_EQ(fiveGiB, sizes.sizeOf(mag.name(), "Big Issue_AB_3.pdf"));
    EXPECT_EQ(-1, sizes.sizeOf(mag.name(), "Folder_AB_4.pdf"));
    EXPECT_EQ(-1, sizes.sizeOf(mag.name(), "Winter Issue_AB_9.pdf"));
    // pyftpdlib answers MLSD; vsftpd refuses it and has NLST.
    EXPECT_EQ(isPublisher() ? FolderSizes::Way::Mlsd : FolderSizes::Way::Nlst, sizes.wayOf(mag.name()));
    // The platform's session is untouched by the listings.
    EXPECT_EQ(510, ftp->GetFTPFileSize("sizes/s510.bin"));
}

TEST_F(Listing, EmptyAndMissingFoldersHoldNoFilesAndFailuresStayMinusTwo) {
    ServedFolder empty(uniqueName("Listing Empty "));
    FolderSizes sizes(*ftp);
    EXPECT_EQ(-1, sizes.sizeOf(empty.name(), "Any_AB_1.pdf"));
    EXPECT_EQ(-1, sizes.sizeOf("No Such Magazine", "Any_AB_1.pdf"));
    EXPECT_NE(FolderSizes::Way::Platform, sizes.wayOf("No Such Magazine"));
    EXPECT_EQ(1000, sizes.sizeOf("Has Blank", "issue one.bin"));

    ftp->CloseConnection();
    FolderSizes offline(*ftp);
    EXPECT_EQ(-2, offline.sizeOf("sizes", "s1.bin"));
}

TEST_F(Listing, RefusedListingsFallBackToThePlatformListing) {
    if (!isPublisher())
        GTEST_SKIP() << "needs the publisher's refusal switch";
    FolderSizes sizes(*ftp);
    EXPECT_EQ(100, sizes.sizeOf("refused", "plain.bin"));
    EXPECT_EQ(200, sizes.sizeOf("refused", "with blank.bin"));
    EXPECT_EQ(-1, sizes.sizeOf("refused", "nosuch.bin"));
    EXPECT_EQ(FolderSizes::Way::Platform, sizes.wayOf("refused"));
    // A bare "213" to SIZE is no answer: the size comes the next way.
    FolderSizes bare(*ftp);
    bare.expect("bare213", "plain.bin");
    EXPECT_EQ(100, bare.sizeOf("bare213", "plain.bin"));
    EXPECT_EQ(FolderSizes::Way::Nlst, bare.wayOf("bare213"));
}

// The server restarts part-way through a folder's listing (ours, then the
// platform's) with no reply: no file past the cut is taken for missing.
TEST_F(Listing, AListingCutShortIsNotTaken) {
    if (!isPublisher())
        GTEST_SKIP() << "needs the publisher's restart switch";
    ServedFolder mag(uniqueName("Cut Listing "));
    for (char c = 'a'; c <= 'z'; ++c) mag.file(std::string(1, c) + ".pdf", "pdf");
    FolderSizes sizes(*ftp);
    for (char c = 'a'; c <= 'z'; ++c) {
        const int64_t size = sizes.sizeOf(mag.name(), std::string(1, c) + ".pdf");
        EXPECT_TRUE(size == 3 || size == -2) << c << ": " << size;
    }
}
