// tests/tools/enterprise_test.cpp: `tarvo create`, `import` and `export` given an enterprise
// geodatabase's connection file (".sde"). A server that refuses (a wrong password, an unknown
// database, nothing listening) is one line naming the server and the database, exit 1, nothing
// made; the password is in no output and no file. On a working server: a versioned feature dataset
// refused with message 118 and nothing changed; GDAL reading the imported classes straight from the
// server as it reads the GeoPackage import of the same cell; four imports of four cells at once,
// and two of the same cell at once.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/pg_server.h"
#include "support/run_command.h"
#include "support/test_data.h"

namespace fs = std::filesystem;

namespace {

std::string tarvoPath() { return std::string(TARVO_BINARY_DIR) + "/bin/tarvo"; }

// `tarvo ARGS` in batch.
Ran tarvo(const std::string& args, const fs::path& dir) {
    static std::atomic<int> serial{0};
    const fs::path errPath = dir / ("err" + std::to_string(serial++));
    return runCommand(tarvoPath() + " " + args + " </dev/null", errPath);
}

// A port on 127.0.0.1 that nothing listens on (bound, then let go).
int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

class Folder {
public:
    Folder() {
        path_ = fs::temp_directory_path() / ("tarvo_sde_" + std::to_string(::getpid()) + "_" + std::to_string(serial()++));
        fs::create_directories(path_);
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    static int& serial() {
        static int n = 0;
        return n;
    }
    fs::path path_;
};

// A connection file over TCP to the test server (where the password is asked for).
std::string writeSde(const fs::path& file, const std::string& database, const std::string& password, int port = 0) {
    std::ofstream out(file);
    out << "SERVER=127.0.0.1\nINSTANCE=" << (port ? std::to_string(port) : pgtest::keyword("port"))
        << "\nDATABASE=" << database << "\nUSER=" << pgtest::keyword("user") << "\n";
    if (!password.empty()) out << "PASSWORD=" << password << "\n";
    return file.string();
}

// Every file under dir that holds `secret`, but the connection files.
std::vector<std::string> filesHolding(const fs::path& dir, const std::string& secret) {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        if (!e.is_regular_file() || e.path().extension() == ".sde") continue;
        if (slurp(e.path()).find(secret) != std::string::npos) out.push_back(e.path().string());
    }
    return out;
}

// A file that begins as an ISO/IEC 8211 file does: enough for the checks made before connecting.
std::string fakeCell(const fs::path& dir) {
    const fs::path p = dir / "CELL0001.000";
    std::ofstream(p) << "001233LE1 0900073   6604";
    return p.string();
}

// ---- A server that refuses ------------------------------------------------------------------------

struct Refusal {
    const char* name;
    enum Kind { WrongPassword, UnknownDatabase, NotRunning } kind;
};
const Refusal kRefusals[] = {
    {"WrongPassword", Refusal::WrongPassword},
    {"UnknownDatabase", Refusal::UnknownDatabase},
    {"ServerNotRunning", Refusal::NotRunning},
};

class RefusedConnection : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusedConnection, NamesServerAndDatabaseExitsOneAndNeverShowsThePassword) {
    SKIP_WITHOUT_PG();
    if (pgtest::password().empty()) GTEST_SKIP() << "the test server asks no password over TCP";
    Folder folder;
    const fs::path& dir = folder.path();
    const Refusal& c = GetParam();
    const std::string database = c.kind == Refusal::UnknownDatabase ? "tarvo_no_such_database" : "tarvo_test";
    const std::string password = c.kind == Refusal::WrongPassword ? "wrong-" + pgtest::password() : pgtest::password();
    const std::string sde =
        writeSde(dir / "charts.sde", database, password, c.kind == Refusal::NotRunning ? freePort() : 0);
    const std::string cell = fakeCell(dir);
    const std::vector<std::string> commands = {
        "create " + quote(sde),
        "create " + quote(sde) + " --versioned",
        "import " + quote(cell) + " " + quote(sde),
        "export " + quote(sde) + " " + quote((dir / "OUT00001.000").string()),
    };
    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        const Ran r = tarvo(command, dir);
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("server 127.0.0.1"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("database " + database), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(password), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(pgtest::password()), std::string::npos) << r.err;
    }
    EXPECT_EQ(filesHolding(dir, pgtest::password()), std::vector<std::string>{});
    // Nothing was made: no log, no output.
    EXPECT_FALSE(fs::exists(dir / "CELL0001.log"));
    EXPECT_FALSE(fs::exists(dir / "OUT00001.000"));
    EXPECT_FALSE(fs::exists(dir / "OUT00001.log"));
}

