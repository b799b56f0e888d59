#include "work/IssueModel.h"

#include <windows.h>

#include <algorithm>

#include "text/Text.h"

namespace {

using Lock = std::lock_guard<std::mutex>;

}  // namespace

IssueModel& issues() {
    static IssueModel model;
    return model;
}

void IssueModel::clear() {
    Lock lock(lock_);
    rows_.clear();
}

size_t IssueModel::append(std::vector<IssueEntry> rows) {
    Lock lock(lock_);
    const size_t first = rows_.size();
    rows_.reserve(first + rows.size());
    for (IssueEntry& row : rows) {
        row.id = ++nextId_;
        rows_.push_back(std::move(row));
    }
    return first;
}

size_t IssueModel::count() const {
    Lock lock(lock_);
    return rows_.size();
}

std::optional<IssueEntry> IssueModel::at(size_t index) const {
    Lock lock(lock_);
    if (index >= rows_.size())
        return std::nullopt;
    return rows_[index];
}

std::optional<IssueEntry> IssueModel::find(uint32_t id) const {
    Lock lock(lock_);
    for (const IssueEntry& row : rows_)
        if (row.id == id)
            return row;
    return std::nullopt;
}

int IssueModel::indexOf(uint32_t id) const {
    Lock lock(lock_);
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].id == id)
            return static_cast<int>(i);
    return -1;
}

int IssueModel::indexOfKey(const std::string& sKey) const {
    Lock lock(lock_);
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].key == sKey)
            return static_cast<int>(i);
    return -1;
}

std::vector<uint32_t> IssueModel::ids() const {
    Lock lock(lock_);
    std::vector<uint32_t> out;
    out.reserve(rows_.size());
    for (const IssueEntry& row : rows_) out.push_back(row.id);
    return out;
}

std::vector<uint32_t> IssueModel::tickedIds() const {
    Lock lock(lock_);
    std::vector<uint32_t> out;
    for (const IssueEntry& row : rows_)
        if (row.ticked)
            out.push_back(row.id);
    return out;
}

size_t IssueModel::tickedCount() const {
    Lock lock(lock_);
    return static_cast<size_t>(std::count_if(rows_.begin(), rows_.end(), [](const IssueEntry& r) { return r.ticked; }));
}

bool IssueModel::ticked(uint32_t id) const {
    Lock lock(lock_);
    for (const IssueEntry& row : rows_)
        if (row.id == id)
            return row.ticked;
    return false;
}

void IssueModel::setTicked(size_t index, bool bTicked) {
    Lock lock(lock_);
    if (index < rows_.size())
        rows_[index].ticked = bTicked;
}

void IssueModel::tickAll() {
    Lock lock(lock_);
    for (IssueEntry& row : rows_) row.ticked = true;
}

void IssueModel::setStatus(uint32_t id, const std::string& sStatus) {
    Lock lock(lock_);
    for (IssueEntry& row : rows_)
        if (row.id == id)
            row.status = sStatus;
}

bool IssueModel::remove(uint32_t id) {
    Lock lock(lock_);
    auto it = std::find_if(rows_.begin(), rows_.end(), [id](const IssueEntry& r) { return r.id == id; });
    if (it == rows_.end())
        return false;
    rows_.erase(it);
    return true;
}

std::string IssueModel::shownText(const IssueEntry& e, int iColumn) {
    switch (iColumn) {
        case colTitle: return e.title;
        case colIssue: return e.issue;
        case colMagazine: return Text::decode(e.magazine);
        case colStatus: return e.status;
        case colSize: return e.size;
        case colRecord: return Text::decode(e.record);
        default: return {};
    }
}

void IssueModel::sort(int iColumn, bool bDescending) {
    Lock lock(lock_);
    // The texts are made once, not at every comparison.
    std::vector<std::pair<std::wstring, size_t>> keys;
    keys.reserve(rows_.size());
    for (size_t i = 0; i < rows_.size(); ++i) keys.emplace_back(Text::wide(shownText(rows_[i], iColumn)), i);
    std::stable_sort(keys.begin(), keys.end(), [bDescending](const auto& a, const auto& b) {
        const int r = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.first.c_str(),
                                     static_cast<int>(a.first.size()), b.first.c_str(),
                                     static_cast<int>(b.first.size())) -
                      CSTR_EQUAL;
        return bDescending ? r > 0 : r < 0;
    });
    std::vector<IssueEntry> sorted;
    sorted.reserve(rows_.size());
    for (const auto& k : keys) sorted.push_back(std::move(rows_[k.second]));
    rows_ = std::move(sorted);
}
