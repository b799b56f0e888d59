#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "settings/cRegistry.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr const char* kSource = "test_settings.cRegistry";

std::string uniqueName(const char* sPrefix) {
    return std::string(sPrefix) + std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(GetTickCount());
}

struct RawValue {
    DWORD type = REG_NONE;
    Bytes data;
    bool found = false;
};

RawValue queryRaw(HKEY root, const std::string& sKey, const std::string& sName) {
    RawValue v;
    DWORD size = 0;
    if (RegGetValueA(root, sKey.c_str(), sName.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &v.type, nullptr, &size) !=
        ERROR_SUCCESS)
        return v;
    v.data.resize(size);
    v.found = RegGetValueA(root, sKey.c_str(), sName.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &v.type,
                           v.data.data(), &size) == ERROR_SUCCESS;
    v.data.resize(size);
    return v;
}

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Runs fn and returns the error it raised; fails the test when none was.
RegistryError raised(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const RegistryError& e) {
        return e;
    }
    ADD_FAILURE() << "no RegistryError raised";
    return {};
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        reg.setClassKey(HKEY_CURRENT_USER);
        reg.setSectionKey(section);
        reg.setValueKey("v");
    }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, base.c_str()); }
    void setRaw(const std::string& sName, DWORD type, const Bytes& data) {
        HKEY h;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, section.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                  &h, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(h, sName.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
        RegCloseKey(h);
    }
    RawValue raw(const std::string& sName = "v") const { return queryRaw(HKEY_CURRENT_USER, section, sName); }
    std::string rootAndSection() const { return "Key: '-2147483647',Section: '" + section; }

    const std::string base = "Software\\QuilloraTest\\" + uniqueName("r");
    const std::string section = base + "\\Settings";
    cRegistry reg;
};

TEST_F(Registry, TextWritesChooseTheirStoredType) {
    reg.setValueType(REG_SZ);
    reg.setValue(int32_t{1});
    RawValue v = raw();
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(v.data, bytesOf(std::string("1\0", 2)));

    const std::pair<std::string, DWORD> cases[] = {
        {"%TEMP%\\x", REG_EXPAND_SZ},
        {"a%%b%", REG_EXPAND_SZ},
        {"50%", REG_SZ},
        {"100%%", REG_SZ},
        {"%%", REG_SZ},
        {"", REG_SZ},
    };
    for (const auto& [text, type] : cases) {
        reg.setValue(text);
        EXPECT_EQ(raw().type, type) << text;
        EXPECT_EQ(raw().data, bytesOf(text + '\0')) << text;
    }
    reg.setValueType(REG_EXPAND_SZ);
    reg.setValue(std::string("plain"));
    EXPECT_EQ(raw().type, static_cast<DWORD>(REG_SZ));
}

