// Points the program at the sample publisher the test fixture started, and
// lets a test rewrite the server's catalogue on disk.
#pragma once
#include <windows.h>

#include <fstream>
#include <string>

#include "app/ModCommon.h"

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

}  // namespace heart
