// Logon start and first-run detection, both under HKEY_LOCAL_MACHINE.
#include "app/ModCommon.h"
#include "dialog/frmmess.h"
#include "settings/cRegistry.h"
#include "tray/frmtray.h"

namespace ModCommon {

namespace {
constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kSettingsKey[] = "SOFTWARE\\Orvane\\TOLV\\Settings\\";
}  // namespace

// Every step ignores its own failure: without write access to the machine's
// registry every start is a first run, and nothing else changes.
void checkFirstRun() {
    cRegistry reg;
    reg.setClassKey(HKEY_LOCAL_MACHINE);
    try {
        reg.setSectionKey(kRunKey);
        reg.setValueKey(exeBaseName());
        reg.setValueType(REG_SZ);
        // Quoted: unquoted, a folder with blanks would start "C:\Program.exe".
        std::string command(1, '"');
        reg.setValue(command.append(programFolder()).append("\\").append(exeBaseName()).append("\""));
    } catch (const RegistryError&) {
    }

    reg.setSectionKey(kSettingsKey);
    bool known = false;
    try {
        known = reg.KeyExists();
    } catch (const RegistryError&) {
    }

    frmtray& tray = frmtray::instance();
    if (known) {
        isFirstRun = false;
        tray.enableTimer(frmtray::startTmr, true);
        return;
    }
    showMessageDialog("Welcome to Quillora.\n\nWould you like to read the Help file?", "", "Read Help", "Continue");
    try {
        reg.setValueKey("fRun");
        reg.setValueType(REG_SZ);
        reg.setValue(int32_t{1});
    } catch (const RegistryError&) {
    }
    isFirstRun = true;
    tray.enableTimer(frmtray::startTmr, false);
}

}  // namespace ModCommon
