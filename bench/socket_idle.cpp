// How much processor time the socket engine spends while a peer stays silent: the server sends
// a reply header and then nothing for 5 s, while the engine waits in CaptureFile (ended by a
// 5 s time-out). Reports the engine thread's CPU seconds over that wait; a receive loop that
// polled without waiting would use about the whole 5 s. Exits 1 when it is 0.25 s or more.
//
//   build/bench/bench_socket_idle [seconds]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QCoreApplication>

#include "net/socket/SocketEngine.h"
#include "support/ScriptedServer.h"

namespace {

double ThreadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: %s [seconds]\n", argv[0]);
        return 2;
    }
    constexpr double kLimit = 0.25;

    qvl::test::ScriptedServer server(qvl::test::ScriptedServer::Script()
                                         .ReadUntil("\r\n\r\n")
                                         .Send("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n")
                                         .WaitForRelease()
                                         .Close());
    server.SetStepTimeout((seconds + 10) * 1000);

    try {
        qvl::TSocketEngine engine;
        engine.Host = "127.0.0.1";
        engine.Port = server.Port();
        engine.Connect();
        engine.Writeln("GET / HTTP/1.0");
        engine.Writeln("");
        while (engine.ReadLn() != "\r\n") {
        }
        engine.TimeOut = seconds * 1000;
        const double cpuBefore = ThreadCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        try {
            engine.CaptureFile("/dev/null");
        } catch (const qvl::EAbortError&) {
            // The time-out ends the wait; that is the point.
        }
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu = ThreadCpuSeconds() - cpuBefore;
        server.Release();
        std::printf("silent peer for %.2f s: engine CPU %.3f s (limit %.2f s)\n", wall, cpu, kLimit);
        return cpu < kLimit ? 0 : 1;
    } catch (const qvl::Exception& e) {
        std::fprintf(stderr, "bench: %s\n", e.Message().c_str());
        return 1;
    }
}
