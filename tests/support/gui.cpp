#include "gui.h"

#include <shellapi.h>

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

void removeTree(const std::string& path) {
    std::string from = path;
    from.push_back('\0');
    SHFILEOPSTRUCTA op{};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationA(&op);
}

}  // namespace

void runLater(int ms, std::function<void()> fn) {
    UINT_PTR id = SetTimer(nullptr, 0, ms, fireLater);
    pending()[id] = std::move(fn);
}

ScratchProgramFolder::ScratchProgramFolder() : previous_(ModCommon::programFolder()) {
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    static int serial = 0;
    path_ = std::string(tmp) + "quillora-test-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++serial);
    removeTree(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
    ModCommon::setProgramFolder(path_);
}

ScratchProgramFolder::~ScratchProgramFolder() {
    ModCommon::setProgramFolder(previous_);
    removeTree(path_);
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
