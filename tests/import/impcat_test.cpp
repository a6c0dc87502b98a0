// tests/import/impcat_test.cpp: the CATALOG reader over every S-58 exchange set (checked against
// the ISO 8211 library's own walk) and over CATALOG files built in code; the overlap check of base
// cells; the rows importCATD writes into table catd.
#include "import/impcat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "import/catalog_support.h"
#include "s57/dbutil.h"
#include "support/test_data.h"

using namespace cattest;

namespace {

// The loader's lists, freed at the end of a test.
struct Loaded {
    Iso8211File file{};
    CatalogEntryList entries{0, nullptr};
    CatalogXrefList xrefs{0, nullptr};
    int32_t load(const std::string& path) { return loadCatalogRecList(&file, path.c_str(), &entries, &xrefs); }
    ~Loaded() {
        freeCatalogRecList(&entries, &xrefs);
        (void)Close8211File(&file);
    }
};

std::string setName(const std::string& catalogPath) {
    // .../AA400012/ENC_ROOT/CATALOG.031 -> AA400012
    return std::filesystem::path(catalogPath).parent_path().parent_path().filename().string();
}

double number(const std::string& text) { return text.empty() ? 0.0 : std::stod(text); }

}  // namespace

// ---- Real exchange sets --------------------------------------------------------------------------

TEST(ImpcatRealData, EveryCatalogueLoadsAsTheLibraryWalksIt) {
    SKIP_WITHOUT_DATA();
    const auto catalogues = testdata::files({"CATALOG.031"});
    ASSERT_GE(catalogues.size(), 20u);
    for (const std::string& path : catalogues) {
        if (setName(path) == "AA500013") continue;
        SCOPED_TRACE(path);
        std::vector<RawRecord> raw;
        ASSERT_TRUE(walkRecords(path, raw));

        CapturedLog log;
        Loaded l;
        ASSERT_EQ(l.load(path), 0) << log.text();
        EXPECT_NE(l.file.fp, nullptr) << "the file stays open for the caller";
        ASSERT_EQ(l.entries.count, int32_t(raw.size()));
        for (std::size_t i = 0; i < raw.size(); ++i) {
            auto v = fieldValues(raw[i], "CATD");
            const CatalogEntry& e = l.entries.entries[i];
            EXPECT_STREQ(e.rcnm, v["RCNM"].c_str());
            EXPECT_STREQ(e.rcid, v["RCID"].c_str());
            EXPECT_STREQ(e.file, v["FILE"].c_str());
            EXPECT_STREQ(e.lfil, v["LFIL"].c_str());
            EXPECT_STREQ(e.volm, v["VOLM"].c_str());
            EXPECT_STREQ(e.impl, v["IMPL"].c_str());
            EXPECT_DOUBLE_EQ(e.slat, number(v["SLAT"]));
            EXPECT_DOUBLE_EQ(e.wlon, number(v["WLON"]));
            EXPECT_DOUBLE_EQ(e.nlat, number(v["NLAT"]));
            EXPECT_DOUBLE_EQ(e.elon, number(v["ELON"]));
            EXPECT_STREQ(e.crcs, v["CRCS"].c_str());
            EXPECT_STREQ(e.comt, v["COMT"].c_str());
        }
        EXPECT_EQ(l.xrefs.count, 0);
    }
}

TEST(ImpcatRealData, EveryCatalogueImportsOneRowPerEntry) {
    SKIP_WITHOUT_DATA();
    for (const std::string& path : testdata::files({"CATALOG.031"})) {
        if (setName(path) == "AA500013") continue;
        SCOPED_TRACE(path);
        TempDir dir;
        IWorkspacePtr ws = createGdb(dir);
        IFeatureWorkspacePtr fws(ws);
        CapturedLog log;
        Loaded l;
        ASSERT_EQ(l.load(path), 0);
        const std::string directory = std::filesystem::path(path).parent_path().string();
        ASSERT_EQ(importCATD(fws, l.entries.count, l.entries.entries, directory.c_str()), 0) << log.text();

        const auto rows = tableRows(fws, "catd");
        ASSERT_EQ(rows.size(), std::size_t(l.entries.count));
        for (int32_t i = 0; i < l.entries.count; ++i) {
            const auto& row = rows[std::size_t(i)];
            const CatalogEntry& e = l.entries.entries[i];
            EXPECT_EQ(row.at("RCNM"), e.rcnm);
            EXPECT_EQ(row.at("RCID"), e.rcid);
            EXPECT_EQ(row.at("CFIL"), e.file);
            EXPECT_EQ(row.at("LFIL"), e.lfil);
            EXPECT_EQ(row.at("VOLM"), e.volm);
            EXPECT_EQ(row.at("IMPL"), e.impl);
            EXPECT_DOUBLE_EQ(number(row.at("SLAT")), e.slat);
            EXPECT_DOUBLE_EQ(number(row.at("WLON")), e.wlon);
            EXPECT_DOUBLE_EQ(number(row.at("NLAT")), e.nlat);
            EXPECT_DOUBLE_EQ(number(row.at("ELON")), e.elon);
            EXPECT_EQ(row.at("CRCS"), e.crcs);
            EXPECT_EQ(row.at("COMT"), e.comt);
            EXPECT_EQ(row.at("CATL"), directory);
        }
    }
}

