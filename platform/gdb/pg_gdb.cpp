// platform/gdb/pg_gdb.cpp: the enterprise geodatabase on PostgreSQL with PostGIS, over libpq: the
// workspace factory that opens a connection file, connects, and makes the side tables the
// GeoPackage backend keeps (datasets and their classes, the versioned flag, subtypes, topologies) in
// the connection's current schema, names compared without regard to case (citext).
// Tables, feature classes and edit sessions on the server are not there yet: opening a workspace
// ends, after the connection and the schema, with GDB_E_NOT_SUPPORTED saying so.
#include <libpq-fe.h>

#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/class_registry.h"
#include "platform/com/com_error.h"
#include "platform/com/unknown.h"
#include "platform/gdb/gdb.h"
#include "platform/gdb/pg_schema.h"
#include "platform/gdb/sde_connection.h"

namespace {

using gdb::SdeConnection;

[[noreturn]] void raise(HRESULT hr, const std::string& text) { throw _com_error(hr, fromUtf8(text)); }

struct Finish {
    void operator()(PGconn* c) const noexcept { PQfinish(c); }
};
using PgConn = std::unique_ptr<PGconn, Finish>;
struct Clear {
    void operator()(PGresult* r) const noexcept { PQclear(r); }
};
using PgResult = std::unique_ptr<PGresult, Clear>;

// A server's message with the password cut out, should it ever quote it.
std::string withoutSecret(std::string text, const std::string& password) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (password.empty()) return text;
    for (auto at = text.find(password); at != std::string::npos; at = text.find(password, at)) text.replace(at, password.size(), "***");
    return text;
}

// Runs one statement with its values as parameters (text), never pasted into the SQL.
PgResult exec(PGconn* c, const SdeConnection& conn, const std::string& sql, const std::vector<std::string>& params = {}) {
    std::vector<const char*> values;
    for (const auto& p : params) values.push_back(p.c_str());
    PgResult r(PQexecParams(c, sql.c_str(), int(values.size()), nullptr, values.data(), nullptr, nullptr, 0));
    const ExecStatusType st = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
        const std::string why = withoutSecret(r ? PQresultErrorMessage(r.get()) : PQerrorMessage(c), conn.password);
        raise(GDB_E_SQL, "enterprise geodatabase (" + conn.describe() + "): " + why + " in: " + sql);
    }
    return r;
}

PgConn connect(const SdeConnection& conn) {
    const std::string info = conn.conninfo() + " connect_timeout=10 fallback_application_name=tarvo";
    PgConn c(PQconnectdb(info.c_str()));
    if (!c) raise(E_OUTOFMEMORY, "out of memory");
    if (PQstatus(c.get()) != CONNECTION_OK)
        raise(GDB_E_CONNECTION, "cannot connect to the enterprise geodatabase (" + conn.describe() + "): " +
                                    withoutSecret(PQerrorMessage(c.get()), conn.password));
    // Values travel as UTF-8 whatever the server's default.
    exec(c.get(), conn, "SET client_encoding TO 'UTF8'");
    return c;
}

void ensureSchema(PGconn* c, const SdeConnection& conn) {
    PgResult postgis = exec(c, conn, "SELECT 1 FROM pg_extension WHERE extname = $1", {"postgis"});
    if (PQntuples(postgis.get()) == 0)
        raise(GDB_E_BAD_PATH, "enterprise geodatabase (" + conn.describe() + "): the database has no PostGIS");
    exec(c, conn, "BEGIN");
    try {
        for (const std::string& sql : gdb::pgSideTableSql()) exec(c, conn, sql);
        exec(c, conn, "COMMIT");
    } catch (...) {
        PgResult(PQexec(c, "ROLLBACK"));
        throw;
    }
}

// Versions are not kept apart on the server: only the default version opens.
void checkVersion(const SdeConnection& conn) {
    std::string v = conn.version;
    if (auto dot = v.rfind('.'); dot != std::string::npos) v = v.substr(dot + 1);
    for (auto& ch : v) ch = char(std::toupper(static_cast<unsigned char>(ch)));
    if (!v.empty() && v != "DEFAULT")
        raise(GDB_E_NOT_FOUND, "enterprise geodatabase (" + conn.describe() + "): no version " + conn.version);
}

