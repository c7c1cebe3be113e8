// Host soak: the service loop's schedule cycles, 100,000 by default, against
// the fake platform's virtual clock and launcher, under AddressSanitizer and
// its leak checker. The configuration has five entries, one of each kind the
// run meets: a plain download, a reload command, a service restart, a curl
// error and a format error; a run is due every 5 virtual seconds.
//
// Every run is checked (each target holds that run's data, the failed one
// its old bytes, every message in the run log); the leak checker runs after
// 1,000 cycles and at the end; and the peak memory after all the cycles must
// be within 64 KiB of the peak after the first 1,000, both counted as live
// heap bytes and as the process's peak resident set.
//
//   soak_host [cycles]
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <sanitizer/lsan_interface.h>

#include "bench_support.h"
#include "common/common.h"
#include "fake_platform.h"
#include "io/output_stream.h"
#include "schedule/schedule.h"

extern "C" {
// AddressSanitizer's allocator interface (no header ships with g++).
int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                              void (*free_hook)(const volatile void*));
size_t __sanitizer_get_allocated_size(const volatile void* p);

// No quarantine of freed blocks: it would hold on to freed memory in the
// resident set for a while. Late uses of freed memory are what the unit tests
// under host-asan and the fuzzers look for; this run looks for leaks and
// growth. The leak checker stays on. ASAN_OPTIONS overrides.
const char* __asan_default_options() {
    return "quarantine_size_mb=0:thread_local_quarantine_size_kb=0:detect_leaks=1";
}
}

