// tests/import/impf_geometry_test.cpp: feature geometries from FSPT pointers and the topology cache,
// records and caches built in code; the column writers on a scratch geodatabase.

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "import/impf.h"
#include "s57/dbutil.h"
#include "s57/dimml.h"
#include "s57/record_list.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"
#include "tests/import/features_support.h"

using features::Field;
using features::Part;

namespace {

// The log of one test, read back as text.
class LogCapture {
public:
    LogCapture() : file_(std::tmpfile()) { logFile = file_; }
    ~LogCapture() {
        logFile = nullptr;
        if (file_) std::fclose(file_);
    }
    std::string text() const {
        std::fflush(file_);
        std::string out;
        std::rewind(file_);
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) out.append(buf, n);
        return out;
    }

private:
    FILE* file_;
};

// Nodes A(0,0) B(1,0) C(1,1); edges E1 A->B, E2 B->C, E3 A->C by way of (0,1), E4 a loop at D,
// E5 from D to B (never back to D), E6 C->D, E7 from C to a second node at A's place.
class FeatureGeometry : public ::testing::Test {
protected:
    void SetUp() override {
        features::initCache(&cache_, 16);
        features::addNode(&cache_, "VI0000000001", 2, {5, 6, 7, 8, 9, 10});
        features::addNode(&cache_, "VI0000000002", 3, {1, 2, 10.5, 3, 4, -1.25, 5, 6, 0, 7, 8, 3});
        features::addNode(&cache_, "VC0000000001", 2, {0, 0});
        features::addNode(&cache_, "VC0000000002", 2, {1, 0});
        features::addNode(&cache_, "VC0000000003", 2, {1, 1});
        features::addNode(&cache_, "VC0000000004", 2, {0.25, 0.25});
        features::addEdge(&cache_, "VE0000000001", "VC0000000001", "VC0000000002", {0, 0, 1, 0});
        features::addEdge(&cache_, "VE0000000002", "VC0000000002", "VC0000000003", {1, 0, 1, 1});
        features::addEdge(&cache_, "VE0000000003", "VC0000000001", "VC0000000003", {0, 0, 0, 1, 1, 1});
        features::addEdge(&cache_, "VE0000000004", "VC0000000004", "VC0000000004",
                          {0.25, 0.25, 0.5, 0.25, 0.5, 0.5, 0.25, 0.25});
        features::addEdge(&cache_, "VE0000000005", "VC0000000004", "VC0000000002", {0.25, 0.25, 0.5, 0.5, 1, 0});
        features::addEdge(&cache_, "VE0000000006", "VC0000000003", "VC0000000004", {1, 1, 0.25, 0.25});
        features::addNode(&cache_, "VC0000000005", 2, {0, 0});  // a second node where A is
        features::addEdge(&cache_, "VE0000000007", "VC0000000003", "VC0000000005", {1, 1, 0, 0});
        std::snprintf(node_.lnam, sizeof node_.lnam, "US000000000120000");
        std::snprintf(node_.name, sizeof node_.name, "FE0000000007");
    }
    void TearDown() override {
        cache_free(&cache_);
        (void)Free8211Record(&record_);
    }
    void record(const std::vector<Field>& fields) {
        (void)Free8211Record(&record_);
        features::buildRecord(&record_, fields);
    }
    // An FSPT field of (name, ornt, usag) triples.
    static Field fspt(const std::vector<std::vector<std::string>>& pointers) {
        Field f{"FSPT", {}};
        for (const auto& p : pointers) {
            f.subs.push_back({"NAME", p[0]});
            if (p.size() > 1) f.subs.push_back({"ORNT", p[1]});
            if (p.size() > 2) f.subs.push_back({"USAG", p[2]});
            f.subs.push_back({"MASK", "255"});
        }
        return f;
    }

    Cache cache_{};
    Iso8211Record record_{};
    ObjectRec node_{};
    LogCapture log_;
};

