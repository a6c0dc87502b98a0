// bench/import_postgis.cpp: `tarvo import` of a cell into an enterprise geodatabase on PostgreSQL
// with PostGIS (a new database each run, the template made first, as the command does when the
// database has no feature dataset) against `ogr2ogr -f PostgreSQL` of the same cell with its
// primitives and linkages (the same work) into a new database, and against our import into a new
// GeoPackage. Each run in a child process, so that wall time and peak memory (getrusage of the
// child: the server's own memory is not in it) are measured alike; rows per second are the rows the
// run left in the database's tables (our side tables left out). The import into a database whose
// template is made already is timed too. Needs the test server: run it as
//   .ci/with-pg-server build/bin/bench_import_postgis [CELL.000] [RUNS]
// (default: enc/US4CN21M/US4CN21M.000, 3 runs).

#include <libpq-fe.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "bench/support/bench_support.h"
#include "import/s572gdbmain.h"
#include "platform/ui/ui.h"
#include "s57/gdb_template.h"

namespace fs = std::filesystem;
using bench::execute;
using bench::inChild;
using bench::Measure;
using bench::median;

namespace {

struct Finish {
    void operator()(PGconn* c) const noexcept { PQfinish(c); }
};
using Conn = std::unique_ptr<PGconn, Finish>;

std::string conninfo(const std::string& db) { return std::string(std::getenv("TARVO_PG_TEST")) + " dbname=" + db; }

// One keyword of the test server's connection string.
std::string keyword(const char* key) {
    std::string out;
    PQconninfoOption* opts = PQconninfoParse(std::getenv("TARVO_PG_TEST"), nullptr);
    for (auto* o = opts; o && o->keyword; ++o)
        if (std::string(key) == o->keyword && o->val) out = o->val;
    PQconninfoFree(opts);
    return out;
}

bool exec(const std::string& db, const std::string& sql, std::vector<std::string>* column = nullptr) {
    Conn c(PQconnectdb(conninfo(db).c_str()));
    if (PQstatus(c.get()) != CONNECTION_OK) {
        std::fprintf(stderr, "%s", PQerrorMessage(c.get()));
        return false;
    }
    PGresult* r = PQexec(c.get(), sql.c_str());
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    if (!ok) std::fprintf(stderr, "%s: %s", sql.c_str(), PQresultErrorMessage(r));
    if (ok && column)
        for (int i = 0; i < PQntuples(r); ++i) column->emplace_back(PQgetvalue(r, i, 0));
    PQclear(r);
    return ok;
}

std::string newDatabase(const std::string& name) {
    exec("postgres", "DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
    exec("postgres", "CREATE DATABASE " + name + " TEMPLATE tarvo_template");
    return name;
}

// Rows in every table of the database's public schema but PostGIS's and our side tables.
long serverRows(const std::string& db) {
    std::vector<std::string> tables;
    exec(db, "SELECT quote_ident(table_name) FROM information_schema.tables WHERE table_schema = 'public' AND "
             "table_type = 'BASE TABLE' AND table_name <> 'spatial_ref_sys' AND table_name NOT LIKE 'gdb\\_%'",
         &tables);
    long rows = 0;
    for (const auto& t : tables) {
        std::vector<std::string> n;
        if (exec(db, "SELECT count(*) FROM " + t, &n) && !n.empty()) rows += std::atol(n[0].c_str());
    }
    return rows;
}

// Rows in every table of a GeoPackage but its own (gpkg_, R-trees) and our side tables.
long fileRows(const std::string& gpkg) {
    sqlite3* db = nullptr;
    long rows = 0;
    if (sqlite3_open_v2(gpkg.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        std::vector<std::string> tables;
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'gpkg%' AND "
                           "name NOT LIKE 'rtree%' AND name NOT LIKE 'sqlite%' AND name NOT LIKE 'gdb\\_%' ESCAPE '\\'",
                           -1, &st, nullptr);
        while (sqlite3_step(st) == SQLITE_ROW) tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
        for (const auto& t : tables) {
            std::string q = "SELECT count(*) FROM \"";
            for (char ch : t) q += ch == '"' ? std::string("\"\"") : std::string(1, ch);
            if (sqlite3_prepare_v2(db, (q + "\"").c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
                rows += sqlite3_column_int64(st, 0);
            sqlite3_finalize(st);
        }
    }
    sqlite3_close(db);
    return rows;
}

int makeTemplate(const std::string& gdb) {
    TemplateSummary summary;
    return FAILED(createGeodatabase(gdb.c_str(), "S57", nullptr, stderr, &summary)) ? 1 : 0;
}

// The template (unless made already), then the cell; 0 when the cell was imported.
int tarvoImport(const std::string& input, const std::string& gdb, bool withTemplate = true) {
    ui::setForm(ui::Form::Batch);
    if (withTemplate && makeTemplate(gdb) != 0) return 1;
    ImportOutcome outcome;
    if (s572gdb(input.c_str(), gdb.c_str(), "S57", &outcome) != 0 || outcome.failed()) {
        std::fprintf(stderr, "import failed: %s\n", outcome.reason.c_str());
        return 1;
    }
    return 0;
}

const std::vector<std::string> kS57Options = {"-oo", "UPDATES=IGNORE",      "-oo", "SPLIT_MULTIPOINT=ON",
                                              "-oo", "ADD_SOUNDG_DEPTH=ON", "-oo", "RETURN_PRIMITIVES=ON",
                                              "-oo", "RETURN_LINKAGES=ON",  "-oo", "LNAM_REFS=ON"};

// The server checks a column's geometry type: the isolated node layer, declared of points, holds
// the 3-D multipoints of the soundings, so every layer is made of multi geometries.
int ogr2ogr(const std::string& cell, const std::string& db) {
    std::vector<std::string> args = {"ogr2ogr", "-f", "PostgreSQL", "PG:" + conninfo(db), cell, "-nlt",
                                     "PROMOTE_TO_MULTI"};
    args.insert(args.end(), kS57Options.begin(), kS57Options.end());
    return execute(args);
}

struct Row {
    explicit Row(const char* n) : name(n) {}
    const char* name;
    std::vector<double> seconds;
    long rssKb = 0;
    long rows = 0;
    bool failed = false;
};

void print(const Row& r) {
    if (r.failed || r.seconds.empty()) {
        std::printf("%-32s %10s\n", r.name, "failed");
        return;
    }
    const double s = median(r.seconds);
    std::printf("%-32s %10.3f %14.1f %10ld %12.0f\n", r.name, s, r.rssKb / 1024.0, r.rows, s > 0 ? r.rows / s : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("TARVO_PG_TEST")) {
        std::fprintf(stderr, "no PostgreSQL server: run as .ci/with-pg-server %s [CELL.000] [RUNS]\n", argv[0]);
        return 1;
    }
    const fs::path data = TARVO_BENCH_DATA;
    const fs::path cell = argc > 1 ? fs::path(argv[1]) : data / "enc/US4CN21M/US4CN21M.000";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    if (!fs::exists(cell)) {
        std::fprintf(stderr, "no cell %s\n", cell.c_str());
        return 1;
    }
    char pattern[] = "/tmp/bench_postgis_XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const fs::path scratch = pattern;
    fs::create_directories(scratch / "in");
    const fs::path input = scratch / "in" / cell.filename();
    fs::create_symlink(fs::absolute(cell), input);

    // Over the server's socket, as ogr2ogr connects: the socket folder stands for the host (the
    // connection file's INSTANCE); the port, which names the socket file in it, comes from libpq's
    // environment.
    const std::string sde = (scratch / "bench.sde").string();
    const std::string database = "tarvo_bench_" + std::to_string(::getpid());
    std::ofstream(sde) << "INSTANCE=" << keyword("host") << "\nDATABASE=" << database << "\nUSER=" << keyword("user")
                       << "\n";
    if (!keyword("port").empty()) setenv("PGPORT", keyword("port").c_str(), 1);

    Row ours("tarvo import, PostGIS"), cellOnly("  of it the cell alone"), theirs("ogr2ogr -f PostgreSQL"),
        file("tarvo import, GeoPackage");
    for (int i = 0; i < runs; ++i) {
        newDatabase(database);
        Measure m = inChild([&] { return tarvoImport(input.string(), sde); });
        if (m.status == 0) {
            ours.seconds.push_back(m.seconds);
            ours.rssKb = std::max(ours.rssKb, m.maxRssKb);
            ours.rows = serverRows(database);
        } else {
            ours.failed = true;
        }

        // The same import into a database whose template is made already.
        newDatabase(database);
        if (inChild([&] { return makeTemplate(sde); }).status != 0) cellOnly.failed = true;
        m = inChild([&] { return tarvoImport(input.string(), sde, false); });
        if (m.status == 0 && !cellOnly.failed) {
            cellOnly.seconds.push_back(m.seconds);
            cellOnly.rssKb = std::max(cellOnly.rssKb, m.maxRssKb);
            cellOnly.rows = serverRows(database);
        } else {
            cellOnly.failed = true;
        }

        newDatabase(database);
        m = inChild([&] { return ogr2ogr(cell.string(), database); });
        if (m.status == 0) {
            theirs.seconds.push_back(m.seconds);
            theirs.rssKb = std::max(theirs.rssKb, m.maxRssKb);
            theirs.rows = serverRows(database);
        } else {
            theirs.failed = true;
        }

        const std::string gpkg = (scratch / ("ours" + std::to_string(i) + ".gpkg")).string();
        m = inChild([&] { return tarvoImport(input.string(), gpkg); });
        if (m.status == 0) {
            file.seconds.push_back(m.seconds);
            file.rssKb = std::max(file.rssKb, m.maxRssKb);
            file.rows = fileRows(gpkg);
        } else {
            file.failed = true;
        }
    }
    exec("postgres", "DROP DATABASE IF EXISTS " + database + " WITH (FORCE)");

    std::printf("cell %s, %d runs (median wall time; each into a new database or file)\n", cell.filename().c_str(), runs);
    std::printf("%-32s %10s %14s %10s %12s\n", "", "seconds", "peak RSS MB", "rows", "rows/s");
    print(ours);
    print(cellOnly);
    print(theirs);
    print(file);
    if (!ours.failed && !theirs.failed && !ours.seconds.empty() && !theirs.seconds.empty())
        std::printf("ratio tarvo PostGIS / ogr2ogr %.2f (goal at most 1.00)\n",
                    median(ours.seconds) / median(theirs.seconds));
    std::error_code ec;
    fs::remove_all(scratch, ec);
    return 0;
}
