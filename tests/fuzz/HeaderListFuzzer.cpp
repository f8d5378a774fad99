// Fuzzes TExStringList::SetHeader and IndexOfHeader. The input is a program of operations run
// on an unsorted list (the way the HTTP client uses it) and on a sorted one side by side, with
// the properties each operation promises checked after every step.
//
// Input: one byte of settings (bit 0: the C.UTF-8 locale instead of "C"), then operations, each
// an opcode byte followed by its length-prefixed texts (a length byte, then up to that many
// bytes of what is left).
#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/Exception.h"
#include "net/http/ExtStrings.h"

namespace {

using qvl::TExStringList;

[[noreturn]] void Fail(const char* what, const std::string& a = {}, const std::string& b = {}) {
    std::fprintf(stderr, "header list property broken: %s [%s] [%s]\n", what, a.c_str(), b.c_str());
    std::abort();
}

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool More() const { return p_ < end_; }
    uint8_t Byte() { return p_ < end_ ? *p_++ : 0; }
    std::string Text() {
        const size_t want = Byte();
        const size_t n = std::min<size_t>(want, static_cast<size_t>(end_ - p_));
        std::string s(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        return s;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

std::vector<std::string> Lines(const TExStringList& list) {
    std::vector<std::string> v;
    for (int i = 0; i < list.Count(); ++i) v.push_back(list.Get(i));
    return v;
}

bool IsAscii(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) {
        return static_cast<unsigned char>(c) < 128 && c != '\0';
    });
}

std::string AsciiLower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

// The comparison must be a consistent order, and for plain ASCII names mean "equal ignoring
// case" in both locales the harness uses.
void CheckCompare(const std::string& a, const std::string& b) {
    const int ab = Sign(qvl::CompareHeaderNames(a, b));
    const int ba = Sign(qvl::CompareHeaderNames(b, a));
    if (ab != -ba) Fail("comparison not antisymmetric", a, b);
    if (qvl::CompareHeaderNames(a, a) != 0) Fail("name not equal to itself", a);
    if (IsAscii(a) && IsAscii(b) && (ab == 0) != (AsciiLower(a) == AsciiLower(b)))
        Fail("ASCII names compared other than ignoring case", a, b);
}

bool NameOf(const std::string& line, std::string& name) {
    const size_t colon = line.find(':');
    name = colon == std::string::npos ? std::string() : line.substr(0, colon);
    return colon != std::string::npos;
}

// Unsorted: the first line with a colon whose name matches; -1 when none does.
void CheckUnsortedIndex(const TExStringList& list, const std::string& name, int got) {
    for (int i = 0; i < list.Count(); ++i) {
        std::string lineName;
        if (!NameOf(list.Get(i), lineName)) continue;
        CheckCompare(lineName, name);
        if (qvl::CompareHeaderNames(lineName, name) == 0) {
            if (got != i) Fail("unsorted IndexOfHeader missed the first match", list.Get(i), name);
            return;
        }
    }
    if (got != -1) Fail("unsorted IndexOfHeader found a line that does not match", name);
}

// Sorted: the list is ordered by the comparison the search halves with, so the search finds the
// first line of that name whenever there is one.
void CheckSortedIndex(const TExStringList& list, const std::string& name, int got) {
    int first = -1;
    for (int i = 0; i < list.Count() && first == -1; ++i) {
        std::string lineName;
        NameOf(list.Get(i), lineName);
        if (qvl::CompareHeaderNames(lineName, name) == 0) first = i;
    }
    if (got != first) Fail("sorted IndexOfHeader did not give the first line of that name", name);
}

void SetOnUnsorted(TExStringList& list, const std::string& name, const std::string& value) {
    const std::vector<std::string> before = Lines(list);
    const int at = list.IndexOfHeader(name);
    CheckUnsortedIndex(list, name, at);
    list.SetHeader(name, value);
    std::vector<std::string> expected = before;
    if (!value.empty()) {
        if (at == -1) expected.push_back(name + ": " + value);
        else expected[static_cast<size_t>(at)] = name + ": " + value;
    } else if (at != -1) {
        expected.erase(expected.begin() + at);
    }
    if (Lines(list) != expected) Fail("SetHeader changed the list other than promised", name, value);
}

void SetOnSorted(TExStringList& list, const std::string& name, const std::string& value) {
    const std::vector<std::string> before = Lines(list);
    try {
        list.SetHeader(name, value);
    } catch (const qvl::EStringListError&) {
        // Setting a header on a sorted list is refused, and a refused call changes nothing.
        if (Lines(list) != before) Fail("refused SetHeader changed the sorted list", name, value);
    }
}

// Ordered by header name, the way it is searched.
void CheckSortedOrder(const TExStringList& list) {
    for (int i = 1; i < list.Count(); ++i) {
        std::string a, b;
        NameOf(list.Get(i - 1), a);
        NameOf(list.Get(i), b);
        if (qvl::CompareHeaderNames(a, b) > 0) Fail("sorted list out of order", a, b);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const uint8_t settings = in.Byte();
    std::setlocale(LC_ALL, (settings & 1) ? "C.UTF-8" : "C");

    TExStringList unsorted;
    TExStringList sorted;
    sorted.SetSorted(true);
    // Bounded, so a long input cannot make one run quadratic in time.
    for (int step = 0; step < 256 && in.More(); ++step) {
        switch (in.Byte() % 5) {
            case 0: {
                const std::string line = in.Text();
                unsorted.Add(line);
                sorted.Add(line);
                break;
            }
            case 1: {
                const std::string name = in.Text();
                const std::string value = in.Text();
                SetOnUnsorted(unsorted, name, value);
                SetOnSorted(sorted, name, value);
                break;
            }
            case 2: {
                const std::string name = in.Text();
                CheckUnsortedIndex(unsorted, name, unsorted.IndexOfHeader(name));
                CheckSortedIndex(sorted, name, sorted.IndexOfHeader(name));
                break;
            }
            case 3: {
                const uint8_t pick = in.Byte();
                if (unsorted.Count() > 0) unsorted.Delete(pick % unsorted.Count());
                if (sorted.Count() > 0) sorted.Delete(pick % sorted.Count());
                break;
            }
            case 4: {
                CheckCompare(in.Text(), in.Text());
                break;
            }
        }
        CheckSortedOrder(sorted);
    }
    return 0;
}