std::vector<std::pair<double, double>> xy(const Part& p) {
    std::vector<std::pair<double, double>> out;
    for (const auto& c : p) out.emplace_back(c.x, c.y);
    return out;
}
using XY = std::vector<std::pair<double, double>>;

TEST_F(FeatureGeometry, PointTakesTheFirstPointOfANodeAndSaysSo) {
    record({fspt({{"VI0000000001", "255", "255"}})});
    IPoint* point = nullptr;
    ASSERT_EQ(getFPPoint(&node_, node_.name, &record_, &point, nullptr, &cache_, -1e9), 0);
    IPointPtr p;
    p.Attach(point);
    EXPECT_EQ(p->GetX(), 5);
    EXPECT_EQ(p->GetY(), 6);
    EXPECT_EQ(log_.text(), "getFPPoint: US000000000120000 FE0000000007 target node VI0000000001 dimension 2 "
                           "coords, only first one is used\n");
}

TEST_F(FeatureGeometry, SoundingsKeepEveryPointWithItsDepth) {
    record({fspt({{"VI0000000002"}})});
    IMultipoint* raw = nullptr;
    ASSERT_EQ(getFPPoint(&node_, node_.name, &record_, nullptr, &raw, &cache_, -5), 0);
    IMultipointPtr m;
    m.Attach(raw);
    EXPECT_EQ(IZAwarePtr(m)->GetZAware(), VARIANT_TRUE);
    const auto got = features::parts(m);
    ASSERT_EQ(got.size(), 4u);
    const double z[] = {10.5, -1.25, 0, 3};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(got[i][0].x, 1 + 2 * i);
        EXPECT_EQ(got[i][0].z, z[i]);
    }
    // A sounding below the limit fails the whole record.
    raw = nullptr;
    EXPECT_EQ(getFPPoint(&node_, node_.name, &record_, nullptr, &raw, &cache_, -1), 1);
    EXPECT_EQ(raw, nullptr);
    // A 2-D node read as soundings is one point.
    record({fspt({{"VC0000000003"}})});
    ASSERT_EQ(getFPPoint(&node_, node_.name, &record_, nullptr, &raw, &cache_, -5), 0);
    m.Attach(raw);
    EXPECT_EQ(features::parts(m).size(), 1u);
}

TEST_F(FeatureGeometry, LineFollowsOrientationAndKeepsTheSharedNodeOnce) {
    record({fspt({{"VE0000000001", "F"}, {"VE0000000003", "R"}})});
    // E1 forward ends at B, E3 reversed starts at C: not joined, so two paths.
    IPolylinePtr line(CLSID_Polyline);
    ASSERT_EQ(getFLLine(&node_, node_.name, &record_, line, &cache_), 0);
    auto got = features::parts(line);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(xy(got[0]), (XY{{0, 0}, {1, 0}}));
    EXPECT_EQ(xy(got[1]), (XY{{1, 1}, {0, 1}, {0, 0}}));

    record({fspt({{"VE0000000001", "1"}, {"VE0000000002", "1"}}), fspt({{"VE0000000006", "F"}})});
    line = IPolylinePtr(CLSID_Polyline);
    ASSERT_EQ(getFLLine(&node_, node_.name, &record_, line, &cache_), 0);
    got = features::parts(line);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(xy(got[0]), (XY{{0, 0}, {1, 0}, {1, 1}, {0.25, 0.25}}));
}

