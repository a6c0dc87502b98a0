// tests/symbology/apply_symbology_test.cpp: the command's run over a host map: empty layers go,
// layer files give renderers, the view takes the land's extent and the soundings their labels; the
// edge cases of a run as one table; bad layer files; and the faults of the original design
// (snapshot walk, broken data source, continue flag, bar index, the extension's release, Enabled's
// one report, Find in the pool, the progress dialog of a run that an error ended).
#include <cmath>
#include <functional>

#include "platform/ui/progress.h"
#include "platform/ui/ui.h"
#include "symbology/modUtil.h"
#include "symbology_fixture.h"

using namespace symtest;
using Kind = ui::Event::Kind;

namespace {

std::vector<std::string> messages() {
    std::vector<std::string> out;
    for (const auto& e : ui::scripted::events())
        if (e.kind == Kind::Message) out.push_back(e.caption + "|" + e.text);
    return out;
}

bool hasEvent(Kind k) {
    for (const auto& e : ui::scripted::events())
        if (e.kind == k) return true;
    return false;
}

bool isDefault(const host::RendererSpec* spec) {
    return spec && spec->kind == host::RendererKind::Simple && spec->fallback &&
           *spec->fallback == *host::defaultRenderer(esriGeometryPolygon).fallback;
}

void expectExtent(host::Map& map, const double (&want)[4]) {
    double e[4];
    map.extent(e[0], e[1], e[2], e[3]);
    for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(e[i], want[i]) << i;
}

bool extentUnset(host::Map& map) {
    double e[4];
    map.extent(e[0], e[1], e[2], e[3]);
    return std::isnan(e[0]);
}

}  // namespace

TEST_F(SymbologyTest, RemovesEmptyLayersAppliesLayerFilesZoomsToLandAndLabelsSoundings) {
    writeLayerFile("DepthAreaFeature", layerFileText("DepthAreaFeature", kDepthBreaks));
    writeLayerFile("CoastlineAreaFeature", layerFileText("CoastlineAreaFeature", kRedFill));
    // Two empty layers side by side: a walk over the live list would skip the second.
    openHost({{"SoundingFeature"}, {"CoastlineAreaFeature"}, {"BoundaryAreaFeature"}, {"PortAreaFeature"},
              {"DepthAreaFeature"}, {"DepthLineFeature"}});
    ASSERT_TRUE(click());

    EXPECT_EQ(layerNames(), (std::vector<std::string>{"SoundingFeature", "CoastlineAreaFeature", "DepthAreaFeature",
                                                      "DepthLineFeature"}));
    EXPECT_EQ(status(), (std::vector<std::string>{"No features found: Removing BoundaryAreaFeature",
                                                  "No features found: Removing PortAreaFeature"}));
    ASSERT_NE(rendererOf("DepthAreaFeature"), nullptr);
    EXPECT_EQ(rendererOf("DepthAreaFeature")->kind, host::RendererKind::ClassBreaks);
    EXPECT_EQ(rendererOf("DepthAreaFeature")->field, "DRVAL1");
    EXPECT_EQ(rendererOf("CoastlineAreaFeature")->fallback->fill, 0xFF0000);
    EXPECT_EQ(rendererOf("DepthLineFeature")->kind, host::RendererKind::Simple);
    expectExtent(map(), kLand);
    EXPECT_TRUE(layer("SoundingFeature")->displayLabels());
    EXPECT_EQ(layer("SoundingFeature")->labels().expressions(), std::vector<std::string>{"[Depth]"});
    EXPECT_EQ(shown(int(Kind::ProgressTitle)), std::vector<std::string>{"Applying S-57 Symbology"});
    EXPECT_EQ(shown(int(Kind::ProgressDescription)), std::vector<std::string>{"Processing...Please be patient."});
    EXPECT_EQ(shown(int(Kind::ProgressMessage)),
              (std::vector<std::string>{"Processing SoundingFeature...", "Processing CoastlineAreaFeature...",
                                        "Processing DepthAreaFeature...", "Processing DepthLineFeature..."}));
    EXPECT_TRUE(hasEvent(Kind::ProgressHide));
    EXPECT_TRUE(messages().empty());
    // The command stands once on the bar, before the last two items.
    const auto& items = app->document().commandBars().bars().front()->items();
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[1]->uid(), "Corvane.clsSymCommand");
}