INSTANTIATE_TEST_SUITE_P(Server, RefusedConnection, ::testing::ValuesIn(kRefusals),
                         [](const auto& i) { return std::string(i.param.name); });

// A connection file in error is named with what is wrong, before anything is made.
TEST(ConnectionFile, InErrorIsNamedBeforeAnythingIsMade) {
    Folder folder;
    const fs::path& dir = folder.path();
    const std::string sde = (dir / "bad.sde").string();
    std::ofstream(sde) << "DATABASE=charts\nPASSWRD=s3cret-value\n";
    const Ran r = tarvo("import " + quote(fakeCell(dir)) + " " + quote(sde), dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("unknown key PASSWRD"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(sde), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("s3cret-value"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "CELL0001.log"));
}

// A folder named like a connection file holds a personal geodatabase: imported as one, made whole.
TEST(ConnectionFile, FolderNamedSdeHoldsAPersonalGeodatabase) {
    SKIP_WITHOUT_DATA();
    Folder folder;
    const fs::path dir = folder.path() / "charts.sde";
    fs::create_directories(dir);
    fs::create_symlink(testdata::path("enc/US5MA12M/US5MA12M.000"), dir / "US5MA12M.000");
    const std::string gpkg = (dir / "new.gpkg").string();
    const Ran r = tarvo("import " + quote((dir / "US5MA12M.000").string()) + " " + quote(gpkg), folder.path());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Created " + gpkg), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Imported 1 cell"), std::string::npos) << r.out;
}

// ---- On a working server --------------------------------------------------------------------------

// Rows of every table of the database's public schema (PostGIS's own left out).
std::map<std::string, long> serverCounts(const std::string& database) {
    std::map<std::string, long> out;
    pgtest::Conn c = pgtest::connect(database);
    PGresult* r = PQexec(c.get(), "SELECT table_name FROM information_schema.tables WHERE table_schema = 'public' AND "
                                  "table_type = 'BASE TABLE' AND table_name <> 'spatial_ref_sys'");
    std::vector<std::string> tables;
    for (int i = 0; i < PQntuples(r); ++i) tables.emplace_back(PQgetvalue(r, i, 0));
    PQclear(r);
    for (const std::string& t : tables) {
        std::string quoted = "\"";
        for (char ch : t) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
        out[t] = std::stol(pgtest::query(c.get(), "SELECT count(*) FROM " + quoted + "\""));
    }
    return out;
}

// Tables whose OBJECTID repeats within the table.
std::vector<std::string> duplicateObjectIds(const std::string& database) {
    std::vector<std::string> out;
    pgtest::Conn c = pgtest::connect(database);
    PGresult* r = PQexec(c.get(), "SELECT table_name FROM information_schema.columns WHERE table_schema = 'public' "
                                  "AND column_name = 'OBJECTID'");
    std::vector<std::string> tables;
    for (int i = 0; i < PQntuples(r); ++i) tables.emplace_back(PQgetvalue(r, i, 0));
    PQclear(r);
    for (const std::string& t : tables)
        if (pgtest::query(c.get(), "SELECT count(*) - count(DISTINCT \"OBJECTID\") FROM \"" + t + "\"") != "0")
            out.push_back(t);
    return out;
}

struct Cell {
    const char* name;
    const char* path;  // under the data folder
};
const Cell kFourCells[] = {
    {"US4CN21M", "enc/US4CN21M/US4CN21M.000"},
    {"US5MA12M", "enc/US5MA12M/US5MA12M.000"},
    {"US1AK90M", "enc/US1AK90M/US1AK90M.000"},
    {"AA500002", "s58/AA500002/ENC_ROOT/AA500002.000"},
};

// A folder, a database of its own on the test server and its connection file; skips while the
// server's workspace cannot hold tables yet.
class OnServer : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_PG();
        SKIP_WITHOUT_DATA();
        if (pgtest::password().empty()) GTEST_SKIP() << "the test server asks no password over TCP";
    }
    // A new database (PostGIS only) and its connection file, named `name`.sde.
    std::string database(const std::string& name) {
        databases_.push_back(std::make_unique<pgtest::TempDatabase>());
        names_[name] = databases_.back()->name;
        return writeSde(dir() / (name + ".sde"), databases_.back()->name, pgtest::password());
    }
    std::string dbName(const std::string& name) { return names_[name]; }
    // The cell linked into a folder of its own (the log is written beside it).
    std::string cell(const Cell& c) {
        const fs::path d = dir() / c.name;
        fs::create_directories(d);
        const fs::path link = d / fs::path(c.path).filename();
        if (!fs::exists(link)) fs::create_symlink(testdata::path(c.path), link);
        return link.string();
    }
    // `tarvo create SDE [ARGS]`; false (with a skip) while the server holds no tables yet.
    bool create(const std::string& sde, const std::string& args = {}) {
        const Ran r = tarvo("create " + quote(sde) + args, dir());
        if (r.err.find("not yet supported") != std::string::npos) {
            skipped_ = "the enterprise workspace holds no tables yet: " + r.err;
            return false;
        }
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        return r.status == 0;
    }
    const fs::path& dir() const { return folder_.path(); }
    std::string skipped_;

