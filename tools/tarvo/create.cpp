// tools/tarvo/create.cpp: `tarvo create`: creates the personal geodatabase (or completes an existing
// one, or an enterprise geodatabase named by its connection file) with the feature dataset, the
// product model's feature classes and the collection tables.
// Never removes anything from an existing geodatabase.
#include "tools/tarvo/create.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/gdb/gdb.h"
#include "s57/dbutil.h"
#include "s57/gdb_template.h"
#include "tools/tarvo/enterprise.h"
#include "tools/tarvo/option_value.h"
#include "tools/tarvo/quiet_stdout.h"

namespace {

void usage(FILE* err) { std::fprintf(err, "usage: tarvo create GEODATABASE [--dataset NAME] [--versioned]\n"); }

// Registers the feature dataset as versioned (the flag of its side table), as an administrator does
// on a server; an enterprise geodatabase's import then refuses the dataset.
HRESULT registerAsVersioned(const char* path, const std::string& dataset) {
    IWorkspacePtr workspace;
    HRESULT hr = openWorkspace(path, &workspace);
    if (FAILED(hr)) return hr;
    IFeatureWorkspacePtr features(workspace);
    if (!features) return E_NOINTERFACE;
    IFeatureDatasetPtr opened;
    hr = features->raw_OpenFeatureDataset(_bstr_t(dataset.c_str()).GetBSTR(), &opened);
    if (FAILED(hr)) return hr;
    IVersionedObjectPtr versioned(opened);
    if (!versioned) return E_NOINTERFACE;
    return versioned->raw_RegisterAsVersioned(VARIANT_TRUE);
}

}  // namespace

int runCreate(int argc, char** argv, FILE* out, FILE* err) {
    const char* path = nullptr;
    std::string dataset = kDefaultDatasetName;
    bool versioned = false;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (options && std::strcmp(a, "--") == 0) {
            options = false;
        } else if (const int taken = options ? optionValue(argc, argv, i, "--dataset", dataset) : 0) {
            if (taken < 0) {
                usage(err);
                return 2;
            }
        } else if (options && std::strcmp(a, "--versioned") == 0) {
            versioned = true;
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

    const bool enterprise = isConnectionFilePath(path);
    if (enterprise) {
        if (const std::string problem = enterpriseProblem(path, dataset, nullptr); !problem.empty()) {
            std::fprintf(err, "tarvo create: %s: %s\n", path, problem.c_str());
            return 1;
        }
    }
    const std::string label = geodatabaseLabel(path);

    TemplateSummary summary;
    HRESULT hr;
    {
        QuietStdout quiet;
        hr = createGeodatabase(path, dataset.c_str(), nullptr, err, &summary);
        if (SUCCEEDED(hr) && versioned) hr = registerAsVersioned(path, dataset);
    }
    if (FAILED(hr)) {
        std::error_code ec;
        const char* why = std::filesystem::is_directory(path, ec) ? "is a folder" : gdbFailureReason(hr);
        if (why)
            std::fprintf(err, "tarvo create: %s: %s\n", label.c_str(), why);
        else
            std::fprintf(err, "tarvo create: %s: failed (0x%08X)\n", label.c_str(), unsigned(hr));
        return 1;
    }
    std::fprintf(out, "%s %s, feature dataset %s%s\n", summary.geodatabaseCreated ? "Created" : "Opened", label.c_str(),
                 dataset.c_str(), summary.datasetCreated ? " (created)" : "");
    std::fprintf(out, "feature classes: %d created, %d reused; tables: %d created, %d reused\n",
                 summary.classesCreated, summary.classesReused, summary.tablesCreated, summary.tablesReused);
    std::fprintf(out, "topology: %s, %d classes added\n", summary.topologyCreated ? "created" : "reused",
                 summary.topologyClassesAdded);
    if (summary.columnsAdded || summary.subtypesAdded)
        std::fprintf(out, "completed: %d columns, %d subtypes added\n", summary.columnsAdded, summary.subtypesAdded);
    if (versioned) std::fprintf(out, "feature dataset %s registered as versioned\n", dataset.c_str());
    return 0;
}
