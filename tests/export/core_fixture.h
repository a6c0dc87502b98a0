// tests/export/core_fixture.h: what the export core tests share: a copy of the geodatabase template
// in a folder of its own (the template made once per process, which also loads the catalogue and
// the product mapping), coverage features with their dsnm rows, and rectangles as polygons.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/gdb/gdb.h"
#include "platform/geometry/geometry.h"

namespace coretest {

// A folder under the system's temporary folder, removed with the object.
class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The axis-aligned rectangle as a polygon of one ring.
IGeometryPtr rectangle(double xmin, double ymin, double xmax, double ymax);

// A fresh copy of the template (dataset "S57") opened as a workspace.
class TemplateGdb {
public:
    TemplateGdb();
    // The copy with the cell imported by the import driver (scripted interface, the closing
    // question answered No); importResult() is the driver's result.
    explicit TemplateGdb(const std::string& cellPath);
    int importResult() const { return importResult_; }
    IWorkspace* ws() const { return ws_; }
    IFeatureWorkspace* fws() const { return fws_; }
    std::string path() const { return (dir_.path() / "cells.gpkg").string(); }

    // One M_COVR area of the cell with its CATCOV and its dsnm row; the feature's object id.
    long addCoverage(const std::string& cell, int catcov, IGeometry* shape);

private:
    void open();
    Scratch dir_;
    int importResult_ = 0;
    IWorkspacePtr ws_;
    IFeatureWorkspacePtr fws_;
};

// ---- Reading a written cell back with the record layer --------------------------------------------

struct ReadField {
    std::string tag;
    std::vector<std::pair<std::string, std::string>> subfields;  // label, decoded value
    // The value of the n-th subfield of that label; "<absent>" when there is none.
    std::string value(const std::string& label, int n = 0) const;
    int count(const std::string& label) const;
};
struct ReadRecord {
    std::vector<ReadField> fields;
    const ReadField* field(const std::string& tag) const;  // the first one, or null
};

// Every data record of the file through Read8211File and Read8211Record; the first failing code,
// or 0.
int readBack(const std::string& path, std::vector<ReadRecord>& out);

// One row into a table, values by column name.
void insertRow(ITable* table, const std::map<std::string, _variant_t>& values);

}  // namespace coretest
