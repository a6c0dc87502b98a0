// tests/export/expv_test.cpp: the vector records of an exported cell. Real cells: imported, exported
// without the create-topology flag and read back with the record layer, every node, sounding array
// and edge of the original comes back with its coordinates, pointers and attributes. Small cases:
// rounding, the vertices an edge keeps, pointer codes, and sounding arrays of two cells that share
// a name.
#include "export/expv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core_fixture.h"
#include "export/aotopology.h"
#include "export/cell_ddr.h"
#include "export/expm.h"
#include "export/srel_list.h"
#include "s57/dbutil.h"
#include "support/captured_log.h"
#include "support/test_data.h"

using coretest::ReadField;
using coretest::ReadRecord;
using coretest::TemplateGdb;
using testsupport::CapturedLog;

namespace {

// ---- Rounding -----------------------------------------------------------------------------------

struct Rounding {
    const char* name;
    double value;
    int32_t result;
};
const Rounding kRoundings[] = {{"HalfUp", 2.5, 3},          {"NegativeHalfDown", -2.5, -3}, {"BelowHalf", 2.4999, 2},
                               {"NegativeBelowHalf", -2.4999, -2}, {"Whole", 7.0, 7},      {"Zero", 0.0, 0},
                               {"Longitude", 12.3456789 * 1000000, 12345679},
                               {"NegativeLongitude", -12.3456786 * 1000000, -12345679}};
class RoundToInt : public ::testing::TestWithParam<Rounding> {};
TEST_P(RoundToInt, HalvesAwayFromZero) { EXPECT_EQ(roundToInt(GetParam().value), GetParam().result); }
INSTANTIATE_TEST_SUITE_P(Values, RoundToInt, ::testing::ValuesIn(kRoundings),
                         [](const auto& i) { return std::string(i.param.name); });

// ---- Edge vertices --------------------------------------------------------------------------------

IPointCollectionPtr line(const std::vector<WKSPoint>& points) {
    IPointCollectionPtr path(CLSID_Polyline);
    path->AddWKSPoints(LONG(points.size()), points.data());
    return path;
}

// A coordinate subfield's scaled value: its stored form, four bytes of a signed little-endian b24.
std::string coordinate(const Iso8211SubField& s) {
    if (s.length != 4 || std::string(s.format) != "L24") return "not b24";
    uint32_t v = 0;
    for (int b = 3; b >= 0; --b) v = (v << 8) | static_cast<unsigned char>(s.value[b]);
    return std::to_string(int32_t(v));
}

// The kept vertices as "y,x" of the scaled coordinates.
std::vector<std::string> kept(const Iso8211Field& f) {
    std::vector<std::string> out;
    for (int i = 0; i + 1 < f.subfieldCount; i += 2) {
        EXPECT_STREQ(f.subFields[i].label, "YCOO");
        EXPECT_STREQ(f.subFields[i + 1].label, "XCOO");
        out.push_back(coordinate(f.subFields[i]) + "," + coordinate(f.subFields[i + 1]));
    }
    return out;
}

struct Vertices {
    const char* name;
    std::vector<WKSPoint> points;
    double tolerance;
    std::vector<std::string> expected;
};
// coordFactor 10: one unit is 0.1 degree.
const Vertices kVertices[] = {
    {"TwoPointsNoVertex", {{0, 0}, {1, 1}}, 0, {}},
    {"ZeroToleranceKeepsCollinear", {{0, 0}, {1, 0}, {2, 0}, {3, 0}}, 0, {"0,10", "0,20"}},
    {"RepeatAfterScalingIsDropped", {{0, 0}, {1, 0}, {1.01, 0}, {3, 0}}, 0, {"0,10"}},
    {"RepeatOfTheStartNodeIsDropped", {{0, 0}, {0.01, 0}, {2, 0}, {3, 0}}, 0, {"0,20"}},
    {"NearTheLineWithinTolerance", {{0, 0}, {1, 0.01}, {2, 0}}, 0.05, {}},
    {"FarFromTheLineStays", {{0, 0}, {1, 1}, {2, 0}}, 0.05, {"10,10"}},
    {"LastVertexOnTheEndNodeIsDropped", {{0, 0}, {1, 1}, {2, 2}, {2, 2}}, 0, {"10,10"}},
    // The last vertex is already dropped as a repeat: the one before it must stay.
    {"OnlyTheRepeatingVertexIsDropped", {{0, 0}, {1, 1}, {1.01, 1.01}, {1.01, 1.01}}, 0, {"10,10"}},
};
class EdgeVertices : public ::testing::TestWithParam<Vertices> {};

TEST_P(EdgeVertices, KeepsWhatTheToleranceAndScalingLeave) {
    coordFactor = 10;
    Iso8211Field f{};
    ASSERT_EQ(exportPolylineCoordinates(line(GetParam().points), &f, "SG2D", GetParam().tolerance), 0);
    EXPECT_STREQ(f.tag, "SG2D");
    EXPECT_EQ(kept(f), GetParam().expected);
    Iso8211Record r{1, static_cast<Iso8211Field*>(std::calloc(1, sizeof(Iso8211Field)))};
    r.fields[0] = f;
    (void)Free8211Record(&r);
    coordFactor = 1000;
}
INSTANTIATE_TEST_SUITE_P(Edges, EdgeVertices, ::testing::ValuesIn(kVertices),
                         [](const auto& i) { return std::string(i.param.name); });

// ---- Pointers -------------------------------------------------------------------------------------

TEST(ExportVRPT, ListOrderCaseAndNoValueCodes) {
    emptySrelList(&topoSrelList);
    ASSERT_EQ(AppendSrelRecord(&topoSrelList, "", "VE0000000001", "VC0000000002", "N", "N", "B", "X", "C"), 0);
    ASSERT_EQ(AppendSrelRecord(&topoSrelList, "", "VE0000000009", "VC0000000005", "N", "N", "B", "N", "C"), 0);
    ASSERT_EQ(AppendSrelRecord(&topoSrelList, "", "ve0000000001", "VC0000000003", "N", "N", "x", "N", "C"), 0);
    Iso8211Field f{};
    ASSERT_EQ(exportVRPT("VE0000000001", &f), 0);
    ASSERT_EQ(f.subfieldCount, 10);
    const char* expected[10] = {"VC0000000002", "N", "N", "B", "N", "VC0000000003", "N", "N", "N", "N"};
    for (int i = 0; i < 10; ++i) EXPECT_STREQ(f.subFields[i].value, expected[i]) << i;
    Iso8211Record r{1, static_cast<Iso8211Field*>(std::calloc(1, sizeof(Iso8211Field)))};
    r.fields[0] = f;
    (void)Free8211Record(&r);
    emptySrelList(&topoSrelList);
}

// ---- Sounding arrays of two cells -------------------------------------------------------------------

TEST(UpdateVI3DSP, TakesTheArrayOfItsOwnCellOnly) {
    TemplateGdb gdb;
    CapturedLog log;
    IFeatureClassPtr cls;
    ISpatialReferencePtr sr(CLSID_SpatialReferenceWGS84);
    ASSERT_EQ(createFeatureClass(gdb.fws(), "vi3dsp", esriGeometryPoint, fieldDefCount(primitiveFieldDefs),
                                 primitiveFieldDefs, 0, nullptr, nullptr, 1, &cls, sr),
              S_OK);
    auto add = [&](const char* cell, double x, double depth) {
        IFeatureBufferPtr b = cls->CreateFeatureBuffer();
        IPointPtr p(CLSID_Point);
        p->PutCoords(x, 1.0);
        IZAwarePtr(p)->PutZAware(VARIANT_TRUE);
        p->PutZ(depth);
        b->PutRefShape(p);
        b->PutValue(cls->FindField("NAME"), _variant_t("VI0000000007"));
        b->PutValue(cls->FindField("RVER"), _variant_t(1L));
        b->PutValue(cls->FindField("RUIN"), _variant_t("I"));
        b->PutValue(cls->FindField("DSNM"), _variant_t(cell));
        b->PutValue(cls->FindField("DEPTH"), _variant_t(depth));
        IFeatureCursorPtr c = cls->Insert(VARIANT_TRUE);
        c->InsertFeature(b);
        c->Flush();
    };
    add("OTHER.000", 5, 9.9);  // first in table order, same name, another cell
    add("CELL1.000", 1, 1.5);
    add("CELL1.000", 2, 2.5);
    add("CELL1.000", 3, 3.5);
    add("OTHER.000", 6, 9.8);

    coretest::Scratch dir;
    const std::string path = (dir.path() / "CELL1.000").string();
    Iso8211File file{};
    ASSERT_EQ(createObjectFile(path.c_str(), 1, &file, 1), 0);
    coordFactor = 10;
    soundingFactor = 10;
    ASSERT_EQ(exportVI3DSP(gdb.ws(), &file, "CELL1.000"), 0) << log.text();
    ASSERT_EQ(Close8211File(&file), 0);
    coordFactor = 1000;
    EXPECT_NE(log.text().find("converted     1 Sounding array\n"), std::string::npos) << log.text();

    std::vector<ReadRecord> records;
    ASSERT_EQ(coretest::readBack(path, records), 0);
    ASSERT_EQ(records.size(), 1u);
    const ReadField* vrid = records[0].field("VRID");
    ASSERT_NE(vrid, nullptr);
    EXPECT_EQ(vrid->value("RCNM"), "VI");
    EXPECT_EQ(vrid->value("RCID"), "0000000007");
    const ReadField* sg3d = records[0].field("SG3D");
    ASSERT_NE(sg3d, nullptr);
    ASSERT_EQ(sg3d->subfields.size(), 9u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(sg3d->value("XCOO", i), std::to_string(10 * (i + 1)));
        EXPECT_EQ(sg3d->value("YCOO", i), "10");
        EXPECT_EQ(sg3d->value("VE3D", i), std::to_string(15 + 10 * i));
    }
    EXPECT_EQ(records[0].field("ATTV"), nullptr) << "no vector attribute, no ATTV field";
}

// ---- Real cells ---------------------------------------------------------------------------------

// Every real base cell of the data folder (the S-101 file aside), by its name.
std::vector<std::string> realCells() {
    std::vector<std::string> out;
    for (const std::string& f : testdata::files({".000"}))
        if (f.find("/negative/") == std::string::npos) out.push_back(f);
    if (out.empty()) out.push_back("");  // one case that skips
    return out;
}
class VectorRoundTrip : public ::testing::TestWithParam<std::string> {};

// Vector records by "RCNM RCID".
std::map<std::string, const ReadRecord*> vectorRecords(const std::vector<ReadRecord>& records) {
    std::map<std::string, const ReadRecord*> out;
    for (const ReadRecord& r : records)
        if (const ReadField* v = r.field("VRID")) out[v->value("RCNM") + v->value("RCID")] = &r;
    return out;
}

std::vector<std::pair<std::string, std::string>> subfieldsOf(const ReadRecord* r, const char* tag) {
    const ReadField* f = r->field(tag);
    return f ? f->subfields : std::vector<std::pair<std::string, std::string>>{};
}

// The text of the first row's column of a table; "" when there is none.
std::string firstText(IFeatureWorkspace* ws, const char* table, const char* column) {
    ITable* raw = nullptr;
    if (FAILED(ws->raw_OpenTable(_bstr_t(table).GetBSTR(), &raw)) || !raw) return {};
    ITablePtr t;
    t.Attach(raw);
    ICursorPtr c = t->Search(nullptr, VARIANT_FALSE);
    IRowPtr row = c->NextRow();
    if (!row) return {};
    const _variant_t v = row->GetValue(t->FindField(column));
    return v.vt == VT_BSTR ? std::string(static_cast<const char*>(_bstr_t(v))) : std::string();
}

// The NAMEs the geodatabase holds in the primitive classes.
std::set<std::string> storedNames(IFeatureWorkspace* ws) {
    std::set<std::string> out;
    for (const char* cls : {"vi2d", "vi3dsp", "vc", "ve"}) {
        ITable* raw = nullptr;
        if (FAILED(ws->raw_OpenTable(_bstr_t(cls).GetBSTR(), &raw)) || !raw) continue;
        ITablePtr t;
        t.Attach(raw);
        const LONG name = t->FindField("NAME");
        ICursorPtr c = t->Search(nullptr, VARIANT_FALSE);
        for (IRowPtr row = c->NextRow(); row; row = c->NextRow())
            out.insert(static_cast<const char*>(_bstr_t(row->GetValue(name))));
    }
    return out;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

// The interior vertices of an original edge that an export keeps: those that repeat the vertex
// before them (the start node first) or, last, the end node are the nodes' own points.
Pairs keptVertices(const ReadRecord* edge, const std::map<std::string, const ReadRecord*>& records) {
    const Pairs sg2d = subfieldsOf(edge, "SG2D");
    const ReadField* vrpt = edge->field("VRPT");
    auto node = [&](const char* topi) -> std::pair<std::string, std::string> {
        for (int i = 0; vrpt && i < vrpt->count("NAME"); ++i)
            if (vrpt->value("TOPI", i) == topi) {
                const auto it = records.find(vrpt->value("NAME", i));
                if (it == records.end()) break;
                return {it->second->field("SG2D")->value("YCOO"), it->second->field("SG2D")->value("XCOO")};
            }
        return {"", ""};
    };
    std::pair<std::string, std::string> previous = node("B");
    const auto end = node("E");
    Pairs out;
    for (std::size_t i = 0; i + 1 < sg2d.size(); i += 2) {
        const std::pair<std::string, std::string> v{sg2d[i].second, sg2d[i + 1].second};
        if (v != previous) {
            out.push_back(sg2d[i]);
            out.push_back(sg2d[i + 1]);
        }
        previous = v;
    }
    if (out.size() >= 2 && out[out.size() - 2].second == end.first && out.back().second == end.second &&
        sg2d.size() >= 2 && sg2d[sg2d.size() - 2].second == end.first && sg2d.back().second == end.second)
        out.resize(out.size() - 2);
    return out;
}

}  // namespace

// What the export writes differently from the original, each with its reason:
// - records the import did not store (an edge that lacks one of its nodes: S-58 test cells) are
//   not written;
// - a VRPT of an isolated or connected node (no valid S-57, S-58 test cells) is not written;
// - interior vertices of an edge that repeat the vertex before them (or the start node) after
//   scaling, or the end node as the last one, are the nodes' own points and are left out.
TEST_P(VectorRoundTrip, EveryPrimitiveComesBack) {
    SKIP_WITHOUT_DATA();
    const std::string original = GetParam();
    TemplateGdb gdb(original);
    const std::string cell = firstText(gdb.fws(), "dsid", "DSNM");
    if (cell.empty()) GTEST_SKIP() << original << " does not import cleanly";

    coretest::Scratch dir;
    const std::string path = (dir.path() / "CELL.000").string();
    CapturedLog log;
    emptySrelList(&topoSrelList);
    Iso8211File file{};
    ASSERT_EQ(createObjectFile(path.c_str(), 1, &file, 1), 0);
    ASSERT_EQ(exportMeta(gdb.ws(), &file, cell.c_str()), 0) << log.text();
    double tolerance = 0;
    ASSERT_EQ(validateTopology(gdb.ws(), "S57", "US", cell.c_str(), &tolerance, 0), S_OK) << log.text();
    ASSERT_EQ(exportVector(gdb.ws(), &file, tolerance, cell.c_str()), 0) << log.text();
    ASSERT_EQ(Close8211File(&file), 0);
    emptySrelList(&topoSrelList);

    std::vector<ReadRecord> ours, theirs;
    ASSERT_EQ(coretest::readBack(path, ours), 0) << "our own reader takes the exported cell";
    ASSERT_EQ(coretest::readBack(original, theirs), 0);
    const auto mine = vectorRecords(ours);
    const auto source = vectorRecords(theirs);
    const auto stored = storedNames(gdb.fws());
    std::size_t expected = 0;
    for (const auto& [key, record] : source) {
        const auto it = mine.find(key);
        if (!stored.count(key)) {
            EXPECT_EQ(it, mine.end()) << key << " is not in the geodatabase";
            continue;
        }
        ++expected;
        ASSERT_NE(it, mine.end()) << key;
        const bool edge = key.compare(0, 2, "VE") == 0;
        EXPECT_EQ(subfieldsOf(it->second, "SG2D"), edge ? keptVertices(record, source) : subfieldsOf(record, "SG2D"))
            << key;
        EXPECT_EQ(subfieldsOf(it->second, "SG3D"), subfieldsOf(record, "SG3D")) << key;
        EXPECT_EQ(subfieldsOf(it->second, "ATTV"), subfieldsOf(record, "ATTV")) << key;
        if (edge) EXPECT_EQ(subfieldsOf(it->second, "VRPT"), subfieldsOf(record, "VRPT")) << key;
        else EXPECT_EQ(it->second->field("VRPT"), nullptr) << key;
        EXPECT_EQ(it->second->field("VRID")->value("RVER"), record->field("VRID")->value("RVER")) << key;
        EXPECT_EQ(it->second->field("VRID")->value("RUIN"), record->field("VRID")->value("RUIN")) << key;
    }
    EXPECT_EQ(mine.size(), expected);

    // DSSI counts the records of each kind that were written.
    std::map<std::string, int> kinds;
    for (const auto& entry : mine) ++kinds[entry.first.substr(0, 2)];
    const ReadField* dssi = ours.at(0).field("DSSI");
    ASSERT_NE(dssi, nullptr);
    EXPECT_EQ(dssi->value("NOIN"), std::to_string(kinds["VI"]));
    EXPECT_EQ(dssi->value("NOCN"), std::to_string(kinds["VC"]));
    EXPECT_EQ(dssi->value("NOED"), std::to_string(kinds["VE"]));
}
INSTANTIATE_TEST_SUITE_P(Cells, VectorRoundTrip, ::testing::ValuesIn(realCells()), [](const auto& i) {
    std::string name = std::filesystem::path(i.param).stem().string();
    return name.empty() ? std::string("NoData") : name;
});
