#include "work/IssueModel.h"

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <numeric>
#include <string_view>
#include <unordered_map>

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
    for (IssueEntry& row : rows) row.id = ++nextId_;
    if (rows_.empty()) {
        rows_ = std::move(rows);
        return first;
    }
    rows_.reserve(first + rows.size());
    std::move(rows.begin(), rows.end(), std::back_inserter(rows_));
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
    const auto row = rowWith(id);
    return row == rows_.end() ? std::nullopt : std::optional<IssueEntry>(*row);
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
    const auto row = rowWith(id);
    return row != rows_.end() && row->ticked;
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
    const auto row = rowWith(id);
    if (row != rows_.end())
        row->status = sStatus;
}

bool IssueModel::remove(uint32_t id) {
    Lock lock(lock_);
    const auto row = rowWith(id);
    if (row == rows_.end())
        return false;
    rows_.erase(row);
    return true;
}

std::vector<IssueEntry>::iterator IssueModel::rowWith(uint32_t id) {
    return std::find_if(rows_.begin(), rows_.end(), [id](const IssueEntry& r) { return r.id == id; });
}

std::vector<IssueEntry>::const_iterator IssueModel::rowWith(uint32_t id) const {
    return std::find_if(rows_.begin(), rows_.end(), [id](const IssueEntry& r) { return r.id == id; });
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
    // A column holds few distinct texts (ten magazines for 100,000 issues):
    // the locale compares those once, and the rows are dealt out by rank,
    // keeping their order within one.
    // Keyed by the stored text, which the shown one is made from: only the
    // distinct ones are made into shown text.
    static const std::string none;
    const auto stored = [iColumn](const IssueEntry& e) -> const std::string& {
        switch (iColumn) {
            case colTitle: return e.title;
            case colIssue: return e.issue;
            case colMagazine: return e.magazine;
            case colStatus: return e.status;
            case colSize: return e.size;
            case colRecord: return e.record;
            default: return none;
        }
    };
    std::unordered_map<std::string_view, size_t> slotOf;
    std::vector<std::wstring> distinct;
    std::vector<size_t> rowSlot(rows_.size());
    for (size_t i = 0; i < rows_.size(); ++i) {
        const auto [slot, added] = slotOf.emplace(stored(rows_[i]), distinct.size());
        if (added)
            distinct.push_back(Text::wide(shownText(rows_[i], iColumn)));
        rowSlot[i] = slot->second;
    }
    const auto compare = [&distinct](size_t a, size_t b) {
        return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, distinct[a].c_str(),
                              static_cast<int>(distinct[a].size()), distinct[b].c_str(),
                              static_cast<int>(distinct[b].size())) -
               CSTR_EQUAL;
    };
    std::vector<size_t> byText(distinct.size());
    std::iota(byText.begin(), byText.end(), size_t{0});
    std::sort(byText.begin(), byText.end(), [&compare](size_t a, size_t b) { return compare(a, b) < 0; });
    // Texts the locale holds equal ("abc", "ABC") share a rank.
    std::vector<size_t> rankOf(distinct.size());
    size_t ranks = 0;
    for (size_t k = 0; k < byText.size(); ++k) {
        if (k == 0 || compare(byText[k - 1], byText[k]) != 0)
            ++ranks;
        rankOf[byText[k]] = ranks - 1;
    }
    if (bDescending)
        for (size_t& rank : rankOf) rank = ranks - 1 - rank;
    std::vector<size_t> firstOf(ranks + 1, 0);
    for (size_t slot : rowSlot) ++firstOf[rankOf[slot] + 1];
    std::partial_sum(firstOf.begin(), firstOf.end(), firstOf.begin());
    std::vector<size_t> order(rows_.size());
    for (size_t i = 0; i < rows_.size(); ++i) order[firstOf[rankOf[rowSlot[i]]]++] = i;
    std::vector<IssueEntry> sorted;
    sorted.reserve(rows_.size());
    for (size_t i : order) sorted.push_back(std::move(rows_[i]));
    rows_ = std::move(sorted);
}
