// tests/export/expcat_test.cpp: an exchange set rebuilt from table catd: the CATALOG file read back
// by our reader and by the ISO 8211 library alone, the copies of the other files (names found on
// disk whatever their case, sub-directories created), the cell list, and the failures of each step.
#include "export/expcat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "import/catalog_support.h"
#include "import/impcat.h"
#include "platform/ui/ui.h"
#include "s57/dbutil.h"
#include "support/test_data.h"

using namespace cattest;
namespace fs = std::filesystem;

namespace {

// All 256 byte values, three times: a copy must cross its 512-byte blocks unchanged.
std::string binaryBytes() {
    std::string s;
    for (int r = 0; r < 6; ++r)
        for (int i = 0; i < 256; ++i) s += char(i);
    return s;
}

class ExpcatTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::setForm(ui::Form::Scripted);
        ui::scripted::reset();
        source_ = root_.path / "O'Brien set";
        output_ = root_.path / "out";
        fs::create_directories(source_);
        fs::create_directories(output_);
        ws_ = createGdb(root_);
        fws_ = ws_;
        ASSERT_TRUE(fws_);
        ITable* raw = nullptr;
        ASSERT_EQ(createGDBTable(fws_, "catd", &raw, fieldDefCount(catdFieldDefs), catdFieldDefs), S_OK);
        table_.Attach(raw);
    }
    void TearDown() override { ui::scripted::reset(); }

    // One catd row of the source set; `values` override the defaults by column name.
    void addRow(const std::string& file, const std::map<std::string, _variant_t>& values = {},
                const std::string& catl = "") {
        IRowBufferPtr buffer = table_->CreateRowBuffer();
        std::map<std::string, _variant_t> v = {{"RCNM", _variant_t("CD")},
                                               {"RCID", _variant_t(("000000000" + std::to_string(++rcid_ % 10)).c_str())},
                                               {"CFIL", _variant_t(file.c_str())},
                                               {"VOLM", _variant_t("V01X01")},
                                               {"IMPL", _variant_t("BIN")},
                                               {"CATL", _variant_t((catl.empty() ? source_.string() : catl).c_str())}};
        for (const auto& [k, value] : values) v[k] = value;
        for (const auto& [k, value] : v) buffer->PutValue(table_->FindField(k.c_str()), value);
        ICursorPtr cursor = table_->Insert(VARIANT_TRUE);
        cursor->InsertRow(buffer);
        cursor->Flush();
    }

    int32_t run() { return getCellList(ws_, source_.string().c_str(), output_.string().c_str()); }

    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const ui::Event& e : ui::scripted::events())
            if (e.kind == ui::Event::Kind::Message) out.push_back(e.caption + "|" + e.text);
        return out;
    }

    TempDir root_;
    fs::path source_, output_;
    IWorkspacePtr ws_;
    IFeatureWorkspacePtr fws_;
    ITablePtr table_;
    CapturedLog log_;
    int rcid_ = 0;
};

}  // namespace

