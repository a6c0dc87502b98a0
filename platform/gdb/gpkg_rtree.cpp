// platform/gdb/gpkg_rtree.cpp: the GeoPackage R-tree of a feature class, its triggers, and packed
// trees written into its shadow tables.
#include "platform/gdb/gpkg_rtree.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "platform/gdb/gdb_store.h"
#include "platform/gdb/sqlite_statement.h"

namespace gdb {

float roundDown(double d) {
    float f = static_cast<float>(d);
    if (static_cast<double>(f) > d) f = std::nextafter(f, -std::numeric_limits<float>::infinity());
    return f;
}
float roundUp(double d) {
    float f = static_cast<float>(d);
    if (static_cast<double>(f) < d) f = std::nextafter(f, std::numeric_limits<float>::infinity());
    return f;
}


namespace {

void putBigEndian(std::string& out, std::size_t at, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i, v >>= 8) out[at + std::size_t(i)] = char(v & 0xFF);
}


}  // namespace

void writePackedRtree(sqlite3* db, const std::string& rtree, std::vector<RtreeEntry> entries) {
    Stmt sizeSt = prepare(db, "SELECT length(data) FROM " + sqlName(rtree + "_node") + " WHERE nodeno = 1");
    if (!step(sizeSt.get())) throw SqlError("R-tree " + rtree + " has no root node");
    const std::size_t nodeSize = std::size_t(sqlite3_column_int(sizeSt.get(), 0));
    constexpr std::size_t kCell = 24;
    if (nodeSize < 4 + 2 * kCell) throw SqlError("R-tree " + rtree + ": unexpected node size");
    const std::size_t fanout = (nodeSize - 4) / kCell;

    struct Node {
        std::vector<RtreeEntry> cells;
        RtreeEntry box{};
    };
    auto boxOf = [](const std::vector<RtreeEntry>& cells) {
        RtreeEntry b{0, {cells[0].box[0], cells[0].box[1], cells[0].box[2], cells[0].box[3]}};
        for (const auto& c : cells) {
            b.box[0] = std::min(b.box[0], c.box[0]);
            b.box[1] = std::max(b.box[1], c.box[1]);
            b.box[2] = std::min(b.box[2], c.box[2]);
            b.box[3] = std::max(b.box[3], c.box[3]);
        }
        return b;
    };
    // One level of sort-tile-recursive packing.
    auto pack = [&](std::vector<RtreeEntry>& items) {
        std::vector<Node> nodes;
        const std::size_t leaves = (items.size() + fanout - 1) / fanout;
        const std::size_t slices = std::size_t(std::ceil(std::sqrt(double(leaves))));
        const std::size_t perSlice = slices * fanout;
        std::sort(items.begin(), items.end(), [](const RtreeEntry& a, const RtreeEntry& b) {
            return a.box[0] + a.box[1] < b.box[0] + b.box[1];
        });
        for (std::size_t s = 0; s < items.size(); s += perSlice) {
            auto first = items.begin() + std::ptrdiff_t(s);
            auto last = items.begin() + std::ptrdiff_t(std::min(items.size(), s + perSlice));
            std::sort(first, last, [](const RtreeEntry& a, const RtreeEntry& b) {
                return a.box[2] + a.box[3] < b.box[2] + b.box[3];
            });
            for (auto it = first; it < last; it += std::ptrdiff_t(std::min<std::size_t>(fanout, std::size_t(last - it)))) {
                Node n;
                n.cells.assign(it, it + std::ptrdiff_t(std::min<std::size_t>(fanout, std::size_t(last - it))));
                n.box = boxOf(n.cells);
                nodes.push_back(std::move(n));
            }
        }
        return nodes;
    };
    // Levels from the leaves up; the last level is the root.
    std::vector<std::vector<Node>> levels;
    if (entries.size() <= fanout) {
        levels.push_back({Node{entries, {}}});
    } else {
        levels.push_back(pack(entries));
        while (levels.back().size() > fanout) {
            std::vector<RtreeEntry> boxes;
            for (std::size_t i = 0; i < levels.back().size(); ++i) {
                RtreeEntry b = levels.back()[i].box;
                b.id = std::int64_t(i);  // index into the level below, numbered later
                boxes.push_back(b);
            }
            std::vector<Node> up = pack(boxes);
            // pack() reorders the lower level's boxes: keep the lower nodes in the new order.
            std::vector<Node> reordered;
            for (Node& n : up)
                for (RtreeEntry& c : n.cells) {
                    std::size_t from = std::size_t(c.id);
                    c.id = std::int64_t(reordered.size());
                    reordered.push_back(std::move(levels.back()[from]));
                }
            levels.back() = std::move(reordered);
            levels.push_back(std::move(up));
        }
        std::vector<RtreeEntry> rootCells;
        for (std::size_t i = 0; i < levels.back().size(); ++i) {
            RtreeEntry b = levels.back()[i].box;
            b.id = std::int64_t(i);
            rootCells.push_back(b);
        }
        levels.push_back({Node{rootCells, {}}});
    }
    // Node numbers: the root 1, then level by level downwards.
    std::vector<std::vector<std::int64_t>> numbers(levels.size());
    std::int64_t next = 1;
    for (std::size_t l = levels.size(); l-- > 0;)
        for (std::size_t i = 0; i < levels[l].size(); ++i) numbers[l].push_back(next++);

    for (const char* suffix : {"_node", "_rowid", "_parent"})
        step(prepare(db, "DELETE FROM " + sqlName(rtree + suffix)).get());
    Stmt putNode = prepare(db, "INSERT INTO " + sqlName(rtree + "_node") + " (nodeno, data) VALUES (?1, ?2)");
    Stmt putRowid = prepare(db, "INSERT INTO " + sqlName(rtree + "_rowid") + " (rowid, nodeno) VALUES (?1, ?2)");
    // The leaves' entries go into the rowid table many a statement: each statement has its own
    // fixed cost, far above a row's.
    constexpr std::size_t kRowidBatch = 64;
    std::string many = "INSERT INTO " + sqlName(rtree + "_rowid") + " (rowid, nodeno) VALUES ";
    for (std::size_t k = 0; k < kRowidBatch; ++k) many += k ? ", (?, ?)" : "(?, ?)";
    Stmt putRowids;
    std::vector<std::pair<std::int64_t, std::int64_t>> rowids;  // (entry, leaf) not yet written
    auto writeRowids = [&](bool all) {
        std::size_t at = 0;
        for (; rowids.size() - at >= kRowidBatch; at += kRowidBatch) {
            if (!putRowids) putRowids = prepare(db, many);
            sqlite3_reset(putRowids.get());
            for (std::size_t k = 0; k < kRowidBatch; ++k) {
                sqlite3_bind_int64(putRowids.get(), int(2 * k + 1), rowids[at + k].first);
                sqlite3_bind_int64(putRowids.get(), int(2 * k + 2), rowids[at + k].second);
            }
            step(putRowids.get());
        }
        for (; all && at < rowids.size(); ++at) {
            sqlite3_reset(putRowid.get());
            sqlite3_bind_int64(putRowid.get(), 1, rowids[at].first);
            sqlite3_bind_int64(putRowid.get(), 2, rowids[at].second);
            step(putRowid.get());
        }
        rowids.erase(rowids.begin(), rowids.begin() + std::ptrdiff_t(at));
    };
    Stmt putParent = prepare(db, "INSERT INTO " + sqlName(rtree + "_parent") + " (nodeno, parentnode) VALUES (?1, ?2)");
    const std::size_t depth = levels.size() - 1;
    std::string blob(nodeSize, '\0');
    for (std::size_t l = levels.size(); l-- > 0;) {
        for (std::size_t i = 0; i < levels[l].size(); ++i) {
            const Node& n = levels[l][i];
            const std::int64_t self = numbers[l][i];
            std::fill(blob.begin(), blob.end(), '\0');
            putBigEndian(blob, 0, l == depth ? depth : 0, 2);
            putBigEndian(blob, 2, n.cells.size(), 2);
            for (std::size_t k = 0; k < n.cells.size(); ++k) {
                const RtreeEntry& c = n.cells[k];
                const std::int64_t ref = l == 0 ? c.id : numbers[l - 1][std::size_t(c.id)];
                putBigEndian(blob, 4 + k * kCell, std::uint64_t(ref), 8);
                for (int j = 0; j < 4; ++j) {
                    std::uint32_t bits;
                    std::memcpy(&bits, &c.box[j], 4);
                    putBigEndian(blob, 4 + k * kCell + 8 + std::size_t(j) * 4, bits, 4);
                }
                if (l == 0) {
                    rowids.emplace_back(ref, self);
                } else {
                    sqlite3_reset(putParent.get());
                    sqlite3_bind_int64(putParent.get(), 1, ref);
                    sqlite3_bind_int64(putParent.get(), 2, self);
                    step(putParent.get());
                }
            }
            sqlite3_reset(putNode.get());
            sqlite3_bind_int64(putNode.get(), 1, self);
            sqlite3_bind_blob(putNode.get(), 2, blob.data(), int(blob.size()), SQLITE_STATIC);
            step(putNode.get());
            if (l == 0) writeRowids(false);
        }
    }
    writeRowids(true);
}

