// tests/export/driver_test.cpp: the export driver on a real cell imported once (US5MA12M): the run
// of one cell (its progress positions, the log beside the output, the closing question) and the
// ways a run ends early: a coverage overlapping another cell's, a cell without dsnm rows, a missing
// producing agency, a geodatabase that is missing, not a geodatabase, or without the cell. None of
// them leaves a cell file behind, and no way out leaves COM initialised. An output path that names a
// folder ends the run before anything is made; a folder at the output path is never removed.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "export/gdbs57main.h"
#include "export_support.h"
#include "platform/gdb/gdb.h"
#include "platform/ui/progress.h"
#include "s57/dbutil.h"
#include "s57/lookups.h"
#include "support/test_data.h"

namespace fs = std::filesystem;
using namespace e2e;
using namespace exporttest;

namespace {

constexpr char kCell[] = "US5MA12M.000";

// Runs one statement on a geodatabase file (its attribute columns only: no shape changes).
bool execSql(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
              sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

Scratch& folder() {
    static Scratch s;
    return s;
}

// The cell imported once; each test works on a copy.
const std::string& importedOnce() {
    static std::string gdb;
    if (gdb.empty()) {
        const std::string in = link(testdata::path("enc/US5MA12M/US5MA12M.000"), folder().file("in"), kCell);
        const std::string made = folder().file("imported.gpkg");
        copyTemplate(made);
        const DriverRun run = runDriver(in, made);
        if (run.messages().size() == 1) gdb = made;
    }
    return gdb;
}

class ExportDriver : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testdata::present()) GTEST_SKIP() << "test data folder " << testdata::root() << " is absent";
        ASSERT_FALSE(importedOnce().empty()) << "US5MA12M did not import";
        dir = std::make_unique<Scratch>();
        gdb = dir->file("cells.gpkg");
        fs::copy_file(importedOnce(), gdb);
        output = dir->file("out/" + std::string(kCell));
        fs::create_directories(dir->file("out"));
    }

    IFeatureWorkspacePtr open() {
        IWorkspacePtr ws;
        EXPECT_EQ(openWorkspace(gdb.c_str(), &ws), S_OK);
        return IFeatureWorkspacePtr(ws);
    }

    std::unique_ptr<Scratch> dir;
    std::string gdb, output;
};

TEST_F(ExportDriver, OneCellRunsItsStepsAndLogsBesideTheOutput) {
    const DriverRun run = runExport(output, gdb, kCell);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.messages(), std::vector<std::string>{"Would you like to see the log file?"});
    EXPECT_TRUE(fs::exists(output));
    EXPECT_TRUE(fs::exists(dir->file("out/US5MA12M.log")));
    EXPECT_NE(run.log.find("Export report for cell US5MA12M.000\n"), std::string::npos);
    const std::vector<long> p = run.positions();
    for (long expected : {5L, 50L, 55L, 70L})
        EXPECT_NE(std::find(p.begin(), p.end(), expected), p.end()) << "no position " << expected;
    EXPECT_TRUE(std::is_sorted(p.begin(), p.end()));
}

