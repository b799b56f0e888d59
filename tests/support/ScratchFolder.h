// A fresh folder under the temporary folder (or under parent, e.g. "C:\\"
// for one outside the user's profile), removed with everything in it when
// the test ends.
#pragma once
#include <shellapi.h>
#include <windows.h>

#include <string>

class ScratchFolder {
public:
    explicit ScratchFolder(std::string parent = {}) {
        if (parent.empty()) {
            char temp[MAX_PATH];
            GetTempPathA(MAX_PATH, temp);
            parent = temp;
        }
        static unsigned serial = 0;
        m_path = parent + "quillora-" + std::to_string(GetCurrentProcessId()) + "-" +
                 std::to_string(GetTickCount()) + "-" + std::to_string(++serial);
        CreateDirectoryA(m_path.c_str(), nullptr);
    }
    ~ScratchFolder() {
        std::string from = m_path;
        from.push_back('\0');  // the list ends with two NULs
        SHFILEOPSTRUCTA op{};
        op.wFunc = FO_DELETE;
        op.pFrom = from.c_str();
        op.fFlags = FOF_NO_UI;
        SHFileOperationA(&op);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};
