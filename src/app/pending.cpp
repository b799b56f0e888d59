// Temporary definitions until the pieces they stand for are merged.
#include "ftp/modFTP.h"
#include "catalogue/Check.h"
#include "library/frmmain.h"

void connectToServer() {}
void showNoConnection() {}
frmmain& frmmain::instance() { static frmmain* p = nullptr; return *p; }
bool frmmain::exists() { return false; }
void frmmain::mnuOnHelp_Click() {}
bool frmmain::deliverAll() { return false; }
void frmmain::removeMag() {}
bool frmmain::visible() const { return false; }
void frmmain::unload() {}
void frmmain::setStatusPanel(int16_t, const std::string&) {}
#include "catalogue/Announce.h"
#include "tray/frmtray.h"
void balloonNewIssues(int32_t, bool) {}
void announceNewIssues(int32_t) {}
void checkNewIssues(bool) {}
void cFTPDeleter::operator()(cFTP*) const {}
void frmtray::systemUpdate() {}
bool frmtray::autoSystemUpdate() { return false; }
#include "app/ModCommon.h"
void ModCommon::checkFirstRun() {}
void frmmain::open() {}
