// The Windows half of tools/bench-transfer: downloads one file from the
// publisher on loopback and prints the best of three times each, through
// cFTP::FTPDownloadFile on the engine thread, its progress shown by the
// windows, and once through a bare WinINet loop of 64 KiB reads. With
// "sha256", FTPDownloadFile hashes the bytes as they arrive, as a delivery
// of a signed issue does; with "delivery-only" the bare loop is left out, so
// that a timing of the whole process is the deliveries' alone.
//   bench-transfer.exe PORT REMOTE LOCAL_FOLDER [sha256] [delivery-only]
#include <windows.h>
#include <wininet.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/Handles.h"
#include "base/ModCommon.h"
#include "dialog/frmmess.h"
#include "ftp/cFTP.h"
#include "ftp/modFTP.h"
#include "library/frmmain.h"
#include "tray/frmtray.h"
#include "work/SignedIssues.h"
#include "work/Work.h"

constexpr int rounds = 3;

static double seconds(LARGE_INTEGER a, LARGE_INTEGER b) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
}

static int64_t fileSize(const std::string& sPath) {
    WIN32_FILE_ATTRIBUTE_DATA fa{};
    if (!GetFileAttributesExA(sPath.c_str(), GetFileExInfoStandard, &fa))
        return -1;
    return (int64_t(fa.nFileSizeHigh) << 32) | fa.nFileSizeLow;
}

static bool bareDownload(const std::string& sRemote, const std::string& sLocal) {
    AutoHinternet hNet(InternetOpenA("TOLV", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    AutoHinternet hConn(InternetConnectA(hNet.get(), modFTP::ftpHost.c_str(), modFTP::ftpPort,
                                         "anonymous", "bench@example.invalid", INTERNET_SERVICE_FTP,
                                         INTERNET_FLAG_PASSIVE, 0));
    if (!hConn || !FtpSetCurrentDirectoryA(hConn.get(), "/pub/"))
        return false;
    AutoHinternet hFile(FtpOpenFileA(hConn.get(), sRemote.c_str(), GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0));
    AutoHandle hLocal(CreateFileA(sLocal.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (!hFile || !hLocal)
        return false;
    std::vector<char> buf(64 * 1024);
    for (;;) {
        DWORD n = 0, w = 0;
        if (!InternetReadFile(hFile.get(), buf.data(), DWORD(buf.size()), &n))
            return false;
        if (n == 0)
            return true;
        WriteFile(hLocal.get(), buf.data(), n, &w, nullptr);
    }
}

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench-transfer.exe PORT REMOTE LOCAL_FOLDER [sha256] [delivery-only]\n");
        return 2;
    }
    modFTP::ftpHost = "127.0.0.1";
    modFTP::ftpPort = static_cast<uint16_t>(std::atoi(argv[1]));
    modFTP::ftpUser = "anonymous";
    modFTP::ftpPassword = "bench@example.invalid";
    const std::string remote = argv[2], folder = argv[3];
    bool hashed = false, bare = true;
    for (int i = 4; i < argc; ++i) {
        hashed = hashed || std::string(argv[i]) == "sha256";
        bare = bare && std::string(argv[i]) != "delivery-only";
    }

    // The progress display as a delivery shows it: the library window with
    // its progress bar, the message dialog with its bar and label, the tray icon.
    frmtray::instance();
    frmmain::instance().open();
    showMessageDialog("Delivering...", "Pause", "", "Cancel");
    frmmess::instance().showProgress(true);

    LARGE_INTEGER t0, t1, t2, t3;
    cFTP ftp;
    SignedIssues::StreamHash hasher;  // as a delivery hashes a signed issue
    std::string digest;
    int64_t hashedBytes = 0;
    ftp.setObserver(&Work::transferObserver());
    if (hashed)
        ftp.setReceiver(&hasher);
    ftp.SetModePassive();
    ftp.SetTransferBinary();
    if (!ftp.OpenConnection() || !ftp.SetFTPDirectory("/pub/")) {
        std::fprintf(stderr, "cannot connect: %s\n", ftp.GetLastErrorMessage().c_str());
        return 1;
    }
    const std::string local1 = folder + "\\block.bin", local2 = folder + "\\bare.bin";
    // Alternating rounds, best of each: the first transfer of a run also
    // warms the server's file cache.
    double best1 = 1e9, best2 = 1e9;
    for (int round = 0; round < rounds; ++round) {
        QueryPerformanceCounter(&t2);
        const bool ok2 = !bare || bareDownload(remote, local2);
        QueryPerformanceCounter(&t3);
        // As a delivery runs it: on the engine, its progress shown by this
        // thread's windows as the reports arrive.
        bool ok1 = false;
        QueryPerformanceCounter(&t0);
        Work::start(Work::Job::Delivery, [&] {
            ok1 = ftp.FTPDownloadFile(local1, remote);
            if (hashed)  // a delivery waits for the hash before it places the issue
                ok1 = !(digest = hasher.finishHex(hashedBytes)).empty() && ok1;
        });
        while (Work::busy()) {
            MSG msg;
            if (!GetMessageA(&msg, nullptr, 0, 0))
                break;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        QueryPerformanceCounter(&t1);
        if (!ok1 || !ok2 || (bare && fileSize(local1) != fileSize(local2))) {
            std::fprintf(stderr, "download failed: FTPDownloadFile %d, bare loop %d\n", ok1, ok2);
            return 1;
        }
        best1 = std::min(best1, seconds(t0, t1));
        best2 = std::min(best2, seconds(t2, t3));
    }
    std::printf("bytes %lld\nftpdownloadfile %.3f\n", (long long)fileSize(local1), best1);
    if (bare)
        std::printf("bare %.3f\n", best2);
    if (hashed)
        std::printf("sha256 %s\nhashed %lld\n", digest.c_str(), static_cast<long long>(hashedBytes));
    DeleteFileA(local1.c_str());
    DeleteFileA(local2.c_str());
    return 0;
}
