// tests/symbology/symbology_fixture.cpp: the geodatabase and the host of the symbology tests.

#include "symbology_fixture.h"

#include <dlfcn.h>

#include <cstdlib>
#include <fstream>

#include "platform/gdb/gdb.h"
#include "platform/host/map_document.h"
#include "platform/ui/ui.h"
#include "s57/gdb_template.h"
#include "symbology/ErrorHandling.h"

namespace symtest {
namespace {

IGeometryPtr box(double x0, double y0, double x1, double y1) {
    IPointCollectionPtr poly(CLSID_Polygon);
    const WKSPoint pts[] = {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, {x0, y0}};
    poly->AddWKSPoints(5, pts);
    return IGeometryPtr(poly);
}

void addFeature(IFeatureWorkspace* ws, const char* cls, IGeometry* shape,
                const std::vector<std::pair<const char*, _variant_t>>& values) {
    IFeatureClassPtr fc = ws->OpenFeatureClass(cls);
    IFeaturePtr f = fc->CreateFeature();
    f->PutRefShape(shape);
    for (const auto& [field, v] : values) f->PutValue(fc->FindField(field), v);
    f->Store();
}

IGeometryPtr sounding(double x, double y, double z) {
    IPointPtr p(CLSID_Point);
    IZAwarePtr(p)->PutZAware(VARIANT_TRUE);
    p->PutCoords(x, y);
    p->PutZ(z);
    return IGeometryPtr(p);
}

std::string makeGeodatabase() {
    char pattern[] = "/tmp/corvane_gdb_XXXXXX";
    if (!mkdtemp(pattern)) return {};
    const std::string path = std::string(pattern) + "/charts.gpkg";
    TemplateSummary summary;
    if (FAILED(createGeodatabase(path.c_str(), "S57", nullptr, nullptr, &summary))) return {};
    IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
    IFeatureWorkspacePtr ws = factory->OpenFromFile(path.c_str());
    addFeature(ws, "CoastlineAreaFeature", box(kLand[0], kLand[1], kLand[2], kLand[3]), {{"SUBTYPE", 71L}});
    addFeature(ws, "DepthAreaFeature", box(-70.9, 42.2, -70.8, 42.25), {{"DRVAL1", -1.0}});
    addFeature(ws, "DepthAreaFeature", box(-70.9, 42.25, -70.8, 42.3), {{"DRVAL1", 5.0}});
    addFeature(ws, "SoundingFeature", sounding(-70.85, 42.22, 2.5), {{"DEPTH", 2.5}});
    addFeature(ws, "SoundingFeature", sounding(-70.84, 42.27, 7.0), {{"DEPTH", 7.0}});
    IPointCollectionPtr line(CLSID_Polyline);
    const WKSPoint pts[] = {{-70.9, 42.25}, {-70.8, 42.25}};
    line->AddWKSPoints(2, pts);
    addFeature(ws, "DepthLineFeature", IGeometryPtr(line), {{"VALDCO", 5.0}});
    return path;
}

}  // namespace

const char kRedFill[] = R"(<SimpleRenderer><Symbol fill="#FF0000" outline="#000000" width="1"/></SimpleRenderer>)";
const char kDepthBreaks[] =
    R"(<ClassBreaksRenderer field="DRVAL1" minimum="-100">)"
    R"(<Break upper="-0.01"><Symbol fill="#A8C690"/></Break>)"
    R"(<Break upper="100"><Symbol fill="#86BCE0"/></Break></ClassBreaksRenderer>)";

std::string layerFileText(const std::string& name, const std::string& rendererXml) {
    return "<LayerFile><FeatureLayer name=\"" + name + "\">" + rendererXml + "</FeatureLayer></LayerFile>";
}

bool registerAddin() {
    static const bool done = [] {
        char pattern[] = "/tmp/corvane_registry_XXXXXX";
        if (!mkdtemp(pattern)) return false;
        setenv("TARVO_REGISTRY", (std::string(pattern) + "/registry").c_str(), 1);
        char path[4096];
        const DWORD n = GetModuleFileNameA(reinterpret_cast<HMODULE>(&corvane::FormatErrorLine), path, sizeof path);
        if (n == 0) return false;
        // By the library's own entry point: another module of the program exports one of that name.
        void* lib = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
        if (!lib) return false;
        auto reg = reinterpret_cast<HRESULT (*)()>(dlsym(lib, "DllRegisterServer"));
        const bool ok = reg && SUCCEEDED(reg());
        dlclose(lib);
        return ok;
    }();
    return done;
}

const std::string& geodatabase() {
    static const std::string path = makeGeodatabase();
    return path;
}

void SymbologyTest::SetUp() {
    ASSERT_TRUE(registerAddin()) << "the add-in could not be registered";
    ASSERT_FALSE(geodatabase().empty()) << "the test geodatabase could not be made";
    char pattern[] = "/tmp/corvane_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    fs::create_directories(dir / "layers");
    ui::setForm(ui::Form::Scripted);
    ui::scripted::reset();
    setS57Dir((dir.string() + "/").c_str());
}

void SymbologyTest::TearDown() {
    if (app) app->shutdown();
    extension = nullptr;
    app = nullptr;
    unsetenv("S57DIR");
    ui::scripted::reset();
    std::error_code ec;
    if (!dir.empty()) fs::remove_all(dir, ec);
}

void SymbologyTest::openHost(const std::vector<MapLayer>& layers, const std::vector<std::string>& barItems) {
    std::string xml = "<MapDocument><Geodatabase path=\"" + geodatabase() + "\" dataset=\"S57\"/><Layers>";
    for (const auto& l : layers)
        xml += "<FeatureLayer name=\"" + l.name + "\" class=\"" + (l.cls.empty() ? l.name : l.cls) + "\"/>";
    xml += "</Layers></MapDocument>";
    std::ofstream(dir / "map.xml") << xml;

    app = _com_ptr_t<host::Application>(new host::Application);
    app->document().commandBars().addBar(kStandardToolbarUid, "Standard", barItems);
    extension.CreateInstance("Corvane.clsExtension");
    ASSERT_TRUE(extension);
    app->startExtension("Corvane.clsExtension", extension);
    IExtensionConfigPtr(extension)->PutState(esriESEnabled);
    ICommandPtr cmd;
    cmd.CreateInstance("Corvane.clsSymCommand");
    ASSERT_TRUE(cmd);
    app->addCommand("Corvane.clsSymCommand", cmd);
    host::loadMapDocument((dir / "map.xml").string(), app->document());
    app->document().fireOpenDocument();
}

void SymbologyTest::writeLayerFile(const std::string& layer, const std::string& text) {
    std::ofstream(dir / "layers" / (layer + ".lyr"), std::ios::binary) << text;
}

void SymbologyTest::setS57Dir(const char* value) {
    if (value)
        setenv("S57DIR", value, 1);
    else
        unsetenv("S57DIR");
}

bool SymbologyTest::click() { return app->click("Corvane.clsSymCommand"); }

ICommandPtr SymbologyTest::command() { return app->command("Corvane.clsSymCommand"); }

host::FeatureLayer* SymbologyTest::layer(const std::string& name) {
    for (const auto& l : map().layers())
        if (auto* fl = host::featureLayerOf(l); fl && fl->name() == name) return fl;
    return nullptr;
}

const host::RendererSpec* SymbologyTest::rendererOf(const std::string& name) {
    host::FeatureLayer* l = layer(name);
    return l ? host::specOf(l->renderer()) : nullptr;
}

std::vector<std::string> SymbologyTest::layerNames() {
    std::vector<std::string> out;
    for (const auto& l : map().layers()) out.push_back(l->GetName().narrow());
    return out;
}

std::vector<std::string> SymbologyTest::shown(int kind) {
    std::vector<std::string> out;
    for (const auto& e : ui::scripted::events())
        if (int(e.kind) == kind) out.push_back(e.text);
    return out;
}

}  // namespace symtest
