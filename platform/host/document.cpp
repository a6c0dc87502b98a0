// platform/host/document.cpp: the map document: its focus map (which is also the active view), the
// selected layer, the command bars, the contents update, and its events. Sinks are told in the
// order they were advised; a sink that fails does not keep the others from hearing.

#include "platform/host/application.h"

namespace host {

MxDocument::MxDocument(Application* app) : map_(new Map), bars_(new CommandBars(app)) {}

HRESULT MxDocument::get_FocusMap(IMap** map) {
    if (!map) return E_POINTER;
    *map = map_;
    (*map)->AddRef();
    return S_OK;
}
HRESULT MxDocument::get_ActiveView(IActiveView** view) {
    if (!view) return E_POINTER;
    *view = map_;
    (*view)->AddRef();
    return S_OK;
}
HRESULT MxDocument::get_SelectedLayer(ILayer** layer) {
    if (!layer) return E_POINTER;
    *layer = selected_;
    if (*layer) (*layer)->AddRef();
    return S_OK;
}
HRESULT MxDocument::get_CommandBars(ICommandBars** bars) {
    if (!bars) return E_POINTER;
    *bars = bars_;
    (*bars)->AddRef();
    return S_OK;
}
HRESULT MxDocument::raw_UpdateContents() {
    ++updates_;
    return S_OK;
}
HRESULT MxDocument::raw_Advise(IDocumentEvents* sink, DWORD* cookie) {
    return comGuard([&] {
        if (!sink || !cookie) return E_POINTER;
        *cookie = nextCookie_++;
        sinks_.emplace(*cookie, IDocumentEventsPtr(sink));
        return S_OK;
    });
}
HRESULT MxDocument::raw_Unadvise(DWORD cookie) {
    return comGuard([&] {
        // Taken out before it is let go: its release may call back into the document.
        auto it = sinks_.find(cookie);
        if (it == sinks_.end()) return HOST_E_NOT_FOUND;
        IDocumentEventsPtr gone = std::move(it->second);
        sinks_.erase(it);
        return S_OK;
    });
}

void MxDocument::setMap(_com_ptr_t<Map> map) {
    map_ = std::move(map);
    selected_ = nullptr;
}

template <class F>
void MxDocument::fire(F&& call) {
    // A snapshot: a sink may unadvise itself while it is told.
    std::vector<IDocumentEventsPtr> sinks;
    for (const auto& [cookie, sink] : sinks_) sinks.push_back(sink);
    for (const auto& sink : sinks) call(sink.GetInterfacePtr());
}

void MxDocument::fireNewDocument() {
    fire([](IDocumentEvents* s) { s->raw_NewDocument(); });
}
void MxDocument::fireOpenDocument() {
    fire([](IDocumentEvents* s) { s->raw_OpenDocument(); });
}
void MxDocument::fireCloseDocument() {
    fire([](IDocumentEvents* s) { s->raw_CloseDocument(); });
}

}  // namespace host
