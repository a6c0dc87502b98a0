// tests/s57/record_list_test.cpp: the record list of a cell (cells built byte by byte in ASCII form,
// and every real base cell), its order, the topology cache, and the file and naming helpers.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "s57/dimml.h"
#include "s57/record_list.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"
#include "s57_file_fixtures.h"
#include "support/test_data.h"

namespace {

// ---- Fixture cells built in code (ASCII subfields, so values arrive as written) -----------------

using s57test::Fld;
using s57test::num;
using s57test::record;
using LogCapture = s57test::CapturedLog;

Fld describe(const std::string& tag, const std::string& controls, const std::string& name,
             const std::string& labels, const std::string& formats) {
    return {tag, controls + name + "\x1f" + labels + "\x1f" + formats + "\x1e"};
}

// The DDR of the fixtures.
std::string ddr(const std::string& fridLabels = "RCNM!RCID!PRIM!GRUP!OBJL!RVER!RUIN",
                const std::string& fridFormats = "(A(2),I(10),A(1),I(3),I(5),I(3),A(1))") {
    return record(true, {
        {"0000", "0000;&   fixture\x1f" "0001DSID0001VRID0001FRIDFRIDFOID\x1e"},
        describe("0001", "0100;&   ", "ISO/IEC 8211 Record Identifier", "", "(I(5))"),
        describe("DSID", "1600;&   ", "Data set identification field", "RCNM!RCID", "(A(2),I(10))"),
        describe("VRID", "1600;&   ", "Vector record identifier field", "RCNM!RCID!RVER!RUIN",
                 "(A(2),I(10),I(3),A(1))"),
        describe("FRID", "1600;&   ", "Feature record identifier field", fridLabels, fridFormats),
        describe("FOID", "1600;&   ", "Feature object identifier field", "AGEN!FIDN!FIDS",
                 "(A,I(10),I(5))"),
    });
}

int gRecordId = 0;
Fld id() { return {"0001", num(++gRecordId, 5) + "\x1e"}; }

std::string ds(int rcid) { return record(false, {id(), {"DSID", "DS" + num(rcid, 10) + "\x1e"}}); }
std::string vec(const std::string& rcnm, int rcid, const std::string& ruin = "I") {
    return record(false, {id(), {"VRID", rcnm + num(rcid, 10) + "001" + ruin + "\x1e"}});
}
std::string fe(int rcid, const std::string& prim, int objl, const std::string& agen = "US",
               const std::string& ruin = "I") {
    return record(false, {id(),
                          {"FRID", "FE" + num(rcid, 10) + prim + "001" + num(objl, 5) + "001" + ruin + "\x1e"},
                          {"FOID", agen + "\x1f" + num(rcid, 10) + num(1, 5) + "\x1e"}});
}

class TempCell {
public:
    explicit TempCell(const std::string& bytes) {
        char name[] = "/tmp/record_list_XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) throw std::runtime_error("mkstemp");
        path_ = name;
        if (write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) throw std::runtime_error("write");
        close(fd);
    }
    ~TempCell() { std::filesystem::remove(path_); }
    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
};

struct Destroy {
    void operator()(llist* l) const noexcept { llist_destroy(l); }
};
using List = std::unique_ptr<llist, Destroy>;

// One cell read into a record list; the file is closed afterwards.
struct Loaded {
    int rc = 0;
    List list;
    std::vector<ObjectRec> recs;
};
Loaded load(const char* path) {
    Loaded out;
    Iso8211File file{};
    llist* raw = reinterpret_cast<llist*>(0x1);
    pointFeatureCount = lineFeatureCount = areaFeatureCount = 0;
    out.rc = loadObjectRecList(&file, path, &raw);
    out.list.reset(raw);
    for (auto* r = static_cast<ObjectRec*>(llist_first(raw)); r; r = static_cast<ObjectRec*>(llist_next(raw)))
        out.recs.push_back(*r);
    if (file.fp) (void)Close8211File(&file);
    return out;
}

std::vector<std::string> names(const std::vector<ObjectRec>& recs) {
    std::vector<std::string> out;
    for (const auto& r : recs) out.push_back(r.name);
    return out;
}

// ---- Fixture cells ----------------------------------------------------------------------------------

TEST(RecordList, SortedByKindPrimitiveClassAndRecordNumber) {
    gRecordId = 0;
    TempCell cell(ddr() + ds(1) + fe(10, "A", 42) + vec("VE", 3) + vec("VI", 4) + fe(11, "P", 5) +
                  fe(12, "A", 30) + fe(13, "A", 42) + fe(14, "N", 400) + vec("VC", 5) + fe(15, "L", 7));
    const Loaded l = load(cell.path());
    ASSERT_EQ(l.rc, 0);
    EXPECT_EQ(names(l.recs),
              (std::vector<std::string>{"DS0000000001", "VI0000000004", "VC0000000005", "VE0000000003",
                                        "FE0000000011", "FE0000000015", "FE0000000012", "FE0000000010",
                                        "FE0000000013", "FE0000000014"}));
    const ObjectRec& dsr = l.recs[0];
    EXPECT_EQ(dsr.ruin, 'N');
    EXPECT_STREQ(dsr.prim, "");
    EXPECT_STREQ(dsr.lnam, "");
    EXPECT_EQ(dsr.recno, 1);
    const ObjectRec& vi = l.recs[1];
    EXPECT_STREQ(vi.prim, "VI");
    EXPECT_STREQ(vi.objClass, "INODE");
    EXPECT_EQ(vi.ruin, 'I');
    EXPECT_EQ(vi.recno, 4);
    EXPECT_STREQ(l.recs[3].objClass, "EDGE");
    const ObjectRec& area = l.recs[7];
    EXPECT_STREQ(area.prim, "FA");
    EXPECT_STREQ(area.objClass, "00042");
    EXPECT_STREQ(area.lnam, "US000000001000001");
    EXPECT_EQ(area.recno, 2);
    EXPECT_STREQ(l.recs[9].prim, "FX");
    EXPECT_EQ(pointFeatureCount, 1);
    EXPECT_EQ(lineFeatureCount, 1);
    EXPECT_EQ(areaFeatureCount, 3);
}

struct BadCell {
    const char* name;
    std::string records;
    std::string ddrText;
    int expected;
    const char* logged;
};

std::ostream& operator<<(std::ostream& os, const BadCell& c) { return os << c.name; }

std::vector<BadCell> badCells() {
    gRecordId = 0;
    std::vector<BadCell> out;
    out.push_back({"FeatureRuinX", ds(1) + fe(2, "P", 5, "US", "X"), ddr(), -17,
                   "loadObjectRecList: Error reading object record 2, bad RUIN value X"});
    gRecordId = 0;
    out.push_back({"VectorRuinX", ds(1) + vec("VE", 2, "X"), ddr(), -17,
                   "loadObjectRecList: Error reading object record 2, bad RUIN value X"});
    gRecordId = 0;
    out.push_back({"UnknownPrim", ds(1) + fe(2, "Q", 5), ddr(), -17,
                   "loadObjectRecList: Error reading object record 2, unsupported PRIM field Q\n"});
    gRecordId = 0;
    out.push_back({"NoFRID", ds(1) + record(false, {id(), {"DSID", "FE0000000002\x1e"}}), ddr(), -17,
                   "loadObjectRecList: Error reading object record 2, missing VRID or FRID field\n"});
    gRecordId = 0;
    out.push_back({"NoFOID",
                   ds(1) + record(false, {id(), {"FRID", "FE0000000002P00100005001I\x1e"}}), ddr(), -17,
                   "loadObjectRecList: Error reading object record 2, FOID field not found\n"});
    gRecordId = 0;
    out.push_back({"NoRUIN",
                   ds(1) + record(false, {id(), {"FRID", "FE0000000002P00100005001\x1e"},
                                          {"FOID", "US\x1f" "000000000200001\x1e"}}),
                   ddr("RCNM!RCID!PRIM!GRUP!OBJL!RVER", "(A(2),I(10),A(1),I(3),I(5),I(3))"), -17,
                   "loadObjectRecList: Error reading object record 2, missing RUIN subfield\n"});
    gRecordId = 0;
    out.push_back({"ObjlTooLong",
                   ds(1) + record(false, {id(), {"FRID", "FE0000000002P0010000000042001I\x1e"},
                                          {"FOID", "US\x1f" "000000000200001\x1e"}}),
                   ddr("RCNM!RCID!PRIM!GRUP!OBJL!RVER!RUIN", "(A(2),I(10),A(1),I(3),I(10),I(3),A(1))"), -17,
                   "loadObjectRecList: Error reading object record 2, bad OBJL value 0000000042\n"});
    out.push_back({"NoRecords", "", ddr(), -16, "loadObjectRecList: no record exist in object file\n"});
    return out;
}

class BadRecord : public ::testing::TestWithParam<BadCell> {};

TEST_P(BadRecord, StopsTheListWithItsCode) {
    LogCapture log;
    TempCell cell(GetParam().ddrText + GetParam().records);
    const Loaded l = load(cell.path());
    EXPECT_EQ(l.rc, GetParam().expected);
    EXPECT_EQ(l.list, nullptr);
    EXPECT_NE(log.text().find(GetParam().logged), std::string::npos) << log.text();
}

INSTANTIATE_TEST_SUITE_P(Cells, BadRecord, ::testing::ValuesIn(badCells()),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(RecordList, IllegalArgumentsAndMissingFile) {
    LogCapture log;
    Iso8211File file{};
    llist* list = nullptr;
    EXPECT_EQ(loadObjectRecList(nullptr, "x", &list), -19);
    EXPECT_EQ(loadObjectRecList(&file, nullptr, &list), -19);
    EXPECT_EQ(loadObjectRecList(&file, "x", nullptr), -19);
    EXPECT_EQ(loadObjectRecList(&file, "/nonexistent/cell.000", &list), -2);
    EXPECT_EQ(list, nullptr);
    EXPECT_NE(log.text().find("loadObjectRecList: Error opening the object file: /nonexistent/cell.000\n"),
              std::string::npos);
}

// Long-name agencies: numeric codes through the agency table, labels that cannot fit refused.
TEST(RecordList, LongNamesFromAgencyCodesAndLabels) {
    AgencyRec table[] = {{"CA", "20"}, {"TOOLONGLABEL", "30"}, {"1C", "7196"}};
    AgencyRec* const saved = agencies;
    const int32_t savedCount = agencyCount;
    agencies = table;
    agencyCount = 3;
    gRecordId = 0;
    TempCell cell(ddr() + ds(1) + fe(2, "P", 5, "20") + fe(3, "P", 5, "99") + fe(4, "P", 5, "30") +
                  fe(5, "P", 5, "GB") + fe(6, "P", 5, "1C"));
    LogCapture log;
    const Loaded l = load(cell.path());
    agencies = saved;
    agencyCount = savedCount;
    ASSERT_EQ(l.rc, 0);
    ASSERT_EQ(l.recs.size(), 6u);
    EXPECT_STREQ(l.recs[1].lnam, "CA000000000200001");
    EXPECT_STREQ(l.recs[2].lnam, "AA000000000300001") << "an unknown code takes the default label";
    EXPECT_STREQ(l.recs[3].lnam, "TOOLONGLABEL") << "nothing is cut or written past the long name";
    EXPECT_STREQ(l.recs[4].lnam, "GB000000000500001");
    EXPECT_STREQ(l.recs[5].lnam, "1C000000000600001") << "a label that begins with a digit is no code";
    EXPECT_NE(log.text().find("loadObjectRecList: Error reading object record 4, long name part "),
              std::string::npos)
        << log.text();
}

// ---- Order ---------------------------------------------------------------------------------------------

ObjectRec rec(const char* name, const char* prim, const char* objClass, int recno) {
    ObjectRec r{};
    std::snprintf(r.name, sizeof r.name, "%s", name);
    std::snprintf(r.prim, sizeof r.prim, "%s", prim);
    std::snprintf(r.objClass, sizeof r.objClass, "%s", objClass);
    r.recno = recno;
    return r;
}

struct Order {
    const char* name;
    ObjectRec a, b;
    int byClass;  // sign of compClassName(a, b)
    int byName;   // sign of compRecName(a, b)
};

std::ostream& operator<<(std::ostream& os, const Order& o) { return os << o.name; }

const Order kOrders[] = {
    {"DataSetBeforeVector", rec("DS0000000001", "", "", 9), rec("VI0000000001", "VI", "INODE", 1), -1, -1},
    {"UnknownKindFirst", rec("VF0000000001", "VF", "FACE", 9), rec("DS0000000001", "", "", 1), -1, -1},
    {"NodesBeforeEdges", rec("VE0000000001", "VE", "EDGE", 1), rec("VC0000000009", "VC", "CNODE", 9), 1, 1},
    {"VectorsByRecordNumber", rec("VI0000000009", "VI", "INODE", 1), rec("VI0000000001", "VI", "INODE", 2), -1, 1},
    {"PointBeforeArea", rec("FE0000000001", "FA", "00001", 1), rec("FE0000000002", "FP", "00009", 2), 1, 1},
    {"ClassesByText", rec("FE0000000001", "FA", "042", 1), rec("FE0000000002", "FA", "030", 2), 1, 1},
    {"OneClassByRecordNumber", rec("FE0000000009", "FA", "042", 1), rec("FE0000000001", "FA", "042", 2), -1, 1},
    {"CollectionsLast", rec("FE0000000001", "FX", "00400", 1), rec("FE0000000002", "FA", "00042", 2), 1, 1},
    {"Equal", rec("FE0000000001", "FA", "042", 1), rec("FE0000000001", "FA", "042", 1), 0, 0},
};

class RecordOrder : public ::testing::TestWithParam<Order> {};

int sign(int v) { return (v > 0) - (v < 0); }

TEST_P(RecordOrder, BothComparators) {
    LogCapture log;
    const Order& o = GetParam();
    EXPECT_EQ(sign(compClassName(&o.a, &o.b)), o.byClass);
    EXPECT_EQ(sign(compRecName(&o.a, &o.b)), o.byName);
    const ObjectRec* pa = &o.a;
    const ObjectRec* pb = &o.b;
    EXPECT_EQ(sign(compClassNamePtr(&pa, &pb)), o.byClass);
    EXPECT_EQ(sign(compRecNamePtr(&pa, &pb)), o.byName);
}

INSTANTIATE_TEST_SUITE_P(Records, RecordOrder, ::testing::ValuesIn(kOrders),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(RecordOrderTie, IsLoggedAndTheProcessGoesOn) {
    LogCapture log;
    const ObjectRec a = rec("VI0000000001", "VI", "INODE", 7), b = rec("VI0000000002", "VI", "INODE", 7);
    EXPECT_EQ(compClassName(&a, &b), 0);
    EXPECT_EQ(log.text(), "compClassName: VI0000000001 VI0000000002 has the same rec no 7, NOT ALLOWED\n");
}

TEST(Ranks, KindsAndPrimitives) {
    const std::map<std::string, int> kinds = {{"DS0000000001", 10}, {"DP", 20}, {"VI", 110}, {"VC", 120},
                                              {"VE", 130}, {"FE", 1000}, {"VF", -1}, {"D", -1}, {"", -1}};
    for (const auto& [name, rank] : kinds) EXPECT_EQ(recordKindRank(name.c_str()), rank) << name;
    const std::map<std::string, int> prims = {{"FN", 1}, {"FP", 2}, {"FL", 3}, {"FA", 4}, {"FX", 5},
                                              {"VI", -1}, {"F", -1}, {"", -1}};
    for (const auto& [prim, rank] : prims) EXPECT_EQ(primRank(prim.c_str()), rank) << prim;
}

// ---- Topology cache -----------------------------------------------------------------------------------

List listOf(const std::vector<ObjectRec>& recs) {
    List l(llist_init(LLIST_APPEND, sizeof(ObjectRec), nullptr));
    for (const auto& r : recs) EXPECT_EQ(llist_tail_enter(l.get(), &r), 0);
    return l;
}

ObjectRec feature(const char* name, const char* prim, const char* lnam) {
    ObjectRec r = rec(name, prim, "00042", 0);
    std::snprintf(r.lnam, sizeof r.lnam, "%s", lnam);
    return r;
}

template <class T>
T* object(const std::string& name) {
    auto* o = static_cast<T*>(std::calloc(1, sizeof(T)));
    std::snprintf(o->name, sizeof o->name, "%s", name.c_str());
    o->num = 1;
    o->coords = static_cast<double*>(std::calloc(3, sizeof(double)));
    return o;
}

TEST(Cache, SizesFromTheListAndFindsEveryEntry) {
    List l = listOf({rec("DS0000000001", "", "", 1), rec("VI0000000002", "VI", "INODE", 2),
                     rec("VI0000000001", "VI", "INODE", 3), rec("VC0000000001", "VC", "CNODE", 4),
                     rec("VE0000000001", "VE", "EDGE", 5), feature("FE0000000003", "FP", "US000000000300001"),
                     feature("FE0000000001", "FA", "US000000000100001"),
                     feature("FE0000000002", "FX", "US000000000200001")});
    Cache c;
    int hasFX = -1;
    ASSERT_EQ(cache_initialize(&c, l.get(), &hasFX), 0);
    EXPECT_EQ(hasFX, 1);
    EXPECT_EQ(c.viCapacity, 2);
    EXPECT_EQ(c.vcCapacity, 1);
    EXPECT_EQ(c.veCapacity, 1);
    EXPECT_EQ(c.fCapacity, 3);
    EXPECT_EQ(c.fCount, 3);
    EXPECT_STREQ(c.f[0].lnam, "US000000000100001") << "feature table sorted by long name";
    llist_goto_mark(l.get());
    EXPECT_STREQ(static_cast<ObjectRec*>(llist_current(l.get()))->name, "FE0000000003") << "first feature marked";

    ASSERT_EQ(cache_add_vi(&c, object<NodeObject>("VI0000000002")), 0);
    ASSERT_EQ(cache_add_vi(&c, object<NodeObject>("VI0000000001")), 0);
    ASSERT_EQ(cache_add_vc(&c, object<NodeObject>("VC0000000001")), 0);
    ASSERT_EQ(cache_add_ve(&c, object<EdgeObject>("VE0000000001")), 0);
    cache_sort_vi(&c);
    cache_sort_vc(&c);
    cache_sort_ve(&c);
    NodeObject* node = nullptr;
    EdgeObject* edge = nullptr;
    FeatureEntry* f = nullptr;
    for (const char* n : {"VI0000000001", "VI0000000002"}) {
        ASSERT_EQ(cache_find_vi(&c, n, &node), 0);
        ASSERT_NE(node, nullptr) << n;
        EXPECT_STREQ(node->name, n);
    }
    EXPECT_EQ(cache_find_vi(&c, "VI0000000003", &node), 0);
    EXPECT_EQ(node, nullptr);
    EXPECT_EQ(cache_find_vc(&c, "VC0000000001", &node), 0);
    EXPECT_NE(node, nullptr);
    EXPECT_EQ(cache_find_ve(&c, "VE0000000001", &edge), 0);
    EXPECT_NE(edge, nullptr);
    for (const char* n : {"US000000000100001", "US000000000200001", "US000000000300001"}) {
        ASSERT_EQ(cache_find_f(&c, n, &f), 0);
        ASSERT_NE(f, nullptr) << n;
        EXPECT_STREQ(f->lnam, n);
    }
    EXPECT_EQ(cache_find_f(&c, "US000000000400001", &f), 0);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(cache_find_vi(&c, nullptr, &node), -19);
    cache_free(&c);
    EXPECT_EQ(c.vi, nullptr);
    EXPECT_EQ(c.f, nullptr);
}

TEST(Cache, AFullKindRefusesMore) {
    LogCapture log;
    List l = listOf({rec("VI0000000001", "VI", "INODE", 1), rec("VE0000000001", "VE", "EDGE", 2)});
    Cache c;
    int hasFX = -1;
    ASSERT_EQ(cache_initialize(&c, l.get(), &hasFX), 0);
    EXPECT_EQ(hasFX, 0);
    EXPECT_EQ(c.vc, nullptr) << "no array for a kind without records";
    EXPECT_EQ(c.f, nullptr);
    ASSERT_EQ(cache_add_vi(&c, object<NodeObject>("VI0000000001")), 0);
    NodeObject* extra = object<NodeObject>("VI0000000002");
    EXPECT_EQ(cache_add_vi(&c, extra), -1);
    EXPECT_EQ(c.viCount, 1);
    NodeObject* other = object<NodeObject>("VC0000000001");
    EXPECT_EQ(cache_add_vc(&c, other), -1) << "no room at all";
    EdgeObject* edge = object<EdgeObject>("VE0000000001");
    ASSERT_EQ(cache_add_ve(&c, edge), 0);
    EXPECT_EQ(cache_add_ve(&c, edge), -1);
    EXPECT_NE(log.text().find("cache_add_vi: no room for VI0000000002, capacity 1\n"), std::string::npos)
        << log.text();
    for (NodeObject* n : {extra, other}) {
        std::free(n->coords);
        std::free(n);
    }
    cache_free(&c);
}

TEST(Cache, NullArguments) {
    LogCapture log;
    Cache c{};
    int hasFX = 0;
    List l = listOf({});
    EXPECT_EQ(cache_initialize(nullptr, l.get(), &hasFX), -19);
    EXPECT_EQ(cache_initialize(&c, nullptr, &hasFX), -19);
    EXPECT_EQ(log.text(), "unable to initialize cache\nunable to initialize cache\n");
    EXPECT_EQ(cache_add_vi(&c, nullptr), -19);
    EXPECT_EQ(cache_add_ve(nullptr, nullptr), -19);
}

// ---- Names and files --------------------------------------------------------------------------------------

TEST(Names, ClassPrefix) {
    LogCapture log;
    char out[16];
    const std::map<std::string, std::string> suffixes = {
        {"FN", "DEPARE_N"}, {"FP", "DEPARE_P"}, {"FL", "DEPARE_L"}, {"FA", "DEPARE_A"}, {"FX", "DEPARE_X"}};
    for (const auto& [prim, name] : suffixes) {
        ASSERT_EQ(addClassPrefix("DEPARE", prim.c_str(), out, sizeof out), 0);
        EXPECT_STREQ(out, name.c_str());
    }
    EXPECT_EQ(addClassPrefix("DEPARE", "VE", out, sizeof out), 1);
    EXPECT_EQ(log.text(), "addClassPrefix: support prim type VE\n");
    EXPECT_EQ(addClassPrefix("DEPARE", "FA", out, 8), -11) << "no room for the suffix's NUL";
    EXPECT_EQ(addClassPrefix("DEPARE", "FA", out, 9), 0);
    EXPECT_EQ(addClassPrefix(nullptr, "FA", out, sizeof out), -19);
}

TEST(Files, AccessChecks) {
    LogCapture log;
    const std::string dir = ::testing::TempDir();
    const std::string present = dir + "/record_list_present";
    std::FILE* f = std::fopen(present.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_EQ(FileAccess(present.c_str(), 0), 0);
    EXPECT_EQ(FileAccess(present.c_str(), 6), 0);
    EXPECT_EQ(FileAccess(present.c_str(), 1), -1);
    EXPECT_EQ(FileAccess((dir + "/record_list_absent").c_str(), 0), -1);
    EXPECT_EQ(checkFileAccess(present.c_str()), 0);
    EXPECT_EQ(checkFileAccess("/nonexistent/x.000"), -2);
    EXPECT_EQ(FileAccess(nullptr, 0), -19);
    EXPECT_EQ(checkFileAccess(nullptr), -19);
    EXPECT_EQ(log.text(), "File /nonexistent/x.000 not found.FileAccess: Illegal parameter\n"
                          "checkFileAccess: Illegal parameter\n");
    std::filesystem::remove(present);
    char text[] = "CATALOG.031";
    EXPECT_EQ(toLowerCase(text), 11);
    EXPECT_STREQ(text, "catalog.031");
    char empty[] = "";
    EXPECT_EQ(toLowerCase(empty), 0);
}

// ---- Real base cells ------------------------------------------------------------------------------------------

using s57test::baseCells;

// What the records of a cell say, read through the record layer alone.
struct Census {
    int point = 0, line = 0, area = 0, none = 0;
    std::map<std::string, int> vectors;  // by RCNM
    std::map<int, std::string> prims;    // record number -> "FP" ...
    std::map<std::string, int> dssi;     // NOMR ... NOED of the data-set record
    int failedRecord = 0;                // the first record the layer cannot read (0: the open)
    int failure = 0;                     // and its code
};

std::string subfield(const Iso8211Record& r, const char* tag, const char* label) {
    const int f = Find8211Field(&r, tag, 0);
    if (f < 0) return {};
    const int s = Find8211SubField(&r, label, f, 0);
    return s < 0 ? std::string() : std::string(r.fields[f].subFields[s].value);
}

Census census(const std::string& path) {
    Census c;
    Iso8211File file{};
    if ((c.failure = Read8211File(&file, path.c_str())) != 0) return c;
    for (int r = 1; r <= file.recordCount; ++r) {
        Iso8211Record rec{};
        if ((c.failure = Read8211Record(&file, r, &rec)) != 0) {
            c.failedRecord = r;
            break;
        }
        const std::string rcnm = file.index[r - 1].rcnm;
        if (rcnm == "DS")
            for (const char* label : {"NOMR", "NOCR", "NOGR", "NOLR", "NOIN", "NOCN", "NOED"})
                c.dssi[label] = std::atoi(subfield(rec, "DSSI", label).c_str());
        if (rcnm[0] == 'V') ++c.vectors[rcnm];
        if (rcnm == "FE") {
            const std::string prim = subfield(rec, "FRID", "PRIM");
            if (prim == "P") ++c.point, c.prims[r] = "FP";
            else if (prim == "L") ++c.line, c.prims[r] = "FL";
            else if (prim == "A") ++c.area, c.prims[r] = "FA";
            else ++c.none, c.prims[r] = "FX";
        }
        (void)Free8211Record(&rec);
    }
    (void)Close8211File(&file);
    return c;
}

// The catalogue with its agencies (for the AGEN labels of long names); the loader's trace of every
// record on standard output is kept out of the test's output.
HRESULT loadCatalogueQuietly() {
    std::fflush(stdout);
    const int saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    const HRESULT hr = loadDIMEInfoFrom((std::string(TARVO_BINARY_DIR) + "/lib").c_str());
    std::fflush(stdout);
    dup2(saved, 1);
    close(null);
    close(saved);
    return hr;
}

// The cells the record layer refuses: S-58 cells broken on purpose (a data-set record of bad
// values, a vector record with an unknown update instruction). Every chart reads whole.
const std::set<std::string> kRefusedCells = {"00400013", "AA400015", "AA500003"};

class BaseCell : public ::testing::TestWithParam<std::string> {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(loadCatalogueQuietly(), S_OK); }
    void SetUp() override { SKIP_WITHOUT_DATA(); }
};

TEST_P(BaseCell, ListHoldsEveryRecordInOrderWithItsCounts) {
    const Census c = census(GetParam());
    const Loaded l = load(GetParam().c_str());
    EXPECT_EQ(c.failure != 0, kRefusedCells.count(std::filesystem::path(GetParam()).stem().string()) > 0)
        << "record " << c.failedRecord << " (" << c.failure << ")";
    if (c.failure != 0) {
        // A cell that the record layer refuses is refused with the layer's code.
        EXPECT_EQ(l.rc, c.failure);
        EXPECT_EQ(l.list, nullptr);
        GTEST_SKIP() << "the record layer cannot read record " << c.failedRecord << " (" << c.failure
                     << ")";
    }
    ASSERT_EQ(l.rc, 0);
    EXPECT_EQ(pointFeatureCount, c.point);
    EXPECT_EQ(lineFeatureCount, c.line);
    EXPECT_EQ(areaFeatureCount, c.area);

    std::set<int> seen;
    std::map<std::string, int> vectors;
    int fx = 0;
    for (std::size_t i = 0; i < l.recs.size(); ++i) {
        const ObjectRec& r = l.recs[i];
        EXPECT_TRUE(seen.insert(r.recno).second) << "record " << r.recno << " twice";
        if (r.name[0] == 'V') ++vectors[r.prim];
        if (r.name[0] == 'F') {
            EXPECT_EQ(c.prims.at(r.recno), r.prim) << r.name;
            EXPECT_EQ(std::strlen(r.lnam), 17u) << r.name;
            fx += std::string(r.prim) == "FX";
        }
        if (i == 0) continue;
        const ObjectRec& p = l.recs[i - 1];
        const int kp = recordKindRank(p.name), kr = recordKindRank(r.name);
        ASSERT_LE(kp, kr) << p.name << " before " << r.name;
        if (kp != kr) continue;
        if (kr != 1000) {
            EXPECT_LT(p.recno, r.recno);
        } else {
            const int pp = primRank(p.prim), pr = primRank(r.prim);
            ASSERT_LE(pp, pr) << p.name << " before " << r.name;
            if (pp == pr) {
                const int cls = std::strcmp(p.objClass, r.objClass);
                ASSERT_LE(cls, 0) << p.name << " before " << r.name;
                if (cls == 0) {
                    EXPECT_LT(p.recno, r.recno);
                }
            }
        }
    }
    EXPECT_EQ(int(seen.size()), int(l.recs.size()));
    EXPECT_EQ(vectors, c.vectors);
    EXPECT_EQ(fx, c.none);
    // The S-58 cells break the DSSI counts on purpose; the charts agree with theirs.
    if (GetParam().find("/enc/") != std::string::npos) {
        auto d = c.dssi;
        EXPECT_EQ(c.point + c.line + c.area + c.none, d["NOMR"] + d["NOCR"] + d["NOGR"] + d["NOLR"]);
        EXPECT_EQ(vectors["VI"], d["NOIN"]);
        EXPECT_EQ(vectors["VC"], d["NOCN"]);
        EXPECT_EQ(vectors["VE"], d["NOED"]);
    }
    ASSERT_GE(l.recs.size(), 2u);
    EXPECT_STREQ(std::string(l.recs[0].name, 2).c_str(), "DS");
    EXPECT_STREQ(std::string(l.recs[1].name, 2).c_str(), "DP");
}

TEST_P(BaseCell, CacheFindsEveryNodeEdgeAndFeature) {
    const Loaded l = load(GetParam().c_str());
    if (l.rc == census(GetParam()).failure && l.rc != 0) GTEST_SKIP() << "refused by the record layer";
    ASSERT_EQ(l.rc, 0);
    Cache c;
    int hasFX = -1;
    ASSERT_EQ(cache_initialize(&c, l.list.get(), &hasFX), 0);
    EXPECT_EQ(hasFX, std::string(l.recs.back().prim) == "FX" ? 1 : 0);
    std::vector<const ObjectRec*> features;
    for (const ObjectRec& r : l.recs) {
        const std::string prim = r.prim;
        if (prim == "VI") ASSERT_EQ(cache_add_vi(&c, object<NodeObject>(r.name)), 0);
        else if (prim == "VC") ASSERT_EQ(cache_add_vc(&c, object<NodeObject>(r.name)), 0);
        else if (prim == "VE") ASSERT_EQ(cache_add_ve(&c, object<EdgeObject>(r.name)), 0);
        else if (r.name[0] == 'F') features.push_back(&r);
    }
    EXPECT_EQ(c.fCount, int(features.size()));
    {
        LogCapture log;
        NodeObject* extra = object<NodeObject>("VC9999999999");
        EXPECT_EQ(cache_add_vc(&c, extra), -1);
        std::free(extra->coords);
        std::free(extra);
    }
    cache_sort_vi(&c);
    cache_sort_vc(&c);
    cache_sort_ve(&c);
    for (const ObjectRec& r : l.recs) {
        const std::string prim = r.prim;
        NodeObject* node = nullptr;
        EdgeObject* edge = nullptr;
        if (prim == "VI") {
            ASSERT_EQ(cache_find_vi(&c, r.name, &node), 0);
            ASSERT_NE(node, nullptr) << r.name;
            EXPECT_STREQ(node->name, r.name);
        } else if (prim == "VC") {
            ASSERT_EQ(cache_find_vc(&c, r.name, &node), 0);
            ASSERT_NE(node, nullptr) << r.name;
            EXPECT_STREQ(node->name, r.name);
        } else if (prim == "VE") {
            ASSERT_EQ(cache_find_ve(&c, r.name, &edge), 0);
            ASSERT_NE(edge, nullptr) << r.name;
            EXPECT_STREQ(edge->name, r.name);
        }
    }
    for (const ObjectRec* r : features) {
        FeatureEntry* f = nullptr;
        ASSERT_EQ(cache_find_f(&c, r->lnam, &f), 0);
        ASSERT_NE(f, nullptr) << r->lnam;
        EXPECT_STREQ(f->lnam, r->lnam);
    }
    cache_free(&c);
}

INSTANTIATE_TEST_SUITE_P(Data, BaseCell, ::testing::ValuesIn(baseCells()), [](const auto& i) {
    std::string n = std::filesystem::path(i.param).stem().string();
    for (char& ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
});
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(BaseCell);

}  // namespace
