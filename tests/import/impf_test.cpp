// tests/import/impf_test.cpp: the feature import of real cells compared with GDAL's reading of the same
// cells (counts per object class and primitive, LNAM, attribute values as text, geometry), the
// relation and coverage rows, and the import's answers to a Z domain above sea level, a list left
// anywhere by the vector import and rows that cannot be inserted.

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "import/impf.h"
#include "s57/dbutil.h"
#include "s57/dimml.h"
#include "s57/lookups.h"
#include "s57/record_list.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"
#include "platform/ui/progress.h"
#include "platform/ui/ui.h"
#include "support/test_data.h"
#include "tests/import/features_support.h"

using features::Part;
using features::Row;

namespace {

bool hasGdal() { return std::system("ogr2ogr --version > /dev/null 2>&1") == 0; }

std::string upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// GDAL's LNAM (AGEN, FIDN, FIDS as 4, 8 and 4 hex digits) in the importer's form: agency label,
// FIDN in 10 digits, FIDS in 5.
std::string ourLnam(const std::string& hex) {
    if (hex.size() != 16) return hex;
    const unsigned agen = unsigned(std::stoul(hex.substr(0, 4), nullptr, 16));
    const unsigned long fidn = std::stoul(hex.substr(4, 8), nullptr, 16);
    const unsigned fids = unsigned(std::stoul(hex.substr(12, 4), nullptr, 16));
    char label[125] = {};
    (void)lookupAGENlabel(std::to_string(agen).c_str(), label);
    char out[160];
    std::snprintf(out, sizeof out, "%s%010lu%05u", label, fidn, fids);
    return out;
}

// A ring without its closing point, started at its smallest vertex, in the direction whose second
// vertex is the smaller: GDAL runs exterior rings counter-clockwise, the geodatabase clockwise.
std::vector<std::pair<double, double>> normalRing(const Part& ring) {
    std::vector<std::pair<double, double>> v;
    for (const auto& c : ring) v.emplace_back(c.x, c.y);
    if (v.size() > 1 && v.front() == v.back()) v.pop_back();
    if (v.empty()) return v;
    std::rotate(v.begin(), std::min_element(v.begin(), v.end()), v.end());
    if (v.size() > 2 && v.back() < v[1]) std::reverse(v.begin() + 1, v.end());
    return v;
}

std::string describe(const std::vector<Part>& parts) {
    std::ostringstream s;
    s.precision(12);
    for (const auto& p : parts) {
        s << "(";
        for (const auto& c : p) s << c.x << " " << c.y << ",";
        s << ")";
    }
    return s.str();
}

struct Comparison {
    std::vector<std::string> problems;
    std::map<std::string, int> counts;  // "ACRONYM/P" -> features compared
    int features = 0;
    int ffpt = 0, fspt = 0, coverage = 0;  // pointers and M_COVR features GDAL reports

