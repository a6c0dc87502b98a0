// bench/topology_graph.cpp: the topology cache of a cell built over the cell's extent (widened by
// one hundredth each way, as the export asks for it), against our import of the same cell into a
// new geodatabase. Prints the median wall times side by side and the size of the graph.
//
// usage: bench_topology_graph [CELL.000] [RUNS]   (default: enc/US4CN21M/US4CN21M.000, 5 runs)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/support/bench_support.h"
#include "import/s572gdbmain.h"
#include "platform/topology/topology.h"
#include "platform/ui/ui.h"
#include "s57/gdb_template.h"

namespace fs = std::filesystem;
using bench::median;
using bench::tarvoImport;
using bench::timed;

int main(int argc, char** argv) {
    bench::CellBench args;
    if (!bench::startCellBench(argc, argv, TARVO_BENCH_DATA, "topology", &args)) return 1;
    const fs::path &cell = args.cell, &scratch = args.scratch;
    const int runs = args.runs;
    const fs::path input = bench::linkInto(cell, scratch);
    ui::setForm(ui::Form::Batch);
    std::fflush(stdout);

    try {
        std::vector<double> imports, builds;
        std::string gdb;
        for (int i = 0; i < runs; ++i) {
            gdb = (scratch / ("cell" + std::to_string(i) + ".gpkg")).string();
            bool ok = false;
            imports.push_back(timed([&] { ok = tarvoImport({input.string()}, gdb) == 0; }));
            if (!ok) {
                std::fprintf(stderr, "the import of %s failed\n", cell.c_str());
                return 1;
            }
        }

        IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
        IFeatureWorkspacePtr workspace = factory->OpenFromFile(gdb.c_str());
        ITopologyContainerPtr dataset = workspace->OpenFeatureDataset("S57");
        ITopologyPtr topology = dataset->GetTopology(0);
        // The cell's extent: its M_COVR areas, as the export's filter has them.
        IEnvelopePtr extent(CLSID_Envelope);
        IFeatureClassPtr meta = workspace->OpenFeatureClass("MetadataAreaFeature");
        IFeatureCursorPtr cursor = meta->Search(nullptr, VARIANT_FALSE);
        for (IFeaturePtr f = cursor->NextFeature(); f; f = cursor->NextFeature()) {
            IEnvelopePtr e = f->GetShape()->GetEnvelope();
            if (extent->GetIsEmpty())
                extent = e;
            else
                extent->Union(e);
        }
        extent->Expand(extent->GetWidth() / 100, extent->GetHeight() / 100, VARIANT_FALSE);

        LONG edges = 0, nodes = 0;
        for (int i = 0; i < runs; ++i) {
            ITopologyGraphPtr graph = ITopologyPtr(dataset->GetTopology(0))->GetCache();
            builds.push_back(timed([&] { graph->Build(extent, VARIANT_FALSE); }));
            edges = graph->GetEdges()->GetCount();
            nodes = graph->GetNodes()->GetCount();
        }
        const double imp = median(imports), build = median(builds);
        std::printf("cell %s, %d runs (median wall time)\n", cell.filename().c_str(), runs);
        std::printf("%-36s %10s\n", "", "seconds");
        std::printf("%-36s %10.3f\n", "tarvo import (new gdb)", imp);
        std::printf("%-36s %10.3f\n", "topology cache over the cell extent", build);
        std::printf("graph: %ld edges, %ld nodes; cache/import %.2f\n", long(edges), long(nodes), imp > 0 ? build / imp : 0.0);
    } catch (const _com_error& e) {
        std::fprintf(stderr, "failed: 0x%08X %s\n", unsigned(e.Error()), static_cast<const char*>(_bstr_t(e.Description())));
        return 1;
    }
    std::error_code ec;
    fs::remove_all(scratch, ec);
    return 0;
}
