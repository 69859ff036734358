// Lines per second for each listing style, and allocations per line, counted by a
// replaced global operator new.
#include "ftp/listing_parser.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
    ++allocations;
    if (void* memory = std::malloc(size ? size : 1)) return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

void parseLines(benchmark::State& state, const std::vector<std::string>& lines) {
    ftp::RemoteEntry entry;
    // Allocations are counted outside the timed loop, where the framework allocates too.
    constexpr int countingRounds = 1000;
    const long before = allocations.load();
    for (int round = 0; round < countingRounds; ++round) {
        for (const std::string& line : lines) ftp::parseListingLine(&entry, line.data(), int(line.size()));
    }
    const double allocationsPerLine = double(allocations.load() - before) / double(countingRounds * lines.size());
    std::size_t index = 0;
    for (auto _ : state) {
        const std::string& line = lines[index++ % lines.size()];
        benchmark::DoNotOptimize(ftp::parseListingLine(&entry, line.data(), int(line.size())));
        benchmark::DoNotOptimize(entry);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["allocs/line"] = allocationsPerLine;
}

void UnixWithYear(benchmark::State& state) {
    parseLines(state, {"-rw-r--r--   1 owner    group        1234 Mar 15  2005 notes.txt\n",
                       "drwxr-xr-x   2 owner    group        4096 Jan  3  2019 folder\n",
                       "lrwxrwxrwx   1 owner    group           9 Dec 31  2020 link -> notes.txt\n"});
}

void UnixWithTimeOfDay(benchmark::State& state) {
    parseLines(state, {"-rw-r--r--   1 owner    group        1234 Mar 15 14:30 notes.txt\n",
                       "drwxr-xr-x   2 owner    group        4096 Jan  3 09:05 folder\n",
                       "lrwxrwxrwx   1 owner    group           9 Dec 31 23:59 link -> notes.txt\n"});
}

void MsDos(benchmark::State& state) {
    parseLines(state, {"04-27-00  09:09PM       <DIR>          Program Files\n",
                       "12-31-99  12:15AM                 2048 file.txt\n"});
}

void Vms(benchmark::State& state) {
    parseLines(state, {"CORE.DIR;1          1/3          5-JUL-2002 13:28:44  [SYSTEM]  (RWE,RWE,RE,RE)\n",
                       "README.TXT;4        2/4         14-SEP-1999 09:01:02  [SYSTEM]  (RWED,RWED,RE,)\n"});
}

void Facts(benchmark::State& state) {
    parseLines(state, {"+i8388621.29609,m824255902,/,\tdev\n", "+i8388621.44468,m839956783,r,s10376,\tRFCEPLF\n"});
}

BENCHMARK(UnixWithYear);
BENCHMARK(UnixWithTimeOfDay);
BENCHMARK(MsDos);
BENCHMARK(Vms);
BENCHMARK(Facts);

}  // namespace

BENCHMARK_MAIN();
