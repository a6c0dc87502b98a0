// platform/gdb/cursor.cpp: search, update and insert cursors of a table or feature class, over
// the rows its storage selects.
#include <memory>
#include <string>
#include <vector>

#include "platform/gdb/geodatabase_objects.h"

namespace gdb {

namespace {

class CursorImpl final : public Object<ICursor, IFeatureCursor> {
public:
    using Kind = CursorKind;
    static constexpr Kind Search = CursorKind::Search, Update = CursorKind::Update, Insert = CursorKind::Insert;

    CursorImpl(ClassImpl* cls, Kind kind, bool recycling)
        : cls_(cls), hold_(static_cast<ITable*>(cls)), info_(cls->infoPtr()), kind_(kind), recycling_(recycling) {}

    void open(IQueryFilter* filter, const std::string& orderBy) {
        if (kind_ == Insert) return;
        const RowFilter sel = readFilter(*info_, filter);
        if (sel.none) return;
        if (kind_ == Search) {
            std::vector<int> all(info_->fields.size());
            for (std::size_t i = 0; i < all.size(); ++i) all[i] = int(i);
            rows_ = cls_->db().select(*info_, sel, all, orderBy);
        } else {
            // The rows are chosen first, so that updates never bring a row back.
            std::vector<int> cols{info_->oid};
            if (info_->shape >= 0) cols.push_back(info_->shape);
            auto rows = cls_->db().select(*info_, sel, cols,
                                          orderBy.empty() ? sqlName(info_->fields[std::size_t(info_->oid)].name) : orderBy);
            std::vector<Val> row;
            while (rows->next(row)) ids_.push_back(row[0].i);
        }
    }

    ~CursorImpl() override { finish(); }
    void finish() { rows_.reset(); }

    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (!info_->feature && riid == IFeatureCursor::iid) {
            if (out) *out = nullptr;
            return E_NOINTERFACE;
        }
        return Object::QueryInterface(riid, out);
    }

