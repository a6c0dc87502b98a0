// Tests of the converter's two commands: their ICommand properties, their dialogs driven by the
// scripted user interface, and their clicks inside a host application over a real geodatabase.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "commands/command_host.h"
#include "commands/gdb2s57cmd.h"
#include "commands/gdb2s57dlg.h"
#include "commands/resources.h"
#include "commands/s572gdbcmd.h"
#include "commands/s572gdbdlg.h"
#include "commands/tarvo_lib.h"
#include "commands/tarvo_module.h"
#include "export/gdbs57main.h"
#include "import/s572gdbmain.h"
#include "platform/host/application.h"
#include "platform/host/map_document.h"
#include "platform/ui/ui.h"
#include "s57/dbutil.h"
#include "s57/gdb_template.h"
#include "support/test_data.h"

namespace fs = std::filesystem;

namespace {

ICommandPtr makeCommand(const CLSID& clsid) {
    _com_ptr_t<IClassFactory> factory;
    if (FAILED(DllGetClassObject(clsid, IClassFactory::iid, reinterpret_cast<void**>(&factory)))) return nullptr;
    ICommandPtr cmd;
    if (FAILED(factory->CreateInstance(nullptr, ICommand::iid, reinterpret_cast<void**>(&cmd)))) return nullptr;
    return cmd;
}

std::string text(ICommand* cmd, HRESULT (ICommand::*get)(BSTR*)) {
    BSTR out = nullptr;
    EXPECT_EQ((cmd->*get)(&out), S_OK);
    return narrowText(_bstr_t(out, false).GetBSTR());
}

// A folder of the test's own, with the scripted user interface reset.
class Scripted : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("commands_test_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        ui::setForm(ui::Form::Scripted);
        ui::scripted::reset();
    }
    void TearDown() override {
        ui::scripted::reset();
        fs::remove_all(dir_);
    }
    std::string file(const std::string& name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

// ---- ICommand properties ----------------------------------------------------------------------------

struct CommandCase {
    const char* name;
    CLSID clsid;
    const char* caption;
    const char* message;
};
const CommandCase kCommands[] = {
    {"Import", CLSID_s572gdbCmd, "S-57 to Geodatabase", "Convert S-57 Cell to Geodatabase"},
    {"Export", CLSID_gdb2s57Cmd, "Geodatabase to S-57", "Convert Geodatabase to S-57 Cell"},
};

class CommandProperties : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandProperties, AnswerAsTheHostAsksAndRefuseNullPointers) {
    const int imagesBefore = ui::liveGdiObjects();
    {
        ICommandPtr cmd = makeCommand(GetParam().clsid);
        ASSERT_TRUE(cmd);
        EXPECT_EQ(text(cmd, &ICommand::get_Name), GetParam().caption);
        EXPECT_EQ(text(cmd, &ICommand::get_Caption), GetParam().caption);
        EXPECT_EQ(text(cmd, &ICommand::get_Tooltip), GetParam().caption);
        EXPECT_EQ(text(cmd, &ICommand::get_Message), GetParam().message);
        EXPECT_EQ(text(cmd, &ICommand::get_Category), "Data Converter");
        EXPECT_EQ(cmd->GetEnabled(), VARIANT_TRUE);
        EXPECT_EQ(cmd->GetChecked(), VARIANT_FALSE);
        BSTR b = nullptr;
        LONG l = 0;
        EXPECT_EQ(cmd->get_HelpFile(&b), E_NOTIMPL);
        EXPECT_EQ(cmd->get_HelpContextID(&l), E_NOTIMPL);
        ASSERT_EQ(cmd->get_Bitmap(&l), S_OK);
        EXPECT_EQ(ui::gdiResourceId(ui::gdiObjectOf(l)), IDB_COMMAND);
        for (auto get : {&ICommand::get_Name, &ICommand::get_Caption, &ICommand::get_Tooltip, &ICommand::get_Message,
                         &ICommand::get_Category})
            EXPECT_EQ((cmd.GetInterfacePtr()->*get)(nullptr), E_POINTER);
        EXPECT_EQ(cmd->get_Enabled(nullptr), E_POINTER);
        EXPECT_EQ(cmd->get_Checked(nullptr), E_POINTER);
        EXPECT_EQ(cmd->get_Bitmap(nullptr), E_POINTER);

        // Without an application a click fails with a result, never a crash.
        EXPECT_EQ(cmd->raw_OnCreate(nullptr), E_UNEXPECTED);
        EXPECT_TRUE(FAILED(cmd->raw_OnClick()));
    }
    EXPECT_EQ(ui::liveGdiObjects(), imagesBefore);  // the command's bitmap went with it
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}
INSTANTIATE_TEST_SUITE_P(Commands, CommandProperties, ::testing::ValuesIn(kCommands),
                         [](const auto& i) { return std::string(i.param.name); });

struct DatasetCase {
    const char* name;
    const char* qualified;
    const char* dataset;
};
const DatasetCase kDatasets[] = {
    {"Owner", "owner.Charts", "Charts"}, {"Plain", "Charts", "Charts"}, {"TwoDots", "db.owner.S57", "S57"},
    {"Empty", "", ""},                   {"TrailingDot", "owner.", ""},
};
class DatasetName : public ::testing::TestWithParam<DatasetCase> {};
TEST_P(DatasetName, IsTheTextAfterTheLastDot) { EXPECT_EQ(datasetNameOf(GetParam().qualified), GetParam().dataset); }
INSTANTIATE_TEST_SUITE_P(Commands, DatasetName, ::testing::ValuesIn(kDatasets),
                         [](const auto& i) { return std::string(i.param.name); });

struct ExportCase {
    const char* name;
    const char* s57path;
    const char* cellName;
    const char* catalogPath;
    VARIANT_BOOL flag;
    const char* output;
    bool createTopology;
};
const ExportCase kExports[] = {
    {"Cell", "/out", "US5MA12M.000", "", VARIANT_FALSE, "/out/US5MA12M.000", false},
    {"TrailingSeparator", "/out/", "US5MA12M.000", "", VARIANT_TRUE, "/out/US5MA12M.000", true},
    {"BackslashKept", "C:\\out\\", "A.000", "", VARIANT_TRUE, "C:\\out\\A.000", true},
    // Only VARIANT_TRUE sets the flag.
    {"OtherTrueValue", "/out", "A.000", "", VARIANT_BOOL(1), "/out/A.000", false},
    // Catalogue mode without a cell name: the run's log is CATALOG.log, not "out.log" beside the folder.
    {"CatalogueWithoutName", "/out", "", "ENC_ROOT", VARIANT_FALSE, "/out/CATALOG.031", false},
    {"CatalogueNamed", "/out", "CATALOG.030", "ENC_ROOT", VARIANT_FALSE, "/out/CATALOG.030", false},
};
class ExportAutomation : public ::testing::TestWithParam<ExportCase> {};
TEST_P(ExportAutomation, BuildsTheDriversArguments) {
    const ExportCase& c = GetParam();
    const ExportArguments a = automationExportArguments(
        _bstr_t("g.gpkg").GetBSTR(), _bstr_t("S57").GetBSTR(), _bstr_t(c.s57path).GetBSTR(),
        _bstr_t(c.cellName).GetBSTR(), _bstr_t(c.catalogPath).GetBSTR(), c.flag);
    EXPECT_EQ(a.output, c.output);
    EXPECT_EQ(a.createTopology, c.createTopology);
    EXPECT_EQ(a.cellName, c.cellName);
    EXPECT_EQ(a.catalogPath, c.catalogPath);
    EXPECT_EQ(a.gdbConn, "g.gpkg");
    EXPECT_EQ(a.dataset, "S57");
}
INSTANTIATE_TEST_SUITE_P(Commands, ExportAutomation, ::testing::ValuesIn(kExports),
                         [](const auto& i) { return std::string(i.param.name); });

// ---- The import dialog ------------------------------------------------------------------------------

TEST_F(Scripted, ImportDialogShowsTheGeodatabaseAndTakesTheBrowsedFile) {
    const int imagesBefore = ui::liveGdiObjects();
    {
        s572gdbdlg dlg("/data/charts.gpkg");
        ui::scripted::pushDialogText(IDC_GDB, "typed into a read-only edit");  // ignored
        ui::scripted::pushDialogClick(IDC_BROWSE);
        ui::scripted::pushFile("/charts/US5MA12M.000");
        ui::scripted::pushDialogClick(IDOK);
        EXPECT_EQ(dlg.doModal(), IDOK);
        EXPECT_EQ(dlg.s57File(), "/charts/US5MA12M.000");
        EXPECT_EQ(ui::gdiResourceId(dlg.icon(true)), IDI_TARVO);
        EXPECT_EQ(ui::gdiResourceId(dlg.buttonImage(IDC_BROWSE)), IDB_BROWSE);
        EXPECT_EQ(ui::gdiResourceId(dlg.buttonImage(IDC_GDB_BUTTON)), IDB_GDB);
        EXPECT_EQ(ui::scripted::transcript(),
                  "dialog [S-57 to Geodatabase]\n"
                  "dialog [S-57 to Geodatabase] 201 = /data/charts.gpkg\n"
                  "dialog [S-57 to Geodatabase] click 209\n"
                  "open-file [Open a File] S-57 Cell|*.000 All files|*.* -> /charts/US5MA12M.000\n"
                  "dialog [S-57 to Geodatabase] 208 = /charts/US5MA12M.000\n"
                  "dialog [S-57 to Geodatabase] click 1\n"
                  "dialog [S-57 to Geodatabase] -> 1\n");
    }
    EXPECT_EQ(ui::liveGdiObjects(), imagesBefore);
}

TEST_F(Scripted, ImportDialogKeepsLongPathsWholeUpToItsLimit) {
    const std::string longPath = "/" + std::string(518, 'p') + ".000";  // 523 characters
    s572gdbdlg dlg("x.gpkg");
    ui::scripted::pushDialogText(IDC_FILE, longPath.substr(0, 520));
    ui::scripted::pushDialogClick(IDOK);
    EXPECT_EQ(dlg.doModal(), IDOK);
    EXPECT_EQ(dlg.s57File(), longPath.substr(0, 520));
}

TEST_F(Scripted, DialogsRunOutOfActionsAsCancelledAndAreNotShownInBatch) {
    s572gdbdlg dlg("x.gpkg");
    ui::scripted::pushDialogText(IDC_FILE, "/a/b.000");
    EXPECT_EQ(dlg.doModal(), IDCANCEL);
    EXPECT_EQ(dlg.s57File(), "");
    ui::setForm(ui::Form::Batch);
    EXPECT_EQ(dlg.doModal(), -1);
    ui::setForm(ui::Form::Scripted);
}

// The driver cuts four characters off its input for the log name: a path with nothing before them
// is refused before the driver runs, by automation as by the dialog.
TEST_F(Scripted, ImportRefusesAPathTheLogNameCannotBeMadeFrom) {
    Is572gdbCmdPtr cmd(makeCommand(CLSID_s572gdbCmd));
    ASSERT_TRUE(cmd);
    const fs::path cwd = fs::current_path();
    fs::current_path(dir_);
    for (const char* path : {"", ".000", "a.0"}) {
        ui::scripted::reset();
        EXPECT_EQ(cmd->s572gdb(_bstr_t(path).GetBSTR(), _bstr_t("x.gpkg").GetBSTR(), _bstr_t("S57").GetBSTR()), S_OK);
        EXPECT_EQ(ui::scripted::transcript(),
                  std::string("message [S-57 to Geodatabase] Unable to load file ") + path + " (OK) -> OK\n");
    }
    // A null text is the empty text.
    EXPECT_EQ(cmd->s572gdb(nullptr, nullptr, nullptr), S_OK);
    fs::current_path(cwd);
    EXPECT_TRUE(fs::is_empty(dir_));  // no log was made
}

// The dialog takes 520 characters; nothing on the way to the driver cuts them.
TEST_F(Scripted, ImportTakesALongPathWholeToTheDriver) {
    fs::path deep = dir_;
    while (deep.string().size() < 460) deep /= std::string(30, 'd');
    fs::create_directories(deep);
    const std::string input = (deep / "NOCELL.000").string();
    ASSERT_GT(input.size(), 470u);
    ASSERT_LE(input.size(), s572gdbdlg::kMaxPath);
    Is572gdbCmdPtr cmd(makeCommand(CLSID_s572gdbCmd));
    ASSERT_TRUE(cmd);
    EXPECT_EQ(cmd->s572gdb(_bstr_t(input.c_str()).GetBSTR(), _bstr_t(file("x.gpkg").c_str()).GetBSTR(),
                           _bstr_t("S57").GetBSTR()),
              S_OK);
    EXPECT_TRUE(fs::exists(deep / "NOCELL.log"));  // the driver ran on the whole path
    EXPECT_NE(ui::scripted::transcript().find("Unable to load file " + input), std::string::npos)
        << ui::scripted::transcript();
}

// The export's automation method answers S_OK whatever the run did: the failure stands in the run's
// log and outcome. In catalogue mode without a cell name the log is the CATALOG file's.
TEST_F(Scripted, ExportAutomationAnswersOkForAFailedRunThatItsLogAndOutcomeTell) {
    Igdb2s57CmdPtr cmd(makeCommand(CLSID_gdb2s57Cmd));
    ASSERT_TRUE(cmd);
    const _bstr_t missing(file("missing.gpkg").c_str()), folder(dir_.string().c_str());
    struct Run {
        const char* cell;
        const char* catalog;
        const char* log;
    };
    for (const Run& r : {Run{"NONE.000", "", "NONE.log"}, Run{"", "ENC_ROOT", "CATALOG.log"}}) {
        ui::scripted::reset();
        const unsigned long before = exportRunCount();
        EXPECT_EQ(cmd->gdb2s57(missing.GetBSTR(), _bstr_t("S57").GetBSTR(), folder.GetBSTR(), _bstr_t(r.cell).GetBSTR(),
                               _bstr_t(r.catalog).GetBSTR(), VARIANT_FALSE),
                  S_OK);
        EXPECT_EQ(exportRunCount(), before + 1) << r.log;
        EXPECT_EQ(lastExportOutcome().message, 106) << r.log;
        EXPECT_TRUE(lastExportOutcome().failed());
        std::ifstream in(dir_ / r.log);
        const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_NE(log.find("Unable to open Geodatabase"), std::string::npos) << r.log << ": " << log;
    }
}

// Without a cell name and a catalogue the automation call names no cell: the run ends before it makes
// anything, its outcome naming what is missing (no log cut from the folder's name beside it).
TEST_F(Scripted, ExportAutomationWithoutACellNameMakesNothing) {
    Igdb2s57CmdPtr cmd(makeCommand(CLSID_gdb2s57Cmd));
    ASSERT_TRUE(cmd);
    const fs::path out = dir_ / "out";
    fs::create_directories(out);
    const unsigned long before = exportRunCount();
    EXPECT_EQ(cmd->gdb2s57(_bstr_t(file("missing.gpkg").c_str()).GetBSTR(), _bstr_t("S57").GetBSTR(),
                           _bstr_t(out.c_str()).GetBSTR(), _bstr_t("").GetBSTR(), _bstr_t("").GetBSTR(), VARIANT_FALSE),
              S_OK);
    EXPECT_EQ(exportRunCount(), before + 1);
    EXPECT_EQ(lastExportOutcome().error, E_INVALIDARG);
    EXPECT_NE(lastExportOutcome().reason.find("no cell name was given"), std::string::npos)
        << lastExportOutcome().reason;
    EXPECT_EQ(ui::scripted::transcript(), "");
    EXPECT_TRUE(fs::is_directory(out));
    EXPECT_TRUE(fs::is_empty(out));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1) << "only the folder";
}

