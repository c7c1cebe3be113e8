// What the schedule costs, each figure beside its floor, in one run:
//  - an idle RunSchedule call (100 entries, "intv" on the first line, not
//    due) against opening, reading and closing the same file with the C
//    library; the service pays this once a second for as long as it runs;
//  - a complete read of a 100-entry and a 10,000-entry configuration against
//    reading the same bytes, per line, to show that the reading grows
//    linearly;
//  - preparing one entry and composing its curl parameters.
// The core runs against the fake platform (virtual clock, no launches) but
// reads real files, so the file system costs are the real ones.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "common/common.h"
#include "fake_platform.h"
#include "schedule/schedule.h"

namespace {

using benchsupport::ScratchDirectory;

// Opens, reads to the end and closes a file with the C library.
std::size_t ReadWithCLibrary(const std::string& path) {
    static char buffer[64 * 1024];
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return 0;
    std::size_t total = 0;
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) total += n;
    std::fclose(file);
    return total;
}

// ---- (a) the idle call ---------------------------------------------------------

void IdleRunSchedule(benchmark::State& state) {
    ScratchDirectory scratch("kelvoran-bench-idle");
    benchsupport::WriteConfiguration(scratch.path("downloader.conf"), 60, 100);
    g_lastScheduleRun = fake::Now();  // the last run has just started: not due
    for (auto _ : state) RunSchedule();
    if (g_lastScheduleRun != fake::Now() || !fake::Get().launches.empty()) {
        state.SkipWithError("the idle call started a run");
    }
}

void IdleFloorCRead(benchmark::State& state) {
    ScratchDirectory scratch("kelvoran-bench-idle-floor");
    const std::string path = scratch.path("downloader.conf");
    benchsupport::WriteConfiguration(path, 60, 100);
    for (auto _ : state) benchmark::DoNotOptimize(ReadWithCLibrary(path));
}

// ---- (b) complete reads ----------------------------------------------------------

void CompleteRead(benchmark::State& state) {
    ScratchDirectory scratch("kelvoran-bench-read");
    const std::string path = scratch.path("downloader.conf");
    const int entries = static_cast<int>(state.range(0));
    const int lines = benchsupport::WriteConfiguration(path, 60, entries);
    const auto due = [](int32_t) { return true; };
    for (auto _ : state) {
        ScheduleSettings settings;
        const ConfigReadResult result = ReadScheduleSettings(path, due, settings);
        benchmark::DoNotOptimize(result);
        if (result != ConfigReadResult::Complete ||
            settings.urlEntries.size() != static_cast<std::size_t>(entries)) {
            state.SkipWithError("the configuration was not read whole");
            break;
        }
    }
    state.counters["lines"] = lines;
}

void CompleteReadFloor(benchmark::State& state) {
    ScratchDirectory scratch("kelvoran-bench-read-floor");
    const std::string path = scratch.path("downloader.conf");
    const int lines =
        benchsupport::WriteConfiguration(path, 60, static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(ReadWithCLibrary(path));
    state.counters["lines"] = lines;
}

// ---- (c) one entry -----------------------------------------------------------------

void PrepareEntry(benchmark::State& state) {
    // A mix of the shapes an administrator writes.
    const std::vector<std::string> texts = {
        benchsupport::EntryText(1),
        "cfg @@ C:\\data\\cfg.xml @@ restart:Spooler @@ c1 @@ https://updates.example/cfg?x=1",
        "tool@@bin\\tool.exe@@C:\\Kelvoran\\reload.cmd@@plant-7@@http://10.0.0.5/tool.exe",
        "big@@\\\\server\\share\\big.iso@@none@@@@http://10.0.0.5/big.iso?token=abc&v=3",
    };
    const std::string exeDirectory = "C:\\Program Files\\Kelvoran\\";
    std::size_t i = 0;
    for (auto _ : state) {
        const std::optional<DownloadEntry> entry =
            ParseDownloadEntry(texts[i], "default", exeDirectory);
        std::string parameters = ComposeCurlParameters(*entry);
        benchmark::DoNotOptimize(parameters);
        i = (i + 1) % texts.size();
    }
    state.SetItemsProcessed(state.iterations());
}

constexpr int kRepetitions = 5;

BENCHMARK(IdleRunSchedule)->Unit(benchmark::kNanosecond)->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK(IdleFloorCRead)->Unit(benchmark::kNanosecond)->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK(CompleteRead)->Arg(100)->Arg(10000)->Unit(benchmark::kNanosecond)
    ->Repetitions(kRepetitions)->ReportAggregatesOnly(true);
BENCHMARK(CompleteReadFloor)->Arg(100)->Arg(10000)->Unit(benchmark::kNanosecond)
    ->Repetitions(kRepetitions)->ReportAggregatesOnly(true);
BENCHMARK(PrepareEntry)->Unit(benchmark::kNanosecond)->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);

// Keeps the median of each benchmark (ns per iteration) for the summary.
class MedianCollector : public benchmark::ConsoleReporter {
public:
    MedianCollector() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                const std::string& args = run.run_name.args;
                medians[run.run_name.function_name + (args.empty() ? "" : "/" + args)] =
                    run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> medians;
};

const char* Verdict(double value, double goal) { return value <= goal ? "met" : "MISSED"; }

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    MedianCollector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    const auto& m = collector.medians;
    auto get = [&m](const char* name) {
        const auto found = m.find(name);
        return found == m.end() ? -1.0 : found->second;
    };
    const double idle = get("IdleRunSchedule");
    const double idleFloor = get("IdleFloorCRead");
    const double read100 = get("CompleteRead/100");
    const double read10000 = get("CompleteRead/10000");
    const double bytes100 = get("CompleteReadFloor/100");
    const double bytes10000 = get("CompleteReadFloor/10000");
    const double entry = get("PrepareEntry");
    if (idle < 0 || idleFloor < 0 || read100 < 0 || read10000 < 0 || bytes100 < 0 ||
        bytes10000 < 0 || entry < 0) {
        std::printf("\nsome benchmark did not report a median (filtered out or failed)\n");
        return 1;
    }

    const double lines100 = 3 + 100;
    const double lines10000 = 3 + 10000;
    const double idleRatio = idle / idleFloor;
    const double perLine100 = read100 / lines100;
    const double perLine10000 = read10000 / lines10000;
    const double growth = perLine10000 / perLine100;

    std::printf("\n==== cost figures (medians of %d repetitions, Release)\n", kRepetitions);
    std::printf("idle call, 100 entries, not due: RunSchedule %.0f ns, C library open/read/close "
                "%.0f ns, ratio %.2f (goal <= 1.5: %s)\n",
                idle, idleFloor, idleRatio, Verdict(idleRatio, 1.5));
    std::printf("complete read, 100 entries (%.0f lines): %.0f ns = %.1f ns/line; bytes alone "
                "%.0f ns = %.1f ns/line; ratio %.2f\n",
                lines100, read100, perLine100, bytes100, bytes100 / lines100,
                read100 / bytes100);
    std::printf("complete read, 10000 entries (%.0f lines): %.0f ns = %.1f ns/line; bytes alone "
                "%.0f ns = %.1f ns/line; ratio %.2f\n",
                lines10000, read10000, perLine10000, bytes10000, bytes10000 / lines10000,
                read10000 / bytes10000);
    std::printf("linear growth: ns/line at 10000 / ns/line at 100 = %.2f (goal <= 1.5: %s)\n",
                growth, Verdict(growth, 1.5));
    std::printf("prepare an entry and compose its curl parameters: %.0f ns per entry\n", entry);
    return 0;
}