TEST(ImpcatRealData, BrokenCatalogueFailsNamingTheRecord) {
    SKIP_WITHOUT_DATA();
    const std::string path = testdata::path("s58/AA500013/ENC_ROOT/CATALOG.031");
    CapturedLog log;
    Loaded l;
    const int32_t rc = l.load(path);
    EXPECT_EQ(rc, -8);
    const std::string text = log.text();
    EXPECT_NE(text.find("Read8211File: Error reading data record 3\n"), std::string::npos) << text;
    EXPECT_NE(text.find("loadCatalogRecList: unable to read catalogue file " + path + " (-8)\n"), std::string::npos)
        << text;
    EXPECT_EQ(l.entries.count, 0);
    EXPECT_EQ(l.entries.entries, nullptr);
    EXPECT_EQ(l.file.fp, nullptr);
}

// ---- CATALOG files built in code ---------------------------------------------------------------

namespace {

struct LoadCase {
    const char* name;
    std::function<std::string()> bytes;
    int32_t result;
    std::string log;  // a line the log must hold ("" none)
    std::function<void(const Loaded&)> check;
};

Catd cd(const std::string& rcid, const std::string& file) {
    Catd c;
    c.rcid = rcid;
    c.file = file;
    return c;
}

const LoadCase kLoadCases[] = {
    {"SubfoldersKeepBackslashes",
     [] {
         Catd cell = cd("0000000002", "CELL1\\CELL1.000");
         cell.slat = "52.5";
         cell.wlon = "-4.25";
         cell.nlat = "53";
         cell.elon = "-3";
         cell.crcs = "1A2B3C4D";
         cell.comt = "first cell";
         return catalogueOf({cd("0000000001", "CATALOG.031"), cell, cd("0000000003", "CELL1\\README.TXT")});
     },
     0, "",
     [](const Loaded& l) {
         ASSERT_EQ(l.entries.count, 3);
         EXPECT_STREQ(l.entries.entries[1].file, "CELL1\\CELL1.000");
         EXPECT_STREQ(l.entries.entries[2].file, "CELL1\\README.TXT");
         EXPECT_DOUBLE_EQ(l.entries.entries[1].slat, 52.5);
         EXPECT_DOUBLE_EQ(l.entries.entries[1].wlon, -4.25);
         EXPECT_DOUBLE_EQ(l.entries.entries[1].nlat, 53);
         EXPECT_DOUBLE_EQ(l.entries.entries[1].elon, -3);
         EXPECT_STREQ(l.entries.entries[1].crcs, "1A2B3C4D");
         EXPECT_STREQ(l.entries.entries[1].comt, "first cell");
         EXPECT_STREQ(l.entries.entries[1].rcid, "0000000002");
         EXPECT_DOUBLE_EQ(l.entries.entries[0].slat, 0);
     }},
    {"FieldWithoutSlat",
     [] {
         Catd c = cd("0000000001", "CELL1.000");
         c.withSlat = false;
         c.wlon = "1";
         c.nlat = "2";
         c.elon = "3";
         return catalogueDdr("RCNM!RCID!FILE!LFIL!VOLM!IMPL!WLON!NLAT!ELON!CRCS!COMT", "(A(2),I(10),3A,A(3),3R,2A)") +
                record(false, {{"0001", id0001(1)}, {"CATD", catdBody(c)}});
     },
     0, "",
     [](const Loaded& l) {
         ASSERT_EQ(l.entries.count, 1);
         EXPECT_EQ(l.entries.entries[0].slat, 0);
         EXPECT_EQ(l.entries.entries[0].nlat, 2);
     }},
    {"CrossReferences",
     [] {
         return catalogueOf({cd("0000000001", "CELL1.000")}) +
                record(false, {{"0001", id0001(2)}, {"CATX", catxBody("CR", "0000000002", "CELL1.000", "CELL2.000", "x")}});
     },
     0, "",
     [](const Loaded& l) {
         ASSERT_EQ(l.entries.count, 1);
         ASSERT_EQ(l.xrefs.count, 1);
         EXPECT_STREQ(l.xrefs.entries[0].rcnm, "CR");
         EXPECT_STREQ(l.xrefs.entries[0].nam1, "CELL1.000");
         EXPECT_STREQ(l.xrefs.entries[0].nam2, "CELL2.000");
         EXPECT_STREQ(l.xrefs.entries[0].comt, "x");
     }},
    {"CdRecordWithoutCatd",
     [] {
         return catalogueOf({cd("0000000001", "CELL1.000")}) +
                record(false, {{"0001", id0001(2)}, {"CATX", catxBody("CD", "0000000002", "A", "B", "")}});
     },
     -17, "loadCatalogRecList: Error reading object record 2, missing CATX or CATD field\n", nullptr},
    {"OnlyCrossReferences",
     [] {
         return catalogueDdr() +
                record(false, {{"0001", id0001(1)}, {"CATX", catxBody("CR", "0000000001", "A", "B", "")}});
     },
     -16, "loadCatalogRecList: no record exist in object file\n", nullptr},
    {"FileLongerThanItsMember",
     [] { return catalogueOf({cd("0000000001", std::string(256, 'F') + ".000")}); }, -10,
     "loadCatalogRecList: subfield FILE of record 1 is longer than 255 characters\n", nullptr},
    {"VolumeLongerThanItsMember",
     [] {
         Catd c = cd("0000000001", "CELL1.000");
         c.volm = std::string(64, 'V');
         return catalogueOf({c});
     },
     -10, "loadCatalogRecList: subfield VOLM of record 1 is longer than 63 characters\n", nullptr},
    {"FileThatFitsExactly", [] { return catalogueOf({cd("0000000001", std::string(251, 'F') + ".000")}); }, 0, "",
     [](const Loaded& l) { EXPECT_EQ(std::strlen(l.entries.entries[0].file), 255u); }},
    {"CoordinateThatIsNoNumber",
     [] {
         Catd c = cd("0000000001", "CELL1.000");
         c.nlat = "north";
         return catalogueOf({c});
     },
     -10, "loadCatalogRecList: subfield NLAT of record 1 is not a number: north\n", nullptr},
    {"CoordinateThatIsNotFinite",
     [] {
         Catd c = cd("0000000001", "CELL1.000");
         c.elon = "inf";
         return catalogueOf({c});
     },
     -10, "loadCatalogRecList: subfield ELON of record 1 is not a number: inf\n", nullptr},
    {"TruncatedFile",
     [] {
         const std::string whole = catalogueOf({cd("0000000001", "CELL1.000"), cd("0000000002", "CELL2.000")});
         return whole.substr(0, whole.size() - 7);
     },
     -8, "loadCatalogRecList: unable to read catalogue file ", nullptr},
};

void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }

