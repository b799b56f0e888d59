// For tests that work the programs' windows from outside: the build folder's
// programs, child processes, and driver.exe with its printed result.
#pragma once
#include <windows.h>

#include <filesystem>
#include <string>

namespace testsupport {

// The build folder: tolv.exe, update.exe and driver.exe live there.
std::filesystem::path buildDir();
// The folder of the running test program.
std::filesystem::path testsDir();

// A command-line word for a path that may hold blanks. Command lines are UTF-8.
std::string quoted(const std::filesystem::path& p);

// A started program; ended (forcibly if still running) when the object goes.
class ChildProcess {
public:
    explicit ChildProcess(std::string commandLine, HANDLE hStdout = nullptr);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    bool started() const { return pi_.hProcess != nullptr; }
    DWORD pid() const { return pi_.dwProcessId; }
    bool ended(DWORD dwWaitMs = 0) const;
    DWORD exitCode() const;  // STILL_ACTIVE while it runs

private:
    PROCESS_INFORMATION pi_{};
};

struct DriverResult {
    DWORD rc = 0;     // 0 ok, 1 not found or timed out, 2 wrong usage
    std::string out;  // stdout without the trailing line break
};
// Runs driver.exe with the arguments and waits for it; pumping this thread's
// messages meanwhile, when the driver is to ask this thread's own windows.
DriverResult runDriver(const std::string& args, bool bPumpMessages = false);

}  // namespace testsupport
