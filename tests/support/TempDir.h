#pragma once
// A private temporary folder that is removed with everything in it when the owner goes away.
#include <filesystem>
#include <string>
#include <string_view>

namespace qvl::test {

class TempDir {
public:
    // Creates a fresh folder below $TMPDIR (or /tmp) whose name starts with `prefix`.
    // Throws std::runtime_error when the folder cannot be made.
    explicit TempDir(std::string_view prefix = "qvl-test");
    ~TempDir();
    TempDir(TempDir&& other) noexcept;
    TempDir& operator=(TempDir&& other) noexcept;
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& relative) const { return path_ / relative; }

    // Writes `bytes` to Path()/relative, creating the folders on the way; returns the full path.
    std::filesystem::path WriteFile(const std::filesystem::path& relative, std::string_view bytes) const;

private:
    void Remove() noexcept;
    std::filesystem::path path_;
};

// The platform's file that takes every byte and keeps none ("/dev/null", "NUL").
std::string NullDevice();

// Whole content of a file (throws std::runtime_error when it cannot be read); and the reverse,
// creating the folders on the way.
std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, std::string_view bytes);
// The whole content, or "" when there is no such file (yet): a log a program has not written.
std::string ReadFileOrEmpty(const std::filesystem::path& path);

}  // namespace qvl::test
