// The file-system service: existence tests, folder creation, whole-file text
// and copies, straight over the platform's wide file functions. Paths and
// listed names are UTF-8; file contents are bytes and never converted.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class FileSystem {
public:
    bool FileExists(const std::string& sPath) const;
    bool FolderExists(const std::string& sPath) const;
    // One level; the parent must exist. False when it could not be made.
    bool CreateFolder(const std::string& sPath) const;
    // An empty file; an existing one is emptied when bOverwrite.
    bool CreateTextFile(const std::string& sPath, bool bOverwrite) const;
    // A file can be created in the folder (it exists and this user may write there).
    bool CanCreateFiles(const std::string& sFolder) const;
    bool CopyFile(const std::string& sFrom, const std::string& sTo, bool bOverwrite) const;
    bool DeleteFile(const std::string& sPath) const;
    bool DeleteFolder(const std::string& sPath) const;
    bool MoveFile(const std::string& sFrom, const std::string& sTo, bool bReplace) const;
    // The whole file into sText (binary, NULs kept). False when it cannot be read.
    bool ReadAll(const std::string& sPath, std::string& sText) const;
    // Appends the bytes at the end of the file, creating it when missing, and
    // flushes them to the disk.
    bool Append(const std::string& sPath, const std::string& sText) const;
    // Writes the file's cached data to the disk, so that a power cut cannot
    // leave a renamed or recorded file without its contents.
    bool Flush(const std::string& sPath) const;
    // Names (not paths) of the folders / files directly inside sFolder, as listed.
    std::vector<std::string> SubFolders(const std::string& sFolder) const;
    std::vector<std::string> Files(const std::string& sFolder) const;
    // Creation time in UTC; false when the file does not exist.
    // The file's size in bytes; -1 when there is no such file or it cannot be asked.
    int64_t FileSize(const std::string& sPath) const;
    bool CreationTime(const std::string& sPath, FILETIME& ft) const;
};
