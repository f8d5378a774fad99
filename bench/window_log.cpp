// What the window pays for a download's progress lines: the installer's view (offscreen, shown)
// gets the lines of a 1 GiB download, one per 64 KiB chunk, with the event queue dispatched
// after each line as the receive loop does, and the progress bar set as the transfer handler
// sets it. Prints the processor time per GiB.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_window_log [lines]
#include <QApplication>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "installer/linux/MainWindowView.h"
#include "platform/MessageTarget.h"

namespace {

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const long lines = argc > 1 ? std::atol(argv[1]) : 16384;
    if (lines <= 0) {
        std::fprintf(stderr, "usage: %s [lines]\n", argv[0]);
        return 2;
    }
    constexpr long long kChunk = 65536;
    const long long total = lines * kChunk;
    qvl::MainWindowView view;
    view.show();
    QApplication::processEvents();
    view.SetProgressVisible(true);
    view.SetProgressMax(static_cast<int32_t>(total >> 1));

    const double before = CpuSeconds();
    for (long i = 1; i <= lines; ++i) {
        view.SetProgressPosition(static_cast<int32_t>((i * kChunk) >> 1));
        view.AppendLog("Max=" + std::to_string(total) + "  file posistion=" + std::to_string(i * kChunk));
        qvl::platform::ProcessMessages();
    }
    const double cpu = CpuSeconds() - before;
    std::printf("%ld progress lines: %.2f s CPU (%.2f s per GiB)\n", lines, cpu,
                cpu * static_cast<double>(1LL << 30) / static_cast<double>(total));
    return 0;
}
