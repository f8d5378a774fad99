#include "framework/StringList.h"

#include <algorithm>

#include "framework/Exception.h"

namespace qvl {

void TStringList::CheckIndex(int index, bool allowEnd) const {
    const int limit = allowEnd ? Count() : Count() - 1;
    if (index < 0 || index > limit)
        throw EStringListError("List index out of bounds (" + std::to_string(index) + ")");
}

int TStringList::Add(const std::string& line) {
    if (!sorted_) {
        lines_.push_back(line);
        return Count() - 1;
    }
    auto at = std::upper_bound(lines_.begin(), lines_.end(), line,
                               [this](const std::string& a, const std::string& b) { return CompareLines(a, b) < 0; });
    at = lines_.insert(at, line);
    return static_cast<int>(at - lines_.begin());
}

int TStringList::CompareLines(const std::string& a, const std::string& b) const { return a.compare(b); }

void TStringList::Put(int index, const std::string& line) {
    if (sorted_) throw EStringListError("Operation not allowed on sorted list");
    CheckIndex(index);
    lines_[static_cast<size_t>(index)] = line;
}

void TStringList::Delete(int index) {
    CheckIndex(index);
    lines_.erase(lines_.begin() + index);
}

void TStringList::Insert(int index, const std::string& line) {
    if (sorted_) throw EStringListError("Operation not allowed on sorted list");
    CheckIndex(index, true);
    lines_.insert(lines_.begin() + index, line);
}

void TStringList::Clear() { lines_.clear(); }

const std::string& TStringList::Get(int index) const {
    CheckIndex(index);
    return lines_[static_cast<size_t>(index)];
}

int TStringList::IndexOf(const std::string& line) const {
    auto it = std::find(lines_.begin(), lines_.end(), line);
    return it == lines_.end() ? -1 : static_cast<int>(it - lines_.begin());
}

std::string TStringList::Text() const {
    std::string text;
    for (const auto& line : lines_) {
        text += line;
        text += "\r\n";
    }
    return text;
}

void TStringList::SetText(const std::string& text) {
    Clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            Add(text.substr(start));
            break;
        }
        Add(text.substr(start, end - start));
        if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
        start = end + 1;
    }
}

void TStringList::SetSorted(bool sorted) {
    if (sorted && !sorted_)
        std::stable_sort(lines_.begin(), lines_.end(),
                         [this](const std::string& a, const std::string& b) { return CompareLines(a, b) < 0; });
    sorted_ = sorted;
}

}  // namespace qvl
