// tests/platform/gdb/pg_test.cpp: the enterprise geodatabase on the PostgreSQL test server: opening
// through a connection file makes the side tables and opens the workspace; a refused connection says which server and
// database, and never the password.
#include <cstdlib>
#include <fstream>

#include "gdb_fixture.h"
#include "support/pg_server.h"

using namespace gdbtest;

namespace {

const std::string kSecret = "wr0ng-Secret-77";

std::string writeSde(const TempDir& dir, const std::string& text) {
    const std::string path = (dir.path / "conn.sde").string();
    std::ofstream(path) << text;
    return path;
}

std::string descriptionOf(const _com_error& e) { return e.Description().length() ? std::string(e.Description()) : ""; }

// Opens the connection file; returns the error, S_OK when the workspace opened.
_com_error openSde(const std::string& path) {
    IWorkspaceFactoryPtr f(CLSID_SdeWorkspaceFactory);
    try {
        f->OpenFromFile(path.c_str());
    } catch (const _com_error& e) {
        return e;
    }
    return _com_error(S_OK);
}

TEST(Enterprise, OpeningMakesTheSideTablesOnceWithNamesWithoutCase) {
    SKIP_WITHOUT_PG();
    pgtest::TempDatabase db;
    TempDir dir;
    const std::string sde = writeSde(dir, "INSTANCE=" + pgtest::keyword("host") + "\nDATABASE=" + db.name +
                                              "\nUSER=" + pgtest::keyword("user") + "\n");
    // The socket folder stands for the server; the port is the cluster's.
    setenv("PGPORT", pgtest::keyword("port").c_str(), 1);
    for (int i = 0; i < 2; ++i) {
        const _com_error e = openSde(sde);
        EXPECT_EQ(e.Error(), S_OK) << descriptionOf(e);
    }
    unsetenv("PGPORT");
    pgtest::Conn c = pgtest::connect(db.name);
    for (const char* t : {"gdb_items", "gdb_subtypes", "gdb_topologies", "gdb_topology_classes"})
        EXPECT_EQ(pgtest::query(c.get(), std::string("SELECT to_regclass('") + t + "') IS NOT NULL"), "t") << t;
    pgtest::query(c.get(), "INSERT INTO gdb_items (name, kind, versioned) VALUES ('S57', 'dataset', 1)");
    EXPECT_EQ(pgtest::query(c.get(), "SELECT versioned FROM gdb_items WHERE name = 's57'"), "1");
}

TEST(Enterprise, PasswordFromTheEnvironmentWhenTheFileHasNone) {
    SKIP_WITHOUT_PG();
    TempDir dir;
    const std::string sde = writeSde(dir, "SERVER=127.0.0.1\nINSTANCE=" + pgtest::keyword("port") + "\nDATABASE=" +
                                              pgtest::keyword("dbname") + "\nUSER=" + pgtest::keyword("user") + "\n");
    setenv("PGPASSWORD", pgtest::password().c_str(), 1);
    const _com_error e = openSde(sde);
    unsetenv("PGPASSWORD");
    EXPECT_EQ(e.Error(), S_OK) << descriptionOf(e);
}

struct RefusalCase {
    const char* name;
    bool tcp;              // 127.0.0.1 and the cluster's port, else the socket folder
    const char* instance;  // instead of the cluster's port
    const char* database;  // instead of the test database
    const char* version;
    HRESULT expected;
};
const RefusalCase kRefusals[] = {
    {"WrongPassword", true, nullptr, nullptr, nullptr, GDB_E_CONNECTION},
    {"UnknownDatabase", false, nullptr, "no_such_charts", nullptr, GDB_E_CONNECTION},
    {"ServerNotRunning", true, "1", nullptr, nullptr, GDB_E_CONNECTION},
    {"NamedVersion", false, nullptr, nullptr, "EDITOR.Survey2026", GDB_E_NOT_FOUND},
    {"DatabaseWithoutPostgis", false, nullptr, "postgres", nullptr, GDB_E_BAD_PATH},
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }
class EnterpriseRefusal : public ::testing::TestWithParam<RefusalCase> {};
TEST_P(EnterpriseRefusal, NamesServerAndDatabaseButNeverThePassword) {
    SKIP_WITHOUT_PG();
    const RefusalCase& c = GetParam();
    TempDir dir;
    const std::string server = c.tcp ? "127.0.0.1" : pgtest::keyword("host");
    const std::string database = c.database ? c.database : pgtest::keyword("dbname");
    std::string text = "SERVER=" + server + "\nDATABASE=" + database + "\nUSER=" + pgtest::keyword("user") +
                       "\nPASSWORD=" + kSecret + "\n";
    if (c.tcp) text += "INSTANCE=" + std::string(c.instance ? c.instance : pgtest::keyword("port").c_str()) + "\n";
    if (c.version) text += "VERSION=" + std::string(c.version) + "\n";
    if (!c.tcp) setenv("PGPORT", pgtest::keyword("port").c_str(), 1);
    const _com_error e = openSde(writeSde(dir, text));
    unsetenv("PGPORT");
    const std::string why = descriptionOf(e);
    EXPECT_EQ(e.Error(), c.expected) << why;
    EXPECT_NE(why.find("server " + server), std::string::npos) << why;
    EXPECT_NE(why.find("database " + database), std::string::npos) << why;
    EXPECT_EQ(why.find(kSecret), std::string::npos) << why;
}
INSTANTIATE_TEST_SUITE_P(Connections, EnterpriseRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(Enterprise, ConnectionPropertiesCarryTheFileKeys) {
    TempDir dir;
    const std::string sde = writeSde(dir, "SERVER=db.example\nDATABASE=charts\nPASSWORD=" + kSecret + "\n");
    IWorkspaceFactoryPtr f(CLSID_SdeWorkspaceFactory);
    IPropertySetPtr p = f->ReadConnectionPropertiesFromFile(sde.c_str());
    EXPECT_EQ(std::string(_bstr_t(p->GetProperty(L"SERVER"))), "db.example");
    EXPECT_EQ(std::string(_bstr_t(p->GetProperty(L"DATABASE"))), "charts");
    EXPECT_EQ(f->IsWorkspace(sde.c_str()), VARIANT_TRUE);
    EXPECT_EQ(f->IsWorkspace((dir.path / "none.sde").string().c_str()), VARIANT_FALSE);
}

}  // namespace
