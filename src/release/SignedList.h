// The publisher's signed list of the files it serves, beside the catalogue:
//
//   Quillora issues
//   <sha256> <size> <path>      one line per file, path relative to the
//   ...                         catalogue's folder, the rest of the line
//   signature=<r||s hex>
//
// every line ending in a line feed. The signature is the same as a release
// statement's (release/Signature.h), over every byte before its line. The
// publisher's tools/catalogue writes it whenever it adds to the catalogue.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace SignedList {

inline constexpr char fileName[] = "em_lst.sig";
// About 130 bytes a line: room for the PDF and torrent of 100,000 issues
// and more.
inline constexpr int64_t maxListBytes = 48LL * 1024 * 1024;

struct Entry {
    int64_t size = -1;
    std::string_view sha256;  // lowercase hex
};

class List {
public:
    // Reads the list at sPath; false, and an empty list, when its form or
    // its signature is wrong.
    bool read(const std::string& sPath);
    // The entry of a path as the list names it (the server's bytes); null
    // when the list does not name it.
    const Entry* find(std::string_view path) const;
    size_t size() const { return entries_.size(); }

private:
    bool parse();  // text_ into entries_, whose views point into it
    struct Named {
        std::string_view path;
        Entry entry;
    };
    std::string text_;
    std::vector<Named> entries_;  // sorted by path
};

// Whether the file at sPath holds exactly the bytes the entry describes.
bool fileMatches(const std::string& sPath, const Entry& entry);

}  // namespace SignedList