TEST_F(ExportDriver, OverlappingCoverageEndsTheRunWithoutAFile) {
    {
        // A second coverage feature (another cell's) over this cell's data coverage.
        IFeatureWorkspacePtr ws = open();
        std::string className, subtype;
        ASSERT_EQ(checkFeatureClassName(className, subtype, "M_COVR", "A"), 0);
        IFeatureClassPtr coverage = ws->OpenFeatureClass(className.c_str());
        ITablePtr dsnm = ws->OpenTable("dsnm");
        ICursorPtr rows = dsnm->Search(nullptr, VARIANT_FALSE);
        IRowPtr first = rows->NextRow();
        ASSERT_TRUE(first);
        IFeaturePtr own = coverage->GetFeature(long(_variant_t(first->GetValue(dsnm->FindField("metaid")))));
        IFeaturePtr other = coverage->CreateFeature();
        IFieldsPtr fields = coverage->GetFields();
        LONG n = 0;
        ASSERT_EQ(fields->get_FieldCount(&n), S_OK);
        for (LONG i = 0; i < n; ++i) {
            const std::string name = static_cast<const char*>(IFieldPtr(fields->GetField(i))->GetName());
            if (name == "OBJECTID" || name == "SHAPE") continue;
            other->PutValue(i, own->GetValue(i));
        }
        other->PutValue(fields->FindField("CATCOV"), _variant_t(1L));
        other->PutRefShape(own->GetShapeCopy());
        other->Store();
    }
    const DriverRun run = runExport(output, gdb, kCell);
    EXPECT_EQ(run.result, 0);
    const auto m = run.messages();
    ASSERT_FALSE(m.empty());
    EXPECT_EQ(m.front(), "Overlapping cell extent US5MA12M.000...");
    EXPECT_NE(run.log.find("Unable to get cell extent, check dsnm and M_COVR. Overlapping cell extent"), std::string::npos);
    EXPECT_FALSE(fs::exists(output));
}

// Texts go out in their field's lexical level: ATTF as ISO 8859-1 (a degree sign and an umlaut as
// their one byte; a euro sign, which Latin-1 lacks, as "?" with a log line naming the feature), NATF
// as UCS-2 little-endian (a character beyond UCS-2 as "?").
TEST_F(ExportDriver, TextsAreWrittenInTheirFieldsLexicalLevel) {
    {
        IFeatureClassPtr lights = open()->OpenFeatureClass("NavigationAidPointFeature");
        IQueryFilterPtr filter(CLSID_QueryFilter);
        filter->PutWhereClause("LNAM = 'US003396589900050'");
        IFeatureCursorPtr cursor = lights->Search(filter, VARIANT_FALSE);
        IFeaturePtr light = cursor->NextFeature();
        ASSERT_TRUE(light);
        light->PutValue(lights->FindField("OBJNAM"), _variant_t("Spot 12\xc2\xb0 M\xc3\xbcller \xe2\x82\xac"));
        light->PutValue(lights->FindField("NOBJNM"),
                        _variant_t("\xce\xa9\xce\xbc\xce\xad\xce\xb3\xce\xb1 \xf0\x9d\x84\x9e"));
        light->Store();
    }
    const DriverRun run = runExport(output, gdb, kCell);
    ASSERT_EQ(run.messages().size(), 1u) << run.messages()[0];
    const std::string bytes = fileBytes(output);
    EXPECT_NE(bytes.find("Spot 12\xb0 M\xfcller ?"), std::string::npos);
    const std::string ucs2("\xa9\x03\xbc\x03\xad\x03\xb3\x03\xb1\x03\x20\x00\x3f\x00", 14);
    EXPECT_NE(bytes.find(ucs2), std::string::npos);
    EXPECT_NE(run.log.find("FE0000000109"), std::string::npos) << run.log;
}

// Feature pointers from frel: the import's stand-in comment "MISSING" goes out as the empty text,
// and a pointer whose relationship indicator is no S-57 one is logged and left out of the field
// while its record is written.
TEST_F(ExportDriver, FeaturePointersKeepTheirRecordWhenOneIsUnwritable) {
    ASSERT_TRUE(execSql(gdb, "UPDATE frel SET RIND = '?' WHERE SRC_LNAM = 'US003396597300050' AND "
                             "DEST_LNAM = 'US003396585000050'"));
    const DriverRun run = runExport(output, gdb, kCell);
    ASSERT_EQ(run.messages().size(), 1u) << run.messages()[0];
    const std::vector<Record> records = readRecords(output);
    const Field* ffpt = nullptr;
    for (const Record& r : records) {
        const Field* foid = r.field("FOID");
        if (foid && foid->values("FIDN") == std::vector<std::string>{"0033965973"}) ffpt = r.field("FFPT");
    }
    ASSERT_NE(ffpt, nullptr) << "the feature or its FFPT is missing";
    EXPECT_EQ(ffpt->values("LNAM"), (std::vector<std::string>{"US003396584900050", "US003396585100050"}));
    EXPECT_EQ(ffpt->values("COMT"), (std::vector<std::string>{"", ""}));
    EXPECT_NE(run.log.find("US003396585000050 has the relationship indicator \"?\""), std::string::npos) << run.log;
}

