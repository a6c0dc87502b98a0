// tests/platform/gdb/insert_batch_test.cpp: rows a GeoPackage storage holds back to write many a
// statement get the ids, counter and rows that writing them one by one gives; whatever reads or
// undoes meanwhile sees them as written; a table that may refuse a row takes each at its insert.
#include <sqlite3.h>

#include <string>
#include <vector>

#include "gdb_fixture.h"

using namespace gdbtest;

namespace {

// The first column of the first row another connection finds; -1 for none.
long long valueOf(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    long long v = -1;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
        v = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return v;
}

// The i-th point of a grid ten wide.
IPointPtr gridPoint(int i) { return point(i % 10, i / 10); }

int execOther(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return rc;
}

class InsertBatch : public GdbTest {
protected:
    ITablePtr table() { return fws_->CreateTable("t", tableFields({{L"A", esriFieldTypeInteger, 4}})); }
    long insert(ITable* t, long a) {
        IRowBufferPtr b = t->CreateRowBuffer();
        b->PutValue(1, _variant_t(a));
        return long(t->Insert(VARIANT_TRUE)->InsertRow(b));
    }
    long sumOfA(ITable* t) {
        ICursorPtr c = t->Search(nullptr, VARIANT_FALSE);
        long sum = 0;
        for (IRowPtr r = c->NextRow(); r; r = c->NextRow()) sum += long(r->GetValue(1));
        return sum;
    }
    void close() {
        fws_ = nullptr;
        ws_ = nullptr;
    }
};

TEST_F(InsertBatch, IdsFollowTheCounterPastDeletedRowsAndReadsSeeEveryRow) {
    ITablePtr t = table();
    IWorkspaceEditPtr edit(ws_);
    edit->StartEditing(VARIANT_FALSE);
    for (long i = 1; i <= 50; ++i) ASSERT_EQ(insert(t, i), i);
    EXPECT_EQ(t->RowCount(nullptr), 50) << "a count in the same session sees the held rows";
    EXPECT_EQ(sumOfA(t), 50 * 51 / 2);
    // The last ten go: the counter stays at 50, and the next id is 51, as SQLite gives it.
    IQueryFilterPtr q(CLSID_QueryFilter);
    q->PutWhereClause("A > 40");
    t->DeleteSearchedRows(q);
    for (long i = 51; i <= 90; ++i) ASSERT_EQ(insert(t, i), i);
    edit->StopEditing(VARIANT_TRUE);
    t = nullptr;
    edit = nullptr;
    close();
    EXPECT_EQ(valueOf(path_, "SELECT count(*) FROM t"), 80);
    EXPECT_EQ(valueOf(path_, "SELECT seq FROM sqlite_sequence WHERE name = 't'"), 90);
    EXPECT_EQ(valueOf(path_, "SELECT count(*) FROM t WHERE OBJECTID <> A"), 0) << "every row under the id it was given";
}

TEST_F(InsertBatch, UndoneOperationsAndSessionsTakeTheirHeldRowsWithThem) {
    ITablePtr t = table();
    IWorkspaceEditPtr edit(ws_);
    edit->StartEditing(VARIANT_TRUE);
    for (long i = 1; i <= 20; ++i) insert(t, i);
    edit->StartEditOperation();
    for (long i = 21; i <= 60; ++i) insert(t, i);
    edit->AbortEditOperation();
    EXPECT_EQ(t->RowCount(nullptr), 20);
    edit->StartEditOperation();
    EXPECT_EQ(insert(t, 21), 21) << "the undone rows' ids are free again";
    edit->StopEditOperation();
    edit->StopEditing(VARIANT_TRUE);
    edit->StartEditing(VARIANT_FALSE);
    for (long i = 22; i <= 70; ++i) insert(t, i);
    edit->StopEditing(VARIANT_FALSE);
    EXPECT_EQ(t->RowCount(nullptr), 21);
    EXPECT_EQ(sumOfA(t), 21 * 22 / 2);
    EXPECT_EQ(insert(t, 22), 22);
}

TEST_F(InsertBatch, RowsOutsideASessionAreSavedWhenTheWorkspaceCloses) {
    {
        ITablePtr t = table();
        insert(t, 1);
        for (long i = 2; i <= 45; ++i) insert(t, i);
    }
    close();
    EXPECT_EQ(valueOf(path_, "SELECT count(*) FROM t"), 45);
    EXPECT_EQ(valueOf(path_, "SELECT sum(A) FROM t"), 45 * 46 / 2);
}

TEST_F(InsertBatch, HeldFeaturesAreFoundBySpatialSearchInTheSession) {
    IFeatureClassPtr fc = pointClass("p");
    IWorkspaceEditPtr edit(ws_);
    edit->StartEditing(VARIANT_FALSE);
    IFeatureCursorPtr ins = fc->Insert(VARIANT_TRUE);
    insertPoints(fc, ins, 100, gridPoint);
    ISpatialFilterPtr sf(CLSID_SpatialFilter);
    sf->PutRefGeometry(polygon({{-0.5, -0.5}, {4.5, -0.5}, {4.5, 2.5}, {-0.5, 2.5}}));
    sf->PutSpatialRel(esriSpatialRelIntersects);
    EXPECT_EQ(fc->FeatureCount(sf), 15);
    insertPoints(fc, ins, 30, [](int) { return point(0, 0); });
    EXPECT_EQ(fc->FeatureCount(sf), 45);
    edit->StopEditing(VARIANT_TRUE);
    ins = nullptr;
    fc = nullptr;
    edit = nullptr;
    close();
    EXPECT_EQ(valueOf(path_, "SELECT count(*) FROM rtree_p_SHAPE"), 130);
    EXPECT_EQ(valueOf(path_, "SELECT count(*) FROM p JOIN rtree_p_SHAPE r ON r.id = p.OBJECTID"), 130);
}

// Another program's rule on the table that refuses the row A = 13.
struct Refusal {
    const char* name;
    const char* sql;  // run after the table's first row
};
const Refusal kRefusals[] = {
    {"UniqueIndex", "CREATE UNIQUE INDEX t_a ON t (A)"},
    {"Trigger", "CREATE TRIGGER t_no13 BEFORE INSERT ON t WHEN NEW.A = 13 BEGIN SELECT RAISE(ABORT, 'no 13'); END"},
};
void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class RefusingTable : public InsertBatch, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusingTable, TheRefusedRowFailsAtItsInsertAndTheOthersStay) {
    ITablePtr t = table();
    IWorkspaceEditPtr edit(ws_);
    edit->StartEditing(VARIANT_FALSE);
    insert(t, 0);  // the table's counter row: later rows could be held back
    edit->StopEditing(VARIANT_TRUE);
    ASSERT_EQ(execOther(path_, GetParam().sql), SQLITE_OK);
    edit->StartEditing(VARIANT_FALSE);
    std::vector<long> refused;
    for (long i = 1; i <= 40; ++i) {
        const long a = i == 30 ? 13 : i;  // the unique index refuses the second 13 only
        IRowBufferPtr b = t->CreateRowBuffer();
        b->PutValue(1, _variant_t(a));
        _variant_t oid;
        ICursorPtr c = t->Insert(VARIANT_TRUE);
        if (FAILED(c->raw_InsertRow(b, &oid))) refused.push_back(i);
    }
    edit->StopEditing(VARIANT_TRUE);
    const std::vector<long> expected = std::string(GetParam().name) == "Trigger" ? std::vector<long>{13, 30}
                                                                               : std::vector<long>{30};
    EXPECT_EQ(refused, expected);
    EXPECT_EQ(t->RowCount(nullptr), long(41 - expected.size()));
}
INSTANTIATE_TEST_SUITE_P(Rules, RefusingTable, ::testing::ValuesIn(kRefusals),
                         [](const auto& i) { return std::string(i.param.name); });

