// tests/tools/gishost_test.cpp: a real cell from import to a restyled map, as a user runs it:
// `tarvo import`, `gishost --new-map`, then a scripted `gishost` run that clicks the symbology
// command with S57DIR at the repository's data folder. The saved map and the SVG of the view are
// checked against the geodatabase, the layer files and GDAL's reading of the cell.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "platform/gdb/gdb.h"
#include "platform/host/application.h"
#include "platform/host/map_document.h"
#include "platform/host/renderer.h"
#include "support/run_command.h"
#include "support/test_data.h"

namespace fs = std::filesystem;

namespace {

Ran run(const std::string& command, const fs::path& dir) {
    return runCommand(command + " </dev/null", dir / "stderr.txt");
}

const fs::path kDataDir = fs::path(__FILE__).parent_path().parent_path().parent_path() / "data";

// One feature as GDAL reads it: its first ring or point, and a real attribute.
struct GdalFeature {
    std::vector<std::pair<double, double>> points;
    double value = NAN;
};

// The features of one layer of the cell: polygons (first ring) or points; `field` read as a number.
std::vector<GdalFeature> gdalFeatures(const std::string& cell, const std::string& layer, const std::string& field,
                                      bool points) {
    std::vector<GdalFeature> out;
    const std::string command = "ogrinfo -ro -q -oo SPLIT_MULTIPOINT=ON -oo ADD_SOUNDG_DEPTH=ON " + quote(cell) +
                                " " + layer + " 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return out;
    std::string text;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0) text.append(buf, n);
    std::istringstream lines(text);
    std::string line;
    GdalFeature f;
    while (std::getline(lines, line)) {
        const std::string fieldPrefix = "  " + field + " (Real) = ";
        if (line.rfind("OGRFeature(", 0) == 0) {
            f = GdalFeature{};
        } else if (!field.empty() && line.rfind(fieldPrefix, 0) == 0) {
            f.value = std::strtod(line.c_str() + fieldPrefix.size(), nullptr);
        } else if (points && line.rfind("  POINT Z (", 0) == 0) {
            double x, y, z;
            if (std::sscanf(line.c_str(), "  POINT Z (%lf %lf %lf)", &x, &y, &z) == 3) {
                f.points.emplace_back(x, y);
                f.value = z;
                out.push_back(f);
            }
        } else if (!points && line.rfind("  POLYGON ((", 0) == 0) {
            const std::string ring = line.substr(12, line.find(')') - 12);
            std::istringstream coords(ring);
            std::string pair;
            while (std::getline(coords, pair, ',')) {
                double x, y;
                if (std::sscanf(pair.c_str(), "%lf %lf", &x, &y) == 2) f.points.emplace_back(x, y);
            }
            out.push_back(f);
        }
    }
    return out;
}

// The drawing's frame, from the SVG's own attributes.
struct Frame {
    double xmin, ymin, xmax, ymax, width, height;
    std::pair<double, double> at(double x, double y) const {
        return {(x - xmin) / (xmax - xmin) * width, (ymax - y) / (ymax - ymin) * height};
    }
};

std::vector<std::pair<double, double>> pathVertices(const char* d) {
    std::vector<std::pair<double, double>> out;
    std::istringstream s(d);
    std::string tok;
    while (s >> tok) {
        if (tok == "Z") continue;
        if (tok[0] == 'M' || tok[0] == 'L') tok = tok.substr(1);
        std::string y;
        s >> y;
        out.emplace_back(std::stod(tok), std::stod(y));
    }
    return out;
}

bool near(std::pair<double, double> a, std::pair<double, double> b) {
    return std::fabs(a.first - b.first) < 0.002 && std::fabs(a.second - b.second) < 0.002;
}

class GishostRealCell : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!testdata::present()) return;
        char pattern[] = "/tmp/gishost_cell_XXXXXX";
        if (!mkdtemp(pattern)) return;
        dir_ = pattern;
        const std::string bin = std::string(TARVO_BINARY_DIR) + "/bin/";
        // The add-in is registered in a registry of this test's own.
        setenv("TARVO_REGISTRY", (dir_ / "registry").c_str(), 1);
        void* lib = dlopen((std::string(TARVO_BINARY_DIR) + "/lib/libcorvane.so").c_str(), RTLD_NOW);
        auto reg = lib ? reinterpret_cast<HRESULT (*)()>(dlsym(lib, "DllRegisterServer")) : nullptr;
        registered_ = reg && SUCCEEDED(reg());
        if (lib) dlclose(lib);

        cell_ = (dir_ / "US5MA12M.000").string();
        fs::create_symlink(testdata::path("enc/US5MA12M/US5MA12M.000"), cell_);
        gdb_ = (dir_ / "charts.gpkg").string();
        imported_ = run(bin + "tarvo import " + quote(cell_) + " " + quote(gdb_), dir_);
        newMap_ = run(bin + "gishost --new-map " + quote(gdb_) + " " + quote((dir_ / "map.xml").string()), dir_);
        clicked_ = run("S57DIR=" + quote(kDataDir.string()) + " " + bin + "gishost --map " +
                           quote((dir_ / "map.xml").string()) + " --click Corvane.clsSymCommand --save " +
                           quote((dir_ / "map2.xml").string()) + " --svg " + quote((dir_ / "view.svg").string()),
                       dir_);
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        if (!dir_.empty()) fs::remove_all(dir_, ec);
    }
    void SetUp() override {
        SKIP_WITHOUT_DATA();
        ASSERT_TRUE(registered_) << "the add-in could not be registered";
        ASSERT_EQ(imported_.status, 0) << imported_.err;
        ASSERT_EQ(newMap_.status, 0) << newMap_.err;
        ASSERT_EQ(clicked_.status, 0) << clicked_.out << clicked_.err;
    }

    static inline fs::path dir_;
    static inline std::string cell_, gdb_;
    static inline bool registered_ = false;
    static inline Ran imported_, newMap_, clicked_;
};

}  // namespace