    HRESULT get_Fields(IFields** out) override {
        return gdbGuard([&] {
            need(out);
            *out = cls_->fields().Detach();
            return S_OK;
        });
    }
    HRESULT raw_FindField(BSTR name, LONG* index) override {
        return gdbGuard([&] {
            need(index);
            *index = info_->find(utf8(name));
            return S_OK;
        });
    }
    HRESULT raw_NextRow(IRow** row) override {
        return gdbGuard([&] {
            need(row);
            *row = nullptr;
            RowImpl* r = next();
            if (!r) return S_FALSE;
            *row = IRowPtr(static_cast<IRow*>(r)).Detach();
            return S_OK;
        });
    }
    HRESULT raw_NextFeature(IFeature** f) override {
        return gdbGuard([&] {
            need(f);
            *f = nullptr;
            RowImpl* r = next();
            if (!r) return S_FALSE;
            *f = IFeaturePtr(static_cast<IFeature*>(r)).Detach();
            return S_OK;
        });
    }
    HRESULT raw_UpdateRow(IRow* row) override { return updateRow(row); }
    HRESULT raw_UpdateFeature(IFeature* f) override { return updateRow(f); }
    HRESULT raw_DeleteRow() override { return deleteRow(); }
    HRESULT raw_DeleteFeature() override { return deleteRow(); }
    HRESULT raw_InsertRow(IRowBuffer* buffer, VARIANT* oid) override { return insertRow(buffer, oid); }
    HRESULT raw_InsertFeature(IFeatureBuffer* buffer, VARIANT* oid) override { return insertRow(buffer, oid); }
    HRESULT raw_Flush() override {
        return gdbGuard([&] {
            if (kind_ == Insert) cls_->db().flushBatch();
            return S_OK;
        });
    }

private:
    RowImpl* rowObject() {
        if (recycling_ && row_) return static_cast<RowImpl*>(row_.GetInterfacePtr());
        auto* r = new RowImpl(cls_, 0, info_);
        row_ = IRowPtr(static_cast<IRow*>(r));
        return r;
    }
    RowImpl* next() {
        if (kind_ == Insert) raise(E_FAIL, "an insert cursor gives no rows");
        current_ = -1;
        if (kind_ == Search) {
            if (!rows_) return nullptr;
            RowImpl* r = rowObject();
            auto& vals = r->values();
            if (rows_->next(vals)) {
                r->refill(vals[std::size_t(info_->oid)].i);
                current_ = r->oid();
                return r;
            }
            finish();
            return nullptr;
        }
        while (pos_ < ids_.size()) {
            std::int64_t id = ids_[pos_++];
            RowImpl* r = rowObject();
            if (!cls_->fetch(*info_, id, r->values())) continue;  // deleted meanwhile
            r->refill(id);
            current_ = id;
            return r;
        }
        return nullptr;
    }
    HRESULT updateRow(IUnknown* row) {
        return gdbGuard([&] {
            if (kind_ != Update) raise(E_FAIL, "rows are updated through an update cursor");
            IGdbInternalPtr in(row);
            RowImpl* r = in ? in->asRow() : nullptr;
            if (!r || r->owner() != cls_ || r->oid() < 0) raise(E_INVALIDARG, "UpdateRow needs a row of this cursor's class");
            r->settleShape();
            cls_->update(r->info(), r->oid(), r->values(), r->dirty());
            r->refill(r->oid());
            return S_OK;
        });
    }
    HRESULT deleteRow() {
        return gdbGuard([&] {
            if (kind_ != Update) raise(E_FAIL, "rows are deleted through an update cursor");
            if (current_ < 0) raise(GDB_E_NO_ROW, "the cursor has no current row");
            cls_->remove(current_);
            current_ = -1;
            return S_OK;
        });
    }
    HRESULT insertRow(IUnknown* buffer, VARIANT* oid) {
        return gdbGuard([&] {
            if (kind_ != Insert) raise(E_FAIL, "rows are inserted through an insert cursor");
            IGdbInternalPtr in(buffer);
            RowImpl* r = in ? in->asRow() : nullptr;
            if (!r || r->owner() != cls_) raise(E_INVALIDARG, "InsertRow needs a buffer of this cursor's class");
            r->settleShape();
            std::int64_t id = cls_->insert(r->info(), r->values());
            if (oid) {
                VariantInit(oid);
                oid->vt = VT_I4;
                oid->lVal = LONG(id);
            }
            return S_OK;
        });
    }

    ClassImpl* cls_;
    ITablePtr hold_;
    std::shared_ptr<ClassInfo> info_;
    Kind kind_;
    bool recycling_;
    std::unique_ptr<RowStream> rows_;  // a search's rows, while it reads them
    std::vector<std::int64_t> ids_;
    std::size_t pos_ = 0;
    std::int64_t current_ = -1;
    IRowPtr row_;
};

template <class CursorI>
HRESULT openAny(ClassImpl* cls, CursorKind kind, IQueryFilter* filter, VARIANT_BOOL recycling, CursorI** out,
                const std::string& orderBy) {
    return gdbGuard([&] {
        need(out);
        *out = nullptr;
        auto* c = new CursorImpl(cls, kind, recycling != VARIANT_FALSE);
        _com_ptr_t<CursorI> hold(static_cast<CursorI*>(c));
        c->open(filter, orderBy);
        *out = hold.Detach();
        return S_OK;
    });
}

}  // namespace

HRESULT openCursor(ClassImpl* cls, CursorKind kind, IQueryFilter* filter, VARIANT_BOOL recycling, ICursor** out,
                   const std::string& orderBy) {
    return openAny(cls, kind, filter, recycling, out, orderBy);
}
HRESULT openCursor(ClassImpl* cls, CursorKind kind, IQueryFilter* filter, VARIANT_BOOL recycling, IFeatureCursor** out,
                   const std::string& orderBy) {
    return openAny(cls, kind, filter, recycling, out, orderBy);
}

}  // namespace gdb
