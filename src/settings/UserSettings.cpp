#include "settings/UserSettings.h"

#include <windows.h>

#include "base/Log.h"
#include "base/ModCommon.h"
#include "text/Text.h"

namespace UserSettings {

namespace {

constexpr wchar_t kSection[] = L"Settings";

// The profile functions write a file they create in the code page; one
// that starts with a UTF-16 mark they keep in UTF-16.
void ensureUnicodeFile(const std::wstring& file) {
    CreateDirectoryW(file.substr(0, file.find_last_of(L'\\')).c_str(), nullptr);  // the data folder, if missing
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;  // there already, or the folder is not ours to write: the write says so
    const wchar_t mark = 0xFEFF;
    DWORD written = 0;
    WriteFile(h, &mark, sizeof mark, &written, nullptr);
    CloseHandle(h);
}

std::string read(const wchar_t* key) {
    wchar_t buffer[MAX_PATH * 4] = {};
    const DWORD n = GetPrivateProfileStringW(kSection, key, L"", buffer, static_cast<DWORD>(std::size(buffer)),
                                             Text::wide(path()).c_str());
    return Text::utf8(std::wstring(buffer, n));
}

bool write(const wchar_t* key, const std::string& sValue) {
    const std::wstring file = Text::wide(path());
    ensureUnicodeFile(file);
    if (WritePrivateProfileStringW(kSection, key, Text::wide(sValue).c_str(), file.c_str()))
        return true;
    Log::line("settings not saved: " + path(), "", GetLastError());
    return false;
}

constexpr const char* kEveryNames[] = {"day", "hours", "request"};

}  // namespace

std::string path() { return ModCommon::programFolder() + "\\data\\quillora.ini"; }

bool startWithWindows() { return read(L"StartWithWindows") != "0"; }
bool setStartWithWindows(bool bOn) { return write(L"StartWithWindows", bOn ? "1" : "0"); }

CheckEvery checkEvery() {
    const std::string value = read(L"CheckEvery");
    for (int i = 0; i < 3; ++i)
        if (value == kEveryNames[i])
            return static_cast<CheckEvery>(i);
    return CheckEvery::Day;
}

bool setCheckEvery(CheckEvery every) { return write(L"CheckEvery", kEveryNames[static_cast<int>(every)]); }

int checkHours() {
    switch (checkEvery()) {
        case CheckEvery::FewHours: return fewHours;
        case CheckEvery::OnRequest: return 0;
        default: return 24;
    }
}

std::string libraryFolder() { return read(L"Library"); }
bool setLibraryFolder(const std::string& sFolder) { return write(L"Library", sFolder); }

cInifile windowPlace(const std::string& sSection) {
    ensureUnicodeFile(Text::wide(path()));
    cInifile ini;
    ini.setPath(path());
    ini.setSection(sSection);
    return ini;
}

}  // namespace UserSettings
