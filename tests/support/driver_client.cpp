#include "support/driver_client.h"

#include <algorithm>

#include "text/Text.h"

namespace fs = std::filesystem;

namespace testsupport {

namespace {
constexpr DWORD driverWaitMs = 120000;
constexpr DWORD pumpEveryMs = 10;
}

fs::path testsDir() {
    char self[MAX_PATH * 2] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    return fs::path(self).parent_path();
}

fs::path buildDir() {
    return testsDir().parent_path();
}

std::string quoted(const fs::path& p) {
    std::string s(1, '"');
    s.append(Text::utf8(p.wstring())).push_back('"');
    return s;
}

ChildProcess::ChildProcess(std::string commandLine, HANDLE hStdout) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (hStdout) {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = hStdout;
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    std::wstring line = Text::wide(commandLine);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, hStdout != nullptr, 0, nullptr, nullptr, &si, &pi_))
        pi_ = {};
}

ChildProcess::~ChildProcess() {
    if (!pi_.hProcess)
        return;
    if (!ended())
        TerminateProcess(pi_.hProcess, 1);
    CloseHandle(pi_.hProcess);
    CloseHandle(pi_.hThread);
}

bool ChildProcess::ended(DWORD dwWaitMs) const {
    return pi_.hProcess && WaitForSingleObject(pi_.hProcess, dwWaitMs) == WAIT_OBJECT_0;
}

DWORD ChildProcess::exitCode() const {
    DWORD code = STILL_ACTIVE;
    if (pi_.hProcess)
        GetExitCodeProcess(pi_.hProcess, &code);
    return code;
}

DriverResult runDriver(const std::string& args, bool bPumpMessages) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    DriverResult r{~0u, {}};
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0))
        return r;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    {
        ChildProcess p(quoted(buildDir() / "driver.exe") + " " + args, writeEnd);
        CloseHandle(writeEnd);
        char buf[4096];
        DWORD n = 0, available = 0;
        const ULONGLONG deadline = GetTickCount64() + driverWaitMs;
        while (bPumpMessages && p.started() && !p.ended(pumpEveryMs) && GetTickCount64() < deadline) {
            MSG m;
            while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
            if (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available &&
                ReadFile(readEnd, buf, std::min<DWORD>(available, sizeof buf), &n, nullptr))
                r.out.append(buf, n);
        }
        while (p.started() && ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n) r.out.append(buf, n);
        if (p.ended(driverWaitMs))
            r.rc = p.exitCode();
    }
    CloseHandle(readEnd);
    while (!r.out.empty() && (r.out.back() == '\n' || r.out.back() == '\r')) r.out.pop_back();
    return r;
}

}  // namespace testsupport