TEST_F(Registry, ReadsTypedByWhatIsStored) {
    setRaw("sz", REG_SZ, bytesOf(std::string("caf\xE9\0", 5)));
    setRaw("unterminated", REG_SZ, bytesOf("abc"));
    setRaw("multi", REG_MULTI_SZ, bytesOf(std::string("a\0b\0\0", 5)));
    setRaw("dword", REG_DWORD, {0x04, 0x03, 0x02, 0x81});
    setRaw("big", REG_DWORD_BIG_ENDIAN, {0x01, 0x02, 0x03, 0x04});
    const Bytes binary{0x00, 0xFF, 0x80, 0x0A, 0x00};
    setRaw("bin", REG_BINARY, binary);
    setRaw("none", REG_NONE, {0x7F});

    auto read = [&](const char* name) {
        reg.setValueKey(name);
        return reg.Value();
    };
    EXPECT_EQ(read("sz"), RegValue(std::string("caf\xC3\xA9")));  // text comes back as UTF-8
    EXPECT_EQ(reg.ValueType(), static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(read("unterminated"), RegValue(std::string("abc")));
    EXPECT_EQ(read("multi"), RegValue(std::string("a\0b\0", 4)));
    EXPECT_EQ(reg.ValueType(), static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(read("dword"), RegValue(static_cast<int32_t>(0x81020304)));
    EXPECT_EQ(read("big"), RegValue(int32_t{0x01020304}));
    EXPECT_EQ(reg.ValueType(), static_cast<DWORD>(REG_DWORD_BIG_ENDIAN));
    EXPECT_EQ(read("bin"), RegValue(binary));
    EXPECT_EQ(read("none"), RegValue(Bytes{0x7F}));
}

TEST_F(Registry, ExpandableTextIsExpandedOnRead) {
    char temp[MAX_PATH];
    ASSERT_GT(GetEnvironmentVariableA("TEMP", temp, MAX_PATH), 0u);
    reg.setValueType(REG_SZ);
    reg.setValue(std::string("%TEMP%\\q"));
    reg.setValueType(REG_BINARY);
    EXPECT_EQ(reg.Value(), RegValue(std::string(temp) + "\\q"));
    EXPECT_EQ(reg.ValueType(), static_cast<DWORD>(REG_EXPAND_SZ));
}

TEST_F(Registry, MissingValueGivesDefaultAndKeepsValueType) {
    reg.setDefault(std::string("dflt"));
    reg.setValueType(REG_BINARY);
    EXPECT_EQ(reg.Value(), RegValue(std::string("dflt")));  // the key does not exist
    reg.CreateKey();
    EXPECT_EQ(reg.Value(), RegValue(std::string("dflt")));  // the value does not
    EXPECT_EQ(reg.ValueType(), static_cast<DWORD>(REG_BINARY));
}

TEST_F(Registry, IntegerAndBinaryWrites) {
    reg.setValueType(REG_DWORD);
    reg.setValue(int32_t{-2});
    EXPECT_EQ(raw().type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(reg.Value(), RegValue(int32_t{-2}));

    // Big-endian is requested but stored in normal order as REG_DWORD.
    reg.setValueType(REG_DWORD_BIG_ENDIAN);
    reg.setValue(int32_t{0x01020304});
    EXPECT_EQ(raw().type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(raw().data, (Bytes{0x04, 0x03, 0x02, 0x01}));

    // Anything but an integer is skipped silently.
    reg.setValueKey("text");
    reg.setValue(std::string("12"));
    EXPECT_FALSE(raw("text").found);

    reg.setValueKey("bin");
    reg.setValueType(REG_BINARY);
    const Bytes bytes{0x00, 0x01, 0xFE, 0xFF};
    reg.setValue(bytes);
    EXPECT_EQ(raw("bin").type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(raw("bin").data, bytes);
    EXPECT_EQ(reg.Value(), RegValue(bytes));
}

TEST_F(Registry, FailingWritesRaiseTheirNumbers) {
    reg.setValueKey("bin");
    reg.setValueType(REG_BINARY);
    RegistryError e = raised([&] { reg.setValue(std::string("not bytes")); });
    EXPECT_EQ(e.number, 26001);
    EXPECT_EQ(e.source, kSource);
    EXPECT_EQ(e.description, "");
    EXPECT_FALSE(raw("bin").found);

    reg.setValueKey("multi");
    reg.setValueType(REG_MULTI_SZ);
    e = raised([&] { reg.setValue(std::string("x")); });
    EXPECT_EQ(e.number, RegistryErrors::kSetValueFailed);
    EXPECT_EQ(e.number, static_cast<long>(0x800469A9));
    EXPECT_EQ(e.source, kSource);
    EXPECT_EQ(e.description,
              "Failed to set registry value " + rootAndSection() + "',Key: 'multi' to value: 'x'");
    EXPECT_FALSE(raw("multi").found);
}

// A key whose access list grants nothing: no one may open or write it.
class LockedKey {
public:
    explicit LockedKey(const std::string& sKey) : m_key(sKey) {
        HKEY h;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, sKey.c_str(), 0, nullptr, 0, WRITE_DAC, nullptr, &h, nullptr))
            return;
        SECURITY_DESCRIPTOR sd;
        ACL acl;
        InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
        InitializeAcl(&acl, sizeof(acl), ACL_REVISION);
        SetSecurityDescriptorDacl(&sd, TRUE, &acl, FALSE);
        m_locked = RegSetKeySecurity(h, DACL_SECURITY_INFORMATION, &sd) == ERROR_SUCCESS;
        RegCloseKey(h);
    }
    ~LockedKey() {
        HKEY h;
        // The owner may always change the access list back.
        if (RegOpenKeyExA(HKEY_CURRENT_USER, m_key.c_str(), 0, WRITE_DAC, &h) == ERROR_SUCCESS) {
            SECURITY_DESCRIPTOR sd;
            InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
            SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
            RegSetKeySecurity(h, DACL_SECURITY_INFORMATION, &sd);
            RegCloseKey(h);
        }
    }
    bool locked() const { return m_locked; }

private:
    std::string m_key;
    bool m_locked = false;
};

TEST_F(Registry, KeyTheUserMayNotOpen) {
    LockedKey lock(section);
    ASSERT_TRUE(lock.locked());
    EXPECT_FALSE(reg.KeyExists());

    reg.setValueType(REG_SZ);
    RegistryError e = raised([&] { reg.setValue(std::string("x")); });
    EXPECT_EQ(e.number, 26001);
    EXPECT_EQ(e.source, kSource);
    EXPECT_EQ(e.description, "Failed to set registry value " + rootAndSection() + "',Key: 'v' to value: 'x'");
}

TEST_F(Registry, CreateAndDeleteKeysAndValues) {
    EXPECT_FALSE(reg.KeyExists());
    EXPECT_TRUE(reg.CreateKey());
    EXPECT_TRUE(reg.KeyExists());

    RegistryError e = raised([&] { reg.DeleteValue(); });
    EXPECT_EQ(e.number, 26001);
    EXPECT_EQ(e.description, "Failed to delete registry " + rootAndSection() + "',Key: 'v");

    reg.setValueType(REG_SZ);
    reg.setValue(std::string("x"));
    EXPECT_TRUE(reg.DeleteValue());
    EXPECT_FALSE(raw().found);

    EXPECT_TRUE(reg.DeleteKey());
    EXPECT_FALSE(reg.KeyExists());
    e = raised([&] { reg.DeleteKey(); });
    EXPECT_EQ(e.number, 26001);
    EXPECT_EQ(e.source, kSource);
    EXPECT_EQ(e.description, "Failed to delete registry " + rootAndSection());

    e = raised([&] { reg.DeleteValue(); });
    EXPECT_EQ(e.number, 26001);
    EXPECT_EQ(e.description, "Failed to open key '-2147483647',Section: '" + section + "' for delete access");

    reg.setClassKey(reinterpret_cast<HKEY>(static_cast<intptr_t>(0x7FFFFFF0)));
    e = raised([&] { reg.CreateKey(); });
    EXPECT_EQ(e.number, 26001);
    EXPECT_EQ(e.description, "Failed to create registry Key: '" + section);
}

TEST_F(Registry, EnumerationsAreIndexedFromOne) {
    reg.setValueType(REG_SZ);
    for (const char* name : {"alpha", "beta", ""}) {
        reg.setValueKey(name);
        reg.setValue(std::string("x"));
    }
    std::vector<std::string> names{"stale"};
    int32_t count = -1;
    EXPECT_TRUE(reg.EnumerateValues(names, count));
    ASSERT_EQ(count, 3);
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[0], "");
    std::sort(names.begin() + 1, names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"", "", "alpha", "beta"}));

    for (const char* sub : {"one", "two"}) {
        reg.setSectionKey(section + "\\" + sub);
        reg.CreateKey();
    }
    reg.setSectionKey(section);
    EXPECT_TRUE(reg.EnumerateSections(names, count));
    ASSERT_EQ(count, 2);
    std::sort(names.begin() + 1, names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"", "one", "two"}));

    reg.setSectionKey(section + "\\missing");
    EXPECT_TRUE(reg.EnumerateValues(names, count));
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(reg.EnumerateSections(names, count));
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(names.empty());
}

