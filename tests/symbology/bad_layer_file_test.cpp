// tests/symbology/bad_layer_file_test.cpp: layer files that cannot be used leave their layer's
// renderer as it was and are named once in the status bar with the reason; the run goes on.
#include "platform/ui/ui.h"
#include "symbology_fixture.h"

using namespace symtest;

namespace {

struct BadFile {
    const char* name;
    std::string text;
    const char* reason;  // part of the notice
};

const BadFile kBadFiles[] = {
    {"Empty", "", "empty file"},
    {"Blank", " \n\t\n", "empty file"},
    {"NotXml", "DRVAL1 <- 5 & deeper", "not XML"},
    {"Truncated", "<LayerFile><FeatureLayer name=\"DepthAreaFeature\"><SimpleRenderer>", "not XML"},
    {"NotALayerFile", "<MapDocument/>", "not a layer file"},
    {"UnknownRenderer", layerFileText("DepthAreaFeature", "<DotDensityRenderer field=\"DRVAL1\"/>"),
     "unknown renderer <DotDensityRenderer>"},
    {"FieldTheClassLacks",
     layerFileText("DepthAreaFeature",
                   "<UniqueValueRenderer field=\"NOSUCH\"><Value value=\"1\"><Symbol fill=\"#FF0000\"/></Value>"
                   "</UniqueValueRenderer>"),
     "has no field NOSUCH"},
    {"BadColour", layerFileText("DepthAreaFeature", "<SimpleRenderer><Symbol fill=\"red\"/></SimpleRenderer>"),
     "bad colour \"red\""},
    {"BreaksOutOfOrder",
     layerFileText("DepthAreaFeature",
                   "<ClassBreaksRenderer field=\"DRVAL1\"><Break upper=\"5\"><Symbol/></Break>"
                   "<Break upper=\"2\"><Symbol/></Break></ClassBreaksRenderer>"),
     "out of order"},
    {"BreakWithoutSymbol",
     layerFileText("DepthAreaFeature", "<ClassBreaksRenderer field=\"DRVAL1\"><Break upper=\"5\"/></ClassBreaksRenderer>"),
     "has no <Symbol>"},
    {"TwoRenderers", layerFileText("DepthAreaFeature", std::string(kRedFill) + kRedFill), "more than one renderer"},
};

class BadLayerFile : public SymbologyTest, public ::testing::WithParamInterface<BadFile> {};

}  // namespace

TEST_P(BadLayerFile, LeavesTheRendererAndSaysWhyOnce) {
    writeLayerFile("DepthAreaFeature", GetParam().text);
    writeLayerFile("SoundingFeature", layerFileText("SoundingFeature", kRedFill));
    openHost({{"DepthAreaFeature"}, {"SoundingFeature"}, {"CoastlineAreaFeature"}});
    const host::RendererSpec before = *rendererOf("DepthAreaFeature");
    ASSERT_TRUE(click());
    EXPECT_EQ(*rendererOf("DepthAreaFeature"), before);
    const auto notices = status();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].rfind("Layer file not used: " + (dir / "layers" / "DepthAreaFeature.lyr").string() + ": ", 0),
              0u)
        << notices[0];
    EXPECT_NE(notices[0].find(GetParam().reason), std::string::npos) << notices[0];
    // The run went on past it.
    EXPECT_EQ(rendererOf("SoundingFeature")->fallback->fill, 0xFF0000);
    EXPECT_TRUE(layer("SoundingFeature")->displayLabels());
    for (const auto& e : ui::scripted::events()) EXPECT_NE(e.kind, ui::Event::Kind::Message) << e.text;
}

INSTANTIATE_TEST_SUITE_P(Files, BadLayerFile, ::testing::ValuesIn(kBadFiles),
                         [](const auto& i) { return std::string(i.param.name); });
