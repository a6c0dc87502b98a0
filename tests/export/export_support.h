// tests/export/export_support.h: what the export's end-to-end tests share beside the import's
// support: runs of the export driver with the scripted user interface, the data records of an
// S-57 file as our reader gives them, and GDAL's reading of a cell into a GeoPackage.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "import/e2e_support.h"

namespace exporttest {

// One run of the export driver (the closing question answered No), the topology rebuilt when asked.
e2e::DriverRun runExport(const std::string& output, const std::string& gdb, const std::string& cell,
                         const std::string& catalogue = {}, const std::string& dataset = "S57",
                         bool createTopology = false);

// The cell as our record layer reads it: per record its fields, per field its subfields as
// (label, ASCII value). Empty when the file cannot be read.
struct Field {
    std::string tag;
    std::vector<std::pair<std::string, std::string>> subfields;
    std::vector<std::string> values(const std::string& label) const;
};
struct Record {
    std::vector<Field> fields;
    const Field* field(const std::string& tag) const;
};
std::vector<Record> readRecords(const std::string& path);

// The bytes of a file; the first record (the DDR) of an ISO 8211 file.
std::string fileBytes(const std::string& path);
std::string ddrBytes(const std::string& path);

// GDAL's reading of an S-57 file into a GeoPackage (the options of the import's comparison); false
// when ogr2ogr fails.
bool gdalRead(const std::string& s57, const std::string& gpkg);

}  // namespace exporttest
