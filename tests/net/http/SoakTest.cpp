// One client, thousands of commands against a real nginx: nothing may pile up from one command
// to the next (descriptors, memory), and every body must arrive byte for byte.
#include "support/PlatformSkip.h"
#if QVL_TEST_LINUX
#include "HttpTestSupport.h"

#include <filesystem>
#include <fstream>

#include "support/NginxFixture.h"

using namespace qvl;
using namespace qvl::httptest;
using qvl::test::NginxFixture;

namespace {

size_t OpenDescriptors() {
    size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++n;
    }
    return n;
}

// Resident set size in KiB.
long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

}  // namespace

TEST(Soak, TwoThousandGetsOnOneClient) {
    if (!NginxFixture::Available()) GTEST_SKIP() << "nginx is not installed";
    NginxFixture nginx;
    // Sizes around the chunk size and the socket buffers, and an empty file.
    const uint64_t sizes[] = {0, 1, 1500, 65535, 65536, 65537, 200000};
    std::vector<std::string> names, bodies;
    for (size_t i = 0; i < std::size(sizes); ++i) {
        names.push_back("file" + std::to_string(i) + ".bin");
        bodies.push_back(qvl::test::GeneratedBytes(sizes[i], static_cast<uint32_t>(i + 1)));
        nginx.WriteFile(names.back(), bodies.back());
    }
    ScratchDir dir;
    const std::string bodyFile = dir.File("body.bin");

    THttpClient client;
    client.TimeOut = 10000;  // bounds every command should one go wrong
    int successes = 0, mismatches = 0;
    client.OnSuccess = [&](CmdType) { ++successes; };
    client.OnFailure = [&](CmdType) { ADD_FAILURE() << "failure status " << client.ReplyCode; };

    // Every seventh command goes into a file, the others into the Body text.
    auto run = [&](int i) {
        const size_t k = static_cast<size_t>(i) % names.size();
        client.InputFileMode = i % 7 == 0;
        client.Body = client.InputFileMode ? bodyFile : "";
        client.Get(nginx.Url(names[k]));
        const std::string got = client.InputFileMode ? ReadFile(bodyFile) : client.Body;
        if (got != bodies[k] && ++mismatches <= 5) ADD_FAILURE() << "command " << i << ": body of " << names[k] << " differs";
    };

    constexpr int kWarmUp = 100, kCommands = 2000;
    for (int i = 0; i < kWarmUp; ++i) run(i);
    const size_t fdsBefore = OpenDescriptors();
    const long rssBefore = ResidentKiB();
    for (int i = kWarmUp; i < kWarmUp + kCommands; ++i) run(i);
    const size_t fdsAfter = OpenDescriptors();
    const long rssAfter = ResidentKiB();

    EXPECT_EQ(successes, kWarmUp + kCommands);
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(fdsAfter, fdsBefore);
    EXPECT_FALSE(client.Connected);
    EXPECT_EQ(nginx.Requests(kWarmUp + kCommands).size(), static_cast<size_t>(kWarmUp + kCommands));
    // AddressSanitizer keeps freed memory in quarantine, so only a plain build can tell.
    if (!kAddressSanitizer) {
        EXPECT_LT(rssAfter - rssBefore, 2048) << rssBefore << " KiB -> " << rssAfter << " KiB";
    }
}

#else
QVL_TESTS_SKIPPED_HERE(Soak, "nginx runs on the Linux side")
#endif
