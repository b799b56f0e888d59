// Points the program at the sample publisher the test fixture started, and
// lets a test rewrite the server's catalogue on disk.
#pragma once
#include <windows.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "base/ModCommon.h"

namespace heart {

// A Unix path as Wine shows it.
inline std::string winePath(const std::string& unixPath) {
    std::string p = "Z:" + unixPath;
    for (char& c : p)
        if (c == '/')
            c = '\\';
    return p;
}

inline std::string serverDir() {
    char buf[1024] = {};
    GetEnvironmentVariableA("TOLV_HEART_SERVER_DIR", buf, sizeof buf);
    return buf;
}

inline std::string pubFolder() { return winePath(serverDir() + "/root/pub"); }

inline void useTheSamplePublisher() {
    std::ifstream in(winePath(serverDir() + "/port"));
    std::string port;
    in >> port;
    SetEnvironmentVariableA("TOLV_SERVER", ("127.0.0.1:" + port).c_str());
}

// A port where nothing listens.
inline void useNoServer() { SetEnvironmentVariableA("TOLV_SERVER", "127.0.0.1:9"); }

inline void writeServerCatalogue(const std::string& text) {
    std::ofstream out(pubFolder() + "\\em_lst.srv", std::ios::binary | std::ios::trunc);
    out << text;
}

// The file's time as the server gives it (MDTM), moved by hours.
inline void shiftServerTime(const std::string& relative, int hours) {
    HANDLE h = CreateFileA((pubFolder() + "\\" + relative).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    FILETIME ft{};
    GetFileTime(h, nullptr, nullptr, &ft);
    ULARGE_INTEGER t{{ft.dwLowDateTime, ft.dwHighDateTime}};
    t.QuadPart += static_cast<long long>(hours) * 36000000000LL;
    ft = {t.LowPart, t.HighPart};
    SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
}

// What the publisher logged from its creation on: the bytes of each RETR of
// a file, and the RESTs.
class ServerLog {
public:
    explicit ServerLog(std::string sDir = serverDir()) : dir_(std::move(sDir)), from_(text().size()) {}
    std::string since() const { return text().substr(from_); }
    int count(const std::string& sText) const {
        const std::string log = since();
        int n = 0;
        for (size_t at = log.find(sText); at != std::string::npos; at = log.find(sText, at + 1)) ++n;
        return n;
    }
    std::vector<long long> retrieved(const std::string& sName) const {
        std::vector<long long> bytes;
        std::istringstream lines(since());
        for (std::string line; std::getline(lines, line);) {
            const size_t at = line.find("/" + sName + " completed=");
            if (line.find(" RETR ") != std::string::npos && at != std::string::npos)
                bytes.push_back(std::stoll(line.substr(line.find("bytes=", at) + 6)));
        }
        return bytes;
    }

private:
    std::string text() const {
        std::ifstream in(winePath(dir_ + "/log"), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string dir_;
    size_t from_;
};

}  // namespace heart
