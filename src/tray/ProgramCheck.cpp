#include <windows.h>

#include <algorithm>
#include <vector>

#include "app/Handles.h"
#include "tray/SelfUpdate.h"

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

// A fetch cut short keeps intact headers, so the sections' raw data must
// also end inside the file.
bool isGuiExecutable32(HANDLE h, int64_t llFileSize) {
    IMAGE_DOS_HEADER dos{};
    if (!readAt(h, 0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0)
        return false;
    IMAGE_NT_HEADERS32 nt{};
    if (!readAt(h, dos.e_lfanew, &nt, sizeof nt) || nt.Signature != IMAGE_NT_SIGNATURE)
        return false;
    const IMAGE_FILE_HEADER& file = nt.FileHeader;
    const IMAGE_OPTIONAL_HEADER32& opt = nt.OptionalHeader;
    if (file.Machine != IMAGE_FILE_MACHINE_I386 || !(file.Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE) ||
        (file.Characteristics & IMAGE_FILE_DLL))
        return false;
    if (file.SizeOfOptionalHeader < sizeof opt || opt.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC ||
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
    AutoHandle h(CreateFileA(sPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!h || !GetFileSizeEx(h.get(), &size))
        return false;
    if (llServerSize >= 0 && size.QuadPart != llServerSize)
        return false;
    return isGuiExecutable32(h.get(), size.QuadPart);
}
