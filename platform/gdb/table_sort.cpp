// platform/gdb/table_sort.cpp: the table sort: the rows of a table in the order of some of its
// fields, each ascending or descending, equal keys in table order.
#include <string>
#include <utility>
#include <vector>

#include "platform/com/class_registry.h"
#include "platform/gdb/geodatabase_objects.h"

namespace gdb {

namespace {

class TableSort final : public Object<ITableSort> {
public:
    HRESULT get_Table(ITable** t) override { return givePtr(table_.GetInterfacePtr(), t); }
    HRESULT putref_Table(ITable* t) override { return keepValue(table_, t); }
    HRESULT get_QueryFilter(IQueryFilter** f) override { return givePtr(filter_.GetInterfacePtr(), f); }
    HRESULT putref_QueryFilter(IQueryFilter* f) override { return keepValue(filter_, f); }
    HRESULT get_Fields(BSTR* f) override { return giveText(fields_, f); }
    HRESULT put_Fields(BSTR f) override { return keepValue(fields_, utf8(f)); }
    HRESULT get_Ascending(BSTR field, VARIANT_BOOL* a) override {
        if (!a) return E_POINTER;
        *a = VARIANT_TRUE;
        std::string n = utf8(field);
        for (auto& [k, v] : ascending_)
            if (sameNoCase(k, n)) *a = v ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT put_Ascending(BSTR field, VARIANT_BOOL a) override {
        return gdbGuard([&] {
            std::string n = utf8(field);
            for (auto& [k, v] : ascending_)
                if (sameNoCase(k, n)) {
                    v = a != VARIANT_FALSE;
                    return S_OK;
                }
            ascending_.emplace_back(n, a != VARIANT_FALSE);
            return S_OK;
        });
    }
    HRESULT raw_Sort(IUnknown*) override {
        return gdbGuard([&] {
            orderBy();
            return S_OK;
        });
    }
    HRESULT get_Rows(ICursor** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            std::string order = orderBy();
            IGdbInternalPtr in(table_);
            *out = in->asClass()->searchSorted(filter_, order).Detach();
            return S_OK;
        });
    }

private:
    std::string orderBy() {
        if (!table_) raise(E_FAIL, "the table sort has no table");
        IGdbInternalPtr in(table_);
        ClassImpl* cls = in ? in->asClass() : nullptr;
        if (!cls) raise(E_INVALIDARG, "the table sort needs a table of a geodatabase");
        const ClassInfo& ci = cls->info();
        std::string out;
        std::size_t start = 0;
        while (start <= fields_.size()) {
            std::size_t comma = fields_.find(',', start);
            std::string name = trimBlanks(fields_.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
            start = comma == std::string::npos ? fields_.size() + 1 : comma + 1;
            if (name.empty()) continue;
            int i = ci.find(name);
            if (i < 0) raise(E_INVALIDARG, ci.name + " has no field " + name + " to sort by");
            bool asc = true;
            for (auto& [k, v] : ascending_)
                if (sameNoCase(k, name)) asc = v;
            if (!out.empty()) out += ", ";
            out += sqlName(ci.fields[std::size_t(i)].name) + (asc ? " ASC" : " DESC");
        }
        if (out.empty()) raise(E_INVALIDARG, "the table sort has no fields");
        // Equal keys keep table order.
        return out + ", " + sqlName(ci.fields[std::size_t(ci.oid)].name);
    }

    ITablePtr table_;
    IQueryFilterPtr filter_;
    std::string fields_;
    std::vector<std::pair<std::string, bool>> ascending_;
};

const ComClassRegistrar kRegistrar{CLSID_TableSort, "Gdb.TableSort.1", &createComInstance<TableSort>};

}  // namespace

}  // namespace gdb
