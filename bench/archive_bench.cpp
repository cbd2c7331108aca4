// Builds a synthetic nested archive of about 160 MB in a temporary file, applies 1,000 member
// replacements, streams the rebuilt archive out in 1 MiB pieces and compares that with a plain
// read()/write() copy of as many bytes. Prints times, rates and peak memory.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/archive_node.h"
#include "archive/archive_patch.h"
#include "archive/archive_writer.h"

namespace {

using tessaly::ArchiveMember;
using tessaly::ArchiveNode;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kChunkBytes = 1024 * 1024;
constexpr int kLevels = 5;
constexpr int kReplacements = 1000;
constexpr int kRounds = 10;

// Per level (1 = root): nested archives, leaves, and the leaves' size range.
struct LevelShape {
    int archives;
    int leaves;
    uint32_t minLeaf;
    uint32_t maxLeaf;
};
constexpr LevelShape kShape[kLevels] = {
    {10, 4, 1 << 20, 4 << 20},
    {3, 4, 512 << 10, 2 << 20},
    {3, 6, 64 << 10, 512 << 10},
    {4, 8, 1 << 10, 64 << 10},
    {0, 12, 1 << 10, 8 << 10},
};

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// CPU time of this thread, user and system: unlike wall time it barely moves when other
// processes compete for the machine.
double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Timing {
    double wall = 1e30;
    double cpu = 1e30;
    void Keep(double w, double c) {
        wall = std::min(wall, w);
        cpu = std::min(cpu, c);
    }
};

double MiB(uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Lowers the peak-RSS mark to the current RSS (Linux), so the peak counts only what follows.
bool ResetPeakRss() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

std::vector<uint8_t> NoiseBytes(size_t length, std::mt19937_64& random) {
    std::vector<uint8_t> out(length);
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        const uint64_t word = random();
        for (int b = 0; b < 8; ++b) out[i + b] = static_cast<uint8_t>(word >> (8 * b));
    }
    for (; i < length; ++i) out[i] = static_cast<uint8_t>(random());
    return out;
}

uint32_t Between(std::mt19937_64& random, uint32_t low, uint32_t high) {
    return low + static_cast<uint32_t>(random() % (uint64_t{high} - low + 1));
}

// One archive at `level` (2..5), fully in memory, deterministic from `seed`.
std::vector<uint8_t> BuildArchive(int level, uint64_t seed) {
    std::mt19937_64 random(seed);
    const LevelShape& shape = kShape[level - 1];
    std::vector<ArchiveMember> members;
    for (int i = 0; i < shape.archives; ++i)
        members.push_back({"arc" + std::to_string(i), 0, BuildArchive(level + 1, random())});
    for (int i = 0; i < shape.leaves; ++i)
        members.push_back({"leaf" + std::to_string(i), 0, NoiseBytes(Between(random, shape.minLeaf, shape.maxLeaf), random)});
    return tessaly::WriteArchive(members, {0x12345678u, 16});
}

void WriteAll(int fd, const uint8_t* data, size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n <= 0) throw std::runtime_error("write failed");
        data += n;
        length -= static_cast<size_t>(n);
    }
}

// The root is written member by member, so the 160 MB never sit in memory at once: each level-2
// archive is built twice from its seed, once for its size and once for its bytes.
uint64_t WriteSyntheticArchive(const std::filesystem::path& path) {
    std::mt19937_64 random(2024);
    const LevelShape& shape = kShape[0];
    std::vector<uint64_t> seeds;
    std::vector<tessaly::ArchiveMemberSpec> entries;
    for (int i = 0; i < shape.archives; ++i) {
        seeds.push_back(random());
        entries.push_back({"arc" + std::to_string(i), 0, BuildArchive(2, seeds.back()).size()});
    }
    for (int i = 0; i < shape.leaves; ++i) {
        seeds.push_back(random());
        entries.push_back({"leaf" + std::to_string(i), 0, Between(random, shape.minLeaf, shape.maxLeaf)});
    }
    const tessaly::ArchiveLayout layout = tessaly::LayOutArchive(entries, {0x12345678u, 16});

    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path.string());
    WriteAll(fd, layout.header.data(), layout.header.size());
    uint64_t position = layout.header.size();
    const std::vector<uint8_t> zeros(ArchiveNode::kAlignment, 0);
    for (size_t i = 0; i < entries.size(); ++i) {
        WriteAll(fd, zeros.data(), layout.memberOffsets[i] - position);
        std::mt19937_64 leafRandom(seeds[i]);
        const auto bytes = static_cast<int>(i) < shape.archives ? BuildArchive(2, seeds[i])
                                                                 : NoiseBytes(entries[i].size, leafRandom);
        WriteAll(fd, bytes.data(), bytes.size());
        position = layout.memberOffsets[i] + bytes.size();
    }
    WriteAll(fd, zeros.data(), layout.archiveSize - position);
    ::close(fd);
    return layout.archiveSize;
}

