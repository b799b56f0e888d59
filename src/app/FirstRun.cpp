// Logon start and first-run detection, under HKEY_CURRENT_USER: what one
// user's copy leaves in the registry is that user's alone.
#include "app/StartUp.h"

#include "base/ModCommon.h"
#include "dialog/frmmess.h"
#include "settings/cRegistry.h"
#include "tray/frmtray.h"
#include "work/Work.h"

namespace StartUp {

using namespace ModCommon;

namespace {
constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
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

std::string readText(HKEY hRoot, const char* sSection, const std::string& sValue) {
    cRegistry reg = registryAt(hRoot, sSection, sValue);
    const RegValue v = reg.Value();
    const auto* text = std::get_if<std::string>(&v);
    return text ? *text : std::string();
}

bool keyExists(HKEY hRoot, const char* sSection) {
    try {
        return registryAt(hRoot, sSection).KeyExists();
    } catch (const RegistryError&) {
        return false;
    }
}

// The logon start is the user's own: a value in the machine's Run key would
// start this user's copy for every account on the computer, and its folder is
// one that only this user may be trusted to keep. The machine's value is left
// to whatever put it there, unless it names this very copy (an earlier start
// of it wrote it there): that one would start it twice at logon, and goes
// where the machine's registry lets it.
void registerLogonStart() {
    const std::string name = exeBaseName();
    // Quoted: unquoted, a folder with blanks would start "C:\\Program.exe".
    const std::string command = "\"" + programFolder() + "\\" + name + "\"";
    writeText(HKEY_CURRENT_USER, kRunKey, name, command);
    if (readText(HKEY_LOCAL_MACHINE, kRunKey, name) == command) {
        try {
            registryAt(HKEY_LOCAL_MACHINE, kRunKey, name).DeleteValue();
        } catch (const RegistryError&) {
        }
    }
}

}  // namespace

// Every step ignores its own failure. A first-run mark under the machine's
// key, from an earlier build, still counts.
void checkFirstRun() {
    registerLogonStart();

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
