#include "settings/cRegistry.h"

#include <cstring>

#include "base/Handles.h"
#include "base/ModCommon.h"
#include "text/Text.h"

namespace {

// Query, set, create subkey, enumerate, notify, create link.
constexpr REGSAM kKeyAllUserAccess = 0x3F;
// Registry key names are at most 255 characters.
constexpr DWORD kKeyNameBufferSize = 256;
constexpr const char* kClassesBranch = "SOFTWARE\\Classes\\";

std::string valueText(const RegValue& v) {
    if (const auto* s = std::get_if<std::string>(&v))
        return *s;
    if (const auto* n = std::get_if<int32_t>(&v))
        return std::to_string(*n);
    if (const auto* b = std::get_if<std::vector<uint8_t>>(&v))
        return std::string(b->begin(), b->end());
    return {};
}

// REG_EXPAND_SZ only when a second "%" begins at least two characters after
// the first, so "%%" and a lone "%" stay plain text.
bool looksExpandable(const std::string& s) {
    size_t first = s.find('%');
    return first != std::string::npos && s.find('%', first + 2) != std::string::npos;
}

std::string systemMessage(LONG code) {
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string s = n ? Text::utf8(std::wstring_view(text, n)) : "Error " + std::to_string(code);
    LocalFree(text);
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.pop_back();
    return s;
}

// Reads the data of a value whose size may change between the calls.
bool readValueData(HKEY hKey, const std::string& sName, DWORD& type, std::vector<uint8_t>& data) {
    DWORD size = 0;
    const std::wstring name = Text::wide(sName);
    LONG rc = RegQueryValueExW(hKey, name.c_str(), nullptr, &type, nullptr, &size);
    while (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
        data.resize(size);
        rc = RegQueryValueExW(hKey, name.c_str(), nullptr, &type, data.data(), &size);
        if (rc == ERROR_SUCCESS) {
            data.resize(size);
            return true;
        }
    }
    return false;
}

std::string expandEnvironment(const std::string& s) {
    const std::wstring in = Text::wide(s);
    std::wstring out(in.size() + 1, L'\0');
    for (;;) {
        DWORD n = ExpandEnvironmentStringsW(in.c_str(), out.data(), static_cast<DWORD>(out.size()));
        if (n == 0)
            return s;
        if (n <= out.size()) {
            out.resize(n - 1);
            return Text::utf8(out);
        }
        out.resize(n);
    }
}

HKEY& deniedRoot() {
    static HKEY h = nullptr;
    return h;
}

// Wine grants every write; a standard user on Windows gets "access denied"
// under HKEY_LOCAL_MACHINE, as the denied root does here.
bool writeDenied(HKEY hRoot, REGSAM access) {
    return hRoot == deniedRoot() && (access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0;
}

AutoHkey openKey(HKEY hRoot, const std::string& sSection, REGSAM access) {
    HKEY h = nullptr;
    if (writeDenied(hRoot, access))
        return {};
    if (RegOpenKeyExW(hRoot, Text::wide(sSection).c_str(), 0, access, &h) != ERROR_SUCCESS)
        return {};
    return AutoHkey(h);
}

// Creates the key when missing and opens it with every user right.
AutoHkey createKey(HKEY hRoot, const std::string& sSection) {
    HKEY h = nullptr;
    wchar_t emptyClass[] = L"";
    if (writeDenied(hRoot, kKeyAllUserAccess))
        return {};
    if (RegCreateKeyExW(hRoot, Text::wide(sSection).c_str(), 0, emptyClass, REG_OPTION_NON_VOLATILE,
                        kKeyAllUserAccess, nullptr, &h, nullptr) != ERROR_SUCCESS)
        return {};
    return AutoHkey(h);
}

}  // namespace

void cRegistry::raise(long number, const std::string& sDescription) const {
    throw RegistryError{number, ModCommon::exeBaseName() + ".cRegistry", sDescription};
}

std::string cRegistry::rootText() const {
    // Predefined roots are 32-bit values sign-extended into the handle.
    return std::to_string(static_cast<int32_t>(reinterpret_cast<intptr_t>(m_hClassKey)));
}

bool cRegistry::KeyExists() const {
    return openKey(m_hClassKey, m_sSectionKey, KEY_QUERY_VALUE).valid();
}

bool cRegistry::CreateKey() {
    if (!createKey(m_hClassKey, m_sSectionKey))
        raise(RegistryErrors::kFailed, "Failed to create registry Key: '" + m_sSectionKey);
    return true;
}

void cRegistry::denyWrites(HKEY hRoot) { deniedRoot() = hRoot; }

bool cRegistry::DeleteKey() {
    if (writeDenied(m_hClassKey, KEY_SET_VALUE) ||
        RegDeleteKeyW(m_hClassKey, Text::wide(m_sSectionKey).c_str()) != ERROR_SUCCESS)
        raise(RegistryErrors::kFailed,
              "Failed to delete registry Key: '" + rootText() + "',Section: '" + m_sSectionKey);
    return true;
}

bool cRegistry::DeleteValue() {
    AutoHkey key = openKey(m_hClassKey, m_sSectionKey, kKeyAllUserAccess);
    if (!key)
        raise(RegistryErrors::kFailed,
              "Failed to open key '" + rootText() + "',Section: '" + m_sSectionKey + "' for delete access");
    if (RegDeleteValueW(key.get(), Text::wide(m_sValueKey).c_str()) != ERROR_SUCCESS)
        raise(RegistryErrors::kFailed, "Failed to delete registry Key: '" + rootText() + "',Section: '" +
                                           m_sSectionKey + "',Key: '" + m_sValueKey);
    return true;
}

RegValue cRegistry::Value() {
    AutoHkey key = openKey(m_hClassKey, m_sSectionKey, KEY_QUERY_VALUE);
    if (!key)
        return m_vDefault;
    DWORD type = 0;
    std::vector<uint8_t> data;
    if (!readValueData(key.get(), m_sValueKey, type, data))
        return m_vDefault;
    m_lValueType = type;
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
        case REG_MULTI_SZ: {
            std::wstring wideText(data.size() / sizeof(wchar_t), L'\0');
            std::memcpy(wideText.data(), data.data(), wideText.size() * sizeof(wchar_t));
            // Only a terminating NUL goes; data stored without one stays whole.
            if (!wideText.empty() && wideText.back() == L'\0')
                wideText.pop_back();
            const std::string text = Text::utf8(wideText);
            return type == REG_EXPAND_SZ ? expandEnvironment(text) : text;
        }
        case REG_DWORD:
        case REG_DWORD_BIG_ENDIAN: {
            data.resize(sizeof(uint32_t), 0);
            uint32_t n = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                         static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
            if (type == REG_DWORD_BIG_ENDIAN)
                n = __builtin_bswap32(n);
            return static_cast<int32_t>(n);
        }
        default:
            return data;
    }
}

