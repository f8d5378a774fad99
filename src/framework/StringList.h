#pragma once
// TStringList: an ordered list of byte-string lines, unsorted or sorted.
#include <string>
#include <vector>

namespace qvl {

class TStringList {
public:
    TStringList() = default;
    virtual ~TStringList() = default;
    TStringList(const TStringList&) = default;
    TStringList& operator=(const TStringList&) = default;

    // Appends a line (unsorted) or inserts it at its sorted place; returns its index.
    virtual int Add(const std::string& line);
    // Replaces line `index`. Raises EStringListError "Operation not allowed on sorted list" on a
    // sorted list and "List index out of bounds (%d)" for a bad index.
    virtual void Put(int index, const std::string& line);
    // Removes line `index`; raises "List index out of bounds (%d)" for a bad index.
    virtual void Delete(int index);
    virtual void Insert(int index, const std::string& line);
    virtual void Clear();

    int Count() const { return static_cast<int>(lines_.size()); }
    // Raises "List index out of bounds (%d)" for a bad index.
    const std::string& Get(int index) const;
    const std::string& operator[](int index) const { return Get(index); }
    int IndexOf(const std::string& line) const;

    // Every line followed by CR LF.
    std::string Text() const;
    // Replaces the content by the lines of `text` (split at CR LF, LF or CR).
    void SetText(const std::string& text);

    bool Sorted() const { return sorted_; }
    // Switching sorting on sorts the lines (by CompareLines).
    void SetSorted(bool sorted);

protected:
    // The order of a sorted list: negative, zero or positive like strcmp. Byte order here; a
    // list that searches by another order sorts by that one too.
    virtual int CompareLines(const std::string& a, const std::string& b) const;

private:
    void CheckIndex(int index, bool allowEnd = false) const;

    std::vector<std::string> lines_;
    bool sorted_ = false;
};

}  // namespace qvl
