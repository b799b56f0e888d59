// The check a downloaded program file must pass before the update is offered.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/driver_client.h"
#include "work/SelfUpdate.h"

namespace fs = std::filesystem;
using SelfUpdate::isWholeProgram;

namespace {

constexpr LONG ntOffset = 0x80;
constexpr DWORD headersSize = 0x200;
constexpr DWORD sectionSize = 0x400;

// A minimal GUI executable of the test build's own kind (32-bit i386 in the
// shipped build): headers, one section of code.
std::string guiProgram() {
    std::string bytes(headersSize + sectionSize, '\0');
    IMAGE_DOS_HEADER dos{};
    dos.e_magic = IMAGE_DOS_SIGNATURE;
    dos.e_lfanew = ntOffset;
    std::memcpy(bytes.data(), &dos, sizeof dos);

    IMAGE_NT_HEADERS nt{};
    nt.Signature = IMAGE_NT_SIGNATURE;
    nt.FileHeader.Machine = sizeof(void*) == 4 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64;
    nt.FileHeader.NumberOfSections = 1;
    nt.FileHeader.SizeOfOptionalHeader = sizeof(IMAGE_OPTIONAL_HEADER);
    nt.FileHeader.Characteristics = IMAGE_FILE_EXECUTABLE_IMAGE;
    nt.OptionalHeader.Magic = IMAGE_NT_OPTIONAL_HDR_MAGIC;
    nt.OptionalHeader.Subsystem = IMAGE_SUBSYSTEM_WINDOWS_GUI;
    nt.OptionalHeader.SizeOfHeaders = headersSize;
    nt.OptionalHeader.FileAlignment = headersSize;
    nt.OptionalHeader.SectionAlignment = 0x1000;
    std::memcpy(bytes.data() + ntOffset, &nt, sizeof nt);

    IMAGE_SECTION_HEADER text{};
    std::memcpy(text.Name, ".text", 5);
    text.PointerToRawData = headersSize;
    text.SizeOfRawData = sectionSize;
    std::memcpy(bytes.data() + ntOffset + sizeof nt, &text, sizeof text);
    return bytes;
}

IMAGE_NT_HEADERS& ntOf(std::string& bytes) {
    return *reinterpret_cast<IMAGE_NT_HEADERS*>(bytes.data() + ntOffset);
}

class ProgramCheck : public testing::Test {
protected:
    void SetUp() override {
        dir_ = testsupport::testsDir() / "self_update_check";
        fs::create_directories(dir_);
    }
    std::string write(const std::string& bytes) {
        const fs::path p = dir_ / SelfUpdate::programFileName;
        std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
        return p.string();
    }
    bool check(const std::string& bytes, int64_t llServerSize) {
        return isWholeProgram(write(bytes), llServerSize);
    }
    bool check(const std::string& bytes) { return check(bytes, static_cast<int64_t>(bytes.size())); }
    fs::path dir_;
};

}  // namespace

TEST_F(ProgramCheck, AcceptsAWholeGuiProgramOfTheServersSize) {
    const std::string program = guiProgram();
    EXPECT_TRUE(check(program));
    EXPECT_TRUE(check(program, -2)) << "a size the server could not tell does not count against it";
    EXPECT_FALSE(check(program, program.size() + 1));
    EXPECT_FALSE(check(program, program.size() - 1));
}

TEST_F(ProgramCheck, AcceptsTheProgramsBuiltBesideIt) {
    const fs::path build = testsupport::buildDir();
    for (const char* name : {"tolv.exe", "update.exe"}) {
        const fs::path exe = build / name;
        EXPECT_TRUE(isWholeProgram(exe.string(), static_cast<int64_t>(fs::file_size(exe)))) << exe.string();
    }
    // The shipped 32-bit programs are for a 32-bit build only.
    const fs::path shipped = build.parent_path() / "i686" / "tolv.exe";
    if (sizeof(void*) == 8 && fs::exists(shipped)) {
        EXPECT_FALSE(isWholeProgram(shipped.string(), static_cast<int64_t>(fs::file_size(shipped))));
    }
}

TEST_F(ProgramCheck, RefusesWhatIsNotAGuiProgramOfOurKind) {
    EXPECT_FALSE(check("")) << "empty file";
    EXPECT_FALSE(check("<html><body>550 No such file</body></html>")) << "an error page";
    EXPECT_FALSE(isWholeProgram((dir_ / "missing.exe").string(), -1)) << "no file at all";

    std::string noPe = guiProgram();
    ntOf(noPe).Signature = 0;
    EXPECT_FALSE(check(noPe)) << "MZ without a PE header";

    std::string farPe = guiProgram();
    reinterpret_cast<IMAGE_DOS_HEADER*>(farPe.data())->e_lfanew = 0x7FFFFF00;
    EXPECT_FALSE(check(farPe)) << "PE header beyond the end";

    std::string other = guiProgram();
    ntOf(other).FileHeader.Machine = sizeof(void*) == 4 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
    EXPECT_FALSE(check(other)) << "another machine";

    std::string console = guiProgram();
    ntOf(console).OptionalHeader.Subsystem = IMAGE_SUBSYSTEM_WINDOWS_CUI;
    EXPECT_FALSE(check(console)) << "console program";

    std::string dll = guiProgram();
    ntOf(dll).FileHeader.Characteristics |= IMAGE_FILE_DLL;
    EXPECT_FALSE(check(dll)) << "a library";

    // This very test program: a console executable.
    EXPECT_FALSE(isWholeProgram(testsupport::testsDir().string() + "\\test_tray.exe", -1));
}

TEST_F(ProgramCheck, RefusesAFetchCutShort) {
    const std::string program = guiProgram();
    const std::string cut = program.substr(0, headersSize + sectionSize / 2);
    EXPECT_FALSE(check(cut)) << "sections reach past the end even when the server's size is unknown";
    EXPECT_FALSE(check(cut, -1));
    EXPECT_FALSE(check(program.substr(0, ntOffset + 16), -1)) << "cut inside the headers";
}