namespace {

// ---- Live heap accounting --------------------------------------------------------

// Single-threaded: the soak runs the schedule on one thread, as the service does.
// Counted from the start of the cycles; hooks cannot be removed, so counting
// stops when the cycles end.
bool g_counting = false;
int64_t g_liveBytes = 0;
int64_t g_peakLiveBytes = 0;

void OnMalloc(const volatile void*, size_t size) {
    if (!g_counting) return;
    g_liveBytes += static_cast<int64_t>(size);
    if (g_liveBytes > g_peakLiveBytes) g_peakLiveBytes = g_liveBytes;
}

void OnFree(const volatile void* pointer) {
    if (!g_counting || pointer == nullptr) return;
    g_liveBytes -= static_cast<int64_t>(__sanitizer_get_allocated_size(pointer));
}

// Peak resident set of the process (KiB), AddressSanitizer's shadow included.
long PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

// ---- The scene --------------------------------------------------------------------

const char* const kEntries[] = {
    "app@@files\\app.bin@@none@@@@http://127.0.0.1:8080/app.bin",
    "cfg@@files\\cfg.xml@@reload.cmd@@c7@@http://127.0.0.1:8080/cfg.xml?v=2",
    "svc@@files\\svc.dat@@restart:Spooler@@@@http://127.0.0.1:8080/svc.dat",
    "bad@@files\\bad.bin@@none@@@@http://127.0.0.1:8080/missing",
    "an entry without its separators",
};
const char kOldBytes[] = "the bytes before any download\n";
const char kProgress[] =
    "  % Total    % Received % Xferd  Average Speed   Time    Time     Time  Current\r\n"
    "                                 Dload  Upload   Total   Spent    Left  Speed\r\n"
    "\r  0     0    0     0    0     0      0      0 --:--:-- --:--:-- --:--:--     0"
    "\r100    42  100    42    0     0   4200      0 --:--:-- --:--:-- --:--:--  4200\r\n";
const char kCurlError[] = "curl: (22) The requested URL returned error: 500\r\n";

std::string Payload(const std::string& url, int64_t runTime) {
    return "data of " + url + " at " + std::to_string(runTime) + "\n";
}

// The three quoted arguments of curl's parameters: error file, temporary
// file, url.
std::vector<std::string> QuotedArguments(const std::string& parameters) {
    std::vector<std::string> quoted;
    std::size_t at = 0;
    for (;;) {
        const std::size_t open = parameters.find('"', at);
        if (open == std::string::npos) return quoted;
        const std::size_t close = parameters.find('"', open + 1);
        if (close == std::string::npos) return quoted;
        quoted.push_back(parameters.substr(open + 1, close - open - 1));
        at = close + 1;
    }
}

// What curl leaves behind: its progress display (and an error line for the
// missing address) in the error file, and the data in the temporary file.
bool CurlRuns(const std::string& exeDirectory, const fake::Launch& launch) {
    const std::vector<std::string> quoted = QuotedArguments(launch.parameters.value_or(""));
    if (quoted.size() != 3) return false;
    const std::string& url = quoted[2];
    const bool missing = url.find("/missing") != std::string::npos;
    benchsupport::WriteFile(fake::HostPath(exeDirectory + quoted[0]),
                            std::string(kProgress) + (missing ? kCurlError : ""));
    if (!missing) {
        benchsupport::WriteFile(fake::HostPath(quoted[1]), Payload(url, g_lastScheduleRun));
    }
    return true;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

// The recordings of the fake (launches, service manager calls, handles) grow
// with every call; they are the fake's, not the service's, so each cycle
// starts them afresh and keeps only the scene.
void ClearRecordings() {
    fake::State& state = fake::Get();
    const std::string modulePath = state.modulePath;
    const int64_t clockStart = state.clockStart;
    const uint64_t slept = state.sleptMilliseconds;
    auto onProcess = state.onProcess;
    auto services = state.services;
    fake::Reset();
    state.modulePath = modulePath;
    state.clockStart = clockStart;
    state.sleptMilliseconds = slept;
    state.onProcess = std::move(onProcess);
    state.services = std::move(services);
}

int g_failures = 0;

void Check(bool condition, long cycle, const std::string& what) {
    if (condition) return;
    if (++g_failures <= 20) std::fprintf(stderr, "soak: cycle %ld: %s\n", cycle, what.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const long cycles = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 100000;
    const long checkpoint = 1000;
    if (cycles < checkpoint) {
        std::fprintf(stderr, "soak: at least %ld cycles\n", checkpoint);
        return 2;
    }

    // The figures go to the real standard output; EmitMessage's console copy
    // of every message goes nowhere (the run log keeps them).
    std::FILE* report = fdopen(dup(STDOUT_FILENO), "w");
    if (report == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr) return 2;

    long runs = 0;
    long peakAtCheckpoint = 0;
    long residentAtCheckpoint = 0;
    long peakAtEnd = 0;
    long residentAtEnd = 0;
    int leaksAtCheckpoint = 0;
    std::string log;
    {
        benchsupport::ScratchDirectory scratch("kelvoran-soak");
        const std::string exe = scratch.exeDirectory();
        std::string configuration = "intv=5\r\n# soak\r\nclientid=plant-7\r\n";
        for (const char* entry : kEntries) configuration += std::string("url=") + entry + "\r\n";
        benchsupport::WriteFile(exe + "downloader.conf", configuration);
        benchsupport::WriteFile(exe + "curl.exe", "MZ");
        std::system(("mkdir -p '" + exe + "files'").c_str());
        benchsupport::WriteFile(exe + "files/bad.bin", kOldBytes);

        fake::State& platform = fake::Get();
        platform.services["Spooler"].state = 4;  // running: a restart stops and starts it
        platform.onProcess = [exe](const fake::Launch& launch) { return CurlRuns(exe, launch); };
        g_lastScheduleRun = 0;
        g_logStream = new VxIO::FileOutputStream(exe + "logs\\Kelvoranwinlog_soak.log");

        __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
        g_counting = true;

        for (long cycle = 1; cycle <= cycles; ++cycle) {
            // One turn of the service loop.
            platform::SleepMilliseconds(1000);
            RunSchedule();
            g_logStream->flush();

            const fake::State& state = fake::Get();
            if (!state.launches.empty()) {
                ++runs;
                const int64_t runTime = g_lastScheduleRun;
                int curl = 0, reload = 0;
                bool allAwaited = true;
                for (const fake::Launch& launch : state.launches) {
                    if (launch.file == "curl.exe") {
                        ++curl;
                        allAwaited = allAwaited && launch.waitedFor;
                    } else if (launch.file == "reload.cmd") {
                        ++reload;
                    }
                }
                Check(curl == 4 && reload == 1 && allAwaited, cycle,
                      "four awaited curl launches and one reload per run");
                for (const char* name : {"app.bin", "cfg.xml", "svc.dat"}) {
                    const std::string bytes = benchsupport::ReadFile(exe + "files/" + name);
                    Check(bytes.rfind("data of ", 0) == 0 &&
                              bytes.find(" at " + std::to_string(runTime) + "\n") !=
                                  std::string::npos,
                          cycle, std::string(name) + " holds this run's data");
                    Check(!fake::Get().launches.empty() &&
                              benchsupport::ReadFile(exe + "files/" + name + ".tempdownloader")
                                  .empty(),
                          cycle, std::string(name) + " leaves no temporary file");
                }
                Check(benchsupport::ReadFile(exe + "files/bad.bin") == kOldBytes, cycle,
                      "a failed download leaves its target alone");
                bool restarted = false;
                for (const std::string& call : state.scmCalls) {
                    restarted = restarted || call == "StartService Spooler";
                }
                Check(restarted, cycle, "the restart action starts Spooler again");
            }
            ClearRecordings();

            if (cycle == checkpoint) {
                // The leak check's own working memory counts in both figures.
                leaksAtCheckpoint = __lsan_do_recoverable_leak_check();
                peakAtCheckpoint = g_peakLiveBytes;
                residentAtCheckpoint = PeakResidentKiB();
            }
        }
        g_counting = false;
        peakAtEnd = g_peakLiveBytes;
        residentAtEnd = PeakResidentKiB();

        g_logStream->close();
        delete g_logStream;
        g_logStream = nullptr;
        log = benchsupport::ReadFile(exe + "logs/Kelvoranwinlog_soak.log");
    }
    fake::Reset();

    // Nothing lost: every run left its messages in the run log.
    const std::size_t starts = Count(log, "\r\nRun Schedule Start! ");
    const std::size_t ends = Count(log, "\r\nRun Schedule End! ");
    const std::size_t failedDownloads = Count(log, "\r\n\tHasERROR No Restart: none/bad/");
    const std::size_t formatErrors = Count(log, "\r\nRun Schedule Failed! Format Error! ");
    const std::size_t restarts = Count(log, "\r\n\tRestart Service OK(restart)!: Spooler");
    Check(starts == 4 * static_cast<std::size_t>(runs) && ends == starts &&
              failedDownloads == static_cast<std::size_t>(runs) &&
              formatErrors == static_cast<std::size_t>(runs) &&
              restarts == static_cast<std::size_t>(runs),
          cycles, "the run log holds every run's messages");
    Check(runs >= cycles / 5, cycles, "a run every few cycles (" + std::to_string(runs) + ")");

    const int leaksAtEnd = __lsan_do_recoverable_leak_check();
    const long growth = peakAtEnd - peakAtCheckpoint;
    const long residentGrowth = (residentAtEnd - residentAtCheckpoint) * 1024;
    const bool memoryFlat = growth <= 64 * 1024 && residentGrowth <= 64 * 1024;

    std::fprintf(report, "soak: %ld cycles, %ld download runs (%zu curl runs), %zu run-log bytes\n",
                 cycles, runs, starts, log.size());
    std::fprintf(report, "soak: peak live heap after %ld cycles: %ld bytes\n", checkpoint,
                 peakAtCheckpoint);
    std::fprintf(report, "soak: peak live heap after %ld cycles: %ld bytes\n", cycles, peakAtEnd);
    std::fprintf(report, "soak: live heap growth %ld bytes (limit 65536)\n", growth);
    std::fprintf(report, "soak: peak resident set after %ld cycles: %ld KiB\n", checkpoint,
                 residentAtCheckpoint);
    std::fprintf(report, "soak: peak resident set after %ld cycles: %ld KiB\n", cycles,
                 residentAtEnd);
    std::fprintf(report, "soak: resident set growth %ld bytes (limit 65536)\n", residentGrowth);
    std::fprintf(report, "soak: memory %s\n", memoryFlat ? "flat" : "GROWING");
    std::fprintf(report, "soak: leak checks after %ld cycles and at the end: %s, %s\n",
                 checkpoint, leaksAtCheckpoint ? "LEAKS" : "none",
                 leaksAtEnd ? "LEAKS" : "none");
    std::fprintf(report, "soak: run checks failed: %d\n", g_failures);
    const bool passed = memoryFlat && !leaksAtCheckpoint && !leaksAtEnd && g_failures == 0;
    std::fprintf(report, "soak: %s\n", passed ? "passed" : "FAILED");
    std::fclose(report);
    return passed ? 0 : 1;
}