// --- file associations ----------------------------------------------------------------

class RegistryAssociation : public ::testing::Test {
protected:
    void TearDown() override {
        for (const std::string& key : {className, "." + extension}) {
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("SOFTWARE\\Classes\\" + key).c_str());
            RegDeleteTreeA(HKEY_CURRENT_USER, ("Software\\Classes\\" + key).c_str());
        }
    }
    // The default value of a key below both classes roots, which must agree.
    std::string classValue(const std::string& sKey) const {
        RawValue a = queryRaw(HKEY_CLASSES_ROOT, sKey, "");
        RawValue b = queryRaw(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\" + sKey, "");
        EXPECT_EQ(a.data, b.data) << sKey;
        if (!a.found)
            return "<missing>";
        return std::string(a.data.begin(), a.data.end() - 1);
    }
    const std::string className = uniqueName("QuilloraTest.Doc");
    const std::string extension = uniqueName("qt");
    cRegistry reg;
};

TEST_F(RegistryAssociation, WritesTheClassUnderBothRoots) {
    reg.setClassKey(HKEY_CURRENT_USER);
    reg.setSectionKey("Software\\Mine");
    reg.CreateEXEAssociation("  C:\\Apps\\tolv.exe ", className, "Quillora issue", extension, "", true, "",
                             false, "", true, "", 2);
    EXPECT_EQ(classValue("." + extension), className);
    EXPECT_EQ(classValue(className), "Quillora issue");
    EXPECT_EQ(classValue(className + "\\shell\\open"), "&Open");
    EXPECT_EQ(classValue(className + "\\shell\\open\\command"), "\"C:\\Apps\\tolv.exe\" \"%1\"");
    EXPECT_EQ(classValue(className + "\\shell\\print"), "&Print");
    EXPECT_EQ(classValue(className + "\\shell\\print\\command"), "\"C:\\Apps\\tolv.exe\" /p \"%1\"");
    EXPECT_EQ(classValue(className + "\\shell\\add"), "&Install " + extension);
    EXPECT_EQ(classValue(className + "\\shell\\add\\command"), "\"C:\\Apps\\tolv.exe\" /a \"%1\"");
    EXPECT_EQ(classValue(className + "\\shell\\new"), "<missing>");
    EXPECT_EQ(classValue(className + "\\DefaultIcon"), "\"C:\\Apps\\tolv.exe\",2");
    EXPECT_EQ(reg.SectionKey(), "Software\\Mine");
    EXPECT_EQ(reg.ClassKey(), HKEY_LOCAL_MACHINE);
}

