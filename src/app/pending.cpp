// Temporary definitions until the pieces they stand for are merged.
#include "catalogue/Check.h"
#include "ftp/Delivery.h"
#include "ftp/modFTP.h"
#include "tray/frmtray.h"

void connectToServer() {}
void showNoConnection() {}
void checkNewIssues(bool) {}
void deliverIssue(const std::string&) {}
void cFTPDeleter::operator()(cFTP*) const {}
bool frmtray::autoSystemUpdate() { return false; }
void frmtray::systemUpdate() {}
