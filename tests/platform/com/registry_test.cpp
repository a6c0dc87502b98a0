// Tests of the registry: the key tree, its file, registry scripts, type library registration,
// IDispatch over a type library description, and object creation through the registry.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/com/categories.h"
#include "platform/com/class_factory.h"
#include "platform/com/com.h"
#include "platform/com/registry.h"
#include "platform/com/registry_script.h"
#include "platform/com/typelib.h"

namespace fs = std::filesystem;

namespace {

// A registry file of the test's own, named by TARVO_REGISTRY.
class RegistryFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("registry_test_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        path_ = (dir_ / "sub" / "registry").string();
        ::setenv("TARVO_REGISTRY", path_.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("TARVO_REGISTRY");
        fs::remove_all(dir_);
    }
    fs::path dir_;
    std::string path_;
};

TEST(RegistryKey, NamesIgnoreCaseAndKeepTheirSpelling) {
    reg::Key root;
    root.create("HKCR\\Tarvo.Cmd\\CLSID").setDefault("{X}");
    root.create("hkey_classes_root\\TARVO.CMD").setValue("Name", "v");
    ASSERT_NE(root.find("HKEY_CLASSES_ROOT\\tarvo.cmd\\clsid"), nullptr);
    EXPECT_EQ(*root.find("HKCR\\Tarvo.Cmd\\CLSID")->defaultValue(), "{X}");
    EXPECT_EQ(*root.find("HKCR\\Tarvo.Cmd")->value("NAME"), "v");
    EXPECT_EQ(root.find("HKEY_CLASSES_ROOT")->subkeys().begin()->first, "Tarvo.Cmd");
    EXPECT_EQ(root.find("HKCR\\Missing"), nullptr);
    EXPECT_THROW(root.create("HKCR\\\\a"), reg::RegistryError);
    EXPECT_TRUE(root.remove("HKCR\\TARVO.cmd"));
    EXPECT_FALSE(root.remove("HKCR\\Tarvo.Cmd"));
    EXPECT_TRUE(root.find("HKCR")->empty());
}

TEST(RegistryText, RoundTripsEveryKindOfContent) {
    reg::Key root;
    root.create("HKCR\\Empty");
    reg::Key& k = root.create("HKCR\\CLSID\\{E9AC688E-46B0-4769-B0C8-F365F88402BF}\\InprocServer32");
    k.setDefault("/opt/lib dir/libtarvo.so");
    k.setValue("ThreadingModel", "Apartment");
    root.create("HKCU\\Odd").setValue("quote\"back\\slash", "line\nbreak \"q\" \\");
    root.create("HKCU\\Odd").setDefault("");
    const std::string text = reg::formatRegistry(root);
    EXPECT_EQ(reg::parseRegistry(text), root) << text;
    EXPECT_NE(text.find("[HKEY_CLASSES_ROOT\\Empty]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"ThreadingModel\"=\"Apartment\"\n"), std::string::npos) << text;
}

struct BadText {
    const char* name;
    const char* text;
    const char* error;
};
const BadText kBadTexts[] = {
    {"ValueBeforeKey", "@=\"x\"\n", "line 1: a value before the first key"},
    {"UnclosedKey", "[HKCR\\a\n", "line 1: a key line ends with ']'"},
    {"EmptyName", "[HKCR\\\\a]\n", "line 1: empty key name"},
    {"NoEquals", "[HKCR]\n\"a\" \"b\"\n", "line 2: '=' was expected"},
    {"Unterminated", "[HKCR]\n@=\"abc\n", "line 2: unterminated quoted text"},
    {"BadEscape", "[HKCR]\n@=\"a\\tb\"\n", "line 2: unknown escape \\t"},
    {"Trailing", "[HKCR]\n@=\"a\" x\n", "line 2: text after the value"},
    {"CutShort", "[HKCR]\n@=\"a\"", "line 2: the file does not end with a line end"},
};
class RegistryBadText : public ::testing::TestWithParam<BadText> {};
TEST_P(RegistryBadText, IsRefusedWithItsLine) {
    try {
        reg::parseRegistry(GetParam().text);
        FAIL() << "parsed";
    } catch (const reg::RegistryError& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().error), std::string::npos) << e.what();
    }
}
INSTANTIATE_TEST_SUITE_P(Registry, RegistryBadText, ::testing::ValuesIn(kBadTexts),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(RegistryFile, MissingFileIsEmptyAndSavesCreateTheFolder) {
    EXPECT_TRUE(reg::loadRegistry().empty());
    reg::editRegistry([](reg::Key& root) { root.create("HKCR\\A").setDefault("1"); });
    reg::editRegistry([](reg::Key& root) { root.create("HKCR\\B").setDefault("2"); });
    EXPECT_EQ(reg::queryValue("HKCR\\A"), "1");
    EXPECT_EQ(reg::queryValue("HKCR\\B"), "2");
    EXPECT_EQ(reg::queryValue("HKCR\\C"), std::nullopt);
    // Only the registry and its lock file are left: no temporary file.
    int files = 0;
    for (const auto& e : fs::directory_iterator(fs::path(path_).parent_path())) {
        ++files;
        EXPECT_TRUE(e.path().filename() == "registry" || e.path().filename() == "registry.lock") << e.path();
    }
    EXPECT_EQ(files, 2);
}

TEST_F(RegistryFile, FailedEditChangesNothingAndMalformedFileIsNeverOverwritten) {
    reg::editRegistry([](reg::Key& root) { root.create("HKCR\\A"); });
    EXPECT_THROW(reg::editRegistry([](reg::Key& root) {
                     root.remove("HKCR\\A");
                     throw std::runtime_error("stop");
                 }),
                 std::runtime_error);
    EXPECT_NE(reg::loadRegistry().find("HKCR\\A"), nullptr);

    { std::ofstream(path_, std::ios::trunc) << "[HKCR]\ngarbage\n"; }
    EXPECT_THROW(reg::loadRegistry(), reg::RegistryError);
    EXPECT_THROW(reg::editRegistry([](reg::Key& root) { root.create("HKCR\\B"); }), reg::RegistryError);
    std::ifstream in(path_);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "[HKCR]\ngarbage\n");
}