TEST_F(GishostRealCell, EmptyLayersGoAndTheRestTakeTheirLayerFiles) {
    _com_ptr_t<host::Application> app(new host::Application);
    host::loadMapDocument((dir_ / "map.xml").string(), app->document());
    std::vector<std::string> before;
    for (const auto& l : app->document().map().layers()) before.push_back(l->GetName().narrow());
    ASSERT_GT(before.size(), 40u);

    _com_ptr_t<host::Application> after(new host::Application);
    host::loadMapDocument((dir_ / "map2.xml").string(), after->document());
    auto inAfter = [&](const std::string& name) -> host::FeatureLayer* {
        for (const auto& l : after->document().map().layers())
            if (auto* fl = host::featureLayerOf(l); fl && fl->name() == name) return fl;
        return nullptr;
    };

    IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
    IFeatureWorkspacePtr ws = factory->OpenFromFile(gdb_.c_str());
    int kept = 0, styled = 0;
    for (const auto& name : before) {
        IFeatureClassPtr fc = ws->OpenFeatureClass(name.c_str());
        const bool empty = fc->FeatureCount(nullptr) == 0;
        const bool notice = clicked_.out.find("status: No features found: Removing " + name + "\n") != std::string::npos;
        EXPECT_EQ(notice, empty) << name;
        host::FeatureLayer* layer = inAfter(name);
        EXPECT_EQ(layer == nullptr, empty) << name;
        if (!layer) continue;
        ++kept;
        const host::RendererSpec* got = host::specOf(layer->renderer());
        ASSERT_NE(got, nullptr) << name;
        const fs::path file = kDataDir / "layers" / (name + ".lyr");
        if (fs::exists(file)) {
            ILayerFilePtr lf(CLSID_LayerFile);
            lf->Open(file.c_str());
            const host::RendererSpec* want = host::specOf(IGeoFeatureLayerPtr(lf->GetLayer())->GetRenderer());
            ASSERT_NE(want, nullptr) << name;
            EXPECT_EQ(*got, *want) << name;
            ++styled;
        } else {
            EXPECT_EQ(*got, host::defaultRenderer(fc->GetShapeType())) << name;
        }
    }
    EXPECT_GT(kept, 20);
    EXPECT_EQ(styled, 8) << "every layer file of data/layers has a class with features in this cell";
    EXPECT_EQ(clicked_.out.find("Layer file not used"), std::string::npos);

    // The view shows the land's full extent; the soundings show their depth.
    double e[4];
    after->document().map().extent(e[0], e[1], e[2], e[3]);
    IEnvelopePtr land = host::extentOfClass(ws->OpenFeatureClass("CoastlineAreaFeature"));
    double w[4];
    land->QueryCoords(&w[0], &w[1], &w[2], &w[3]);
    for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(e[i], w[i]) << i;
    host::FeatureLayer* soundings = inAfter("SoundingFeature");
    ASSERT_NE(soundings, nullptr);
    EXPECT_TRUE(soundings->displayLabels());
    EXPECT_EQ(soundings->labels().expressions(), std::vector<std::string>{"[Depth]"});
    // The command was placed on the bar before it was clicked.
    EXPECT_NE(clicked_.out.find("bar Standard: Host.NewDocumentCommand Host.OpenDocumentCommand "
                                "Host.SaveDocumentCommand Host.PrintCommand Corvane.clsSymCommand"),
              std::string::npos)
        << clicked_.out;
    app->shutdown();
    after->shutdown();
}

