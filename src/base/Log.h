// data\quillora.log: one line for each check, copy, listing, delivery, retry,
// update step and failure, so that a user, or the publisher's support, can
// see why one went wrong. Each line holds the local time, what happened, the
// server's last reply and the platform's error code where there was one:
//
//   2026-12-09 14:03:07 copy of em_lst.srv failed | reply: 550 No such file. | error 12003
//
// The file never grows past maxBytes: the line that would pass it starts a
// new file, and the full one becomes quillora.1.log, replacing an older one.
// Lines are UTF-8 and written from any thread; the file stays readable
// while the program runs. No secret reaches it: see hide().
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

namespace Log {

inline constexpr char fileName[] = "quillora.log";
inline constexpr char olderFileName[] = "quillora.1.log";
// Tests shorten it.
inline int64_t maxBytes = 1 << 20;

// In the data folder; "" before start-up has set that.
std::string path();
std::string olderPath();

// A text that no line may show, such as the server login's password:
// wherever it would appear, "***" stands.
void hide(const std::string& sSecret);

// Writes one line. sReply: the server's reply (its last line is kept); dwError:
// the platform's error code, 0 for none. A line that cannot be written is lost:
// the log never stops what it describes.
void line(const std::string& sWhat, const std::string& sReply = "", DWORD dwError = 0);

}  // namespace Log
