// The issue list's data: the new issues a check found, in the order the
// list shows them, with their ticks and status. The check fills it, the
// delivery and removal read and change it by id, the library window shows
// it (a virtual list) and ticks and sorts it. Both threads use it: every
// member locks.
#pragma once
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// One row, as the check makes it.
struct IssueEntry {
    std::string key, title, issue;
    std::string magazine;  // the server's bytes, as the catalogue holds them
    std::string size;
    std::string record;    // the server's bytes, as the catalogue holds them
    std::string status;
    bool ticked = false;
    uint32_t id = 0;       // given by the model, unique for the program's life
};

class IssueModel {
public:
    // Columns, as the list shows them.
    static constexpr int colTitle = 0, colIssue = 1, colMagazine = 2, colStatus = 3, colSize = 4, colRecord = 5;

    void clear();
    // Appends the rows (their ids are given here); returns the first new index.
    size_t append(std::vector<IssueEntry> rows);
    size_t count() const;
    // A copy of the row at a list position, or of the row with that id.
    std::optional<IssueEntry> at(size_t index) const;
    std::optional<IssueEntry> find(uint32_t id) const;
    // -1 when there is no such row.
    int indexOfKey(const std::string& sKey) const;
    // Ids in list order: all, or the ticked ones.
    std::vector<uint32_t> ids() const;
    std::vector<uint32_t> tickedIds() const;
    size_t tickedCount() const;
    bool ticked(uint32_t id) const;

    void setTicked(size_t index, bool bTicked);
    void tickAll();
    void setStatus(uint32_t id, const std::string& sStatus);
    bool remove(uint32_t id);
    // Sorted by the column's shown text, the way the user reads it (the
    // locale's order, letter case ignored); equal texts keep their order.
    void sort(int iColumn, bool bDescending);
    // The text a column shows: the server's bytes decoded for reading.
    static std::string shownText(const IssueEntry& e, int iColumn);

private:
    // The row with that id, or rows_.end(); the caller holds the lock.
    std::vector<IssueEntry>::iterator rowWith(uint32_t id);
    std::vector<IssueEntry>::const_iterator rowWith(uint32_t id) const;

    mutable std::mutex lock_;
    std::vector<IssueEntry> rows_;
    uint32_t nextId_ = 0;
};

// The program's one issue list.
IssueModel& issues();