TEST_F(GishostRealCell, TheViewDrawsDepthAreasLandAndSoundingsWhereGdalPutsThem) {
    const auto soundings = gdalFeatures(cell_, "SOUNDG", "", true);
    const auto land = gdalFeatures(cell_, "LNDARE", "", false);
    const auto depths = gdalFeatures(cell_, "DEPARE", "DRVAL1", false);
    if (soundings.empty() || land.empty() || depths.empty()) GTEST_SKIP() << "GDAL's ogrinfo gave nothing";

    pugi::xml_document svg;
    ASSERT_TRUE(svg.load_file((dir_ / "view.svg").c_str()));
    const pugi::xml_node root = svg.child("svg");
    Frame f{};
    ASSERT_EQ(std::sscanf(root.attribute("data-extent").value(), "%lf %lf %lf %lf", &f.xmin, &f.ymin, &f.xmax, &f.ymax), 4);
    ASSERT_EQ(std::sscanf(root.attribute("viewBox").value(), "0 0 %lf %lf", &f.width, &f.height), 2);
    auto group = [&](const char* id) { return root.find_child_by_attribute("g", "id", id); };

    // Soundings: a first, a middle and a last one of GDAL's, each a dot at its place, with a label.
    const pugi::xml_node dots = group("SoundingFeature");
    const pugi::xml_node labels = group("labels-SoundingFeature");
    ASSERT_TRUE(dots);
    ASSERT_TRUE(labels);
    for (std::size_t i : {std::size_t(0), soundings.size() / 2, soundings.size() - 1}) {
        const auto want = f.at(soundings[i].points[0].first, soundings[i].points[0].second);
        bool found = false;
        for (const pugi::xml_node& c : dots.children("circle"))
            found = found || near({c.attribute("cx").as_double(), c.attribute("cy").as_double()}, want);
        EXPECT_TRUE(found) << "sounding " << i << " at " << want.first << "," << want.second;
    }
    EXPECT_EQ(std::distance(labels.children("text").begin(), labels.children("text").end()),
              std::distance(dots.children("circle").begin(), dots.children("circle").end()));

    // Land and depth areas: a path holding the first vertices of GDAL's ring, in the right colour.
    auto findArea = [&](const char* layer, const GdalFeature& g) -> pugi::xml_node {
        const std::size_t k = std::min<std::size_t>(g.points.size(), 5);
        for (const pugi::xml_node& p : group(layer).children("path")) {
            const auto vs = pathVertices(p.attribute("d").value());
            std::size_t matched = 0;
            for (std::size_t j = 0; j < k; ++j) {
                const auto want = f.at(g.points[j].first, g.points[j].second);
                for (const auto& v : vs)
                    if (near(v, want)) {
                        ++matched;
                        break;
                    }
            }
            if (matched == k) return p;
        }
        return {};
    };
    for (std::size_t i : {std::size_t(0), land.size() - 1}) {
        const pugi::xml_node p = findArea("CoastlineAreaFeature", land[i]);
        ASSERT_TRUE(p) << "land area " << i;
        EXPECT_STREQ(p.attribute("fill").value(), "#F3DFA2");
    }
    ILayerFilePtr lf(CLSID_LayerFile);
    lf->Open((kDataDir / "layers" / "DepthAreaFeature.lyr").c_str());
    const host::RendererSpec* breaks = host::specOf(IGeoFeatureLayerPtr(lf->GetLayer())->GetRenderer());
    ASSERT_NE(breaks, nullptr);
    int checked = 0;
    for (std::size_t i = 0; i < depths.size() && checked < 5; i += depths.size() / 5 + 1, ++checked) {
        const pugi::xml_node p = findArea("DepthAreaFeature", depths[i]);
        ASSERT_TRUE(p) << "depth area " << i;
        ASSERT_FALSE(std::isnan(depths[i].value)) << "no DRVAL1 from GDAL for depth area " << i;
        const auto sym = breaks->symbolFor(_variant_t(depths[i].value));
        ASSERT_TRUE(sym);
        EXPECT_EQ(p.attribute("fill").value(), host::colourText(sym->fill)) << "DRVAL1 " << depths[i].value;
    }
    EXPECT_EQ(checked, 5);
}

namespace {

struct BadRun {
    const char* name;
    std::string args;
    int status;
    const char* says;  // on standard error
};

const BadRun kBadRuns[] = {
    {"NoArguments", "", 2, "usage: gishost"},
    {"UnknownOption", "--map m.xml --paint", 2, "usage: gishost"},
    {"NewMapWithoutTarget", "--new-map only.gpkg", 2, "usage: gishost"},
    {"MissingMap", "--map /nonexistent/map.xml", 1, "gishost: /nonexistent/map.xml: not readable as XML"},
    {"NotAMap", "--map /etc/hostname", 1, "gishost: /etc/hostname: not readable as XML"},
    {"MissingGeodatabase", "--new-map /nonexistent/x.gpkg out.xml", 1, "gishost: "},
    {"NotAGeodatabasePath", "--new-map /tmp/x.txt out.xml", 1, "gishost: "},
};

class GishostArguments : public ::testing::TestWithParam<BadRun> {};

}  // namespace

TEST_P(GishostArguments, FailWithTheirStatusAndSayWhy) {
    char pattern[] = "/tmp/gishost_args_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    const Ran r = run("cd " + quote(dir.string()) + " && " + std::string(TARVO_BINARY_DIR) + "/bin/gishost " +
                          GetParam().args,
                      dir);
    EXPECT_EQ(r.status, GetParam().status) << r.err;
    EXPECT_NE(r.err.find(GetParam().says), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out.xml"));
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Runs, GishostArguments, ::testing::ValuesIn(kBadRuns),
                         [](const auto& i) { return std::string(i.param.name); });
