// tests/export/core_fixture.h: what the export core tests share: a copy of the geodatabase template
// in a folder of its own (the template made once per process, which also loads the catalogue and
// the product mapping), coverage features with their dsnm rows, and rectangles as polygons.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

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
    IWorkspace* ws() const { return ws_; }
    IFeatureWorkspace* fws() const { return fws_; }
    std::string path() const { return (dir_.path() / "cells.gpkg").string(); }

    // One M_COVR area of the cell with its CATCOV and its dsnm row; the feature's object id.
    long addCoverage(const std::string& cell, int catcov, IGeometry* shape);

private:
    Scratch dir_;
    IWorkspacePtr ws_;
    IFeatureWorkspacePtr fws_;
};

}  // namespace coretest
