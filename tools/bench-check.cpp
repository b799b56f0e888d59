// The Windows half of tools/bench-check: lays out magazine folders full of
// issues in the publisher's tree, then times the check for new issues against
// the same records asked for one by one (a sample of them, where asking for
// all would take more than a minute).
//   bench-check.exe PORT PUB-FOLDER RECORDS MAGAZINES [blank]
// With "wire", one check in the program folder given, for tools/bench-check
// --wire, which reads what went over the wire in the server's log:
//   bench-check.exe wire PORT PROGRAM-FOLDER
#include <windows.h>

// GCC 12 misreads "text" + std::to_string(n) as an overlapping copy.
#pragma GCC diagnostic ignored "-Wrestrict"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/ModCommon.h"
#include "app/StartUp.h"
#include "work/Work.h"
#include "catalogue/Catalogue.h"
#include "work/Check.h"
#include "ftp/ServerListing.h"
#include "ftp/cFTP.h"
#include "ftp/modFTP.h"
#include "tray/frmtray.h"

using namespace ModCommon;
using namespace StartUp;
using Clock = std::chrono::steady_clock;

constexpr double perRecordBudgetSeconds = 60;
constexpr int checkRounds = 3;

static double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

static void writeFile(const std::string& path, const std::string& text) {
    fileSystem.DeleteFile(path);
    fileSystem.Append(path, text);
}

// One check as the program makes it; the listed count goes to stdout.
static int checkOnce(const std::string& port, const std::string& folder) {
    setProgramFolder(folder);
    createLibraryFolders();
    SetEnvironmentVariableA("TOLV_SERVER", ("127.0.0.1:" + port).c_str());
    checkNewIssues(false);
    while (Work::busy()) {
        doEvents();
        Sleep(5);
    }
    std::printf("listed %d\n", Work::newIssueCount.load());
    return Work::isConnected ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "wire")
        return checkOnce(argv[2], argv[3]);
    if (argc < 5) {
        std::fprintf(stderr, "usage: bench-check PORT PUB-FOLDER RECORDS MAGAZINES [blank]\n");
        return 2;
    }
    const std::string port = argv[1], pub = argv[2];
    const int records = std::atoi(argv[3]), magazines = std::atoi(argv[4]);
    const bool blanks = argc > 5 && std::string(argv[5]) == "blank";

    std::string catalogue, mags = "[MAGS]\r\n";
    std::vector<std::string> remotePaths;
    std::vector<std::pair<std::string, std::string>> folderFiles;
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
        folderFiles.emplace_back("Magazine " + std::to_string(m), typedFileName(record, "pdf"));
        writeFile(pub + "\\Magazine " + std::to_string(m) + "\\" + typedFileName(record, "pdf"),
                  "%PDF-1.4\n");
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

    // Best of three: the records stay new, and the machine may be busy.
    double check = 1e9;
    auto t = Clock::now();
    for (int round = 0; round < checkRounds; ++round) {
        t = Clock::now();
        checkNewIssues(false);
        check = std::min(check, secondsSince(t));
    }
    const int listed = Work::newIssueCount;

    // The listings alone, without the rest of the check (catalogue copies,
    // the issue list).
    cFTP& ftp = *Work::session();
    t = Clock::now();
    int sized = 0;
    {
        FolderSizes sizes(ftp);
        for (const auto& [folder, file] : folderFiles) sizes.expect(folder, file);
        for (const auto& [folder, file] : folderFiles)
            if (sizes.sizeOf(folder, file) >= 0)
                ++sized;
    }
    const double listings = secondsSince(t);

    // The per-record way: one size query per new record, spread over the
    // magazines; stopped once it is clear that all would take over a minute.
    int found = 0, asked = 0;
    t = Clock::now();
    for (const std::string& remote : remotePaths) {
        if (ftp.GetFTPFileSize(remote) >= 0)
            ++found;
        ++asked;
        const double spent = secondsSince(t);
        if (asked < records && spent / asked * records > perRecordBudgetSeconds && spent > 10)
            break;
    }
    const double spent = secondsSince(t);
    const double perRecord = spent / asked * records;

    std::printf("records %d magazines %d titles-with-blanks %s\n", records, magazines, blanks ? "yes" : "no");
    std::printf("check %.3f s, best of %d (%d listed)\n", check, checkRounds, listed);
    std::printf("listings alone %.3f s (%d sized)\n", listings, sized);
    if (asked < records)
        std::printf("per-record %.1f s estimated: sampled %d of %d records in %.1f s (%d found)\n", perRecord,
                    asked, records, spent, found);
    else
        std::printf("per-record %.3f s (%d found)\n", perRecord, found);
    std::printf("ratio %.1fx\n", perRecord / check);
    return listed == records && found == asked ? 0 : 1;
}
