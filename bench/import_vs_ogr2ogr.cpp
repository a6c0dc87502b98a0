// bench/import_vs_ogr2ogr.cpp: `tarvo import` of a cell into a new geodatabase (the template made
// first, as the command does when the geodatabase is missing) against `ogr2ogr -f GPKG` of the same
// cell, each in a child process so that wall time and peak memory (getrusage of the child) are
// measured alike: ogr2ogr writing the same primitives and linkages (the same work), and plain
// ogr2ogr (features only, what a user times the import against); then every S-58 exchange set
// imported into one geodatabase, against ogr2ogr of their cells. Prints the figures side by side.
// The three runs of a round go one after the other, so a loaded machine slows them alike.
//
// usage: bench_import_vs_ogr2ogr [CELL.000] [RUNS]   (default: enc/US4CN21M/US4CN21M.000, 5 runs)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/support/bench_support.h"
#include "import/s572gdbmain.h"
#include "platform/ui/ui.h"
#include "s57/gdb_template.h"

namespace fs = std::filesystem;
using bench::execute;
using bench::inChild;
using bench::Measure;
using bench::median;
using bench::tarvoImport;

namespace {

int ogr2ogr(const std::string& cell, const std::string& out) {
    return execute({"ogr2ogr", "-f", "GPKG", out, cell, "-oo", "UPDATES=OFF", "-oo", "SPLIT_MULTIPOINT=ON", "-oo",
                    "ADD_SOUNDG_DEPTH=ON", "-oo", "RETURN_PRIMITIVES=ON", "-oo", "RETURN_LINKAGES=ON", "-oo",
                    "LNAM_REFS=ON"});
}

// ogr2ogr as a user runs it: the features only.
int plainOgr2ogr(const std::string& cell, const std::string& out) {
    return execute({"ogr2ogr", "-f", "GPKG", out, cell});
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path data = TARVO_BENCH_DATA;
    bench::CellBench args;
    if (!bench::startCellBench(argc, argv, data, "import", &args)) return 1;
    const fs::path &cell = args.cell, &scratch = args.scratch;
    const int runs = args.runs;
    const std::string input = bench::linkInto(cell, scratch / "in");

    std::vector<double> ours, theirs, plain;
    long oursRss = 0, theirsRss = 0, plainRss = 0;
    for (int i = 0; i < runs; ++i) {
        const std::string gdb = (scratch / ("ours" + std::to_string(i) + ".gpkg")).string();
        const Measure a = inChild([&] { return tarvoImport({input}, gdb); });
        const std::string gpkg = (scratch / ("ogr" + std::to_string(i) + ".gpkg")).string();
        const Measure b = inChild([&] { return ogr2ogr(cell.string(), gpkg); });
        const std::string plainGpkg = (scratch / ("plain" + std::to_string(i) + ".gpkg")).string();
        const Measure c = inChild([&] { return plainOgr2ogr(cell.string(), plainGpkg); });
        if (a.status != 0 || b.status != 0 || c.status != 0) {
            std::fprintf(stderr, "run %d failed: tarvo import %d, ogr2ogr %d, plain ogr2ogr %d\n", i, a.status,
                         b.status, c.status);
            return 1;
        }
        ours.push_back(a.seconds);
        theirs.push_back(b.seconds);
        plain.push_back(c.seconds);
        oursRss = std::max(oursRss, a.maxRssKb);
        theirsRss = std::max(theirsRss, b.maxRssKb);
        plainRss = std::max(plainRss, c.maxRssKb);
    }
    const double o = median(ours), t = median(theirs), p = median(plain);
    std::printf("cell %s, %d runs (median wall time)\n", cell.filename().c_str(), runs);
    std::printf("%-28s %10s %14s %12s\n", "", "seconds", "peak RSS MB", "output MB");
    std::printf("%-28s %10.3f %14.1f %12.1f\n", "tarvo import (new gdb)", o, oursRss / 1024.0,
                fs::file_size(scratch / "ours0.gpkg") / 1048576.0);
    std::printf("%-28s %10.3f %14.1f %12.1f\n", "ogr2ogr, primitives+links", t, theirsRss / 1024.0,
                fs::file_size(scratch / "ogr0.gpkg") / 1048576.0);
    std::printf("%-28s %10.3f %14.1f %12.1f\n", "ogr2ogr, features only", p, plainRss / 1024.0,
                fs::file_size(scratch / "plain0.gpkg") / 1048576.0);
    std::printf("ratio to ogr2ogr with primitives+links: time %.2f (goal at most 0.50), peak memory %.2f (goal at "
                "most 0.60)\n",
                t > 0 ? o / t : 0.0, theirsRss > 0 ? double(oursRss) / double(theirsRss) : 0.0);
    std::printf("ratio to plain ogr2ogr: time %.2f (goal at most 1.00)\n", p > 0 ? o / p : 0.0);

    // Every S-58 exchange set into one geodatabase, against ogr2ogr of each cell.
    std::vector<std::string> sets, cells;
    if (fs::is_directory(data / "s58")) {
        std::vector<fs::path> roots;
        for (const auto& e : fs::recursive_directory_iterator(data / "s58"))
            if (e.is_directory() && e.path().filename() == "ENC_ROOT") roots.push_back(e.path());
        std::sort(roots.begin(), roots.end());
        for (const auto& root : roots) {
            const fs::path dir = scratch / "s58" / root.parent_path().filename();
            std::string catalog, base;
            for (const auto& f : fs::directory_iterator(root)) {
                const std::string linked = bench::linkInto(f.path(), dir);
                const std::string name = f.path().filename().string();
                if (name == "CATALOG.031") catalog = linked;
                if (f.path().extension() == ".000") {
                    base = linked;
                    cells.push_back(f.path().string());
                }
            }
            sets.push_back(catalog.empty() ? base : catalog);
        }
    }
    if (!sets.empty()) {
        const std::string gdb = (scratch / "s58.gpkg").string();
        const Measure a = inChild([&] {
            ui::setForm(ui::Form::Batch);
            TemplateSummary summary;
            if (FAILED(createGeodatabase(gdb.c_str(), "S57", nullptr, nullptr, &summary))) return 1;
            for (const auto& s : sets) (void)s572gdb(s.c_str(), gdb.c_str(), "S57");  // broken sets fail alone
            return 0;
        });
        const Measure b = inChild([&] {
            for (std::size_t i = 0; i < cells.size(); ++i) {
                const std::string out = (scratch / ("s58_" + std::to_string(i) + ".gpkg")).string();
                const Measure m = inChild([&] { return ogr2ogr(cells[i], out); });
                if (m.status != 0) return 1;
            }
            return 0;
        });
        std::printf("\nS-58: %zu exchange sets (%zu base cells)\n", sets.size(), cells.size());
        std::printf("%-28s %10.3f %14.1f\n", "tarvo import, one gdb", a.seconds, a.maxRssKb / 1024.0);
        std::printf("%-28s %10.3f %14.1f\n", "ogr2ogr, one gpkg each", b.seconds, b.maxRssKb / 1024.0);
        std::printf("ratio %.2f (goal at most 0.50)\n", b.seconds > 0 ? a.seconds / b.seconds : 0.0);
    }
    std::error_code ec;
    fs::remove_all(scratch, ec);
    return 0;
}