void cRegistry::setValue(const RegValue& vValue) {
    const std::string sFailed = "Failed to set registry value Key: '" + rootText() + "',Section: '" +
                                m_sSectionKey + "',Key: '" + m_sValueKey + "' to value: '" +
                                valueText(vValue) + "'";
    AutoHkey key = createKey(m_hClassKey, m_sSectionKey);
    if (!key)
        raise(RegistryErrors::kFailed, sFailed);
    const std::wstring wideName = Text::wide(m_sValueKey);
    const wchar_t* name = wideName.c_str();
    LONG rc = ERROR_SUCCESS;
    switch (m_lValueType) {
        case REG_SZ:
        case REG_EXPAND_SZ: {
            const std::string text = valueText(vValue);
            const std::wstring wideText = Text::wide(text);
            rc = RegSetValueExW(key.get(), name, 0, looksExpandable(text) ? REG_EXPAND_SZ : REG_SZ,
                                reinterpret_cast<const BYTE*>(wideText.c_str()),
                                static_cast<DWORD>((wideText.size() + 1) * sizeof(wchar_t)));
            break;
        }
        case REG_BINARY: {
            const auto* bytes = std::get_if<std::vector<uint8_t>>(&vValue);
            if (!bytes)
                raise(RegistryErrors::kFailed, "");
            rc = RegSetValueExW(key.get(), name, 0, REG_BINARY, bytes->data(),
                                static_cast<DWORD>(bytes->size()));
            break;
        }
        case REG_DWORD:
        case REG_DWORD_BIG_ENDIAN: {
            // Only integers are written; any other kind is skipped without an error.
            const auto* n = std::get_if<int32_t>(&vValue);
            if (!n)
                return;
            rc = RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(n), sizeof(*n));
            break;
        }
        default:
            rc = ERROR_INVALID_DATA;
            break;
    }
    if (rc != ERROR_SUCCESS)
        raise(RegistryErrors::kSetValueFailed, sFailed);
    m_vLastWritten = vValue;
}