struct EarlyEnd {
    const char* name;
    const char* sql;         // the change to the copy; empty: none
    const char* cell;        // the cell asked for
    const char* gdbFile;     // "" the copy; else a file of the scratch folder with `content`
    const char* content;     // nullptr: no such file
    const char* message;
    const char* logText;
};

const EarlyEnd kEarlyEnds[] = {
    {"NoDsnmRows", "DELETE FROM dsnm", kCell, "", nullptr,
     "Unable to get cell extent, check dsnm and M_COVR. -2147467259",
     "Unable to get cell extent, check dsnm and M_COVR.  -2147467259"},
    {"NoSuchCell", "", "XX000000.000", "", nullptr,
     "Unable to get cell extent, check dsnm and M_COVR. -2147467259",
     "Unable to get cell extent, check dsnm and M_COVR.  -2147467259"},
    {"NoAgency", "UPDATE dsid SET AGEN = NULL", kCell, "", nullptr,
     "No cell information found in dsid table. The producing agency (AGEN of table dsid) is missing: no cell can "
     "be exported.",
     "No cell information found in dsid table.  The producing agency (AGEN of table dsid) is missing"},
    {"MissingGeodatabase", "", kCell, "missing.gpkg", nullptr, "Unable to open Geodatabase -2147217407",
     "Unable to open Geodatabase  -2147217407"},
    {"NotAGeodatabase", "", kCell, "text.gpkg", "no database here\n", "Unable to open Geodatabase -2147217406",
     "Unable to open Geodatabase  -2147217406"},
};

class ExportEndsEarly : public ExportDriver, public ::testing::WithParamInterface<EarlyEnd> {};

TEST_P(ExportEndsEarly, ShowsTheMessageLogsItAndWritesNoCell) {
    const EarlyEnd& c = GetParam();
    std::string target = gdb;
    if (c.sql[0]) {
        ASSERT_TRUE(execSql(gdb, c.sql));
    }
    if (c.gdbFile[0]) {
        target = dir->file(c.gdbFile);
        if (c.content) std::ofstream(target) << c.content;
    }
    const DriverRun run = runExport(output, target, c.cell);
    EXPECT_EQ(run.result, 0);
    const auto m = run.messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0], c.message);
    EXPECT_EQ(m[1], "Would you like to see the log file?");
    EXPECT_NE(run.log.find(c.logText), std::string::npos) << run.log;
    EXPECT_FALSE(fs::exists(output));
}

INSTANTIATE_TEST_SUITE_P(Driver, ExportEndsEarly, ::testing::ValuesIn(kEarlyEnds),
                         [](const auto& i) { return std::string(i.param.name); });

// A progress dialog factory that throws what no handler of a run takes.
class ThrowingFactory : public ComObject<IProgressDialogFactory> {
public:
    HRESULT raw_Create(ICancelTracker*, LONG, IStepProgressor**) override { throw 7; }
};

// The standard factory registered again when the test is over.
struct FactoryReplaced {
    FactoryReplaced() {
        (void)standard();
        registerComClass(kCLSID_ProgressDialogFactory, "Ui.ProgressDialogFactory.1",
                         &createComInstance<ThrowingFactory>);
    }
    ~FactoryReplaced() { registerComClass(kCLSID_ProgressDialogFactory, "Ui.ProgressDialogFactory.1", &make); }
    static IProgressDialogFactoryPtr& standard() {
        static IProgressDialogFactoryPtr f(kCLSID_ProgressDialogFactory);
        return f;
    }
    static HRESULT make(REFIID riid, void** out) { return standard()->QueryInterface(riid, out); }
};