const wchar_t* const kKeys[] = {L"SERVER", L"INSTANCE", L"DATABASE", L"USER", L"PASSWORD", L"VERSION"};

std::string property(IPropertySet* props, const wchar_t* key) {
    _variant_t v;
    if (FAILED(props->raw_GetProperty(_bstr_t(key).GetBSTR(), &v)) || v.vt == VT_EMPTY) return {};
    if (v.vt != VT_BSTR) raise(E_INVALIDARG, "connection property " + toUtf8(key) + " must be text");
    return toUtf8(v.bstrVal ? v.bstrVal : L"");
}

SdeConnection fromProperties(IPropertySet* props) {
    if (!props) raise(E_POINTER, "no connection properties");
    SdeConnection c;
    std::string* fields[] = {&c.server, &c.instance, &c.database, &c.user, &c.password, &c.version};
    for (std::size_t i = 0; i < std::size(kKeys); ++i) *fields[i] = property(props, kKeys[i]);
    if (c.database.empty()) raise(GDB_E_BAD_PATH, "connection properties without DATABASE");
    return c;
}

IPropertySetPtr toProperties(const SdeConnection& c) {
    IPropertySetPtr p(CLSID_PropertySet);
    const std::string* fields[] = {&c.server, &c.instance, &c.database, &c.user, &c.password, &c.version};
    for (std::size_t i = 0; i < std::size(kKeys); ++i)
        if (!fields[i]->empty()) p->SetProperty(_bstr_t(kKeys[i]), _variant_t(fromUtf8(*fields[i]).c_str()));
    return p;
}

void open(const SdeConnection& conn) {
    checkVersion(conn);
    PgConn c = connect(conn);
    ensureSchema(c.get(), conn);
    raise(GDB_E_NOT_SUPPORTED, "enterprise geodatabase (" + conn.describe() +
                                   "): connected, but its tables and feature classes are not yet supported");
}

class SdeWorkspaceFactory final : public ComObject<IWorkspaceFactory> {
public:
    HRESULT raw_Create(BSTR, BSTR, IPropertySet*, HWND, IWorkspace** ws) override {
        if (ws) *ws = nullptr;
        setErrorDescription(std::string_view("an enterprise geodatabase is made on its server, then opened"));
        return GDB_E_NOT_SUPPORTED;
    }
    HRESULT raw_Open(IPropertySet* props, HWND, IWorkspace** ws) override {
        return comGuard([&] {
            if (!ws) return E_POINTER;
            *ws = nullptr;
            open(fromProperties(props));
            return S_OK;
        });
    }
    HRESULT raw_OpenFromFile(BSTR path, HWND, IWorkspace** ws) override {
        return comGuard([&] {
            if (!ws) return E_POINTER;
            *ws = nullptr;
            open(gdb::readSdeConnection(toUtf8(path ? path : L"")));
            return S_OK;
        });
    }
    HRESULT raw_ReadConnectionPropertiesFromFile(BSTR path, IPropertySet** out) override {
        return comGuard([&] {
            if (!out) return E_POINTER;
            *out = nullptr;
            *out = toProperties(gdb::readSdeConnection(toUtf8(path ? path : L""))).Detach();
            return S_OK;
        });
    }
    HRESULT raw_IsWorkspace(BSTR path, VARIANT_BOOL* out) override {
        return comGuard([&] {
            if (!out) return E_POINTER;
            *out = VARIANT_FALSE;
            try {
                gdb::readSdeConnection(toUtf8(path ? path : L""));
                *out = VARIANT_TRUE;
            } catch (const _com_error&) {
            }
            return S_OK;
        });
    }
};

const ComClassRegistrar kRegistrar{CLSID_SdeWorkspaceFactory, "Gdb.SdeWorkspaceFactory.1",
                                   &createComInstance<SdeWorkspaceFactory>};

}  // namespace
