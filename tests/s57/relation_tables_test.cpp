// tests/s57/relation_tables_test.cpp: srel and frel rows written from pointer fields of records built
// in code, the relation counter across geodatabases reopened by a new process, and checkWithin.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/gdb/gdb.h"
#include "platform/geometry/geometry.h"
#include "s57/dbutil.h"
#include "s57/dimml.h"
#include "s57/record_list.h"
#include "s57/relation_tables.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"

namespace fs = std::filesystem;

namespace {

using Subfields = std::vector<std::pair<const char*, std::string>>;

// A record of decoded fields, allocated as the record layer allocates them.
struct Record {
    Iso8211Record r{};
    explicit Record(const std::vector<std::pair<const char*, Subfields>>& fields) {
        EXPECT_EQ(allocateFieldArray(&r, int(fields.size())), 0);
        for (std::size_t i = 0; i < fields.size(); ++i) {
            Iso8211Field& f = r.fields[i];
            std::snprintf(f.tag, sizeof f.tag, "%s", fields[i].first);
            const Subfields& s = fields[i].second;
            f.subfieldCount = int32_t(s.size());
            f.subFields = static_cast<Iso8211SubField*>(std::calloc(s.size() + 1, sizeof(Iso8211SubField)));
            for (std::size_t k = 0; k < s.size(); ++k) {
                std::snprintf(f.subFields[k].label, sizeof f.subFields[k].label, "%s", s[k].first);
                f.subFields[k].value = strdup(s[k].second.c_str());
                f.subFields[k].length = int32_t(s[k].second.size());
            }
        }
    }
    ~Record() { (void)Free8211Record(&r); }
};

using Row = std::map<std::string, std::string>;

std::string text(const _variant_t& v) {
    if (v.isNullOrEmpty()) return "<null>";
    _variant_t t;
    t.ChangeType(VT_BSTR, &v);
    return static_cast<const char*>(static_cast<_bstr_t>(t));
}

std::vector<Row> rowsOf(ITable* table) {
    std::vector<Row> out;
    IFieldsPtr fields = table->GetFields();
    ICursorPtr cursor = table->Search(nullptr, VARIANT_FALSE);
    for (IRowPtr row = cursor->NextRow(); row; row = cursor->NextRow()) {
        Row r;
        for (LONG i = 0; i < fields->GetFieldCount(); ++i)
            r[static_cast<const char*>(fields->GetField(i)->GetName())] = text(row->GetValue(i));
        out.push_back(std::move(r));
    }
    return out;
}

class RelationTables : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        dir_ = fs::temp_directory_path() / ("reltab_" + std::to_string(getpid()) + "_" + std::to_string(++serial));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        log_ = std::tmpfile();
        ASSERT_NE(log_, nullptr);
        savedLog_ = logFile;
        logFile = log_;
        savedObjects_ = s57Objects;
        savedObjectCount_ = s57ObjectCount;
        s57Objects = objects_;
        s57ObjectCount = 2;
        srelCounter = 0;
        open("cell.mdb", true);
    }
    void TearDown() override {
        srel_ = nullptr;
        frel_ = nullptr;
        fws_ = nullptr;
        s57Objects = savedObjects_;
        s57ObjectCount = savedObjectCount_;
        logFile = savedLog_;
        std::fclose(log_);
        fs::remove_all(dir_);
    }
    void open(const std::string& name, bool create) {
        srel_ = nullptr;
        frel_ = nullptr;
        fws_ = nullptr;
        IWorkspacePtr ws;
        if (create) {
            IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
            ws = factory->Create(dir_.string().c_str(), name.c_str());
        } else {
            ASSERT_EQ(openWorkspace((dir_ / name).string().c_str(), &ws), S_OK);
        }
        fws_ = ws;
        ASSERT_EQ(createGDBTable(fws_, "srel", &srel_, 9, srelFieldDefs), S_OK);
        ASSERT_EQ(createGDBTable(fws_, "frel", &frel_, 6, frelFieldDefs), S_OK);
    }
    std::string logText() {
        std::fflush(log_);
        std::rewind(log_);
        std::string out;
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, log_)) > 0) out.append(buf, n);
        return out;
    }

    fs::path dir_;
    IFeatureWorkspacePtr fws_;
    ITablePtr srel_, frel_;
    S57ObjectRec objects_[2] = {{42, "DEPARE", "Depth area"}, {129, "SOUNDG", "Sounding"}};

private:
    FILE* log_ = nullptr;
    FILE* savedLog_ = nullptr;
    S57ObjectRec* savedObjects_ = nullptr;
    int32_t savedObjectCount_ = 0;
};

const Subfields kPointer(const char* name, const char* ornt, const char* usag, const char* mask) {
    return {{"NAME", name}, {"ORNT", ornt}, {"USAG", usag}, {"MASK", mask}};
}

