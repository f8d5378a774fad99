#pragma once
// Small helpers shared by the engine's tests: bounded waits that keep dispatching messages, a
// private temporary folder, and a recorder of status texts.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/socket/SocketEngine.h"
#include "platform/MessageTarget.h"

namespace qvl::test {

// Dispatches messages until `done` holds or `timeoutMs` passes; true when it held.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        platform::Sleep(2);
        platform::ProcessMessages();
    }
    return true;
}

// Dispatches messages for `ms` milliseconds (for checking that something does NOT happen).
inline void PumpFor(int ms) {
    PumpUntil([] { return false; }, ms);
}

inline int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now() - since)
        .count();
}

// Bytes that are not all the same and not text, so that lost, doubled or swapped pieces show.
inline std::string PatternBytes(size_t size, uint32_t seed, bool withLineFeeds = true) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& b : bytes) {
        b = static_cast<char>(random() & 0xFF);
        if (!withLineFeeds && b == '\n') b = 'n';
    }
    return bytes;
}

// A fresh folder below the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::random_device seed;
        path_ = std::filesystem::temp_directory_path() /
                ("qvl-socket-test-" + std::to_string(seed()) + std::to_string(seed()));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

std::string ReadWholeFile(const std::string& path);

// Compares byte strings, telling the sizes and the first difference instead of dumping both.
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected);
void WriteWholeFile(const std::string& path, const std::string& bytes);

// An engine for tests, pointed at 127.0.0.1:port, recording its status texts.
struct StatusLog {
    std::vector<std::string> texts;
    void Attach(TSocketEngine& engine) {
        engine.OnStatus = [this](TObject*, const std::string& s) { texts.push_back(s); };
    }
    bool Contains(const std::string& text) const;
};

}  // namespace qvl::test
