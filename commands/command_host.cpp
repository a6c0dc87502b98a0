// commands/command_host.cpp: the host texts and helpers of the converter's commands.
#include "commands/command_host.h"

#include "platform/gdb/gdb.h"

namespace {

IFeatureLayerPtr currentLayer(IMxDocument* document) {
    IFeatureLayerPtr layer = document->GetSelectedLayer();
    if (layer) return layer;
    IMapPtr map = document->GetFocusMap();
    const LONG count = map->GetLayerCount();
    for (LONG i = 0; i < count; ++i) {
        layer = map->GetLayer(i);
        if (layer) return layer;
    }
    throw _com_error(E_FAIL, L"The document has no feature layer");
}

}  // namespace

DocumentTexts documentTexts(IApplication* app) {
    if (!app) throw _com_error(E_UNEXPECTED, L"The command has no application");
    IMxDocumentPtr document = app->GetDocument();
    if (!document) throw _com_error(E_FAIL, L"The application has no document");
    IFeatureLayerPtr layer = currentLayer(document);
    IFeatureClassPtr featureClass = layer->GetFeatureClass();
    if (!featureClass) throw _com_error(E_FAIL, L"The current layer has no feature class");
    IFeatureDatasetPtr dataset = featureClass->GetFeatureDataset();
    if (!dataset) throw _com_error(E_FAIL, L"The current layer's feature class is in no feature dataset");
    IWorkspacePtr workspace = dataset->GetWorkspace();
    if (!workspace) throw _com_error(E_FAIL, L"The feature dataset has no workspace");
    DocumentTexts texts;
    texts.workspacePath = static_cast<const char*>(workspace->GetPathName());
    texts.datasetQualifiedName = static_cast<const char*>(dataset->GetName());
    return texts;
}

std::string datasetNameOf(std::string_view qualifiedName) {
    const std::size_t dot = qualifiedName.rfind('.');
    return std::string(dot == std::string_view::npos ? qualifiedName : qualifiedName.substr(dot + 1));
}

void refreshDocument(IApplication* app) {
    if (!app) return;
    IMxDocumentPtr document = app->GetDocument();
    if (!document) return;
    IActiveViewPtr view = document->GetActiveView();
    if (view) view->Refresh();
}

HRESULT copyText(const char* utf8, BSTR* out) {
    if (!out) return E_POINTER;
    *out = _bstr_t(utf8 ? utf8 : "").copy();
    return S_OK;
}

std::string narrowText(BSTR text) { return text ? toUtf8(text) : std::string(); }

bool usableInputPath(std::string_view path) { return path.size() > 4; }