TEST_F(RelationTables, FeaturePointersGiveOneSrelRowEach) {
    Subfields two = kPointer("VE0000000001", "1", "E", "255");
    for (auto& s : kPointer("VE0000000002", "R", "3", "2")) two.push_back(s);
    // A field whose pointer lacks MASK writes nothing.
    const Record rec({{"FRID", {{"RCNM", "FE"}}},
                      {"FSPT", two},
                      {"FSPT", {{"NAME", "VE0000000003"}, {"ORNT", "F"}, {"USAG", "E"}}}});
    ASSERT_EQ(writeSrelTable(srel_, &rec.r, 'F', "US000000000100001", "FE0000000007", "US5MA12M.000"), 0);
    const std::vector<Row> rows = rowsOf(srel_);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (Row{{"OBJECTID", "1"}, {"ID", "1"}, {"SRC_LNAM", "US000000000100001"},
                            {"SRC_NAME", "FE0000000007"}, {"DEST_NAME", "VE0000000001"}, {"ORNT", "F"},
                            {"USAG", "E"}, {"TOPI", "X"}, {"MASK", "N"}, {"DSNM", "US5MA12M.000"}}));
    EXPECT_EQ(rows[1].at("ID"), "2");
    EXPECT_EQ(rows[1].at("ORNT") + rows[1].at("USAG") + rows[1].at("TOPI") + rows[1].at("MASK"), "RCXS");
    EXPECT_EQ(srelCounter, 2);
    EXPECT_EQ(logText(), "");
}

TEST_F(RelationTables, VectorPointersTranslateTopiAndDefaultAnEmptyOne) {
    const Record rec({{"VRPT", {{"NAME", "VC0000000010"}, {"ORNT", "255"}, {"USAG", "255"}, {"TOPI", "1"},
                                {"MASK", "255"}, {"NAME", "VC0000000011"}, {"ORNT", "255"}, {"USAG", "255"},
                                {"TOPI", ""}, {"MASK", "255"}}}});
    ASSERT_EQ(writeSrelTable(srel_, &rec.r, 'V', "", "VE0000000001", "CELL.000"), 0);
    const std::vector<Row> rows = rowsOf(srel_);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].at("TOPI"), "B");
    EXPECT_EQ(rows[0].at("ORNT"), "N");
    EXPECT_EQ(rows[1].at("TOPI"), "N");
    EXPECT_EQ(rows[1].at("DEST_NAME"), "VC0000000011");
    EXPECT_EQ(writeSrelTable(srel_, &rec.r, 'X', "", "VE0000000001", "CELL.000"), -11);
    EXPECT_EQ(logText(), "writeSrelTable: type is X, expecting V or F\n");
}

TEST_F(RelationTables, SrelIdsContinueInATableAnEarlierProcessFilled) {
    const Record rec({{"FSPT", kPointer("VE0000000001", "F", "E", "S")}});
    for (int i = 0; i < 3; ++i) ASSERT_EQ(writeSrelTable(srel_, &rec.r, 'F', "", "FE0000000001", "A.000"), 0);
    srel_ = nullptr;
    frel_ = nullptr;
    fws_ = nullptr;  // the workspace is released: its rows are on disk
    // What a new process sees: the counter back at 0, the geodatabase as the last one left it.
    fs::copy_file(dir_ / "cell.mdb", dir_ / "again.mdb");
    srelCounter = 0;
    open("again.mdb", false);
    ASSERT_EQ(writeSrelTable(srel_, &rec.r, 'F', "", "FE0000000002", "A.000"), 0);
    const std::vector<Row> rows = rowsOf(srel_);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[3].at("ID"), "4");
    EXPECT_EQ(srelCounter, 4);
}

