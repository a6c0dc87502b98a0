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
using bench::inChild;
using bench::Measure;
using bench::median;
using bench::tarvoExport;
using bench::tarvoImport;

namespace {

int ogr2ogrS57(const std::string& cell, const std::string& out) {
    return execute({"ogr2ogr", "-f", "S57", out, cell, "-skipfailures", "-oo", "RETURN_PRIMITIVES=ON", "-oo",
                    "RETURN_LINKAGES=ON", "-oo", "LNAM_REFS=ON"});
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path data = TARVO_BENCH_DATA;
    const fs::path cell = argc > 1 ? fs::path(argv[1]) : data / "enc/US4CN21M/US4CN21M.000";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    if (!fs::exists(cell)) {
        std::fprintf(stderr, "no cell %s\n", cell.c_str());
        return 1;
    }
    char pattern[] = "/tmp/bench_export_XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const fs::path scratch = pattern;
    // The import's log goes beside its input: the cell is linked into the scratch folder.
    fs::create_directories(scratch / "in");
    const std::string input = (scratch / "in" / cell.filename()).string();
    fs::create_symlink(cell, input);
    const std::string name = cell.filename().string();

    std::vector<double> imports, exports, gdal;
    long importRss = 0, exportRss = 0, gdalRss = 0;
    for (int i = 0; i < runs; ++i) {
        const std::string gdb = (scratch / ("cell" + std::to_string(i) + ".gpkg")).string();
        const Measure a = inChild([&] { return tarvoImport({input}, gdb); });
        const fs::path outDir = scratch / ("out" + std::to_string(i));
        fs::create_directories(outDir);
        const Measure b = inChild([&] { return tarvoExport(gdb, name, (outDir / name).string(), false); });
        const fs::path gdalDir = scratch / ("gdal" + std::to_string(i));
        fs::create_directories(gdalDir);
        const Measure c = inChild([&] { return ogr2ogrS57(cell.string(), (gdalDir / name).string()); });
        if (a.status != 0 || b.status != 0 || c.status != 0) {
            std::fprintf(stderr, "run %d failed: import %d, export %d, ogr2ogr %d\n", i, a.status, b.status, c.status);
            return 1;
        }
        imports.push_back(a.seconds);
        exports.push_back(b.seconds);
        gdal.push_back(c.seconds);
        importRss = std::max(importRss, a.maxRssKb);
        exportRss = std::max(exportRss, b.maxRssKb);
        gdalRss = std::max(gdalRss, c.maxRssKb);
    }
    const double e = median(exports), im = median(imports), g = median(gdal);
    std::printf("cell %s, %d runs (median wall time)\n", name.c_str(), runs);
    std::printf("%-34s %10s %14s %12s\n", "", "seconds", "peak RSS MB", "output MB");
    std::printf("%-34s %10.3f %14.1f %12.2f\n", "tarvo export (gdb -> S-57)", e, exportRss / 1024.0,
                fs::file_size(scratch / "out0" / name) / 1048576.0);
    std::printf("%-34s %10.3f %14.1f %12.2f\n", "tarvo import (S-57 -> new gdb)", im, importRss / 1024.0,
                fs::file_size(scratch / "cell0.gpkg") / 1048576.0);
    std::printf("%-34s %10.3f %14.1f %12.2f\n", "ogr2ogr -f S57 (S-57 -> S-57)", g, gdalRss / 1024.0,
                fs::file_size(scratch / "gdal0" / name) / 1048576.0);
    std::printf("export/import %.2f, export/ogr2ogr %.2f (goal: both at most 1.00)\n", im > 0 ? e / im : 0.0,
                g > 0 ? e / g : 0.0);
    std::error_code ec;
    fs::remove_all(scratch, ec);
    return 0;
}
