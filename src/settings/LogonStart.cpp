#include "settings/LogonStart.h"

#include <string>

#include "base/ModCommon.h"
#include "settings/cRegistry.h"

namespace LogonStart {

namespace {

constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

cRegistry runValue(HKEY hRoot, const std::string& sName) {
    cRegistry reg;
    reg.setClassKey(hRoot);
    reg.setSectionKey(kRunKey);
    reg.setValueKey(sName);
    reg.setValueType(REG_SZ);
    return reg;
}

// Removes the value where it starts this very copy; another's stays.
void removeIfItStarts(HKEY hRoot, const std::string& sName, const std::string& sCommand) {
    cRegistry reg = runValue(hRoot, sName);
    const RegValue v = reg.Value();
    const auto* text = std::get_if<std::string>(&v);
    if (!text || *text != sCommand)
        return;
    try {
        reg.DeleteValue();
    } catch (const RegistryError&) {
    }
}

}  // namespace

// The logon start is the user's own: a value in the machine's Run key would
// start this user's copy for every account on the computer, and its folder is
// one that only this user may be trusted to keep. The machine's value is left
// to whatever put it there, unless it names this very copy (an earlier start
// of it wrote it there): that one would start it twice at logon.
void apply(bool bOn) {
    const std::string name = ModCommon::exeBaseName();
    // Quoted: unquoted, a folder with blanks would start "C:\\Program.exe".
    const std::string command = "\"" + ModCommon::programFolder() + "\\" + name + "\"";
    if (bOn) {
        try {
            runValue(HKEY_CURRENT_USER, name).setValue(command);
        } catch (const RegistryError&) {
        }
    } else {
        removeIfItStarts(HKEY_CURRENT_USER, name, command);
    }
    removeIfItStarts(HKEY_LOCAL_MACHINE, name, command);
}

}  // namespace LogonStart
