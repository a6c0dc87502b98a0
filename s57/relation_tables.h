// s57/relation_tables.h: module s57_util, part two: the writers of the relation tables srel (FSPT and
// VRPT pointers) and frel (FFPT pointers), one row per pointer, and checkWithin, the containment
// test of topology building and feature export.
// Per-pointer problems are logged (logFile) and the pointer skipped or defaulted; only a COM
// failure ends a writer (logged, E_FAIL). Nothing is thrown to callers.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/com/com.h"
#include "platform/gdb/gdb.h"

struct Iso8211Record;
struct Cache;

// The insert cursors and row buffers of srel and frel, kept from record to record by an importer
// that writes many records' rows in one pass. Rows are still inserted and flushed one by one; a
// buffer is only refilled where a value changes. Holds the tables while it lives.
class RelationRows {
public:
    RelationRows();
    ~RelationRows();
    RelationRows(const RelationRows&) = delete;
    RelationRows& operator=(const RelationRows&) = delete;
    struct State;
    State& state() { return *state_; }

private:
    std::unique_ptr<State> state_;
};

// One srel row per FSPT (kind 'F') or VRPT (kind 'V') pointer of the record: ID (srelCounter raised
// first; it continues from the largest ID the table holds), the source long name and name, the
// pointer's NAME, ORNT, USAG, TOPI ("X" for FSPT) and MASK as one letter each, the cell name.
// 0; -11 for another kind (logged); E_FAIL after a COM error.
[[nodiscard]] int writeSrelTable(ITable* srel, const Iso8211Record* record, char kind, const char* srcLnam,
                                 const char* srcName, const char* cellName);
[[nodiscard]] int writeSrelTable(RelationRows& rows, ITable* srel, const Iso8211Record* record, char kind,
                                 const char* srcLnam, const char* srcName, const char* cellName);

// One frel row per FFPT pointer: source long name, target LNAM, target class acronym and primitive
// (from the cache), RIND letter, COMT (cut to the column's width, logged). 0; E_FAIL after a COM error.
[[nodiscard]] int writeCrelTable(ITable* frel, const Iso8211Record* record, const char* srcLnam, Cache* cache,
                                 const char* cellName);
[[nodiscard]] int writeCrelTable(RelationRows& rows, ITable* frel, const Iso8211Record* record, const char* srcLnam,
                                 Cache* cache, const char* cellName);

// out := value; the default for an empty value; a value beginning with a digit translated by the
// codec under the label (the default, logged, when it cannot be). At most outSize - 1 characters.
void getIsoSubField(const char* label, const char* value, char* out, std::size_t outSize,
                    const char* defaultText);

// Inserts one row: values[i] into the column named by srelFieldDefs[i] (frelFieldDefs[i]), the cell
// name into DSNM when the table has it. 0 or the platform's result; E_FAIL after a COM error.
[[nodiscard]] HRESULT insertSrelRow(ITable* table, int n, const char* const* values, const char* cellName);
[[nodiscard]] HRESULT insertCrelRow(ITable* table, int n, const char* const* values, const char* cellName);

// True when the feature lies on or within the reference, or (type 4 polygon, 3 polyline) when at
// most a tenth of its area (length) lies outside; type 1 is a point. False for other types, for a
// feature of no area (length) that is not within, and after a COM error (logged).
bool checkWithin(IGeometry* feature, IGeometry* reference, int geometryType);
