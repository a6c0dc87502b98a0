// tests/import/impm_test.cpp: the metadata import: dsid, dssi and dspm rows and the two factors of
// cells built in code (records before the metadata, a missing DP or DSSI, bad factors, names with
// quotes), the refusal of a cell that is already there, and every real base cell against GDAL.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "import/impm.h"
#include "metavec_fixture.h"
#include "platform/ui/ui.h"
#include "s57/s57_util2.h"
#include "support/test_data.h"

namespace {

using metavec::CapturedLog;
using metavec::CellBuilder;
using metavec::Gdb;
using metavec::LoadedCell;

struct MetaRun {
    int32_t rc = 0;
    int32_t comf = -7;
    int32_t somf = -7;
    char cellName[kCellNameSize] = {};
    std::string log;
};

MetaRun runMeta(Gdb& gdb, const std::string& path, const char* cellName, int* loadRc = nullptr) {
    MetaRun run;
    std::snprintf(run.cellName, sizeof run.cellName, "%s", cellName);
    LoadedCell cell(path);
    if (loadRc) {
        *loadRc = cell.rc;
        if (cell.rc != 0) return run;
    } else {
        EXPECT_EQ(cell.rc, 0) << path;
    }
    CapturedLog log;
    run.rc = importMeta(gdb.fws(), &cell.file, cell.list, &run.comf, &run.somf, run.cellName);
    run.log = log.text();
    return run;
}

// ---- Cells built in code ------------------------------------------------------------------------------

struct MetaCase {
    const char* name;
    std::function<void(CellBuilder&)> build;
    const char* fileName;
    long dsidRows, dssiRows, dspmRows;  // -1: the table was not made
    int32_t comf, somf;
    const char* cellName;               // after the import
    const char* dspmComf;               // column texts of the dspm row
    const char* dspmSomf;
    std::vector<std::string> logged;
};

std::ostream& operator<<(std::ostream& os, const MetaCase& c) { return os << c.name; }

const MetaCase kMetaCases[] = {
    {"Plain",
     [](CellBuilder& b) {
         b.ds(1, "AB500001.000");
         b.dp(2, "100", "10");
         b.vi2d(3, 10, 20);
     },
     "AB500001.000", 1, 1, 1, 100, 10, "AB500001.000", "100", "10", {}},
    {"NoSomfSubfield",
     [](CellBuilder& b) {
         b.dspmHasSomf = false;
         b.ds(1, "AB500001.000");
         b.dp(2, "100", "");
     },
     "AB500001.000", 1, 1, 1, 100, 1, "AB500001.000", "100", "", {}},
    {"EmptyComf",
     [](CellBuilder& b) {
         b.ds(1, "AB500001.000");
         b.dp(2, "", "10");
     },
     "AB500001.000", 1, 1, 1, 1, 10, "AB500001.000", "", "10", {}},
    {"ComfZero",
     [](CellBuilder& b) {
         b.ds(1, "AB500001.000");
         b.dp(2, "0", "10");
     },
     "AB500001.000", 1, 1, 1, 1, 10, "AB500001.000", "0", "10",
     {"importDSPM: COMF value 0 is not a positive factor, 1 used\n"}},
    {"SomfNegative",
     [](CellBuilder& b) {
         b.ds(1, "AB500001.000");
         b.dp(2, "100", "-10");
     },
     "AB500001.000", 1, 1, 1, 100, 1, "AB500001.000", "100", "-10",
     {"importDSPM: SOMF value -10 is not a positive factor, 1 used\n"}},
    {"NoDpRecord",
     [](CellBuilder& b) {
         b.ds(1, "AB500001.000");
         b.vi2d(2, 10, 20);
     },
     "AB500001.000", 1, 1, -1, 1, 1, "AB500001.000", nullptr, nullptr, {}},
    {"HistoryAndAccuracyBeforeMetadata",
     [](CellBuilder& b) {
         b.dh(7);
         b.da(8);
         b.vf(9);
         b.ds(1, "AB500001.000");
         b.dp(2, "1000", "100");
     },
     "AB500001.000", 1, 1, 1, 1000, 100, "AB500001.000", "1000", "100", {}},
    {"NoDssiField",
     [](CellBuilder& b) {
         b.ds(1, "AB500001.000", false);
         b.dp(2, "100", "10");
     },
     "AB500001.000", 1, -1, 1, 100, 10, "AB500001.000", "100", "10",
     {"importDSSI unable to locate DSSI field\n", "importMeta: unable to import DSSI\n"}},
    {"DsnmDiffersFromFileName",
     [](CellBuilder& b) {
         b.ds(1, "AB500002.000");
         b.dp(2, "100", "10");
     },
     "FILE0001.000", 1, 1, 1, 100, 10, "AB500002.000", "100", "10", {}},
    {"EmptyDsnmKeepsFileName",
     [](CellBuilder& b) {
         b.ds(1, "");
         b.dp(2, "100", "10");
     },
     "FILE0001.000", 1, 1, 1, 100, 10, "FILE0001.000", "100", "10", {}},
    {"QuoteInDsnm",
     [](CellBuilder& b) {
         b.ds(1, "O'HARA01.000");
         b.dp(2, "100", "10");
     },
     "O'HARA01.000", 1, 1, 1, 100, 10, "O'HARA01.000", "100", "10", {}},
    {"DpWithoutDs",
     [](CellBuilder& b) { b.dp(2, "100", "10"); },
     "FILE0001.000", -1, -1, 1, 100, 10, "FILE0001.000", "100", "10", {}},
};

class MetadataCells : public ::testing::TestWithParam<MetaCase> {
protected:
    void SetUp() override { metavec::prepareRun(); }
};

TEST_P(MetadataCells, WriteTheirRowsAndFactors) {
    const MetaCase& c = GetParam();
    Gdb gdb;
    CellBuilder b;
    c.build(b);
    const MetaRun run = runMeta(gdb, b.write(gdb.dir(), c.fileName), c.fileName);
    EXPECT_EQ(run.rc, 0) << run.log;
    EXPECT_EQ(run.comf, c.comf);
    EXPECT_EQ(run.somf, c.somf);
    EXPECT_STREQ(run.cellName, c.cellName);
    EXPECT_EQ(gdb.count("dsid"), c.dsidRows);
    EXPECT_EQ(gdb.count("dssi"), c.dssiRows);
    EXPECT_EQ(gdb.count("dspm"), c.dspmRows);
    for (const std::string& line : c.logged) EXPECT_NE(run.log.find(line), std::string::npos) << line << run.log;
    EXPECT_EQ(run.log.find("Error: "), std::string::npos) << run.log;
    // Every table of the cell carries the name the cell goes by.
    for (const char* table : {"dsid", "dssi", "dspm"})
        for (const auto& row : gdb.rows(table)) EXPECT_EQ(row.text("DSNM"), c.cellName) << table;
    if (c.dspmRows == 1) {
        const auto rows = gdb.rows("dspm");
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].text("COMF"), c.dspmComf);
        EXPECT_EQ(rows[0].text("SOMF"), c.dspmSomf);
    }
}