struct Census {
    uint64_t members = 0;
    uint32_t deepestArchive = 0;
    std::vector<std::vector<uint32_t>> leafPaths;
};

void Count(const ArchiveNode& node, std::vector<uint32_t>& path, uint32_t level, Census& census) {
    if (!node.IsArchive()) {
        if (!path.empty()) census.leafPaths.push_back(path);
        return;
    }
    census.deepestArchive = std::max(census.deepestArchive, level);
    for (uint32_t k = 1; k <= node.memberCount; ++k) {
        ++census.members;
        path.push_back(k);
        Count(*node.Child(k), path, level + 1, census);
        path.pop_back();
    }
}

// Patch records for 1,000 leaves picked across the tree, contents 2 to 60 KiB like the
// package's compressed members.
std::vector<uint8_t> MakeRecords(std::vector<std::vector<uint32_t>> leafPaths, uint64_t& contentBytes) {
    std::mt19937_64 random(7);
    std::shuffle(leafPaths.begin(), leafPaths.end(), random);
    leafPaths.resize(std::min<size_t>(leafPaths.size(), kReplacements));
    std::sort(leafPaths.begin(), leafPaths.end());
    std::vector<tessaly::ArchivePatchInput> inputs;
    contentBytes = 0;
    for (auto& path : leafPaths) {
        inputs.push_back({path, NoiseBytes(Between(random, 2 << 10, 60 << 10), random)});
        contentBytes += inputs.back().content.size();
    }
    return tessaly::EncodeArchivePatchRecords(inputs);
}

void StreamArchive(ArchiveNode& root, const std::filesystem::path& out, std::vector<uint8_t>& buffer, Timing& timing) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + out.string());
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuSeconds();
    uint64_t left = root.size;
    while (left > 0) {
        const auto want = static_cast<uint32_t>(std::min<uint64_t>(left, kChunkBytes));
        const uint32_t got = root.Read(buffer.data(), want);
        if (got != want) throw std::runtime_error("short read from the archive tree");
        WriteAll(fd, buffer.data(), got);
        left -= got;
    }
    timing.Keep(Seconds(start), ThreadCpuSeconds() - cpuStart);
    ::fsync(fd);  // no dirty pages left to slow down the next run
    ::close(fd);
}

void PlainCopy(const std::filesystem::path& in, const std::filesystem::path& out, uint64_t bytes,
               std::vector<uint8_t>& buffer, Timing& timing) {
    const int source = ::open(in.c_str(), O_RDONLY);
    const int target = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (source < 0 || target < 0) throw std::runtime_error("cannot open the copy's files");
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuSeconds();
    uint64_t left = bytes;
    while (left > 0) {
        const ssize_t n = ::read(source, buffer.data(), static_cast<size_t>(std::min<uint64_t>(left, kChunkBytes)));
        if (n < 0) throw std::runtime_error("read failed");
        if (n == 0) {  // the rebuilt archive may be longer than the source: start over
            ::lseek(source, 0, SEEK_SET);
            continue;
        }
        WriteAll(target, buffer.data(), static_cast<size_t>(n));
        left -= static_cast<uint64_t>(n);
    }
    timing.Keep(Seconds(start), ThreadCpuSeconds() - cpuStart);
    ::fsync(target);
    ::close(source);
    ::close(target);
}

}  // namespace

