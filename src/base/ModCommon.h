// The small services every part of tolv shares, and the program's folders.
// What start-up sets here is set once, before any job runs.
#pragma once
#include <windows.h>
#include <cstdint>
#include <functional>
#include <string>

#include "base/FileSystem.h"

namespace ModCommon {

inline FileSystem fileSystem;
inline std::string dataPath;  // program folder + "\data\"

// The project's version, given by the build: the version resource says the same.
inline constexpr const char* programVersion = TOLV_PROGRAM_VERSION;
// The build installs updates signed with the TEST key, whose private half is
// public: it is for testing only, and says so where a user would look.
inline constexpr bool trustsTestKey = TOLV_TRUSTS_TEST_KEY != 0;

// The folder that holds the running executable, without a trailing "\".
const std::string& programFolder();
// Test seam: run as if the executable lived in sFolder. Also resets dataPath,
// and the library goes back to that folder.
void setProgramFolder(const std::string& sFolder);
// The folder that holds the library ("My Magazines" and "My Torrents"):
// the program folder unless the user chose another. Set on the window
// thread while no job runs.
const std::string& libraryRoot();
void setLibraryRoot(const std::string& sFolder);  // "" goes back to the program folder
// The executable's file name without its extension ("tolv").
std::string exeBaseName();

// Lets pending window messages run once (the window thread's, never a job's).
void doEvents();

// The platform message box with an empty title. Tests answer it through the
// prompt hook instead of a real box.
int messageBox(const std::string& sText, UINT uFlags, HWND hOwner = nullptr);
using PromptHook = std::function<int(const std::string& sText, UINT uFlags)>;
void setPromptHook(PromptHook hook);

// Opens a file (bIsFile) or folder with the program the shell associates with it.
void openDocument(const std::string& sPath, bool bIsFile);
// The command line that opens a web page with the shell's handler.
std::string shellOpenCommand(const std::string& sTarget);
// Runs a command line in a normal window; the result is not examined.
void runCommand(const std::string& sCommandLine);

// Dates as the program keeps them: OLE dates (days since 30 Dec 1899).
double nowAsDate();
std::string dateToText(double dt);
bool textToDate(const std::string& sText, double& dt);

// Twips at the system's DPI (a window converts with its own: base/Dpi.h).
int twipsToPixelsX(int twips);
int twipsToPixelsY(int twips);
int pixelsToTwipsX(int pixels);
int pixelsToTwipsY(int pixels);

// Text helpers used throughout.
std::string trim(const std::string& s);  // leading and trailing blanks removed
std::string toDecimal(long long n);

}  // namespace ModCommon
