// Server faults, uploads and the server connection: sample publisher only
// (its fault switches and writable folder).
#include <gtest/gtest.h>
#include <winsock2.h>

#include "FtpTestServer.h"
#include "base/ModCommon.h"
#include "work/Work.h"
#include "ftp/modFTP.h"
#include "tray/frmtray.h"
#include "support/gui.h"

#include <atomic>
#include <thread>

using namespace ftptest;

namespace {

// A loopback port nobody listens on.
uint16_t closedPort() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    closesocket(s);
    return ntohs(a.sin_port);
}

class Faults : public testing::Test {
protected:
    void SetUp() override {
        modFTP::transferBusy = Work::deliveryPaused = Work::deliveryCancelled = false;
        dir = scratchFolder();
    }
    void TearDown() override {
        cFTP::timeOutMs = 30000;
        Work::deliveryCancelled = false;
    }
    std::string dir;
};

}  // namespace

TEST_F(Faults, DroppedDataConnectionFails) {
    auto ftp = openSession();
    EXPECT_FALSE(ftp->FTPDownloadFile(dir + "drop.bin", "faults/drop.bin"));
    EXPECT_FALSE(modFTP::transferBusy);
    EXPECT_LT(readFile(dir + "drop.bin").size(), readFile(servedFile("faults/drop.bin")).size());
}

TEST_F(Faults, DataEndingBeforeTheSizeFails) {
    auto ftp = openSession();
    EXPECT_FALSE(ftp->FTPDownloadFile(dir + "short.bin", "faults/short.bin"));
    EXPECT_FALSE(modFTP::transferBusy);
    // Whatever arrived is whole blocks of what was really read.
    const std::string got = readFile(dir + "short.bin");
    EXPECT_LE(got.size(), 100000u);
    EXPECT_TRUE(sameBytes(readFile(servedFile("faults/short.bin")).substr(0, got.size()), got));
}

TEST_F(Faults, StalledServerTimesOut) {
    cFTP::timeOutMs = 3000;
    auto ftp = openSession();
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(ftp->FTPDownloadFile(dir + "stall.bin", "faults/stall.bin"));
    EXPECT_LT(GetTickCount64() - start, 20000u);
    EXPECT_FALSE(modFTP::transferBusy);
}

TEST_F(Faults, StalledWholeFileCopyTimesOut) {
    cFTP::timeOutMs = 3000;
    auto ftp = openSession();
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(ftp->SimpleFTPGetFile(dir + "stall.bin", "faults/stall.bin"));
    EXPECT_LT(GetTickCount64() - start, 20000u);
}

TEST_F(Faults, SlowButMovingCopyIsNotCutOff) {
    cFTP::timeOutMs = 1000;
    auto ftp = openSession();
    EXPECT_TRUE(ftp->SimpleFTPGetFile(dir + "slow.bin", "slow/slow.bin"));  // about 2 s
    EXPECT_TRUE(sameBytes(readFile(servedFile("slow/slow.bin")), readFile(dir + "slow.bin")));
}

// The publisher answers 550 for everything below /pub/denied.
TEST_F(Faults, Answer550IsNoSuchFile) {
    auto ftp = openSession();
    EXPECT_EQ(-1, ftp->GetFTPFileSize("denied/deny.bin"));
    EXPECT_FALSE(ftp->checkServerFile("denied/deny.bin"));
    EXPECT_FALSE(ftp->FTPDownloadFile(dir + "deny.bin", "denied/deny.bin"));
    EXPECT_EQ(nullptr, ftp->GetDirectoryListing("denied/deny.bin"));
}

TEST_F(Faults, RefusedLogin) {
    useTestServer("refuse@example.invalid");
    cFTP ftp;
    ftp.SetModePassive();
    EXPECT_FALSE(ftp.OpenConnection());
    EXPECT_FALSE(ftp.connected());
    EXPECT_NE("", ftp.GetLastErrorMessage());
    EXPECT_FALSE(ftp.SetFTPDirectory("/pub/"));
    EXPECT_FALSE(ftp.FTPDownloadFile(dir + "s1.bin", "sizes/s1.bin"));
}

