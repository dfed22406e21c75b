// Link benchmark: the raw round trip of a name query on a loopback TCP
// connection against the same exchange through the worker hand-off, and the
// processor time the waiting caller spends during a 2000 ms receive time-out.
// Usage: link_bench [--port N] [--count N]   (without --port natively: an
// in-process simulated scale)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#include "sim/SimScale.h"
#include "sim/SimServer.h"
#endif

#include "link/RequestCycle.h"
#include "link/TcpClient.h"

using namespace pesolink;
using Clock = std::chrono::steady_clock;

namespace {

double ThreadCpuMs() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& f) {
        return (static_cast<double>(f.dwHighDateTime) * 4294967296.0 + f.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
#else
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
#endif
}

struct Stats {
    double median, p99, mean;
};

Stats Summarise(std::vector<double> us) {
    std::sort(us.begin(), us.end());
    double sum = 0;
    for (double v : us) sum += v;
    return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)], sum / us.size()};
}

const uint8_t kNameQuery[] = {0xF8, 0x55, 0xCE, 0x01, 0x00, 0x20, 0x20, 0x00};

}  // namespace

int main(int argc, char** argv) {
    int port = 0;
    int count = 2000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--port")) port = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--count")) count = std::atoi(argv[i + 1]);
    }
#ifndef _WIN32
    std::unique_ptr<sim::SimScale> scale;
    std::unique_ptr<sim::SimServer> server;
    if (port == 0) {
        scale = std::make_unique<sim::SimScale>();
        server = std::make_unique<sim::SimServer>(*scale);
        port = server->ListenTcp(0);
    }
#endif
    if (port == 0) {
        std::fprintf(stderr, "link_bench: --port of a simulated scale on 127.0.0.1 is needed\n");
        return 2;
    }

    // Raw: the same client, written and read on this thread.
    TcpClient raw;
    raw.Host = "127.0.0.1";
    raw.Port = static_cast<uint16_t>(port);
    if (raw.Connect() != NetStatus::Ok) {
        std::fprintf(stderr, "link_bench: cannot connect to 127.0.0.1:%d\n", port);
        return 1;
    }
    std::vector<double> rawUs, workerUs;
    uint8_t reply[FrameBufSize + 1];
    for (int i = 0; i < count; ++i) {
        const auto t0 = Clock::now();
        std::size_t taken = 0;
        if (raw.Write(kNameQuery, sizeof kNameQuery) != NetStatus::Ok ||
            raw.ReadAvailable(reply, sizeof reply, taken) != NetStatus::Ok || taken == 0) {
            std::fprintf(stderr, "link_bench: raw exchange %d failed\n", i);
            return 1;
        }
        rawUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    raw.Disconnect();

    // Through the worker: connect, then send + receive as the driver does.
    TRequestCycle cycle;
    TScalesThread& t = cycle.EnsureThread();
    t.Iface = IfaceLan;
    t.Host = "127.0.0.1";
    t.Port = port;
    t.ReadTimeout = 2000;
    if (cycle.RunRequest(ModeConnect) != 0) {
        std::fprintf(stderr, "link_bench: worker connect failed\n");
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        const auto t0 = Clock::now();
        t.Command.Buf[5] = 0x20;
        t.Command.Length = 1;
        if (cycle.SendToLan() != 0 || cycle.ReadFromLan() != 0) {
            std::fprintf(stderr, "link_bench: worker exchange %d failed\n", i);
            return 1;
        }
        workerUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }

    // A receive that gets nothing: an unfinished frame leaves the scale
    // waiting for the rest, so the receive runs to its 2000 ms deadline.
    const uint8_t unfinished[] = {0xF8, 0x55, 0xCE, 0x05, 0x00, 0x20};
    std::memcpy(t.Command.Buf, unfinished, sizeof unfinished);
    t.Command.Length = sizeof unfinished;
    cycle.RunRequest(ModeSend);
    const double cpu0 = ThreadCpuMs();
    const auto w0 = Clock::now();
    const int32_t timedOut = cycle.ReadFromLan();
    const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - w0).count();
    const double cpuMs = ThreadCpuMs() - cpu0;

    const Stats r = Summarise(rawUs), w = Summarise(workerUs);
    const double target = 2 * r.median + 200;
    std::printf("exchanges: %d each\n", count);
    std::printf("raw round trip     median %8.1f us  p99 %8.1f us  mean %8.1f us\n", r.median, r.p99, r.mean);
    std::printf("worker exchange    median %8.1f us  p99 %8.1f us  mean %8.1f us\n", w.median, w.p99, w.mean);
    std::printf("worker/raw median ratio %.2f; target median <= 2 x raw + 200 us = %.1f us: %s\n",
                w.median / r.median, target, w.median <= target ? "met" : "NOT met");
    std::printf("waiting caller: result %d after %.0f ms, caller CPU %.2f ms = %.3f%% of a core: %s\n", timedOut,
                wallMs, cpuMs, 100.0 * cpuMs / wallMs, cpuMs / wallMs < 0.02 ? "met" : "NOT met");
    return 0;
}