private:
    Folder folder_;
    std::vector<std::unique_ptr<pgtest::TempDatabase>> databases_;
    std::map<std::string, std::string> names_;
};

#define CREATE_OR_SKIP(...)                                  \
    do {                                                     \
        if (!create(__VA_ARGS__)) {                          \
            if (!skipped_.empty()) GTEST_SKIP() << skipped_; \
            return;                                          \
        }                                                    \
    } while (0)

// Message 118, and not one row changed; every output names server, database and user, never the password.
TEST_F(OnServer, VersionedDatasetIsRefusedWith118AndNothingChanges) {
    const std::string sde = database("versioned");
    CREATE_OR_SKIP(sde, " --versioned");
    const auto before = serverCounts(dbName("versioned"));
    const Ran r = tarvo("import " + quote(cell(kFourCells[1])) + " " + quote(sde), dir());
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("Unable to update versioned Geodatabase"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("database " + dbName("versioned")), std::string::npos) << r.err;
    EXPECT_EQ(serverCounts(dbName("versioned")), before);
    EXPECT_EQ((r.out + r.err).find(pgtest::password()), std::string::npos);
    EXPECT_EQ(filesHolding(dir(), pgtest::password()), std::vector<std::string>{});
}

// Layer -> the layer's geometries as GDAL writes them (sorted), for every layer with features.
std::map<std::string, std::vector<std::string>> ogrGeometries(const std::string& source, const fs::path& dir,
                                                              const std::string& options = {}) {
    const Ran r = runCommand("ogrinfo -ro -q -al " + options + quote(source), dir / "ogrinfo.err");
    std::map<std::string, std::vector<std::string>> out;
    std::string layer;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Layer name: ", 0) == 0) {
            layer = line.substr(12);
            continue;
        }
        if (line.rfind("OGRFeature(", 0) == 0) {
            out[layer].push_back("");  // a feature without geometry
            continue;
        }
        // Field lines are "  NAME (Type) = value"; the geometry's line is its WKT.
        if (line.size() > 2 && line.compare(0, 2, "  ") == 0 && std::isupper(static_cast<unsigned char>(line[2])) &&
            line.find(" = ") == std::string::npos && !out[layer].empty())
            out[layer].back() = line.substr(2);
    }
    for (auto& [name, geometries] : out) std::sort(geometries.begin(), geometries.end());
    return out;
}

