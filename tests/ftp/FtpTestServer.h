// The FTP server a test talks to: started by a CTest fixture (the sample
// publisher, or vsftpd for the compatibility run) that leaves its port and
// its tree in the folder named by TOLV_FTP_TEST_DIR.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>
#include <cstdint>
#include <memory>
#include <string>

#include "ftp/cFTP.h"

namespace ftptest {

uint16_t serverPort();
// True for the sample publisher (fault switches, writable folder).
bool isPublisher();
// A file of the served tree, as a Windows path (the /pub/ tree is local).
std::string servedFile(const std::string& sPubPath);
std::string readFile(const std::string& sPath);
// Equal contents; on a difference, says where instead of printing both.
testing::AssertionResult sameBytes(const std::string& sExpected, const std::string& sActual);
void writeFile(const std::string& sPath, const std::string& sData);
bool fileExists(const std::string& sPath);
// A fresh empty folder for this test, with a trailing "\".
std::string scratchFolder();
// ftpHost, ftpPort, ftpUser and ftpPassword for the test server.
void useTestServer(const std::string& sPassword = "tester@example.invalid");
// A session connected in passive binary mode, in /pub/.
std::unique_ptr<cFTP> openSession();

// Runs fn on the test's thread once messages are pumped after ms.
void after(UINT ms, void (*fn)());

}  // namespace ftptest