    void problem(const std::string& p) {
        if (problems.size() < 40) problems.push_back(p);
    }
};

const char* kPrimLetters[] = {"", "P", "L", "A", "N"};
const int kPrimCodes[] = {0, 1, 2, 3, 255};  // GDAL's PRIM values

std::size_t listLength(const std::optional<std::string>& list) {
    if (!list || list->empty()) return 0;
    std::string s = *list;
    // GeoPackage keeps GDAL's lists as JSON arrays; "(n:a,b)" is GDAL's text form.
    if (s.front() == '(') return std::size_t(std::atoi(s.c_str() + 1));
    if (s == "[]" || s == "[ ]") return 0;
    return std::size_t(std::count(s.begin(), s.end(), ',')) + 1;
}

// Compares every feature of the GDAL layers named in `only` (all when empty).
Comparison compare(const std::string& ours, const std::string& gdal, const std::set<std::string>& only = {}) {
    Comparison out;
    for (const Row& layer : features::query(gdal, "SELECT table_name FROM gpkg_contents")) {
        const std::string acronym = *layer[0].text;
        int32_t objectCode = 0;
        if (lookupObjCode(acronym.c_str(), &objectCode) != 0) continue;  // DSID and the like
        if (!only.empty() && !only.count(acronym)) continue;
        const std::vector<std::string> gdalColumns = features::columns(gdal, acronym);
        for (int prim = 1; prim <= 4; ++prim) {
            std::string geometryColumn;
            for (const Row& r : features::query(gdal, "SELECT column_name FROM gpkg_geometry_columns WHERE table_name='" +
                                                          acronym + "'"))
                geometryColumn = *r[0].text;
            const std::vector<Row> theirs = features::query(
                gdal, "SELECT * FROM \"" + acronym + "\" WHERE PRIM=" + std::to_string(kPrimCodes[prim]) + " ORDER BY fid");
            if (theirs.empty()) continue;
            const std::string key = acronym + "/" + kPrimLetters[prim];
            out.counts[key] = int(theirs.size());
            out.features += int(theirs.size());

            std::string table = acronym, where;
            if (prim < 4) {
                std::string className, subtype;
                (void)checkFeatureClassName(className, subtype, acronym.c_str(), kPrimLetters[prim]);
                if (className.empty()) className = acronym + "_" + kPrimLetters[prim];
                table = className;
                where = " WHERE SUBTYPE=" + std::to_string(objectCode);
            }
            const std::vector<std::string> ourColumns = features::columns(ours, table);
            if (ourColumns.empty()) {
                out.problem(key + ": no table " + table);
                continue;
            }
            std::set<std::string> ourUpper;
            for (const auto& c : ourColumns) ourUpper.insert(upper(c));
            if (prim < 4 && !ourUpper.count("SUBTYPE")) where.clear();
            const std::vector<Row> mine =
                features::query(ours, "SELECT * FROM \"" + table + "\"" + where + " ORDER BY OBJECTID");
            if (mine.size() != theirs.size())
                out.problem(key + ": " + std::to_string(mine.size()) + " rows, GDAL " + std::to_string(theirs.size()));

            auto index = [](const std::vector<std::string>& cols, const std::string& name) {
                for (std::size_t i = 0; i < cols.size(); ++i)
                    if (upper(cols[i]) == upper(name)) return int(i);
                return -1;
            };
            const int ourLnamAt = index(ourColumns, "LNAM");
            const int ourShapeAt = index(ourColumns, "SHAPE");
            const int ourDepthAt = index(ourColumns, "DEPTH");
            const int theirLnamAt = index(gdalColumns, "LNAM");
            const int theirShapeAt = index(gdalColumns, geometryColumn);
            const int theirDepthAt = index(gdalColumns, "DEPTH");
            const int theirLinks = index(gdalColumns, "NAME_RCNM");
            const int theirRefs = index(gdalColumns, "LNAM_REFS");
            std::multimap<std::string, const Row*> byLnam;
            for (const Row& r : mine) byLnam.emplace(r[ourLnamAt].text.value_or(""), &r);
            std::map<std::string, int> seen;

            for (const Row& t : theirs) {
                const std::string lnam = ourLnam(t[theirLnamAt].text.value_or(""));
                auto range = byLnam.equal_range(lnam);
                int k = seen[lnam]++;
                // Soundings split from one record repeat its pointers: count them once.
                if (k == 0) {
                    if (theirLinks >= 0) out.fspt += int(listLength(t[theirLinks].text));
                    if (theirRefs >= 0) out.ffpt += int(listLength(t[theirRefs].text));
                    if (acronym == "M_COVR") ++out.coverage;
                }
                auto it = range.first;
                while (k-- > 0 && it != range.second) ++it;
                if (it == range.second) {
                    out.problem(key + " " + lnam + ": not imported");
                    continue;
                }
                const Row& m = *it->second;
                for (std::size_t c = 0; c < gdalColumns.size(); ++c) {
                    const std::string& name = gdalColumns[c];
                    int32_t code = 0;
                    if (name.size() != 6 || lookupAttrCode(name.c_str(), &code) != 0) continue;
                    const std::string theirValue = t[c].text.value_or("");
                    const int at = index(ourColumns, name);
                    if (at < 0) {
                        if (!theirValue.empty()) out.problem(key + " " + lnam + ": no column " + name);
                        continue;
                    }
                    std::string ourValue = m[std::size_t(at)].text.value_or("");
                    // A value too long for its column is kept whole in atto.
                    if (ourValue.empty() && theirValue.size() > 70) {
                        const auto kept = features::query(ours, "SELECT ATVL FROM atto WHERE LNAM='" + lnam +
                                                                    "' AND ATTL='" + name + "'");
                        if (!kept.empty()) ourValue = kept[0][0].text.value_or("");
                    }
                    if (ourValue != theirValue)
                        out.problem(key + " " + lnam + " " + name + ": '" + ourValue + "', GDAL '" + theirValue + "'");
                }
                if (prim == 4) continue;
                const auto a = features::blobParts(m[std::size_t(ourShapeAt)].blob);
                const auto b = features::blobParts(t[std::size_t(theirShapeAt)].blob);
                bool same = true;
                if (prim == 3) {
                    std::vector<std::vector<std::pair<double, double>>> ra, rb;
                    for (const auto& p : a) ra.push_back(normalRing(p));
                    for (const auto& p : b) rb.push_back(normalRing(p));
                    same = ra.size() == rb.size() && !ra.empty() && ra[0] == rb[0];
                    std::sort(ra.begin(), ra.end());
                    std::sort(rb.begin(), rb.end());
                    same = same && ra == rb;
                } else {
                    same = a == b;
                }
                if (!same) out.problem(key + " " + lnam + ": shape " + describe(a) + " GDAL " + describe(b));
                if (acronym == "SOUNDG" && !a.empty() && !a[0].empty() && theirDepthAt >= 0 && ourDepthAt >= 0) {
                    const std::string d1 = m[std::size_t(ourDepthAt)].text.value_or("");
                    const std::string d2 = t[std::size_t(theirDepthAt)].text.value_or("");
                    if (d1 != d2 || std::to_string(a[0][0].z) != std::to_string(std::atof(d2.c_str())))
                        out.problem(key + " " + lnam + ": depth " + d1 + " GDAL " + d2);
                }
            }
        }
    }
    return out;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\n";
    return s;
}

int count(const std::string& file, const std::string& sql) {
    const auto rows = features::query(file, sql);
    return rows.empty() || !rows[0][0].text ? -1 : std::atoi(rows[0][0].text->c_str());
}

class FeatureImport : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testdata::present()) GTEST_SKIP() << "test data folder " << testdata::root() << " is absent";
        if (!hasGdal()) GTEST_SKIP() << "GDAL's ogr2ogr is not installed";
    }
    features::TempDir dir_;
};