// ---- Registry scripts ------------------------------------------------------------------------------

constexpr char kScript[] = R"(HKCR
{
    Demo.Thing.1 = s 'Thing Class'
    {
        CLSID = s '{11111111-2222-3333-4444-555555555555}'
    }
    NoRemove CLSID
    {
        ForceRemove {11111111-2222-3333-4444-555555555555} = s 'Thing Class'
        {
            'Programmable'
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Apartment'
            }
            Size = d '42'
        }
    }
    NoRemove Shared
    {
        val Owner = s 'it''s %% mine'
    }
    Delete Stale
}
)";

TEST(RegistryScript, RegistersAndUnregistersBackToWhatWasThere) {
    reg::Key root;
    root.create("HKCR\\CLSID\\{OTHER}").setDefault("kept");
    root.create("HKCR\\Stale\\Sub");
    root.create("HKCR\\CLSID\\{11111111-2222-3333-4444-555555555555}\\Leftover");  // ForceRemove drops it
    reg::Key before = root;
    before.remove("HKCR\\Stale");
    before.remove("HKCR\\CLSID\\{11111111-2222-3333-4444-555555555555}");

    reg::runRegistryScript(root, kScript, {{"module", "/x/lib demo.so"}}, true);
    const reg::Key* cls = root.find("HKCR\\CLSID\\{11111111-2222-3333-4444-555555555555}");
    ASSERT_NE(cls, nullptr);
    EXPECT_EQ(*cls->defaultValue(), "Thing Class");
    EXPECT_EQ(cls->find("Leftover"), nullptr);
    EXPECT_NE(cls->find("Programmable"), nullptr);
    EXPECT_EQ(*cls->find("InprocServer32")->defaultValue(), "/x/lib demo.so");
    EXPECT_EQ(*cls->find("InprocServer32")->value("ThreadingModel"), "Apartment");
    EXPECT_EQ(*cls->find("Size")->defaultValue(), "42");
    EXPECT_EQ(*root.find("HKCR\\Demo.Thing.1\\CLSID")->defaultValue(), "{11111111-2222-3333-4444-555555555555}");
    EXPECT_EQ(*root.find("HKCR\\Shared")->value("Owner"), "it's % mine");
    EXPECT_EQ(root.find("HKCR\\Stale"), nullptr);

    reg::runRegistryScript(root, kScript, {{"MODULE", "/x/lib demo.so"}}, false);
    before.create("HKCR\\Shared");  // NoRemove: the key stays, its value goes
    EXPECT_EQ(root, before) << reg::formatRegistry(root);
}

