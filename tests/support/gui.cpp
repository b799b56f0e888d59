#include "gui.h"

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
