// Stands in for tolv.exe in the updater's tests: notes in "started.txt" next
// to itself that it ran and how big its file is (which tells the old program
// from the new one), then stays running for the milliseconds given, if any,
// keeping its file in use as a real program does.
#include <windows.h>

#include <cstdlib>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
    char self[MAX_PATH * 2] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string folder(self);
    folder.erase(folder.find_last_of('\\') + 1);

    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExA(self, GetFileExInfoStandard, &data);
    const std::string line = std::to_string(data.nFileSizeLow) + "\r\n";

    HANDLE log =
        CreateFileA((folder + "started.txt").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(log);
    }
    if (const DWORD lingerMs = strtoul(lpCmdLine, nullptr, 10))
        Sleep(lingerMs);
    return 0;
}