// GDAL reads the classes straight from the server with the features and geometries that it reads
// from the GeoPackage import of the same cell.
TEST_F(OnServer, GdalReadsTheServersClassesAsTheGeoPackagesOfTheSameCell) {
    if (std::system("ogrinfo --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ogrinfo is not installed";
    const std::string sde = database("gdal");
    CREATE_OR_SKIP(sde);
    const std::string input = cell(kFourCells[1]);
    const Ran onServer = tarvo("import " + quote(input) + " " + quote(sde), dir());
    ASSERT_EQ(onServer.status, 0) << onServer.err;
    const std::string gpkg = (dir() / "same.gpkg").string();
    const Ran inFile = tarvo("import " + quote(input) + " " + quote(gpkg), dir());
    ASSERT_EQ(inFile.status, 0) << inFile.err;

    const std::string pg = "PG:" + std::string(pgtest::conninfo()) + " dbname=" + dbName("gdal");
    // The tables without geometry too, as the GeoPackage lists its attribute tables.
    auto server = ogrGeometries(pg, dir(), "-oo LIST_ALL_TABLES=YES ");
    auto file = ogrGeometries(gpkg, dir());
    // Side tables of each backend are not classes of the geodatabase.
    for (auto* m : {&server, &file})
        for (auto it = m->begin(); it != m->end();)
            it = it->first.rfind("gdb_", 0) == 0 || it->first.rfind("gpkg_", 0) == 0 || it->first == "spatial_ref_sys"
                     ? m->erase(it)
                     : std::next(it);
    ASSERT_FALSE(file.empty());
    std::vector<std::string> differ;
    for (const auto& [layer, geometries] : file) {
        const auto it = server.find(layer);
        if (it == server.end())
            differ.push_back(layer + ": not read from the server");
        else if (it->second.size() != geometries.size())
            differ.push_back(layer + ": " + std::to_string(it->second.size()) + " features instead of " +
                             std::to_string(geometries.size()));
        else if (it->second != geometries)
            differ.push_back(layer + ": other geometries");
    }
    for (const auto& [layer, geometries] : server)
        if (!file.count(layer)) differ.push_back(layer + ": only on the server");
    EXPECT_EQ(differ, std::vector<std::string>{});
}

// Four imports of four cells into one new database at the same time: each as if alone.
TEST_F(OnServer, FourImportsOfFourCellsAtOnceLoseNothing) {
    const std::string together = database("together");
    // Alone first: each cell into a database of its own; the shared one is new, its template made by
    // whichever import comes first.
    std::map<std::string, long> expected;
    std::map<std::string, long> base;
    for (const Cell& c : kFourCells) {
        const std::string sde = database(std::string("alone_") + c.name);
        CREATE_OR_SKIP(sde);
        if (base.empty()) base = serverCounts(dbName(std::string("alone_") + c.name));
        const Ran r = tarvo("import " + quote(cell(c)) + " " + quote(sde), dir());
        ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
        for (const auto& [table, rows] : serverCounts(dbName(std::string("alone_") + c.name)))
            expected[table] += rows - (base.count(table) ? base[table] : 0);
    }
    for (const auto& [table, rows] : base) expected[table] += rows;

    std::vector<std::future<Ran>> runs;
    for (const Cell& c : kFourCells) {
        const std::string input = cell(c);
        runs.push_back(std::async(std::launch::async, [&, input] {
            return tarvo("import " + quote(input) + " " + quote(together), dir());
        }));
    }
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const Ran r = runs[i].get();
        EXPECT_EQ(r.status, 0) << kFourCells[i].name << ": " << r.out << r.err;
    }
    std::map<std::string, long> got = serverCounts(dbName("together"));
    // Only what a run makes counts: every table of the single imports, with what it holds.
    // The side tables describe the schema, made once whoever makes it: the rows imported are counted.
    std::vector<std::string> differ;
    for (const auto& [table, rows] : expected)
        if (table.rfind("gdb_", 0) != 0 && got[table] != rows)
            differ.push_back(table + ": " + std::to_string(got[table]) + " rows instead of " + std::to_string(rows));
    EXPECT_EQ(differ, std::vector<std::string>{});
    EXPECT_EQ(duplicateObjectIds(dbName("together")), std::vector<std::string>{});
}

// Two imports of one cell at once: one imports it, the other is refused as a duplicate.
TEST_F(OnServer, TwoImportsOfOneCellAtOnceImportItOnce) {
    const std::string once = database("once");
    CREATE_OR_SKIP(once);
    const std::string input = cell(kFourCells[1]);
    const Ran alone = tarvo("import " + quote(input) + " " + quote(once), dir());
    ASSERT_EQ(alone.status, 0) << alone.err;
    const auto expected = serverCounts(dbName("once"));

    const std::string twice = database("twice");
    CREATE_OR_SKIP(twice);
    // Each run's log goes beside its input: two links in two folders.
    const fs::path other = dir() / "again";
    fs::create_directories(other);
    fs::create_symlink(testdata::path(kFourCells[1].path), other / "US5MA12M.000");
    auto one = std::async(std::launch::async, [&] { return tarvo("import " + quote(input) + " " + quote(twice), dir()); });
    auto two = std::async(std::launch::async, [&] {
        return tarvo("import " + quote((other / "US5MA12M.000").string()) + " " + quote(twice), dir());
    });
    const Ran a = one.get(), b = two.get();
    EXPECT_EQ((a.status == 0) + (b.status == 0), 1) << a.out << a.err << b.out << b.err;
    const Ran& refused = a.status == 0 ? b : a;
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(serverCounts(dbName("twice")), expected);
    // The duplicate is named in the refused run's log; the run stops on the metadata it could not import.
    const fs::path log = (a.status == 0 ? other : dir() / kFourCells[1].name) / "US5MA12M.log";
    EXPECT_NE(slurp(log).find("Cell information already existed in dsnm table"), std::string::npos)
        << refused.err << slurp(log).substr(0, 2000);
}

}  // namespace