// The whole harbour cell: every feature of every class as GDAL reads it, and its relation rows.
TEST_F(FeatureImport, WholeCellEqualsGdal) {
    const std::string cell = testdata::path("enc/US5MA12M/US5MA12M.000");
    const std::string gdal = features::gdalReference(cell, dir_);
    ASSERT_FALSE(gdal.empty());
    const features::ImportRun run = features::importCell(cell, dir_);
    ASSERT_EQ(run.vectorResult, 0) << run.log;
    ASSERT_EQ(run.featureResult, 0) << run.log;
    Comparison c = compare(run.gpkg, gdal);
    EXPECT_TRUE(c.problems.empty()) << joined(c.problems);
    EXPECT_GT(c.counts["SOUNDG/P"], 8);
    EXPECT_EQ(c.counts["UWTROC/P"], 516);
    EXPECT_EQ(c.counts["C_ASSO/N"], 1);
    EXPECT_EQ(count(run.gpkg, "SELECT count(*) FROM srel WHERE SRC_NAME LIKE 'FE%'"), c.fspt);
    EXPECT_EQ(count(run.gpkg, "SELECT count(*) FROM frel"), c.ffpt);
    EXPECT_EQ(count(run.gpkg, "SELECT count(*) FROM dsnm"), c.coverage);
    EXPECT_EQ(c.coverage, 3);
    EXPECT_EQ(run.log.find("Error on"), std::string::npos) << run.log;
}

// A few classes of each primitive, and the collections, of the other cells.
struct CellCase {
    const char* name;
    const char* cell;
    std::set<std::string> classes;
};