TEST_F(RelationTables, FeatureToFeaturePointers) {
    FeatureEntry entries[3] = {
        {"US000000000100002", "FE0000000002", "42", "FA"},
        {"US000000000100003", "FE0000000003", "SOUNDG", "FP"},
        {"US000000000100004", "FE0000000004", "999", "FL"},
    };
    Cache cache{};
    cache.f = entries;
    cache.fCount = cache.fCapacity = 3;
    const std::string longComment(1500, 'c');
    const Record rec({{"FFPT",
                       {{"LNAM", "US000000000100002"}, {"RIND", "1"},  {"COMT", ""},
                        {"LNAM", "US000000000100003"}, {"RIND", "12"}, {"COMT", longComment},
                        {"LNAM", "US000000000100004"}, {"RIND", "X"},  {"COMT", "peer"},
                        {"LNAM", "SHORT"},             {"RIND", "2"},  {"COMT", "x"},
                        {"LNAM", "US000000000199999"}, {"RIND", "2"},  {"COMT", "x"}}}});
    ASSERT_EQ(writeCrelTable(frel_, &rec.r, "US000000000100001", &cache, "CELL.000"), 0);
    const std::vector<Row> rows = rowsOf(frel_);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (Row{{"OBJECTID", "1"}, {"SRC_LNAM", "US000000000100001"}, {"DEST_LNAM", "US000000000100002"},
                            {"DEST_CLAS", "DEPARE"}, {"DEST_TYPE", "FA"}, {"RIND", "M"}, {"COMT", "MISSING"}}));
    EXPECT_EQ(rows[1].at("DEST_CLAS"), "SOUNDG");
    EXPECT_EQ(rows[1].at("RIND"), "?");
    EXPECT_EQ(rows[1].at("COMT"), std::string(70, 'c'));  // the column's width, not 1024
    EXPECT_EQ(rows[2].at("DEST_CLAS"), "999");
    EXPECT_EQ(rows[2].at("RIND"), "X");
    EXPECT_EQ(logText(),
              "writeCrelTable: truncated US000000000100001 's FFPT::COMT to 70 character"
              "writeCrelTable: unable to translate numeric class code 999"
              "writeCrelTable: FFPT::LNAM value SHORT invalid\n"
              "writeCrelTable: unable to lookup target feature US000000000199999\n");
}

// A pass that keeps its cursors and buffers (RelationRows) writes what fresh writers write record by
// record: a buffer keeps its values from row to row, so a value that fails, a row without a cell
// name or a text ID column must not let one row's values into the next.
struct KeptCase {
    const char* name;
    int idType;  // of the srel ID column: 2 integer, 1 text
};
const KeptCase kKept[] = {{"IntegerId", 2}, {"TextId", 1}};
class KeptRelationRows : public RelationTables, public ::testing::WithParamInterface<KeptCase> {
protected:
    struct Written {
        std::vector<Row> srel, frel;
        std::string log;
    };
    // Every record of the pass into a new geodatabase, through one RelationRows or fresh writers.
    Written writeAll(const std::string& gdb, bool kept) {
        srel_ = nullptr;
        frel_ = nullptr;
        IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
        fws_ = factory->Create(dir_.string().c_str(), gdb.c_str());
        FieldDef defs[9];
        std::copy(std::begin(srelFieldDefs), std::end(srelFieldDefs), defs);
        defs[0].type = GetParam().idType;
        defs[0].width = 12;
        EXPECT_EQ(createGDBTable(fws_, "srel", &srel_, 9, defs), S_OK);
        EXPECT_EQ(createGDBTable(fws_, "frel", &frel_, 6, frelFieldDefs), S_OK);
        srelCounter = 0;
        clear();

        FeatureEntry entries[2] = {{"US000000000100002", "FE0000000002", "42", "FA"},
                                   {"US000000000100003", "FE0000000003", "SOUNDG", "FP"}};
        Cache cache{};
        cache.f = entries;
        cache.fCount = cache.fCapacity = 2;
        Subfields two = kPointer("VE0000000001", "1", "E", "255");
        for (auto& s : kPointer("VE0000000002", "2", "I", "1")) two.push_back(s);
        const Record a({{"FSPT", two},
                        {"FFPT", {{"LNAM", "US000000000100002"}, {"RIND", "1"}, {"COMT", "first"}}}});
        const Record b({{"FSPT", kPointer("VE0000000003", "F", "", "S")},
                        {"FFPT", {{"LNAM", "US000000000100003"}, {"RIND", "2"}, {"COMT", ""}}}});
        struct Step {
            const Record* record;
            const char* lnam;
            const char* cell;
        };
        const std::string tooLong(30, 'L');  // wider than SRC_LNAM: that row's put fails
        const Step steps[] = {{&a, "US000000000100001", "A.000"}, {&b, tooLong.c_str(), "A.000"},
                              {&a, "US000000000100004", nullptr}, {&b, "US000000000100005", "B.000"},
                              {&b, "US000000000100005", "B.000"}};
        RelationRows rows;
        for (const Step& s : steps) {
            if (kept) {
                EXPECT_EQ(writeSrelTable(rows, srel_, &s.record->r, 'F', s.lnam, "FE0000000009", s.cell), 0);
                EXPECT_EQ(writeCrelTable(rows, frel_, &s.record->r, s.lnam, &cache, s.cell), 0);
            } else {
                EXPECT_EQ(writeSrelTable(srel_, &s.record->r, 'F', s.lnam, "FE0000000009", s.cell), 0);
                EXPECT_EQ(writeCrelTable(frel_, &s.record->r, s.lnam, &cache, s.cell), 0);
            }
        }
        return {rowsOf(srel_), rowsOf(frel_), logText()};
    }
    void clear() {
        std::fflush(logFile);
        ASSERT_EQ(ftruncate(fileno(logFile), 0), 0);
        std::rewind(logFile);
    }
};

