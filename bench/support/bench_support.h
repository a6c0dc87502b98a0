// bench/support/bench_support.h: what the benchmark programs share: a run in a child process with
// its wall time, peak resident size and exit status; a timed call; the median of the runs; and the
// import and export as the tarvo commands do them.

#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace bench {

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

// What `tarvo import` does for a geodatabase that does not exist: the template, then each input.
// 0; 1 on the first failure.
int tarvoImport(const std::vector<std::string>& inputs, const std::string& gdb);

// What `tarvo export` does for one cell; 0 when the run succeeded and wrote `out`, else 1.
int tarvoExport(const std::string& gdb, const std::string& cell, const std::string& out, bool rebuild);

}  // namespace bench
