// TThreadTimer's setter rules: a system timer runs exactly while Enabled, Interval > 0 and
// OnTimer hold; setting a property to its current value keeps a running timer's period.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <vector>

#include "EngineTestSupport.h"
#include "framework/Application.h"
#include "net/socket/ThreadTimer.h"

#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#endif

namespace qvl {
namespace {

using enginetest::PumpFor;
using enginetest::PumpUntil;

TEST(ThreadTimer, StartsOnlyWithIntervalEnabledAndHandler) {
    TThreadTimer timer;
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000u);
    EXPECT_FALSE(timer.Running());

    int ticks = 0;
    timer.SetInterval(0);
    timer.SetOnTimer([&](TObject* sender) {
        EXPECT_EQ(sender, &timer);
        ++ticks;
    });
    EXPECT_FALSE(timer.Running());
    PumpFor(100);
    EXPECT_EQ(ticks, 0);

    timer.SetInterval(10);
    EXPECT_TRUE(timer.Running());
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }, 3000)) << "a periodic timer keeps ticking";

    timer.SetEnabled(false);
    EXPECT_FALSE(timer.Running());
    const int stopped = ticks;
    PumpFor(100);
    EXPECT_EQ(ticks, stopped);

    timer.SetOnTimer(nullptr);
    timer.SetEnabled(true);
    EXPECT_FALSE(timer.Running());
}

TEST(ThreadTimer, SameValueAgainKeepsTheRunningPeriod) {
    TThreadTimer timer;
    int ticks = 0;
    timer.SetInterval(150);
    timer.SetOnTimer([&](TObject*) { ++ticks; });

    // Setting Enabled and Interval to their current values every 20 ms would never let a
    // 150 ms timer fire if it restarted the timer.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(PumpUntil(
        [&] {
            timer.SetEnabled(true);
            timer.SetInterval(150);
            return ticks > 0;
        },
        3000));
    EXPECT_LT(enginetest::ElapsedMs(start), 3000);
}

TEST(ThreadTimer, OffAndOnAgainRestartsThePeriod) {
    TThreadTimer timer;
    int ticks = 0;
    timer.SetInterval(150);
    timer.SetOnTimer([&](TObject*) { ++ticks; });
    // Switching off and on every few ms restarts the period each time, so it never elapses.
    const auto start = std::chrono::steady_clock::now();
    while (enginetest::ElapsedMs(start) < 500) {
        timer.SetEnabled(false);
        timer.SetEnabled(true);
        platform::Sleep(2);
        platform::ProcessMessages();
    }
    EXPECT_EQ(ticks, 0);
    EXPECT_TRUE(PumpUntil([&] { return ticks > 0; }, 3000));
}

TEST(ThreadTimer, RaisingHandlerIsReportedAndLaterTicksStillRun) {
    std::vector<std::string> shown;
    Application::SetExceptionDisplay([&](const std::string& text) { shown.push_back(text); });
    {
        TThreadTimer timer;
        int ticks = 0;
        timer.SetInterval(10);
        timer.SetOnTimer([&](TObject*) {
            ++ticks;
            throw Exception("tick failed");
        });
        EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }, 3000));
        timer.SetEnabled(false);
    }
    Application::SetExceptionDisplay(nullptr);
    ASSERT_GE(shown.size(), 3u);
    EXPECT_NE(shown[0].find("tick failed"), std::string::npos);
}

#ifdef _WIN32
// The class names of the message-only windows of this process that `before` does not hold.
std::multiset<std::string> NewHiddenWindowClasses(const std::set<HWND>& before, std::set<HWND>* now = nullptr) {
    std::set<HWND> all;
    for (HWND w = FindWindowExA(HWND_MESSAGE, nullptr, nullptr, nullptr); w;
         w = FindWindowExA(HWND_MESSAGE, w, nullptr, nullptr)) {
        DWORD process = 0;
        GetWindowThreadProcessId(w, &process);
        if (process == GetCurrentProcessId()) all.insert(w);
    }
    std::multiset<std::string> classes;
    for (HWND w : all) {
        if (before.count(w)) continue;
        char name[256] = {};
        classes.insert(std::string(name, static_cast<size_t>(GetClassNameA(w, name, sizeof name))));
    }
    if (now) *now = std::move(all);
    return classes;
}

// A timer's hidden window is of class "TmrWindowClass", an engine's notification window of
// "SocketWindowClass"; an engine has both, its time-out timer's and its own.
TEST(HiddenWindows, TimersAndEnginesHaveTheirOwnWindowClasses) {
    std::set<HWND> before;
    NewHiddenWindowClasses({}, &before);
    {
        TThreadTimer timer;
        EXPECT_EQ(NewHiddenWindowClasses(before), (std::multiset<std::string>{"TmrWindowClass"}));
    }
    {
        TSocketEngine engine;
        EXPECT_EQ(NewHiddenWindowClasses(before),
                  (std::multiset<std::string>{"SocketWindowClass", "TmrWindowClass"}));
    }
    EXPECT_TRUE(NewHiddenWindowClasses(before).empty()) << "the windows go with their owners";
}
#endif

}  // namespace
}  // namespace qvl
