// A general wrapper around the registry: the caller sets a root key
// (ClassKey), a key path below it (SectionKey) and a value name (ValueKey),
// then calls an operation. Failures raise RegistryError, whose source is
// "<exe base name>.cRegistry".
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

struct RegistryError {
    long number;
    std::string source;
    std::string description;
};

// What a value holds: nothing, text, a 32-bit integer or raw bytes.
using RegValue = std::variant<std::monostate, std::string, int32_t, std::vector<uint8_t>>;

namespace RegistryErrors {
inline constexpr long kFailed = 26001;
inline constexpr long kSetValueFailed = static_cast<long>(0x800469A9);
inline constexpr long kEnumerateSectionsFailed = static_cast<long>(0x800469AA);
inline constexpr long kInvalidAssociationItems = static_cast<long>(0x800469AC);
inline constexpr long kClassNotDefined = static_cast<long>(0x800469AD);
}  // namespace RegistryErrors

class cRegistry {
public:
    bool KeyExists() const;
    bool CreateKey();
    bool DeleteKey();
    bool DeleteValue();
    // The stored value typed by its registry type (and ValueType set to it),
    // or Default when it cannot be read.
    RegValue Value();
    void setValue(const RegValue& vValue);
    // Names indexed from 1: element 0 is an empty placeholder, elements
    // 1..count hold the names; nothing found gives count 0 and an empty vector.
    bool EnumerateValues(std::vector<std::string>& sKeyNames, int32_t& iKeyCount) const;
    bool EnumerateSections(std::vector<std::string>& sSect, int32_t& iSectCount) const;
    void CreateEXEAssociation(const std::string& sExePath, const std::string& sClassName,
                              const std::string& sClassDescription, const std::string& sAssociation,
                              const std::string& sOpenMenuText = "", bool bSupportPrint = false,
                              const std::string& sPrintMenuText = "", bool bSupportNew = false,
                              const std::string& sNewMenuText = "", bool bSupportInstall = false,
                              const std::string& sInstallMenuText = "", int32_t lDefaultIconIndex = -1);
    // vItems: groups of verb name, menu text, command line.
    void CreateAdditionalEXEAssociations(const std::string& sClassName,
                                         const std::vector<std::string>& vItems);

    // Test seam: every write under hRoot fails as for a standard user under
    // HKEY_LOCAL_MACHINE (nullptr: none fails).
    static void denyWrites(HKEY hRoot);

    DWORD ValueType() const { return m_lValueType; }
    void setValueType(DWORD lValueType) { m_lValueType = lValueType; }
    HKEY ClassKey() const { return m_hClassKey; }
    void setClassKey(HKEY hClassKey) { m_hClassKey = hClassKey; }
    const std::string& SectionKey() const { return m_sSectionKey; }
    void setSectionKey(const std::string& sSectionKey) { m_sSectionKey = sSectionKey; }
    const std::string& ValueKey() const { return m_sValueKey; }
    void setValueKey(const std::string& sValueKey) { m_sValueKey = sValueKey; }
    const RegValue& Default() const { return m_vDefault; }
    void setDefault(const RegValue& vDefault) { m_vDefault = vDefault; }

private:
    void setClassValue(const std::string& sSection, const std::string& sValue);
    [[noreturn]] void raise(long number, const std::string& sDescription) const;
    std::string rootText() const;

    HKEY m_hClassKey = nullptr;
    std::string m_sSectionKey;
    std::string m_sValueKey;
    DWORD m_lValueType = 0;
    RegValue m_vDefault;
    RegValue m_vLastWritten;
};