TEST_F(ExpcatTest, RebuildsTheExchangeSet) {
    addRow("CATALOG.031", {{"IMPL", _variant_t("ASC")}, {"COMT", _variant_t("Exchange set")}});
    addRow("CELL1\\CELL1.000", {{"SLAT", _variant_t(50.0)}, {"WLON", _variant_t(-1.5)}, {"NLAT", _variant_t(51.0)},
                                {"ELON", _variant_t(1.0)}, {"CRCS", _variant_t("1A2B3C4D")}});
    addRow("CELL1\\CELL1.001");
    addRow("CELL1\\README.TXT", {{"IMPL", _variant_t("TXT")}});
    addRow("CELL2.000", {{"SLAT", _variant_t(0.0)}, {"WLON", _variant_t(1.0)}, {"NLAT", _variant_t(52.5)},
                         {"ELON", _variant_t(-70.1234567)}});
    addRow("PICS\\DEEP\\PIC.TIF", {{"IMPL", _variant_t("TIF")}});
    addRow("OTHER.000", {}, "/another/set");
    // On disk the names differ in case from the catalogue.
    writeFile(source_ / "cell1" / "Cell1.001", "update\n");
    writeFile(source_ / "cell1" / "readme.txt", "read me\r\n");
    writeFile(source_ / "cell1" / "CELL1.000", "not copied");
    writeFile(source_ / "pics" / "Deep" / "pic.tif", binaryBytes());

    ASSERT_EQ(run(), 2) << log_.text();
    EXPECT_TRUE(messages().empty());
    ASSERT_EQ(cellList.size(), 2u);
    EXPECT_STREQ(cellList[0].name, "CELL1.000");
    EXPECT_STREQ(cellList[0].directory, "");
    EXPECT_EQ(std::string(cellList[0].path), output_.string() + "/CELL1/CELL1.000");
    EXPECT_STREQ(cellList[1].name, "CELL2.000");
    EXPECT_EQ(std::string(cellList[1].path), output_.string() + "/CELL2.000");

    EXPECT_EQ(readFile(output_ / "CELL1" / "CELL1.001"), "update\n");
    EXPECT_EQ(readFile(output_ / "CELL1" / "README.TXT"), "read me\r\n");
    EXPECT_EQ(readFile(output_ / "PICS" / "DEEP" / "PIC.TIF"), binaryBytes());
    EXPECT_FALSE(fs::exists(output_ / "CELL1" / "CELL1.000")) << "the export writes the cell itself";
    EXPECT_FALSE(fs::exists(output_ / "OTHER.000"));

    // Our reader.
    const std::string catalogue = (output_ / "CATALOG.031").string();
    Iso8211File file{};
    CatalogEntryList entries{0, nullptr};
    CatalogXrefList xrefs{0, nullptr};
    ASSERT_EQ(loadCatalogRecList(&file, catalogue.c_str(), &entries, &xrefs), 0) << log_.text();
    ASSERT_EQ(entries.count, 6);
    const char* files[] = {"CATALOG.031", "CELL1\\CELL1.000", "CELL1\\CELL1.001", "CELL1\\README.TXT", "CELL2.000",
                           "PICS\\DEEP\\PIC.TIF"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_STREQ(entries.entries[i].file, files[i]);
        EXPECT_STREQ(entries.entries[i].rcnm, "CD");
        EXPECT_STREQ(entries.entries[i].volm, "V01X01");
        EXPECT_EQ(std::string(entries.entries[i].rcid), "000000000" + std::to_string(i + 1));
    }
    EXPECT_STREQ(entries.entries[0].impl, "ASC");
    EXPECT_STREQ(entries.entries[0].comt, "Exchange set");
    EXPECT_DOUBLE_EQ(entries.entries[1].slat, 50);
    EXPECT_DOUBLE_EQ(entries.entries[1].wlon, -1.5);
    EXPECT_DOUBLE_EQ(entries.entries[1].elon, 1);
    EXPECT_STREQ(entries.entries[1].crcs, "1A2B3C4D");
    EXPECT_DOUBLE_EQ(entries.entries[4].nlat, 52.5);
    freeCatalogRecList(&entries, &xrefs);
    ASSERT_EQ(Close8211File(&file), 0);

    // The ISO 8211 library alone: record ids, ASCII formats, and the texts as written.
    std::vector<RawRecord> raw;
    ASSERT_TRUE(walkRecords(catalogue, raw));
    ASSERT_EQ(raw.size(), 6u);
    for (std::size_t i = 0; i < raw.size(); ++i) {
        EXPECT_EQ(fieldValues(raw[i], "0001")[""], num(i + 1, 5));
        for (const RawSubfield& s : raw[i]) {
            ASSERT_FALSE(s.format.empty());
            EXPECT_NE(std::string("AIR").find(s.format[0]), std::string::npos) << s.label << " " << s.format;
        }
    }
    auto cell1 = fieldValues(raw[1], "CATD");
    EXPECT_EQ(cell1["SLAT"], "50.000000");
    EXPECT_EQ(cell1["WLON"], "-1.500000");
    auto cell2 = fieldValues(raw[4], "CATD");
    EXPECT_EQ(cell2["SLAT"], "") << "0 is written as no value";
    EXPECT_EQ(cell2["NLAT"], "52.500000");
    EXPECT_EQ(cell2["ELON"], "-70.1234567") << "a seventh decimal is kept";
    EXPECT_EQ(fieldValues(raw[3], "CATD")["LFIL"], "") << "a NULL column is an empty subfield";

    const std::string bytes = readFile(catalogue);
    for (const char* text : {"GDB TO S57 (Catalogue File)", "0001CATD", "Record Identifier (Catalogue File)",
                             "Catalogue directory field", kCatdLabels, kCatdFormat, "(I(5))"})
        EXPECT_NE(bytes.find(text), std::string::npos) << text;
}

