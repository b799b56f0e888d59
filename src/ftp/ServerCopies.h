// Copies of the server's small files that cost nothing while they stay the
// same. Before a copy is fetched the server is asked for the file's size and
// modification time (SIZE, MDTM); what it said is kept in data\copies.ini:
//
//   [em_lst.srv]          one section per server file
//   server=host:port      where it came from (port 0: the FTP default)
//   size=300000           the SIZE answer the local copy was fetched at
//   modified=20261208001500   the MDTM answer, as the server gave it
//
// When both answers from the same server are the same again and the local copy still has that
// size, nothing is transferred. A file that may only grow is continued from
// its end when it did, once its first few KiB and the last few before its
// old end still match. Anything else (no answer, a mismatch, a shrink, a
// refused REST) fetches the whole file with fetchWhole, so the bounds and the
// crash safety of a whole copy hold.
#pragma once
#include <cstdint>
#include <string>

#include "ftp/SafeFetch.h"

class cFTP;

class ServerCopies {
public:
    explicit ServerCopies(cFTP& ftp) : ftp_(ftp) {}
    // As fetchWhole; "Fetched" also when the local copy is already current.
    // bGrows: the file is only ever appended to, so new bytes may be fetched alone.
    FetchResult fetch(const std::string& sLocal, const std::string& sRemote, int64_t llMaxBytes, bool bGrows);

    // Where the server's answers are kept, beside the copies.
    static std::string statePath();
    // For another writer of a copy: what the server said of sRemote no
    // longer describes the local file, so the next fetch takes it whole.
    static void forget(const std::string& sRemote);

private:
    bool appendTail(const std::string& sLocal, const std::string& sRemote, int64_t llHave, int64_t llSize);

    cFTP& ftp_;
    bool binary_ = false;  // TYPE I sent: some servers answer SIZE only then
};
