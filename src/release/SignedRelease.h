// A release of tolv.exe is published with a signed statement beside it:
//
//   Quillora release
//   version=2.0
//   size=1234567
//   sha256=<64 lowercase hex digits>
//   signature=<128 lowercase hex digits>
//
// every line ending in a line feed. The signature is ECDSA P-256 over the
// SHA-256 of the first four lines exactly as they stand, written as r||s.
// The public key is built in (TOLV_UPDATE_KEY, X||Y in hex).
//
// This one file is compiled into both tolv and update.exe, so that the
// program that offers a release and the one that installs it judge it alike.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

namespace SignedRelease {

inline constexpr const char* statementSuffix = ".sig";
// A statement is a few lines; anything longer is not one.
inline constexpr DWORD maxStatementBytes = 4096;
// No program of ours comes near this; a bigger file is not a release.
inline constexpr int64_t maxProgramBytes = 64 * 1024 * 1024;

struct Statement {
    std::string version;
    int64_t size = 0;
    std::string sha256;  // lowercase hex
};

// Reads the statement at sPath and checks its form and its signature.
bool readStatement(const std::string& sPath, Statement& statement);

// Reads the whole file from h, from its start, into sBytes and tells whether
// those very bytes are the ones the statement describes.
bool readDescribedBytes(HANDLE h, const Statement& statement, std::string& sBytes);

// Versions are dotted decimal numbers ("2.0", "1.10"): negative, zero or
// positive as a is lower, equal or higher. A version of any other form
// compares lower than every well-formed one.
int compareVersions(const std::string& a, const std::string& b);
bool isWellFormedVersion(const std::string& sVersion);

}  // namespace SignedRelease