TEST_F(FeatureGeometry, AreaRingsCloseAtTheirStartNodeOrAtTheEndOfTheField) {
    // E1 F, E2 F, E3 R come back to A; E4 is a ring of its own.
    record({fspt({{"VE0000000001", "F", "E"}, {"VE0000000002", "F", "E"}, {"VE0000000003", "R", "E"},
                  {"VE0000000004", "F", "I"}})});
    IPolygonPtr polygon(CLSID_Polygon);
    ASSERT_EQ(getFAArea(&node_, node_.name, &record_, polygon, &cache_), 0);
    auto got = features::parts(polygon);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(xy(got[0]), (XY{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}}));
    EXPECT_EQ(xy(got[1]), (XY{{0.25, 0.25}, {0.5, 0.25}, {0.5, 0.5}, {0.25, 0.25}}));

    // E5 never returns to D: the ring is closed when its field ends; "3" counts as exterior and the
    // record keeps the value it had.
    record({fspt({{"VE0000000005", "F", "3"}})});
    polygon = IPolygonPtr(CLSID_Polygon);
    ASSERT_EQ(getFAArea(&node_, node_.name, &record_, polygon, &cache_), 0);
    got = features::parts(polygon);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(xy(got[0]), (XY{{0.25, 0.25}, {0.5, 0.5}, {0.25, 0.25}}));
    EXPECT_STREQ(record_.fields[0].subFields[2].value, "3");

    // A ring that comes back to its start point by way of another node there is closed all the same.
    record({fspt({{"VE0000000001", "F", "E"}, {"VE0000000002", "F", "E"}, {"VE0000000007", "F", "E"},
                  {"VE0000000004", "F", "I"}})});
    polygon = IPolygonPtr(CLSID_Polygon);
    ASSERT_EQ(getFAArea(&node_, node_.name, &record_, polygon, &cache_), 0);
    got = features::parts(polygon);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(xy(got[0]), (XY{{0, 0}, {1, 0}, {1, 1}, {0, 0}}));
    EXPECT_EQ(log_.text(), "");
}

TEST_F(FeatureGeometry, OrientationOtherThanForwardOrReverseReadsForward) {
    record({fspt({{"VE0000000003", "Q"}})});
    IPolylinePtr line(CLSID_Polyline);
    ASSERT_EQ(getFLLine(&node_, node_.name, &record_, line, &cache_), 0);
    EXPECT_EQ(xy(features::parts(line)[0]), (XY{{0, 0}, {0, 1}, {1, 1}}));
    EXPECT_EQ(log_.text(), "getFLLine: US000000000120000 FE0000000007 invalid FSPT::ORNT subfield Q, override to F\n");
}

// Pointers that cannot be followed: result 1, the line says why, nothing is built.
struct BadPointer {
    const char* name;
    char builder;  // P point, L line, A area
    std::vector<std::vector<std::string>> pointers;
    const char* line;
};

const BadPointer kBadPointers[] = {
    {"PointNameTooShort", 'P', {{"VI00001"}},
     "getFPPoint: US000000000120000 FE0000000007 no FSPT::NAME contian invalid data\n"},
    {"PointNodeMissing", 'P', {{"VC0000000099"}},
     "getFPPoint: US000000000120000 FE0000000007 target isolated node VC0000000099 not found\n"},
    {"LineEdgeMissing", 'L', {{"VE0000000001", "F"}, {"VE0000000077", "F"}},
     "getFLLine: US000000000120000 FE0000000007 target edge VE0000000077 not found\n"},
    {"LineOrientationMissing", 'L', {{"VE0000000001"}},
     "getFLLine: US000000000120000 FE0000000007 invalid FSPT::ORNT subfield \n"},
    {"LineNameWrong", 'L', {{"VE01", "F"}}, "getFLLine: US000000000120000 FE0000000007 invalid FSPT::NAME subfield VE01\n"},
    {"AreaUsageUnknown", 'A', {{"VE0000000004", "F", "X"}},
     "getFAArea: US000000000120000 FE0000000007 invalid FSPT::USAG subfield X\n"},
    {"AreaUsageEmpty", 'A', {{"VE0000000004", "F", ""}},
     "getFAArea: US000000000120000 FE0000000007 invalid FSPT::USAG subfield __\n"},
    {"AreaOrientationTooLong", 'A', {{"VE0000000004", "FF", "E"}},
     "getFAArea: US000000000120000 FE0000000007 invalid FSPT::ORNT subfield FF\n"},
    {"AreaLaterEdgeMissing", 'A', {{"VE0000000004", "F", "E"}, {"VE0000000088", "F", "E"}},
     "getFAArea: US000000000120000 FE0000000007 target edge VE0000000088 not found\n"},
};

