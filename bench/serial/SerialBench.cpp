// Costs of the serial port object on a pseudo-terminal: per-call overhead of the calls the
// bridge makes, throughput of a paced round trip, and the CPU an idle open port takes.
#include "serial/Serial.h"
#include "support/PtyPair.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <ctime>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using testing_support::PtyPair;
using testing_support::ScopedPortName;
using testing_support::TempWorkDir;

namespace {

// A pty under COM9, opened as the bridge opens it.
struct Rig {
    TempWorkDir dir;
    PtyPair pty;
    ScopedPortName name{"COM9", pty.SlavePath()};
    CSerial port;
    bool ok = false;
    Rig() {
        ok = pty.Ok() && port.Open("COM9", 2048, 2048) == 0 &&
             port.Setup(CSerial::baud115200, CSerial::data8, CSerial::parityNone,
                        CSerial::stopOne) == 0 &&
             port.SetupReadTimeouts(CSerial::readBlocking) == 0;
    }
};

// Reads everything the master gets until stopped.
class FarEndReader {
public:
    explicit FarEndReader(int master)
        : thread_([this, master] {
              char buf[65536];
              while (!stop_) {
                  pollfd p{master, POLLIN, 0};
                  if (poll(&p, 1, 20) > 0 && read(master, buf, sizeof buf) > 0)
                      continue;
              }
          }) {}
    ~FarEndReader() {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void BM_ReadQueued(benchmark::State& state) {
    Rig rig;
    if (!rig.ok)
        return state.SkipWithError("no port");
    const auto block = static_cast<CSerial::DWORD>(state.range(0));
    std::vector<char> buf(block);
    const std::string refill(4096, 'r');
    for (auto _ : state) {
        if (rig.port.GetInQueueCount() < block) {
            state.PauseTiming();
            rig.pty.Send(refill);
            testing_support::WaitUntil([&] { return rig.port.GetInQueueCount() >= block; }, 2s);
            state.ResumeTiming();
        }
        CSerial::DWORD count = 0;
        rig.port.Read(buf.data(), block, &count, nullptr, 100);
        benchmark::DoNotOptimize(count);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * block);
}
BENCHMARK(BM_ReadQueued)->Arg(1)->Arg(64)->Arg(2048);

void BM_Write3096(benchmark::State& state) {
    Rig rig;
    if (!rig.ok)
        return state.SkipWithError("no port");
    FarEndReader reader(rig.pty.Master());
    const std::string block(3096, 'w');
    for (auto _ : state) {
        CSerial::DWORD count = 0;
        rig.port.Write(block.data(), static_cast<CSerial::DWORD>(block.size()), &count, nullptr,
                       10000);
        benchmark::DoNotOptimize(count);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 3096);
}
BENCHMARK(BM_Write3096);

// One call of the port on an idle line, again and again.
template <auto Call> void BM_PortCall(benchmark::State& state) {
    Rig rig;
    for (auto _ : state)
        benchmark::DoNotOptimize((rig.port.*Call)());
}
BENCHMARK_TEMPLATE(BM_PortCall, &CSerial::GetInQueueCount)->Name("BM_GetInQueueCount");
BENCHMARK_TEMPLATE(BM_PortCall, &CSerial::Purge)->Name("BM_Purge");
BENCHMARK_TEMPLATE(BM_PortCall, &CSerial::Flush)->Name("BM_Flush");

// The far end echoes what it gets back at 115200 baud (11520 bytes a second, 8N1); the port
// side works like the bridge: write a block, then poll the queue and read what came.
void BM_PacedRoundTrip115200(benchmark::State& state) {
    Rig rig;
    if (!rig.ok)
        return state.SkipWithError("no port");
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        const int master = rig.pty.Master();
        constexpr double kBytesPerSecond = 11520.0;
        auto lineFree = std::chrono::steady_clock::now();
        char buf[256];
        while (!stop) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0)
                continue;
            auto now = std::chrono::steady_clock::now();
            if (lineFree < now)
                lineFree = now;
            lineFree += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(static_cast<double>(n) / kBytesPerSecond));
            std::this_thread::sleep_until(lineFree);
            rig.pty.Send(std::string(buf, static_cast<std::size_t>(n)));
        }
    });
    const std::string block(1152, 'e'); // 100 ms of line time
    std::vector<char> in(4096);
    std::int64_t moved = 0;
    for (auto _ : state) {
        CSerial::DWORD count = 0;
        rig.port.Write(block.data(), static_cast<CSerial::DWORD>(block.size()), &count, nullptr,
                       10000);
        std::size_t got = 0;
        auto deadline = std::chrono::steady_clock::now() + 5s;
        while (got < block.size() && std::chrono::steady_clock::now() < deadline) {
            CSerial::DWORD queued = rig.port.GetInQueueCount();
            if (queued == 0) {
                std::this_thread::sleep_for(1ms);
                continue;
            }
            rig.port.Read(in.data(), std::min<CSerial::DWORD>(queued, 4096), &count, nullptr, 100);
            got += count;
        }
        moved += static_cast<std::int64_t>(got);
    }
    stop = true;
    echo.join();
    state.SetBytesProcessed(moved);
    state.counters["line_rate_share"] =
        benchmark::Counter(static_cast<double>(moved) / 11520.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PacedRoundTrip115200)->Iterations(10)->UseRealTime()->Unit(benchmark::kMillisecond);

// CPU taken by the process while one port stays open and idle for the measured time.
void BM_IdleOpenPort(benchmark::State& state) {
    Rig rig;
    if (!rig.ok)
        return state.SkipWithError("no port");
    double cpu = 0;
    for (auto _ : state) {
        double before = ProcessCpuSeconds();
        std::this_thread::sleep_for(1s);
        cpu += ProcessCpuSeconds() - before;
    }
    state.counters["cpu_share"] = cpu / static_cast<double>(state.iterations());
}
BENCHMARK(BM_IdleOpenPort)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
