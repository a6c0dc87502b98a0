// platform/host/command_bars.cpp: command bars and their items. Find looks through the bars (a bar
// by its own UID, then the items on each bar) and last through the application's command pool, so
// that a command which no bar holds yet can be found and placed.

#include <algorithm>

#include "platform/host/application.h"
#include "platform/host/uid.h"

namespace host {
namespace {

std::string uidValueOf(IUID* id) {
    if (!id) _com_issue_error(E_POINTER);
    return id->GetValue().narrow();
}

HRESULT giveUid(const std::string& value, IUID** id) {
    return comGuard([&] {
        if (!id) return E_POINTER;
        *id = makeUid(value).Detach();
        return S_OK;
    });
}

HRESULT giveText(const std::string& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocString(fromUtf8(text).c_str());
    return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

// ---- Items ---------------------------------------------------------------------------------------

HRESULT CommandItem::get_ID(IUID** id) { return giveUid(uid_, id); }
HRESULT CommandItem::get_Caption(BSTR* caption) {
    return comGuard([&] {
        std::string text = uid_;
        if (ICommandPtr c = app_->command(uid_)) text = c->GetCaption().narrow();
        return giveText(text, caption);
    });
}
HRESULT CommandItem::get_Group(VARIANT_BOOL* group) {
    if (!group) return E_POINTER;
    *group = group_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}
HRESULT CommandItem::put_Group(VARIANT_BOOL group) {
    group_ = group != VARIANT_FALSE;
    return S_OK;
}
HRESULT CommandItem::raw_Refresh() { return S_OK; }
HRESULT CommandItem::raw_Execute() {
    return comGuard([&] {
        app_->click(uid_);
        return S_OK;
    });
}

// ---- Bars ----------------------------------------------------------------------------------------

HRESULT CommandBar::get_Count(LONG* count) {
    if (!count) return E_POINTER;
    *count = LONG(items_.size());
    return S_OK;
}
HRESULT CommandBar::get_Item(LONG index, ICommandItem** item) {
    if (!item) return E_POINTER;
    *item = nullptr;
    if (index < 0 || std::size_t(index) >= items_.size()) return E_INVALIDARG;
    *item = items_[std::size_t(index)];
    (*item)->AddRef();
    return S_OK;
}
HRESULT CommandBar::raw_Add(IUID* id, const VARIANT* index, ICommandItem** item) {
    return comGuard([&] {
        if (item) *item = nullptr;
        const std::string value = uidValueOf(id);
        std::size_t at = items_.size();
        if (index && index->vt != VT_EMPTY && index->vt != VT_ERROR) {
            const long i = long(_variant_t(*index));
            if (i < 0 || std::size_t(i) > items_.size()) return E_INVALIDARG;
            at = std::size_t(i);
        }
        _com_ptr_t<CommandItem> added(new CommandItem(app_, value));
        items_.insert(items_.begin() + std::ptrdiff_t(at), added);
        if (item) {
            *item = added;
            (*item)->AddRef();
        }
        return S_OK;
    });
}
HRESULT CommandBar::get_ID(IUID** id) { return giveUid(uid_, id); }
HRESULT CommandBar::get_Caption(BSTR* caption) { return comGuard([&] { return giveText(caption_, caption); }); }
HRESULT CommandBar::get_Group(VARIANT_BOOL* group) {
    if (!group) return E_POINTER;
    *group = VARIANT_FALSE;
    return S_OK;
}
HRESULT CommandBar::put_Group(VARIANT_BOOL) { return S_OK; }
HRESULT CommandBar::raw_Refresh() { return S_OK; }
HRESULT CommandBar::raw_Execute() { return S_OK; }
void CommandBar::append(const std::string& uid) { items_.emplace_back(new CommandItem(app_, uid)); }

HRESULT CommandBars::raw_Find(IUID* id, VARIANT_BOOL noRecurse, VARIANT_BOOL noCreate, ICommandItem** item) {
    return comGuard([&] {
        if (!item) return E_POINTER;
        *item = nullptr;
        const std::string key = uidKey(uidValueOf(id));
        for (const auto& bar : bars_) {
            if (uidKey(bar->uid()) == key) {
                *item = static_cast<ICommandItem*>(bar.GetInterfacePtr());
                (*item)->AddRef();
                return S_OK;
            }
        }
        if (noRecurse == VARIANT_FALSE) {
            for (const auto& bar : bars_) {
                for (const auto& it : bar->items()) {
                    if (uidKey(it->uid()) == key) {
                        *item = it;
                        (*item)->AddRef();
                        return S_OK;
                    }
                }
            }
        }
        // A command of the pool that stands on no bar yet.
        if (noCreate == VARIANT_FALSE) {
            for (const auto& [progId, cmd] : app_->pool()) {
                if (uidKey(progId) == key) {
                    *item = new CommandItem(app_, progId);
                    (*item)->AddRef();
                    return S_OK;
                }
            }
        }
        return S_OK;
    });
}
HRESULT CommandBars::get_Count(LONG* count) {
    if (!count) return E_POINTER;
    *count = LONG(bars_.size());
    return S_OK;
}
_com_ptr_t<CommandBar> CommandBars::addBar(const std::string& uid, const std::string& caption,
                                           const std::vector<std::string>& itemUids) {
    _com_ptr_t<CommandBar> bar(new CommandBar(app_, uid, caption));
    for (const auto& u : itemUids) bar->append(u);
    bars_.push_back(bar);
    return bar;
}

}  // namespace host
