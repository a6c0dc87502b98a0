// platform/host/map_document.cpp: reading and writing map documents, and the new map of a feature
// dataset. A document that cannot be read changes nothing in the document object it was read into.

#include "platform/host/map_document.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include <pugixml.hpp>

#include "platform/host/file_system.h"

namespace host {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void bad(const std::string& path, const std::string& why) {
    throw _com_error(HOST_E_BAD_MAP, fromUtf8(path + ": " + why));
}

IFeatureWorkspacePtr openWorkspace(const std::string& path) {
    IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
    return IFeatureWorkspacePtr(factory->OpenFromFile(fileSystemPath(path).c_str()));
}

double number(const pugi::xml_node& n, const char* name, const std::string& path) {
    const char* text = n.attribute(name).value();
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(v)) bad(path, std::string("<View> ") + name + " is not a number");
    return v;
}

// The declaration and the root of a new map document, with the geodatabase and dataset it shows.
pugi::xml_node startDocument(pugi::xml_document& xml, const std::string& geodatabase, const std::string& dataset) {
    pugi::xml_node decl = xml.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    pugi::xml_node root = xml.append_child("MapDocument");
    pugi::xml_node gdb = root.append_child("Geodatabase");
    gdb.append_attribute("path") = geodatabase.c_str();
    gdb.append_attribute("dataset") = dataset.c_str();
    return root;
}

}  // namespace

MapSource loadMapDocument(const std::string& path, MxDocument& doc) {
    pugi::xml_document xml;
    const pugi::xml_parse_result r = xml.load_file(fileSystemPath(path).c_str());
    if (!r) bad(path, std::string("not readable as XML (") + r.description() + ")");
    const pugi::xml_node root = xml.child("MapDocument");
    if (!root) bad(path, "not a map document");
    MapSource source;
    const pugi::xml_node gdb = root.child("Geodatabase");
    source.geodatabase = gdb.attribute("path").value();
    source.dataset = gdb.attribute("dataset").value();
    if (source.geodatabase.empty()) bad(path, "names no geodatabase");
    fs::path gdbPath = fileSystemPath(source.geodatabase);
    if (gdbPath.is_relative()) gdbPath = fs::path(fileSystemPath(path)).parent_path() / gdbPath;

    IFeatureWorkspacePtr workspace;
    try {
        workspace = openWorkspace(gdbPath.string());
    } catch (const _com_error& e) {
        bad(path, "cannot open the geodatabase " + gdbPath.string() + ": " +
                      toUtf8(static_cast<const wchar_t*>(e.Description())));
    }

    _com_ptr_t<Map> map(new Map);
    ILayerPtr selected;
    const std::string selectedName = root.child("Layers").attribute("selected").value();
    for (const pugi::xml_node& n : root.child("Layers").children("FeatureLayer")) {
        _com_ptr_t<FeatureLayer> layer(new FeatureLayer);
        const std::string name = n.attribute("name").value();
        const std::string cls = n.attribute("class").as_string(name.c_str());
        layer->PutName(name.c_str());
        IFeatureClass* fc = nullptr;
        if (SUCCEEDED(workspace->raw_OpenFeatureClass(_bstr_t(cls.c_str()).GetBSTR(), &fc)))
            layer->PutRefFeatureClass(IFeatureClassPtr(fc, false));
        for (const pugi::xml_node& child : n.children()) {
            const std::string_view tag = child.name();
            if (tag == "Labels") {
                for (const pugi::xml_node& l : child.children("Label")) {
                    ILabelEngineLayerPropertiesPtr label(CLSID_LabelEngineLayerProperties);
                    label->PutExpression(l.attribute("expression").value());
                    layer->labels().Add(label);
                }
                layer->PutDisplayAnnotation(child.attribute("display").as_bool() ? VARIANT_TRUE : VARIANT_FALSE);
            } else if (child.type() == pugi::node_element) {
                try {
                    layer->PutRefRenderer(makeRenderer(readRenderer(child)));
                } catch (const _com_error& e) {
                    bad(path, "layer " + name + ": " + toUtf8(static_cast<const wchar_t*>(e.Description())));
                }
            }
        }
        if (!layer->renderer()) {
            IFeatureClassPtr c = layer->featureClass();
            layer->PutRefRenderer(makeRenderer(defaultRenderer(c ? c->GetShapeType() : esriGeometryPolygon)));
        }
        if (!selected && name == selectedName) selected = layer;
        map->appendLayer(layer);
    }
    if (const pugi::xml_node v = root.child("View")) {
        // One by one, so that the first bad bound is the one named.
        const double xmin = number(v, "xmin", path);
        const double ymin = number(v, "ymin", path);
        const double xmax = number(v, "xmax", path);
        const double ymax = number(v, "ymax", path);
        map->setExtent(xmin, ymin, xmax, ymax);
    }
    if (!selected && !map->layers().empty()) selected = map->layers().front();
    doc.setMap(map);
    doc.setSelectedLayer(selected);
    return source;
}

