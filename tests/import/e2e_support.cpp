// tests/import/e2e_support.cpp: the shared part of the end-to-end import tests (see the header).
#include "e2e_support.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <libpq-fe.h>

#include "import/s572gdbmain.h"
#include "platform/gdb/sde_connection.h"
#include "s57/gdb_template.h"
#include "support/pg_server.h"
#include "support/silence.h"

namespace fs = std::filesystem;

namespace e2e {

Scratch::Scratch() {
    char pattern[] = "/tmp/e2e_import_XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) throw std::runtime_error("mkdtemp failed");
    path_ = made;
}

Scratch::~Scratch() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string link(const std::string& target, const std::string& dir, const std::string& name) {
    const fs::path to = fs::path(dir) / name;
    fs::create_directories(to.parent_path());
    fs::create_symlink(target, to);
    return to.string();
}

std::string linkExchangeSet(const std::string& encRoot, const std::string& dir) {
    std::string catalog, cell;
    for (const auto& e : fs::directory_iterator(encRoot)) {
        const std::string name = e.path().filename().string();
        const std::string made = link(e.path().string(), dir, name);
        if (strcasecmp(name.c_str(), "CATALOG.031") == 0) catalog = made;
        if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".000") == 0) cell = made;
    }
    return catalog.empty() ? cell : catalog;
}

void copyTemplate(const std::string& to) {
    static Scratch folder;  // lives until the process ends, so the copy source stays
    static std::string made;
    if (made.empty()) {
        const std::string path = folder.file("template.gpkg");
        TemplateSummary summary;
        Silence quiet;
        if (FAILED(createGeodatabase(path.c_str(), "S57", nullptr, nullptr, &summary)))
            throw std::runtime_error("the geodatabase template cannot be made");
        made = path;
    }
    fs::copy_file(made, to, fs::copy_options::overwrite_existing);
}

std::vector<std::string> DriverRun::messages() const {
    std::vector<std::string> out;
    for (const auto& e : events)
        if (e.kind == ui::Event::Kind::Message) out.push_back(e.text);
    return out;
}

std::vector<long> DriverRun::positions() const {
    std::vector<long> out;
    for (const auto& e : events)
        if (e.kind == ui::Event::Kind::ProgressPosition) out.push_back(e.value);
    return out;
}

bool DriverRun::asked(const std::string& text) const {
    for (const auto& e : events)
        if (e.kind == ui::Event::Kind::Message && e.text == text) return true;
    return false;
}

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

DriverRun runDriver(const std::string& s57file, const std::string& gdb, const std::string& dataset,
                    std::vector<int> answers) {
    ui::setForm(ui::Form::Scripted);
    ui::scripted::reset();
    for (int a : answers) ui::scripted::pushAnswer(a);
    DriverRun run;
    {
        Silence quiet;
        run.result = s572gdb(s57file.c_str(), gdb.c_str(), dataset.c_str());
    }
    run.events = ui::scripted::events();
    run.log = readFile(importLogPath(s57file));
    ui::scripted::reset();
    return run;
}

// ---- SQLite ----------------------------------------------------------------------------------

namespace {

struct Db {
    sqlite3* db = nullptr;
    explicit Db(const std::string& file) {
        if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            const std::string msg = db ? sqlite3_errmsg(db) : "no memory";
            sqlite3_close(db);
            throw std::runtime_error("cannot open " + file + ": " + msg);
        }
    }
    ~Db() { sqlite3_close(db); }
};

struct Stmt {
    sqlite3_stmt* st = nullptr;
    Stmt(sqlite3* db, const std::string& sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
            throw std::runtime_error(sql + ": " + sqlite3_errmsg(db));
    }
    ~Stmt() { sqlite3_finalize(st); }
};

std::optional<std::string> text(sqlite3_stmt* st, int i) {
    if (sqlite3_column_type(st, i) == SQLITE_NULL) return std::nullopt;
    const auto* t = sqlite3_column_text(st, i);
    return std::string(t ? reinterpret_cast<const char*>(t) : "", std::size_t(sqlite3_column_bytes(st, i)));
}

