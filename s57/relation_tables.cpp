// s57/relation_tables.cpp: module s57_util, part two: srel and frel rows from the pointer fields of a
// record, and the containment test checkWithin.
// A bad pointer is logged and skipped or defaulted, and the record's other pointers are still
// written; only a COM failure ends a writer, logged as "Error: s57_util::<name>".
#include "s57/relation_tables.h"

#include <strings.h>

#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "s57/dbutil.h"
#include "s57/lookups.h"
#include "s57/record_list.h"
#include "s57/s57_codec.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"

namespace {

constexpr char kModule[] = "s57_util";
constexpr std::size_t kMaxComment = 1024;  // longest COMT kept before the column's own width

void logComError(const char* function, const _com_error& e) { logComErrorOf(kModule, function, e); }

const char* subValue(const Iso8211Record* record, int field, int sub) {
    const char* v = record->fields[field].subFields[sub].value;
    return v ? v : "";
}

// One letter of a one-letter column: the first character of what getIsoSubField gives ("N" for an
// empty value), 0 when that is empty. A value the codec translates skips getIsoSubField's copies;
// one it cannot goes through getIsoSubField for its log line.
char letterOf(const char* label, const char* value) {
    const char* v = value ? value : "";
    if (v[0] == '\0') return 'N';
    if (v[0] < '0' || v[0] > '9') return v[0];
    if (label && std::strlen(v) <= std::size_t(kCodecTextMax)) {
        char out[kCodecTextMax + 1];
        if (bin2ascii(label, v, out) == 0) return out[0];
    }
    char buf[kCodecTextMax + 1];
    getIsoSubField(label, v, buf, sizeof buf, "N");
    return buf[0];
}

// The workspace and name of the srel table whose IDs srelCounter has caught up with.
std::string syncedSrel;

// IDs must stay unique in an srel that an earlier process filled: the counter starts at the
// table's largest ID, once per table and process.
void continueSrelCounter(ITable* srel) {
    std::string key;
    IDatasetPtr dataset(srel);
    if (dataset) {
        key = static_cast<const char*>(dataset->GetWorkspace()->GetPathName());
        key += '|';
        const _bstr_t name = dataset->GetName();
        for (const char* p = static_cast<const char*>(name); *p; ++p)
            key += char(std::tolower(static_cast<unsigned char>(*p)));
    }
    if (!key.empty() && key == syncedSrel) return;
    const LONG column = srel->FindField("ID");
    if (column >= 0) {
        ICursorPtr cursor = srel->Search(nullptr, VARIANT_TRUE);
        for (IRowPtr row = cursor->NextRow(); row; row = cursor->NextRow()) {
            const _variant_t v = row->GetValue(column);
            if (v.isNullOrEmpty()) continue;
            const long id = static_cast<long>(v);
            if (id > srelCounter) srelCounter = int32_t(id);
        }
    }
    syncedSrel = key;
}

// Text cut to `width` characters (not bytes: the column counts characters).
std::string cutToWidth(const std::string& text, std::size_t width) {
    std::wstring wide = fromUtf8(text);
    if (wide.size() <= width) return text;
    wide.resize(width);
    return toUtf8(wide);
}

// An insert cursor and row buffer on a relation table with its column indexes, kept for all the
// pointers of one record or of a whole pass (RelationRows). The buffer keeps its values from row to
// row, so a column is only put again when its text changes. Calls raise _com_error.
class RelationInserter {
public:
    RelationInserter(const char* function, ITable* table, const FieldDef* defs, int defCount)
        : function_(function), table_(table), defs_(defs), defCount_(defCount) {
        buffer_ = table->CreateRowBuffer();
        cursor_ = table->Insert(VARIANT_TRUE);
        IFieldsPtr fields = buffer_->GetFields();
        for (int i = 0; i < defCount; ++i) columns_.push_back(fields->FindField(defs[i].name));
        dsnm_ = fields->FindField("DSNM");
        if (!columns_.empty() && columns_[0] >= 0)
            numberFirst_ = fields->GetField(columns_[0])->GetType() == esriFieldTypeInteger;
        last_.resize(std::size_t(fields->GetFieldCount()));
    }
    ITable* table() const { return table_.GetInterfacePtr(); }
    // An integer first column takes `first` as a number: the value its text would convert to.
    bool numberFirst() const { return numberFirst_; }

