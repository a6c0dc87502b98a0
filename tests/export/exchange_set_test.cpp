// tests/export/exchange_set_test.cpp: an S-58 exchange set (CATALOG.031, README.TXT and its cell)
// imported, exported as a set (the driver's catalogue mode, as `tarvo export --exchange-set`), and
// imported again into a new geodatabase: the written CATALOG.031 lists every file of the set in
// catd's order, each file is there, and the second import holds the same rows in every table as the
// first one, the numbers the import counts itself aside.
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "export/expcat.h"
#include "export_support.h"
#include "support/test_data.h"

namespace fs = std::filesystem;
using namespace e2e;
using namespace exporttest;

namespace {

std::string upper(std::string s) {
    for (auto& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Columns whose values the import numbers itself (object ids, its record counters, the srel
// counter that rises across runs), that name where the set was read from (catd CATL), or that the
// export computes from the files it writes (catd CRCS, checked against the files).
bool ownNumber(const std::string& table, const std::string& column) {
    const std::string c = upper(column);
    return c == "OBJECTID" || c == "ID" || c == "METAID" || (upper(table) == "CATD" && (c == "CATL" || c == "CRCS"));
}

// FILE -> CRCS of a CATALOG file's records.
std::map<std::string, std::string> crcsOf(const std::string& catalogue) {
    std::map<std::string, std::string> out;
    for (const Record& r : readRecords(catalogue))
        if (const Field* catd = r.field("CATD")) {
            const auto files = catd->values("FILE"), crcs = catd->values("CRCS");
            if (files.size() == 1 && crcs.size() == 1) out[files[0]] = crcs[0];
        }
    return out;
}

// Differences the export does not settle yet, each reported to the owner of the module named: the
// table and a text of the second import's row. A listed one that no longer occurs fails too.
struct Known {
    const char* table;
    const char* text;
};
const std::vector<Known> kKnown = {};

// Every row of the table as one text (the kept columns, the shape's bytes), sorted.
std::vector<std::string> rowsOf(const std::string& gpkg, const std::string& table) {
    std::string select;
    for (const auto& c : columns(gpkg, table)) {
        if (ownNumber(table, c)) continue;
        select += (select.empty() ? "" : " || '|' || ") + std::string("quote(\"") + c + "\")";
    }
    std::vector<std::string> out;
    if (select.empty()) return out;
    for (const auto& r : query(gpkg, "SELECT " + select + " FROM \"" + table + "\"")) out.push_back(r[0].value_or(""));
    std::sort(out.begin(), out.end());
    return out;
}

TEST(ExchangeSet, ExportedSetListsItsFilesAndImportsToTheSameRows) {
    if (!testdata::present()) GTEST_SKIP() << "test data folder " << testdata::root() << " is absent";
    Scratch dir;
    const std::string input = linkExchangeSet(testdata::path("s58/AA400002/ENC_ROOT"), dir.file("in"));
    const std::string first = dir.file("first.gpkg");
    copyTemplate(first);
    const DriverRun imported = runDriver(input, first);
    ASSERT_EQ(imported.messages().size(), 1u) << imported.messages()[0];

    const std::string catl = dir.file("in");
    fs::create_directories(dir.file("out"));
    const DriverRun exported = runExport(dir.file("out/CATALOG.031"), first, "", catl);
    ASSERT_EQ(exported.messages().size(), 1u) << exported.messages()[0] << "\n" << exported.log;

    // The catalogue: one CATD record per catd row, in catd's order, and each file written or copied.
    std::vector<std::string> listed;
    for (const Record& r : readRecords(dir.file("out/CATALOG.031")))
        if (const Field* catd = r.field("CATD"))
            for (const auto& f : catd->values("FILE")) listed.push_back(f);
    std::vector<std::string> rows;
    for (const auto& r : query(first, "SELECT CFIL FROM catd ORDER BY OBJECTID")) rows.push_back(r[0].value_or(""));
    EXPECT_EQ(listed, rows);
    for (const auto& f : listed) EXPECT_TRUE(fs::exists(dir.file("out/" + f))) << f << " not written";
    EXPECT_TRUE(fileBytes(dir.file("out/README.TXT")) == fileBytes(testdata::path("s58/AA400002/ENC_ROOT/README.TXT")));

    // CRCS: the set's own values are the CRC the export computes of its files; the cell it wrote
    // has the CRC of the written file, a copied file keeps the stored one.
    const auto source = crcsOf(testdata::path("s58/AA400002/ENC_ROOT/CATALOG.031"));
    const auto written = crcsOf(dir.file("out/CATALOG.031"));
    ASSERT_EQ(source.at("AA400002.000").size(), 8u);
    EXPECT_EQ(fileCrc(testdata::path("s58/AA400002/ENC_ROOT/AA400002.000").c_str()), source.at("AA400002.000"));
    EXPECT_NE(written.at("AA400002.000"), source.at("AA400002.000"));
    EXPECT_EQ(written.at("AA400002.000"), fileCrc(dir.file("out/AA400002.000").c_str()));
    EXPECT_EQ(written.at("README.TXT"), source.at("README.TXT"));
    EXPECT_EQ(written.at("CATALOG.031"), source.at("CATALOG.031"));

    // The set read back: the same rows in every table.
    const std::string second = dir.file("second.gpkg");
    copyTemplate(second);
    const DriverRun again = runDriver(dir.file("out/CATALOG.031"), second);
    ASSERT_EQ(again.messages().size(), 1u) << again.messages()[0];
    std::vector<Known> seen(kKnown);
    const auto a = tables(first), b = tables(second);
    EXPECT_EQ(std::set<std::string>(a.begin(), a.end()), std::set<std::string>(b.begin(), b.end()));
    for (const auto& t : a) {
        const auto x = rowsOf(first, t), y = rowsOf(second, t);
        EXPECT_EQ(x.size(), y.size()) << t;
        if (x.size() != y.size()) continue;
        std::size_t differ = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (x[i] == y[i]) continue;
            bool known = false;
            for (Known& k : seen)
                if (t == k.table && y[i].find(k.text) != std::string::npos) known = true, k.table = "";
            if (known) continue;
            if (differ++ < 3) ADD_FAILURE() << t << ": " << x[i].substr(0, 300) << "\n vs " << y[i].substr(0, 300);
        }
        EXPECT_EQ(differ, 0u) << t;
    }
    for (const Known& k : seen) EXPECT_STREQ(k.table, "") << "known difference no longer seen: " << k.text;
}

}  // namespace