struct BadScript {
    const char* name;
    const char* script;
    const char* error;
};
const BadScript kBadScripts[] = {
    {"NoBlock", "HKCR Key", "line 2: '{' was expected"},
    {"Unclosed", "HKCR\n{\n  Key\n", "line 5: '}' was expected"},
    {"NoType", "HKCR { Key = 'v' }", "line 2: a value type (s or d) was expected"},
    {"BadNumber", "HKCR {\n Key = d 'x' }", "line 3: \"x\" is not a number"},
    {"UnknownVariable", "HKCR { Key = s '%NOPE%' }", "unknown variable %NOPE%"},
    {"Unterminated", "HKCR { Key = s 'v }", "line 2: unterminated quoted text"},
    {"SlashInName", "HKCR { 'a\\b' }", "bad key name"},
};
class RegistryBadScript : public ::testing::TestWithParam<BadScript> {};
// Each script follows a valid first line, so that what was parsed before the fault is not applied.
TEST_P(RegistryBadScript, ThrowsAndChangesNothing) {
    reg::Key root;
    root.create("HKCR\\Existing");
    const reg::Key before = root;
    try {
        reg::runRegistryScript(root, std::string("HKCR { New }\n") + GetParam().script, {}, true);
        FAIL() << "ran";
    } catch (const reg::RegistryError& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().error), std::string::npos) << e.what();
    }
    EXPECT_EQ(root, before);
}
INSTANTIATE_TEST_SUITE_P(Registry, RegistryBadScript, ::testing::ValuesIn(kBadScripts),
                         [](const auto& i) { return std::string(i.param.name); });

// ---- Type library and IDispatch -------------------------------------------------------------------

struct IGreeter : IDispatch {
    static constexpr GUID iid = makeGuid("{7D1C7A10-0000-4000-8000-0000000000A1}");
    using base_interface = IDispatch;
};

constexpr ParamInfo kGreetParams[] = {{"who", VT_BSTR}, {"loud", VT_BOOL}, {"times", VT_I4}};
constexpr MethodInfo kGreeterMethods[] = {{"Greet", 1, kGreetParams}};
constexpr InterfaceInfo kGreeterInfo = {"IGreeter", IGreeter::iid, "IGreeter Interface", kGreeterMethods};
constexpr CoclassInfo kCoclasses[] = {
    {"Greeter", makeGuid("{7D1C7A10-0000-4000-8000-0000000000A2}"), "Greeter Class", &kGreeterInfo}};
constexpr TypeLibInfo kLib = {"DemoLib", makeGuid("{7D1C7A10-0000-4000-8000-0000000000A3}"), 1, 0,
                              "Demo 1.0 Type Library", kCoclasses};

class Greeter : public ComObject<IGreeter> {
public:
    std::wstring last;
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return dispatchIDsOfNames(kGreeterInfo, names, count, ids);
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* p, VARIANT* r, EXCEPINFO* e,
                   UINT* argErr) override {
        return dispatchInvoke(kGreeterInfo, id, flags, p, r, e, argErr,
                              [this](const MethodInfo&, std::vector<_variant_t>& a, VARIANT*) -> HRESULT {
                                  const wchar_t* who = a[0].bstrVal ? a[0].bstrVal : L"";
                                  if (!*who) throw _com_error(E_INVALIDARG, L"nobody to greet");
                                  last = std::wstring(who) + (a[1].boolVal ? L"!" : L".") +
                                         std::to_wstring(a[2].lVal);
                                  return S_OK;
                              });
    }
};

