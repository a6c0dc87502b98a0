// tools/tarvo/create.cpp: `tarvo create`: creates the personal geodatabase (or completes an existing
// one) with the feature dataset, the product model's feature classes and the collection tables.
// Never removes anything from an existing geodatabase.
#include "tools/tarvo/create.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "s57/gdb_template.h"
#include "tools/tarvo/quiet_stdout.h"

namespace {

void usage(FILE* err) { std::fprintf(err, "usage: tarvo create GEODATABASE [--dataset NAME]\n"); }

}  // namespace

int runCreate(int argc, char** argv, FILE* out, FILE* err) {
    const char* path = nullptr;
    std::string dataset = kDefaultDatasetName;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (options && std::strcmp(a, "--") == 0) {
            options = false;
        } else if (options && std::strcmp(a, "--dataset") == 0) {
            if (i + 1 >= argc || !argv[i + 1][0]) {
                usage(err);
                return 2;
            }
            dataset = argv[++i];
        } else if (options && std::strncmp(a, "--dataset=", 10) == 0 && a[10]) {
            dataset = a + 10;
        } else if (options && a[0] == '-' && a[1]) {
            std::fprintf(err, "tarvo create: unknown option %s\n", a);
            usage(err);
            return 2;
        } else if (!path) {
            path = a;
        } else {
            usage(err);
            return 2;
        }
    }
    if (!path) {
        usage(err);
        return 2;
    }

    if (const char* problem = datasetNameProblem(dataset.c_str())) {
        std::fprintf(err, "tarvo create: the dataset name %s %s\n", dataset.c_str(), problem);
        return 1;
    }

    TemplateSummary summary;
    HRESULT hr;
    {
        QuietStdout quiet;
        hr = createGeodatabase(path, dataset.c_str(), nullptr, err, &summary);
    }
    if (FAILED(hr)) {
        std::error_code ec;
        const char* why = std::filesystem::is_directory(path, ec) ? "is a folder" : gdbFailureReason(hr);
        if (why)
            std::fprintf(err, "tarvo create: %s: %s\n", path, why);
        else
            std::fprintf(err, "tarvo create: %s: failed (0x%08X)\n", path, unsigned(hr));
        return 1;
    }
    std::fprintf(out, "%s %s, feature dataset %s%s\n", summary.geodatabaseCreated ? "Created" : "Opened", path,
                 dataset.c_str(), summary.datasetCreated ? " (created)" : "");
    std::fprintf(out, "feature classes: %d created, %d reused; tables: %d created, %d reused\n",
                 summary.classesCreated, summary.classesReused, summary.tablesCreated, summary.tablesReused);
    std::fprintf(out, "topology: %s, %d classes added\n", summary.topologyCreated ? "created" : "reused",
                 summary.topologyClassesAdded);
    if (summary.columnsAdded || summary.subtypesAdded)
        std::fprintf(out, "completed: %d columns, %d subtypes added\n", summary.columnsAdded, summary.subtypesAdded);
    return 0;
}