TEST_F(SymbologyTest, ALayerWithoutItsClassIsKeptWithANotice) {
    writeLayerFile("DepthAreaFeature", layerFileText("DepthAreaFeature", kDepthBreaks));
    openHost({{"Lost", "NoSuchClass"}, {"DepthAreaFeature"}});
    ASSERT_TRUE(click());
    EXPECT_EQ(layerNames(), (std::vector<std::string>{"Lost", "DepthAreaFeature"}));
    EXPECT_EQ(status(), std::vector<std::string>{"Data source not found: Keeping Lost"});
    EXPECT_EQ(rendererOf("DepthAreaFeature")->kind, host::RendererKind::ClassBreaks);
    EXPECT_TRUE(messages().empty());
}

// ---- Edge cases of a run -------------------------------------------------------------------------

class SymbologyEdgeCase;

namespace {

// The standard progress dialog factory, kept to put back after a case replaced it.
IProgressDialogFactoryPtr& realFactory() {
    static IProgressDialogFactoryPtr f(kCLSID_ProgressDialogFactory);
    return f;
}
HRESULT makeRealFactory(REFIID riid, void** out) { return realFactory()->QueryInterface(riid, out); }

// A dialog whose title cannot be set: type mismatch.
class MismatchDialog : public ComObject<IStepProgressor, IProgressDialog2> {
public:
    HRESULT put_Message(BSTR) override { return S_OK; }
    HRESULT get_Message(BSTR* m) override { return *m = nullptr, S_OK; }
    HRESULT raw_Show() override { return S_OK; }
    HRESULT raw_Step() override { return S_OK; }
    HRESULT raw_Hide() override { return S_OK; }
    HRESULT put_MinRange(LONG) override { return S_OK; }
    HRESULT get_MinRange(LONG* v) override { return *v = 0, S_OK; }
    HRESULT put_MaxRange(LONG) override { return S_OK; }
    HRESULT get_MaxRange(LONG* v) override { return *v = 0, S_OK; }
    HRESULT put_Position(LONG) override { return S_OK; }
    HRESULT get_Position(LONG* v) override { return *v = 0, S_OK; }
    HRESULT put_StepValue(LONG) override { return S_OK; }
    HRESULT get_StepValue(LONG* v) override { return *v = 0, S_OK; }
    HRESULT put_Title(BSTR) override { return DISP_E_TYPEMISMATCH; }
    HRESULT get_Title(BSTR* t) override { return *t = nullptr, S_OK; }
    HRESULT put_Description(BSTR) override { return S_OK; }
    HRESULT get_Description(BSTR* t) override { return *t = nullptr, S_OK; }
    HRESULT put_Animation(LONG) override { return S_OK; }
    HRESULT get_Animation(LONG* v) override { return *v = 0, S_OK; }
    HRESULT put_CancelEnabled(VARIANT_BOOL) override { return S_OK; }
    HRESULT get_CancelEnabled(VARIANT_BOOL* v) override { return *v = 0, S_OK; }
    HRESULT raw_ShowDialog() override { return S_OK; }
    HRESULT raw_HideDialog() override { return S_OK; }
};
class MismatchFactory : public ComObject<IProgressDialogFactory> {
public:
    HRESULT raw_Create(ICancelTracker*, LONG, IStepProgressor** out) override {
        return createComInstance<MismatchDialog>(IStepProgressor::iid, reinterpret_cast<void**>(out));
    }
};

// The standard file system object, kept to put back after a case replaced it.
IFileSystemObjectPtr& realFileSystem() {
    static IFileSystemObjectPtr f(CLSID_FileSystemObject);
    return f;
}
HRESULT makeRealFileSystem(REFIID riid, void** out) { return realFileSystem()->QueryInterface(riid, out); }

// A file system whose existence test fails: an error in the middle of a run.
class FailingFileSystem : public ComObject<IFileSystemObject> {
public:
    HRESULT raw_FileExists(BSTR, VARIANT_BOOL*) override { return E_ACCESSDENIED; }
};

struct EdgeCase {
    const char* name;
    std::function<void(SymbologyEdgeCase&)> run;
};

}  // namespace

class SymbologyEdgeCase : public SymbologyTest, public ::testing::WithParamInterface<EdgeCase> {
public:
    using SymbologyTest::app;
    using SymbologyTest::click;
    using SymbologyTest::command;
    using SymbologyTest::dir;
    using SymbologyTest::extension;
    using SymbologyTest::layer;
    using SymbologyTest::layerNames;
    using SymbologyTest::map;
    using SymbologyTest::openHost;
    using SymbologyTest::rendererOf;
    using SymbologyTest::setS57Dir;
    using SymbologyTest::status;
    using SymbologyTest::shown;
    using SymbologyTest::writeLayerFile;
};

