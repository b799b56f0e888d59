// The Windows half of tools/bench-check: lays out magazine folders full of
// issues in the publisher's tree, then times the check for new issues against
// the same records asked for one by one.
//   bench-check.exe PORT PUB-FOLDER RECORDS MAGAZINES [blank]
#include <windows.h>

// GCC 12 misreads "text" + std::to_string(n) as an overlapping copy.
#pragma GCC diagnostic ignored "-Wrestrict"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/ModCommon.h"
#include "app/Work.h"
#include "catalogue/Catalogue.h"
#include "catalogue/Check.h"
#include "ftp/cFTP.h"
#include "ftp/modFTP.h"
#include "tray/frmtray.h"

using namespace ModCommon;
using Clock = std::chrono::steady_clock;

static double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

static void writeFile(const std::string& path, const std::string& text) {
    fileSystem.DeleteFile(path);
    fileSystem.Append(path, text);
}

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: bench-check PORT PUB-FOLDER RECORDS MAGAZINES [blank]\n");
        return 2;
    }
    const std::string port = argv[1], pub = argv[2];
    const int records = std::atoi(argv[3]), magazines = std::atoi(argv[4]);
    const bool blanks = argc > 5 && std::string(argv[5]) == "blank";

    std::string catalogue, mags = "[MAGS]\r\n";
    std::vector<std::string> remotePaths;
    for (int m = 0; m < magazines; ++m) {
        const std::string name = "Magazine " + std::to_string(m);
        mags += "M" + std::to_string(m) + "=" + name + "\r\n";
        fileSystem.CreateFolder(pub + "\\" + name);
    }
    for (int r = 0; r < records; ++r) {
        const int m = r % magazines;
        std::string record = blanks ? "Issue number " : "Issue";
        record.append(std::to_string(r)).append("_M").append(std::to_string(m)).append("_");
        record.append(std::to_string(r)).append(".f#");
        catalogue += record + ";";
        remotePaths.push_back("Magazine " + std::to_string(m) + "/" + typedFileName(record, "pdf"));
        writeFile(pub + "\\Magazine " + std::to_string(m) + "\\" + typedFileName(record, "pdf"), "%PDF-1.4\n");
    }
    writeFile(pub + "\\em_lst.srv", catalogue);
    writeFile(pub + "\\VORK.ini", mags + "[CONFIG]\r\nver=1.0\r\n");

    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "quillora-bench-" + std::to_string(GetCurrentProcessId());
    fileSystem.CreateFolder(folder);
    setProgramFolder(folder);
    createLibraryFolders();
    SetEnvironmentVariableA("TOLV_SERVER", ("127.0.0.1:" + port).c_str());

    auto t = Clock::now();
    checkNewIssues(false);
    const double check = secondsSince(t);
    const int listed = newIssueCount;

    // The per-record way: one size query per new record.
    cFTP& ftp = *Work::session();
    int found = 0;
    t = Clock::now();
    for (const std::string& remote : remotePaths)
        if (ftp.GetFTPFileSize(remote) >= 0)
            ++found;
    const double perRecord = secondsSince(t);

    std::printf("records %d magazines %d titles-with-blanks %s\n", records, magazines, blanks ? "yes" : "no");
    std::printf("check %.3f s (%d listed)\n", check, listed);
    std::printf("per-record %.3f s (%d found)\n", perRecord, found);
    std::printf("ratio %.1fx\n", perRecord / check);
    return listed == records && found == records ? 0 : 1;
}
