#include "FtpTestServer.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "base/ModCommon.h"
#include "ftp/modFTP.h"
#include "work/Work.h"

namespace ftptest {

static std::string testDir() {
    const char* dir = std::getenv("TOLV_FTP_TEST_DIR");
    return dir ? dir : "";
}

static std::string toWindows(std::string sUnix) {
    for (char& c : sUnix)
        if (c == '/')
            c = '\\';
    return "Z:" + sUnix;
}

uint16_t serverPort() {
    std::ifstream f(toWindows(testDir() + "/port"));
    int port = 0;
    f >> port;
    return static_cast<uint16_t>(port);
}

bool isPublisher() {
    const char* kind = std::getenv("TOLV_FTP_TEST_SERVER");
    return kind && std::string(kind) == "publisher";
}

std::string servedFile(const std::string& sPubPath) { return toWindows(testDir() + "/root/pub/" + sPubPath); }

std::string readFile(const std::string& sPath) {
    std::ifstream f(sPath, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

testing::AssertionResult sameBytes(const std::string& sExpected, const std::string& sActual) {
    if (sExpected == sActual)
        return testing::AssertionSuccess();
    size_t i = 0;
    while (i < sExpected.size() && i < sActual.size() && sExpected[i] == sActual[i])
        ++i;
    return testing::AssertionFailure() << "expected " << sExpected.size() << " bytes, got " << sActual.size()
                                       << "; first difference at byte " << i;
}

void writeFile(const std::string& sPath, const std::string& sData) {
    std::ofstream f(sPath, std::ios::binary | std::ios::trunc);
    f << sData;
}

bool fileExists(const std::string& sPath) { return GetFileAttributesA(sPath.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string scratchFolder() {
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string dir = std::string(tmp) + "tolv-ftp-" + std::to_string(GetCurrentProcessId()) + "-" +
                      info->test_suite_name() + "." + info->name() + "\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

void useTestServer(const std::string& sPassword) {
    modFTP::ftpHost = "127.0.0.1";
    modFTP::ftpPort = serverPort();
    modFTP::ftpUser = "anonymous";
    modFTP::ftpPassword = sPassword;
}

std::unique_ptr<cFTP> openSession() {
    useTestServer();
    auto ftp = std::make_unique<cFTP>();
    ftp->setObserver(&Work::transferObserver());
    ftp->SetModePassive();
    ftp->SetTransferBinary();
    EXPECT_TRUE(ftp->OpenConnection()) << ftp->GetLastErrorMessage();
    EXPECT_TRUE(ftp->SetFTPDirectory("/pub/")) << ftp->GetLastErrorMessage();
    return ftp;
}

static void (*pendingFn)() = nullptr;
static void CALLBACK onTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (auto fn = pendingFn) {
        pendingFn = nullptr;
        fn();
    }
}

void after(UINT ms, void (*fn)()) {
    pendingFn = fn;
    SetTimer(nullptr, 0, ms, onTimer);
}

}  // namespace ftptest
