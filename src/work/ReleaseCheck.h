// Whether a release fetched into data\tmp may be offered: its statement is
// signed with the publisher's key, names the version the server announces,
// that version is above ours, and the program is the very build the
// statement describes.
#pragma once
#include <string>

namespace SelfUpdate {

// The signed statement beside tolv.exe, on the server and in data\tmp.
inline constexpr const char* statementFileName = "tolv.exe.sig";

enum class Release {
    Newer,     // signed, for sVersion, and newer than ours: fetch the program
    NotNewer,  // signed, but for another version or not above ours: nothing to offer
    Refused,   // not signed by the publisher, or not a statement at all
};

Release judgeStatement(const std::string& sStatementPath, const std::string& sVersion);

// True when sProgramPath holds exactly the build the statement describes and
// it is a whole program of our kind.
bool isVerifiedRelease(const std::string& sProgramPath, const std::string& sStatementPath);

}  // namespace SelfUpdate