const CellCase kCells[] = {
    {"Approach", "enc/US4CN21M/US4CN21M.000", {}},
    // National text in UCS-2 (NALL 2), collections and coverage.
    {"Overview", "enc/US1AK90M/US1AK90M.000", {"SOUNDG", "DEPCNT", "DEPARE", "M_COVR", "C_ASSO", "ADMARE"}},
    {"Aggregates", "s58/AA400004/ENC_ROOT/AA400004.000", {}},
    {"FullTopology", "s58/AA500002/ENC_ROOT/AA500002.000", {}},
    {"NationalText", "s58/AA500006/ENC_ROOT/AA500006.000", {}},
    // Areas whose rings cross: kept as the cell gives them, as GDAL does.
    {"CrossingRings", "s58/AA400016/ENC_ROOT/AA400016.000", {"AIRARE", "LNDARE", "DEPARE"}},
};

class FeatureCells : public FeatureImport, public ::testing::WithParamInterface<CellCase> {};

TEST_P(FeatureCells, EqualGdal) {
    const CellCase& c = GetParam();
    std::string cell = testdata::path(c.cell);
    if (!std::filesystem::exists(cell)) {
        const auto found = testdata::files({std::filesystem::path(cell).filename().string()});
        ASSERT_FALSE(found.empty()) << cell;
        cell = found.front();
    }
    const std::string gdal = features::gdalReference(cell, dir_);
    ASSERT_FALSE(gdal.empty());
    const features::ImportRun run = features::importCell(cell, dir_);
    ASSERT_EQ(run.featureResult, 0) << run.log;
    const Comparison result = compare(run.gpkg, gdal, c.classes);
    EXPECT_TRUE(result.problems.empty()) << joined(result.problems);
    EXPECT_GT(result.features, 0);
}

INSTANTIATE_TEST_SUITE_P(Real, FeatureCells, ::testing::ValuesIn(kCells),
                         [](const auto& i) { return std::string(i.param.name); });

// ---- How the import answers what is not ordinary -------------------------------------------------

std::string mappedClass(const char* acronym, const char* primitive) {
    std::string className, subtype;
    (void)checkFeatureClassName(className, subtype, acronym, primitive);
    return className;
}

int rowsOf(const std::string& gpkg, const char* acronym, const char* primitive) {
    int32_t code = 0;
    (void)lookupObjCode(acronym, &code);
    return count(gpkg, "SELECT count(*) FROM \"" + mappedClass(acronym, primitive) + "\" WHERE SUBTYPE=" +
                           std::to_string(code));
}

// A sounding class whose Z domain lies above sea level cannot take depths: its soundings are left
// out, said so, and every other class of the cell is still imported (those after it in the list too).
TEST_F(FeatureImport, ZDomainAboveSeaLevelLeavesOnlyTheSoundingsOut) {
    const std::string cell = testdata::path("enc/US5MA12M/US5MA12M.000");
    features::ImportOptions options;
    // The sounding class of the template gets a Z domain from 0 up (in the geodatabase's own table of
    // class properties: the platform offers no way to change it once the class exists).
    options.beforeImport = [](const std::string& gpkg) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(gpkg.c_str(), &db), SQLITE_OK);
        const std::string sql =
            "UPDATE gdb_items SET z_min = 0, z_max = 1000 WHERE name = '" + mappedClass("SOUNDG", "P") + "'";
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        EXPECT_EQ(sqlite3_changes(db), 1);
        sqlite3_close(db);
    };
    const features::ImportRun run = features::importCell(cell, dir_, options);
    ASSERT_EQ(run.featureResult, 0) << run.log;
    EXPECT_NE(run.log.find("Warning! Your spatial reference for Z value is above sea level.\n\n"), std::string::npos);
    EXPECT_NE(run.log.find("importFeature: fail to import all feature point record, continue processing...\n"),
              std::string::npos);
    EXPECT_EQ(count(run.gpkg, "SELECT count(*) FROM \"" + mappedClass("SOUNDG", "P") + "\""), 0);
    // Point classes sorted after SOUNDG, lines, areas and collections are all there.
    const std::string ours = run.gpkg;
    const features::TempDir gdalDir;
    const std::string gdal = features::gdalReference(cell, gdalDir);
    ASSERT_FALSE(gdal.empty());
    const Comparison c = compare(ours, gdal, {"UWTROC", "WRECKS", "DEPCNT", "DEPARE", "C_ASSO"});
    EXPECT_TRUE(c.problems.empty()) << joined(c.problems);
    EXPECT_EQ(c.counts.at("UWTROC/P"), 516);
}

