// tests/platform/host/map_document_test.cpp: map documents read back as written (layers in order,
// renderers, labels, view, selected layer, a layer whose class is missing), and documents that
// cannot be read: a reason, and the document that was open stays as it was.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/gdb/gdb.h"
#include "platform/host/application.h"
#include "platform/host/map_document.h"

namespace fs = std::filesystem;

namespace {

class MapDocumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/map_document_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
        factory->Create(dir.c_str(), "empty.gpkg");
    }
    void TearDown() override {
        app->shutdown();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    }
    fs::path dir;
    _com_ptr_t<host::Application> app{new host::Application};
};

const char kMap[] = R"(<MapDocument>
  <Geodatabase path="empty.gpkg" dataset="S57"/>
  <View xmin="-71.5" ymin="42.125" xmax="-70.25" ymax="42.5"/>
  <Layers selected="Soundings">
    <FeatureLayer name="Land" class="CoastlineAreaFeature">
      <UniqueValueRenderer field="SUBTYPE"><Value value="71"><Symbol fill="#F3DFA2"/></Value></UniqueValueRenderer>
    </FeatureLayer>
    <FeatureLayer name="Soundings" class="SoundingFeature">
      <SimpleRenderer><Symbol fill="#404040" outline="none" marker="circle" size="1.2"/></SimpleRenderer>
      <Labels display="true"><Label expression="[Depth]"/></Labels>
    </FeatureLayer>
  </Layers>
</MapDocument>)";

}  // namespace

TEST_F(MapDocumentTest, ReadsBackWhatItWrites) {
    const host::MapSource source = host::loadMapDocument(write("a.xml", kMap), app->document());
    EXPECT_EQ(source.geodatabase, "empty.gpkg");
    EXPECT_EQ(source.dataset, "S57");
    host::saveMapDocument((dir / "b.xml").string(), source, app->document());

    _com_ptr_t<host::Application> again(new host::Application);
    host::loadMapDocument((dir / "b.xml").string(), again->document());
    const auto& a = app->document().map().layers();
    const auto& b = again->document().map().layers();
    ASSERT_EQ(a.size(), 2u);
    ASSERT_EQ(b.size(), 2u);
    for (std::size_t i = 0; i < a.size(); ++i) {
        host::FeatureLayer* x = host::featureLayerOf(a[i]);
        host::FeatureLayer* y = host::featureLayerOf(b[i]);
        EXPECT_EQ(x->name(), y->name());
        EXPECT_EQ(*host::specOf(x->renderer()), *host::specOf(y->renderer()));
        EXPECT_EQ(x->labels().expressions(), y->labels().expressions());
        EXPECT_EQ(x->displayLabels(), y->displayLabels());
        EXPECT_FALSE(y->featureClass()) << "the classes are not in this geodatabase";
    }
    double e[4];
    again->document().map().extent(e[0], e[1], e[2], e[3]);
    EXPECT_EQ(e[0], -71.5);
    EXPECT_EQ(e[3], 42.5);
    ILayerPtr selected = again->document().GetSelectedLayer();
    ASSERT_TRUE(selected);
    EXPECT_STREQ(selected->GetName().narrow(), "Soundings");
    EXPECT_EQ(host::featureLayerOf(b[1])->labels().expressions(), std::vector<std::string>{"[Depth]"});
    again->shutdown();
}

namespace {

struct BadMap {
    const char* name;
    std::string text;
    const char* reason;
};

const BadMap kBadMaps[] = {
    {"Empty", "", "not readable as XML"},
    {"NotXml", "<MapDocument><Layers>", "not readable as XML"},
    {"WrongRoot", "<LayerFile/>", "not a map document"},
    {"NoGeodatabase", "<MapDocument><Layers/></MapDocument>", "names no geodatabase"},
    {"MissingGeodatabase", R"(<MapDocument><Geodatabase path="gone.gpkg"/></MapDocument>)", "cannot open the geodatabase"},
    {"BadRenderer",
     R"(<MapDocument><Geodatabase path="empty.gpkg"/><Layers><FeatureLayer name="X"><PieRenderer/></FeatureLayer></Layers></MapDocument>)",
     "layer X: unknown renderer <PieRenderer>"},
    {"BadView", R"(<MapDocument><Geodatabase path="empty.gpkg"/><View xmin="west"/></MapDocument>)",
     "<View> xmin is not a number"},
};

class BadMapDocument : public MapDocumentTest, public ::testing::WithParamInterface<BadMap> {};

}  // namespace

TEST_P(BadMapDocument, FailsWithTheReasonAndKeepsTheOpenMap) {
    host::loadMapDocument(write("good.xml", kMap), app->document());
    const std::string path = write("bad.xml", GetParam().text);
    try {
        host::loadMapDocument(path, app->document());
        ADD_FAILURE() << "loaded";
    } catch (const _com_error& e) {
        EXPECT_EQ(e.Error(), HOST_E_BAD_MAP);
        const std::string why = toUtf8(static_cast<const wchar_t*>(e.Description()));
        EXPECT_NE(why.find(GetParam().reason), std::string::npos) << why;
    }
    EXPECT_EQ(app->document().map().layers().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Maps, BadMapDocument, ::testing::ValuesIn(kBadMaps),
                         [](const auto& i) { return std::string(i.param.name); });