void saveMapDocument(const std::string& path, const MapSource& source, MxDocument& doc) {
    pugi::xml_document xml;
    pugi::xml_node root = startDocument(xml, source.geodatabase, source.dataset);
    Map& map = doc.map();
    double e[4];
    map.extent(e[0], e[1], e[2], e[3]);
    if (!std::isnan(e[0])) {
        pugi::xml_node v = root.append_child("View");
        const char* names[] = {"xmin", "ymin", "xmax", "ymax"};
        for (int i = 0; i < 4; ++i) v.append_attribute(names[i]).set_value(e[i], 17);
    }
    pugi::xml_node layers = root.append_child("Layers");
    ILayerPtr selected = doc.GetSelectedLayer();
    if (selected) layers.append_attribute("selected") = selected->GetName().narrow();
    for (const auto& l : map.layers()) {
        FeatureLayer* fl = featureLayerOf(l);
        if (!fl) continue;
        pugi::xml_node n = layers.append_child("FeatureLayer");
        n.append_attribute("name") = fl->name().c_str();
        if (IDatasetPtr ds = fl->featureClass()) n.append_attribute("class") = ds->GetName().narrow();
        if (const RendererSpec* spec = specOf(fl->renderer())) writeRenderer(n, *spec);
        const auto expressions = fl->labels().expressions();
        if (!expressions.empty() || fl->displayLabels()) {
            pugi::xml_node labels = n.append_child("Labels");
            labels.append_attribute("display") = fl->displayLabels();
            for (const auto& x : expressions) labels.append_child("Label").append_attribute("expression") = x.c_str();
        }
    }
    if (!xml.save_file(fileSystemPath(path).c_str(), "  ")) throw _com_error(E_FAIL, fromUtf8("cannot write " + path));
}

int newMapDocument(const std::string& geodatabase, const std::string& dataset, const std::string& mapPath) {
    IFeatureWorkspacePtr workspace = openWorkspace(geodatabase);
    IFeatureClassContainerPtr classes = workspace->OpenFeatureDataset(dataset.c_str());
    pugi::xml_document xml;
    pugi::xml_node root = startDocument(xml, geodatabase, dataset);
    pugi::xml_node layers = root.append_child("Layers");
    const LONG n = classes->GetClassCount();
    for (LONG i = 0; i < n; ++i) {
        IFeatureClassPtr fc = classes->GetClass(i);
        const std::string name = IDatasetPtr(fc)->GetName().narrow();
        pugi::xml_node l = layers.append_child("FeatureLayer");
        l.append_attribute("name") = name.c_str();
        l.append_attribute("class") = name.c_str();
        writeRenderer(l, defaultRenderer(fc->GetShapeType()));
    }
    if (!xml.save_file(fileSystemPath(mapPath).c_str(), "  "))
        throw _com_error(E_FAIL, fromUtf8("cannot write " + mapPath));
    return int(n);
}

}  // namespace host
