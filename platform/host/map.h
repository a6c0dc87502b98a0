// platform/host/map.h: the host's map: feature layers (a name, a feature class, a renderer, label
// classes and their display switch), the label classes, and the map that is also its own view
// (extent, refresh count). The map document (platform/host/map_document.h) builds them.
#pragma once

#include <string>
#include <vector>

#include "platform/host/host.h"
#include "platform/host/renderer.h"

namespace host {

class LabelEngineLayerProperties : public ComObject<ILabelEngineLayerProperties> {
public:
    HRESULT get_Class(BSTR* name) override;
    HRESULT put_Class(BSTR name) override;
    HRESULT get_Expression(BSTR* text) override;
    HRESULT put_Expression(BSTR text) override;

private:
    std::wstring class_, expression_;
};

class LabelCollection : public ComObject<IAnnotateLayerPropertiesCollection> {
public:
    HRESULT raw_Clear() override;
    HRESULT raw_Add(IAnnotateLayerProperties* item) override;
    HRESULT get_Count(LONG* count) override;
    HRESULT raw_QueryItem(LONG index, IAnnotateLayerProperties** item) override;

    // The expressions of the label-engine classes, in order.
    std::vector<std::string> expressions() const;

private:
    std::vector<IAnnotateLayerPropertiesPtr> items_;
};

// A feature layer. Its feature class may be null: the layer of a class that could not be opened
// (a broken data source) keeps its name and renderer and is not Valid.
class FeatureLayer : public ComObject<IGeoFeatureLayer> {
public:
    FeatureLayer();

    HRESULT get_Name(BSTR* name) override;
    HRESULT put_Name(BSTR name) override;
    HRESULT get_AreaOfInterest(IEnvelope** extent) override;
    HRESULT get_Valid(VARIANT_BOOL* valid) override;
    HRESULT get_FeatureClass(IFeatureClass** featureClass) override;
    HRESULT putref_FeatureClass(IFeatureClass* featureClass) override;
    HRESULT get_Renderer(IFeatureRenderer** renderer) override;
    HRESULT putref_Renderer(IFeatureRenderer* renderer) override;
    HRESULT get_AnnotationProperties(IAnnotateLayerPropertiesCollection** labels) override;
    HRESULT get_DisplayAnnotation(VARIANT_BOOL* on) override;
    HRESULT put_DisplayAnnotation(VARIANT_BOOL on) override;

    std::string name() const { return toUtf8(name_); }
    IFeatureClass* featureClass() const { return class_; }
    IFeatureRenderer* renderer() const { return renderer_; }
    LabelCollection& labels() { return *labels_; }
    bool displayLabels() const { return display_; }

private:
    std::wstring name_;
    IFeatureClassPtr class_;
    IFeatureRendererPtr renderer_;
    _com_ptr_t<LabelCollection> labels_;
    bool display_ = false;
};

// Every feature of a class, envelope by envelope: the smallest box holding them (empty for none).
IEnvelopePtr extentOfClass(IFeatureClass* featureClass);

class Map : public ComObject<IMap, IActiveView> {
public:
    explicit Map(std::wstring name = L"Layers");

    HRESULT get_Name(BSTR* name) override;
    HRESULT get_LayerCount(LONG* count) override;
    HRESULT get_Layer(LONG index, ILayer** layer) override;
    HRESULT get_Layers(IUID* filter, VARIANT_BOOL recursive, IEnumLayer** layers) override;
    HRESULT raw_AddLayer(ILayer* layer) override;
    HRESULT raw_DeleteLayer(ILayer* layer) override;

    HRESULT get_Extent(IEnvelope** extent) override;
    HRESULT put_Extent(IEnvelope* extent) override;
    HRESULT raw_Refresh() override;

    // Appends at the bottom (AddLayer puts a layer on top, as a user adding one expects).
    void appendLayer(ILayer* layer);
    const std::vector<ILayerPtr>& layers() const { return layers_; }
    int refreshCount() const { return refreshes_; }
    // The view's extent as four numbers (NaN while none was set).
    void extent(double& xmin, double& ymin, double& xmax, double& ymax) const;
    void setExtent(double xmin, double ymin, double xmax, double ymax);

private:
    std::wstring name_;
    std::vector<ILayerPtr> layers_;
    double extent_[4];
    int refreshes_ = 0;
};

// A host object behind an interface pointer (null for another implementation).
FeatureLayer* featureLayerOf(IUnknown* layer);
Map* mapOf(IUnknown* map);

}  // namespace host
