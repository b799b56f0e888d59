#include "base/FileSystem.h"

#include <algorithm>

#include "base/Handles.h"
#include "text/Text.h"

namespace {

using Text::wide;

DWORD attributesOf(const std::string& sPath) {
    return GetFileAttributesW(wide(sPath).c_str());
}

template <typename Keep>
std::vector<std::string> listFolder(const std::string& sFolder, Keep keep) {
    std::vector<std::string> names;
    std::string pattern = sFolder;
    if (!pattern.empty() && pattern.back() != '\\')
        pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAW fd;
    AutoFindHandle find(FindFirstFileW(wide(pattern).c_str(), &fd));
    if (!find)
        return names;
    do {
        std::string name = Text::utf8(fd.cFileName);
        if (name == "." || name == "..")
            continue;
        if (keep(fd.dwFileAttributes))
            names.push_back(name);
    } while (FindNextFileW(find.get(), &fd));
    return names;
}

}  // namespace

bool FileSystem::FileExists(const std::string& sPath) const {
    DWORD a = attributesOf(sPath);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileSystem::FolderExists(const std::string& sPath) const {
    DWORD a = attributesOf(sPath);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileSystem::CreateFolder(const std::string& sPath) const {
    return CreateDirectoryW(wide(sPath).c_str(), nullptr) || FolderExists(sPath);
}

bool FileSystem::CreateTextFile(const std::string& sPath, bool bOverwrite) const {
    AutoHandle h(CreateFileW(wide(sPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             bOverwrite ? CREATE_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    return h.valid();
}

bool FileSystem::CanCreateFiles(const std::string& sFolder) const {
    wchar_t probe[MAX_PATH];
    // Creates a file of a free name, as the first write into the folder would.
    if (!GetTempFileNameW(wide(sFolder).c_str(), L"tlv", 0, probe))
        return false;
    ::DeleteFileW(probe);
    return true;
}

bool FileSystem::CopyFile(const std::string& sFrom, const std::string& sTo, bool bOverwrite) const {
    return ::CopyFileW(wide(sFrom).c_str(), wide(sTo).c_str(), !bOverwrite);
}

bool FileSystem::DeleteFile(const std::string& sPath) const {
    return ::DeleteFileW(wide(sPath).c_str());
}

bool FileSystem::DeleteFolder(const std::string& sPath) const {
    return RemoveDirectoryW(wide(sPath).c_str());
}

bool FileSystem::MoveFile(const std::string& sFrom, const std::string& sTo, bool bReplace) const {
    DWORD flags = MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH | (bReplace ? MOVEFILE_REPLACE_EXISTING : 0);
    return MoveFileExW(wide(sFrom).c_str(), wide(sTo).c_str(), flags);
}

bool FileSystem::ReadAll(const std::string& sPath, std::string& sText) const {
    sText.clear();
    AutoHandle h(CreateFileW(wide(sPath).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h)
        return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(h.get(), &size))
        return false;
    sText.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < sText.size()) {
        DWORD got = 0;
        DWORD want = static_cast<DWORD>(std::min<size_t>(sText.size() - done, 1u << 24));
        if (!ReadFile(h.get(), sText.data() + done, want, &got, nullptr))
            return false;
        if (got == 0)
            break;
        done += got;
    }
    sText.resize(done);
    return true;
}

bool FileSystem::Append(const std::string& sPath, const std::string& sText) const {
    AutoHandle h(CreateFileW(wide(sPath).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h)
        return false;
    DWORD written = 0;
    return WriteFile(h.get(), sText.data(), static_cast<DWORD>(sText.size()), &written, nullptr) &&
           written == sText.size() && FlushFileBuffers(h.get());
}

bool FileSystem::Flush(const std::string& sPath) const {
    AutoHandle h(CreateFileW(wide(sPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    return h && FlushFileBuffers(h.get());
}

std::vector<std::string> FileSystem::SubFolders(const std::string& sFolder) const {
    return listFolder(sFolder, [](DWORD a) { return (a & FILE_ATTRIBUTE_DIRECTORY) != 0; });
}

std::vector<std::string> FileSystem::Files(const std::string& sFolder) const {
    return listFolder(sFolder, [](DWORD a) { return (a & FILE_ATTRIBUTE_DIRECTORY) == 0; });
}

int64_t FileSystem::FileSize(const std::string& sPath) const {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide(sPath).c_str(), GetFileExInfoStandard, &data))
        return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

bool FileSystem::CreationTime(const std::string& sPath, FILETIME& ft) const {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide(sPath).c_str(), GetFileExInfoStandard, &data))
        return false;
    ft = data.ftCreationTime;
    return true;
}
