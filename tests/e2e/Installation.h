// What an installed tolv leaves in the machine's registry, for end-to-end
// tests that start the real program: forgotten before and after each test.
#pragma once
#include <windows.h>

#include <string>

namespace e2e {

inline constexpr char kTolvKey[] = "SOFTWARE\\Orvane\\TOLV";
inline constexpr char kSettingsKey[] = "SOFTWARE\\Orvane\\TOLV\\Settings";
inline constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Removes the settings key and tolv's logon starts: the next start is a first run.
inline void forgetInstallation() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTolvKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kTolvKey);
    HKEY run;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        if (RegOpenKeyExA(root, kRunKey, 0, KEY_SET_VALUE, &run) == ERROR_SUCCESS) {
            RegDeleteValueA(run, "tolv");
            RegCloseKey(run);
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

// Creates the settings key: the next start is not a first run.
inline bool rememberInstallation() {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

}  // namespace e2e
