#include "frmupdate.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <type_traits>

#include "release/SignedRelease.h"
#include "text/Text.h"

namespace {

constexpr char className[] = "frmupdate";
constexpr DWORD pollMs = 200;

struct HandleCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using AutoHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

AutoHandle openFile(const std::string& sPath, DWORD dwAccess, DWORD dwShare) {
    HANDLE h = CreateFileW(Text::wide(sPath).c_str(), dwAccess, dwShare, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return AutoHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// The folder that holds update.exe, without a trailing "\". Paths are UTF-8
// here and go wide at every call: a folder outside the code page works too.
std::string programFolder() {
    wchar_t path[MAX_PATH * 2] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::string s = Text::utf8(std::wstring_view(path, n));
    return s.substr(0, s.find_last_of("\\/"));
}

bool fileExists(const std::string& sPath) {
    DWORD a = GetFileAttributesW(Text::wide(sPath).c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// The old program stops right after starting us and its file stays in use
// until its process has gone; an exclusive open only succeeds after that.
bool waitUntilFree(const std::string& sPath, DWORD dwTimeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + dwTimeoutMs;
    for (;;) {
        if (openFile(sPath, GENERIC_READ | GENERIC_WRITE, 0))
            return true;
        if (GetLastError() == ERROR_FILE_NOT_FOUND)
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(pollMs);
    }
}

}  // namespace

DWORD frmupdate::targetWait() {
    char text[16] = {};
    const DWORD n = GetEnvironmentVariableA("TOLV_TARGET_WAIT_MS", text, sizeof text);
    const unsigned long asked = n > 0 && n < sizeof text ? std::strtoul(text, nullptr, 10) : targetWaitMs;
    return static_cast<DWORD>(std::min<unsigned long>(asked, targetWaitMs));
}

namespace {

// Writes beside the target first and swaps it in with one rename, so a
// write that fails or is cut short leaves the old program whole.
bool replaceFile(const std::string& sBytes, const std::string& sTarget) {
    const std::string staged = sTarget + ".new";
    bool written = false;
    {
        HANDLE h = CreateFileW(Text::wide(staged).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        AutoHandle out(h == INVALID_HANDLE_VALUE ? nullptr : h);
        DWORD n = 0;
        written = out &&
                  WriteFile(out.get(), sBytes.data(), static_cast<DWORD>(sBytes.size()), &n, nullptr) &&
                  n == sBytes.size() && FlushFileBuffers(out.get());
    }
    if (!written || !MoveFileExW(Text::wide(staged).c_str(), Text::wide(sTarget).c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(Text::wide(staged).c_str());
        return false;
    }
    return true;
}

// The version in a program's version resource, as "1.2.3.4"; "" when it has none.
std::string fileVersion(const std::string& sPath) {
    const std::wstring path = Text::wide(sPath);
    DWORD ignored = 0;
    std::string block(GetFileVersionInfoSizeW(path.c_str(), &ignored), '\0');
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    if (block.empty() || !GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &len) || len < sizeof *info)
        return "";
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS)) +
           "." + std::to_string(HIWORD(info->dwFileVersionLS)) + "." + std::to_string(LOWORD(info->dwFileVersionLS));
}

// The new program is read once, through a handle that lets nobody write to
// it meanwhile: the bytes whose signature was checked are the bytes written.
bool installVerified(const std::string& sNew, const std::string& sTarget) {
    SignedRelease::Statement statement;
    if (!SignedRelease::readStatement(sNew + SignedRelease::statementSuffix, statement))
        return false;
    // An older or the same signed release must not replace the program: a
    // program without a version resource (none of ours) is taken as older.
    const std::string installed = fileVersion(sTarget);
    if (!installed.empty() && SignedRelease::compareVersions(statement.version, installed) <= 0)
        return false;
    AutoHandle source = openFile(sNew, GENERIC_READ, FILE_SHARE_READ);
    std::string bytes;
    return source && SignedRelease::readDescribedBytes(source.get(), statement, bytes) &&
           replaceFile(bytes, sTarget);
}

// Runs a command line in a normal window without waiting for it.
void runCommand(const std::string& sCommandLine) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION pi{};
    std::wstring line = Text::wide(sCommandLine);  // CreateProcessW may write into it
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
}

HFONT createTahoma() {
    HDC dc = GetDC(nullptr);
    const int height = -MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(nullptr, dc);
    return CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Tahoma");
}

}  // namespace

void frmupdate::load(HINSTANCE hInstance) {
    frmupdate form(hInstance);
    form.Form_Load();
}

frmupdate::frmupdate(HINSTANCE hInstance) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = hInstance;
    wc.hIcon = LoadIconA(hInstance, MAKEINTRESOURCEA(1));
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = className;
    RegisterClassA(&wc);

    hwnd_ = CreateWindowExA(0, className, caption, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                            CW_USEDEFAULT, 260, 100, nullptr, nullptr, hInstance, nullptr);
    font_ = createTahoma();
    label1_ = CreateWindowExA(0, "STATIC", label1Text, WS_CHILD | WS_VISIBLE, 16, 16, 220, 20, hwnd_, nullptr,
                              hInstance, nullptr);
    SendMessageA(label1_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
}

frmupdate::~frmupdate() {
    if (hwnd_)
        DestroyWindow(hwnd_);
    if (font_)
        DeleteObject(font_);
}

LRESULT CALLBACK frmupdate::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    return DefWindowProcA(hwnd, msg, wp, lp);
}

// Each step ignores its own failure and the next one runs regardless: the
// user is always left with a program that starts, and told whether it is
// the new one.
void frmupdate::Form_Load() {
    const std::string folder = programFolder();
    const std::string tmpFolder = folder + "\\data\\tmp";
    const std::string newFile = tmpFolder + "\\tolv.exe";
    const std::string statement = newFile + SignedRelease::statementSuffix;
    const std::string target = folder + "\\tolv.exe";

    const bool updated =
        fileExists(newFile) && waitUntilFree(target, targetWait()) && installVerified(newFile, target);
    DeleteFileW(Text::wide(newFile).c_str());
    DeleteFileW(Text::wide(statement).c_str());
    RemoveDirectoryW(Text::wide(tmpFolder).c_str());  // only when empty

    // Started itself, by its full path: rundll32's handler would take the
    // path in the code page, which not every folder's name fits.
    runCommand("\"" + target + "\"");

    if (updated)
        MessageBoxA(nullptr, doneText, "", MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
    else
        MessageBoxA(nullptr, failedText, "", MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
}