class BadFeaturePointers : public FeatureGeometry, public ::testing::WithParamInterface<BadPointer> {};

TEST_P(BadFeaturePointers, FailTheRecordWithOneLine) {
    const BadPointer& c = GetParam();
    record({fspt(c.pointers)});
    int rc = 0;
    if (c.builder == 'P') {
        IPoint* point = nullptr;
        rc = getFPPoint(&node_, node_.name, &record_, &point, nullptr, &cache_, -1e9);
        EXPECT_EQ(point, nullptr);
    } else if (c.builder == 'L') {
        IPolylinePtr line(CLSID_Polyline);
        rc = getFLLine(&node_, node_.name, &record_, line, &cache_);
    } else {
        IPolygonPtr polygon(CLSID_Polygon);
        rc = getFAArea(&node_, node_.name, &record_, polygon, &cache_);
        // The first bad pointer drops the rings built before it.
        EXPECT_EQ(IGeometryCollectionPtr(polygon)->GetGeometryCount(), 0);
    }
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(log_.text(), c.line);
}

INSTANTIATE_TEST_SUITE_P(Builders, BadFeaturePointers, ::testing::ValuesIn(kBadPointers),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(FeatureGeometry, RecordWithoutPointersHasNoGeometry) {
    record({Field{"FRID", {{"RCNM", "100"}}}});
    IPolylinePtr line(CLSID_Polyline);
    EXPECT_EQ(getFLLine(&node_, node_.name, &record_, line, &cache_), 1);
    IPolygonPtr polygon(CLSID_Polygon);
    EXPECT_EQ(getFAArea(&node_, node_.name, &record_, polygon, &cache_), 1);
    IPoint* point = nullptr;
    EXPECT_EQ(getFPPoint(&node_, node_.name, &record_, &point, nullptr, &cache_, 0), 1);
    EXPECT_EQ(log_.text(), "getFLLine: US000000000120000 FE0000000007 no FSPT field found\n"
                           "getFAArea: US000000000120000 FE0000000007 no FSPT field found\n"
                           "getFPPoint: US000000000120000 FE0000000007 no FSPT field found\n");
}

// ---- Column writers on a scratch geodatabase ----------------------------------------------------

class FeatureColumns : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(loadDIMEInfo(), S_OK);
        IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
        workspace_ = factory->Create(dir_.path().c_str(), "columns.gpkg");
        features_ = workspace_;
    }
    void TearDown() override { logFile = nullptr; }
    features::TempDir dir_;
    IWorkspacePtr workspace_;
    IFeatureWorkspacePtr features_;
};

TEST_F(FeatureColumns, FridDefaultsKeepTheRowWritable) {
    LogCapture log;
    const FieldDef defs[] = {{1, "ID", "", 2, 4},    {2, "LNAM", "", 1, 17}, {3, "NAME", "", 1, 12},
                             {4, "PRIM", "", 1, 1},  {5, "GRUP", "", 2, 2},  {6, "RVER", "", 2, 2},
                             {7, "RUIN", "", 1, 1}};
    IFeatureClassPtr fc;
    ASSERT_EQ(createFeatureClass(features_, "frid_P", esriGeometryPoint, 7, defs, 0, nullptr, s57Attributes, 0, &fc,
                                 nullptr),
              S_OK);
    IFeatureBufferPtr buffer = fc->CreateFeatureBuffer();
    const char* frid[7] = {"100", "7", "5", nullptr, "17", "", "1"};
    writeSetA_Table(buffer, 3, "US000000000120000", "FE0000000007", frid, 0, nullptr, nullptr, "BOYLAT", "P");
    auto value = [&](const char* column) {
        _variant_t v = buffer->GetValue(fc->FindField(column));
        return std::string(static_cast<const char*>(_bstr_t(v)));
    };
    EXPECT_EQ(value("ID"), "3");
    EXPECT_EQ(value("PRIM"), "N");  // 5 is no primitive
    EXPECT_EQ(value("GRUP"), "255");
    EXPECT_EQ(value("RVER"), "1");
    EXPECT_EQ(value("RUIN"), "I");
    const std::string text = log.text();
    EXPECT_NE(text.find("unable to map subfield PRIM value 5 to text, override to N\n"), std::string::npos) << text;
    EXPECT_NE(text.find("does not have a RVER subfield, override to 1\n"), std::string::npos) << text;
}