TEST_F(Faults, UnreachableServer) {
    useTestServer();
    modFTP::ftpPort = closedPort();
    cFTP ftp;
    EXPECT_FALSE(ftp.OpenConnection());
    EXPECT_EQ(0u, ftp.GetLastErrorMessage().rfind("InternetConnect error code: ", 0)) << ftp.GetLastErrorMessage();
    EXPECT_EQ(-2, ftp.GetFTPFileSize("em_lst.srv"));
}

// The server stalls after 100,000 bytes: the read waiting for the next block
// would wait until the session's time-out, but Cancel ends it at once. The
// download runs on a thread of its own, as on the engine; the cancel comes
// from this one, as from the window.
TEST_F(Faults, CancelDuringAStalledReadKeepsOnlyWholeBlocks) {
    auto ftp = openSession();
    struct CancelSignal : TransferObserver {
        std::atomic<bool> asked{false};
        bool cancelAsked() const override { return asked; }
    } cancel;
    ftp->setObserver(&cancel);
    const std::string stalledCopy = dir + "stall.bin";
    DeleteFileA(stalledCopy.c_str());  // an earlier test's copy would look like this one's progress
    std::atomic<ULONGLONG> endedAt{0};
    bool delivered = true;
    std::thread engine([&] {
        delivered = ftp->FTPDownloadFile(stalledCopy, "faults/stall.bin");
        endedAt = GetTickCount64();
    });
    EXPECT_TRUE(pumpUntil([&] { return readFile(stalledCopy).size() >= 100000 / 255 * 255; }, 20000));
    const ULONGLONG cancelledAt = GetTickCount64();
    cancel.asked = true;
    ftp->Abort();
    engine.join();
    EXPECT_FALSE(delivered);
    EXPECT_LT(endedAt - cancelledAt, 5000u);
    EXPECT_EQ(ftp->LastOutcome(), cFTP::Outcome::Cancelled);
    const std::string got = readFile(stalledCopy);
    EXPECT_EQ(100000u / 255 * 255, got.size());
    EXPECT_TRUE(sameBytes(readFile(servedFile("faults/stall.bin")).substr(0, got.size()), got));
    EXPECT_FALSE(modFTP::transferBusy);
}

// Wine lists at most 2,147,483,647 bytes; Windows gives the real size. A
// size never turns negative.
TEST_F(Faults, FilesFromTwoGiBHavePositiveSizes) {
    auto ftp = openSession();
    const int64_t size = ftp->GetFTPFileSize("big/three-gib.bin");
    EXPECT_TRUE(size == (3LL << 30) || size == 2147483647LL) << size;
    cDirList* list = ftp->GetDirectoryListing("big/*");
    ASSERT_NE(nullptr, list);
    EXPECT_EQ(size, list->Item("three-gib.bin").FileSizeFull);
}

TEST(Upload, BlockUploadTrimsNamesAndArrivesWhole) {
    auto ftp = openSession();
    const std::string dir = scratchFolder();
    std::string data;
    for (int i = 0; i < 70000; ++i)
        data += static_cast<char>(i * 13);
    writeFile(dir + "up load.bin", data);
    std::string local = " " + dir + "up load.bin  ", remote = "  incoming/up load.bin ";
    EXPECT_TRUE(ftp->FTPUploadFile(local, remote)) << ftp->GetLastErrorMessage();
    EXPECT_EQ(dir + "up load.bin", local);
    EXPECT_EQ("incoming/up load.bin", remote);
    EXPECT_TRUE(sameBytes(data, readFile(servedFile("incoming/up load.bin"))));
    EXPECT_EQ(70000, ftp->GetFTPFileSize("incoming/up load.bin"));
}

TEST(Upload, SimplePutAndMissingLocalFile) {
    auto ftp = openSession();
    const std::string dir = scratchFolder();
    writeFile(dir + "put.bin", std::string(256, 'p'));
    EXPECT_TRUE(ftp->SimpleFTPPutFile(dir + "put.bin", "incoming/put.bin"));
    EXPECT_TRUE(sameBytes(std::string(256, 'p'), readFile(servedFile("incoming/put.bin"))));
    std::string local = dir + "none.bin", remote = "incoming/none.bin";
    EXPECT_FALSE(ftp->FTPUploadFile(local, remote));
    EXPECT_FALSE(fileExists(servedFile("incoming/none.bin")));
    EXPECT_FALSE(ftp->SimpleFTPPutFile(dir + "put.bin", "no such folder/put.bin"));
}