// Wherever the vector import left the list, the features are found by their kind.
class FeatureListPosition : public FeatureImport,
                     public ::testing::WithParamInterface<features::ImportOptions::Start> {};

TEST_P(FeatureListPosition, FeaturesAreFoundByKind) {
    const std::string cell = testdata::path("s58/AA400004/ENC_ROOT/AA400004.000");
    const std::string gdal = features::gdalReference(cell, dir_);
    ASSERT_FALSE(gdal.empty());
    features::ImportOptions options;
    options.start = GetParam();
    const features::ImportRun run = features::importCell(cell, dir_, options);
    ASSERT_EQ(run.featureResult, 0) << run.log;
    const Comparison c = compare(run.gpkg, gdal);
    EXPECT_TRUE(c.problems.empty()) << joined(c.problems);
    EXPECT_GT(c.counts.count("C_AGGR/N"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Start, FeatureListPosition,
                         ::testing::Values(features::ImportOptions::Start::Head,
                                           features::ImportOptions::Start::End),
                         [](const auto& i) {
                             return std::string(i.param == features::ImportOptions::Start::Head ? "Head" : "End");
                         });

// Attributes a class does not permit have no column: each dropped value is named in the log.
TEST_F(FeatureImport, AttributesOutsideTheClassAreLogged) {
    const auto found = testdata::files({"AA400012.000"});
    ASSERT_FALSE(found.empty());
    const features::ImportRun run = features::importCell(found.front(), dir_);
    ASSERT_EQ(run.featureResult, 0) << run.log;
    EXPECT_NE(run.log.find("writeFeatureClass: "), std::string::npos) << run.log;
    EXPECT_NE(run.log.find(" is not an attribute of its class, value "), std::string::npos) << run.log;
}

// Rows the geodatabase refuses are failures: each is logged, none is counted as converted, the
// importer says the cell is partly imported, and the rest of the cell goes on.
TEST_F(FeatureImport, RefusedInsertsAreCountedAsFailures) {
    const std::string cell = testdata::path("enc/US5MA12M/US5MA12M.000");
    features::ImportOptions options;
    options.beforeImport = [](const std::string& gpkg) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(gpkg.c_str(), &db), SQLITE_OK);
        const std::string sql = "CREATE TRIGGER refuse_rocks BEFORE INSERT ON \"" + mappedClass("UWTROC", "P") +
                                "\" WHEN NEW.SUBTYPE = 153 BEGIN SELECT RAISE(ABORT, 'refused'); END;";
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
    };
    const features::ImportRun run = features::importCell(cell, dir_, options);
    ASSERT_EQ(run.featureResult, 0) << run.log;
    EXPECT_NE(run.log.find("importFeature: fail to import all feature point record, continue processing...\n"),
              std::string::npos);
    EXPECT_NE(run.log.find("converted     0 UWTROC Feature Points to Feature Class"), std::string::npos);
    EXPECT_NE(run.log.find(":Error on inserting feature buffer when converting FE"), std::string::npos);
    EXPECT_NE(run.log.find("importFP: unable to write FE"), std::string::npos);
    EXPECT_EQ(rowsOf(run.gpkg, "UWTROC", "P"), 0);
    EXPECT_EQ(rowsOf(run.gpkg, "DEPARE", "A"), 291);
    EXPECT_EQ(rowsOf(run.gpkg, "DEPCNT", "L"), 423);
}

// ---- One row, from a record built in code --------------------------------------------------------

