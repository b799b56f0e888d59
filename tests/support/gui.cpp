#include <winsock2.h>
#include "gui.h"

#include <commctrl.h>

#include <map>

namespace {

std::map<UINT_PTR, std::function<void()>>& pending() {
    static std::map<UINT_PTR, std::function<void()>> jobs;
    return jobs;
}

void CALLBACK fireLater(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    auto it = pending().find(id);
    if (it == pending().end())
        return;
    auto fn = std::move(it->second);
    pending().erase(it);
    fn();
}

}  // namespace

void runLater(int ms, std::function<void()> fn) {
    UINT_PTR id = SetTimer(nullptr, 0, ms, fireLater);
    pending()[id] = std::move(fn);
}

PromptRecorder::PromptRecorder(int a) : answer(a) {
    ModCommon::setPromptHook([this](const std::string& text, UINT flags) {
        ++count;
        lastText = text;
        lastFlags = flags;
        return answer;
    });
}

PromptRecorder::~PromptRecorder() { ModCommon::setPromptHook(nullptr); }

void pressButton(HWND hButton) { PostMessageA(hButton, BM_CLICK, 0, 0); }

void pressCloseBox(HWND hWindow) { PostMessageA(hWindow, WM_SYSCOMMAND, SC_CLOSE, 0); }

void clickToolbarButton(HWND hToolbar, int index) {
    RECT r{};
    SendMessageA(hToolbar, TB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r));
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    PostMessageA(hToolbar, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(hToolbar, WM_LBUTTONUP, 0, at);
}

void chooseMenuItem(HWND hOwner, HMENU hMenu, const std::string& sCaption) {
    for (int i = 0, n = GetMenuItemCount(hMenu); i < n; ++i) {
        char text[128] = {};
        GetMenuStringA(hMenu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        if (sCaption == text)
            PostMessageA(hOwner, WM_COMMAND, GetMenuItemID(hMenu, i), 0);
    }
}

SilentServer::SilentServer() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof at;
    if (s != INVALID_SOCKET && bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 && listen(s, 8) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&at), &len) == 0)
        port_ = ntohs(at.sin_port);
    socket_ = s;
}

SilentServer::~SilentServer() {
    if (socket_ != INVALID_SOCKET)
        closesocket(static_cast<SOCKET>(socket_));
    WSACleanup();
}

std::string SilentServer::address() const { return "127.0.0.1:" + std::to_string(port_); }