INSTANTIATE_TEST_SUITE_P(Cells, MetadataCells, ::testing::ValuesIn(kMetaCases),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(MetadataColumns, EverySubfieldLandsInItsColumnAsText) {
    metavec::prepareRun();
    Gdb gdb;
    CellBuilder b;
    b.ds(1, "AB500001.000", true, 11, 22, 33);
    b.dp(2, "10000000", "10");
    const MetaRun run = runMeta(gdb, b.write(gdb.dir(), "AB500001.000"), "AB500001.000");
    ASSERT_EQ(run.rc, 0) << run.log;

    const auto dsid = gdb.rows("dsid");
    ASSERT_EQ(dsid.size(), 1u);
    const std::map<std::string, std::string> wantDsid = {
        {"RCNM", "DS"},     {"RCID", "0000000001"}, {"EXPP", "N"},    {"INTU", "1"},
        {"DSNM", "AB500001.000"}, {"EDTN", "1"},    {"UPDN", "0"},    {"UADT", "20240101"},
        {"ISDT", "20240102"}, {"STED", "03.1"},     {"PRSP", "ENC"},  {"PSDN", ""},
        {"PRED", "2.0"},    {"PROF", "EN"},         {"AGEN", "US"},   {"COMT", "fixture"}};
    for (const auto& [column, value] : wantDsid) EXPECT_EQ(dsid[0].text(column), value) << column;

    const auto dssi = gdb.rows("dssi");
    ASSERT_EQ(dssi.size(), 1u);
    const std::map<std::string, std::string> wantDssi = {
        {"DSTR", "CN"}, {"AALL", "1"},  {"NALL", "1"},  {"NOMR", "0"},  {"NOCR", "0"},  {"NOGR", "0"},
        {"NOLR", "0"},  {"NOIN", "11"}, {"NOCN", "22"}, {"NOED", "33"}, {"NOFA", "0"}, {"DSNM", "AB500001.000"}};
    for (const auto& [column, value] : wantDssi) EXPECT_EQ(dssi[0].text(column), value) << column;

    const auto dspm = gdb.rows("dspm");
    ASSERT_EQ(dspm.size(), 1u);
    const std::map<std::string, std::string> wantDspm = {
        {"RCNM", "DP"}, {"RCID", "0000000002"}, {"HDAT", "2"},  {"VDAT", "17"},        {"SDAT", "23"},
        {"CSCL", "25000"}, {"DUNI", "1"},       {"HUNI", "1"},  {"PUNI", "1"},         {"COUN", "LL"},
        {"COMF", "10000000"}, {"SOMF", "10"},   {"COMT", "dspm comment"}, {"DSNM", "AB500001.000"}};
    for (const auto& [column, value] : wantDspm) EXPECT_EQ(dspm[0].text(column), value) << column;
}

// Producers write DSID comments longer than 70 characters; the column holds them whole.
TEST(MetadataColumns, ALongCommentIsKeptWhole) {
    metavec::prepareRun();
    Gdb gdb;
    CellBuilder b;
    std::string comment;
    while (comment.size() < 300) comment += "Produced from surveys of 1998 to 2003, see the notice " + std::to_string(comment.size()) + ". ";
    b.ds(1, "AB500001.000", true, 0, 0, 0, comment);
    const MetaRun run = runMeta(gdb, b.write(gdb.dir(), "AB500001.000"), "AB500001.000");
    ASSERT_EQ(run.rc, 0) << run.log;
    EXPECT_EQ(run.log.find("cut to"), std::string::npos) << run.log;
    const auto dsid = gdb.rows("dsid");
    ASSERT_EQ(dsid.size(), 1u);
    EXPECT_EQ(dsid[0].text("COMT"), comment);
}

TEST(MetadataColumns, DsnmLongerThanTheNameBufferIsCut) {
    metavec::prepareRun();
    Gdb gdb;
    CellBuilder b;
    b.ds(1, "ABCDEFGHIJKLMNOPQRSTUVWXYZ.000", false);
    const MetaRun run = runMeta(gdb, b.write(gdb.dir(), "FILE0001.000"), "FILE0001.000");
    EXPECT_EQ(run.rc, 0) << run.log;
    EXPECT_STREQ(run.cellName, "ABCDEFGHIJKLMNOPQRSTUVW");
    EXPECT_NE(run.log.find("importDSID: DSNM ABCDEFGHIJKLMNOPQRSTUVWXYZ.000 cut to 23 characters\n"),
              std::string::npos)
        << run.log;
    const auto dsid = gdb.rows("dsid");
    ASSERT_EQ(dsid.size(), 1u);
    EXPECT_EQ(dsid[0].text("DSNM"), "ABCDEFGHIJKLMNOPQRSTUVW");
}

// ---- A cell imported twice -------------------------------------------------------------------------------

struct DuplicateCase {
    const char* name;
    const char* first;
    const char* second;
    bool refused;
};

std::ostream& operator<<(std::ostream& os, const DuplicateCase& c) { return os << c.name; }

const DuplicateCase kDuplicates[] = {
    {"SameCell", "AB500001.000", "AB500001.000", true},
    {"QuoteInName", "O'HARA01.000", "O'HARA01.000", true},
    {"CaseIgnored", "AB500001.000", "ab500001.000", true},
    // A quote that ended the literal early would match every row and refuse any cell.
    {"InjectionIsJustAName", "AB500001.000", "X' OR '1'='1", false},
    {"OtherCell", "AB500001.000", "AB500002.000", false},
};

class ImportedTwice : public ::testing::TestWithParam<DuplicateCase> {
protected:
    void SetUp() override { metavec::prepareRun(); }
};

TEST_P(ImportedTwice, IsRefusedWithMessage131AndChangesNothing) {
    const DuplicateCase& c = GetParam();
    Gdb gdb;
    CellBuilder first;
    first.ds(1, c.first);
    first.dp(2, "100", "10");
    ASSERT_EQ(runMeta(gdb, first.write(gdb.dir(), "first.000"), "first.000").rc, 0);
    ui::scripted::reset();

    CellBuilder second;
    second.ds(1, c.second);
    second.dp(2, "100", "10");
    const MetaRun run = runMeta(gdb, second.write(gdb.dir(), "second.000"), "second.000");
    const long rows = c.refused ? 1 : 2;
    EXPECT_EQ(gdb.count("dsid"), rows);
    EXPECT_EQ(gdb.count("dssi"), rows);
    EXPECT_EQ(gdb.count("dspm"), rows);
    const auto& events = ui::scripted::events();
    if (!c.refused) {
        EXPECT_EQ(run.rc, 0) << run.log;
        EXPECT_TRUE(events.empty()) << ui::scripted::transcript();
        return;
    }
    EXPECT_EQ(run.rc, int32_t(E_FAIL));
    ASSERT_EQ(events.size(), 1u) << ui::scripted::transcript();
    EXPECT_EQ(events[0].kind, ui::Event::Kind::Message);
    EXPECT_EQ(events[0].caption, "S-57 to Geodatabase");
    EXPECT_EQ(events[0].text, std::string("Cell information already existed in dsnm table  ") + c.second);
    EXPECT_EQ(run.log, std::string("Cell information already existed in dsnm table   ") + c.second);
}

INSTANTIATE_TEST_SUITE_P(Cells, ImportedTwice, ::testing::ValuesIn(kDuplicates),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(ImportDSNM, CountsOnlyRowsOfThatName) {
    metavec::prepareRun();
    Gdb gdb;
    CellBuilder b;
    b.ds(1, "AB500001.000");
    ASSERT_EQ(runMeta(gdb, b.write(gdb.dir(), "a.000"), "a.000").rc, 0);
    ITablePtr dsid = gdb.fws()->OpenTable("dsid");
    ui::scripted::reset();
    CapturedLog log;
    EXPECT_FALSE(importDSNM(dsid, "DSID", "AB500001"));
    EXPECT_FALSE(importDSNM(dsid, "DSID", "%"));
    EXPECT_FALSE(importDSNM(nullptr, "DSID", "AB500001.000"));
    EXPECT_TRUE(ui::scripted::events().empty());
    EXPECT_TRUE(importDSNM(dsid, "ignored", "AB500001.000"));
    EXPECT_EQ(ui::scripted::events().size(), 1u);
}

// ---- Real cells ----------------------------------------------------------------------------------------

// GDAL's DSID layer of a cell: column name -> text.
std::map<std::string, std::string> gdalDsid(const std::string& cell) {
    std::map<std::string, std::string> out;
    const std::string command =
        "ogr2ogr -q -f CSV /vsistdout/ -oo UPDATES=IGNORE '" + cell + "' DSID 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return out;
    std::string text;
    char buf[8192];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0;) text.append(buf, n);
    std::istringstream lines(text);
    std::string header, values;
    if (!std::getline(lines, header) || !std::getline(lines, values)) return out;
    auto split = [](const std::string& line) {
        std::vector<std::string> f;
        std::string cur;
        bool quoted = false;
        for (char ch : line) {
            if (ch == '"') quoted = !quoted;
            else if (ch == ',' && !quoted) {
                f.push_back(cur);
                cur.clear();
            } else cur += ch;
        }
        f.push_back(cur);
        return f;
    };
    const auto names = split(header);
    const auto texts = split(values);
    for (std::size_t i = 0; i < names.size() && i < texts.size(); ++i) out[names[i]] = texts[i];
    return out;
}

std::vector<std::string> realCells() {
    std::vector<std::string> out;
    for (const auto& f : testdata::files({".000"}))
        if (f.find("/negative/") == std::string::npos) out.push_back(f);
    return out;
}

TEST(MetadataOfRealCells, EqualWhatGdalReads) {
    SKIP_WITHOUT_DATA();
    metavec::prepareRun();
    // The codec gives enumerations as their letters, GDAL as their numbers.
    const std::map<std::string, std::map<std::string, std::string>> letters = {
        {"EXPP", {{"1", "N"}, {"2", "R"}}},
        {"PRSP", {{"1", "ENC"}, {"2", "ODD"}}},
        {"PROF", {{"1", "EN"}, {"2", "ER"}, {"3", "DD"}}},
        {"DSTR", {{"1", "CS"}, {"2", "CN"}, {"3", "PG"}, {"4", "FT"}, {"255", "NO"}}},
        {"COUN", {{"1", "LL"}, {"2", "EN"}, {"3", "UC"}}},
    };
    const std::vector<std::string> cells = realCells();
    ASSERT_FALSE(cells.empty());
    std::string unreadable;
    int compared = 0;
    for (const std::string& path : cells) {
        SCOPED_TRACE(path);
        const auto gdal = gdalDsid(path);
        if (gdal.empty()) GTEST_SKIP() << "ogr2ogr did not read " << path;
        Gdb gdb;
        const std::string fileName = path.substr(path.find_last_of('/') + 1);
        int loadRc = 0;
        const MetaRun run = runMeta(gdb, path, fileName.c_str(), &loadRc);
        if (loadRc != 0) {
            // The record layer refuses some cells as a whole; the vector tests name them too.
            unreadable += " " + fileName + "(" + std::to_string(loadRc) + ")";
            continue;
        }
        ++compared;
        ASSERT_EQ(run.rc, 0) << run.log;
        EXPECT_STREQ(run.cellName, gdal.at("DSID_DSNM").c_str());
        EXPECT_EQ(std::to_string(run.comf), gdal.at("DSPM_COMF"));
        EXPECT_EQ(std::to_string(run.somf), gdal.at("DSPM_SOMF"));
        const auto dsid = gdb.rows("dsid");
        const auto dssi = gdb.rows("dssi");
        const auto dspm = gdb.rows("dspm");
        ASSERT_EQ(dsid.size(), 1u);
        ASSERT_EQ(dssi.size(), 1u);
        ASSERT_EQ(dspm.size(), 1u);
        for (const auto& [gdalName, value] : gdal) {
            const std::string table = gdalName.substr(0, 4);
            const std::string column = gdalName.substr(5);
            if (column == "AGEN") continue;  // a label for us, a number for GDAL
            const metavec::Row& row = table == "DSID" ? dsid[0] : table == "DSSI" ? dssi[0] : dspm[0];
            std::string want = value;
            if (const auto it = letters.find(column); it != letters.end() && it->second.count(value))
                want = it->second.at(value);
            if (column == "STED") {
                EXPECT_DOUBLE_EQ(std::strtod(row.text(column).c_str(), nullptr), std::strtod(want.c_str(), nullptr));
                continue;
            }
            // Comments longer than 70 characters are kept whole.
            if (column == "COMT") {
                EXPECT_EQ(run.log.find("COMT value"), std::string::npos) << run.log;
            }
            EXPECT_EQ(row.text(column), want) << gdalName;
        }
    }
    if (!unreadable.empty()) std::printf("cells the record list refuses:%s\n", unreadable.c_str());
    EXPECT_GE(compared, 2);
}

}  // namespace