TEST_F(ExpcatTest, LowerCaseCatalogueNameWritesTheCatalogue) {
    addRow("catalog.030");
    addRow("A.000", {{"RCID", _variant_t("7")}});
    ASSERT_EQ(run(), 1) << log_.text();
    std::vector<RawRecord> raw;
    ASSERT_TRUE(walkRecords((output_ / "catalog.030").string(), raw));
    ASSERT_EQ(raw.size(), 2u);
    EXPECT_EQ(fieldValues(raw[1], "CATD")["RCID"], "0000000007") << "an RCID is written in its full width";
}

TEST_F(ExpcatTest, ExportIntoTheSourceDirectoryLeavesItsFilesAsTheyWere) {
    addRow("CATALOG.031");
    addRow("README.TXT");
    addRow("SUB\\NOTE.TXT");
    writeFile(source_ / "README.TXT", "keep me");
    writeFile(source_ / "sub" / "note.txt", "and me");
    output_ = source_;
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(readFile(source_ / "README.TXT"), "keep me");
    EXPECT_EQ(readFile(source_ / "sub" / "note.txt"), "and me");
    EXPECT_TRUE(fs::exists(source_ / "CATALOG.031"));
}

TEST_F(ExpcatTest, MissingSourceFileIsLogged) {
    addRow("GONE.TXT");
    EXPECT_EQ(run(), 0);
    EXPECT_NE(log_.text().find("copyfile: unable to open " + (source_ / "GONE.TXT").string() + "\n"), std::string::npos)
        << log_.text();
    EXPECT_FALSE(fs::exists(output_ / "GONE.TXT"));
}

TEST_F(ExpcatTest, RealExchangeSetImportedAndExportedAgain) {
    SKIP_WITHOUT_DATA();
    const fs::path set = testdata::path("s58/AA400012/AA400012/ENC_ROOT");
    Iso8211File file{};
    CatalogEntryList entries{0, nullptr};
    CatalogXrefList xrefs{0, nullptr};
    ASSERT_EQ(loadCatalogRecList(&file, (set / "CATALOG.031").string().c_str(), &entries, &xrefs), 0);
    ASSERT_EQ(Close8211File(&file), 0);
    ASSERT_EQ(importCATD(fws_, entries.count, entries.entries, set.string().c_str()), 0) << log_.text();

    ASSERT_EQ(getCellList(ws_, set.string().c_str(), output_.string().c_str()), 1) << log_.text();
    EXPECT_STREQ(cellList[0].name, "AA400012.000");
    for (const char* name : {"README.TXT", "AA400B.TIF", "AA400D.TXT", "AA400E.TXT", "AABRIDGE", "AABRIDGE.PNG"})
        EXPECT_EQ(readFile(output_ / name), readFile(set / name)) << name;
    // The catalogue names a file the set does not hold.
    EXPECT_NE(log_.text().find("copyfile: unable to open " + (set / "12BRIDGE").string() + "\n"), std::string::npos);

    CatalogEntryList again{0, nullptr};
    ASSERT_EQ(loadCatalogRecList(&file, (output_ / "CATALOG.031").string().c_str(), &again, &xrefs), 0);
    ASSERT_EQ(again.count, entries.count);
    for (int32_t i = 0; i < entries.count; ++i) {
        const CatalogEntry& a = entries.entries[i];
        const CatalogEntry& b = again.entries[i];
        EXPECT_STREQ(a.file, b.file);
        EXPECT_STREQ(a.rcid, b.rcid);
        EXPECT_STREQ(a.volm, b.volm);
        EXPECT_STREQ(a.impl, b.impl);
        EXPECT_STREQ(a.crcs, b.crcs);
        EXPECT_DOUBLE_EQ(a.slat, b.slat);
        EXPECT_DOUBLE_EQ(a.wlon, b.wlon);
        EXPECT_DOUBLE_EQ(a.nlat, b.nlat);
        EXPECT_DOUBLE_EQ(a.elon, b.elon);
    }
    freeCatalogRecList(&entries, &xrefs);
    freeCatalogRecList(&again, nullptr);
    ASSERT_EQ(Close8211File(&file), 0);
}