// ---- The export dialog ------------------------------------------------------------------------------

std::vector<gdb2s57dlg::Entry> twoEntries() {
    return {{"US5MA12M.000", "", "US5MA12M.000"}, {"CATALOG.031", "ENC_ROOT", "ENC_ROOT\\CATALOG.031"}};
}

TEST_F(Scripted, ExportDialogStartsOnTheFirstEntryWithTheBoxChecked) {
    gdb2s57dlg dlg("g.gpkg", {{"A_VERY_LONG_CELL_NAME.000", "", "A_VERY_LONG_CELL_NAME.000"}});
    ui::scripted::pushDialogClick(IDCANCEL);
    EXPECT_EQ(dlg.doModal(), IDCANCEL);
    EXPECT_EQ(dlg.itemText(IDC_CELL), "A_VERY_LONG_CELL");
    EXPECT_EQ(dlg.cellName(), "A_VERY_LONG_CELL_NAME.000");
    EXPECT_EQ(dlg.itemText(IDC_FILE), (fs::current_path() / "A_VERY_LONG_CELL_NAME.000").string());
    EXPECT_TRUE(dlg.isButtonChecked(IDC_TOPOLOGY));
    EXPECT_EQ(dlg.itemText(IDC_GDB), "g.gpkg");
    EXPECT_EQ(dlg.createTopology(), 0);
}

