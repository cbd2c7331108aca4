// CRC-32 throughput: the per-byte table (the definition) against the fast path the build job
// uses, over the job's 1 MiB pieces and over small pieces. Prints GB (10^9 bytes) a second of CPU
// time ("GB=12.3/s").
// Natively through Google Benchmark; the Windows build has no such library and times a plain loop
// by the thread's CPU time.

#include <cstdint>
#include <cstdio>
#include <vector>

#include "package/crc32.h"

#ifdef TESSALY_GOOGLE_BENCHMARK
#include <benchmark/benchmark.h>
#elif defined(_WIN32)
#include <windows.h>
#else
#include <ctime>
#endif

namespace {

using Update = void (*)(const uint8_t*, uint32_t&, uint64_t);

std::vector<uint8_t> Bytes(size_t length) {
    std::vector<uint8_t> data(length);
    uint32_t x = 2463534242u;
    for (auto& b : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return data;
}

#ifdef TESSALY_GOOGLE_BENCHMARK

void Crc32(benchmark::State& state, Update update) {
    const auto data = Bytes(static_cast<size_t>(state.range(0)));
    uint32_t crc = 0;
    for (auto _ : state) {
        update(data.data(), crc, data.size());
        benchmark::DoNotOptimize(crc);
    }
    state.counters["GB"] = benchmark::Counter(static_cast<double>(data.size()) / 1e9,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK_CAPTURE(Crc32, reference, &tessaly::Crc32UpdateReference)->Arg(1 << 20);
BENCHMARK_CAPTURE(Crc32, fast, &tessaly::Crc32Update)->Arg(1 << 20)->Arg(64 << 10)->Arg(4 << 10);

}  // namespace

int main(int argc, char** argv) {
    benchmark::AddCustomContext("crc32_fast_path", tessaly::Crc32Implementation());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#else

volatile uint32_t s_crcSink;  // keeps the loop from being optimised away

// CPU time of this thread, so that other load on the machine does not count.
double CpuSeconds() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
#else
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
#endif
}

double GigabytesPerSecond(Update update, const std::vector<uint8_t>& data) {
    uint32_t crc = 0;
    uint64_t bytes = 0;
    const double start = CpuSeconds();
    double seconds = 0;
    while (seconds < 1.0) {
        update(data.data(), crc, data.size());
        bytes += data.size();
        seconds = CpuSeconds() - start;
    }
    s_crcSink = crc;
    return static_cast<double>(bytes) / seconds / 1e9;
}

}  // namespace

int main() {
    const auto piece = Bytes(1 << 20);
    std::printf("crc32 fast path: %s\n", tessaly::Crc32Implementation());
    std::printf("Crc32/reference/1048576  %6.2f GB/s\n", GigabytesPerSecond(&tessaly::Crc32UpdateReference, piece));
    std::printf("Crc32/fast/1048576       %6.2f GB/s\n", GigabytesPerSecond(&tessaly::Crc32Update, piece));
    return 0;
}

#endif
