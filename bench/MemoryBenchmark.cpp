// Peak memory of whole runs: wholeRun/<drives> runs the host program (`velo /s /machine FILE`)
// on a generated machine of that many QX7B2 drives, all updated, and reads the peak resident set
// of its process. wholeRun/0 runs the embedded default machine (one drive). The program may use
// at most 4 GiB of address space. Counters: peak_MiB, and per_image, the peak against the 8 MiB
// of images the program carries.
//
// A process that is replaced by another program keeps the peak of what it was before (Linux
// carries it over into ru_maxrss), and a forked copy of this benchmark starts as large as the
// benchmark has grown. So the program is started by a small process of its own: this binary
// again, run with MEASURE_SWITCH, which forks the program right away and reports its peak.
#include "bench/MemoryBenchmark.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "bench/BenchMachines.h"

namespace velo::bench {

namespace {

constexpr rlim_t ADDRESS_SPACE_LIMIT = 4ull << 30;
constexpr double EMBEDDED_IMAGES_MIB = 8.0;

struct ChildRun {
    int status = -1;
    long peakKiB = 0;
};

// Starts argv[0] with argv and waits for it; its standard output goes to outputFile (or stays
// with this process when empty).
ChildRun runAndWait(char* const argv[], const char* outputFile, bool limited) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (limited) {
            const rlimit limit{ADDRESS_SPACE_LIMIT, ADDRESS_SPACE_LIMIT};
            setrlimit(RLIMIT_AS, &limit);
        }
        if (outputFile) {
            const int out = open(outputFile, O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int null = open("/dev/null", O_WRONLY);
            dup2(out, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        execv(argv[0], argv);
        _exit(127);
    }
    ChildRun run;
    rusage usage{};
    if (pid > 0 && wait4(pid, &run.status, 0, &usage) == pid)
        run.peakKiB = usage.ru_maxrss;
    return run;
}

// One run of the program, started through a fresh copy of this binary; its output goes to
// outputFile.
ChildRun measureRun(const std::string& machineFile, const std::string& outputFile) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string report = outputFile + ".peak";
    std::vector<std::string> args = {self, MEASURE_SWITCH, outputFile};
    if (!machineFile.empty())
        args.push_back(machineFile);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    ChildRun measurer = runAndWait(argv.data(), report.c_str(), false);
    ChildRun run;
    std::ifstream(report) >> run.status >> run.peakKiB;
    std::filesystem::remove(report);
    if (!WIFEXITED(measurer.status) || WEXITSTATUS(measurer.status) != 0)
        run.status = -1;
    return run;
}

void wholeRun(benchmark::State& state) {
    const auto drives = static_cast<std::size_t>(state.range(0));
    const std::string stem =
        (std::filesystem::temp_directory_path() /
         ("velo-bench-" + std::to_string(getpid()) + "-" + std::to_string(drives)))
            .string();
    const std::string output = stem + ".out";
    std::string file;
    if (drives > 0) {
        file = stem + ".json";
        std::ofstream(file) << updatedDrivesMachine(drives);
    }
    ChildRun run;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        run = measureRun(file, output);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::ifstream printed(output);
    const std::string text{std::istreambuf_iterator<char>(printed), {}};
    if (!file.empty())
        std::filesystem::remove(file);
    std::filesystem::remove(output);
    if (!WIFEXITED(run.status) || WEXITSTATUS(run.status) != 0) {
        state.SkipWithError(("the run failed, wait status " + std::to_string(run.status)).c_str());
    } else if (text.find(">> VELO Ended (Return Code : 0)") == std::string::npos) {
        state.SkipWithError("the run did not update every drive");
    }
    const double peakMiB = static_cast<double>(run.peakKiB) / 1024.0;
    state.counters["peak_MiB"] = peakMiB;
    state.counters["per_image"] = peakMiB / EMBEDDED_IMAGES_MIB;
}

BENCHMARK(wholeRun)->Arg(0)->Arg(1)->Arg(100)->Arg(1000)->Iterations(1)->UseManualTime()->Unit(
    benchmark::kMillisecond);

}  // namespace

int runForPeak(int argc, char** argv) {
    if (argc < 1)
        return 2;
    std::string outputFile = argv[0];
    std::vector<std::string> args = {VELO_HOST_PROGRAM, "/s"};
    if (argc >= 2) {
        args.push_back("/machine");
        args.push_back(argv[1]);
    }
    std::vector<char*> childArgv;
    for (std::string& arg : args)
        childArgv.push_back(arg.data());
    childArgv.push_back(nullptr);
    const ChildRun run = runAndWait(childArgv.data(), outputFile.c_str(), true);
    std::printf("%d %ld\n", run.status, run.peakKiB);
    return 0;
}

}  // namespace velo::bench