TEST(Dispatch, CallsByNameWithConvertedArguments) {
    _com_ptr_t<IGreeter> g;
    ASSERT_EQ(createComInstance<Greeter>(IGreeter::iid, reinterpret_cast<void**>(&g)), S_OK);
    auto* impl = static_cast<Greeter*>(g.GetInterfacePtr());
    // Text and numbers convert to the declared types.
    EXPECT_EQ(invokeByName(g, L"greet", {_variant_t(L"Ann"), _variant_t(true), _variant_t(L"3")}), S_OK);
    EXPECT_EQ(impl->last, L"Ann!3");
    EXPECT_EQ(invokeByName(g, L"Greet", {_variant_t(L"Bo"), _variant_t(0L), _variant_t(2.0)}), S_OK);
    EXPECT_EQ(impl->last, L"Bo.2");

    EXPECT_EQ(invokeByName(g, L"Wave", {}), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(invokeByName(g, L"Greet", {_variant_t(L"Ann")}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(invokeByName(g, L"Greet", {_variant_t(L"Ann"), _variant_t(true), _variant_t(L"many")}),
              DISP_E_TYPEMISMATCH);
    // What the method throws comes back as its result and description, never as an exception.
    EXPECT_EQ(invokeByName(g, L"Greet", {_variant_t(L""), _variant_t(true), _variant_t(1L)}), E_INVALIDARG);
    EXPECT_EQ(takeErrorDescription(), L"nobody to greet");

    std::wstring w0 = L"Greet", w1 = L"times", w2 = L"colour";
    LPOLESTR names[3] = {w0.data(), w1.data(), w2.data()};
    DISPID ids[3];
    EXPECT_EQ(g->GetIDsOfNames(GUID_NULL, names, 3, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 1);
    EXPECT_EQ(ids[1], 2);
    EXPECT_EQ(ids[2], DISPID_UNKNOWN);
}

TEST(TypeLib, RegistrationIsUndoneWhole) {
    reg::Key root;
    root.create("HKCR\\CLSID");
    const reg::Key before = root;
    registerTypeLib(root, kLib, "/opt/lib/libdemo.so");
    const reg::Key* v = root.find("HKCR\\TypeLib\\{7D1C7A10-0000-4000-8000-0000000000A3}\\1.0");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(*v->defaultValue(), "Demo 1.0 Type Library");
    EXPECT_EQ(*v->find("0\\linux")->defaultValue(), "/opt/lib/libdemo.so");
    EXPECT_EQ(*v->find("HELPDIR")->defaultValue(), "/opt/lib");
    const reg::Key* itf = root.find("HKCR\\Interface\\{7D1C7A10-0000-4000-8000-0000000000A1}");
    ASSERT_NE(itf, nullptr);
    EXPECT_EQ(*itf->defaultValue(), "IGreeter");
    EXPECT_EQ(*itf->find("TypeLib")->value("Version"), "1.0");

    const CATID cat = makeGuid("{7D1C7A10-0000-4000-8000-0000000000C1}");
    registerClassImplCategories(root, kCoclasses[0].clsid, std::span(&cat, 1));
    EXPECT_EQ(classesImplementing(root, cat), std::vector<CLSID>{kCoclasses[0].clsid});
    unregisterClassImplCategories(root, kCoclasses[0].clsid, std::span(&cat, 1));
    EXPECT_TRUE(classesImplementing(root, cat).empty());
    root.remove("HKCR\\CLSID\\" + guidToString(kCoclasses[0].clsid));

    unregisterTypeLib(root, kLib);
    EXPECT_EQ(root, before) << reg::formatRegistry(root);
}

// ---- Creation through the registry ------------------------------------------------------------------

constexpr CLSID kUnregistered = makeGuid("{7D1C7A10-0000-4000-8000-0000000000B1}");
constexpr CLSID kGone = makeGuid("{7D1C7A10-0000-4000-8000-0000000000B2}");
constexpr CLSID kNotALibrary = makeGuid("{7D1C7A10-0000-4000-8000-0000000000B3}");

TEST_F(RegistryFile, CreationFailsClearlyForEachKindOfBadRegistration) {
    const std::string notLib = (dir_ / "not_a_library.so").string();
    reg::editRegistry([&](reg::Key& root) {
        root.create("HKCR\\CLSID\\" + guidToString(kGone) + "\\InprocServer32").setDefault("/nowhere/libgone.so");
        root.create("HKCR\\CLSID\\" + guidToString(kNotALibrary) + "\\InprocServer32").setDefault(notLib);
        root.create("HKCR\\Demo.Gone\\CurVer").setDefault("Demo.Gone.1");
        root.create("HKCR\\Demo.Gone.1\\CLSID").setDefault(guidToString(kGone));
    });
    { std::ofstream(notLib) << "not an ELF file\n"; }

    IUnknownPtr p;
    EXPECT_EQ(p.CreateInstance(kUnregistered), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(p.CreateInstance(kGone), HRESULT_MOD_NOT_FOUND);
    EXPECT_EQ(toUtf8(takeErrorDescription()),
              "The module /nowhere/libgone.so registered for class " + guidToString(kGone) + " does not exist");
    EXPECT_EQ(p.CreateInstance(kNotALibrary), E_FAIL);
    EXPECT_NE(toUtf8(takeErrorDescription()).find("does not load"), std::string::npos);

    // The version-independent ProgID leads through CurVer to the class.
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID("demo.gone", &clsid), S_OK);
    EXPECT_EQ(clsid, kGone);
    EXPECT_EQ(p.CreateInstance("Demo.Gone"), HRESULT_MOD_NOT_FOUND);
    EXPECT_EQ(CLSIDFromProgID("Demo.Nothing", &clsid), CO_E_CLASSSTRING);
    EXPECT_THROW(IUnknownPtr("Demo.Gone"), _com_error);
}

}  // namespace
