// Temporary definitions until the self-update is merged.
#include "tray/frmtray.h"

void frmtray::systemUpdate() {}
bool frmtray::autoSystemUpdate() { return false; }