// The GeoPackage R-tree of a feature class and the triggers that keep it (the insert trigger

RtreeSql rtreeSql(const std::string& table, const std::string& column, const std::string& oid) {
    const std::string t = sqlName(table), c = sqlName(column), i = sqlName(oid);
    const std::string base = "rtree_" + table + "_" + column;
    const std::string r = sqlName(base);
    const std::string values = "(NEW." + i + ", ST_MinX(NEW." + c + "), ST_MaxX(NEW." + c + "), ST_MinY(NEW." + c +
                               "), ST_MaxY(NEW." + c + "))";
    RtreeSql out;
    out.create = "CREATE VIRTUAL TABLE " + r + " USING rtree(id, minx, maxx, miny, maxy)";
    out.triggers = {
        "CREATE TRIGGER " + sqlName(base + "_insert") + " AFTER INSERT ON " + t + " WHEN (new." + c +
            " NOT NULL AND NOT ST_IsEmpty(NEW." + c + ")) BEGIN INSERT OR REPLACE INTO " + r + " VALUES " + values + "; END",
        "CREATE TRIGGER " + sqlName(base + "_update1") + " AFTER UPDATE OF " + c + " ON " + t + " WHEN OLD." + i +
            " = NEW." + i + " AND (NEW." + c + " NOTNULL AND NOT ST_IsEmpty(NEW." + c + ")) BEGIN INSERT OR REPLACE INTO " +
            r + " VALUES " + values + "; END",
        "CREATE TRIGGER " + sqlName(base + "_update2") + " AFTER UPDATE OF " + c + " ON " + t + " WHEN OLD." + i +
            " = NEW." + i + " AND (NEW." + c + " ISNULL OR ST_IsEmpty(NEW." + c + ")) BEGIN DELETE FROM " + r +
            " WHERE id = OLD." + i + "; END",
        "CREATE TRIGGER " + sqlName(base + "_update3") + " AFTER UPDATE ON " + t + " WHEN OLD." + i + " != NEW." + i +
            " AND (NEW." + c + " NOTNULL AND NOT ST_IsEmpty(NEW." + c + ")) BEGIN DELETE FROM " + r + " WHERE id = OLD." +
            i + "; INSERT OR REPLACE INTO " + r + " VALUES " + values + "; END",
        "CREATE TRIGGER " + sqlName(base + "_update4") + " AFTER UPDATE ON " + t + " WHEN OLD." + i + " != NEW." + i +
            " AND (NEW." + c + " ISNULL OR ST_IsEmpty(NEW." + c + ")) BEGIN DELETE FROM " + r + " WHERE id IN (OLD." + i +
            ", NEW." + i + "); END",
        "CREATE TRIGGER " + sqlName(base + "_delete") + " AFTER DELETE ON " + t + " WHEN old." + c +
            " NOT NULL BEGIN DELETE FROM " + r + " WHERE id = OLD." + i + "; END",
    };
    return out;
}


void widen(GeoExtent& into, const GeoExtent& e) {
    if (e.empty()) return;
    if (into.empty()) {
        into = e;
        return;
    }
    into.xmin = std::min(into.xmin, e.xmin);
    into.ymin = std::min(into.ymin, e.ymin);
    into.xmax = std::max(into.xmax, e.xmax);
    into.ymax = std::max(into.ymax, e.ymax);
}

}  // namespace gdb
