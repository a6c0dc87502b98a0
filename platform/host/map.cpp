// platform/host/map.cpp: feature layers, label classes, the layer enumeration over a snapshot, and
// the map as its own view. Every method runs in comGuard.

#include "platform/host/map.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/host/uid.h"

namespace host {
namespace {

HRESULT giveText(const std::wstring& v, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocString(v.c_str());
    return *out ? S_OK : E_OUTOFMEMORY;
}

std::wstring takeArg(BSTR s) { return s ? std::wstring(s, SysStringLen(s)) : std::wstring(); }

template <class I>
HRESULT giveRef(I* p, I** out) {
    if (!out) return E_POINTER;
    *out = p;
    if (p) p->AddRef();
    return S_OK;
}

// Layers of a snapshot of the map: removing layers from the map does not disturb the walk.
class EnumLayer : public ComObject<IEnumLayer> {
public:
    explicit EnumLayer(std::vector<ILayerPtr> layers) : layers_(std::move(layers)) {}
    HRESULT raw_Next(ILayer** layer) override {
        if (!layer) return E_POINTER;
        *layer = nullptr;
        if (next_ >= layers_.size()) return S_FALSE;
        return giveRef<ILayer>(layers_[next_++], layer);
    }
    HRESULT raw_Reset() override {
        next_ = 0;
        return S_OK;
    }

private:
    std::vector<ILayerPtr> layers_;
    std::size_t next_ = 0;
};

IEnvelopePtr emptyEnvelope() { return IEnvelopePtr(CLSID_Envelope); }

}  // namespace

// ---- Labels --------------------------------------------------------------------------------------

HRESULT LabelEngineLayerProperties::get_Class(BSTR* name) { return comGuard([&] { return giveText(class_, name); }); }
HRESULT LabelEngineLayerProperties::put_Class(BSTR name) {
    return comGuard([&] {
        class_ = takeArg(name);
        return S_OK;
    });
}
HRESULT LabelEngineLayerProperties::get_Expression(BSTR* text) {
    return comGuard([&] { return giveText(expression_, text); });
}
HRESULT LabelEngineLayerProperties::put_Expression(BSTR text) {
    return comGuard([&] {
        expression_ = takeArg(text);
        return S_OK;
    });
}

HRESULT LabelCollection::raw_Clear() {
    items_.clear();
    return S_OK;
}
HRESULT LabelCollection::raw_Add(IAnnotateLayerProperties* item) {
    return comGuard([&] {
        if (!item) return E_POINTER;
        items_.emplace_back(item);
        return S_OK;
    });
}
HRESULT LabelCollection::get_Count(LONG* count) {
    if (!count) return E_POINTER;
    *count = LONG(items_.size());
    return S_OK;
}
HRESULT LabelCollection::raw_QueryItem(LONG index, IAnnotateLayerProperties** item) {
    if (!item) return E_POINTER;
    *item = nullptr;
    if (index < 0 || std::size_t(index) >= items_.size()) return E_INVALIDARG;
    return giveRef<IAnnotateLayerProperties>(items_[std::size_t(index)], item);
}
std::vector<std::string> LabelCollection::expressions() const {
    std::vector<std::string> out;
    for (const auto& item : items_)
        if (ILabelEngineLayerPropertiesPtr label = item) out.push_back(label->GetExpression().narrow());
    return out;
}

// ---- Feature layers ------------------------------------------------------------------------------

FeatureLayer::FeatureLayer() : labels_(new LabelCollection) {}

HRESULT FeatureLayer::get_Name(BSTR* name) { return comGuard([&] { return giveText(name_, name); }); }
HRESULT FeatureLayer::put_Name(BSTR name) {
    return comGuard([&] {
        name_ = takeArg(name);
        return S_OK;
    });
}
HRESULT FeatureLayer::get_AreaOfInterest(IEnvelope** extent) {
    return comGuard([&] {
        if (!extent) return E_POINTER;
        IEnvelopePtr e = class_ ? extentOfClass(class_) : emptyEnvelope();
        *extent = e.Detach();
        return S_OK;
    });
}
HRESULT FeatureLayer::get_Valid(VARIANT_BOOL* valid) {
    if (!valid) return E_POINTER;
    *valid = class_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}
HRESULT FeatureLayer::get_FeatureClass(IFeatureClass** featureClass) {
    return giveRef<IFeatureClass>(class_, featureClass);
}
HRESULT FeatureLayer::putref_FeatureClass(IFeatureClass* featureClass) {
    class_ = featureClass;
    return S_OK;
}
HRESULT FeatureLayer::get_Renderer(IFeatureRenderer** renderer) { return giveRef<IFeatureRenderer>(renderer_, renderer); }
HRESULT FeatureLayer::putref_Renderer(IFeatureRenderer* renderer) {
    renderer_ = renderer;
    return S_OK;
}
HRESULT FeatureLayer::get_AnnotationProperties(IAnnotateLayerPropertiesCollection** labels) {
    return giveRef<IAnnotateLayerPropertiesCollection>(labels_, labels);
}
HRESULT FeatureLayer::get_DisplayAnnotation(VARIANT_BOOL* on) {
    if (!on) return E_POINTER;
    *on = display_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}
HRESULT FeatureLayer::put_DisplayAnnotation(VARIANT_BOOL on) {
    display_ = on != VARIANT_FALSE;
    return S_OK;
}

IEnvelopePtr extentOfClass(IFeatureClass* featureClass) {
    IEnvelopePtr all = emptyEnvelope();
    bool any = false;
    double xmin = HUGE_VAL, ymin = HUGE_VAL, xmax = -HUGE_VAL, ymax = -HUGE_VAL;
    IFeatureCursorPtr cursor = featureClass->Search(nullptr, VARIANT_TRUE);
    IEnvelopePtr e = emptyEnvelope();
    while (IFeaturePtr f = cursor->NextFeature()) {
        IGeometryPtr shape = f->GetShape();
        if (!shape || shape->GetIsEmpty()) continue;
        shape->QueryEnvelope(e);
        double a, b, c, d;
        e->QueryCoords(&a, &b, &c, &d);
        xmin = std::min(xmin, a);
        ymin = std::min(ymin, b);
        xmax = std::max(xmax, c);
        ymax = std::max(ymax, d);
        any = true;
    }
    if (any) all->PutCoords(xmin, ymin, xmax, ymax);
    return all;
}

FeatureLayer* featureLayerOf(IUnknown* layer) { return dynamic_cast<FeatureLayer*>(layer); }

// ---- Map and view --------------------------------------------------------------------------------

Map::Map(std::wstring name) : name_(std::move(name)) {
    std::fill(std::begin(extent_), std::end(extent_), std::numeric_limits<double>::quiet_NaN());
}

HRESULT Map::get_Name(BSTR* name) { return comGuard([&] { return giveText(name_, name); }); }
HRESULT Map::get_LayerCount(LONG* count) {
    if (!count) return E_POINTER;
    *count = LONG(layers_.size());
    return S_OK;
}
HRESULT Map::get_Layer(LONG index, ILayer** layer) {
    if (!layer) return E_POINTER;
    *layer = nullptr;
    if (index < 0 || std::size_t(index) >= layers_.size()) return E_INVALIDARG;
    return giveRef<ILayer>(layers_[std::size_t(index)], layer);
}
HRESULT Map::get_Layers(IUID* filter, VARIANT_BOOL, IEnumLayer** layers) {
    return comGuard([&] {
        if (!layers) return E_POINTER;
        *layers = nullptr;
        std::vector<ILayerPtr> picked;
        std::optional<GUID> iid;
        if (filter) {
            iid = guidFromString(filter->GetValue().narrow());
            if (!iid) return E_INVALIDARG;
        }
        for (const auto& l : layers_) {
            if (iid) {
                IUnknown* probe = nullptr;
                if (FAILED(l->QueryInterface(*iid, reinterpret_cast<void**>(&probe)))) continue;
                probe->Release();
            }
            picked.push_back(l);
        }
        IEnumLayerPtr walk(static_cast<IEnumLayer*>(new EnumLayer(std::move(picked))));
        *layers = walk.Detach();
        return S_OK;
    });
}
HRESULT Map::raw_AddLayer(ILayer* layer) {
    return comGuard([&] {
        if (!layer) return E_POINTER;
        layers_.insert(layers_.begin(), ILayerPtr(layer));
        return S_OK;
    });
}
HRESULT Map::raw_DeleteLayer(ILayer* layer) {
    return comGuard([&] {
        auto it = std::find_if(layers_.begin(), layers_.end(), [&](const ILayerPtr& l) { return l == layer; });
        if (it == layers_.end()) return HOST_E_NOT_FOUND;
        layers_.erase(it);
        return S_OK;
    });
}
HRESULT Map::get_Extent(IEnvelope** extent) {
    return comGuard([&] {
        if (!extent) return E_POINTER;
        IEnvelopePtr e = emptyEnvelope();
        if (!std::isnan(extent_[0])) e->PutCoords(extent_[0], extent_[1], extent_[2], extent_[3]);
        *extent = e.Detach();
        return S_OK;
    });
}
HRESULT Map::put_Extent(IEnvelope* extent) {
    return comGuard([&] {
        if (!extent) return E_POINTER;
        if (extent->GetIsEmpty()) return S_OK;  // an empty box leaves the view where it is
        extent->QueryCoords(&extent_[0], &extent_[1], &extent_[2], &extent_[3]);
        return S_OK;
    });
}
HRESULT Map::raw_Refresh() {
    ++refreshes_;
    return S_OK;
}
void Map::appendLayer(ILayer* layer) { layers_.emplace_back(layer); }
void Map::extent(double& xmin, double& ymin, double& xmax, double& ymax) const {
    xmin = extent_[0];
    ymin = extent_[1];
    xmax = extent_[2];
    ymax = extent_[3];
}
void Map::setExtent(double xmin, double ymin, double xmax, double ymax) {
    extent_[0] = xmin;
    extent_[1] = ymin;
    extent_[2] = xmax;
    extent_[3] = ymax;
}

Map* mapOf(IUnknown* map) { return dynamic_cast<Map*>(map); }

}  // namespace host

namespace host {
namespace {
const ComClassRegistrar registerLabel(CLSID_LabelEngineLayerProperties, "Host.LabelEngineLayerProperties",
                                      &createComInstance<LabelEngineLayerProperties>);
}  // namespace
}  // namespace host
