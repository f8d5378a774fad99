#pragma once
// The installer writes one "Max=...  file posistion=..." line per received chunk; how many depends
// on how the bytes arrive. These turn a log into something a test can compare exactly.
#include <cstddef>
#include <regex>
#include <string>
#include <vector>

namespace qvl::test {

inline bool IsProgressLine(const std::string& line) {
    static const std::regex shape("Max=-?[0-9]+  file posistion=[0-9]+");
    return std::regex_match(line, shape);
}

// Each run of progress lines becomes its last line: how far the download got.
inline std::vector<std::string> CollapsedProgress(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        if (IsProgressLine(line) && !out.empty() && IsProgressLine(out.back())) out.back() = line;
        else out.push_back(line);
    }
    return out;
}

// The last progress line of a download of `size` bytes that announced its length.
inline std::string FinishedProgress(size_t size) {
    return "Max=" + std::to_string(size) + "  file posistion=" + std::to_string(size);
}

}  // namespace qvl::test