// Another program makes a column NOT NULL: a row without it is refused at its own insert, and the
// rows after it are saved (held back, the refusal would come at a later call and take them along).
TEST_F(InsertBatch, ANullInANotNullColumnFailsAtItsInsertAndTheOthersStay) {
    ITablePtr t = table();
    IWorkspaceEditPtr edit(ws_);
    edit->StartEditing(VARIANT_FALSE);
    insert(t, 0);
    edit->StopEditing(VARIANT_TRUE);
    ASSERT_EQ(execOther(path_, "ALTER TABLE t RENAME TO old; "
                               "CREATE TABLE t (OBJECTID INTEGER PRIMARY KEY AUTOINCREMENT, A MEDIUMINT NOT NULL); "
                               "INSERT INTO t SELECT * FROM old; DROP TABLE old;"),
              SQLITE_OK);
    edit->StartEditing(VARIANT_FALSE);
    std::vector<long> refused;
    for (long i = 1; i <= 40; ++i) {
        IRowBufferPtr b = t->CreateRowBuffer();
        if (i != 13) b->PutValue(1, _variant_t(i));
        _variant_t oid;
        ICursorPtr c = t->Insert(VARIANT_TRUE);
        if (FAILED(c->raw_InsertRow(b, &oid))) refused.push_back(i);
    }
    EXPECT_EQ(t->RowCount(nullptr), 40);
    EXPECT_EQ(edit->raw_StopEditing(VARIANT_TRUE), S_OK);
    EXPECT_EQ(refused, std::vector<long>{13});
    t = nullptr;
    edit = nullptr;
    close();
    EXPECT_EQ(valueOf(path_, "SELECT count(*) FROM t"), 40);
}


