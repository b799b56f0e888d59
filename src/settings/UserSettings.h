// What the user sets in the Settings window, kept in data\quillora.ini.
// The file is UTF-16, so that a folder named in any language reads back as
// it was written. A missing file or key reads as the program's default.
#pragma once
#include <string>

#include "settings/cInifile.h"

namespace UserSettings {

// How often the program looks for new issues by itself.
enum class CheckEvery { Day, FewHours, OnRequest };
inline constexpr int fewHours = 4;

std::string path();

bool startWithWindows();  // on unless the user turned it off
bool setStartWithWindows(bool bOn);

CheckEvery checkEvery();
bool setCheckEvery(CheckEvery every);
// Hour boundaries from one automatic check to the next; 0 when the user
// checks only on request.
int checkHours();

// The folder that holds "My Magazines" and "My Torrents"; "" for the
// program folder.
std::string libraryFolder();
bool setLibraryFolder(const std::string& sFolder);

// The file at a window's section, for SaveFormPosition and LoadFormPosition.
cInifile windowPlace(const std::string& sSection);

}  // namespace UserSettings