class ImpcatLoad : public ::testing::TestWithParam<LoadCase> {};

}  // namespace

TEST_P(ImpcatLoad, ReadsOrRefuses) {
    const LoadCase& c = GetParam();
    TempDir dir;
    const auto path = dir.path / "CATALOG.031";
    writeFile(path, c.bytes());
    CapturedLog log;
    Loaded l;
    ASSERT_EQ(l.load(path.string()), c.result) << log.text();
    if (!c.log.empty()) {
        EXPECT_NE(log.text().find(c.log), std::string::npos) << log.text();
    }
    if (c.result != 0) {
        EXPECT_EQ(l.entries.count, 0);
        EXPECT_EQ(l.entries.entries, nullptr);
        EXPECT_EQ(l.xrefs.entries, nullptr);
        EXPECT_EQ(l.file.fp, nullptr) << "a failed load closes the file";
    }
    if (c.check) c.check(l);
}

INSTANTIATE_TEST_SUITE_P(Catalogues, ImpcatLoad, ::testing::ValuesIn(kLoadCases),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(ImpcatLoadArguments, NullArgumentsAndMissingFile) {
    CapturedLog log;
    Loaded l;
    EXPECT_EQ(loadCatalogRecList(nullptr, "x", &l.entries, &l.xrefs), -19);
    EXPECT_EQ(loadCatalogRecList(&l.file, nullptr, &l.entries, &l.xrefs), -19);
    EXPECT_EQ(loadCatalogRecList(&l.file, "x", nullptr, &l.xrefs), -19);
    TempDir dir;
    EXPECT_EQ(l.load((dir.path / "CATALOG.031").string()), -2);
    EXPECT_EQ(l.file.fp, nullptr);
}

// ---- The overlap check ---------------------------------------------------------------------------

namespace {

CatalogEntry entry(const char* file, double slat, double wlon, double nlat, double elon) {
    CatalogEntry e{};
    std::snprintf(e.file, sizeof e.file, "%s", file);
    e.slat = slat;
    e.wlon = wlon;
    e.nlat = nlat;
    e.elon = elon;
    return e;
}

struct ExtentCase {
    const char* name;
    std::vector<CatalogEntry> entries;
    int32_t result;
};

const ExtentCase kExtentCases[] = {
    {"SharedEdge", {entry("A.000", 50, 0, 51, 1), entry("B.000", 50, 1, 51, 2)}, 0},
    {"SharedCorner", {entry("A.000", 50, 0, 51, 1), entry("B.000", 51, 1, 52, 2)}, 0},
    {"TiledGrid",
     {entry("A.000", 50, 0, 51, 1), entry("B.000", 50, 1, 51, 2), entry("C.000", 51, 0, 52, 1),
      entry("D.000", 51, 1, 52, 2)},
     0},
    {"RealTilesSharingAnEdge",
     {entry("AA400012.000", -32.5833333, 60.9166667, -32.5000000, 61.0000000),
      entry("AA500013.000", -32.5833333, 61.0000000, -32.5000000, 61.1788444)},
     0},
    {"Overlap", {entry("A.000", 50, 0, 51, 1), entry("B.000", 50.5, 0.5, 51.5, 1.5)}, 8},
    {"Inside", {entry("A.000", 50, 0, 52, 2), entry("B.000", 50.5, 0.5, 51, 1)}, 8},
    {"ThinOverlap", {entry("A.000", 50, 0, 51, 1), entry("B.000", 50, 0.9999999, 51, 2)}, 8},
    {"OverlapAfterOthers",
     {entry("A.000", 50, 0, 51, 1), entry("README.TXT", 0, 0, 0, 0), entry("B.000", 50, 1, 51, 2),
      entry("C.000", 50.2, 1.2, 50.4, 1.4)},
     8},
    {"SameCellTwiceAnyCase", {entry("CELL1.000", 50, 0, 51, 1), entry("cell1.000", 50, 0, 51, 1)}, 0},
    {"UpdateOverBaseCell", {entry("A.000", 50, 0, 51, 1), entry("A.001", 50, 0, 51, 1)}, 0},
    {"TextFilesWithoutExtent", {entry("A.TXT", 0, 0, 0, 0), entry("B.TXT", 0, 0, 0, 0)}, 0},
    {"CellsWithoutExtent", {entry("A.000", 0, 0, 0, 0), entry("B.000", 0, 0, 0, 0), entry("C.000", -1, -1, 1, 1)}, 0},
    {"NameWithoutDot", {entry("A000", 50, 0, 51, 1), entry("B000", 50, 0, 51, 1)}, 0},
    {"SwappedBounds", {entry("A.000", 51, 1, 50, 0), entry("B.000", 50.5, 0.5, 50.6, 0.6)}, 8},
    {"Empty", {}, 0},
};

void PrintTo(const ExtentCase& c, std::ostream* os) { *os << c.name; }

class ImpcatExtent : public ::testing::TestWithParam<ExtentCase> {};

}  // namespace

TEST_P(ImpcatExtent, OnlyACommonAreaIsAnOverlap) {
    const ExtentCase& c = GetParam();
    EXPECT_EQ(checkCATDExtent(int32_t(c.entries.size()), c.entries.data()), c.result);
}

INSTANTIATE_TEST_SUITE_P(Extents, ImpcatExtent, ::testing::ValuesIn(kExtentCases),
                         [](const auto& i) { return std::string(i.param.name); });

// ---- Table catd ----------------------------------------------------------------------------------

namespace {

class ImpcatTable : public ::testing::Test {
protected:
    void SetUp() override {
        ws_ = createGdb(dir_);
        fws_ = ws_;
        ASSERT_TRUE(fws_);
    }
    TempDir dir_;
    IWorkspacePtr ws_;
    IFeatureWorkspacePtr fws_;
    CapturedLog log_;
};

bool hasTable(IFeatureWorkspace* ws, const char* name) {
    ITable* raw = nullptr;
    const HRESULT hr = ws->raw_OpenTable(_bstr_t(name).GetBSTR(), &raw);
    if (raw) raw->Release();
    return SUCCEEDED(hr);
}

}  // namespace

TEST_F(ImpcatTable, EveryEntryBecomesARowAndTheSameSetAgainAddsNone) {
    CatalogEntry entries[] = {entry("CATALOG.031", 0, 0, 0, 0), entry("CELL1\\CELL1.000", 50, 0, 51, 1),
                              entry("CELL1\\CELL1.001", 50, 0, 51, 1), entry("README.TXT", 0, 0, 0, 0)};
    std::snprintf(entries[1].rcid, sizeof entries[1].rcid, "0000000002");
    std::snprintf(entries[1].rcnm, sizeof entries[1].rcnm, "CD");
    std::snprintf(entries[1].impl, sizeof entries[1].impl, "BIN");
    std::snprintf(entries[1].comt, sizeof entries[1].comt, "O'Brien's cell");
    const char* directory = "/charts/set 1";
    ASSERT_EQ(importCATD(fws_, 4, entries, directory), 0) << log_.text();

    auto rows = tableRows(fws_, "catd");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[1].at("CFIL"), "CELL1\\CELL1.000");
    EXPECT_EQ(rows[1].at("RCID"), "0000000002");
    EXPECT_EQ(rows[1].at("RCNM"), "CD");
    EXPECT_EQ(rows[1].at("IMPL"), "BIN");
    EXPECT_EQ(rows[1].at("COMT"), "O'Brien's cell");
    EXPECT_DOUBLE_EQ(number(rows[1].at("NLAT")), 51);
    EXPECT_EQ(rows[3].at("CFIL"), "README.TXT");
    for (const auto& row : rows) EXPECT_EQ(row.at("CATL"), directory);

    // The same set again: its cells are refused as duplicates, and catd stays as it was.
    ASSERT_EQ(importCATD(fws_, 4, entries, directory), 0);
    EXPECT_EQ(tableRows(fws_, "catd"), rows);
    // The same set from another directory, and a set that differs, are added.
    ASSERT_EQ(importCATD(fws_, 4, entries, "/charts/set 2"), 0);
    entries[3].slat = 1;
    ASSERT_EQ(importCATD(fws_, 4, entries, directory), 0);
    EXPECT_EQ(tableRows(fws_, "catd").size(), 12u);
}

