// symbology/modUtil.cpp: the symbology run over the focus map. Layers are matched to layer files
// purely by name. A feature layer whose class cannot be reached is kept and named in the status
// bar; a layer file that cannot be used leaves its layer's renderer as it was and is named in the
// status bar once; every other error ends the run (its progress dialog closed) for the command to
// report.

#include "symbology/modUtil.h"

#include <cstdlib>
#include <exception>

#include "platform/host/err_object.h"
#include "platform/host/file_system.h"
#include "symbology/modProgDialog.h"

namespace corvane {
namespace {

bool bstrEquals(const _bstr_t& a, const char* b) { return std::string(a.narrow()) == b; }

// The first layer of that exact name, by index from 0; null when the map has none.
ILayerPtr findLayer(IMap* map, const char* name) {
    const LONG n = map->GetLayerCount();
    for (LONG i = 0; i < n; ++i) {
        ILayerPtr layer = map->GetLayer(i);
        if (bstrEquals(layer->GetName(), name)) return layer;
    }
    return nullptr;
}

}  // namespace

std::string LayerFilePath(const std::string& layerName) {
    const char* dir = std::getenv("S57DIR");
    std::string path = dir ? dir : "";
    if (!path.empty() && (path.back() == '\\' || path.back() == '/'))
        path += "layers\\";
    else
        path += "\\layers\\";
    return path + layerName + ".lyr";
}

IFeatureRendererPtr LoadLayerFileRenderer(const std::string& path) {
    ILayerFilePtr file(CLSID_LayerFile);
    file->Open(path.c_str());
    ILayerPtr layer = file->GetLayer();
    if (!layer) return nullptr;
    IGeoFeatureLayerPtr geo = layer;
    if (!geo) return nullptr;
    return geo->GetRenderer();
}

void ApplyRenderer(IFeatureLayer* layer, IFeatureRenderer* renderer) {
    if (!renderer) return;
    IGeoFeatureLayerPtr geo(layer);
    if (!geo) return;
    if (IFeatureClassPtr fc = geo->GetFeatureClass()) {
        if (renderer->CanRender(fc) == VARIANT_FALSE) {
            const std::wstring why = takeErrorDescription();
            throw _com_error(HOST_E_BAD_LAYER_FILE, why);
        }
    }
    geo->PutRefRenderer(renderer);
}

void LabelSoundings(ILayer* layer) {
    IGeoFeatureLayerPtr geo(layer);
    if (!geo) return;
    IAnnotateLayerPropertiesCollectionPtr labels = geo->GetAnnotationProperties();
    if (!labels) return;
    labels->Clear();
    ILabelEngineLayerPropertiesPtr label(CLSID_LabelEngineLayerProperties);
    label->PutExpression(kDepthExpression);
    labels->Add(label);
    geo->PutDisplayAnnotation(VARIANT_TRUE);
}

void ApplySymbology(IApplication* app) {
    if (!app) host::raiseError(91, "Corvane");
    IMxDocumentPtr doc = app->GetDocument();
    IMapPtr map = doc->GetFocusMap();
    IActiveViewPtr view = map;
    IStatusBarPtr status = app->GetStatusBar();

    // Empty feature layers go. The walk is over a snapshot, so a removal skips nothing.
    IEnumLayerPtr layers = map->GetLayers(nullptr, VARIANT_FALSE);
    while (ILayerPtr layer = layers->Next()) {
        IFeatureLayerPtr featureLayer = layer;
        if (!featureLayer) continue;
        IFeatureClassPtr fc = featureLayer->GetFeatureClass();
        if (!fc) {
            status->PutMessage(0, (kNoSourceNotice + std::string(layer->GetName().narrow())).c_str());
            continue;
        }
        if (fc->FeatureCount(nullptr) == 0) {
            status->PutMessage(0, (kRemovingNotice + std::string(layer->GetName().narrow())).c_str());
            map->DeleteLayer(layer);
        }
    }
    doc->UpdateContents();
    view->Refresh();

    const LONG n = map->GetLayerCount();
    if (n == 0) return;

    // An error that ends the run closes the dialog as the end of the loop does: left open, it would
    // stay on screen and the next run would step it on with this run's range.
    struct ProgressOfTheRun {
        ~ProgressOfTheRun() {
            if (std::uncaught_exceptions() > entered) CloseProgress();
        }
        int entered = std::uncaught_exceptions();
    } progress;
    IFileSystemObjectPtr fso(CLSID_FileSystemObject);
    for (LONG i = 0; i < n; ++i) {
        ILayerPtr layer = map->GetLayer(i);
        const std::string name = layer->GetName().narrow();
        ShowProgress("Processing " + name + "...", kProgressCaption, 0, n, i + 1, app->GethWnd());
        if (!ProgressContinue()) {
            CloseProgress();
            return;
        }
        IFeatureLayerPtr featureLayer = layer;
        if (!featureLayer) continue;
        const std::string path = LayerFilePath(name);
        if (fso->FileExists(path.c_str()) == VARIANT_FALSE) continue;
        try {
            IFeatureRendererPtr renderer = LoadLayerFileRenderer(path);
            ApplyRenderer(featureLayer, renderer);
        } catch (const _com_error& e) {
            if (e.Error() != HOST_E_BAD_LAYER_FILE) throw;
            const std::string why = toUtf8(static_cast<const wchar_t*>(e.Description()));
            status->PutMessage(0, (kBadLayerFileNotice + host::fileSystemPath(path) + ": " + why).c_str());
            continue;
        }
        doc->UpdateContents();
        view->Refresh();
    }
    CloseProgress();

    if (ILayerPtr coast = findLayer(map, kCoastlineLayer)) view->PutExtent(coast->GetAreaOfInterest());
    if (ILayerPtr soundings = findLayer(map, kSoundingLayer)) LabelSoundings(soundings);
    view->Refresh();
}

}  // namespace corvane