TEST_P(SymbologyEdgeCase, Holds) { GetParam().run(*this); }

namespace {

void depthFileFound(SymbologyEdgeCase& t, const std::string& s57dir) {
    t.writeLayerFile("DepthAreaFeature", layerFileText("DepthAreaFeature", kDepthBreaks));
    t.setS57Dir(s57dir.c_str());
    t.openHost({{"DepthAreaFeature"}});
    ASSERT_TRUE(t.click());
    ASSERT_NE(t.rendererOf("DepthAreaFeature"), nullptr);
    EXPECT_EQ(t.rendererOf("DepthAreaFeature")->kind, host::RendererKind::ClassBreaks) << s57dir;
}

// One click with the class `clsid` made by `replacement`; `standard` (over the class's standard
// object, made before) is put back after it.
bool clickReplacing(SymbologyEdgeCase& t, REFCLSID clsid, const char* progId, ComFactory replacement,
                    ComFactory standard) {
    registerComClass(clsid, progId, replacement);
    const bool clicked = t.click();
    registerComClass(clsid, progId, standard);
    return clicked;
}

void barAfterOpen(SymbologyEdgeCase& t, const std::vector<std::string>& items, const std::vector<std::string>& want) {
    t.openHost({{"DepthAreaFeature"}}, items);
    std::vector<std::string> got;
    for (const auto& i : t.app->document().commandBars().bars().front()->items()) got.push_back(i->uid());
    EXPECT_EQ(got, want);
}

const EdgeCase kEdgeCases[] = {
    {"NoLayersLeftShowsNoProgress",
     [](SymbologyEdgeCase& t) {
         t.openHost({{"BoundaryAreaFeature"}, {"PortAreaFeature"}});
         ASSERT_TRUE(t.click());
         EXPECT_TRUE(t.layerNames().empty());
         EXPECT_EQ(t.status().size(), 2u);
         EXPECT_FALSE(hasEvent(Kind::ProgressTitle));
         EXPECT_FALSE(hasEvent(Kind::ProgressMessage));
     }},
    {"S57DirWithTrailingSlash", [](SymbologyEdgeCase& t) { depthFileFound(t, t.dir.string() + "/"); }},
    {"S57DirWithoutSeparator", [](SymbologyEdgeCase& t) { depthFileFound(t, t.dir.string()); }},
    {"S57DirWithTrailingBackslash", [](SymbologyEdgeCase& t) { depthFileFound(t, t.dir.string() + "\\"); }},
    {"S57DirPathsAgree",
     [](SymbologyEdgeCase& t) {
         t.setS57Dir("C:\\charts\\");
         const std::string with = corvane::LayerFilePath("X");
         t.setS57Dir("C:\\charts");
         EXPECT_EQ(corvane::LayerFilePath("X"), with);
         EXPECT_EQ(with, "C:\\charts\\layers\\X.lyr");
         t.setS57Dir(nullptr);
         EXPECT_EQ(corvane::LayerFilePath("X"), "\\layers\\X.lyr");
     }},
    {"S57DirUnsetKeepsRenderers",
     [](SymbologyEdgeCase& t) {
         t.writeLayerFile("DepthAreaFeature", layerFileText("DepthAreaFeature", kDepthBreaks));
         t.setS57Dir(nullptr);
         t.openHost({{"DepthAreaFeature"}, {"CoastlineAreaFeature"}});
         ASSERT_TRUE(t.click());
         EXPECT_TRUE(isDefault(t.rendererOf("DepthAreaFeature")));
         expectExtent(t.map(), kLand);
     }},
    {"LayerFileHoldingNoLayer",
     [](SymbologyEdgeCase& t) {
         t.writeLayerFile("DepthAreaFeature", "<LayerFile/>");
         t.openHost({{"DepthAreaFeature"}});
         ASSERT_TRUE(t.click());
         EXPECT_TRUE(isDefault(t.rendererOf("DepthAreaFeature")));
         EXPECT_TRUE(t.status().empty());
     }},
    {"CancelInTheMiddleThenARunThatWorks",
     [](SymbologyEdgeCase& t) {
         t.writeLayerFile("CoastlineAreaFeature", layerFileText("CoastlineAreaFeature", kRedFill));
         t.writeLayerFile("DepthAreaFeature", layerFileText("DepthAreaFeature", kDepthBreaks));
         t.openHost({{"CoastlineAreaFeature"}, {"DepthAreaFeature"}, {"SoundingFeature"}});
         ui::scripted::cancelAtContinue(2);
         ASSERT_TRUE(t.click());
         EXPECT_EQ(t.rendererOf("CoastlineAreaFeature")->fallback->fill, 0xFF0000);
         EXPECT_TRUE(isDefault(t.rendererOf("DepthAreaFeature")));
         EXPECT_TRUE(extentUnset(t.map()));
         EXPECT_FALSE(t.layer("SoundingFeature")->displayLabels());
         EXPECT_TRUE(hasEvent(Kind::ProgressHide));
         // The next run starts afresh: a new dialog, the flag set back.
         ui::scripted::reset();
         ASSERT_TRUE(t.click());
         EXPECT_EQ(t.rendererOf("DepthAreaFeature")->kind, host::RendererKind::ClassBreaks);
         expectExtent(t.map(), kLand);
         EXPECT_TRUE(t.layer("SoundingFeature")->displayLabels());
         EXPECT_EQ(t.shown(int(Kind::ProgressTitle)).size(), 1u);
     }},
    {"ErrorInTheMiddleClosesTheProgressThenARunThatWorks",
     [](SymbologyEdgeCase& t) {
         t.writeLayerFile("DepthAreaFeature", layerFileText("DepthAreaFeature", kDepthBreaks));
         t.openHost({{"DepthAreaFeature"}, {"CoastlineAreaFeature"}});
         realFileSystem();
         ASSERT_TRUE(clickReplacing(t, CLSID_FileSystemObject, "Scripting.FileSystemObject",
                                    &createComInstance<FailingFileSystem>, &makeRealFileSystem));
         EXPECT_TRUE(isDefault(t.rendererOf("DepthAreaFeature")));
         EXPECT_TRUE(hasEvent(Kind::ProgressHide)) << "the progress dialog of the failed run is left shown";
         // The next run starts afresh: a new dialog over its own layers.
         ui::scripted::reset();
         ASSERT_TRUE(t.click());
         EXPECT_EQ(t.rendererOf("DepthAreaFeature")->kind, host::RendererKind::ClassBreaks);
         EXPECT_EQ(t.shown(int(Kind::ProgressTitle)).size(), 1u);
     }},
    {"BarWithNoItems", [](SymbologyEdgeCase& t) { barAfterOpen(t, {}, {"Corvane.clsSymCommand"}); }},
    {"BarWithOneItem", [](SymbologyEdgeCase& t) { barAfterOpen(t, {"A"}, {"Corvane.clsSymCommand", "A"}); }},
    {"BarWithManyItems",
     [](SymbologyEdgeCase& t) {
         barAfterOpen(t, {"A", "B", "C", "D", "E"}, {"A", "B", "C", "Corvane.clsSymCommand", "D", "E"});
     }},
    {"BarHoldingTheCommandAlready",
     [](SymbologyEdgeCase& t) {
         barAfterOpen(t, {"A", "{AAA664C0-25F3-4001-844B-62807216D146}"},
                      {"A", "{AAA664C0-25F3-4001-844B-62807216D146}"});
     }},
    {"EnabledWithNoLayers",
     [](SymbologyEdgeCase& t) {
         t.openHost({});
         EXPECT_EQ(t.command()->GetEnabled(), VARIANT_FALSE);
         EXPECT_FALSE(t.click());
     }},
    {"EnabledWhileTheExtensionIsDisabled",
     [](SymbologyEdgeCase& t) {
         t.openHost({{"DepthAreaFeature"}});
         EXPECT_EQ(t.command()->GetEnabled(), VARIANT_TRUE);
         IExtensionConfigPtr(t.extension)->PutState(esriESDisabled);
         EXPECT_EQ(t.command()->GetEnabled(), VARIANT_FALSE);
     }},
    {"Error13InShowProgressGoesOn",
     [](SymbologyEdgeCase& t) {
         t.writeLayerFile("DepthAreaFeature", layerFileText("DepthAreaFeature", kDepthBreaks));
         t.openHost({{"CoastlineAreaFeature"}, {"DepthAreaFeature"}});
         realFactory();
         ASSERT_TRUE(clickReplacing(t, kCLSID_ProgressDialogFactory, "Ui.ProgressDialogFactory.1",
                                    &createComInstance<MismatchFactory>, &makeRealFactory));
         EXPECT_EQ(messages(), std::vector<std::string>{"Corvane|13"});
         EXPECT_EQ(t.rendererOf("DepthAreaFeature")->kind, host::RendererKind::ClassBreaks);
         expectExtent(t.map(), kLand);
     }},
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Run, SymbologyEdgeCase, ::testing::ValuesIn(kEdgeCases),
                         [](const auto& i) { return std::string(i.param.name); });