TEST_F(RegistryAssociation, QuotedPathKeepsOnePairAndMenuTextsAreUsed) {
    reg.CreateEXEAssociation("\"C:\\My Apps\\tolv.exe\"", className, "d", extension, "Read", false, "", true,
                             "Blank", false, "", -1);
    EXPECT_EQ(classValue(className + "\\shell\\open"), "Read");
    EXPECT_EQ(classValue(className + "\\shell\\open\\command"), "\"C:\\My Apps\\tolv.exe\" \"%1\"");
    EXPECT_EQ(classValue(className + "\\shell\\new"), "Blank");
    EXPECT_EQ(classValue(className + "\\shell\\new\\command"), "\"C:\\My Apps\\tolv.exe\" /n \"%1\"");
    EXPECT_EQ(classValue(className + "\\DefaultIcon"), "<missing>");
}

TEST_F(RegistryAssociation, AdditionalVerbsNeedTriplesAndADefinedClass) {
    RegistryError e = raised([&] {
        reg.CreateAdditionalEXEAssociations(className, {"a", "b", "c", "d", "e"});
    });
    EXPECT_EQ(e.number, static_cast<long>(0x800469AC));
    EXPECT_EQ(e.source, kSource);
    EXPECT_EQ(
        e.description,
        "Invalid parameter list passed to CreateAdditionalEXEAssociations - expected Name/Text/Command");

    e = raised([&] { reg.CreateAdditionalEXEAssociations(className, {"edit", "&Edit", "x.exe"}); });
    EXPECT_EQ(e.number, static_cast<long>(0x800469AD));
    EXPECT_EQ(e.description, "Error - attempt to create additional associations before class defined.");
    EXPECT_EQ(classValue(className + "\\shell\\edit"), "<missing>");

    // Straight after defining the class, as a caller would.
    reg.CreateEXEAssociation("x.exe", className, "d", extension);
    reg.CreateAdditionalEXEAssociations(className,
                                        {"edit", "&Edit", "x.exe /e \"%1\"", "show", "Sh&ow", "x.exe"});
    EXPECT_EQ(classValue(className + "\\shell\\edit"), "&Edit");
    EXPECT_EQ(classValue(className + "\\shell\\edit\\command"), "x.exe /e \"%1\"");
    EXPECT_EQ(classValue(className + "\\shell\\show\\command"), "x.exe");
}

}  // namespace