TEST_F(Scripted, ExportDialogTakesTheCellPickedInTheList) {
    gdb2s57dlg dlg("g.gpkg", twoEntries());
    ui::scripted::pushDialogClick(IDC_CELL_BUTTON);
    ui::scripted::pushChoice(1);
    ui::scripted::pushDialogCheck(IDC_TOPOLOGY, false);
    ui::scripted::pushDialogText(IDC_FILE, file("out/CATALOG.031"));
    ui::scripted::pushDialogClick(IDOK);
    EXPECT_EQ(dlg.doModal(), IDOK);
    EXPECT_EQ(dlg.cellName(), "CATALOG.031");
    EXPECT_EQ(dlg.catalogPath(), "ENC_ROOT");
    EXPECT_EQ(dlg.outputFile(), file("out/CATALOG.031"));
    EXPECT_EQ(dlg.createTopology(), 0);
    EXPECT_NE(ui::scripted::transcript().find("list [Cell Name Selection] \"US5MA12M.000\" \"ENC_ROOT\\CATALOG.031\" -> 1"),
              std::string::npos)
        << ui::scripted::transcript();
}

// The flag is decided at every OK: a Yes to 162 at an OK that 164 then stops does not outlive a
// later OK with the box cleared.
TEST_F(Scripted, ExportDialogAsksBeforeRebuildingTopologyAndBeforeOverwriting) {
    const std::string existing = file("US5MA12M.000");
    { std::ofstream(existing) << "x"; }
    gdb2s57dlg dlg("g.gpkg", twoEntries());
    ui::scripted::pushDialogText(IDC_FILE, existing);
    ui::scripted::pushDialogClick(IDOK);  // 162: No, the dialog stays
    ui::scripted::pushAnswer(IDNO);
    ui::scripted::pushDialogClick(IDOK);  // 162: Yes; 164: No, the dialog stays
    ui::scripted::pushAnswer(IDYES);
    ui::scripted::pushAnswer(IDNO);
    ui::scripted::pushDialogCheck(IDC_TOPOLOGY, false);
    ui::scripted::pushDialogClick(IDOK);  // no 162; 164: Yes
    ui::scripted::pushAnswer(IDYES);
    EXPECT_EQ(dlg.doModal(), IDOK);
    EXPECT_EQ(dlg.createTopology(), 0);
    EXPECT_EQ(dlg.outputFile(), existing);
    std::vector<std::string> asked;
    for (const auto& e : ui::scripted::events())
        if (e.kind == ui::Event::Kind::Message) asked.push_back(e.caption + ": " + e.text.substr(0, 24));
    EXPECT_EQ(asked, (std::vector<std::string>{
                         "Geodatabase to S-57: You choose to create new",
                         "Geodatabase to S-57: You choose to create new",
                         "Geodatabase to S-57: File exists. Do you want",
                         "Geodatabase to S-57: File exists. Do you want",
                     }));

    gdb2s57dlg again("g.gpkg", twoEntries());
    ui::scripted::pushDialogText(IDC_FILE, file("new.000"));
    ui::scripted::pushDialogClick(IDOK);
    ui::scripted::pushAnswer(IDYES);
    EXPECT_EQ(again.doModal(), IDOK);
    EXPECT_EQ(again.createTopology(), 1);
}

