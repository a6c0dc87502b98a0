// tests/import/gdal_compare_test.cpp: every real cell imported through the driver (the NOAA cells
// one by one, the S-58 data sets through their CATALOG.031), into a GeoPackage and (a subset) into a
// database on the PostgreSQL test server, and compared with what GDAL reads from
// the same cell: feature counts per object class and primitive, each feature found by its long name
// with its class, attribute values and geometry, the primitives against the cell's DSSI counts, and
// the relation rows against the pointers of the cell. The S-58 sets whose damage the record layer
// refuses must fail with a message naming the cell and a log line naming the damaged subfield.
// On the server every table must also hold what the GeoPackage import of the cell holds, row by row.
// Each cell is imported once per process and backend and shared by the checks.
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"
#include "s57/dimml.h"
#include "support/test_data.h"

namespace fs = std::filesystem;
using namespace e2e;

namespace {

struct CellCase {
    const char* name;
    const char* input;  // under the data folder: a cell, or an ENC_ROOT folder (its CATALOG.031)
    const char* cell;   // the base cell GDAL reads
    // S-58 sets are damaged on purpose: one may be refused, with a message naming the file and a
    // log line naming the damage, and then leaves nothing behind.
    bool mayRefuse = false;
    // Also imported into the server (a subset that keeps the run short: the three NOAA cells, an
    // exchange set, a set whose damage drops features, a set the record layer refuses).
    bool onServer = false;
};

const CellCase kCells[] = {
    {"US4CN21M", "enc/US4CN21M/US4CN21M.000", "enc/US4CN21M/US4CN21M.000", false, true},
    {"US5MA12M", "enc/US5MA12M/US5MA12M.000", "enc/US5MA12M/US5MA12M.000", false, true},
    {"US1AK90M", "enc/US1AK90M/US1AK90M.000", "enc/US1AK90M/US1AK90M.000", false, true},
    {"AA400001", "s58/AA400001/ENC_ROOT", "s58/AA400001/ENC_ROOT/AA400001.000", true, true},
    {"AA400002", "s58/AA400002/ENC_ROOT", "s58/AA400002/ENC_ROOT/AA400002.000", true},
    {"AA400003", "s58/AA400003/ENC_ROOT", "s58/AA400003/ENC_ROOT/AA400003.000", true},
    {"AA400004", "s58/AA400004/ENC_ROOT", "s58/AA400004/ENC_ROOT/AA400004.000", true},
    {"AA400005", "s58/AA400005/ENC_ROOT", "s58/AA400005/ENC_ROOT/AA400005.000", true},
    {"AA400006", "s58/AA400006/ENC_ROOT", "s58/AA400006/ENC_ROOT/AA400006.000", true, true},
    {"AA400008", "s58/AA400008/ENC_ROOT", "s58/AA400008/ENC_ROOT/AA400008.000", true},  // no CATALOG.031
    {"AA400009", "s58/AA400009/ENC_ROOT", "s58/AA400009/ENC_ROOT/AA400009.000", true},
    {"AA400011", "s58/AA400011/ENC_ROOT", "s58/AA400011/ENC_ROOT/AA400011.000", true},
    {"AA400012", "s58/AA400012/AA400012/ENC_ROOT", "s58/AA400012/AA400012/ENC_ROOT/AA400012.000", true},
    {"AA400013", "s58/AA400013/ENC_ROOT", "s58/AA400013/ENC_ROOT/00400013.000", true, true},
    {"AA400014", "s58/AA400014/ENC_ROOT", "s58/AA400014/ENC_ROOT/00700014.000", true},
    {"AA400015", "s58/AA400015/ENC_ROOT", "s58/AA400015/ENC_ROOT/AA400015.000", true},
    {"AA400016", "s58/AA400016/ENC_ROOT", "s58/AA400016/ENC_ROOT/AA400016.000", true},
    {"AA500001", "s58/AA500001/ENC_ROOT", "s58/AA500001/ENC_ROOT/AA500001.000", true},
    {"AA500002", "s58/AA500002/ENC_ROOT", "s58/AA500002/ENC_ROOT/AA500002.000", true},
    {"AA500003", "s58/AA500003/ENC_ROOT", "s58/AA500003/ENC_ROOT/AA500003.000", true},
    {"AA500005", "s58/AA500005/ENC_ROOT", "s58/AA500005/ENC_ROOT/AA500005.000", true},
    {"AA500006", "s58/AA500006/ENC_ROOT", "s58/AA500006/ENC_ROOT/AA500006.000", true},
    {"AA500008", "s58/AA500008/ENC_ROOT", "s58/AA500008/ENC_ROOT/AA500008.000", true},
    {"AA500009", "s58/AA500009/ENC_ROOT", "s58/AA500009/ENC_ROOT/AA500009.000", true},
    {"AA500011", "s58/AA500011/ENC_ROOT", "s58/AA500011/ENC_ROOT/AA500011.000", true},
    {"AA500012", "s58/AA500012/ENC_ROOT", "s58/AA500012/ENC_ROOT/AA500012.000", true},
    {"AA500013", "s58/AA500013/ENC_ROOT", "s58/AA500013/ENC_ROOT/AA500013.000", true},
    {"AA500014", "s58/AA500014/ENC_ROOT", "s58/AA500014/ENC_ROOT/AA500014.000", true},
    {"AA500015", "s58/AA500015/ENC_ROOT", "s58/AA500015/ENC_ROOT/AA500015.000", true},
    {"AA500016", "s58/AA500016/ENC_ROOT", "s58/AA500016/ENC_ROOT/AA500016.000", true},
    {"AA500018", "s58/AA500018/ENC_ROOT", "s58/AA500018/ENC_ROOT/AA500018.000", true},
};

// One cell on one backend.
struct Case {
    Backend backend;
    const CellCase* cell;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.cell->name << (c.backend == Backend::Server ? " on the server" : "");
}

std::vector<Case> casesOn(Backend backend) {
    std::vector<Case> out;
    for (const CellCase& c : kCells)
        if (backend == Backend::GeoPackage || c.onServer) out.push_back({backend, &c});
    return out;
}

// Differences from GDAL's reading that the import does not settle yet (each reported to the owner of
// the module named): the cell, the check, and a text that the check's difference line contains. A
// listed difference that no longer occurs fails the check too, so the list stays true.
struct Known {
    const char* cell;
    const char* check;  // "import", "counts", "features", "primitives", "relations"
    const char* text;
};
const Known kKnown[] = {
    // Damage on purpose that the import logs and passes over where GDAL keeps what it can:
    // edges without a begin or end node (and the lines on them), a geometry-less ADMARE ...
    {"AA400006", "counts", "ADMARE/N"},
    {"AA400006", "counts", "SLCONS/L"},
    {"AA400006", "features", "SLCONS not imported"},
    {"AA400006", "features", "ADMARE not imported"},
    {"AA400006", "primitives", "ve (NOED)"},
    {"AA400006", "relations", "srel"},
    {"AA500001", "counts", "SLCONS/L"},
    {"AA500001", "features", "SLCONS not imported"},
    {"AA500001", "primitives", "ve 259"},
    {"AA500001", "relations", "srel"},
    {"AA400009", "counts", "RIVERS/L"},
    {"AA400009", "counts", "SLCONS/L"},
    {"AA400009", "features", "RIVERS not imported"},
    {"AA400009", "features", "SLCONS not imported"},
    {"AA400009", "primitives", "ve 40"},
    {"AA400009", "relations", "srel"},
    // ... an attribute code that S-57 does not have (ATTL 17000 on an ACHBRT; CATACH is 8), which
    // the import passes over: GDAL's inland-waterway table names 17000 "catach", so GDAL files its
    // value under the CATACH column ...
    {"AA400009", "features", "CATACH"},
    // ... attributes a class does not permit (kept by GDAL, passed over by the import) ...
    {"AA400012", "features", "ELEVAT ''"},
    {"AA400012", "features", "SCAMIN ''"},
    {"AA400012", "features", "CATWRK ''"},
    {"AA400012", "counts", "ACHARE/A"},
    {"AA400012", "features", "ACHARE not imported"},
    {"AA400012", "relations", "srel"},
    // ... an area ring with USAG "N" ...
    {"AA500005", "counts", "RESARE/A"},
    {"AA500005", "features", "RESARE not imported"},
    {"AA500005", "relations", "srel"},
    // ... and edges referenced out of their order, which the import joins in pointer order while
    // GDAL joins them where they meet (rings and lines of other shape).
    {"AA400001", "features", "SLCONS geometry"},
    {"AA500001", "features", "BUAARE geometry"},
    {"AA500001", "features", "LNDRGN geometry"},
    {"AA500001", "features", "SLOTOP geometry"},
};

// Fails for every difference that is not known, and for every known one that did not occur.
void expectOnlyKnown(const std::string& cell, const std::string& check, const std::vector<std::string>& lines) {
    std::vector<const Known*> known;
    for (const auto& k : kKnown)
        if (cell == k.cell && check == k.check) known.push_back(&k);
    std::vector<bool> seen(known.size(), false);
    std::string unexpected;
    long n = 0;
    for (const auto& line : lines) {
        bool isKnown = false;
        for (std::size_t i = 0; i < known.size(); ++i)
            if (line.find(known[i]->text) != std::string::npos) isKnown = seen[i] = true;
        if (!isKnown && n++ < 25) unexpected += line + "\n";
    }
    EXPECT_EQ(n, 0) << n << " differences, the first:\n" << unexpected;
    for (std::size_t i = 0; i < known.size(); ++i)
        EXPECT_TRUE(seen[i]) << "known difference no longer seen (remove it from kKnown): " << known[i]->text;
}

// One cell imported by us (into a GeoPackage, or a database on the server) and read by GDAL into a
// GeoPackage, in a process-wide folder.
struct Imported {
    std::unique_ptr<TestGeodatabase> geodatabase;
    std::string skip;  // why the backend cannot be used
    std::string ours, gdal;
    std::map<std::string, long> before;  // the template's row counts
    DriverRun run;
    bool gdalRead = false;
};

Scratch& folder() {
    static Scratch s;
    return s;
}

const Imported& imported(const Case& k) {
    static std::map<std::pair<Backend, std::string>, std::unique_ptr<Imported>> done;
    const CellCase& c = *k.cell;
    auto& slot = done[{k.backend, c.name}];
    if (slot) return *slot;
    slot = std::make_unique<Imported>();
    // Both backends import the same links (the catalogue keeps the folder it was read from).
    static std::map<std::string, std::string> inputs;
    const std::string dir = folder().file(c.name);
    std::string& input = inputs[c.name];
    if (input.empty()) {
        fs::create_directories(dir);
        const std::string source = testdata::path(c.input);
        input = fs::is_directory(source) ? linkExchangeSet(source, dir)
                                         : link(source, dir, fs::path(source).filename().string());
    }
    const std::string suffix = k.backend == Backend::Server ? "_server" : "";
    slot->geodatabase = std::make_unique<TestGeodatabase>(k.backend, dir, "ours" + suffix);
    slot->skip = slot->geodatabase->skip;
    if (!slot->skip.empty()) return *slot;
    slot->ours = slot->geodatabase->path;
    slot->before = rowCounts(slot->ours);
    slot->run = runDriver(input, slot->ours);

    slot->gdal = dir + "/gdal" + suffix + ".gpkg";
    const std::string cmd = "ogr2ogr -f GPKG '" + slot->gdal + "' '" + testdata::path(c.cell) +
                            "' -oo UPDATES=OFF -oo SPLIT_MULTIPOINT=ON -oo ADD_SOUNDG_DEPTH=ON"
                            " -oo RETURN_PRIMITIVES=ON -oo RETURN_LINKAGES=ON -oo LNAM_REFS=ON"
                            // GeoPackage takes no layer named "$AREAS": such layers are left out.
                            " -skipfailures >/dev/null 2>&1";
    slot->gdalRead = std::system(cmd.c_str()) == 0 && fs::exists(slot->gdal);
    return *slot;
}

// ---- Reading both sides -------------------------------------------------------------------------

const std::set<std::string> kPrimitiveLayers = {"DSID", "ISOLATEDNODE", "CONNECTEDNODE", "EDGE", "FACE"};
// GDAL's record columns: not attributes.
const std::set<std::string> kGdalRecordColumns = {"FID",      "RCID",      "PRIM",      "GRUP", "OBJL",
                                                  "RVER",     "AGEN",      "FIDN",      "FIDS", "LNAM",
                                                  "LNAM_REFS", "FFPT_RIND", "NAME_RCNM", "NAME_RCID",
                                                  "ORNT",     "USAG",      "MASK",      "DEPTH"};

std::string upper(std::string s) {
    for (auto& ch : s) ch = char(std::toupper(static_cast<unsigned char>(ch)));
    return s;
}

std::string value(const GeoRow& r, const std::string& column) {
    const auto it = r.values.find(column);
    return it != r.values.end() && it->second ? *it->second : std::string();
}

// GDAL's list values in a GeoPackage: "(2:1,3)" for the S-57 list "1,3".
std::string unlist(const std::string& v) {
    if (v.size() >= 3 && v.front() == '(' && v.back() == ')') {
        const auto colon = v.find(':');
        if (colon != std::string::npos && v.find_first_not_of("0123456789", 1) == colon)
            return v.substr(colon + 1, v.size() - colon - 2);
    }
    return v;
}

// Number of entries of a GDAL list value; 0 for none.
long listCount(const std::string& v) {
    if (v.size() >= 3 && v.front() == '(') {
        const auto colon = v.find(':');
        const auto close = v.find(')');
        const auto end = colon == std::string::npos ? close : colon;
        if (end != std::string::npos) return std::atol(v.substr(1, end - 1).c_str());
    }
    return 0;
}

char primLetter(const std::string& gdalPrim) {
    switch (std::atoi(gdalPrim.c_str())) {
    case 1: return 'P';
    case 2: return 'L';
    case 3: return 'A';
    default: return 'N';
    }
}

struct Feature {
    std::string table;    // ours: the class or table; GDAL: the layer
    std::string acronym;  // object class
    char prim = 'N';
    std::vector<GeoRow> rows;  // soundings: one per sounding
};
using Features = std::map<std::string, Feature>;  // by our long name: AGEN label, FIDN, FIDS

std::string gdalLnam(const GeoRow& r) {
    char label[125] = {};
    const std::string agen = value(r, "AGEN");
    if (lookupAGENlabel(agen.c_str(), label) != 0) return {};
    long long fidn = std::atoll(value(r, "FIDN").c_str());
    if (fidn < 0) fidn += 4294967296LL;  // GDAL reads FIDN as signed
    char out[sizeof label + 32];
    std::snprintf(out, sizeof out, "%s%010lld%05d", label, fidn, std::atoi(value(r, "FIDS").c_str()));
    return out;
}

Features gdalFeatures(const std::string& gpkg) {
    Features out;
    for (const auto& layer : query(gpkg, "SELECT table_name FROM gpkg_contents")) {
        const std::string name = *layer[0];
        if (kPrimitiveLayers.count(upper(name))) continue;
        for (auto& r : geoRows(gpkg, name, "geom")) {
            Feature& f = out[gdalLnam(r)];
            f.table = f.acronym = name;
            f.prim = primLetter(value(r, "PRIM"));
            f.rows.push_back(std::move(r));
        }
    }
    return out;
}

std::string acronymOf(const std::string& code) {
    const int c = std::atoi(code.c_str());
    for (int32_t i = 0; i < s57ObjectCount; ++i)
        if (s57Objects[i].code == c) return s57Objects[i].acronym;
    return "code " + code;
}

Features ourFeatures(const std::string& gpkg) {
    Features out;
    for (const auto& t : tables(gpkg)) {
        if (upper(t) == "ATTO") continue;
        const auto cols = columns(gpkg, t);
        bool hasLnam = false, hasSubtype = false;
        for (const auto& c : cols) {
            hasLnam = hasLnam || upper(c) == "LNAM";
            hasSubtype = hasSubtype || upper(c) == "SUBTYPE";
        }
        if (!hasLnam) continue;
        for (auto& r : geoRows(gpkg, t, "SHAPE")) {
            // A class without subtypes holds one object class: a collection table named after it, or
            // the class made for a primitive the product model does not map ("ACHARE_L").
            std::string table = upper(t);
            if (table.size() > 2 && table[table.size() - 2] == '_') table.resize(table.size() - 2);
            const std::string acronym = hasSubtype ? acronymOf(value(r, "SUBTYPE")) : table;
            // Cartographic objects ($AREAS ...): GDAL's GeoPackage cannot hold their layers.
            if (!acronym.empty() && acronym[0] == '$') continue;
            Feature& f = out[value(r, "LNAM")];
            f.table = t;
            f.acronym = acronym;
            const std::string prim = value(r, "PRIM");
            f.prim = prim.empty() ? 'N' : prim[0];
            f.rows.push_back(std::move(r));
        }
    }
    return out;
}

// Each side read once per cell.
const Features& gdalOf(const Imported* c) {
    static std::map<const Imported*, Features> read;
    auto it = read.find(c);
    if (it == read.end()) it = read.emplace(c, gdalFeatures(c->gdal)).first;
    return it->second;
}
const Features& oursOf(const Imported* c) {
    static std::map<const Imported*, Features> read;
    auto it = read.find(c);
    if (it == read.end()) it = read.emplace(c, ourFeatures(c->ours)).first;
    return it->second;
}

// ---- Comparing -----------------------------------------------------------------------------------

bool number(const std::string& s, double* v) {
    if (s.empty()) return false;
    char* end = nullptr;
    *v = std::strtod(s.c_str(), &end);
    return end && *end == '\0';
}

// The non-empty items of a list value.
std::vector<std::string> items(const std::string& v) {
    std::vector<std::string> out;
    std::string item;
    std::istringstream in(v);
    while (std::getline(in, item, ','))
        if (!item.empty()) out.push_back(item);
    return out;
}

bool sameValue(const std::string& gdal, const std::string& ours) {
    double a, b;
    if (number(gdal, &a) && number(ours, &b)) return a == b || std::fabs(a - b) <= 1e-9 * std::fabs(a);
    return gdal == ours;
}

std::string show(const Pt& p) {
    std::ostringstream s;
    s.precision(17);
    s << "(" << p.x << " " << p.y;
    if (p.hasZ) s << " " << p.z;
    s << ")";
    return s.str();
}

bool samePoint(const Pt& a, const Pt& b) { return a.x == b.x && a.y == b.y; }

// Consecutive repeats dropped: where two edges of a line meet, their shared node may be kept twice.
Ring withoutRepeats(const Ring& r) {
    Ring out;
    for (const auto& p : r)
        if (out.empty() || !samePoint(out.back(), p)) out.push_back(p);
    return out;
}

// A ring as a canonical vertex list: open, no repeats, starting at its smallest vertex, in the
// direction whose second vertex is smaller.
std::vector<std::pair<double, double>> canonicalRing(const Ring& ring) {
    Ring r = withoutRepeats(ring);
    if (r.size() > 1 && samePoint(r.front(), r.back())) r.pop_back();
    std::vector<std::pair<double, double>> v;
    for (const auto& p : r) v.emplace_back(p.x, p.y);
    if (v.empty()) return v;
    const auto rotateToMin = [](std::vector<std::pair<double, double>>& w) {
        std::rotate(w.begin(), std::min_element(w.begin(), w.end()), w.end());
    };
    rotateToMin(v);
    auto rev = v;
    std::reverse(rev.begin(), rev.end());
    rotateToMin(rev);
    return std::min(v, rev);
}

// Empty when the geometries agree, else what differs.
std::string compareGeometry(const Geometry& g, const Geometry& o, bool sounding) {
    if (g.kind == 0 && o.kind == 0) return {};
    if (g.kind != o.kind) return "kind " + std::to_string(g.kind) + " vs " + std::to_string(o.kind);
    if (g.kind == 1) {
        if (g.parts.size() != 1 || o.parts.size() != 1) return "point parts";
        const Pt &a = g.parts[0][0], &b = o.parts[0][0];
        if (!samePoint(a, b) || (sounding && (!b.hasZ || a.z != b.z))) return show(a) + " vs " + show(b);
        return {};
    }
    if (g.kind == 2) {
        Ring a, b;
        for (const auto& p : g.parts) a.insert(a.end(), p.begin(), p.end());
        for (const auto& p : o.parts) b.insert(b.end(), p.begin(), p.end());
        a = withoutRepeats(a);
        b = withoutRepeats(b);
        if (a.size() != b.size()) return std::to_string(a.size()) + " vs " + std::to_string(b.size()) + " vertices";
        for (std::size_t i = 0; i < a.size(); ++i)
            if (!samePoint(a[i], b[i])) return "vertex " + std::to_string(i) + " " + show(a[i]) + " vs " + show(b[i]);
        return {};
    }
    std::vector<std::vector<std::pair<double, double>>> a, b;
    for (const auto& r : g.parts) a.push_back(canonicalRing(r));
    for (const auto& r : o.parts) b.push_back(canonicalRing(r));
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    if (a != b) return std::to_string(a.size()) + " vs " + std::to_string(b.size()) + " rings, not the same";
    return {};
}

class GdalCompare : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        if (!testdata::present()) GTEST_SKIP() << "test data folder " << testdata::root() << " is absent";
        if (std::system("ogr2ogr --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ogr2ogr is not installed";
        cell = &imported(GetParam());
        if (!cell->skip.empty()) GTEST_SKIP() << cell->skip;
        ASSERT_TRUE(cell->gdalRead) << "GDAL did not read " << GetParam().cell->cell;
        std::vector<std::string> failures;
        for (const auto& m : cell->run.messages())
            if (m != "Would you like to see the log file?") failures.push_back(m);
        if (failures.empty()) {
            ASSERT_EQ(cell->run.result, 0);
            return;
        }
        if (GetParam().cell->mayRefuse && failures[0].rfind("Unable to load file ", 0) == 0) {
            refused = failures[0];
            return;
        }
        for (const auto& k : kKnown)
            if (name() == k.cell && std::string(k.check) == "import" && failures[0].find(k.text) != std::string::npos)
                GTEST_SKIP() << "known import failure: " << failures[0];
        FAIL() << failures[0] << "\n" << cell->run.log.substr(0, 2000);
    }
    std::string refused;  // the message of a refused S-58 set
    std::string name() const { return GetParam().cell->name; }

    // Feature counts per object class and primitive (soundings one per sounding).
    void checkCounts();
    // Every feature by long name: class, primitive, attribute values as text, geometry.
    void checkFeatures();
    // vi2d + vi3d, vc, ve against the DSSI counts; soundings; edges vertex by vertex.
    void checkPrimitives();
    // srel: one row per FSPT and VRPT pointer; frel one per FFPT; dsnm one per M_COVR.
    void checkRelations();
    // A refused set names the file of the set and, in the log, the damage; nothing of it stays.
    void checkRefused();
    // On the server: every table holds the rows, values and geometries of the GeoPackage import of
    // the same cell.
    void checkSameAsGeoPackage();
    const Imported* cell = nullptr;
};

void GdalCompare::checkCounts() {
    std::map<std::string, long> gdal, ours;
    for (const auto& [lnam, f] : gdalOf(cell)) gdal[f.acronym + "/" + f.prim] += long(f.rows.size());
    for (const auto& [lnam, f] : oursOf(cell)) ours[f.acronym + "/" + f.prim] += long(f.rows.size());
    std::vector<std::string> differ;
    for (const auto& [key, n] : gdal)
        if (ours[key] != n) differ.push_back(key + " " + std::to_string(ours[key]) + " instead of " + std::to_string(n));
    for (const auto& [key, n] : ours)
        if (!gdal.count(key) && n) differ.push_back(key + " " + std::to_string(n) + ", not in GDAL's reading");
    expectOnlyKnown(name(), "counts", differ);
}

void GdalCompare::checkFeatures() {
    const Features& gdal = gdalOf(cell);
    const Features& ours = oursOf(cell);
    // Values too long for their column stand in atto.
    std::map<std::pair<std::string, std::string>, std::string> overflow;
    for (const auto& r : query(cell->ours, "SELECT \"LNAM\", \"ATTL\", \"ATVL\" FROM atto"))
        overflow[{r[0].value_or(""), upper(r[1].value_or(""))}] = r[2].value_or("");

    std::vector<std::string> problems;
    const auto problem = [&](const std::string& lnam, const std::string& what) {
        problems.push_back(lnam + ": " + what);
    };
    for (const auto& [lnam, g] : gdal) {
        const auto it = ours.find(lnam);
        if (it == ours.end()) {
            problem(lnam, g.acronym + " not imported");
            continue;
        }
        const Feature& o = it->second;
        if (o.acronym != g.acronym || o.prim != g.prim) {
            problem(lnam, o.acronym + "/" + o.prim + " instead of " + g.acronym + "/" + g.prim);
            continue;
        }
        if (o.rows.size() != g.rows.size()) {
            problem(lnam, std::to_string(o.rows.size()) + " rows instead of " + std::to_string(g.rows.size()));
            continue;
        }
        const bool sounding = g.acronym == "SOUNDG";
        for (std::size_t i = 0; i < g.rows.size(); ++i) {
            const GeoRow &gr = g.rows[i], &orow = o.rows[i];
            for (const auto& [column, v] : gr.values) {
                if (kGdalRecordColumns.count(column) || !v) continue;
                const std::string expected = unlist(*v);
                if (expected.empty()) continue;
                const bool list = expected != *v;  // GDAL keeps a list's items, not empty ones
                if (!orow.values.count(column)) {
                    problem(lnam, "no column " + column + " in " + o.table);
                    continue;
                }
                std::string got = value(orow, column);
                if (got.empty() && expected.size() > 70) got = overflow[{lnam, column.substr(0, 6)}];
                const bool same = list ? items(expected) == items(got) : sameValue(expected, got);
                if (!same) problem(lnam, column + " '" + got + "' instead of '" + expected + "'");
            }
            if (value(orow, "GRUP") != value(gr, "GRUP")) problem(lnam, "GRUP " + value(orow, "GRUP"));
            if (sounding && !sameValue(value(gr, "DEPTH"), value(orow, "DEPTH")))
                problem(lnam, "DEPTH " + value(orow, "DEPTH") + " instead of " + value(gr, "DEPTH"));
            if (o.prim == 'N') continue;  // collections have no shape
            const std::string diff = compareGeometry(decodeGpkg(gr.geometry), decodeGpkg(orow.geometry), sounding);
            if (!diff.empty()) problem(lnam, g.acronym + " geometry: " + diff);
        }
    }
    for (const auto& [lnam, o] : ours)
        if (!gdal.count(lnam)) problem(lnam, o.acronym + " is not in GDAL's reading");

    expectOnlyKnown(name(), "features", problems);
}

void GdalCompare::checkPrimitives() {
    const auto dssi = query(cell->gdal, "SELECT DSSI_NOIN, DSSI_NOCN, DSSI_NOED, DSID_DSNM FROM DSID");
    ASSERT_EQ(dssi.size(), 1u);
    const long noin = std::stol(dssi[0][0].value_or("-1"));
    const long nocn = std::stol(dssi[0][1].value_or("-1"));
    const long noed = std::stol(dssi[0][2].value_or("-1"));
    std::vector<std::string> differ;
    const auto expectCount = [&](const std::string& what, long got, long expected) {
        if (got != expected)
            differ.push_back(what + " " + std::to_string(got) + " instead of " + std::to_string(expected));
    };
    // Where a damaged cell's DSSI miscounts its own records, GDAL's count of what is there decides.
    const long isolated = count(cell->gdal, "IsolatedNode");
    const long connected = count(cell->gdal, "ConnectedNode");
    const long edges = count(cell->gdal, "Edge");
    const bool dssiTrue = isolated == noin && connected == nocn && edges == noed;
    expectCount(dssiTrue ? "vi2d+vi3d (NOIN)" : "vi2d+vi3d", count(cell->ours, "vi2d") + count(cell->ours, "vi3d"),
                isolated);
    expectCount(dssiTrue ? "vc (NOCN)" : "vc", count(cell->ours, "vc"), connected);
    expectCount(dssiTrue ? "ve (NOED)" : "ve", count(cell->ours, "ve"), edges);

    // Each sounding point of a 3-D node is one vi3dsp row.
    long soundings = 0;
    for (const auto& r : geoRows(cell->gdal, "IsolatedNode", "geom")) {
        const Geometry g = decodeGpkg(r.geometry);
        if (!g.parts.empty() && g.parts[0][0].hasZ) soundings += long(g.parts.size());
    }
    expectCount("vi3dsp", count(cell->ours, "vi3dsp"), soundings);

    // Edges vertex by vertex, by record id; GDAL's edge holds only its own SG2D points, ours begins
    // and ends at its nodes.
    std::map<long, Geometry> gdalEdges;
    for (const auto& r : geoRows(cell->gdal, "Edge", "geom"))
        gdalEdges[std::atol(value(r, "RCID").c_str())] = decodeGpkg(r.geometry);
    for (const auto& r : geoRows(cell->ours, "ve", "SHAPE")) {
        const std::string edgeName = value(r, "NAME");
        const long rcid = edgeName.size() > 2 ? std::atol(edgeName.c_str() + 2) : -1;
        const auto it = gdalEdges.find(rcid);
        Geometry ours = decodeGpkg(r.geometry);
        if (ours.parts.size() == 1 && ours.parts[0].size() >= 2) {
            ours.parts[0].pop_back();
            ours.parts[0].erase(ours.parts[0].begin());
        }
        Geometry theirs = it == gdalEdges.end() ? Geometry{} : it->second;
        if (theirs.kind == 0) theirs = Geometry{2, {Ring{}}};
        const std::string diff = it == gdalEdges.end() ? "not in GDAL" : compareGeometry(theirs, ours, false);
        if (!diff.empty()) differ.push_back(edgeName + ": " + diff);
    }
    expectOnlyKnown(name(), "primitives", differ);
}

void GdalCompare::checkRelations() {
    long fspt = 0, ffpt = 0, coverages = 0;
    for (const auto& [lnam, f] : gdalOf(cell)) {
        const GeoRow& r = f.rows.front();  // the rows of a split sounding share their pointers
        fspt += listCount(value(r, "NAME_RCID"));
        ffpt += listCount(value(r, "LNAM_REFS"));
        if (f.acronym == "M_COVR") ++coverages;
    }
    long vrpt = 0;
    for (const auto& r : geoRows(cell->gdal, "Edge", "geom"))
        for (const auto& [column, v] : r.values)
            if (column.rfind("NAME_RCID_", 0) == 0 && v) ++vrpt;
    std::vector<std::string> differ;
    const auto expectCount = [&](const std::string& what, long got, long expected) {
        if (got != expected)
            differ.push_back(what + " " + std::to_string(got) + " instead of " + std::to_string(expected));
    };
    expectCount("srel (FSPT " + std::to_string(fspt) + ", VRPT " + std::to_string(vrpt) + ")", count(cell->ours, "srel"),
                fspt + vrpt);
    expectCount("frel", count(cell->ours, "frel"), ffpt);
    expectCount("dsnm", count(cell->ours, "dsnm"), coverages);
    expectOnlyKnown(name(), "relations", differ);
}

void GdalCompare::checkRefused() {
    const std::string dir = folder().file(name()) + "/";
    EXPECT_EQ(refused.rfind("Unable to load file " + dir, 0), 0u) << refused;
    const std::string& log = cell->run.log;
    EXPECT_TRUE(log.find("subField label:") != std::string::npos || log.find("Error reading") != std::string::npos)
        << "the log does not name the damage:\n" << log.substr(0, 1500);
    for (const auto& [table, rows] : rowCounts(cell->ours)) {
        if (table == "gdb_items") continue;  // lists the run's own tables
        const auto it = cell->before.find(table);
        if (it != cell->before.end())
            EXPECT_EQ(rows, it->second) << table;
        else
            EXPECT_TRUE(table == "catd" || rows == 0) << table << " has " << rows << " rows";
    }
}

// Both sides' values as text: the same, or numbers within the GeoPackage reader's 15 digits.
bool sameStored(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    if (!a || !b) return !a && !b;
    if (*a == *b) return true;
    double x, y;
    return number(*a, &x) && number(*b, &y) && std::fabs(x - y) <= 1e-14 * std::max(std::fabs(x), std::fabs(y));
}

std::string sameShape(const Geometry& a, const Geometry& b) {
    if (a.kind != b.kind) return "kind " + std::to_string(b.kind) + " instead of " + std::to_string(a.kind);
    if (a.parts.size() != b.parts.size()) return "other parts";
    for (std::size_t i = 0; i < a.parts.size(); ++i) {
        if (a.parts[i].size() != b.parts[i].size()) return "part " + std::to_string(i) + " of other length";
        for (std::size_t k = 0; k < a.parts[i].size(); ++k) {
            const Pt &p = a.parts[i][k], &q = b.parts[i][k];
            if (p.x != q.x || p.y != q.y || p.hasZ != q.hasZ || (p.hasZ && p.z != q.z))
                return "vertex " + std::to_string(k) + " " + show(q) + " instead of " + show(p);
        }
    }
    return {};
}

void GdalCompare::checkSameAsGeoPackage() {
    const Imported& reference = imported(Case{Backend::GeoPackage, GetParam().cell});
    ASSERT_TRUE(reference.skip.empty() && !reference.ours.empty());
    // Each backend's own side tables are its own.
    const auto dataTables = [](const std::string& gdb) {
        std::vector<std::string> out;
        for (const auto& t : tables(gdb))
            if (t.rfind("gdb_", 0) != 0) out.push_back(t);
        return out;
    };
    const std::vector<std::string> names = dataTables(reference.ours);
    ASSERT_EQ(dataTables(cell->ours), names);
    std::vector<std::string> differ;
    for (const auto& t : names) {
        const auto file = geoRows(reference.ours, t, "SHAPE"), server = geoRows(cell->ours, t, "SHAPE");
        if (file.size() != server.size()) {
            differ.push_back(t + ": " + std::to_string(server.size()) + " rows instead of " + std::to_string(file.size()));
            continue;
        }
        // srel's ID goes on from the last one the process gave (the run state's counter), whichever
        // geodatabase: compared from the table's first.
        const auto relativeId = [&](const std::vector<GeoRow>& rows, std::size_t i) -> std::optional<std::string> {
            const auto id = rows[i].values.at("ID"), first = rows[0].values.at("ID");
            if (!id || !first) return id;
            return std::to_string(std::atol(id->c_str()) - std::atol(first->c_str()));
        };
        const bool srel = upper(t) == "SREL";
        for (std::size_t i = 0; i < file.size(); ++i) {
            const std::string row = t + " row " + std::to_string(i + 1) + ": ";
            for (const auto& [column, v] : file[i].values) {
                const auto it = server[i].values.find(column);
                if (it == server[i].values.end())
                    differ.push_back(row + "no column " + column);
                else if (srel && column == "ID" ? relativeId(file, i) != relativeId(server, i)
                                                : !sameStored(v, it->second))
                    differ.push_back(row + column + " '" + it->second.value_or("NULL") + "' instead of '" +
                                     v.value_or("NULL") + "'");
            }
            if (server[i].values.size() != file[i].values.size()) differ.push_back(row + "other columns");
            const std::string shape = sameShape(decodeGpkg(file[i].geometry), decodeGpkg(server[i].geometry));
            if (!shape.empty()) differ.push_back(row + "SHAPE " + shape);
        }
    }
    std::string first;
    for (std::size_t i = 0; i < differ.size() && i < 25; ++i) first += differ[i] + "\n";
    EXPECT_TRUE(differ.empty()) << differ.size() << " differences, the first:\n" << first;
}

// One test per cell, so that each cell is imported once also when every test runs alone.
TEST_P(GdalCompare, ImportMatchesGdalsReading) {
    if (!refused.empty()) {
        SCOPED_TRACE("refused: " + refused);
        checkRefused();
        return;
    }
    {
        SCOPED_TRACE("counts per class and primitive");
        checkCounts();
    }
    {
        SCOPED_TRACE("features by long name");
        checkFeatures();
    }
    {
        SCOPED_TRACE("primitives");
        checkPrimitives();
    }
    {
        SCOPED_TRACE("relation rows");
        checkRelations();
    }
    if (GetParam().backend == Backend::Server) {
        SCOPED_TRACE("the tables of the GeoPackage import");
        checkSameAsGeoPackage();
    }
}

INSTANTIATE_TEST_SUITE_P(Cells, GdalCompare, ::testing::ValuesIn(casesOn(Backend::GeoPackage)),
                         [](const auto& i) { return std::string(i.param.cell->name); });
INSTANTIATE_TEST_SUITE_P(Server, GdalCompare, ::testing::ValuesIn(casesOn(Backend::Server)),
                         [](const auto& i) { return std::string(i.param.cell->name); });

}  // namespace
