#include "base/ModCommon.h"

#include <oleauto.h>
#include <shellapi.h>

#include <cmath>
#include <cstdio>

#include "base/Dpi.h"
#include "text/Text.h"

namespace ModCommon {

namespace {

std::string& folderStore() {
    static std::string folder;
    return folder;
}

PromptHook& promptHook() {
    static PromptHook hook;
    return hook;
}

std::string runningExePath() {
    // Wide: a folder outside the system code page would come back with "?".
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return Text::utf8(path);
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

const std::string& programFolder() {
    std::string& folder = folderStore();
    if (folder.empty()) {
        std::string exe = runningExePath();
        folder = exe.substr(0, exe.find_last_of('\\'));
        dataPath = folder + "\\data\\";
    }
    return folder;
}

namespace {
std::string& libraryStore() {
    static std::string folder;
    return folder;
}
}  // namespace

void setProgramFolder(const std::string& sFolder) {
    folderStore() = sFolder;
    libraryStore().clear();
    dataPath = sFolder + "\\data\\";
}

const std::string& libraryRoot() {
    const std::string& chosen = libraryStore();
    return chosen.empty() ? programFolder() : chosen;
}

void setLibraryRoot(const std::string& sFolder) {
    std::string folder = sFolder;
    while (folder.size() > 2 && (folder.back() == '\\' || folder.back() == '/'))
        folder.pop_back();
    libraryStore() = folder;
}

std::string exeBaseName() {
    std::string exe = runningExePath();
    std::string name = exe.substr(exe.find_last_of('\\') + 1);
    size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

void doEvents() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Leave it for the main loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void setPromptHook(PromptHook hook) { promptHook() = std::move(hook); }

int messageBox(const std::string& sText, UINT uFlags, HWND hOwner) {
    if (promptHook())
        return promptHook()(sText, uFlags);
    return MessageBoxW(hOwner, Text::wide(sText).c_str(), L"", uFlags);
}

// Under Wine the handler is not found when a blank follows the comma; without
// it the command works on Windows and Wine alike, also for paths with blanks.
// rundll32 goes by its full path: a search would start in the program's own
// folder.
std::string shellOpenCommand(const std::string& sTarget) {
    wchar_t system[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryW(system, MAX_PATH);
    std::string command(1, '"');
    command.append(Text::utf8(std::wstring_view(system, n < MAX_PATH ? n : 0)))
        .append("\\rundll32.exe\" url.dll,FileProtocolHandler ");
    return command.append(sTarget);
}

void runCommand(const std::string& sCommandLine) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION pi{};
    std::wstring line = Text::wide(sCommandLine);
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
}

void openDocument(const std::string& sPath, bool bIsFile) {
    bool exists = bIsFile ? fileSystem.FileExists(sPath) : fileSystem.FolderExists(sPath);
    if (!exists) {
        messageBox("Unable to locate " + sPath + ".\n\n Please make sure it exists and try again.",
                   MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    // The wide shell call: rundll32's handler takes its command line in the
    // code page, which not every folder's name fits.
    ShellExecuteW(nullptr, nullptr, Text::wide(sPath).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

double nowAsDate() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    double dt = 0;
    SystemTimeToVariantTime(&st, &dt);
    // SystemTimeToVariantTime drops the milliseconds; whole seconds are all we keep.
    return dt;
}

std::string dateToText(double dt) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_DATE;
    v.date = dt;
    VARIANT s;
    VariantInit(&s);
    std::string text;
    if (SUCCEEDED(VariantChangeTypeEx(&s, &v, LOCALE_USER_DEFAULT, 0, VT_BSTR))) {
        text = Text::utf8(s.bstrVal);
        VariantClear(&s);
    }
    return text;
}

bool textToDate(const std::string& sText, double& dt) {
    std::wstring w = Text::wide(sText);
    DATE d = 0;
    if (FAILED(VarDateFromStr(w.data(), LOCALE_USER_DEFAULT, 0, &d)))
        return false;
    dt = d;
    return true;
}

int twipsToPixelsX(int twips) { return Dpi::fromTwips(twips, Dpi::ofSystem()); }
int twipsToPixelsY(int twips) { return Dpi::fromTwips(twips, Dpi::ofSystem()); }
int pixelsToTwipsX(int pixels) { return Dpi::toTwips(pixels, Dpi::ofSystem()); }
int pixelsToTwipsY(int pixels) { return Dpi::toTwips(pixels, Dpi::ofSystem()); }

std::string trim(const std::string& s) {
    size_t first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    size_t last = s.find_last_not_of(' ');
    return s.substr(first, last - first + 1);
}

std::string toDecimal(long long n) { return std::to_string(n); }

}  // namespace ModCommon