// Whether COM is uninitialised: the first CoInitialize answers S_OK, any later one S_FALSE.
bool comUninitialised() {
    const HRESULT hr = CoInitialize(nullptr);
    CoUninitialize();
    return hr == S_OK;
}

// However a run ends it leaves COM uninitialised, also when no handler of its cells took what ended it.
TEST(ExportRun, LeavesComUninitialisedWhateverEndsIt) {
    ASSERT_TRUE(comUninitialised());
    Scratch dir;
    DriverRun run;
    {
        const FactoryReplaced throwing;
        run = runExport(dir.file("A.000"), dir.file("none.gpkg"), "A.000");
    }
    EXPECT_EQ(run.result, -1);
    EXPECT_TRUE(comUninitialised()) << "the run left COM initialised";
}

// Every file and folder below the folder.
std::vector<std::string> entriesBelow(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(folder)) out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

// An output path that names a folder (an automation call without a cell name gives one) ends the run
// before it makes anything: no log cut from the folder's name, no file, the folder left alone.
struct FolderOutput {
    const char* name;
    const char* output;  // below the scratch folder
    const char* cell;
    const char* catalogue;
    const char* reason;  // after "the output path "<scratch>/<output>" names no file"
};
const FolderOutput kFolderOutputs[] = {
    {"Slash", "out/", kCell, "", ""},
    {"Backslash", "out\\", kCell, "", ""},
    {"NoCellName", "out/", "", "", ": no cell name was given"},
    {"ExchangeSet", "out/", "", "ENC_ROOT", ""},
};
void PrintTo(const FolderOutput& c, std::ostream* os) { *os << c.name; }
class ExportToAFolder : public ::testing::TestWithParam<FolderOutput> {};

TEST_P(ExportToAFolder, EndsBeforeItMakesAnything) {
    const FolderOutput& c = GetParam();
    Scratch dir;
    fs::create_directories(dir.file("out"));
    const std::vector<std::string> before = entriesBelow(dir.path());
    const std::string output = dir.file(c.output);
    const unsigned long runs = exportRunCount();
    const DriverRun run = runExport(output, dir.file("missing.gpkg"), c.cell, c.catalogue);
    EXPECT_EQ(run.result, -19);
    EXPECT_EQ(exportRunCount(), runs + 1);
    EXPECT_EQ(lastExportOutcome().error, E_INVALIDARG);
    EXPECT_EQ(lastExportOutcome().reason, "the output path \"" + output + "\" names no file" + c.reason);
    EXPECT_TRUE(run.events.empty()) << "no message, no progress";
    EXPECT_EQ(entriesBelow(dir.path()), before);
}

INSTANTIATE_TEST_SUITE_P(Driver, ExportToAFolder, ::testing::ValuesIn(kFolderOutputs),
                         [](const auto& i) { return std::string(i.param.name); });

// An output that is a folder (named as a cell, no separator at its end): the cell file cannot be
// made, and the cleanup of the failed cell leaves the folder.
TEST_F(ExportDriver, AFolderAtTheOutputPathIsNotRemoved) {
    const std::string folder = output;
    fs::create_directories(folder);
    const DriverRun run = runExport(folder, gdb, kCell);
    ASSERT_FALSE(run.messages().empty());
    EXPECT_EQ(run.messages()[0].rfind("Unable to create object file " + folder, 0), 0u) << run.messages()[0];
    EXPECT_TRUE(fs::is_directory(folder));
}

TEST(ExportPaths, LogAndSetFolderTakeEitherSeparator) {
    EXPECT_EQ(exportLogPath("C:\\out\\A.000"), "C:\\out\\A.log");
    EXPECT_EQ(exportLogPath("out/A.000"), "out/A.log");
    EXPECT_EQ(exportOutputDirectory("C:\\out\\CATALOG.031"), "C:\\out");
    EXPECT_EQ(exportOutputDirectory("sets/x/CATALOG.031"), "sets/x");
    EXPECT_EQ(exportOutputDirectory("CATALOG.031"), ".");
}

}  // namespace
