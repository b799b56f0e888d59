// Logon start, as the user set it, and first-run detection, under
// HKEY_CURRENT_USER: what one user's copy leaves in the registry is that
// user's alone.
#include "app/StartUp.h"

#include "base/ModCommon.h"
#include "dialog/frmmess.h"
#include "settings/LogonStart.h"
#include "settings/UserSettings.h"
#include "settings/cRegistry.h"
#include "tray/frmtray.h"
#include "work/Work.h"

namespace StartUp {

using namespace ModCommon;

namespace {
constexpr char kSettingsKey[] = "SOFTWARE\\Orvane\\TOLV\\Settings\\";

cRegistry registryAt(HKEY hRoot, const char* sSection, const std::string& sValue = "") {
    cRegistry reg;
    reg.setClassKey(hRoot);
    reg.setSectionKey(sSection);
    reg.setValueKey(sValue);
    reg.setValueType(REG_SZ);
    return reg;
}

bool writeText(HKEY hRoot, const char* sSection, const std::string& sValue, const RegValue& vData) {
    try {
        registryAt(hRoot, sSection, sValue).setValue(vData);
        return true;
    } catch (const RegistryError&) {
        return false;
    }
}

bool keyExists(HKEY hRoot, const char* sSection) {
    try {
        return registryAt(hRoot, sSection).KeyExists();
    } catch (const RegistryError&) {
        return false;
    }
}

}  // namespace

// Every step ignores its own failure. A first-run mark under the machine's
// key, from an earlier build, still counts.
void checkFirstRun() {
    LogonStart::apply(UserSettings::startWithWindows());

    frmtray& tray = frmtray::instance();
    if (keyExists(HKEY_LOCAL_MACHINE, kSettingsKey) || keyExists(HKEY_CURRENT_USER, kSettingsKey)) {
        Work::isFirstRun = false;
        tray.enableTimer(frmtray::startTmr, true);
        return;
    }
    showMessageDialog("Welcome to Quillora.\n\nWould you like to read the Help file?", "", "Read Help",
                      "Continue");
    writeText(HKEY_CURRENT_USER, kSettingsKey, "fRun", int32_t{1});
    Work::isFirstRun = true;
    tray.enableTimer(frmtray::startTmr, false);
}

}  // namespace StartUp
