#include "base/Log.h"

#include <cstdio>
#include <mutex>
#include <vector>

#include "base/Handles.h"
#include "base/ModCommon.h"
#include "text/Text.h"

namespace Log {

namespace {

// A reply of a few hundred characters says all a reader needs.
constexpr size_t replyLimit = 300;

std::mutex& lock() {
    static std::mutex m;
    return m;
}

std::vector<std::string>& secrets() {
    static std::vector<std::string> texts;
    return texts;
}

std::string localTime() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    char text[24];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond);
    return text;
}

// Server bytes and names become text, and a line break in them cannot
// start a line of its own.
std::string flat(const std::string& sBytes) {
    std::string text = Text::decode(sBytes);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20)
            c = ' ';
    return ModCommon::trim(text);
}

// A multi-line reply ends with the line that carries its code and outcome.
std::string lastLine(const std::string& sReply) {
    const size_t end = sReply.find_last_not_of(" \r\n");
    if (end == std::string::npos)
        return "";
    const size_t before = sReply.find_last_of("\r\n", end);
    const size_t start = before == std::string::npos ? 0 : before + 1;
    std::string text = flat(sReply.substr(start, end + 1 - start));
    if (text.size() > replyLimit)
        text.resize(replyLimit);
    return text;
}

void hideSecrets(std::string& sLine) {
    for (const std::string& secret : secrets())
        for (size_t at; (at = sLine.find(secret)) != std::string::npos;)
            sLine.replace(at, secret.size(), "***");
}

HANDLE openForAppend(const std::string& sPath) {
    // Others may read it, and the user's editor may keep it open meanwhile.
    return CreateFileW(Text::wide(sPath).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::string path() {
    return ModCommon::dataPath.empty() ? "" : ModCommon::dataPath + fileName;
}
std::string olderPath() {
    return ModCommon::dataPath.empty() ? "" : ModCommon::dataPath + olderFileName;
}

void hide(const std::string& sSecret) {
    std::lock_guard<std::mutex> guard(lock());
    if (sSecret.empty())
        return;
    for (const std::string& known : secrets())
        if (known == sSecret)
            return;
    secrets().push_back(sSecret);
}

void line(const std::string& sWhat, const std::string& sReply, DWORD dwError) {
    std::string text = localTime() + " " + flat(sWhat);
    const std::string reply = lastLine(sReply);
    if (!reply.empty())
        text += " | reply: " + reply;
    if (dwError != 0)
        text += " | error " + std::to_string(dwError);
    text += "\r\n";
    std::lock_guard<std::mutex> guard(lock());
    hideSecrets(text);
    const std::string file = path();
    if (file.empty())
        return;
    AutoHandle h(openForAppend(file));
    LARGE_INTEGER size{};
    if (h && GetFileSizeEx(h.get(), &size) && size.QuadPart > 0 &&
        size.QuadPart + static_cast<int64_t>(text.size()) > maxBytes) {
        h.reset();
        // When another program holds the file so that it cannot move, the
        // line still goes on its end.
        MoveFileExW(Text::wide(file).c_str(), Text::wide(olderPath()).c_str(), MOVEFILE_REPLACE_EXISTING);
        h.reset(openForAppend(file));
    }
    DWORD written = 0;
    if (h)
        WriteFile(h.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace Log