std::string upper(std::string s) {
    for (auto& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string quoted(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

bool onServer(const std::string& file) {
    return file.size() > 4 && strcasecmp(file.c_str() + file.size() - 4, ".sde") == 0;
}

// The database of a connection file, read as libpq reads it.
struct PgDb {
    pgtest::Conn c;
    explicit PgDb(const std::string& sde) : c(PQconnectdb(gdb::readSdeConnection(sde).conninfo().c_str())) {
        if (PQstatus(c.get()) != CONNECTION_OK) throw std::runtime_error(PQerrorMessage(c.get()));
    }
    std::vector<Row> rows(const std::string& sql, const std::vector<std::string>& params = {}) {
        std::vector<const char*> values;
        for (const auto& p : params) values.push_back(p.c_str());
        PGresult* r = PQexecParams(c.get(), sql.c_str(), int(values.size()), nullptr, values.data(), nullptr,
                                   nullptr, 0);
        if (PQresultStatus(r) != PGRES_TUPLES_OK && PQresultStatus(r) != PGRES_COMMAND_OK) {
            const std::string error = PQresultErrorMessage(r);
            PQclear(r);
            throw std::runtime_error(sql + ": " + error);
        }
        std::vector<Row> out;
        for (int i = 0; i < PQntuples(r); ++i) {
            Row row;
            for (int k = 0; k < PQnfields(r); ++k)
                row.push_back(PQgetisnull(r, i, k) ? std::nullopt : std::optional<std::string>(PQgetvalue(r, i, k)));
            out.push_back(std::move(row));
        }
        PQclear(r);
        return out;
    }
    // The table's name as created, found without regard to case as the GeoPackage's; empty for none.
    std::string table(const std::string& name) {
        const auto r = rows("SELECT table_name FROM information_schema.tables WHERE table_schema = current_schema() "
                            "AND lower(table_name) = lower($1) ORDER BY table_name",
                            {name});
        return r.empty() ? std::string() : *r[0][0];
    }
    std::vector<std::string> columns(const std::string& table) {
        std::vector<std::string> out;
        for (const auto& r : rows("SELECT column_name FROM information_schema.columns WHERE table_schema = "
                                  "current_schema() AND table_name = $1 ORDER BY ordinal_position",
                                  {table}))
            out.push_back(*r[0]);
        return out;
    }
};

// A server's WKB (hex) as a GeoPackage blob: the standard header (little-endian, no envelope,
// SRS 4326) before it.
std::vector<unsigned char> gpkgBlob(const std::string& hex) {
    std::vector<unsigned char> out = {'G', 'P', 0, 1, 0xE6, 0x10, 0, 0};
    const auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<unsigned char>(digit(hex[i]) * 16 + digit(hex[i + 1])));
    return out;
}

}  // namespace

// ---- Backends ----------------------------------------------------------------------------------

TestGeodatabase::TestGeodatabase(Backend backend, const std::string& dir, const std::string& name) {
    if (backend == Backend::GeoPackage) {
        path = dir + "/" + name + ".gpkg";
        copyTemplate(path);
        return;
    }
    if (!pgtest::conninfo()) {
        skip = "no PostgreSQL test server: TARVO_PG_TEST is not set (.ci/with-pg-server runs the tests with one)";
        return;
    }
    database_ = std::make_unique<pgtest::TempDatabase>();
    const std::string sde = dir + "/" + name + ".sde";
    {
        std::ofstream out(sde);
        const std::string host = pgtest::keyword("host");
        // Over TCP with the password when the server asks for one, else over its socket folder.
        if (!pgtest::password().empty())
            out << "SERVER=127.0.0.1\nINSTANCE=" << pgtest::keyword("port") << "\nPASSWORD=" << pgtest::password() << "\n";
        else
            out << "INSTANCE=" << host << "\n";
        out << "DATABASE=" << database_->name << "\nUSER=" << pgtest::keyword("user") << "\n";
    }
    TemplateSummary summary;
    HRESULT hr;
    {
        Silence quiet;
        hr = createGeodatabase(sde.c_str(), "S57", nullptr, nullptr, &summary);
    }
    if (hr == GDB_E_NOT_SUPPORTED) {
        skip = "the enterprise geodatabase holds no tables yet (GDB_E_NOT_SUPPORTED)";
        return;
    }
    if (FAILED(hr)) throw std::runtime_error("the geodatabase template cannot be made on the server: " + std::to_string(hr));
    path = sde;
}

TestGeodatabase::~TestGeodatabase() = default;

std::vector<Row> query(const std::string& file, const std::string& sql) {
    if (onServer(file)) return PgDb(file).rows(sql);
    Db db(file);
    Stmt st(db.db, sql);
    std::vector<Row> rows;
    const int n = sqlite3_column_count(st.st);
    while (sqlite3_step(st.st) == SQLITE_ROW) {
        Row r;
        for (int i = 0; i < n; ++i) r.push_back(text(st.st, i));
        rows.push_back(std::move(r));
    }
    return rows;
}

std::optional<std::string> scalar(const std::string& file, const std::string& sql) {
    const auto rows = query(file, sql);
    if (rows.empty() || rows[0].empty()) return std::nullopt;
    return rows[0][0];
}

long count(const std::string& file, const std::string& table, const std::string& where) {
    if (onServer(file)) {
        PgDb db(file);
        const std::string name = db.table(table);
        if (name.empty()) return 0;
        const auto r = db.rows("SELECT count(*) FROM " + quoted(name) + (where.empty() ? "" : " WHERE " + where));
        return r.empty() ? -1 : std::stol(*r[0][0]);
    }
    const auto exists = scalar(file, "SELECT count(*) FROM sqlite_master WHERE type IN ('table','view') AND "
                                     "name = '" + table + "' COLLATE NOCASE");
    if (!exists || *exists == "0") return 0;
    const auto v = scalar(file, "SELECT count(*) FROM " + quoted(table) + (where.empty() ? "" : " WHERE " + where));
    return v ? std::stol(*v) : -1;
}

std::vector<std::string> tables(const std::string& file) {
    std::vector<std::string> out;
    if (onServer(file)) {
        for (const auto& r : PgDb(file).rows("SELECT table_name FROM information_schema.tables WHERE table_schema = "
                                             "current_schema() AND table_type = 'BASE TABLE' AND table_name <> "
                                             "'spatial_ref_sys'"))
            out.push_back(*r[0]);
        std::sort(out.begin(), out.end());
        return out;
    }
    for (const auto& r : query(file, "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'rtree_%' "
                                     "AND name NOT LIKE 'gpkg_%' AND name NOT LIKE 'sqlite_%' ORDER BY name"))
        out.push_back(*r[0]);
    return out;
}

std::vector<std::string> columns(const std::string& file, const std::string& table) {
    if (onServer(file)) {
        PgDb db(file);
        return db.columns(db.table(table));
    }
    std::vector<std::string> out;
    for (const auto& r : query(file, "PRAGMA table_info(" + quoted(table) + ")")) out.push_back(*r[1]);
    return out;
}

std::map<std::string, long> rowCounts(const std::string& file) {
    std::map<std::string, long> out;
    for (const auto& t : tables(file)) out[t] = count(file, t);
    return out;
}

std::vector<GeoRow> geoRows(const std::string& file, const std::string& table, const std::string& geomColumn) {
    if (onServer(file)) {
        PgDb db(file);
        const std::string name = db.table(table);
        const std::vector<std::string> names = db.columns(name);
        std::string select, order;
        for (const auto& c : names) {
            if (!select.empty()) select += ", ";
            select += upper(c) == upper(geomColumn) ? "encode(ST_AsBinary(" + quoted(c) + ", 'NDR'), 'hex')" : quoted(c);
            if (upper(c) == "OBJECTID") order = " ORDER BY " + quoted(c);
        }
        std::vector<GeoRow> rows;
        for (auto& r : db.rows("SELECT " + select + " FROM " + quoted(name) + order)) {
            GeoRow g;
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (upper(names[i]) == upper(geomColumn)) {
                    if (r[i]) g.geometry = gpkgBlob(*r[i]);
                } else {
                    g.values[upper(names[i])] = std::move(r[i]);
                }
            }
            rows.push_back(std::move(g));
        }
        return rows;
    }
    Db db(file);
    Stmt st(db.db, "SELECT * FROM " + quoted(table) + " ORDER BY rowid");
    const int n = sqlite3_column_count(st.st);
    std::vector<std::string> names;
    int geom = -1;
    for (int i = 0; i < n; ++i) {
        names.push_back(upper(sqlite3_column_name(st.st, i)));
        if (names.back() == upper(geomColumn)) geom = i;
    }
    std::vector<GeoRow> rows;
    while (sqlite3_step(st.st) == SQLITE_ROW) {
        GeoRow r;
        for (int i = 0; i < n; ++i) {
            if (i == geom) {
                const auto* b = static_cast<const unsigned char*>(sqlite3_column_blob(st.st, i));
                r.geometry.assign(b, b + sqlite3_column_bytes(st.st, i));
            } else {
                r.values[names[std::size_t(i)]] = text(st.st, i);
            }
        }
        rows.push_back(std::move(r));
    }
    return rows;
}