// ---- Failures ----------------------------------------------------------------------------------

class ExpcatFailure;

namespace {

struct FailCase {
    const char* name;
    std::function<void(ExpcatFailure&)> setUp;
    int32_t result;
    std::string log;      // a text the log must hold
    std::string message;  // caption|text of the one box shown, "" none
};

}  // namespace

// Gives the cases access to the fixture's helpers.
class ExpcatFailure : public ExpcatTest, public ::testing::WithParamInterface<FailCase> {
public:
    using ExpcatTest::addRow;
    fs::path& output() { return output_; }
};

namespace {

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.name; }

const FailCase kFailCases[] = {
    {"RcnmOfWrongWidth",
     [](ExpcatFailure& t) {
         t.addRow("CATALOG.031", {{"RCNM", _variant_t("C")}});
     },
     0, "exportCATDRecord: value \"C\" of column rcnm does not fit subfield RCNM\n",
     "Geodatabase to S-57|Unable export CATD to catalogue file "},
    {"ImplOfWrongWidth",
     [](ExpcatFailure& t) { t.addRow("CATALOG.031", {{"IMPL", _variant_t("BN")}}); },
     0, "does not fit subfield IMPL\n", "Geodatabase to S-57|Unable export CATD to catalogue file "},
    {"UnitTerminatorInAComment",
     [](ExpcatFailure& t) { t.addRow("CATALOG.031", {{"COMT", _variant_t("a\x1f" "b")}}); },
     0, "does not fit subfield COMT\n", "Geodatabase to S-57|Unable export CATD to catalogue file "},
    {"OutputDirectoryMissing",
     [](ExpcatFailure& f) {
         f.addRow("CATALOG.031");
         f.output() /= "missing";
     },
     0, "ExportCatalogueFile : unable create ISO catalogue file ", "Geodatabase to S-57|Unable to export catalog file"},
    {"FileLeavesTheSet",
     [](ExpcatFailure& t) {
         t.addRow("A.000");
         t.addRow("..\\EVIL.TXT");
     },
     0,
     "getCellList: file ..\\EVIL.TXT lies outside the exchange set, not exported\n", ""},
    {"AbsoluteFile", [](ExpcatFailure& t) { t.addRow("\\etc\\EVIL.TXT"); }, 0,
     "lies outside the exchange set", ""},
    {"CellNameTooLongForTheList",
     [](ExpcatFailure& t) { t.addRow(std::string(61, 'C') + ".000"); }, 0,
     "does not fit the cell list (name 65, path", ""},
    {"FileWhereADirectoryBelongs",
     [](ExpcatFailure& f) {
         writeFile(f.output() / "CELL1", "a file");
         f.addRow("CELL1\\README.TXT");
     },
     0, "Unable to create directory ", "Geodatabase to S-57|Unable to create directory "},
};

}  // namespace