// A spatial index that cannot be written (another program holds a table under the name of its
// node table): the session is not saved, neither at the first attempt nor at a second one, so no
// feature is ever saved without its index entry.
TEST_F(InsertBatch, ASessionWhoseSpatialIndexCannotBeWrittenIsNeverSaved) {
    IFeatureClassPtr fc = pointClass("p");
    IWorkspaceEditPtr edit(ws_);
    edit->StartEditing(VARIANT_FALSE);  // the class is committed
    edit->StopEditing(VARIANT_TRUE);
    ASSERT_EQ(execOther(path_, "CREATE TABLE rtree_p_SHAPE_node (x)"), SQLITE_OK);
    edit->StartEditing(VARIANT_FALSE);
    IFeatureCursorPtr ins = fc->Insert(VARIANT_TRUE);
    insertPoints(fc, ins, 100, gridPoint);
    EXPECT_FALSE(SUCCEEDED(edit->raw_StopEditing(VARIANT_TRUE)));
    EXPECT_FALSE(SUCCEEDED(edit->raw_StopEditing(VARIANT_TRUE))) << "a second attempt saves nothing either";
    ins = nullptr;
    fc = nullptr;
    edit = nullptr;
    close();
    EXPECT_EQ(valueOf(path_, "SELECT count(*) FROM p"), 0);
}

// Another program's trigger refuses a delete of many rows: the spatial index still finds every row.
TEST_F(InsertBatch, ARefusedDeleteOfManyRowsLeavesTheSpatialIndexWhole) {
    IFeatureClassPtr fc = savedPoints(100, gridPoint);
    IWorkspaceEditPtr edit(ws_);
    ASSERT_EQ(execOther(path_, "CREATE TRIGGER p_keep BEFORE DELETE ON p WHEN OLD.OBJECTID = 90 "
                               "BEGIN SELECT RAISE(ABORT, 'kept'); END"),
              SQLITE_OK);
    edit->StartEditing(VARIANT_FALSE);
    IQueryFilterPtr q(CLSID_QueryFilter);
    q->PutWhereClause("OBJECTID > 10");
    EXPECT_FALSE(SUCCEEDED(ITablePtr(fc)->raw_DeleteSearchedRows(q)));
    EXPECT_EQ(edit->raw_StopEditing(VARIANT_TRUE), S_OK);
    ISpatialFilterPtr all(CLSID_SpatialFilter);
    all->PutRefGeometry(polygon({{-0.5, -0.5}, {9.5, -0.5}, {9.5, 9.5}, {-0.5, 9.5}}));
    all->PutSpatialRel(esriSpatialRelIntersects);
    EXPECT_EQ(fc->FeatureCount(all), 100);
    all = nullptr;
    q = nullptr;
    fc = nullptr;
    edit = nullptr;
    close();
    EXPECT_EQ(valueOf(path_, "SELECT count(*) FROM rtree_p_SHAPE"), 100);
}
}  // namespace
