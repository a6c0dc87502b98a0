// bench/support/bench_support.cpp: module bench_support (see the header).

#include "bench/support/bench_support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "export/gdbs57main.h"
#include "import/s572gdbmain.h"
#include "platform/ui/ui.h"
#include "s57/gdb_template.h"

namespace bench {

bool startCellBench(int argc, char** argv, const std::filesystem::path& data, const char* kind, CellBench* out) {
    out->cell = argc > 1 ? std::filesystem::path(argv[1]) : data / "enc/US4CN21M/US4CN21M.000";
    out->runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    if (!std::filesystem::exists(out->cell)) {
        std::fprintf(stderr, "no cell %s\n", out->cell.c_str());
        return false;
    }
    std::string pattern = "/tmp/bench_" + std::string(kind) + "_XXXXXX";
    if (!mkdtemp(pattern.data())) return false;
    out->scratch = pattern;
    return true;
}

std::string linkInto(const std::filesystem::path& target, const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir);
    const std::filesystem::path to = dir / target.filename();
    std::error_code ec;
    std::filesystem::create_symlink(std::filesystem::absolute(target), to, ec);
    return to.string();
}

Measure inChild(const std::function<int()>& body, bool quiet) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, 1);
            if (quiet) dup2(null, 2);
        }
        _exit(body());
    }
    Measure m;
    if (pid < 0) return m;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) < 0) return m;
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.maxRssKb = usage.ru_maxrss;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return m;
}

int execute(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    return 127;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

bool runRounds(std::vector<Contender>& contenders, int runs) {
    for (int i = 0; i < runs; ++i) {
        std::vector<Measure> round;
        for (Contender& c : contenders) {
            if (c.prepare) c.prepare(i);
            round.push_back(inChild([&] { return c.body(i); }));
        }
        if (std::any_of(round.begin(), round.end(), [](const Measure& m) { return m.status != 0; })) {
            std::fprintf(stderr, "run %d failed:", i);
            for (std::size_t k = 0; k < contenders.size(); ++k)
                std::fprintf(stderr, "%s %s %d", k ? "," : "", contenders[k].name, round[k].status);
            std::fprintf(stderr, "\n");
            return false;
        }
        for (std::size_t k = 0; k < contenders.size(); ++k) {
            contenders[k].seconds.push_back(round[k].seconds);
            contenders[k].maxRssKb = std::max(contenders[k].maxRssKb, round[k].maxRssKb);
        }
    }
    return true;
}

int tarvoImport(const std::vector<std::string>& inputs, const std::string& gdb) {
    ui::setForm(ui::Form::Batch);
    TemplateSummary summary;
    if (FAILED(createGeodatabase(gdb.c_str(), "S57", nullptr, nullptr, &summary))) return 1;
    for (const auto& input : inputs)
        if (s572gdb(input.c_str(), gdb.c_str(), "S57") != 0) return 1;
    return 0;
}

int tarvoExport(const std::string& gdb, const std::string& cell, const std::string& out, bool rebuild) {
    ui::setForm(ui::Form::Batch);
    if (gdb2s57(out.c_str(), gdb.c_str(), "S57", cell.c_str(), "", rebuild) != 0) return 1;
    return std::filesystem::exists(out) ? 0 : 1;
}

}  // namespace bench
