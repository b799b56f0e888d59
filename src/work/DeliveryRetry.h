// What keeps a delivery going on a real network: the session checked before
// each issue, room on the disk first, and another try after a drop or a
// stall that goes on where the file on disk ends.
#pragma once
#include <windows.h>

#include <array>
#include <cstdint>
#include <cstdint>
#include <string>

namespace deliveryRetry {

// The waits before the second, third and fourth try. Each is stretched or
// shrunk by up to a quarter at random, so that clients dropped together do
// not come back together. Tests shorten them.
inline std::array<DWORD, 3> waitsMs{2000, 8000, 30000};
// How often a delivery looks for the server again while the network comes
// back after a wake, or while it is away.
inline DWORD wakePollMs = 2000;
// How long a delivery waits, spending no try, for a server it cannot reach
// at all (the network went away); afterwards each try counts again.
inline DWORD networkWaitMs = 600000;
// Free space an issue must leave on the disk beyond its own size.
constexpr int64_t diskMargin = 16LL * 1024 * 1024;

// NOOP on the session, and a new connection when the server has closed it.
bool ensureSession();
// True when the disk that holds sFolder (or its nearest existing parent)
// has llBytes free, or cannot say.
bool roomFor(const std::string& sFolder, int64_t llBytes);
std::string noRoomText(const std::string& sTitle);
// Downloads sRemote into sLocal, trying again after a transient fault; on a
// failure with a message of its own, sFailure gets it.
bool downloadWithRetries(const std::string& sRemote, const std::string& sLocal, uint32_t id,
                         const std::string& sTitle, std::string& sFailure);

}  // namespace deliveryRetry