// ---- Clicks in a host application over a real geodatabase -----------------------------------------------

class HostClick : public Scripted {
protected:
    void SetUp() override {
        Scripted::SetUp();
        gdb_ = file("charts.gpkg");
        ui::setForm(ui::Form::Batch);  // the template's catalogue load says nothing
        ASSERT_EQ(createGeodatabase(gdb_.c_str(), "S57", nullptr, nullptr, nullptr), S_OK);
        ui::setForm(ui::Form::Scripted);
        const std::string map = file("charts.xml");
        ASSERT_GT(host::newMapDocument(gdb_, "S57", map), 0);
        app_ = new host::Application();
        host::loadMapDocument(map, app_->document());
    }
    void TearDown() override {
        if (app_) app_->shutdown();
        app_ = nullptr;
        Scripted::TearDown();
    }
    ICommandPtr add(const char* progId, const CLSID& clsid) {
        ICommandPtr cmd = makeCommand(clsid);
        app_->addCommand(progId, cmd);
        return cmd;
    }
    long rows(const std::string& gdb, const std::string& table) {
        sqlite3* db = nullptr;
        long n = -1;
        if (sqlite3_open_v2(gdb.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_stmt* st = nullptr;
            if (sqlite3_prepare_v2(db, ("SELECT count(*) FROM " + table).c_str(), -1, &st, nullptr) == SQLITE_OK &&
                sqlite3_step(st) == SQLITE_ROW)
                n = sqlite3_column_int64(st, 0);
            sqlite3_finalize(st);
        }
        sqlite3_close(db);
        return n;
    }
    std::string gdb_;
    _com_ptr_t<host::Application> app_;
};

TEST_F(HostClick, CancelledImportStartsNothing) {
    add("Tarvo.s572gdbCmd", CLSID_s572gdbCmd);
    ui::scripted::pushDialogClick(IDCANCEL);
    EXPECT_TRUE(app_->click("Tarvo.s572gdbCmd"));
    EXPECT_EQ(rows(gdb_, "dsid"), -1);  // the import makes table dsid: it never ran
    const std::string t = ui::scripted::transcript();
    EXPECT_NE(t.find("dialog [S-57 to Geodatabase] 201 = " + gdb_), std::string::npos) << t;
    EXPECT_EQ(t.find("message"), std::string::npos) << t;
}

TEST_F(HostClick, ImportThroughTheDialogEqualsTheDirectImport) {
    if (!testdata::present()) GTEST_SKIP() << "no test data at " << testdata::root();
    const std::string cell = file("US5MA12M.000");
    fs::create_symlink(testdata::path("enc/US5MA12M/US5MA12M.000"), cell);
    add("Tarvo.s572gdbCmd", CLSID_s572gdbCmd);
    ui::scripted::pushDialogClick(IDC_BROWSE);
    ui::scripted::pushFile(cell);
    ui::scripted::pushDialogClick(IDOK);
    ui::scripted::pushAnswer(IDNO);  // the log is not shown
    EXPECT_TRUE(app_->click("Tarvo.s572gdbCmd"));
    ASSERT_EQ(rows(gdb_, "dsid"), 1) << ui::scripted::transcript();

    const std::string direct = file("direct.gpkg");
    ui::setForm(ui::Form::Batch);
    ASSERT_EQ(createGeodatabase(direct.c_str(), "S57", nullptr, nullptr, nullptr), S_OK);
    ASSERT_EQ(s572gdb(cell.c_str(), direct.c_str(), "S57"), 0);
    ui::setForm(ui::Form::Scripted);
    for (const char* table : {"dsid", "dssi", "dspm", "srel", "frel", "dsnm", "SoundingFeature", "CoastlineAreaFeature"})
        EXPECT_EQ(rows(gdb_, table), rows(direct, table)) << table;

    // Export: the geodatabase now holds one cell and no catd: the list holds the cell alone.
    IWorkspacePtr workspace;
    ASSERT_EQ(openWorkspace(gdb_.c_str(), &workspace), S_OK);
    std::vector<gdb2s57dlg::Entry> entries;
    ASSERT_TRUE(cellEntries(workspace, entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "US5MA12M.000");
    EXPECT_EQ(entries[0].directory, "");
    workspace = nullptr;

    // The export command's dialog offers the cell; Cancel runs nothing.
    add("Tarvo.gdb2s57Cmd", CLSID_gdb2s57Cmd);
    ui::scripted::reset();
    ui::scripted::pushDialogClick(IDC_CELL_BUTTON);
    ui::scripted::pushChoice(0);
    ui::scripted::pushDialogClick(IDCANCEL);
    EXPECT_TRUE(app_->click("Tarvo.gdb2s57Cmd"));
    const std::string t = ui::scripted::transcript();
    EXPECT_NE(t.find("dialog [Geodatabase to S-57] 201 = " + gdb_ + "\n"), std::string::npos) << t;
    EXPECT_NE(t.find("dialog [Geodatabase to S-57] 205 = US5MA12M.000\n"), std::string::npos) << t;
    EXPECT_NE(t.find("list [Cell Name Selection] \"US5MA12M.000\" -> 0\n"), std::string::npos) << t;
    EXPECT_NE(t.find("dialog [Geodatabase to S-57] -> 2\n"), std::string::npos) << t;
    EXPECT_EQ(t.find("message"), std::string::npos) << t;
}

TEST_F(HostClick, ExportOfAGeodatabaseWithoutCellsShowsItsMessageAndNoDialog) {
    add("Tarvo.gdb2s57Cmd", CLSID_gdb2s57Cmd);
    EXPECT_TRUE(app_->click("Tarvo.gdb2s57Cmd"));
    EXPECT_EQ(ui::scripted::transcript(),
              "message [Geodatabase to S-57] Unable to open dsid table -2147217407 (OK) -> OK\n");

    // An empty dsid: message 108 with the count.
    {
        IWorkspacePtr workspace;
        ASSERT_EQ(openWorkspace(gdb_.c_str(), &workspace), S_OK);
        ITablePtr dsid;
        ASSERT_EQ(createGDBTable(IFeatureWorkspacePtr(workspace), "dsid", &dsid, 16, dsidFieldDefs), S_OK);
    }
    ui::scripted::reset();
    EXPECT_TRUE(app_->click("Tarvo.gdb2s57Cmd"));
    EXPECT_EQ(ui::scripted::transcript(),
              "message [Geodatabase to S-57] No cell information found in dsid table. 0 (OK) -> OK\n");
}

TEST_F(HostClick, ClickThatNeedsADialogFailsCleanlyInBatch) {
    ICommandPtr cmd = add("Tarvo.s572gdbCmd", CLSID_s572gdbCmd);
    ui::setForm(ui::Form::Batch);
    EXPECT_EQ(cmd->raw_OnClick(), E_ABORT);
    ui::setForm(ui::Form::Scripted);
    EXPECT_EQ(rows(gdb_, "dsid"), -1);
}

}  // namespace
