// tests/import/metavec_fixture.h: what the metadata and vector import tests share: small cells
// built in code (ASCII subfields, so values arrive as written), a cell loaded into its record list
// and topology cache, a fresh geodatabase with the srel table, rows read back, the log captured
// in memory, and GDAL's reading of the primitives of a real cell.
#pragma once

#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/gdb/gdb.h"
#include "s57/llist.h"
#include "s57/record_list.h"
#include "s57/s57_file.h"
#include "support/captured_log.h"

namespace metavec {

// ---- Cells built in code ----------------------------------------------------------------------

// One pointer of an edge: the node's record name and TOPI as written.
struct Pointer {
    std::string name;
    std::string topi;
};

using YX = std::pair<int, int>;
struct YXZ {
    int y, x, z;
};

// Records are numbered in the order they are added.
class CellBuilder {
public:
    bool dspmHasSomf = true;  // the DDR's DSPM without the SOMF subfield when false

    // DS record: DSID (and DSSI unless withDssi is false); counts NOIN, NOCN, NOED.
    void ds(int rcid, const std::string& dsnm, bool withDssi = true, int noin = 0, int nocn = 0, int noed = 0,
            const std::string& comt = "fixture");
    void dp(int rcid, const std::string& comf, const std::string& somf);
    void dh(int rcid);
    void da(int rcid);
    void vf(int rcid);
    // attv: ATTL code and value pairs.
    void vi2d(int rcid, int y, int x, const std::vector<std::pair<int, std::string>>& attv = {});
    // One SG3D field per group of perField soundings (0: all in one field).
    void vi3d(int rcid, const std::vector<YXZ>& soundings, int perField = 0);
    void viBare(int rcid);  // VRID only
    void vc(int rcid, int y, int x);
    // pointers in one VRPT field (none: no VRPT field); an empty yx gives no SG2D field.
    void ve(int rcid, const std::vector<Pointer>& pointers, const std::vector<YX>& yx);
    void fe(int rcid, const std::string& prim, int objl);

    std::string bytes() const;
    // Writes the cell into dir and returns its path.
    std::string write(const std::filesystem::path& dir, const std::string& name) const;

private:
    struct Field {
        std::string tag, body;
    };
    void add(std::vector<Field> fields);
    std::vector<std::string> records_;
    int next_ = 0;
};

// ---- A cell loaded as the driver loads it --------------------------------------------------------

struct LoadedCell {
    Iso8211File file{};
    llist* list = nullptr;
    Cache cache{};
    int hasFX = 0;
    int rc = 0;  // of loadObjectRecList, then of cache_initialize
    explicit LoadedCell(const std::string& path);
    ~LoadedCell();
    LoadedCell(const LoadedCell&) = delete;
    LoadedCell& operator=(const LoadedCell&) = delete;
};

// ---- The geodatabase ------------------------------------------------------------------------------

struct Row {
    std::map<std::string, _variant_t> values;   // by upper-case column name
    std::vector<std::array<double, 3>> points;  // of the shape, part after part; Z NaN without Z
    std::string text(const std::string& column) const;  // "" for null or absent
    double number(const std::string& column) const;     // NaN for null or absent
};

// A fresh personal geodatabase in its own temporary directory, with the srel table.
class Gdb {
public:
    Gdb();
    ~Gdb();
    Gdb(const Gdb&) = delete;
    Gdb& operator=(const Gdb&) = delete;

    IFeatureWorkspace* fws() const { return fws_; }
    ITable* srel() const { return srel_; }
    ISpatialReference* spatialReference() const { return sr_; }
    const std::filesystem::path& dir() const { return dir_; }
    const std::string& path() const { return path_; }

    // Rows of a table or feature class; -1 / empty when it does not exist.
    long count(const char* table) const;
    std::vector<Row> rows(const char* table) const;
    bool hasClass(const char* name) const;  // opens as a feature class

    // Releases the workspace (everything is committed), runs the SQL on the file with SQLite, and
    // opens the workspace again.
    void sql(const std::string& statements);

private:
    void open();
    void close();
    std::filesystem::path dir_;
    std::string path_;
    IWorkspacePtr ws_;
    IFeatureWorkspacePtr fws_;
    ISpatialReferencePtr sr_;
    ITablePtr srel_;
};

// ---- Log, catalogue, messages -----------------------------------------------------------------

using testsupport::CapturedLog;

// The built-in catalogue in the program-wide tables (once), and the scripted UI form with no
// events recorded.
void prepareRun();

// Number of times `needle` occurs in `text`.
int occurrences(const std::string& text, const std::string& needle);

// ---- GDAL's reading of a real cell ----------------------------------------------------------------

struct GdalPrimitive {
    long rcid = 0;
    std::string posacc, quapos;
    std::vector<std::array<double, 3>> points;  // Z NaN for 2-D
    int pointers = 0;                           // edges: VRPT pointers
    std::vector<std::pair<long, std::string>> nodes;  // edges: NAME_RCID_n and TOPI_n in order
};

// IsolatedNode, ConnectedNode or Edge of the cell, by RCID; false when ogr2ogr cannot be run.
bool gdalPrimitives(const std::string& cell, const std::string& layer, std::map<long, GdalPrimitive>& out);

// Feature counts of GDAL's IsolatedNode, ConnectedNode and Edge layers of the cell (-1 for a layer
// GDAL does not show); false when ogrinfo cannot be run.
bool gdalPrimitiveCounts(const std::string& cell, long& isolated, long& connected, long& edges);

}  // namespace metavec