class FeatureRow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(loadDIMEInfo(), S_OK);
        IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
        workspace_ = factory->Create(dir_.path().c_str(), "row.gpkg");
        features_ = workspace_;
        log_ = std::tmpfile();
        logFile = log_;
        for (const char* a : {"OBJNAM", "INFORM", "CATCOV"}) {
            int32_t index = 0;
            ASSERT_EQ(lookupAttrIndexByAcronym(a, &index), 0) << a;
            attributes_.push_back(index);
        }
        const FieldDef names[] = {{1, "ID", "", 2, 4}, {2, "LNAM", "", 1, 17}, {3, "NAME", "", 1, 12}};
        std::vector<FieldDef> defs(std::begin(names), std::end(names));
        defs.insert(defs.end(), std::begin(fridFieldDefs), std::end(fridFieldDefs));
        ASSERT_EQ(createFeatureClass(features_, "cover_A", esriGeometryPolygon, int(defs.size()), defs.data(),
                                     int(attributes_.size()), attributes_.data(), s57Attributes, 0, &class_, nullptr),
                  S_OK);
        ASSERT_EQ(createGDBTable(features_, "atto", &atto_, fieldDefCount(attoFieldDefs), attoFieldDefs), S_OK);
        std::snprintf(node_.lnam, sizeof node_.lnam, "AA000000000700001");
        std::snprintf(node_.name, sizeof node_.name, "FE0000000007");
    }
    void TearDown() override {
        logFile = nullptr;
        if (log_) std::fclose(log_);
        (void)Free8211Record(&record_);
    }
    std::string logText() {
        std::fflush(log_);
        std::rewind(log_);
        std::string out;
        for (int c; (c = std::fgetc(log_)) != EOF;) out += char(c);
        return out;
    }
    IGeometryPtr square() {
        IPolygonPtr polygon(CLSID_Polygon);
        IPointCollectionPtr points(polygon);
        for (auto [x, y] : {std::pair{0.0, 0.0}, {0.0, 1.0}, {1.0, 1.0}, {1.0, 0.0}}) {
            IPointPtr p(CLSID_Point);
            p->PutCoords(x, y);
            points->AddPoint(p);
        }
        polygon->Close();
        return polygon;
    }

    features::TempDir dir_;
    IWorkspacePtr workspace_;
    IFeatureWorkspacePtr features_;
    IFeatureClassPtr class_;
    ITablePtr atto_;
    std::vector<int32_t> attributes_;
    Iso8211Record record_{};
    ObjectRec node_{};
    FILE* log_ = nullptr;
};

TEST_F(FeatureRow, ValuesOverflowAndCoverage) {
    const std::string seventy(70, 'a'), seventyOne(71, 'b');
    features::buildRecord(&record_, {{"FRID", {{"RCNM", "100"}, {"RCID", "7"}, {"PRIM", "3"}, {"GRUP", "1"},
                                               {"OBJL", "302"}, {"RVER", "1"}, {"RUIN", "1"}}},
                                     {"ATTF", {{"ATTL", "116"}, {"ATVL", "first"}, {"ATTL", "18"}, {"ATVL", "2"},
                                               {"ATTL", "102"}, {"ATVL", seventyOne}}},
                                     {"ATTF", {{"ATTL", "116"}, {"ATVL", seventy}}}});
    ASSERT_EQ(writeFeatureClass(4, &node_, &record_, int32_t(attributes_.size()), attributes_.data(), 0, nullptr,
                                square(), class_, atto_, "", 0, 1, "M_COVR", "A", "AA000000.000"),
              0)
        << logText();
    IFeatureCursorPtr cursor = class_->Search(nullptr, VARIANT_FALSE);
    IFeaturePtr row = cursor->NextFeature();
    ASSERT_TRUE(row);
    auto text = [&](const char* column) {
        return std::string(static_cast<const char*>(_bstr_t(row->GetValue(class_->FindField(column)))));
    };
    EXPECT_EQ(text("OBJNAM"), seventy);  // the later pair of one code wins
    EXPECT_EQ(text("ID"), "4");
    EXPECT_EQ(text("PRIM"), "A");
    EXPECT_EQ(text("RUIN"), "I");
    EXPECT_EQ(text("LNAM"), "AA000000000700001");
    // Only the 71 characters went to atto.
    ICursorPtr overflow = atto_->Search(nullptr, VARIANT_FALSE);
    std::vector<std::string> kept;
    while (IRowPtr r = overflow->NextRow())
        kept.push_back(std::string(static_cast<const char*>(_bstr_t(r->GetValue(atto_->FindField("ATTL"))))) + "=" +
                       static_cast<const char*>(_bstr_t(r->GetValue(atto_->FindField("ATVL")))));
    EXPECT_EQ(kept, (std::vector<std::string>{"INFORM=" + seventyOne}));
    // The coverage row carries CATCOV and the feature's object id.
    ITable* dsnm = nullptr;
    ASSERT_EQ(getDSNMTable(features_, &dsnm), S_OK);
    ITablePtr cells;
    cells.Attach(dsnm);
    ICursorPtr coverage = cells->Search(nullptr, VARIANT_FALSE);
    IRowPtr c = coverage->NextRow();
    ASSERT_TRUE(c);
    EXPECT_EQ(std::string(static_cast<const char*>(_bstr_t(c->GetValue(cells->FindField("DSNM"))))), "AA000000.000");
    EXPECT_EQ(_variant_t(c->GetValue(cells->FindField("CATCOV"))).lVal, 2);
    EXPECT_EQ(_variant_t(c->GetValue(cells->FindField("METAID"))).lVal, row->GetOID());
}