namespace {
class Connect : public testing::Test {
protected:
    void SetUp() override {
        modFTP::transferBusy = false;
        point("127.0.0.1:" + std::to_string(serverPort()));
    }
    void TearDown() override {
        modFTP::transferBusy = false;
        SetEnvironmentVariableA("TOLV_SERVER", nullptr);
    }
    static void point(const std::string& sServer) { SetEnvironmentVariableA("TOLV_SERVER", sServer.c_str()); }
};
}  // namespace

TEST_F(Connect, ConnectsAnonymouslyIntoPub) {
    Work::connectToServer();
    finishWork();
    frmtray& tray = frmtray::instance();
    ASSERT_TRUE(Work::session());
    EXPECT_TRUE(Work::isConnected);
    EXPECT_EQ("Quillora", tray.toolTip());
    EXPECT_EQ("anonymous", modFTP::ftpUser);
    EXPECT_EQ(TOLV_FTP_PASSWORD, modFTP::ftpPassword);
    EXPECT_EQ(static_cast<DWORD>(INTERNET_FLAG_PASSIVE), Work::session()->connectionFlags());
    EXPECT_EQ(static_cast<DWORD>(FTP_TRANSFER_TYPE_BINARY), Work::session()->transferType());
    EXPECT_EQ("/pub", Work::session()->GetFTPDirectory());
    // Remote paths of the delivery resolve below /pub/.
    EXPECT_GT(Work::session()->GetFTPFileSize("Alpine Boating/Winter Issue_AB_1.pdf"), 0);
}

TEST_F(Connect, EveryCallReplacesTheSession) {
    Work::connectToServer();
    finishWork();
    const cFTP* first = Work::session().get();
    Work::connectToServer();
    finishWork();
    EXPECT_NE(first, Work::session().get());
    EXPECT_TRUE(Work::isConnected);
    EXPECT_EQ("/pub", Work::session()->GetFTPDirectory());
}

TEST_F(Connect, NoServerMeansNotConnected) {
    point("127.0.0.1:" + std::to_string(closedPort()));
    Work::connectToServer();
    finishWork();
    EXPECT_FALSE(Work::isConnected);
    EXPECT_EQ("Quillora (Not connected)", frmtray::instance().toolTip());
    ASSERT_TRUE(Work::session());
    EXPECT_FALSE(Work::session()->connected());
}

TEST_F(Connect, DuringADownloadTheRunningSessionStays) {
    Work::connectToServer();
    finishWork();
    const cFTP* running = Work::session().get();
    {
        BusyEngine delivery(Work::Job::Delivery);
        EXPECT_FALSE(Work::connectToServer());
    }
    // Refused with no side effect: still connected, the same session.
    EXPECT_TRUE(Work::isConnected);
    EXPECT_EQ("Quillora", frmtray::instance().toolTip());
    EXPECT_EQ(running, Work::session().get());
    EXPECT_TRUE(running->connected());
}

TEST_F(Connect, ServerAddressFromTheEnvironment) {
    std::string host;
    uint16_t port = 1;
    point("");
    modFTP::serverAddress(host, port);
    EXPECT_EQ(TOLV_FTP_HOST, host);
    EXPECT_EQ(0, port);
    point("ftp.example.invalid");
    modFTP::serverAddress(host, port);
    EXPECT_EQ("ftp.example.invalid", host);
    EXPECT_EQ(0, port);
    point("127.0.0.1:2121");
    modFTP::serverAddress(host, port);
    EXPECT_EQ("127.0.0.1", host);
    EXPECT_EQ(2121, port);
    point("127.0.0.1:99999");
    modFTP::serverAddress(host, port);
    EXPECT_EQ("127.0.0.1", host);
    EXPECT_EQ(0, port);
}
