// bench/support/bench_support.h: what the benchmark programs share: their arguments and scratch
// folder; a run in a child process with its wall time, peak resident size and exit status; a timed
// call; the median of the runs; rounds of programs measured side by side; and the import and export
// as the tarvo commands do them.

#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// What a bench over one cell measures: [CELL.000] [RUNS] (default the data folder's
// enc/US4CN21M/US4CN21M.000, 5 runs, at least 1), in a new scratch folder /tmp/bench_KIND_XXXXXX.
struct CellBench {
    std::filesystem::path cell;
    int runs = 5;
    std::filesystem::path scratch;
};
// false when the cell does not exist (said on standard error) or no scratch folder can be made.
bool startCellBench(int argc, char** argv, const std::filesystem::path& data, const char* kind, CellBench* out);

// The log of a run goes beside its input: `target` linked into dir (made first); the link's path.
std::string linkInto(const std::filesystem::path& target, const std::filesystem::path& dir);

struct Measure {
    double seconds = 0;
    long maxRssKb = 0;
    int status = -1;
};

// Runs `body` in a child with standard output sent to /dev/null, and standard error too when
// `quiet`; the child's wall time, peak resident size and exit status.
Measure inChild(const std::function<int()>& body, bool quiet = true);

// Replaces the process by the program args[0] (searched in PATH); 127 when it cannot be run.
int execute(std::vector<std::string> args);

// Wall seconds of body().
template <class F>
double timed(F&& body) {
    const auto start = std::chrono::steady_clock::now();
    body();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v);

// One program measured against others: the runs' wall times and the peak resident size over them.
struct Contender {
    Contender(const char* name, std::function<void(int run)> prepare, std::function<int(int run)> body)
        : name(name), prepare(std::move(prepare)), body(std::move(body)) {}

    const char* name;                       // for the line of a failed run
    std::function<void(int run)> prepare;   // before each run, in this process and untimed; may be empty
    std::function<int(int run)> body;       // each run, in a child (inChild); 0 when it succeeded
    std::vector<double> seconds;
    long maxRssKb = 0;

    double median() const { return bench::median(seconds); }
};

// `runs` rounds of the contenders, each round every contender once and in order. false, with a line
// on standard error giving each contender's exit status, after the first round in which one failed.
bool runRounds(std::vector<Contender>& contenders, int runs);

// What `tarvo import` does for a geodatabase that does not exist: the template, then each input.
// 0; 1 on the first failure.
int tarvoImport(const std::vector<std::string>& inputs, const std::string& gdb);

// What `tarvo export` does for one cell; 0 when the run succeeded and wrote `out`, else 1.
int tarvoExport(const std::string& gdb, const std::string& cell, const std::string& out, bool rebuild);

}  // namespace bench
