// platform/gdb/pg_gdb.cpp: the enterprise geodatabase on PostgreSQL with PostGIS, over libpq: the
// workspace factory that opens a connection file, connects, and makes the side tables the
// GeoPackage backend keeps (datasets and their classes, the versioned flag, subtypes, topologies) in
// the connection's current schema, names compared without regard to case (citext).
// The workspace is the personal geodatabase's objects over the server's storage (pg_store.h).
#include <cctype>
#include <filesystem>
#include <mutex>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/class_registry.h"
#include "platform/com/com_error.h"
#include "platform/com/unknown.h"
#include "platform/gdb/gdb.h"
#include "platform/gdb/pg_schema.h"
#include "platform/gdb/geodatabase_objects.h"
#include "platform/gdb/pg_session.h"
#include "platform/gdb/pg_store.h"
#include "platform/gdb/sde_connection.h"

namespace {

using gdb::SdeConnection;

[[noreturn]] void raise(HRESULT hr, const std::string& text) { throw _com_error(hr, fromUtf8(text)); }

void ensureSchema(gdb::PgSession& s) {
    if (PQntuples(s.exec("SELECT 1 FROM pg_extension WHERE extname = $1", {gdb::Val{gdb::Val::Text, 0, 0, "postgis"}}).get()) == 0)
        s.fail(GDB_E_BAD_PATH, "the database has no PostGIS");
    // Sent together, they run as one transaction: all made, or none.
    std::vector<gdb::PgSession::Statement> all;
    for (const std::string& sql : gdb::pgSideTableSql()) all.push_back({sql, {}});
    s.execAll(all);
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

}  // namespace

namespace gdb {

// A workspace on the server of conn; path (the connection file, may be empty) names it.
IWorkspacePtr openSdeWorkspace(const SdeConnection& conn, const std::string& path) {
    checkVersion(conn);
    // One connection a connection file in the process (a second writer would wait for the first's lock).
    std::error_code ec;
    const std::string key = path.empty() ? std::string()
                                         : "sde:" + std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec).string();
    auto open = [&]() -> IWorkspacePtr {
        if (key.empty()) return nullptr;
        auto it = registry().find(key);
        if (it != registry().end() && !it->second->db().lost()) return IWorkspacePtr(static_cast<IWorkspace*>(it->second));
        return nullptr;
    };
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        if (IWorkspacePtr ws = open()) return ws;
    }
    auto session = PgSession::open(conn);
    try {
        ensureSchema(*session);
    } catch (const _com_error&) {
        // A connection kept from an earlier workspace that the server has ended since: a new one.
        if (PQstatus(session->raw()) == CONNECTION_OK) throw;
        session = std::make_unique<PgSession>(conn);
        ensureSchema(*session);
    }
    std::lock_guard<std::mutex> lock(registryMutex());
    if (IWorkspacePtr ws = open()) {
        PgSession::keep(std::move(session));
        return ws;
    }
    auto* ws = new WorkspaceImpl(path, key, makePgStore(std::move(session)));
    IWorkspacePtr hold(static_cast<IWorkspace*>(ws));
    if (!key.empty()) registry()[key] = ws;
    return hold;
}

IWorkspacePtr openSdeWorkspace(const std::string& path) { return openSdeWorkspace(readSdeConnection(path), path); }

}  // namespace gdb

namespace {

IWorkspacePtr open(const SdeConnection& conn, const std::string& path) { return gdb::openSdeWorkspace(conn, path); }

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
            *ws = open(fromProperties(props), "").Detach();
            return S_OK;
        });
    }
    HRESULT raw_OpenFromFile(BSTR path, HWND, IWorkspace** ws) override {
        return comGuard([&] {
            if (!ws) return E_POINTER;
            *ws = nullptr;
            const std::string file = toUtf8(path ? path : L"");
            *ws = open(gdb::readSdeConnection(file), file).Detach();
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