// ---- Geometry ----------------------------------------------------------------------------------

namespace {

struct Reader {
    const unsigned char* p;
    const unsigned char* end;
    bool little = true;
    void need(std::size_t n) const {
        if (std::size_t(end - p) < n) throw std::runtime_error("short WKB");
    }
    uint32_t u32() {
        need(4);
        uint32_t v = little ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24
                            : uint32_t(p[3]) | uint32_t(p[2]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[0]) << 24;
        p += 4;
        return v;
    }
    double f64() {
        need(8);
        unsigned char b[8];
        for (int i = 0; i < 8; ++i) b[i] = little ? p[i] : p[7 - i];
        p += 8;
        double d;
        std::memcpy(&d, b, 8);
        return d;
    }
};

Pt point(Reader& r, bool z, bool m) {
    Pt pt{r.f64(), r.f64(), 0.0, z};
    if (z) pt.z = r.f64();
    if (m) (void)r.f64();
    return pt;
}

void geometry(Reader& r, Geometry& g) {
    r.need(1);
    r.little = *r.p++ == 1;
    uint32_t type = r.u32();
    bool z = false, m = false;
    if (type & 0x80000000u) z = true;
    if (type & 0x40000000u) m = true;
    type &= 0x0FFFFFFFu;
    if (type >= 3000) z = m = true, type -= 3000;
    else if (type >= 2000) m = true, type -= 2000;
    else if (type >= 1000) z = true, type -= 1000;
    switch (type) {
    case 1:
        g.kind = 1;
        g.parts.push_back({point(r, z, m)});
        break;
    case 2: {
        g.kind = 2;
        Ring ring;
        for (uint32_t n = r.u32(), i = 0; i < n; ++i) ring.push_back(point(r, z, m));
        g.parts.push_back(std::move(ring));
        break;
    }
    case 3:
        g.kind = 3;
        for (uint32_t rings = r.u32(), k = 0; k < rings; ++k) {
            Ring ring;
            for (uint32_t n = r.u32(), i = 0; i < n; ++i) ring.push_back(point(r, z, m));
            g.parts.push_back(std::move(ring));
        }
        break;
    case 4:
    case 5:
    case 6:
        for (uint32_t n = r.u32(), i = 0; i < n; ++i) geometry(r, g);
        break;
    default:
        throw std::runtime_error("unsupported WKB type");
    }
}

}  // namespace

Geometry decodeGpkg(const std::vector<unsigned char>& blob) {
    Geometry g;
    if (blob.size() < 8 || blob[0] != 'G' || blob[1] != 'P') return g;
    const unsigned flags = blob[3];
    static constexpr std::size_t kEnvelope[] = {0, 32, 48, 48, 64, 0, 0, 0};
    const std::size_t start = 8 + kEnvelope[(flags >> 1) & 7];
    if (blob.size() < start) return g;
    try {
        Reader r{blob.data() + start, blob.data() + blob.size()};
        geometry(r, g);
    } catch (const std::exception&) {
        return Geometry{};
    }
    return g;
}

}  // namespace e2e