TEST_F(ImpcatTable, OverlappingCellsWriteNothing) {
    const CatalogEntry entries[] = {entry("A.000", 50, 0, 51, 1), entry("B.000", 50.5, 0.5, 51.5, 1.5)};
    EXPECT_EQ(importCATD(fws_, 2, entries, "/charts"), 8);
    EXPECT_FALSE(hasTable(fws_, "catd"));
}

TEST_F(ImpcatTable, TouchingTilesAreImported) {
    const CatalogEntry entries[] = {entry("A.000", 50, 0, 51, 1), entry("B.000", 50, 1, 51, 2),
                                    entry("C.000", 51, 0, 52, 1)};
    ASSERT_EQ(importCATD(fws_, 3, entries, "/charts"), 0) << log_.text();
    EXPECT_EQ(tableRows(fws_, "catd").size(), 3u);
}

TEST_F(ImpcatTable, ATableWithoutAColumnIsRefused) {
    ITable* raw = nullptr;
    ASSERT_EQ(createGDBTable(fws_, "catd", &raw, 11, catdFieldDefs), S_OK);  // up to CRCS
    raw->Release();
    const CatalogEntry entries[] = {entry("A.000", 50, 0, 51, 1)};
    EXPECT_EQ(importCATD(fws_, 1, entries, "/charts"), E_FAIL);
    EXPECT_NE(log_.text().find("importCATD: table catd has no column COMT\n"), std::string::npos) << log_.text();
    EXPECT_TRUE(tableRows(fws_, "catd").empty());
}

TEST_F(ImpcatTable, AValueLongerThanItsColumnFailsAndKeepsEarlierRows) {
    const CatalogEntry entries[] = {entry("A.000", 50, 0, 51, 1), entry((std::string(80, 'X') + ".TXT").c_str(), 0, 0, 0, 0)};
    EXPECT_EQ(importCATD(fws_, 2, entries, "/charts"), E_FAIL);
    EXPECT_NE(log_.text().find("Error: impcat::importCATD\n"), std::string::npos) << log_.text();
    EXPECT_EQ(tableRows(fws_, "catd").size(), 1u);
}