TEST_F(FeatureRow, UnknownSubtypeWritesNothing) {
    ISubtypesPtr subtypes(class_);
    class_->AddField(makeField("SUBTYPE", esriFieldTypeInteger, 4));
    subtypes->PutSubtypeFieldName("SUBTYPE");
    ASSERT_EQ(subtypes->AddSubtype(302, "M_COVR"), S_OK);
    features::buildRecord(&record_, {{"FRID", {{"PRIM", "3"}}}});
    EXPECT_EQ(writeFeatureClass(1, &node_, &record_, 0, nullptr, 0, nullptr, square(), class_, atto_, "m_covr", 0, 0,
                                "M_COVR", "A", "AA000000.000"),
              0);
    EXPECT_EQ(writeFeatureClass(2, &node_, &record_, 0, nullptr, 0, nullptr, square(), class_, atto_, "M_NPUB", 0, 0,
                                "M_NPUB", "A", "AA000000.000"),
              1);
    EXPECT_EQ(class_->FeatureCount(nullptr), 1);
    EXPECT_NE(logText().find("Error -1:Error on finding subtype in Geodatabase when converting FE0000000007 in "
                             "M_NPUB. Check field definitions.\n"),
              std::string::npos);
}

// Each primitive's step at 40, 60 and 80 of the cell's share, its groups stepping on within the next
// 20, and the step messages in order.
TEST_F(FeatureImport, ProgressStepsThroughTheCellsShare) {
    ui::setForm(ui::Form::Scripted);
    ui::scripted::reset();
    ICancelTrackerPtr tracker;
    ASSERT_EQ(tracker.CreateInstance(kCLSID_CancelTracker), S_OK);
    IProgressDialogFactoryPtr factory;
    ASSERT_EQ(factory.CreateInstance(kCLSID_ProgressDialogFactory), S_OK);
    stepProgressor = factory->Create(tracker, 0);
    stepProgressor->PutMinRange(0);
    stepProgressor->PutMaxRange(100);
    features::ImportOptions options;
    options.cellCount = 3;  // the second of three cells: positions 33 + k / 3
    options.cellIndex = 1;
    const features::ImportRun run =
        features::importCell(testdata::path("s58/AA400004/ENC_ROOT/AA400004.000"), dir_, options);
    stepProgressor = nullptr;
    ASSERT_EQ(run.featureResult, 0) << run.log;

    std::vector<std::pair<std::string, LONG>> steps;  // each message with the position before it
    std::vector<LONG> positions;
    LONG last = -1;
    for (const ui::Event& e : ui::scripted::events()) {
        if (e.kind == ui::Event::Kind::ProgressPosition) {
            last = e.value;
            positions.push_back(e.value);
        }
        if (e.kind == ui::Event::Kind::ProgressMessage && e.text.rfind("Importing", 0) == 0)
            steps.emplace_back(e.text, last);
    }
    ui::scripted::reset();
    EXPECT_EQ(steps, (std::vector<std::pair<std::string, LONG>>{{"Importing point features...", 46},
                                                               {"Importing line features...", 53},
                                                               {"Importing area features...", 59}}));
    const auto from = std::find(positions.begin(), positions.end(), 46);
    ASSERT_NE(from, positions.end());
    EXPECT_TRUE(std::is_sorted(from, positions.end()));
    EXPECT_LE(positions.back(), 66);
    EXPECT_GT(positions.end() - from, 3);  // the groups step too
}

}  // namespace
