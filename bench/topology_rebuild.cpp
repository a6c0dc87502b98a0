// bench/topology_rebuild.cpp: `tarvo export --create-topology` of a cell (the primitives rebuilt from
// the geodatabase topology) against the export of the stored primitives and against our import of
// the same cell, each in a child process on a fresh copy of the imported geodatabase (wall time and
// peak memory alike). Then where the rebuild's time goes: its steps timed one by one in a child.
//
// usage: bench_topology_rebuild [CELL.000] [RUNS]   (default: enc/US4CN21M/US4CN21M.000, 5 runs)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/support/bench_support.h"
#include "export/aotopology.h"
#include "export/cell_extent.h"
#include "export/gdbs57main.h"
#include "export/srel_list.h"
#include "import/s572gdbmain.h"
#include "platform/topology/topology.h"
#include "platform/ui/ui.h"
#include "s57/dbutil.h"
#include "s57/dimml.h"
#include "s57/gdb_template.h"
#include "s57/s57_util2.h"

namespace fs = std::filesystem;
using bench::inChild;
using bench::Measure;
using bench::tarvoExport;
using bench::tarvoImport;

namespace {

// The rebuild's steps as validateTopology runs them, each timed (printed by the child).
int rebuildSteps(const std::string& gdb, const std::string& cell) {
    ui::setForm(ui::Form::Batch);
    initPrimTypes();
    if (loadDIMEInfo() != 0) installBuiltinCatalogue();
    try {
        IWorkspacePtr workspace;
        if (FAILED(openWorkspace(gdb.c_str(), &workspace))) return 1;
        using Clock = std::chrono::steady_clock;
        std::vector<std::pair<const char*, double>> steps;
        auto timed = [&](const char* what, const std::function<HRESULT()>& f) {
            const auto t = Clock::now();
            const HRESULT hr = f();
            steps.emplace_back(what, std::chrono::duration<double>(Clock::now() - t).count());
            return hr == S_OK;
        };
        if (!timed("cell extent (the driver's)", [&] { return getExtent(workspace, cell.c_str()) == 0 ? S_OK : E_FAIL; }))
            return 1;
        IFeatureDatasetPtr dataset = IFeatureWorkspacePtr(workspace)->OpenFeatureDataset("S57");
        ITopologyPtr topology = ITopologyContainerPtr(dataset)->GetTopology(0);
        emptySrelList(&topoSrelList);
        ITopologyGraphPtr cache = topology->GetCache();
        IGeometryPtr meta = cellSpatialFilter->GetGeometry(), data = cellCoverage->GetGeometry();
        IEnvelopePtr envelope = meta->GetEnvelope();
        envelope->Expand(envelope->GetWidth() / 100, envelope->GetHeight() / 100, VARIANT_FALSE);
        // As the rebuild does: the graph is noded aside while the features are named and cleaned up.
        bool ok = timed("topology cache begun (rows read)", [&] { return beginTopologyGraphBuild(cache, envelope); }) &&
                  timed("updateFENum (graph aside)", [&] { return updateFENum(workspace, cell.c_str(), dataset); }) &&
                  timed("cleanUpData (graph aside)", [&] { return cleanUpData(workspace, cell.c_str()); });
        ok = ok && timed("topology cache build (the wait)", [&] { return cache->Build(envelope, VARIANT_FALSE); });
        const double tolerance = topology->GetClusterTolerance();
        ok = ok && timed("getTopoEdge (edges, nodes)",
                         [&] { return getTopoEdge(workspace, meta, data, cache, tolerance, cell.c_str()); }) &&
             timed("getPointPrimitives", [&] { return getPointPrimitives(workspace, dataset, cell.c_str()); }) &&
             timed("updateSrelTable", [&] { return updateSrelTable(workspace, cell.c_str()); });
        // The graph built again, nothing beside it: what the wait above would be without the overlap.
        ok = ok && timed("(topology cache built alone)", [&] { return cache->Build(envelope, VARIANT_FALSE); });
        for (const auto& [what, seconds] : steps) std::fprintf(stderr, "  %-32s %8.3f s\n", what, seconds);
        std::fprintf(stderr, "  relation rows %d\n", int(topoSrelList.count));
        emptySrelList(&topoSrelList);
        return ok ? 0 : 1;
    } catch (const _com_error&) {
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    bench::CellBench args;
    if (!bench::startCellBench(argc, argv, TARVO_BENCH_DATA, "rebuild", &args)) return 1;
    const fs::path &cell = args.cell, &scratch = args.scratch;
    const int runs = args.runs;
    const std::string input = bench::linkInto(cell, scratch / "in");
    const std::string name = cell.filename().string();

    auto file = [&](const std::string& stem, int i) { return scratch / (stem + std::to_string(i)); };
    std::vector<bench::Contender> contenders = {
        {"import", nullptr, [&](int i) { return tarvoImport({input}, file("cell", i).string() + ".gpkg"); }},
        {"export",
         [&](int i) {
             fs::copy_file(file("cell", i).string() + ".gpkg", file("rebuild", i).string() + ".gpkg");
             fs::create_directories(file("plain", i));
             fs::create_directories(file("rebuilt", i));
         },
         [&](int i) { return tarvoExport(file("cell", i).string() + ".gpkg", name, (file("plain", i) / name).string(), false); }},
        {"export --create-topology", nullptr,
         [&](int i) {
             return tarvoExport(file("rebuild", i).string() + ".gpkg", name, (file("rebuilt", i) / name).string(), true);
         }},
    };
    if (!bench::runRounds(contenders, runs)) return 1;
    const bench::Contender &imports = contenders[0], &plain = contenders[1], &rebuilt = contenders[2];
    const double im = imports.median(), p = plain.median(), r = rebuilt.median();
    std::printf("cell %s, %d runs (median wall time)\n", name.c_str(), runs);
    std::printf("%-40s %10s %14s\n", "", "seconds", "peak RSS MB");
    std::printf("%-40s %10.3f %14.1f\n", "tarvo export --create-topology", r, rebuilt.maxRssKb / 1024.0);
    std::printf("%-40s %10.3f %14.1f\n", "tarvo export (stored primitives)", p, plain.maxRssKb / 1024.0);
    std::printf("%-40s %10.3f %14.1f\n", "tarvo import (S-57 -> new gdb)", im, imports.maxRssKb / 1024.0);
    std::printf("rebuild export/import %.2f (goal: at most 2.00), rebuild/plain export %.2f\n", im > 0 ? r / im : 0.0,
                p > 0 ? r / p : 0.0);

    // Where the rebuild's time goes, on a fresh copy.
    const std::string steps = (scratch / "steps.gpkg").string();
    fs::copy_file(scratch / "cell0.gpkg", steps);
    std::fflush(stdout);
    std::printf("the rebuild's steps (one run):\n");
    std::fflush(stdout);
    // The catalogue loader and the exporters trace to standard output; the timed steps report on
    // standard error.
    const Measure s = inChild([&] { return rebuildSteps(steps, name); }, false);
    if (s.status != 0) std::fprintf(stderr, "the timed steps failed (%d)\n", s.status);
    std::error_code ec;
    fs::remove_all(scratch, ec);
    return 0;
}
