// Temporary definitions until the pieces they stand for are merged.
#include "ftp/modFTP.h"
#include "catalogue/Check.h"

void connectToServer() {}
void showNoConnection() {}
#include "catalogue/Announce.h"
#include "tray/frmtray.h"
void checkNewIssues(bool) {}
void cFTPDeleter::operator()(cFTP*) const {}
void frmtray::systemUpdate() {}
bool frmtray::autoSystemUpdate() { return false; }
#include "app/ModCommon.h"
#include "ftp/Delivery.h"
void deliverIssue(const std::string&) {}
void connectToServer();