    HRESULT insert(int n, const char* const* values, const char* cellName, const int32_t* first = nullptr) {
        if (n > 0 && !values) return E_INVALIDARG;
        if (n > defCount_) n = defCount_;
        // Another set of columns than the last row's: a fresh buffer, so that no value of that row
        // stays in a column this one leaves unset.
        const bool withCell = dsnm_ >= 0 && cellName;
        if (used_ && (n != lastCount_ || withCell != lastWithCell_)) {
            buffer_ = table_->CreateRowBuffer();
            for (Held& h : last_) h.known = false;
        }
        used_ = true;
        lastCount_ = n;
        lastWithCell_ = withCell;
        for (int i = 0; i < n; ++i) {
            const LONG column = columns_[std::size_t(i)];
            if (column < 0) {
                logLine("%s: column %s not found\n", function_, defs_[i].name);
                continue;
            }
            if (i == 0 && first && numberFirst_) {
                forget(column);
                buffer_->PutValue(column, _variant_t(long(*first)));
            } else {
                putText(column, values[i] ? values[i] : "");
            }
        }
        if (withCell) putText(dsnm_, cellName);
        _variant_t oid;
        const HRESULT hr = cursor_->raw_InsertRow(buffer_, &oid);
        cursor_->Flush();
        return hr;
    }

private:
    // The text of each column as last put, where it is known to be in the buffer.
    struct Held {
        bool known = false;
        std::string text;
    };
    void forget(LONG column) {
        if (std::size_t(column) < last_.size()) last_[std::size_t(column)].known = false;
    }
    void putText(LONG column, const char* text) {
        Held* held = std::size_t(column) < last_.size() ? &last_[std::size_t(column)] : nullptr;
        if (held && held->known && held->text == text) return;
        if (held) held->known = false;
        buffer_->PutValue(column, textVariant(text));
        if (held) {
            held->text = text;
            held->known = true;
        }
    }

