// The Windows half of tools/bench-resume: delivers one issue from the server
// that TOLV_SERVER names through the delivery run, as "Deliver" does.
//   bench-resume.exe PROGRAM_FOLDER
#include <windows.h>

#include <cstdio>

#include "base/ModCommon.h"
#include "app/StartUp.h"
#include "dialog/frmmess.h"
#include "library/frmmain.h"
#include "tray/frmtray.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench-resume.exe PROGRAM_FOLDER\n");
        return 2;
    }
    ModCommon::setProgramFolder(argv[1]);
    StartUp::createLibraryFolders();
    frmtray::instance();
    frmmain& w = frmmain::instance();
    w.addIssueEntry("bench", "Bench Issue", "90", "Alpine Boating", "", "Bench Issue_AB_90.f#");
    w.setLstTick();
    w.deliverAll();
    std::printf("dialog: %s\n", frmmess::exists() ? frmmess::instance().message().c_str() : "");
    return w.issueCount() == 0 ? 0 : 1;
}
