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

// The form as designed at 96 DPI: its outer size, frame included, and the
// label's place in it. Every size is scaled to the window's own DPI.
constexpr DWORD formStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr SIZE formSize{260, 100};
constexpr RECT label1Rect{16, 16, 16 + 220, 16 + 20};
constexpr int fontPoints = 8;

int scaled(int designed, UINT dpi) {
    return MulDiv(designed, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
}

// Newer than Windows 7, which the program still runs on: looked up, not linked.
template <typename Function>
Function fromUser32(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), name)));
}

UINT dpiOf(HWND hwnd) {
    static const auto forWindow = fromUser32<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
    if (forWindow)
        return forWindow(hwnd);
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return static_cast<UINT>(dpi);
}

// The frame's size at this DPI; without AdjustWindowRectExForDpi, the one
// frame the system has.
SIZE frameAt(UINT dpi) {
    static const auto forDpi =
        fromUser32<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
    RECT r{};
    if (!forDpi || !forDpi(&r, formStyle, FALSE, 0, dpi))
        AdjustWindowRectEx(&r, formStyle, FALSE, 0);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

// The client area scales, the frame is the system's own at that DPI: at 96
// DPI the form keeps its designed outer size exactly.
SIZE formSizeAt(UINT dpi) {
    const SIZE designedFrame = frameAt(USER_DEFAULT_SCREEN_DPI), frame = frameAt(dpi);
    return SIZE{scaled(formSize.cx - designedFrame.cx, dpi) + frame.cx,
                scaled(formSize.cy - designedFrame.cy, dpi) + frame.cy};
}

HFONT createTahoma(UINT dpi) {
    return CreateFontA(-MulDiv(fontPoints, static_cast<int>(dpi), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                       FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, "Tahoma");
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

    hwnd_ = CreateWindowExA(0, className, caption, formStyle, CW_USEDEFAULT, CW_USEDEFAULT, formSize.cx,
                            formSize.cy, nullptr, nullptr, hInstance, this);
    label1_ = CreateWindowExA(0, "STATIC", label1Text, WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, hwnd_, nullptr,
                              hInstance, nullptr);
    // Its DPI is known once it exists: that of the monitor it was put on.
    dpi_ = dpiOf(hwnd_);
    const SIZE size = formSizeAt(dpi_);
    SetWindowPos(hwnd_, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    layOut();
}

frmupdate::~frmupdate() {
    if (hwnd_)
        DestroyWindow(hwnd_);
}

LRESULT CALLBACK frmupdate::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE)
        SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams));
    auto* form = reinterpret_cast<frmupdate*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg == WM_NCDESTROY)
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    if (form && msg == WM_DPICHANGED)
        return form->Form_DpiChanged(wp, lp);
    return DefWindowProcA(hwnd, msg, wp, lp);
}

// Moved to a monitor of another DPI, or that monitor's scale changed: the
// system suggests the new place and size, and the form lays itself out again.
LRESULT frmupdate::Form_DpiChanged(WPARAM wp, LPARAM lp) {
    dpi_ = LOWORD(wp);
    const RECT& r = *reinterpret_cast<const RECT*>(lp);
    SetWindowPos(hwnd_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    layOut();
    return 0;
}

// The font for the current DPI goes on the label before the old one is deleted.
void frmupdate::layOut() {
    decltype(font_) font(createTahoma(dpi_));
    SendMessageA(label1_, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    font_.swap(font);
    MoveWindow(label1_, scaled(label1Rect.left, dpi_), scaled(label1Rect.top, dpi_),
               scaled(label1Rect.right - label1Rect.left, dpi_),
               scaled(label1Rect.bottom - label1Rect.top, dpi_), TRUE);
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
