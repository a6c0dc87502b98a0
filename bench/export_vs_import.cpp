// bench/export_vs_import.cpp: `tarvo export` of a cell from its geodatabase, against our import of
// the same cell into a new geodatabase and against GDAL's own S-57 to S-57 route
// (`ogr2ogr -f S57 out.000 CELL.000 -skipfailures` reading primitives, linkages and LNAM references).
// Each run is a child process, so that wall time and peak memory (getrusage of the child) are
// measured alike. Prints the figures side by side.
//
// usage: bench_export_vs_import [CELL.000] [RUNS]   (default: enc/US4CN21M/US4CN21M.000, 5 runs)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/support/bench_support.h"
#include "export/gdbs57main.h"
#include "import/s572gdbmain.h"
#include "platform/ui/ui.h"
#include "s57/gdb_template.h"

namespace fs = std::filesystem;
using bench::execute;
using bench::tarvoExport;
using bench::tarvoImport;

namespace {

int ogr2ogrS57(const std::string& cell, const std::string& out) {
    return execute({"ogr2ogr", "-f", "S57", out, cell, "-skipfailures", "-oo", "RETURN_PRIMITIVES=ON", "-oo",
                    "RETURN_LINKAGES=ON", "-oo", "LNAM_REFS=ON"});
}

}  // namespace

int main(int argc, char** argv) {
    bench::CellBench args;
    if (!bench::startCellBench(argc, argv, TARVO_BENCH_DATA, "export", &args)) return 1;
    const fs::path &cell = args.cell, &scratch = args.scratch;
    const int runs = args.runs;
    const std::string input = bench::linkInto(cell, scratch / "in");
    const std::string name = cell.filename().string();

    auto gdbOf = [&](int i) { return (scratch / ("cell" + std::to_string(i) + ".gpkg")).string(); };
    auto outOf = [&](const char* kind, int i) { return scratch / (kind + std::to_string(i)); };
    std::vector<bench::Contender> contenders = {
        {"import", nullptr, [&](int i) { return tarvoImport({input}, gdbOf(i)); }},
        {"export", [&](int i) { fs::create_directories(outOf("out", i)); },
         [&](int i) { return tarvoExport(gdbOf(i), name, (outOf("out", i) / name).string(), false); }},
        {"ogr2ogr", [&](int i) { fs::create_directories(outOf("gdal", i)); },
         [&](int i) { return ogr2ogrS57(cell.string(), (outOf("gdal", i) / name).string()); }},
    };
    if (!bench::runRounds(contenders, runs)) return 1;
    const bench::Contender &imports = contenders[0], &exports = contenders[1], &gdal = contenders[2];
    const double e = exports.median(), im = imports.median(), g = gdal.median();
    std::printf("cell %s, %d runs (median wall time)\n", name.c_str(), runs);
    std::printf("%-34s %10s %14s %12s\n", "", "seconds", "peak RSS MB", "output MB");
    std::printf("%-34s %10.3f %14.1f %12.2f\n", "tarvo export (gdb -> S-57)", e, exports.maxRssKb / 1024.0,
                fs::file_size(scratch / "out0" / name) / 1048576.0);
    std::printf("%-34s %10.3f %14.1f %12.2f\n", "tarvo import (S-57 -> new gdb)", im, imports.maxRssKb / 1024.0,
                fs::file_size(scratch / "cell0.gpkg") / 1048576.0);
    std::printf("%-34s %10.3f %14.1f %12.2f\n", "ogr2ogr -f S57 (S-57 -> S-57)", g, gdal.maxRssKb / 1024.0,
                fs::file_size(scratch / "gdal0" / name) / 1048576.0);
    std::printf("export/import %.2f, export/ogr2ogr %.2f (goal: both at most 1.00)\n", im > 0 ? e / im : 0.0,
                g > 0 ? e / g : 0.0);
    std::error_code ec;
    fs::remove_all(scratch, ec);
    return 0;
}
