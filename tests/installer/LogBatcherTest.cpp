// The log's one batching policy, against a fake host: a line after a quiet spell is written at
// once, the lines of a burst go in one write per tick, a tick without lines stops the timer, and
// nothing is lost or reordered on the way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/LogBatcher.h"

namespace qvl {
namespace {

using Lines = std::vector<std::string>;

// What the host saw: each write's lines, and the timer's state.
struct FakeHost {
    std::vector<Lines> writes;
    bool timerRunning = false;
    int timerStarts = 0;
    unsigned interval = 0;
    bool refuseTimer = false;

    LogBatcher::Host Host() {
        return LogBatcher::Host{[this](const Lines& lines) { writes.push_back(lines); },
                                [this](unsigned ms) {
                                    if (refuseTimer) return false;
                                    ++timerStarts;
                                    interval = ms;
                                    timerRunning = true;
                                    return true;
                                },
                                [this] { timerRunning = false; }};
    }

    Lines All() const {
        Lines all;
        for (const Lines& w : writes) all.insert(all.end(), w.begin(), w.end());
        return all;
    }
};

TEST(LogBatcher, TheFirstLineGoesInAtOnceAndTheRestOfABurstWithTheNextTick) {
    FakeHost host;
    LogBatcher log(host.Host());
    log.Add("first");
    EXPECT_EQ(host.writes, (std::vector<Lines>{{"first"}}));
    EXPECT_TRUE(host.timerRunning);
    EXPECT_EQ(host.interval, LogBatcher::kIntervalMs);

    for (int i = 0; i < 100; ++i) log.Add("line " + std::to_string(i));
    EXPECT_EQ(host.writes.size(), 1u) << "a burst waits for the tick";
    EXPECT_EQ(log.Pending().size(), 100u);
    EXPECT_EQ(log.Pending().front(), "line 0");

    log.Tick();
    ASSERT_EQ(host.writes.size(), 2u);
    EXPECT_EQ(host.writes[1].size(), 100u) << "the whole burst in one write";
    EXPECT_EQ(host.writes[1].back(), "line 99");
    EXPECT_TRUE(log.Pending().empty());
    EXPECT_TRUE(host.timerRunning) << "one tick without lines is still part of the burst";
    EXPECT_EQ(host.timerStarts, 1);
}

TEST(LogBatcher, ATickWithoutLinesStopsTheTimerAndTheNextLineIsAtOnceAgain) {
    FakeHost host;
    LogBatcher log(host.Host());
    log.Add("a");
    log.Add("b");
    log.Tick();  // writes "b"
    log.Tick();  // nothing came: idle
    EXPECT_FALSE(host.timerRunning);
    log.Tick();  // a late tick of a stopped timer changes nothing
    EXPECT_FALSE(host.timerRunning);

    log.Add("c");
    EXPECT_EQ(host.writes, (std::vector<Lines>{{"a"}, {"b"}, {"c"}}));
    EXPECT_TRUE(host.timerRunning);
    EXPECT_EQ(host.timerStarts, 2);
}

TEST(LogBatcher, FlushWritesWhatWaitsAndClearForgetsIt) {
    FakeHost host;
    LogBatcher log(host.Host());
    log.Flush();
    EXPECT_TRUE(host.writes.empty()) << "nothing to write, no empty write";
    log.Add("kept 1");
    log.Add("kept 2");
    log.Add("kept 3");
    log.Flush();  // before a box, a close, a picture
    EXPECT_EQ(host.All(), (Lines{"kept 1", "kept 2", "kept 3"}));
    log.Add("dropped");
    log.Clear();
    log.Tick();
    log.Add("after");
    log.Tick();
    EXPECT_EQ(host.All(), (Lines{"kept 1", "kept 2", "kept 3", "after"}));
}

// Lines interleaved with ticks at random arrive all, once each, in their order.
TEST(LogBatcher, EveryLineArrivesOnceInOrderWhateverTheTicks) {
    FakeHost host;
    LogBatcher log(host.Host());
    Lines expected;
    unsigned seed = 7;
    for (int i = 0; i < 2000; ++i) {
        seed = seed * 1103515245u + 12345u;
        if ((seed >> 16) % 3 == 0) log.Tick();
        expected.push_back("Max=131072000  file posistion=" + std::to_string(i * 65536));
        log.Add(expected.back());
    }
    log.Flush();
    EXPECT_EQ(host.All(), expected);
    EXPECT_LT(host.writes.size(), expected.size() / 2) << "written nearly line by line";
}

TEST(LogBatcher, WithoutATimerEveryLineIsWrittenAsItComes) {
    FakeHost host;
    host.refuseTimer = true;
    LogBatcher log(host.Host());
    log.Add("one");
    log.Add("two");
    EXPECT_EQ(host.writes, (std::vector<Lines>{{"one"}, {"two"}}));
    EXPECT_TRUE(log.Pending().empty());
}

}  // namespace
}  // namespace qvl
