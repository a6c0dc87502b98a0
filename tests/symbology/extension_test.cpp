// tests/symbology/extension_test.cpp: the extension and the command as the host sees them: their
// texts, when configure places the command, the release at shutdown, Enabled's one report, and
// Find reaching the command pool.
#include <algorithm>

#include "platform/com/categories.h"
#include "platform/com/registry.h"
#include "platform/host/uid.h"
#include "platform/ui/ui.h"
#include "symbology_fixture.h"

using namespace symtest;

namespace {

std::vector<std::string> barItems(host::Application& app) {
    std::vector<std::string> out;
    for (const auto& i : app.document().commandBars().bars().back()->items()) out.push_back(i->uid());
    return out;
}

int errorBoxes() {
    int n = 0;
    for (const auto& e : ui::scripted::events())
        if (e.kind == ui::Event::Kind::Message && e.caption == "Unexpected Program Error") ++n;
    return n;
}

// An extension under the add-in's ProgID that is no configurable extension.
class BareExtension : public ComObject<IExtension> {
public:
    HRESULT get_Name(BSTR* name) override { return *name = SysAllocString(L"Bare"), S_OK; }
    HRESULT raw_Startup(VARIANT*) override { return S_OK; }
    HRESULT raw_Shutdown() override { return S_OK; }
};

}  // namespace

TEST_F(SymbologyTest, TheExtensionAndTheCommandNameThemselves) {
    openHost({{"DepthAreaFeature"}});
    EXPECT_STREQ(extension->GetName().narrow(), "Brackwell");
    IExtensionConfigPtr config = extension;
    EXPECT_STREQ(config->GetProductName().narrow(), "Brackwell");
    const std::string description = config->GetDescription().narrow();
    EXPECT_EQ(description.rfind("Brackwell (1.0)\r\n", 0), 0u);
    EXPECT_NE(description.find("\r\n\r\nApplies S-57 symbology to featureclasses."), std::string::npos);
    ICommandPtr cmd = command();
    EXPECT_STREQ(cmd->GetName().narrow(), "s57Symbology");
    EXPECT_STREQ(cmd->GetCaption().narrow(), "Apply S-57 Symbology");
    EXPECT_STREQ(cmd->GetMessage().narrow(), "Apply Symbology to Layers in Map");
    EXPECT_STREQ(cmd->GetCategory().narrow(), "S-57");
    EXPECT_STREQ(cmd->GetTooltip().narrow(), "");
    EXPECT_EQ(cmd->GetChecked(), VARIANT_FALSE);
}

TEST_F(SymbologyTest, LaterDocumentsAndStateChangesNeverPlaceTheCommandTwice) {
    openHost({{"DepthAreaFeature"}});
    const std::vector<std::string> placed{"A", "Corvane.clsSymCommand", "B", "C"};
    EXPECT_EQ(barItems(*app), placed);
    app->document().fireOpenDocument();
    app->document().fireNewDocument();
    IExtensionConfigPtr(extension)->PutState(esriESEnabled);
    EXPECT_EQ(barItems(*app), placed);
    EXPECT_EQ(errorBoxes(), 0);
}

TEST_F(SymbologyTest, AStateChangeAfterTheFirstDocumentPlacesTheCommand) {
    // No standard bar when the first document opens: configure finds none and the flag goes up.
    app = _com_ptr_t<host::Application>(new host::Application);
    extension.CreateInstance("Corvane.clsExtension");
    app->startExtension("Corvane.clsExtension", extension);
    ICommandPtr cmd;
    cmd.CreateInstance("Corvane.clsSymCommand");
    app->addCommand("Corvane.clsSymCommand", cmd);
    app->document().fireNewDocument();
    app->document().commandBars().addBar(kStandardToolbarUid, "Standard", {"A", "B"});
    app->document().fireOpenDocument();
    EXPECT_EQ(barItems(*app), (std::vector<std::string>{"A", "B"}));
    IExtensionConfigPtr(extension)->PutState(esriESEnabled);
    EXPECT_EQ(barItems(*app), (std::vector<std::string>{"Corvane.clsSymCommand", "A", "B"}));
    // Found in the pool before, now on the bar: either way Find gives the command's item.
    ICommandItemPtr item = app->document().commandBars().Find(host::makeUid("Corvane.clsSymCommand"));
    ASSERT_TRUE(item);
    EXPECT_STREQ(item->GetCaption().narrow(), "Apply S-57 Symbology");
}

