#include "work/ReleaseCheck.h"

#include "base/Handles.h"
#include "base/ModCommon.h"
#include "release/SignedRelease.h"
#include "text/Text.h"
#include "work/SelfUpdate.h"

namespace SelfUpdate {

Release judgeStatement(const std::string& sStatementPath, const std::string& sVersion) {
    SignedRelease::Statement statement;
    if (!SignedRelease::readStatement(sStatementPath, statement))
        return Release::Refused;
    // An older signed build must not come back, nor ours again: the version
    // is part of what was signed, and it must be the one offered.
    if (statement.version != sVersion || SignedRelease::compareVersions(sVersion, ModCommon::programVersion) <= 0)
        return Release::NotNewer;
    return Release::Newer;
}

bool isVerifiedRelease(const std::string& sProgramPath, const std::string& sStatementPath) {
    SignedRelease::Statement statement;
    if (!SignedRelease::readStatement(sStatementPath, statement))
        return false;
    std::string bytes;
    {
        AutoHandle h(CreateFileW(Text::wide(sProgramPath).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h || !SignedRelease::readDescribedBytes(h.get(), statement, bytes))
            return false;
    }
    return isWholeProgram(sProgramPath, statement.size);
}

}  // namespace SelfUpdate
