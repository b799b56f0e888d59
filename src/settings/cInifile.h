// Reads and writes Windows INI files through the platform's profile
// functions. The caller sets Path, Section and Key, then reads or writes
// Value. Reads never fail: a missing file, section or key gives Default.
// Writes report through LastReturnCode and Success.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class cInifile {
public:
    const std::string& Path() const { return m_sPath; }
    void setPath(const std::string& sPath) { m_sPath = sPath; }
    const std::string& Key() const { return m_sKey; }
    void setKey(const std::string& sKey) { m_sKey = sKey; }
    const std::string& Section() const { return m_sSection; }
    void setSection(const std::string& sSection) { m_sSection = sSection; }
    const std::string& Default() const { return m_sDefault; }
    void setDefault(const std::string& sDefault) { m_sDefault = sDefault; }
    // Result of the last write through the platform; nonzero = success.
    int32_t LastReturnCode() const { return m_lLastReturnCode; }
    bool Success() const { return m_lLastReturnCode != 0; }

    // At most 254 characters come back; a longer value is cut.
    std::string Value() const;
    // NUL characters are dropped before writing.
    void setValue(const std::string& sValue);
    void DeleteKey();
    void DeleteSection();

    // Key names of Section, each ended by a NUL (at most 8191 characters).
    std::string INISection() const;
    // Removes Section with all its keys; the text is not stored (a write
    // with no key is how the profile functions remove a section).
    void setINISection(const std::string& sText);
    // Names of all sections, each ended by a NUL.
    std::string Sections() const;

    // Names indexed from 1: names[0] is an empty placeholder and names[1..count]
    // hold the names in file order. An empty or missing list gives count 0 and
    // an empty vector.
    void EnumerateCurrentSection(std::vector<std::string>& names, int32_t& count) const;
    void EnumerateAllSections(std::vector<std::string>& names, int32_t& count) const;

    // Window placement in Section: "Maximised", "Left", "Top", "Width",
    // "Height" (twips). The loader keeps the window four pixels inside the
    // screen and never makes it smaller than the minimum size given.
    void SaveFormPosition(HWND frmThis);
    void LoadFormPosition(HWND frmThis, int32_t lMinWidth, int32_t lMinHeight);

    // The text as a 32-bit integer by the user locale's numeric rules
    // (fractions rounded half to even), or lDefault when it is not one.
    static int32_t CLngDefault(const std::string& sString, int32_t lDefault = 0);

private:
    std::string sectionList(const char* pSection) const;

    std::string m_sPath;
    std::string m_sKey;
    std::string m_sSection;
    std::string m_sDefault;
    int32_t m_lLastReturnCode = 0;
};
