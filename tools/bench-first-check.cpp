// Times the first check of a large catalogue against an empty local one,
// without the server: the comparison that makes the list of new records, and
// the filling of the issue list with them (without the size queries, which
// depend on the server).
//   bench-first-check.exe [RECORDS] [MAGAZINES]    (under Wine, on a display)
#include <windows.h>
#include <commctrl.h>

// GCC 12 misreads "text" + std::to_string(n) as an overlapping copy.
#pragma GCC diagnostic ignored "-Wrestrict"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/ModCommon.h"
#include "app/StartUp.h"
#include "catalogue/Catalogue.h"
#include "work/Check.h"
#include "library/frmmain.h"

using namespace ModCommon;
using namespace StartUp;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// The list as it was built before: trimmed after every record.
std::string quadraticList(const std::vector<std::string>& records, const KnownRecords& known) {
    std::string result;
    for (const std::string& record : records)
        if (!known.isKnown(record))
            result = trim(result + record + ";");
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int magazines = argc > 2 ? std::atoi(argv[2]) : 10;
    static const char* const titles[] = {"Winter Issue", "Spring Issue", "Summer Issue", "Autumn Issue"};

    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "quillora-bench-" + std::to_string(GetCurrentProcessId());
    fileSystem.CreateFolder(folder);
    setProgramFolder(folder);
    createLibraryFolders();
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);

    std::string catalogue, mags = "[MAGS]\r\n";
    for (int m = 0; m < magazines; ++m)
        mags += "M" + std::to_string(m) + "=Magazine " + std::to_string(m) + "\r\n";
    for (int r = 0; r < records; ++r) {
        catalogue += titles[r % 4];
        catalogue += "_M" + std::to_string(r % magazines) + "_" + std::to_string(r / magazines + 1) + ".f#;";
    }
    // Wine reuses process ids: a folder left by an interrupted run must not add its records.
    for (const char* name : {Catalogue::kServerCatalogue, Catalogue::kSettingsFile, Catalogue::kLocalCatalogue})
        fileSystem.DeleteFile(dataPath + name);
    fileSystem.Append(dataPath + Catalogue::kServerCatalogue, catalogue);
    fileSystem.Append(dataPath + Catalogue::kSettingsFile, mags + "[CONFIG]\r\nver=1.0\r\n");

    // What fetchNewRecords does once the copies are in: read, split, compare, list.
    auto t = Clock::now();
    const std::vector<std::string> pieces =
        splitServerCatalogue(readTextFile(dataPath + Catalogue::kServerCatalogue));
    const KnownRecords known(readLocalCatalogue());
    int32_t count = 0;
    const std::string list = listNewRecords(pieces, known, count);
    const double compare = secondsSince(t);

    // What checkNewIssues does with the new records, but the size queries.
    frmmain& w = frmmain::instance();
    ShowWindow(w.lv, SW_HIDE);
    t = Clock::now();
    const int32_t listed =
        listNewIssues(list, [](const std::string&, const std::string&) { return int64_t{12345}; });
    ShowWindow(w.lv, SW_SHOW);
    const double fill = secondsSince(t);

    // The former way of building the list, on a tenth of the records.
    const std::vector<std::string> tenth(pieces.begin(),
                                         pieces.begin() + static_cast<ptrdiff_t>(pieces.size() / 10));
    t = Clock::now();
    const size_t oldLength = quadraticList(tenth, known).size();
    const double quadratic = secondsSince(t);

    std::printf("catalogue: %d records, %zu bytes, %d magazines; local catalogue empty\n", records,
                catalogue.size(), magazines);
    std::printf("read, split, compare and list the new records: %.3f s (%d new, list %zu bytes)\n", compare,
                count, list.size());
    std::printf("fill the issue list (magazine names, entries, sort, ticks): %.3f s (%d entries)\n", fill,
                listed);
    std::printf("together: %.3f s\n", compare + fill);
    std::printf("the former list building, on %zu records: %.3f s (%zu bytes)\n", tenth.size(), quadratic,
                oldLength);

    frmmain::unload();
    for (const char* name :
         {Catalogue::kServerCatalogue, Catalogue::kSettingsFile, Catalogue::kLocalCatalogue})
        fileSystem.DeleteFile(dataPath + name);
    for (const char* sub : {"data", "My Magazines", "My Torrents"})
        fileSystem.DeleteFolder(folder + "\\" + sub);
    fileSystem.DeleteFolder(folder);
    return count == records && listed == records ? 0 : 1;
}
