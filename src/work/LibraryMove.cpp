#include "work/LibraryMove.h"

#include <windows.h>
// after windows.h, whose types it uses
#include <shlwapi.h>

#include <algorithm>
#include <cstring>

#include "base/FileSystem.h"
#include "base/Handles.h"
#include "base/Log.h"
#include "text/Text.h"
#include "work/SignedIssues.h"

namespace LibraryMove {

namespace {

using Text::utf8;
using Text::wide;

// A library holds gigabytes: big blocks keep the calls (each a round trip
// to the server under Wine) few.
constexpr DWORD blockBytes = 1 << 20;
// A progress bar needs a few updates a second, not one per block.
constexpr ULONGLONG progressEveryMs = 100;
// What the copies keep of the originals' attributes; the rest is the file system's.
constexpr DWORD keptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
constexpr wchar_t tempPrefix[] = L"qlm";

// The start of every message of a move that failed.
std::string couldNot(const std::string& sWhy) {
    return "The library could not be moved: " + sWhy;
}

std::string quoted(const std::string& s) {
    return "\"" + s + "\"";
}

// "D:\" + "My Magazines" is "D:\My Magazines", not "D:\\My Magazines".
template <typename S>
S join(const S& folder, const S& name) {
    return folder.empty() || folder.back() == '\\' ? folder + name : folder + S(1, '\\') + name;
}
std::string join(const std::string& folder, const char* name) {
    return join(folder, std::string(name));
}

DWORD attributesOf(const std::string& sPath) {
    return GetFileAttributesW(wide(sPath).c_str());
}
bool isFolder(DWORD a) {
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Read-only files are the user's choice at the old place, and no reason to keep them there.
bool removeFile(const std::string& sPath) {
    const std::wstring path = wide(sPath);
    const DWORD a = GetFileAttributesW(path.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(path.c_str(), a & ~FILE_ATTRIBUTE_READONLY);
    return DeleteFileW(path.c_str());
}

// What went wrong with a file, as the end of a sentence for the user.
std::string because(const std::string& sPath, DWORD dwError, const char* verb) {
    const std::string code = " (error " + std::to_string(dwError) + ").";
    switch (dwError) {
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return quoted(sPath) + " is in use by another program" + code;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return "the drive is full: " + quoted(sPath) + " did not fit" + code;
        default:
            return quoted(sPath) + " could not be " + verb + code;
    }
}

// ---- where the library may go

// Absolute, "\" between names, ".." resolved, no "\" at the end but a
// drive's own; "" for a path that is not absolute.
std::wstring fullPath(const std::string& sPath) {
    const std::wstring path = wide(sPath);
    if (path.empty() || PathIsRelativeW(path.c_str()))
        return L"";
    std::wstring full(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
    full.resize(GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    return full;
}

// sInner is sOuter or lies inside it; names compare as the file system does, whatever their case.
bool within(const std::wstring& sInner, const std::wstring& sOuter) {
    const int n = static_cast<int>(sOuter.size());
    return sInner.size() >= sOuter.size() &&
           CompareStringOrdinal(sInner.c_str(), n, sOuter.c_str(), n, TRUE) == CSTR_EQUAL &&
           (sInner.size() == sOuter.size() || sInner[n] == L'\\' || sOuter.back() == L'\\');
}

bool validName(const std::wstring& sName) {
    if (sName.empty() || sName.back() == L'.' || sName.back() == L' ')
        return false;
    return std::none_of(sName.begin(), sName.end(),
                        [](wchar_t c) { return c < 0x20 || wcschr(L"<>:\"/|?*", c); });
}

// The deepest folder on sPath that exists, the names below it (top first)
// in missing; "" when none does, or a file stands in the way.
std::wstring existingPart(std::wstring sPath, std::vector<std::wstring>& missing) {
    for (;;) {
        const DWORD a = GetFileAttributesW(sPath.c_str());
        if (a != INVALID_FILE_ATTRIBUTES)
            return isFolder(a) ? sPath : L"";
        const size_t cut = sPath.find_last_of(L'\\');
        if (cut == std::wstring::npos || cut + 1 >= sPath.size())
            return L"";
        missing.insert(missing.begin(), sPath.substr(cut + 1));
        sPath.resize(cut <= 2 ? cut + 1 : cut);  // "C:\" keeps its "\"
    }
}

std::string megabytes(uint64_t bytes, bool bUp) {
    constexpr uint64_t mb = 1 << 20;
    return std::to_string(bUp ? (bytes + mb - 1) / mb : bytes / mb) + " MB";
}

std::string refusalFor(const std::string& sFromRoot, const std::string& sToRoot, int64_t llBytes) {
    const std::string cannot = "The library cannot be moved to " + quoted(sToRoot) + ": ";
    const std::wstring from = fullPath(sFromRoot), to = fullPath(sToRoot);
    if (from.empty() || to.empty())
        return cannot + "that is not the full path of a folder.";
    if (within(to, from) && within(from, to))
        return "The library is already in " + quoted(sToRoot) + ".";
    for (const char* folder : folderNames) {
        if (within(to, join(from, wide(folder))))
            return cannot + "that folder is inside the library itself.";
        // The old files would be copied over themselves.
        if (within(from, join(to, wide(folder))))
            return cannot + "the library's present folder lies inside its " + quoted(folder) + ".";
    }
    std::vector<std::wstring> missing;
    const std::wstring existing = existingPart(to, missing);
    if (existing.empty() || !std::all_of(missing.begin(), missing.end(), validName))
        return cannot + "the folder does not exist and cannot be created.";
    wchar_t probe[MAX_PATH];
    // A file of a free name, made and removed again, as the first copy would be.
    if (!GetTempFileNameW(existing.c_str(), tempPrefix, 0, probe))
        return cannot + "Quillora may not write there.";
    DeleteFileW(probe);
    ULARGE_INTEGER free{};
    if (GetDiskFreeSpaceExW(join(existing, std::wstring()).c_str(), &free, nullptr, nullptr) &&
        free.QuadPart < static_cast<uint64_t>(llBytes))
        return cannot + "the library needs " + megabytes(llBytes, true) + " and the drive has " +
               megabytes(free.QuadPart, false) + " free.";
    return "";
}

// ---- what there is to move

struct Entry {
    std::string rel;  // below the library's root: "My Magazines\Title\Issue.pdf"
    int64_t size = 0;
    DWORD attributes = 0;
    FILETIME created{}, written{};
};

struct Listing {
    std::vector<std::string> folders;  // each before what it holds
    std::vector<Entry> files;
    int64_t bytes = 0;
    std::string problem;  // the end of a sentence for the user
    DWORD error = 0;
};

void listFolder(const std::string& sRoot, const std::string& sRel, Listing& out) {
    const std::string folder = join(sRoot, sRel);
    WIN32_FIND_DATAW fd;
    AutoFindHandle find(FindFirstFileW(wide(join(folder, "*")).c_str(), &fd));
    if (!find) {
        out.error = GetLastError();
        out.problem = because(folder, out.error, "read");
        return;
    }
    do {
        const std::string name = utf8(fd.cFileName), rel = join(sRel, name);
        if (name == "." || name == "..")
            continue;
        // Removing the old files through a link would remove them wherever it leads.
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            out.problem = quoted(join(sRoot, rel)) + " is a link to another place.";
            return;
        }
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.folders.push_back(rel);
            listFolder(sRoot, rel, out);
            if (!out.problem.empty())
                return;
            continue;
        }
        const int64_t size =
            static_cast<int64_t>((static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow);
        out.files.push_back({rel, size, fd.dwFileAttributes, fd.ftCreationTime, fd.ftLastWriteTime});
        out.bytes += size;
    } while (FindNextFileW(find.get(), &fd));
    if (GetLastError() != ERROR_NO_MORE_FILES) {
        out.error = GetLastError();
        out.problem = because(folder, out.error, "read");
    }
}

Listing listLibrary(const std::string& sRoot) {
    Listing out;
    for (const char* folder : folderNames) {
        const DWORD a = attributesOf(join(sRoot, folder));
        if (!isFolder(a) || !out.problem.empty())
            continue;
        if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
            out.problem = quoted(join(sRoot, folder)) + " is a link to another place.";
            break;
        }
        out.folders.push_back(folder);
        listFolder(sRoot, folder, out);
    }
    return out;
}

// ---- the move

class Mover {
public:
    Mover(const std::string& sFrom, const std::string& sTo,
          const std::function<void(const Progress&)>& progress, const std::function<bool()>& cancelled)
        : from_(sFrom), to_(sTo), progress_(progress), cancelled_(cancelled), block_(blockBytes) {}

    // Everything copied and checked at the new place; false: failure says why.
    bool copyAll(const Listing& listing);
    // Removes what copyAll made; false when some of it stays.
    bool rollBack();
    // The old files and folders, once the new place is recorded; what stays there.
    std::vector<std::string> removeOld(const Listing& listing);

    // sWhy: the end of a sentence for the user.
    bool fail(const std::string& sWhy, DWORD dwError = 0) {
        failure = sWhy;
        error = dwError;
        return false;
    }
    bool failWith(const std::string& sPath, const char* verb) {
        const DWORD e = GetLastError();
        return fail(because(sPath, e, verb), e);
    }
    void tell(bool bNow);

    Progress done;
    std::string failure;
    DWORD error = 0;
    bool wasCancelled = false;

private:
    bool clash(const Listing& listing);
    bool makeFolder(const std::string& sPath);
    bool place(const Entry& e);
    bool copy(HANDLE in, const Entry& e, const std::string& sSource, const std::string& sTarget);
    bool sameBytes(HANDLE in, const std::string& sSource, const std::string& sTarget);
    bool readBack(const wchar_t* pTemp, const std::string& sTarget, std::string& sDigest, int64_t& llBytes);
    bool stopped() {
        if (!cancelled_ || !cancelled_())
            return false;
        wasCancelled = true;
        return true;
    }

    const std::string from_, to_;
    const std::function<void(const Progress&)>& progress_;
    const std::function<bool()>& cancelled_;
    std::vector<char> block_, other_;
    // Hashes on a thread of its own while the next block is read or written.
    SignedIssues::StreamHash hash_;
    std::vector<std::string> madeFiles_, madeFolders_;  // in the order made
    ULONGLONG told_ = 0;
};

void Mover::tell(bool bNow) {
    const ULONGLONG now = GetTickCount64();
    if (!progress_ || (!bNow && now - told_ < progressEveryMs))
        return;
    told_ = now;
    progress_(done);
}

// What stands at the new place already: a file of another size, or a file
// where a folder goes, fails the move before anything is copied.
bool Mover::clash(const Listing& listing) {
    const FileSystem fs;
    for (const std::string& rel : listing.folders) {
        const std::string target = join(to_, rel);
        const DWORD a = attributesOf(target);
        if (a != INVALID_FILE_ATTRIBUTES && !isFolder(a))
            return fail(quoted(target) + " is already there, and is not a folder.");
    }
    for (const Entry& e : listing.files) {
        const std::string target = join(to_, e.rel);
        if (wide(target).size() >= MAX_PATH)
            return fail("the path " + quoted(target) + " would be too long.");
        const DWORD a = attributesOf(target);
        if (a != INVALID_FILE_ATTRIBUTES && (isFolder(a) || fs.FileSize(target) != e.size))
            return fail(quoted(target) + " is already there, and differs from " + quoted(join(from_, e.rel)) +
                        ".");
    }
    return true;
}

bool Mover::makeFolder(const std::string& sPath) {
    if (CreateDirectoryW(wide(sPath).c_str(), nullptr)) {
        madeFolders_.push_back(sPath);
        return true;
    }
    const DWORD e = GetLastError();
    return isFolder(attributesOf(sPath)) || fail(because(sPath, e, "created"), e);
}

bool Mover::copyAll(const Listing& listing) {
    done.filesTotal = static_cast<int64_t>(listing.files.size());
    done.bytesTotal = listing.bytes;
    tell(true);
    if (!clash(listing))
        return false;
    std::vector<std::wstring> missing;
    std::wstring made = existingPart(wide(to_), missing);
    for (const std::wstring& name : missing)
        if (!makeFolder(utf8(made = join(made, name))))
            return false;
    for (const std::string& rel : listing.folders)
        if (!makeFolder(join(to_, rel)))
            return false;
    for (const Entry& e : listing.files) {
        if (stopped() || !place(e))
            return false;
        ++done.filesDone;
        tell(false);
    }
    if (stopped())
        return false;
    tell(true);
    return true;
}

bool Mover::place(const Entry& e) {
    const std::string source = join(from_, e.rel), target = join(to_, e.rel);
    // Nobody may change the file while it is copied, and a program that
    // holds it (and would keep it from being removed later) fails the move
    // now, while the old library is still whole.
    AutoHandle in(CreateFileW(wide(source).c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in)
        return failWith(source, "opened");
    if (attributesOf(target) != INVALID_FILE_ATTRIBUTES)
        return sameBytes(in.get(), source, target);
    return copy(in.get(), e, source, target);
}

bool Mover::copy(HANDLE in, const Entry& e, const std::string& sSource, const std::string& sTarget) {
    wchar_t temp[MAX_PATH];
    const std::string folder = sTarget.substr(0, sTarget.find_last_of('\\'));
    if (!GetTempFileNameW(wide(folder).c_str(), tempPrefix, 0, temp))
        return failWith(sTarget, "written");
    madeFiles_.push_back(utf8(temp));
    AutoHandle out(
        CreateFileW(temp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!out)
        return failWith(sTarget, "written");
    hash_.restart();
    for (;;) {
        if (stopped())
            return false;
        DWORD got = 0, wrote = 0;
        if (!ReadFile(in, block_.data(), blockBytes, &got, nullptr))
            return failWith(sSource, "read");
        if (got == 0)
            break;
        if (!WriteFile(out.get(), block_.data(), got, &wrote, nullptr))
            return failWith(sTarget, "written");
        if (wrote != got)
            return fail(because(sTarget, ERROR_DISK_FULL, "written"), ERROR_DISK_FULL);
        hash_.add(block_.data(), got);
        done.bytesDone += got;
        tell(false);
    }
    // The library window lists issues by when they arrived.
    SetFileTime(out.get(), &e.created, nullptr, &e.written);
    if (!FlushFileBuffers(out.get()))
        return failWith(sTarget, "written");
    out.reset();
    int64_t readBytes = 0, copiedBytes = 0;
    const std::string read = hash_.finishHex(readBytes);
    std::string copied;
    if (!readBack(temp, sTarget, copied, copiedBytes))
        return false;
    if (read.empty() || copied != read || copiedBytes != readBytes)
        return fail("the copy of " + quoted(sSource) + " did not match the original.");
    if (!MoveFileExW(temp, wide(sTarget).c_str(), MOVEFILE_WRITE_THROUGH))
        return failWith(sTarget, "written");
    madeFiles_.back() = sTarget;
    if (e.attributes & keptAttributes)
        SetFileAttributesW(wide(sTarget).c_str(), e.attributes & keptAttributes);
    return true;
}

// The copy's SHA-256 as the drive gives it back, read under its temporary
// name; messages name it as it will be named.
bool Mover::readBack(const wchar_t* pTemp, const std::string& sTarget, std::string& sDigest,
                     int64_t& llBytes) {
    AutoHandle h(CreateFileW(pTemp, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!h)
        return failWith(sTarget, "read back");
    hash_.restart();
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(h.get(), block_.data(), blockBytes, &got, nullptr))
            return failWith(sTarget, "read back");
        if (got == 0)
            break;
        hash_.add(block_.data(), got);
    }
    sDigest = hash_.finishHex(llBytes);
    return true;
}

// A file already at the new place counts as moved when it holds the same bytes.
bool Mover::sameBytes(HANDLE in, const std::string& sSource, const std::string& sTarget) {
    AutoHandle there(CreateFileW(wide(sTarget).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!there)
        return failWith(sTarget, "read");
    other_.resize(blockBytes);
    for (;;) {
        if (stopped())
            return false;
        DWORD got = 0, gotThere = 0;
        if (!ReadFile(in, block_.data(), blockBytes, &got, nullptr))
            return failWith(sSource, "read");
        if (!ReadFile(there.get(), other_.data(), blockBytes, &gotThere, nullptr))
            return failWith(sTarget, "read");
        if (got != gotThere || memcmp(block_.data(), other_.data(), got) != 0)
            return fail(quoted(sTarget) + " is already there, and differs from " + quoted(sSource) + ".");
        if (got == 0)
            return true;
        done.bytesDone += got;
        tell(false);
    }
}

bool Mover::rollBack() {
    bool clean = true;
    for (auto file = madeFiles_.rbegin(); file != madeFiles_.rend(); ++file)
        clean = removeFile(*file) && clean;
    for (auto folder = madeFolders_.rbegin(); folder != madeFolders_.rend(); ++folder)
        clean = RemoveDirectoryW(wide(*folder).c_str()) && clean;
    return clean;
}

std::vector<std::string> Mover::removeOld(const Listing& listing) {
    for (const Entry& e : listing.files) {
        const std::string old = join(from_, e.rel);
        if (!removeFile(old))
            Log::line("library move: the old " + old + " could not be removed", "", GetLastError());
    }
    // Folders that still hold something stay.
    for (auto rel = listing.folders.rbegin(); rel != listing.folders.rend(); ++rel)
        RemoveDirectoryW(wide(join(from_, *rel)).c_str());
    std::vector<std::string> left;
    for (const Entry& e : listLibrary(from_).files) left.push_back(join(from_, e.rel));
    return left;
}

std::string leftBehindMessage(const std::string& sTo, const std::vector<std::string>& left) {
    const std::string moved = "The library is now in " + quoted(sTo) + ", but ";
    if (left.size() == 1)
        return moved + quoted(left[0]) + " could not be removed from the old place.";
    return moved + std::to_string(left.size()) +
           " files could not be removed from the old place, among them " + quoted(left[0]) + ".";
}

}  // namespace

bool sameFolder(const std::string& sA, const std::string& sB) {
    const std::wstring a = fullPath(sA), b = fullPath(sB);
    return !a.empty() && within(a, b) && within(b, a);
}

std::string refusal(const std::string& sFromRoot, const std::string& sToRoot) {
    return refusalFor(sFromRoot, sToRoot, listLibrary(sFromRoot).bytes);
}

Result move(const std::string& sFromRoot, const std::string& sToRoot, const std::function<bool()>& commit,
            const std::function<void(const Progress&)>& progress, const std::function<bool()>& cancelled) {
    Result result;
    const std::string what = "library move from " + quoted(sFromRoot) + " to " + quoted(sToRoot);
    const Listing listing = listLibrary(sFromRoot);
    result.message =
        listing.problem.empty() ? refusalFor(sFromRoot, sToRoot, listing.bytes) : couldNot(listing.problem);
    if (!result.message.empty()) {
        Log::line(what + " refused: " + result.message, "", listing.error);
        return result;
    }
    Log::line(what + ": " + std::to_string(listing.files.size()) + " files, " +
              std::to_string(listing.bytes) + " bytes");
    const ULONGLONG started = GetTickCount64();
    // Paths as the platform spells them, whatever the user typed ("D:/Library/").
    Mover mover(utf8(fullPath(sFromRoot)), utf8(fullPath(sToRoot)), progress, cancelled);
    if (!mover.copyAll(listing) || !(commit() || mover.fail("its new place could not be recorded."))) {
        const bool clean = mover.rollBack();
        result.message = (mover.wasCancelled ? "The library was not moved: the move was cancelled."
                                             : couldNot(mover.failure)) +
                         (clean ? " Nothing was changed."
                                : " The library stays where it was; some of the copies could "
                                  "not be removed from " +
                                      quoted(sToRoot) + ".");
        Log::line(what + " failed: " + result.message, "", mover.error);
        return result;
    }
    result.moved = true;
    result.files = mover.done.filesDone;
    result.bytes = mover.done.bytesDone;
    result.leftBehind = mover.removeOld(listing);
    if (!result.leftBehind.empty())
        result.message = leftBehindMessage(sToRoot, result.leftBehind);
    Log::line("library moved to " + quoted(sToRoot) + ": " + std::to_string(result.files) + " files, " +
              std::to_string(result.bytes) + " bytes in " +
              std::to_string((GetTickCount64() - started) / 1000) + " s" +
              (result.message.empty() ? "" : "; " + result.message));
    return result;
}

}  // namespace LibraryMove
