#include <windows.h>

#include <algorithm>
#include <vector>

#include "base/Handles.h"
#include "text/Text.h"
#include "work/SelfUpdate.h"

namespace {

// The PE format allows no more sections than this.
constexpr WORD maxSections = 96;

bool readAt(HANDLE h, int64_t llOffset, void* pBuffer, DWORD cb) {
    LARGE_INTEGER at;
    at.QuadPart = llOffset;
    DWORD got = 0;
    return SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && ReadFile(h, pBuffer, cb, &got, nullptr) &&
           got == cb;
}

// The kind of program we are: the shipped build is a 32-bit i386 GUI
// program; a build for another machine (the tests' 64-bit one) accepts only
// its own kind, which is what it can start.
const IMAGE_NT_HEADERS* ownHeaders() {
    auto* base = reinterpret_cast<const BYTE*>(GetModuleHandleA(nullptr));
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
}

// A fetch cut short keeps intact headers, so the sections' raw data must
// also end inside the file. Magic, subsystem and header size lie at the same
// offsets in the 32-bit and 64-bit optional headers.
bool isGuiExecutableOfOurKind(HANDLE h, int64_t llFileSize) {
    IMAGE_DOS_HEADER dos{};
    if (!readAt(h, 0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0)
        return false;
    IMAGE_NT_HEADERS32 nt{};
    if (!readAt(h, dos.e_lfanew, &nt, sizeof nt) || nt.Signature != IMAGE_NT_SIGNATURE)
        return false;
    const IMAGE_NT_HEADERS* own = ownHeaders();
    const IMAGE_FILE_HEADER& file = nt.FileHeader;
    const IMAGE_OPTIONAL_HEADER32& opt = nt.OptionalHeader;
    if (file.Machine != own->FileHeader.Machine || !(file.Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE) ||
        (file.Characteristics & IMAGE_FILE_DLL))
        return false;
    if (file.SizeOfOptionalHeader < own->FileHeader.SizeOfOptionalHeader || opt.Magic != own->OptionalHeader.Magic ||
        opt.Subsystem != IMAGE_SUBSYSTEM_WINDOWS_GUI || opt.SizeOfHeaders > llFileSize)
        return false;
    if (file.NumberOfSections == 0 || file.NumberOfSections > maxSections)
        return false;

    std::vector<IMAGE_SECTION_HEADER> sections(file.NumberOfSections);
    const int64_t table =
        dos.e_lfanew + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + file.SizeOfOptionalHeader;
    if (!readAt(h, table, sections.data(),
                static_cast<DWORD>(sections.size() * sizeof(IMAGE_SECTION_HEADER))))
        return false;
    return std::all_of(sections.begin(), sections.end(), [&](const IMAGE_SECTION_HEADER& s) {
        return s.SizeOfRawData == 0 || int64_t(s.PointerToRawData) + int64_t(s.SizeOfRawData) <= llFileSize;
    });
}

}  // namespace

bool SelfUpdate::isWholeProgram(const std::string& sPath, int64_t llServerSize) {
    AutoHandle h(CreateFileW(Text::wide(sPath).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!h || !GetFileSizeEx(h.get(), &size))
        return false;
    if (llServerSize >= 0 && size.QuadPart != llServerSize)
        return false;
    return isGuiExecutableOfOurKind(h.get(), size.QuadPart);
}