TEST_P(ExpcatFailure, EndsTheRunWithItsMessage) {
    const FailCase& c = GetParam();
    c.setUp(*this);
    EXPECT_EQ(run(), c.result);
    EXPECT_TRUE(cellList.empty());
    const std::string text = log_.text();
    if (!c.log.empty()) {
        EXPECT_NE(text.find(c.log), std::string::npos) << text;
    }
    const auto shown = messages();
    if (c.message.empty()) {
        EXPECT_TRUE(shown.empty());
    } else {
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].rfind(c.message, 0), 0u) << shown[0];
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ExpcatFailure, ::testing::ValuesIn(kFailCases),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(ExpcatTest, MissingColumnIsNamed) {
    // A catd of an older layout, without COMT.
    TempDir other;
    IWorkspacePtr ws = createGdb(other);
    IFeatureWorkspacePtr fws(ws);
    FieldDef defs[12];
    std::copy(catdFieldDefs, catdFieldDefs + 11, defs);
    defs[11] = catdFieldDefs[12];  // CATL
    ITable* raw = nullptr;
    ASSERT_EQ(createGDBTable(fws, "catd", &raw, 12, defs), S_OK);
    ITablePtr table;
    table.Attach(raw);
    IRowBufferPtr buffer = table->CreateRowBuffer();
    buffer->PutValue(table->FindField("RCNM"), _variant_t("CD"));
    buffer->PutValue(table->FindField("RCID"), _variant_t("0000000001"));
    buffer->PutValue(table->FindField("IMPL"), _variant_t("ASC"));
    buffer->PutValue(table->FindField("CFIL"), _variant_t("CATALOG.031"));
    buffer->PutValue(table->FindField("CATL"), _variant_t("/set"));
    ICursorPtr cursor = table->Insert(VARIANT_TRUE);
    cursor->InsertRow(buffer);
    cursor->Flush();

    EXPECT_EQ(getCellList(ws, "/set", output_.string().c_str()), 0);
    EXPECT_NE(log_.text().find("exportCATDRecord: error on finding comt field in catd table\n"), std::string::npos)
        << log_.text();
    const auto shown = messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Geodatabase to S-57|Unable export CATD to catalogue file  " +
                            (output_ / "CATALOG.031").string() + " -2147467259");
}

TEST_F(ExpcatTest, WithoutCatdTable) {
    TempDir other;
    IWorkspacePtr ws = createGdb(other);
    EXPECT_EQ(getCellList(ws, "/set", output_.string().c_str()), -1);
    EXPECT_NE(log_.text().find("Error: expcat::getCellList\n"), std::string::npos) << log_.text();
    Iso8211File file{};
    EXPECT_EQ(exportCATD(ws, "/set", &file), -11);
    EXPECT_NE(log_.text().find("exportCATD: unable to open catd table.\n"), std::string::npos);
}

// ---- Files and directories ----------------------------------------------------------------------

TEST_F(ExpcatTest, SubDirectoriesAreCreatedLevelByLevel) {
    ASSERT_EQ(createSubDirectories(output_.string().c_str(), "A\\B/C"), 0);
    EXPECT_TRUE(fs::is_directory(output_ / "A" / "B" / "C"));
    ASSERT_EQ(createSubDirectories(output_.string().c_str(), "A\\B"), 0) << "existing levels are reused";
}

TEST_F(ExpcatTest, CopyKeepsEveryByte) {
    writeFile(source_ / "in.bin", binaryBytes());
    copyfile((source_ / "in.bin").string().c_str(), (output_ / "out.bin").string().c_str());
    EXPECT_EQ(readFile(output_ / "out.bin"), binaryBytes());
    writeFile(source_ / "empty", "");
    copyfile((source_ / "empty").string().c_str(), (output_ / "empty").string().c_str());
    EXPECT_TRUE(fs::exists(output_ / "empty"));
    EXPECT_EQ(fs::file_size(output_ / "empty"), 0u);
}

namespace {

struct LookupCase {
    const char* name;
    std::string file;      // as the catalogue names it
    std::string expected;  // relative to the set's directory
};

void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.name; }

const LookupCase kLookups[] = {
    {"Exact", "CELL1\\CELL1.000", "CELL1/CELL1.000"},
    {"FileInOtherCase", "CELL1\\readme.txt", "CELL1/README.TXT"},
    {"DirectoryInOtherCase", "cell1\\CELL1.000", "CELL1/CELL1.000"},
    {"SlashSeparators", "cell1/Readme.Txt", "CELL1/README.TXT"},
    {"MissingKeptAsWritten", "Cell1\\Gone.txt", "CELL1/Gone.txt"},
    {"MissingDirectory", "NONE\\X.TXT", "NONE/X.TXT"},
};

class ExpcatLookup : public ::testing::TestWithParam<LookupCase> {};

}  // namespace

TEST_P(ExpcatLookup, FindsTheFileWhateverItsCase) {
    TempDir dir;
    writeFile(dir.path / "CELL1" / "CELL1.000", "x");
    writeFile(dir.path / "CELL1" / "README.TXT", "x");
    EXPECT_EQ(exchangeSetFilePath(dir.str().c_str(), GetParam().file.c_str()), dir.str() + "/" + GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Names, ExpcatLookup, ::testing::ValuesIn(kLookups),
                         [](const auto& i) { return std::string(i.param.name); });