TEST_F(SymbologyTest, FindReachesACommandOfThePoolThatNoBarHolds) {
    app = _com_ptr_t<host::Application>(new host::Application);
    app->document().commandBars().addBar(kStandardToolbarUid, "Standard", {"A"});
    ICommandItemPtr none = app->document().commandBars().Find(host::makeUid("Corvane.clsSymCommand"));
    EXPECT_FALSE(none);
    ICommandPtr cmd;
    cmd.CreateInstance("Corvane.clsSymCommand");
    app->addCommand("Corvane.clsSymCommand", cmd);
    ICommandItemPtr found = app->document().commandBars().Find(host::makeUid("{AAA664C0-25F3-4001-844B-62807216D146}"));
    ASSERT_TRUE(found);
    EXPECT_STREQ(found->GetID()->GetValue().narrow(), "Corvane.clsSymCommand");
    EXPECT_FALSE(app->document().commandBars().Find(host::makeUid("Corvane.clsSymCommand"), VARIANT_FALSE,
                                                    VARIANT_TRUE))
        << "noCreate leaves the pool out";
}

TEST_F(SymbologyTest, ShutdownLetsTheExtensionGo) {
    openHost({{"DepthAreaFeature"}});
    IExtension* raw = extension;
    raw->AddRef();
    extension = nullptr;
    EXPECT_EQ(app->document().sinkCount(), 1u);
    app->shutdown();
    EXPECT_EQ(app->document().sinkCount(), 0u);
    EXPECT_EQ(raw->Release(), 0u) << "the extension is still held after shutdown";
}

TEST_F(SymbologyTest, AnErrorInEnabledIsReportedOnceAndAnswersFalse) {
    app = _com_ptr_t<host::Application>(new host::Application);
    app->startExtension("Corvane.clsExtension", IExtensionPtr(new BareExtension));
    ICommandPtr cmd;
    cmd.CreateInstance("Corvane.clsSymCommand");
    app->addCommand("Corvane.clsSymCommand", cmd);
    for (int poll = 0; poll < 3; ++poll) EXPECT_EQ(cmd->GetEnabled(), VARIANT_FALSE) << poll;
    EXPECT_EQ(errorBoxes(), 1);
    const auto& e = ui::scripted::events();
    ASSERT_FALSE(e.empty());
    EXPECT_NE(e.back().text.find("\tICommand_Enabled clsSymCommand Line : 20\r\n"), std::string::npos) << e.back().text;
}

TEST_F(SymbologyTest, SelfRegistrationWritesBothClassesTheTypeLibraryAndTheHostCategories) {
    ASSERT_TRUE(registerAddin());
    auto value = [](const std::string& key) { return reg::queryValue(key).value_or("(none)"); };
    EXPECT_EQ(value("HKCR\\Corvane.clsExtension\\CLSID"), "{A7519AD8-0B4A-4BB9-98C7-937E988EEC7C}");
    EXPECT_EQ(value("HKCR\\Corvane.clsSymCommand\\CLSID"), "{AAA664C0-25F3-4001-844B-62807216D146}");
    const std::string server = value("HKCR\\CLSID\\{AAA664C0-25F3-4001-844B-62807216D146}\\InprocServer32");
    EXPECT_NE(server.find("libcorvane.so"), std::string::npos) << server;
    EXPECT_EQ(reg::queryValue("HKCR\\CLSID\\{A7519AD8-0B4A-4BB9-98C7-937E988EEC7C}\\InprocServer32", "ThreadingModel"),
              "Apartment");
    EXPECT_TRUE(reg::queryValue("HKCR\\TypeLib\\{D3FAD027-6578-45C0-B6D7-F44BA391B78A}\\1.0").has_value());
    const reg::Key root = reg::loadRegistry();
    EXPECT_EQ(classesImplementing(root, CATID_HostExtensions),
              std::vector<CLSID>{makeGuid("{A7519AD8-0B4A-4BB9-98C7-937E988EEC7C}")});
    const auto commands = classesImplementing(root, CATID_HostCommands);
    EXPECT_NE(std::find(commands.begin(), commands.end(), makeGuid("{AAA664C0-25F3-4001-844B-62807216D146}")),
              commands.end());
}