int main() {
    const auto dir = std::filesystem::temp_directory_path() / ("tessaly-archive-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto source = dir / "source.dat";
    const auto output = dir / "rebuilt.dat";
    try {
        auto start = Clock::now();
        const uint64_t sourceSize = WriteSyntheticArchive(source);
        std::printf("synthetic archive      %.1f MiB written in %.2f s\n", MiB(sourceSize), Seconds(start));

        // The records stand for the patch package: built before the measured part begins.
        uint64_t contentBytes = 0;
        std::vector<uint8_t> records;
        {
            ArchiveNode census(source, 0, static_cast<uint32_t>(sourceSize));
            Census counted;
            std::vector<uint32_t> path;
            Count(census, path, 1, counted);
            std::printf("members                %llu, archives nested %u deep, %zu leaves\n",
                        static_cast<unsigned long long>(counted.members), counted.deepestArchive,
                        counted.leafPaths.size());
            records = MakeRecords(counted.leafPaths, contentBytes);
        }
        const bool peakReset = ResetPeakRss();
        const long baseKiB = PeakRssKiB();

        start = Clock::now();
        ArchiveNode root(source, 0, static_cast<uint32_t>(sourceSize));
        const double buildSeconds = Seconds(start);
        if (!root.valid) throw std::runtime_error("the synthetic archive did not open");

        start = Clock::now();
        if (!tessaly::ApplyArchivePatchRecords(root, records.data(), records.size()))
            throw std::runtime_error("a replacement was refused");
        const double applySeconds = Seconds(start);

        start = Clock::now();
        if (!root.RelayoutAndRewind()) throw std::runtime_error("relayout does not fit 32 bits");
        const double relayoutSeconds = Seconds(start);
        const uint64_t rebuiltSize = root.size;

        std::vector<uint8_t> buffer(kChunkBytes);
        Timing stream;
        Timing copy;
        for (int round = 0; round < kRounds; ++round) {
            if (round > 0) root.RelayoutAndRewind();
            StreamArchive(root, output, buffer, stream);
            PlainCopy(source, output, rebuiltSize, buffer, copy);
        }
        const long peakKiB = PeakRssKiB();

        std::printf("replacements           %d records, %.1f MiB of contents\n", kReplacements, MiB(contentBytes));
        std::printf("tree build             %.3f s\n", buildSeconds);
        std::printf("apply records          %.3f s\n", applySeconds);
        std::printf("relayout and rewind    %.3f s\n", relayoutSeconds);
        std::printf("rebuilt archive        %.1f MiB\n", MiB(rebuiltSize));
        const double mib = MiB(rebuiltSize);
        std::printf("streaming, best of %d  %.3f s wall, %.0f MiB/s; %.3f s CPU, %.0f MiB/s\n", kRounds, stream.wall,
                    mib / stream.wall, stream.cpu, mib / stream.cpu);
        std::printf("plain copy, best of %d %.3f s wall, %.0f MiB/s; %.3f s CPU, %.0f MiB/s\n", kRounds, copy.wall,
                    mib / copy.wall, copy.cpu, mib / copy.cpu);
        std::printf("streaming / plain copy %.0f %% by wall time, %.0f %% by CPU time (target at least 80 %%)\n",
                    100.0 * copy.wall / stream.wall, 100.0 * copy.cpu / stream.cpu);
        std::printf("peak RSS               %.1f MiB%s; at the start of the measured part %.1f MiB\n",
                    peakKiB / 1024.0, peakReset ? " (since the records were made)" : " (whole run)", baseKiB / 1024.0);
        std::printf("peak beyond contents   %.1f MiB (target under 64 MiB; the record bytes %.1f MiB)\n",
                    peakKiB / 1024.0 - MiB(contentBytes), MiB(records.size()));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "archive_bench: %s\n", e.what());
        std::filesystem::remove_all(dir);
        return 1;
    }
    std::filesystem::remove_all(dir);
    return 0;
}
