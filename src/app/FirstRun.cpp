// Logon start and first-run detection: under HKEY_LOCAL_MACHINE, or under
// HKEY_CURRENT_USER for a user who may not write the machine's registry.
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

// The system starts what either Run key names, so the same program is
// entered under one of them only: twice would start it twice at logon.
void registerLogonStart() {
    const std::string name = exeBaseName();
    // Quoted: unquoted, a folder with blanks would start "C:\\Program.exe".
    const std::string command = "\"" + programFolder() + "\\" + name + "\"";
    if (writeText(HKEY_LOCAL_MACHINE, kRunKey, name, command)) {
        if (readText(HKEY_CURRENT_USER, kRunKey, name) == command) {
            try {
                registryAt(HKEY_CURRENT_USER, kRunKey, name).DeleteValue();
            } catch (const RegistryError&) {
            }
        }
        return;
    }
    if (readText(HKEY_LOCAL_MACHINE, kRunKey, name) != command)
        writeText(HKEY_CURRENT_USER, kRunKey, name, command);
}

}  // namespace

// Every step ignores its own failure; where the machine's registry cannot be
// written, the user's own takes the same values.
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
    if (!writeText(HKEY_LOCAL_MACHINE, kSettingsKey, "fRun", int32_t{1}))
        writeText(HKEY_CURRENT_USER, kSettingsKey, "fRun", int32_t{1});
    Work::isFirstRun = true;
    tray.enableTimer(frmtray::startTmr, false);
}

}  // namespace StartUp