bool cRegistry::EnumerateValues(std::vector<std::string>& sKeyNames, int32_t& iKeyCount) const {
    sKeyNames.clear();
    iKeyCount = 0;
    AutoHkey key = openKey(m_hClassKey, m_sSectionKey, KEY_QUERY_VALUE);
    if (!key)
        return true;
    DWORD longest = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longest,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return true;
    std::wstring buffer(longest + 1, L'\0');
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(buffer.size());  // in and out: reset for every call
        if (RegEnumValueW(key.get(), index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        if (sKeyNames.empty())
            sKeyNames.emplace_back();
        sKeyNames.emplace_back(Text::utf8(std::wstring_view(buffer.data(), length)));
        ++iKeyCount;
    }
    return true;
}

bool cRegistry::EnumerateSections(std::vector<std::string>& sSect, int32_t& iSectCount) const {
    sSect.clear();
    iSectCount = 0;
    AutoHkey key = openKey(m_hClassKey, m_sSectionKey, KEY_ENUMERATE_SUB_KEYS);
    if (!key)
        return true;
    wchar_t name[kKeyNameBufferSize];
    for (DWORD index = 0;; ++index) {
        LONG rc = RegEnumKeyW(key.get(), index, name, kKeyNameBufferSize);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        // Any other end would be a partial list presented as complete.
        if (rc != ERROR_SUCCESS)
            raise(RegistryErrors::kEnumerateSectionsFailed, systemMessage(rc));
        if (sSect.empty())
            sSect.emplace_back();
        sSect.emplace_back(Text::utf8(name));
        ++iSectCount;
    }
    return true;
}

void cRegistry::setClassValue(const std::string& sSection, const std::string& sValue) {
    const std::string sBefore = m_sSectionKey;
    struct RestoreSection {
        std::string& target;
        const std::string& value;
        ~RestoreSection() { target = value; }
    } restore{m_sSectionKey, sBefore};
    m_hClassKey = HKEY_CLASSES_ROOT;
    m_sSectionKey = sSection;
    setValue(sValue);
    m_hClassKey = HKEY_LOCAL_MACHINE;
    m_sSectionKey = kClassesBranch + sSection;
    setValue(sValue);
}

void cRegistry::CreateEXEAssociation(const std::string& sExePath, const std::string& sClassName,
                                     const std::string& sClassDescription, const std::string& sAssociation,
                                     const std::string& sOpenMenuText, bool bSupportPrint,
                                     const std::string& sPrintMenuText, bool bSupportNew,
                                     const std::string& sNewMenuText, bool bSupportInstall,
                                     const std::string& sInstallMenuText, int32_t lDefaultIconIndex) {
    const std::string sTrimmed = ModCommon::trim(sExePath);
    std::string sQuoted = sTrimmed;
    if (sTrimmed.empty() || sTrimmed.front() != '"')
        sQuoted.insert(0, 1, '"');
    if (sTrimmed.empty() || sTrimmed.back() != '"')
        sQuoted += '"';
    auto orDefault = [](const std::string& s, const std::string& sDefault) {
        return s.empty() ? sDefault : s;
    };
    const std::string sShell = sClassName + "\\shell\\";

    m_lValueType = REG_SZ;
    m_sValueKey.clear();
    setClassValue("." + sAssociation, sClassName);
    setClassValue(sClassName, sClassDescription);
    setClassValue(sShell + "open", orDefault(sOpenMenuText, "&Open"));
    setClassValue(sShell + "open\\command", sQuoted + " \"%1\"");
    if (bSupportPrint) {
        setClassValue(sShell + "print", orDefault(sPrintMenuText, "&Print"));
        setClassValue(sShell + "print\\command", sQuoted + " /p \"%1\"");
    }
    if (bSupportInstall) {
        setClassValue(sShell + "add", orDefault(sInstallMenuText, "&Install " + sAssociation));
        setClassValue(sShell + "add\\command", sQuoted + " /a \"%1\"");
    }
    if (bSupportNew) {
        setClassValue(sShell + "new", orDefault(sNewMenuText, "&New"));
        setClassValue(sShell + "new\\command", sQuoted + " /n \"%1\"");
    }
    if (lDefaultIconIndex > -1)
        setClassValue(sClassName + "\\DefaultIcon", sQuoted + "," + std::to_string(lDefaultIconIndex));
}

void cRegistry::CreateAdditionalEXEAssociations(const std::string& sClassName,
                                                const std::vector<std::string>& vItems) {
    if (vItems.size() % 3 != 0)
        raise(
            RegistryErrors::kInvalidAssociationItems,
            "Invalid parameter list passed to CreateAdditionalEXEAssociations - expected Name/Text/Command");
    m_sSectionKey = sClassName;
    // CreateEXEAssociation leaves ClassKey at HKEY_LOCAL_MACHINE, where the
    // class lives below SOFTWARE\Classes; look in the classes root as well.
    if (!KeyExists() && !openKey(HKEY_CLASSES_ROOT, sClassName, KEY_QUERY_VALUE))
        raise(RegistryErrors::kClassNotDefined,
              "Error - attempt to create additional associations before class defined.");
    const std::string sShell = sClassName + "\\shell\\";
    for (size_t i = 0; i < vItems.size(); i += 3) {
        m_lValueType = REG_SZ;
        m_sValueKey.clear();
        setClassValue(sShell + vItems[i], vItems[i + 1]);
        setClassValue(sShell + vItems[i] + "\\command", vItems[i + 2]);
    }
}
