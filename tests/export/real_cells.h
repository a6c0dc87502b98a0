// tests/export/real_cells.h: the real cells that import cleanly, which the round trip and the
// topology rebuild both carry through the export, and what their checks share: a cell's run made
// once per process (import, export, GDAL's reading of both files), the test over one cell that skips
// or fails on a run that went wrong, GDAL's features by LNAM, and the name of a written record.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "export_support.h"
#include "import/e2e_support.h"

namespace exporttest {

struct CellCase {
    const char* name;
    const char* input;  // under the data folder: a cell, or an ENC_ROOT folder (its CATALOG.031)
    const char* cell;   // the base cell, under the data folder
    // The round trip takes it through a database on the server too (a subset that keeps the run
    // short: the NOAA cells and two exchange sets).
    bool onServer = false;
};
void PrintTo(const CellCase& c, std::ostream* os);

extern const std::span<const CellCase> kCells;

// The messages a run showed, but the closing question about the log: empty for a clean run.
std::vector<std::string> failures(const e2e::DriverRun& run);

// The cell's input linked under dir/in and imported into gdb (the template copied there first when
// it is not yet there); the base cell's file name.
std::string importCell(const CellCase& c, const std::string& dir, const std::string& gdb, e2e::DriverRun* run);

// GDAL's reading of a cell (gdalRead) as features by LNAM: each one's layer and rows (a sounding
// feature one row a sounding); the primitives' layers and the DSID left out.
struct GdalFeature {
    std::string layer;
    std::vector<e2e::GeoRow> rows;
};
using GdalFeatures = std::map<std::string, GdalFeature>;
GdalFeatures readFeatures(const std::string& gpkg);

// One cell imported into gdb and exported to `exported` (out/ and its base cell's name in dir),
// with GDAL's readings of the original cell and of the exported file.
struct CellRun {
    std::string dir, gdb, cellName, exported, gdalOriginal, gdalExported;
    e2e::DriverRun import, exportRun;
};

// The process's scratch folder, removed at its end.
e2e::Scratch& folder();

// The cell imported into dir/gdbName, dir a folder of the cell's own, and out/ made for the export.
void startRun(const CellCase& c, const std::string& gdbName, CellRun& r);
// GDAL reads the original cell and, when it was written, the exported file into dir.
void readWithGdal(const CellCase& c, CellRun& r);

// The cell's run, made once per process: started, carried on by `carryOn` (the export at the
// least), and read by GDAL.
template <class Run, class CarryOn>
const Run& runOnce(const CellCase& c, const std::string& gdbName, CarryOn carryOn) {
    static std::map<std::string, std::unique_ptr<Run>> done;
    auto& slot = done[c.name];
    if (!slot) {
        slot = std::make_unique<Run>();
        startRun(c, gdbName, *slot);
        carryOn(*slot);
        readWithGdal(c, *slot);
    }
    return *slot;
}

// A column's value in a row of GDAL's; none when NULL or when the row has no such column.
std::optional<std::string> valueOf(const e2e::GeoRow& row, const std::string& column);

// GDAL's features of the original cell and of the exported file; a fatal failure when GDAL did not
// read both files or found no feature in the original.
void gdalFeatures(const CellRun& r, GdalFeatures* original, GdalFeatures* exported);

// A record's RCNM and RCID ("VE12", "FE3"); empty for one without VRID or FRID.
std::string recordName(const Record& r);

// Skips the test when the data folder or ogr2ogr is absent.
void skipWithoutDataOrGdal();
// Skips a cell that did not import cleanly; fails unless its export ran clean and wrote its file.
void expectExported(const CellCase& c, const CellRun& r);

// A test over one cell of kCells, run by `carry` (once per process).
template <class Carried, const Carried& (*carry)(const CellCase&)>
class RealCellTest : public ::testing::TestWithParam<CellCase> {
protected:
    void SetUp() override {
        skipWithoutDataOrGdal();
        if (IsSkipped()) return;
        run = &carry(GetParam());
        expectExported(GetParam(), *run);
    }
    const Carried* run = nullptr;
};

}  // namespace exporttest
