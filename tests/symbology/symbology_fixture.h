// tests/symbology/symbology_fixture.h: a host with the add-in loaded, over a small geodatabase made
// once per program from the product template: a few classes hold features (land, two depth areas,
// two soundings, a depth contour), the rest are empty. Each test writes its own map document and
// layer files, and reads back what the host showed (status bar, scripted dialogs).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/host/application.h"
#include "platform/host/renderer.h"

namespace symtest {

namespace fs = std::filesystem;

// The geodatabase of the program (made on first use), its folder, and the extent of its land.
const std::string& geodatabase();
constexpr double kLand[4] = {-71.0, 42.2, -70.9, 42.3};

// Registers the add-in (its own DllRegisterServer) in a registry of the test program's own
// ($TARVO_REGISTRY), once; the host then makes its objects through the registry. False on failure.
bool registerAddin();

// One layer of a map document: the class it shows (empty: the layer's name).
struct MapLayer {
    MapLayer(const char* n, const char* c = "") : name(n), cls(c) {}
    std::string name;
    std::string cls;
};

class SymbologyTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the map document and opens it in a new host (extension started and enabled, command in
    // the pool, the standard bar with `barItems`), as a host starts.
    void openHost(const std::vector<MapLayer>& layers, const std::vector<std::string>& barItems = {"A", "B", "C"});
    // A layer file under dir/layers, as text.
    void writeLayerFile(const std::string& layer, const std::string& text);
    // S57DIR for the run (unset for nullptr).
    void setS57Dir(const char* value);

    bool click();  // the command, when enabled
    host::Map& map() { return app->document().map(); }
    host::FeatureLayer* layer(const std::string& name);
    const host::RendererSpec* rendererOf(const std::string& name);
    std::vector<std::string> layerNames();
    std::vector<std::string> status() { return app->statusBar().history(); }
    // Scripted events of one kind.
    std::vector<std::string> shown(int kind);
    ICommandPtr command();

    fs::path dir;
    _com_ptr_t<host::Application> app;
    IExtensionPtr extension;
};

// A layer file with one feature layer of that renderer XML.
std::string layerFileText(const std::string& name, const std::string& rendererXml);
extern const char kRedFill[];    // a simple renderer, red fill
extern const char kDepthBreaks[];  // class breaks by DRVAL1

}  // namespace symtest