TEST_F(FeatureColumns, MappingOfOnePrimitiveOnlyServesThatPrimitive) {
    // Find an attribute mapping whose field name differs from the acronym, or fake one.
    ASSERT_GT(attributeMapCount, 0);
    AttributeMapRec& m = attributeMaps[0];
    const AttributeMapRec saved = m;
    std::snprintf(m.gdbName, sizeof m.gdbName, "MAPPED");
    std::snprintf(m.objectType, sizeof m.objectType, "A");
    const FieldDef defs[] = {{1, "MAPPED", "", 1, 70}, {2, "ACRONYM", "", 1, 70}};
    IFeatureClassPtr fc;
    ASSERT_EQ(createFeatureClass(features_, "map_P", esriGeometryPoint, 2, defs, 0, nullptr, s57Attributes, 0, &fc,
                                 nullptr),
              S_OK);
    auto written = [&](const char* primitive) {
        IFeatureBufferPtr buffer = fc->CreateFeatureBuffer();
        setGDBValue(buffer, m.objectName, m.code, "ACRONYM", "v", primitive);
        _variant_t a = buffer->GetValue(fc->FindField("MAPPED"));
        return a.vt == VT_BSTR ? "MAPPED" : "ACRONYM";
    };
    EXPECT_STREQ(written("A"), "MAPPED");
    EXPECT_STREQ(written("a"), "MAPPED");
    EXPECT_STREQ(written("P"), "ACRONYM");
    EXPECT_STREQ(written(""), "MAPPED");
    m = saved;
}

TEST_F(FeatureColumns, OverflowRowsCarryTheAcronymCutToSix) {
    ITablePtr atto;
    ASSERT_EQ(createGDBTable(features_, "atto", &atto, fieldDefCount(attoFieldDefs), attoFieldDefs), S_OK);
    writeOverflowTable(atto, "US000000000120000", "116", std::string(80, 'x').c_str());
    writeOverflowTable(atto, "US000000000120000", "LONGLABEL", "y");
    ICursorPtr cursor = atto->Search(nullptr, VARIANT_FALSE);
    std::vector<std::string> labels;
    while (IRowPtr row = cursor->NextRow())
        labels.emplace_back(static_cast<const char*>(_bstr_t(row->GetValue(atto->FindField("ATTL")))));
    EXPECT_EQ(labels, (std::vector<std::string>{"OBJNAM", "LONGLA"}));
}

TEST_F(FeatureColumns, CellTableIsMadeOnceAndFoundAgain) {
    ITable* first = nullptr;
    ASSERT_EQ(getDSNMTable(features_, &first), S_OK);
    ITablePtr a;
    a.Attach(first);
    EXPECT_GE(a->FindField("metaid"), 0);
    ITable* second = nullptr;
    ASSERT_EQ(getDSNMTable(features_, &second), S_OK);
    ITablePtr b;
    b.Attach(second);
    EXPECT_EQ(addCoverage(workspace_, "AA000001.000", 1, 42), 0);
    EXPECT_EQ(b->RowCount(nullptr), 1);
}

}  // namespace
