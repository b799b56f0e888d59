// A remote directory listing: entries in the order the server listed them,
// reachable by 1-based position or by file name.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>

struct cDirItem {
    bool ReadOnly = false;
    bool Hidden = false;
    bool System = false;
    bool Directory = false;
    bool Archive = false;
    bool Normal = false;
    bool Temporary = false;
    bool Compressed = false;
    bool Offline = false;
    double CreationTime = 0;  // OLE dates, local time
    double LastAccessTime = 0;
    double LastWriteTime = 0;
    int32_t FileSize = 0;      // low 32 bits of the size, as callers have always read it
    int64_t FileSizeFull = 0;  // the whole size; FileSize turns negative from 2 GiB
    std::string Filename;
};

class cDirList {
public:
    using const_iterator = std::deque<cDirItem>::const_iterator;

    // Throws std::invalid_argument when sFilename is already listed.
    cDirItem& Add(uint32_t lAttrib, double dtCreationTime, double dtLastAccessTime, double dtLastWriteTime,
                  int64_t lFileSize, const std::string& sFilename);
    void Clear();
    // Throw std::out_of_range for a position or name not in the list.
    cDirItem& Item(int32_t Index);
    cDirItem& Item(const std::string& Index);
    int32_t Count() const { return static_cast<int32_t>(items_.size()); }

    // The enumerator: for (const cDirItem& d : list) ...
    const_iterator begin() const { return items_.begin(); }
    const_iterator end() const { return items_.end(); }
    const std::deque<cDirItem>& NewEnum() const { return items_; }

private:
    std::deque<cDirItem> items_;  // a deque keeps references from Add valid
    std::unordered_map<std::string, size_t> byName_;
};
