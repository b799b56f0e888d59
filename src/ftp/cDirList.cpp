#include "ftp/cDirList.h"

#include <windows.h>
#include <stdexcept>

cDirItem& cDirList::Add(uint32_t lAttrib, double dtCreationTime, double dtLastAccessTime, double dtLastWriteTime,
                        int64_t lFileSize, const std::string& sFilename) {
    // FTP servers are case-sensitive, so "a.pdf" and "A.pdf" are two entries.
    if (!byName_.emplace(sFilename, items_.size()).second)
        throw std::invalid_argument("cDirList: duplicate name: " + sFilename);
    cDirItem& d = items_.emplace_back();
    d.ReadOnly = lAttrib & FILE_ATTRIBUTE_READONLY;
    d.Hidden = lAttrib & FILE_ATTRIBUTE_HIDDEN;
    d.System = lAttrib & FILE_ATTRIBUTE_SYSTEM;
    d.Directory = lAttrib & FILE_ATTRIBUTE_DIRECTORY;
    d.Archive = lAttrib & FILE_ATTRIBUTE_ARCHIVE;
    d.Normal = lAttrib & FILE_ATTRIBUTE_NORMAL;
    d.Temporary = lAttrib & FILE_ATTRIBUTE_TEMPORARY;
    d.Compressed = lAttrib & FILE_ATTRIBUTE_COMPRESSED;
    d.Offline = lAttrib & FILE_ATTRIBUTE_OFFLINE;
    d.CreationTime = dtCreationTime;
    d.LastAccessTime = dtLastAccessTime;
    d.LastWriteTime = dtLastWriteTime;
    d.FileSize = static_cast<int32_t>(static_cast<uint32_t>(lFileSize));
    d.FileSizeFull = lFileSize;
    d.Filename = sFilename;
    return d;
}

void cDirList::Clear() {
    items_.clear();
    byName_.clear();
}

cDirItem& cDirList::Item(int32_t Index) {
    if (Index < 1 || Index > Count())
        throw std::out_of_range("cDirList: no entry at position " + std::to_string(Index));
    return items_[Index - 1];
}

cDirItem& cDirList::Item(const std::string& Index) {
    auto it = byName_.find(Index);
    if (it == byName_.end())
        throw std::out_of_range("cDirList: no entry named " + Index);
    return items_[it->second];
}
