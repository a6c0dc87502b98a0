// tests/platform/gdb/sde_connection_test.cpp: reading ".sde" connection files: the keys, the errors
// that name the key and the file, and the password kept out of every message.
#include <fstream>

#include "gdb_fixture.h"
#include "platform/gdb/sde_connection.h"

using namespace gdbtest;

namespace {

const char* kSecret = "s3cr3t-Pa55";

struct FileCase {
    const char* name;
    const char* content;
    HRESULT expected;
    const char* message;  // the error names this (with the file), or nothing for S_OK
};
const FileCase kFiles[] = {
    {"AllKeys", "SERVER=db.example\nINSTANCE=5433\nDATABASE=charts\nUSER=tarvo\nPASSWORD=s3cr3t-Pa55\nVERSION=hydro.DEFAULT\n",
     S_OK, nullptr},
    {"LowerCaseKeysSpacesAndCrLf", "  database = charts \r\n\r\nuser=tarvo\r\n", S_OK, nullptr},
    {"UnknownKey", "DATABASE=charts\nPASWORD=s3cr3t-Pa55\n", GDB_E_BAD_PATH, "unknown key PASWORD"},
    {"NoDatabase", "SERVER=db.example\nPASSWORD=s3cr3t-Pa55\n", GDB_E_BAD_PATH, "no DATABASE"},
    {"EmptyDatabase", "DATABASE=\n", GDB_E_BAD_PATH, "no DATABASE"},
    {"NotKeyValue", "DATABASE=charts\ns3cr3t-Pa55\n", GDB_E_BAD_PATH, "line 2 is not KEY=VALUE"},
    {"RepeatedKey", "DATABASE=charts\nPASSWORD=a\npassword=s3cr3t-Pa55\n", GDB_E_BAD_PATH, "key PASSWORD given twice"},
};
void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class SdeConnectionFile : public ::testing::TestWithParam<FileCase> {};
TEST_P(SdeConnectionFile, ReadsKeysAndNamesTheFaultWithoutThePassword) {
    const FileCase& c = GetParam();
    TempDir dir;
    const std::string path = (dir.path / "conn.sde").string();
    std::ofstream(path, std::ios::binary) << c.content;
    try {
        gdb::SdeConnection conn = gdb::readSdeConnection(path);
        ASSERT_EQ(c.expected, S_OK) << "read a faulty file";
        EXPECT_EQ(conn.database, "charts");
        EXPECT_EQ(conn.describe().find(kSecret), std::string::npos);
    } catch (const _com_error& e) {
        EXPECT_EQ(e.Error(), c.expected);
        const std::string text(_bstr_t(e.Description()));
        ASSERT_NE(c.message, nullptr) << text;
        EXPECT_NE(text.find(c.message), std::string::npos) << text;
        EXPECT_NE(text.find(path), std::string::npos) << text;
        EXPECT_EQ(text.find(kSecret), std::string::npos) << text;
    }
}
INSTANTIATE_TEST_SUITE_P(Files, SdeConnectionFile, ::testing::ValuesIn(kFiles),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(SdeConnection, AllKeysReachTheirFields) {
    TempDir dir;
    const std::string path = (dir.path / "conn.sde").string();
    std::ofstream(path) << kFiles[0].content;
    const gdb::SdeConnection c = gdb::readSdeConnection(path);
    EXPECT_EQ(c.server, "db.example");
    EXPECT_EQ(c.instance, "5433");
    EXPECT_EQ(c.user, "tarvo");
    EXPECT_EQ(c.password, kSecret);
    EXPECT_EQ(c.version, "hydro.DEFAULT");
    EXPECT_EQ(c.describe(), "server db.example, database charts, user tarvo");
}

TEST(SdeConnection, MissingFileIsNotFound) {
    EXPECT_EQ(resultOf([] { gdb::readSdeConnection("/nonexistent/conn.sde"); }), GDB_E_NOT_FOUND);
}

struct ConninfoCase {
    const char* name;
    gdb::SdeConnection conn;
    const char* conninfo;
};
const ConninfoCase kConninfo[] = {
    {"PortInstance", {"f", "db.example", "5433", "charts", "tarvo", "", ""},
     "dbname='charts' host='db.example' port='5433' user='tarvo'"},
    {"SocketFolderInstance", {"f", "", "/run/postgresql", "charts", "", "", ""}, "dbname='charts' host='/run/postgresql'"},
    // Without a password libpq's password file and PGPASSWORD answer.
    {"NoPassword", {"f", "h", "", "charts", "", "", ""}, "dbname='charts' host='h'"},
    // A value is quoted, so that it cannot add keywords of its own.
    {"QuotedValues", {"f", "", "", "my db", "o'neil", "a\\b' host='evil", ""},
     "dbname='my db' user='o\\'neil' password='a\\\\b\\' host=\\'evil'"},
};
void PrintTo(const ConninfoCase& c, std::ostream* os) { *os << c.name; }
class SdeConninfo : public ::testing::TestWithParam<ConninfoCase> {};
TEST_P(SdeConninfo, BuildsLibpqKeywords) { EXPECT_EQ(GetParam().conn.conninfo(), GetParam().conninfo); }
INSTANTIATE_TEST_SUITE_P(Connections, SdeConninfo, ::testing::ValuesIn(kConninfo),
                         [](const auto& i) { return std::string(i.param.name); });

}  // namespace