    const char* function_;
    ITablePtr table_;
    const FieldDef* defs_;
    int defCount_;
    IRowBufferPtr buffer_;
    ICursorPtr cursor_;
    std::vector<LONG> columns_;
    LONG dsnm_ = -1;
    bool numberFirst_ = false;
    std::vector<Held> last_;
    bool used_ = false;  // the buffer has been filled for a row
    int lastCount_ = 0;
    bool lastWithCell_ = false;
};

HRESULT insertRelationRow(const char* function, ITable* table, const FieldDef* defs, int defCount, int n,
                          const char* const* values, const char* cellName) {
    try {
        if (!table) return E_INVALIDARG;
        RelationInserter inserter(function, table, defs, defCount);
        return inserter.insert(n, values, cellName);
    } catch (const _com_error& e) {
        logComError(function, e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError(function, _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

// One pointer's row through the record's inserter; a failure is the row's, logged by the caller.
HRESULT insertWith(RelationInserter& inserter, const char* function, int n, const char* const* values,
                   const char* cellName, const int32_t* first = nullptr) {
    try {
        return inserter.insert(n, values, cellName, first);
    } catch (const _com_error& e) {
        logComError(function, e);
        return E_FAIL;
    }
}

// The inserter of that table in the slot, made anew for another table.
RelationInserter& inserterFor(std::optional<RelationInserter>& slot, const char* function, ITable* table,
                              const FieldDef* defs, int defCount) {
    if (!slot || slot->table() != table) {
        slot.reset();
        slot.emplace(function, table, defs, defCount);
    }
    return *slot;
}

}  // namespace

struct RelationRows::State {
    std::optional<RelationInserter> srel, frel;
    ITablePtr commentTable;  // the frel whose COMT width is known
    std::size_t commentWidth = 0;
};

RelationRows::RelationRows() : state_(std::make_unique<State>()) {}
RelationRows::~RelationRows() = default;

void getIsoSubField(const char* label, const char* value, char* out, std::size_t outSize, const char* defaultText) {
    if (!out || outSize == 0) return;
    const char* fallback = defaultText ? defaultText : "";
    const char* v = value ? value : "";
    char buf[kCodecTextMax + 1];
    std::snprintf(buf, sizeof buf, "%s", v);
    if (buf[0] == '\0') {
        std::snprintf(buf, sizeof buf, "%s", fallback);
    } else if (buf[0] >= '0' && buf[0] <= '9') {
        if (!label || bin2ascii(label, buf, buf) != 0) {
            logLine("getIsoSubField: unable to translate subfield %s value %s, override to %s", label ? label : "", v,
                    fallback);
            std::snprintf(buf, sizeof buf, "%s", fallback);
        }
    }
    std::snprintf(out, outSize, "%s", buf);
}

HRESULT insertSrelRow(ITable* table, int n, const char* const* values, const char* cellName) {
    return insertRelationRow("insertSrelRow", table, srelFieldDefs, fieldDefCount(srelFieldDefs), n, values,
                             cellName);
}

HRESULT insertCrelRow(ITable* table, int n, const char* const* values, const char* cellName) {
    return insertRelationRow("insertCrelRow", table, frelFieldDefs, fieldDefCount(frelFieldDefs), n, values,
                             cellName);
}

int writeSrelTable(ITable* srel, const Iso8211Record* record, char kind, const char* srcLnam, const char* srcName,
                   const char* cellName) {
    RelationRows rows;
    return writeSrelTable(rows, srel, record, kind, srcLnam, srcName, cellName);
}

int writeSrelTable(RelationRows& rows, ITable* srel, const Iso8211Record* record, char kind, const char* srcLnam,
                   const char* srcName, const char* cellName) {
    if (kind != 'F' && kind != 'V') {
        logLine("writeSrelTable: type is %c, expecting V or F\n", kind);
        return -11;
    }
    try {
        if (!srel || !record) return E_INVALIDARG;
        const char* lnam = srcLnam ? srcLnam : "";
        const char* name = srcName ? srcName : "";
        const bool vector = kind == 'V';
        const char* tag = vector ? "VRPT" : "FSPT";
        std::optional<RelationInserter>& slot = rows.state().srel;
        RelationInserter* inserter = nullptr;
        for (int f = Find8211Field(record, tag, 0); f >= 0; f = Find8211Field(record, tag, f + 1)) {
            int iName = Find8211SubField(record, "NAME", f, 0);
            int iOrnt = Find8211SubField(record, "ORNT", f, 0);
            int iUsag = Find8211SubField(record, "USAG", f, 0);
            int iMask = Find8211SubField(record, "MASK", f, 0);
            int iTopi = vector ? Find8211SubField(record, "TOPI", f, 0) : 0;
            while (iName >= 0 && iOrnt >= 0 && iUsag >= 0 && iMask >= 0 && iTopi >= 0) {
                if (!inserter) {
                    // The counter catches up once per table; a kept inserter has done so already.
                    if (!slot || slot->table() != srel) continueSrelCounter(srel);
                    inserter = &inserterFor(slot, "insertSrelRow", srel, srelFieldDefs, fieldDefCount(srelFieldDefs));
                }
                const char ornt[2] = {letterOf("ORNT", subValue(record, f, iOrnt)), '\0'};
                const char usag[2] = {letterOf("USAG", subValue(record, f, iUsag)), '\0'};
                const char mask[2] = {letterOf("MASK", subValue(record, f, iMask)), '\0'};
                const char topi[2] = {vector ? letterOf("TOPI", subValue(record, f, iTopi)) : 'X', '\0'};
                ++srelCounter;
                const int32_t idNumber = srelCounter;
                char id[16] = "";
                if (!inserter->numberFirst()) std::snprintf(id, sizeof id, "%-10d", int(idNumber));
                const char* values[8] = {id, lnam, name, subValue(record, f, iName), ornt, usag, topi, mask};
                if (FAILED(insertWith(*inserter, "insertSrelRow", 8, values, cellName, &idNumber)))
                    logLine("writeSrelTable: error on writing records %s:%s\n", lnam, name);
                iName = Find8211SubField(record, "NAME", f, iName + 1);
                iOrnt = Find8211SubField(record, "ORNT", f, iOrnt + 1);
                iUsag = Find8211SubField(record, "USAG", f, iUsag + 1);
                iMask = Find8211SubField(record, "MASK", f, iMask + 1);
                if (vector) iTopi = Find8211SubField(record, "TOPI", f, iTopi + 1);
            }
        }
        return 0;
    } catch (const _com_error& e) {
        logComError("writeSrelTable", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("writeSrelTable", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

int writeCrelTable(ITable* frel, const Iso8211Record* record, const char* srcLnam, Cache* cache,
                   const char* cellName) {
    RelationRows rows;
    return writeCrelTable(rows, frel, record, srcLnam, cache, cellName);
}

int writeCrelTable(RelationRows& rows, ITable* frel, const Iso8211Record* record, const char* srcLnam, Cache* cache,
                   const char* cellName) {
    try {
        if (!frel || !record || !cache) return E_INVALIDARG;
        const char* lnam = srcLnam ? srcLnam : "";
        RelationRows::State& state = rows.state();
        // COMT is cut to what the column holds: a longer value would fail the insert and lose the row.
        if (state.commentTable.GetInterfacePtr() != frel) {
            std::size_t commentWidth = std::size_t(frelFieldDefs[5].width);
            const LONG comtColumn = frel->FindField("COMT");
            if (comtColumn >= 0) {
                const LONG length = frel->GetFields()->GetField(comtColumn)->GetLength();
                if (length > 0) commentWidth = std::size_t(length);
            }
            if (commentWidth > kMaxComment) commentWidth = kMaxComment;
            state.commentWidth = commentWidth;
            state.commentTable = frel;
        }
        const std::size_t commentWidth = state.commentWidth;
        RelationInserter* inserter = nullptr;

        for (int f = Find8211Field(record, "FFPT", 0); f >= 0; f = Find8211Field(record, "FFPT", f + 1)) {
            int iLnam = Find8211SubField(record, "LNAM", f, 0);
            int iRind = Find8211SubField(record, "RIND", f, 0);
            int iComt = Find8211SubField(record, "COMT", f, 0);
            for (; iLnam >= 0 && iRind >= 0 && iComt >= 0;
                 iLnam = Find8211SubField(record, "LNAM", f, iLnam + 1),
                 iRind = Find8211SubField(record, "RIND", f, iRind + 1),
                 iComt = Find8211SubField(record, "COMT", f, iComt + 1)) {
                const char* target = subValue(record, f, iLnam);
                if (std::strlen(target) != 17) {
                    logLine("writeCrelTable: FFPT::LNAM value %s invalid\n", target);
                    continue;
                }
                FeatureEntry* entry = nullptr;
                (void)cache_find_f(cache, target, &entry);
                if (!entry) {
                    logLine("writeCrelTable: unable to lookup target feature %s\n", target);
                    continue;
                }
                std::string destClass = entry->objClass;
                if (!destClass.empty() && destClass[0] >= '0' && destClass[0] <= '9') {
                    const char* acronym = nullptr;
                    if (lookupObjAcronym(destClass.c_str(), &acronym) == 0 && acronym)
                        destClass = acronym;
                    else
                        logLine("writeCrelTable: unable to translate numeric class code %s", destClass.c_str());
                }
                const char* rindValue = subValue(record, f, iRind);
                std::string rind = "?";
                if (std::strlen(rindValue) == 1) {
                    if (rindValue[0] >= '0' && rindValue[0] <= '9') {
                        char buf[kCodecTextMax + 1];
                        if (bin2ascii("RIND", rindValue, buf) == 0 && buf[0])
                            rind.assign(buf, 1);
                        else
                            logLine("writeCrelTable: unable to translate subfield %s value %s, override to %s",
                                    "RIND", rindValue, "?");
                    } else {
                        rind = rindValue;
                    }
                }
                std::string comment = subValue(record, f, iComt);
                if (comment.empty()) {
                    comment = "MISSING";
                } else {
                    const std::string cut = cutToWidth(comment, commentWidth);
                    if (cut.size() != comment.size()) {
                        logLine("writeCrelTable: truncated %s 's FFPT::COMT to %d character", lnam,
                                int(commentWidth));
                        comment = cut;
                    }
                }
                const char* values[6] = {lnam, target, destClass.c_str(), entry->prim, rind.c_str(), comment.c_str()};
                if (!inserter)
                    inserter = &inserterFor(state.frel, "insertCrelRow", frel, frelFieldDefs, fieldDefCount(frelFieldDefs));
                if (FAILED(insertWith(*inserter, "insertCrelRow", 6, values, cellName)))
                    logLine("writeCrelTable: error on writing records %s\n", lnam);
            }
        }
        return 0;
    } catch (const _com_error& e) {
        logComError("writeCrelTable", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("writeCrelTable", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

bool checkWithin(IGeometry* feature, IGeometry* reference, int geometryType) {
    try {
        if (!feature || !reference) return false;
        IRelationalOperatorPtr relation(feature);
        if (!relation) return false;
        // On or within: nothing of the feature outside the reference, and they meet.
        if (!relation->Disjoint(reference) && relation->Relate(reference, L"**F**F***")) return true;
        switch (geometryType) {
            case 1:
                return !relation->Disjoint(reference);
            case 4: {
                const double whole = IAreaPtr(feature)->GetArea();
                // A feature without area cannot be mostly inside: the ratio would be 0/0.
                if (!std::isfinite(whole) || whole == 0.0) return false;
                IGeometryPtr common = ITopologicalOperatorPtr(feature)->Intersect(reference, esriGeometry2Dimension);
                IAreaPtr commonArea(common);
                const double inside = commonArea ? commonArea->GetArea() : 0.0;
                return std::fabs(1.0 - inside / whole) < 0.1;
            }
            case 3: {
                const double whole = ICurvePtr(feature)->GetLength();
                if (!std::isfinite(whole) || whole == 0.0) return false;
                IGeometryPtr common = ITopologicalOperatorPtr(feature)->Intersect(reference, esriGeometry1Dimension);
                ICurvePtr commonCurve(common);
                const double inside = commonCurve ? commonCurve->GetLength() : 0.0;
                return std::fabs(1.0 - inside / whole) < 0.1;
            }
            default:
                return false;
        }
    } catch (const _com_error& e) {
        logComError("checkWithin", e);
        return false;
    } catch (const std::bad_alloc&) {
        logComError("checkWithin", _com_error(E_OUTOFMEMORY));
        return false;
    }
}
