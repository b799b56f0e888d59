// What an installed tolv leaves in the machine's registry, for end-to-end
// tests that start the real program: forgotten before and after each test.
#pragma once
#include <windows.h>

#include <string>

namespace e2e {

inline constexpr char kTolvKey[] = "SOFTWARE\\Orvane\\TOLV";
inline constexpr char kSettingsKey[] = "SOFTWARE\\Orvane\\TOLV\\Settings";
inline constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Removes the settings keys and tolv's logon starts, the user's and those an
// earlier build left in the machine's: the next start is a first run.
inline void forgetInstallation() {
    HKEY run;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        RegDeleteTreeA(root, kTolvKey);
        RegDeleteKeyA(root, kTolvKey);
        if (RegOpenKeyExA(root, kRunKey, 0, KEY_SET_VALUE, &run) == ERROR_SUCCESS) {
            RegDeleteValueA(run, "tolv");
            RegCloseKey(run);
        }
    }
}

// A text value under HKEY_LOCAL_MACHINE (or root), or "<missing>".
inline std::string readMachineText(const char* key, const char* value, HKEY root = HKEY_LOCAL_MACHINE) {
    char data[1024] = {};
    DWORD size = sizeof data;
    if (RegGetValueA(root, key, value, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return "<missing>";
    return data;
}

// Creates the user's settings key: the next start is not a first run.
inline bool rememberInstallation() {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

}  // namespace e2e
