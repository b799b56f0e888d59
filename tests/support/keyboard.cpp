#include "keyboard.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

#include "app/StartUp.h"

namespace {

constexpr char kTestsKey[] = "Software\\Quillora tests";
constexpr char kClassesKey[] = "Software\\Quillora tests\\Classes";

// Keys of the extended block: their scan codes come with a prefix.
bool isExtended(WORD vk) {
    switch (vk) {
        case VK_LEFT: case VK_RIGHT: case VK_UP: case VK_DOWN:
        case VK_HOME: case VK_END: case VK_PRIOR: case VK_NEXT:
        case VK_INSERT: case VK_DELETE: case VK_APPS: case VK_RCONTROL: case VK_RMENU:
            return true;
        default:
            return false;
    }
}

INPUT keyInput(WORD vk, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (isExtended(vk) ? KEYEVENTF_EXTENDEDKEY : 0);
    return in;
}

MouseWatch*& activeWatch() {
    static MouseWatch* watch = nullptr;
    return watch;
}

bool isMouseMessage(UINT msg) {
    return (msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST) || (msg >= WM_NCMOUSEMOVE && msg <= WM_NCXBUTTONDBLCLK);
}

BOOL CALLBACK findMenu(HWND h, LPARAM found) {
    char cls[16] = {};
    GetClassNameA(h, cls, sizeof cls);
    if (IsWindowVisible(h) && std::string(cls) == "#32768" &&
        GetWindowThreadProcessId(h, nullptr) == GetCurrentThreadId()) {
        *reinterpret_cast<HWND*>(found) = h;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

bool pressKeys(std::initializer_list<WORD> keys) {
    std::vector<INPUT> in;
    for (WORD vk : keys)
        in.push_back(keyInput(vk, false));
    for (auto it = keys.end(); it != keys.begin();)
        in.push_back(keyInput(*--it, true));
    return SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT)) == in.size();
}

bool loopUntil(const std::function<bool()>& done, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                break;
            }
            StartUp::dispatchMessage(msg);
        }
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        Sleep(5);
    }
}

HWND visibleMenu() {
    HWND found = nullptr;
    EnumWindows(findMenu, reinterpret_cast<LPARAM>(&found));
    return found;
}

MouseWatch::MouseWatch(HWND hNotifyWindow, UINT notifyMessage)
    : notifyWindow_(hNotifyWindow), notifyMessage_(notifyMessage) {
    GetCursorPos(&pointer_);
    activeWatch() = this;
    hook_ = SetWindowsHookExA(WH_GETMESSAGE, onGetMessage, nullptr, GetCurrentThreadId());
}

MouseWatch::~MouseWatch() {
    UnhookWindowsHookEx(hook_);
    activeWatch() = nullptr;
}

bool MouseWatch::pointerMoved() const {
    POINT now{};
    GetCursorPos(&now);
    return now.x != pointer_.x || now.y != pointer_.y;
}

void MouseWatch::count(HWND hwnd, UINT msg) {
    if (!isMouseMessage(msg) || (hwnd == notifyWindow_ && msg == notifyMessage_))
        return;
    if (msg == WM_MOUSEMOVE || msg == WM_NCMOUSEMOVE) {
        ++moves;
        return;
    }
    if (buttons++ == 0) {
        char cls[32] = {};
        GetClassNameA(hwnd, cls, sizeof cls);
        char text[96];
        snprintf(text, sizeof text, "message 0x%04X to a window of class %s", msg, cls);
        firstButton = text;
    }
}

LRESULT CALLBACK MouseWatch::onGetMessage(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION && wp == PM_REMOVE && activeWatch()) {
        const MSG* msg = reinterpret_cast<const MSG*>(lp);
        activeWatch()->count(msg->hwnd, msg->message);
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

OpenedFiles::OpenedFiles(const std::string& sExtension, const std::string& sFolder) : folder_(sFolder) {
    CreateDirectoryA(sFolder.c_str(), nullptr);
    const std::string script = sFolder + "\\open.js";
    std::ofstream(script) << "var a = WScript.Arguments;\n"
                             "new ActiveXObject(\"Scripting.FileSystemObject\").CopyFile(a(0), a(1) + \"\\\\\");\n";
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    const std::string type = "Quillora.TestType";
    const std::string command =
        std::string(system) + "\\wscript.exe //B \"" + script + "\" \"%1\" \"" + sFolder + "\"";
    RegCreateKeyExA(HKEY_CURRENT_USER, kClassesKey, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &root_,
                    nullptr);
    for (const auto& [key, value] : {std::pair{sExtension, type}, std::pair{type + "\\shell\\open\\command", command}}) {
        HKEY k = nullptr;
        if (RegCreateKeyExA(root_, key.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &k,
                            nullptr) != ERROR_SUCCESS)
            continue;
        RegSetValueExA(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
        RegCloseKey(k);
    }
    RegOverridePredefKey(HKEY_CLASSES_ROOT, root_);
}

OpenedFiles::~OpenedFiles() {
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    RegCloseKey(root_);
    RegDeleteTreeA(HKEY_CURRENT_USER, kTestsKey);
}

std::string OpenedFiles::content(const std::string& sName) const {
    std::ifstream in(folder_ + "\\" + sName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