TEST_P(KeptRelationRows, WriteWhatFreshWritersWrite) {
    const Written fresh = writeAll("fresh.mdb", false);
    const Written kept = writeAll("kept.mdb", true);
    ASSERT_EQ(fresh.srel.size(), 6u);  // 7 pointers, one row refused (its ID is used up)
    EXPECT_EQ(kept.srel, fresh.srel);
    EXPECT_EQ(kept.frel, fresh.frel);
    EXPECT_EQ(kept.log, fresh.log);
    EXPECT_EQ(fresh.srel[1].at("DSNM"), "A.000");
    EXPECT_EQ(fresh.srel[2].at("DSNM"), "<null>");
    EXPECT_EQ(fresh.srel[2].at("ID"), GetParam().idType == 2 ? "4" : "4         ");
    EXPECT_NE(fresh.log.find("writeSrelTable: error on writing records " + std::string(30, 'L')), std::string::npos)
        << fresh.log;
}
INSTANTIATE_TEST_SUITE_P(IdColumn, KeptRelationRows, ::testing::ValuesIn(kKept),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(RelationTables, GetIsoSubFieldTranslatesDigitsAndDefaults) {
    char out[8];
    getIsoSubField("ORNT", "2", out, sizeof out, "N");
    EXPECT_STREQ(out, "R");
    getIsoSubField("ORNT", "", out, sizeof out, "N");
    EXPECT_STREQ(out, "N");
    getIsoSubField("USAG", "I", out, sizeof out, "N");
    EXPECT_STREQ(out, "I");
    getIsoSubField("MASK", "7", out, sizeof out, "N");
    EXPECT_STREQ(out, "N");
    EXPECT_EQ(logText(), "getIsoSubField: unable to translate subfield MASK value 7, override to N");
}

// ---- checkWithin ---------------------------------------------------------------------------------------

IGeometryPtr pointAt(double x, double y) {
    IPointPtr p(CLSID_Point);
    p->PutCoords(x, y);
    return IGeometryPtr(p);
}

template <class Ptr>
IGeometryPtr pathOf(REFCLSID clsid, const std::vector<std::pair<double, double>>& xy) {
    Ptr g(clsid);
    IPointCollectionPtr points(g);
    for (const auto& [x, y] : xy) {
        IPointPtr p(CLSID_Point);
        p->PutCoords(x, y);
        points->AddPoint(p);
    }
    return IGeometryPtr(g);
}

IGeometryPtr square(double x0, double y0, double x1, double y1) {
    return pathOf<IPolygonPtr>(CLSID_Polygon, {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, {x0, y0}});
}

struct WithinCase {
    const char* name;
    IGeometryPtr (*feature)();
    int type;
    bool expected;
};
const WithinCase kWithin[] = {
    {"PointInside", [] { return pointAt(5, 5); }, 1, true},
    {"PointOnBoundary", [] { return pointAt(0, 5); }, 1, true},
    {"PointOutside", [] { return pointAt(15, 5); }, 1, false},
    {"AreaInside", [] { return square(1, 1, 9, 9); }, 4, true},
    {"AreaMostlyInside", [] { return square(1, 1, 10.5, 9); }, 4, true},  // 5.6 % outside
    {"AreaHalfOutside", [] { return square(5, 1, 15, 9); }, 4, false},
    {"AreaDisjoint", [] { return square(20, 20, 30, 30); }, 4, false},
    // No area at all, partly outside: the share outside would be 0 / 0.
    {"AreaOfNoSizeAcrossTheEdge",
     [] { return pathOf<IPolygonPtr>(CLSID_Polygon, {{5, 1}, {10, 1}, {15, 1}, {5, 1}}); }, 4, false},
    {"LineMostlyInside", [] { return pathOf<IPolylinePtr>(CLSID_Polyline, {{1, 5}, {10.5, 5}}); }, 3, true},
    {"LineCrossing", [] { return pathOf<IPolylinePtr>(CLSID_Polyline, {{5, 5}, {15, 5}}); }, 3, false},
    {"LineOfNoLength", [] { return pathOf<IPolylinePtr>(CLSID_Polyline, {{12, 5}, {12, 5}}); }, 3, false},
    {"OtherType", [] { return square(20, 20, 30, 30); }, 2, false},
};
class CheckWithin : public ::testing::TestWithParam<WithinCase> {};
TEST_P(CheckWithin, AgainstATenByTenSquare) {
    IGeometryPtr reference = square(0, 0, 10, 10);
    EXPECT_EQ(checkWithin(GetParam().feature(), reference, GetParam().type), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Cases, CheckWithin, ::testing::ValuesIn(kWithin),
                         [](const auto& i) { return std::string(i.param.name); });

}  // namespace
