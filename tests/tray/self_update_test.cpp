// The check a downloaded program file must pass before the update is offered.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/driver_client.h"
#include "tray/SelfUpdate.h"

namespace fs = std::filesystem;
using SelfUpdate::isWholeProgram;

namespace {

constexpr LONG ntOffset = 0x80;
constexpr DWORD headersSize = 0x200;
constexpr DWORD sectionSize = 0x400;

// A minimal 32-bit GUI executable: headers, one section of code.
std::string guiProgram32() {
    std::string bytes(headersSize + sectionSize, '\0');
    IMAGE_DOS_HEADER dos{};
    dos.e_magic = IMAGE_DOS_SIGNATURE;
    dos.e_lfanew = ntOffset;
    std::memcpy(bytes.data(), &dos, sizeof dos);

    IMAGE_NT_HEADERS32 nt{};
    nt.Signature = IMAGE_NT_SIGNATURE;
    nt.FileHeader.Machine = IMAGE_FILE_MACHINE_I386;
    nt.FileHeader.NumberOfSections = 1;
    nt.FileHeader.SizeOfOptionalHeader = sizeof(IMAGE_OPTIONAL_HEADER32);
    nt.FileHeader.Characteristics = IMAGE_FILE_EXECUTABLE_IMAGE | IMAGE_FILE_32BIT_MACHINE;
    nt.OptionalHeader.Magic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
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

IMAGE_NT_HEADERS32& ntOf(std::string& bytes) {
    return *reinterpret_cast<IMAGE_NT_HEADERS32*>(bytes.data() + ntOffset);
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

TEST_F(ProgramCheck, AcceptsAWhole32BitGuiProgramOfTheServersSize) {
    const std::string program = guiProgram32();
    EXPECT_TRUE(check(program));
    EXPECT_TRUE(check(program, -2)) << "a size the server could not tell does not count against it";
    EXPECT_FALSE(check(program, program.size() + 1));
    EXPECT_FALSE(check(program, program.size() - 1));
}

TEST_F(ProgramCheck, AcceptsTheShipped32BitPrograms) {
    // The shipped programs are 32-bit: beside the test build, or the test build itself.
    const fs::path build = testsupport::buildDir();
    int found = 0;
    for (const fs::path& dir : {build, build.parent_path() / "i686"}) {
        for (const char* name : {"tolv.exe", "update.exe"}) {
            const fs::path exe = dir / name;
            std::error_code ec;
            const auto size = fs::file_size(exe, ec);
            if (ec || (dir == build && sizeof(void*) == 8))
                continue;
            ++found;
            EXPECT_TRUE(isWholeProgram(exe.string(), static_cast<int64_t>(size))) << exe.string();
        }
    }
    if (!found)
        GTEST_SKIP() << "no 32-bit build of the programs next to this test build";
}

TEST_F(ProgramCheck, RefusesWhatIsNotA32BitGuiProgram) {
    EXPECT_FALSE(check("")) << "empty file";
    EXPECT_FALSE(check("<html><body>550 No such file</body></html>")) << "an error page";
    EXPECT_FALSE(isWholeProgram((dir_ / "missing.exe").string(), -1)) << "no file at all";

    std::string noPe = guiProgram32();
    ntOf(noPe).Signature = 0;
    EXPECT_FALSE(check(noPe)) << "MZ without a PE header";

    std::string farPe = guiProgram32();
    reinterpret_cast<IMAGE_DOS_HEADER*>(farPe.data())->e_lfanew = 0x7FFFFF00;
    EXPECT_FALSE(check(farPe)) << "PE header beyond the end";

    std::string x64 = guiProgram32();
    ntOf(x64).FileHeader.Machine = IMAGE_FILE_MACHINE_AMD64;
    EXPECT_FALSE(check(x64)) << "64-bit machine";

    std::string console = guiProgram32();
    ntOf(console).OptionalHeader.Subsystem = IMAGE_SUBSYSTEM_WINDOWS_CUI;
    EXPECT_FALSE(check(console)) << "console program";

    std::string dll = guiProgram32();
    ntOf(dll).FileHeader.Characteristics |= IMAGE_FILE_DLL;
    EXPECT_FALSE(check(dll)) << "a library";

    // This very test program: a 64-bit or console executable, never a 32-bit GUI one.
    EXPECT_FALSE(isWholeProgram(testsupport::testsDir().string() + "\\test_tray.exe", -1));
}

TEST_F(ProgramCheck, RefusesAFetchCutShort) {
    const std::string program = guiProgram32();
    const std::string cut = program.substr(0, headersSize + sectionSize / 2);
    EXPECT_FALSE(check(cut)) << "sections reach past the end even when the server's size is unknown";
    EXPECT_FALSE(check(cut, -1));
    EXPECT_FALSE(check(program.substr(0, ntOffset + 16), -1)) << "cut inside the headers";
}
