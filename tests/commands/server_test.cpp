// Tests of the converter as an in-process server: registration through comreg, creation by CLSID
// and ProgID through the registry, automation by name, unregistration, the module's lock count,
// and a registry that a killed comreg leaves whole.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "commands/tarvo_lib.h"
#include "commands/tarvo_module.h"
#include "platform/com/categories.h"
#include "platform/com/class_factory.h"
#include "platform/com/registry.h"
#include "platform/host/host.h"
#include "platform/ui/ui.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

const std::string kComreg = std::string(TARVO_BINARY_DIR) + "/bin/comreg";
const std::string kModule = std::string(TARVO_BINARY_DIR) + "/lib/libtarvo.so";

// Runs comreg with the arguments; its exit status, or -signal when killed. With killAfterUs >= 0
// the process is killed (SIGKILL) that many microseconds after it started.
int comreg(const std::vector<std::string>& args, long killAfterUs = -1, std::string* out = nullptr) {
    std::vector<std::string> all{kComreg};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string outPath = fs::temp_directory_path() / ("comreg_out_" + std::to_string(getpid()));
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, kComreg.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1000;
    if (killAfterUs >= 0) {
        if (killAfterUs > 0) usleep(useconds_t(killAfterUs));
        kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (out) {
        std::ifstream in(outPath);
        out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    fs::remove(outPath);
    if (WIFSIGNALED(status)) return -WTERMSIG(status);
    return WEXITSTATUS(status);
}

class Server : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kComreg)) GTEST_SKIP() << kComreg << " is not built";
        dir_ = fs::temp_directory_path() / ("server_test_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / "registry").string();
        setenv("TARVO_REGISTRY", path_.c_str(), 1);
        ui::setForm(ui::Form::Scripted);
        ui::scripted::reset();
    }
    void TearDown() override {
        unsetenv("TARVO_REGISTRY");
        fs::remove_all(dir_);
    }
    fs::path dir_;
    std::string path_;
};

std::string key(const CLSID& clsid, const std::string& sub = {}) {
    return "HKCR\\CLSID\\" + guidToString(clsid) + (sub.empty() ? "" : "\\" + sub);
}

TEST_F(Server, RegisterCreateCallUnregisterLeavesTheRegistryAsItWas) {
    // Something of another program's is there before and must be there after.
    reg::editRegistry([](reg::Key& root) {
        root.create("HKCR\\Other.Thing").setDefault("kept");
        root.create("HKCR\\CLSID\\{00000000-1111-2222-3333-444444444444}\\InprocServer32").setDefault("/x.so");
    });
    const reg::Key before = reg::loadRegistry();

    ASSERT_EQ(comreg({kModule}), 0);
    const reg::Key root = reg::loadRegistry();
    const std::string module = fs::canonical(kModule).string();
    struct Class {
        CLSID clsid;
        const char* name;
    };
    for (const Class& c : {Class{CLSID_s572gdbCmd, "s572gdbCmd"}, Class{CLSID_gdb2s57Cmd, "gdb2s57Cmd"}}) {
        SCOPED_TRACE(c.name);
        const std::string progId = std::string("Tarvo.") + c.name;
        const std::string description = std::string(c.name) + " Class";
        ASSERT_NE(root.find(key(c.clsid)), nullptr) << reg::formatRegistry(root);
        EXPECT_EQ(*root.find(key(c.clsid))->defaultValue(), description);
        EXPECT_EQ(*root.find(key(c.clsid, "ProgID"))->defaultValue(), progId + ".1");
        EXPECT_EQ(*root.find(key(c.clsid, "VersionIndependentProgID"))->defaultValue(), progId);
        EXPECT_NE(root.find(key(c.clsid, "Programmable")), nullptr);
        EXPECT_EQ(fs::canonical(*root.find(key(c.clsid, "InprocServer32"))->defaultValue()), module);
        EXPECT_EQ(*root.find(key(c.clsid, "InprocServer32"))->value("ThreadingModel"), "Apartment");
        EXPECT_EQ(*root.find(key(c.clsid, "TypeLib"))->defaultValue(), "{90069FE3-3677-4628-A2EB-3746B3CF07BC}");
        EXPECT_EQ(*root.find("HKCR\\" + progId + ".1")->defaultValue(), description);
        EXPECT_EQ(*root.find("HKCR\\" + progId + ".1\\CLSID")->defaultValue(), guidToString(c.clsid));
        EXPECT_EQ(*root.find("HKCR\\" + progId + "\\CurVer")->defaultValue(), progId + ".1");
        EXPECT_EQ(*root.find("HKCR\\" + progId + "\\CLSID")->defaultValue(), guidToString(c.clsid));
    }
    // Both are converter commands: both are in the command category.
    EXPECT_EQ(classesImplementing(root, CATID_HostCommands),
              (std::vector<CLSID>{CLSID_gdb2s57Cmd, CLSID_s572gdbCmd}));
    EXPECT_EQ(*root.find("HKCR\\TypeLib\\{90069FE3-3677-4628-A2EB-3746B3CF07BC}\\1.0")->defaultValue(),
              "Tarvo 1.0 Type Library");
    EXPECT_EQ(*root.find("HKCR\\Interface\\" + guidToString(Is572gdbCmd::iid))->defaultValue(), "Is572gdbCmd");
    EXPECT_EQ(*root.find("HKCR\\Interface\\" + guidToString(Igdb2s57Cmd::iid))->defaultValue(), "Igdb2s57Cmd");

    std::string dump;
    ASSERT_EQ(comreg({"--dump"}, -1, &dump), 0);
    EXPECT_EQ(dump, reg::formatRegistry(root));

    // Created through the registry by CLSID and by either ProgID; each answers ICommand.
    for (const char* progId : {"Tarvo.s572gdbCmd", "Tarvo.s572gdbCmd.1", "{E9AC688E-46B0-4769-B0C8-F365F88402BF}"}) {
        Is572gdbCmdPtr cmd;
        EXPECT_EQ(cmd.CreateInstance(progId), S_OK) << progId;
        EXPECT_TRUE(ICommandPtr(cmd)) << progId;
    }
    for (const char* progId : {"Tarvo.gdb2s57Cmd", "Tarvo.gdb2s57Cmd.1", "{0C555C90-771A-4BE8-8714-13448F26D48D}"}) {
        Igdb2s57CmdPtr cmd;
        EXPECT_EQ(cmd.CreateInstance(progId), S_OK) << progId;
        EXPECT_TRUE(ICommandPtr(cmd)) << progId;
    }

    // Automation by name: the import runs, fails on the missing file, and the method still says S_OK.
    IDispatchPtr automation("Tarvo.s572gdbCmd");
    const std::string missing = (dir_ / "missing.000").string();
    EXPECT_EQ(invokeByName(automation, L"S572GDB",
                           {_variant_t(missing.c_str()), _variant_t((dir_ / "x.gpkg").c_str()), _variant_t("S57")}),
              S_OK);
    EXPECT_NE(ui::scripted::transcript().find("Unable to load file"), std::string::npos)
        << ui::scripted::transcript();
    EXPECT_EQ(invokeByName(automation, L"s572gdb", {_variant_t(missing.c_str())}), DISP_E_BADPARAMCOUNT);
    automation = nullptr;

    ASSERT_EQ(comreg({"-u", kModule}), 0);
    // Only the keys the scripts never remove stay: HKCR\CLSID, which was there already.
    EXPECT_EQ(reg::loadRegistry(), before) << reg::formatRegistry(reg::loadRegistry());
    IUnknownPtr gone;
    EXPECT_EQ(gone.CreateInstance("Tarvo.s572gdbCmd"), CO_E_CLASSSTRING);
    EXPECT_EQ(gone.CreateInstance(CLSID_s572gdbCmd), REGDB_E_CLASSNOTREG);
}

TEST_F(Server, UnregistrationOfAnEmptyRegistryLeavesOnlyTheKeptKeys) {
    ASSERT_EQ(comreg({kModule}), 0);
    ASSERT_EQ(comreg({"-u", kModule}), 0);
    reg::Key expected;
    expected.create("HKEY_CLASSES_ROOT\\CLSID");
    EXPECT_EQ(reg::loadRegistry(), expected) << reg::formatRegistry(reg::loadRegistry());
}

TEST_F(Server, LockCountFollowsObjectsClassObjectsAndServerLocks) {
    ASSERT_EQ(DllCanUnloadNow(), S_OK);
    {
        _com_ptr_t<IClassFactory> factory;
        ASSERT_EQ(DllGetClassObject(CLSID_gdb2s57Cmd, IClassFactory::iid, reinterpret_cast<void**>(&factory)), S_OK);
        EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
        ICommandPtr cmd;
        ASSERT_EQ(factory->CreateInstance(nullptr, ICommand::iid, reinterpret_cast<void**>(&cmd)), S_OK);
        EXPECT_EQ(factory->LockServer(TRUE), S_OK);
        factory = nullptr;
        EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // the object and the server lock
        cmd = nullptr;
        EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // the server lock
        EXPECT_EQ(DllGetClassObject(CLSID_gdb2s57Cmd, IClassFactory::iid, reinterpret_cast<void**>(&factory)), S_OK);
        EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    }
    EXPECT_EQ(DllCanUnloadNow(), S_OK);

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(DllGetClassObject(makeGuid("{7D1C7A10-0000-4000-8000-0000000000F1}"), IClassFactory::iid, &out),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(DllGetClassObject(CLSID_s572gdbCmd, IClassFactory::iid, nullptr), E_POINTER);
}

TEST_F(Server, ModuleThatNoLongerExistsGivesAClearError) {
    const std::string copy = (dir_ / "libtarvo_moved.so").string();
    fs::copy_file(kModule, copy);
    ASSERT_EQ(comreg({copy}), 0);
    fs::remove(copy);
    IUnknownPtr p;
    EXPECT_EQ(p.CreateInstance("Tarvo.gdb2s57Cmd"), HRESULT_MOD_NOT_FOUND);
    EXPECT_EQ(toUtf8(takeErrorDescription()), "The module " + copy + " registered for class " +
                                                   guidToString(CLSID_gdb2s57Cmd) + " does not exist");
    EXPECT_EQ(comreg({copy}), 1);  // nothing to register either
}

TEST_F(Server, ComregFailsCleanlyAndLeavesTheRegistryAlone) {
    const std::string notModule = (dir_ / "notes.so").string();
    { std::ofstream(notModule) << "plain text\n"; }
    const std::string noEntry = std::string(TARVO_BINARY_DIR) + "/lib/libplatform.so";
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{notModule}, 1}, {{noEntry}, 1}, {{"-u", (dir_ / "none.so").string()}, 1},
        {{}, 2},          {{"-x", kModule}, 2}, {{kModule, kModule}, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(comreg(c.args), c.status) << (c.args.empty() ? "" : c.args.back());
        EXPECT_FALSE(fs::exists(path_));
    }
    // A registry that cannot be read is never written over.
    { std::ofstream(path_) << "[HKCR]\nnot a value\n"; }
    EXPECT_EQ(comreg({kModule}), 1);
    EXPECT_EQ(comreg({"--dump"}), 1);
    std::ifstream in(path_);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
              "[HKCR]\nnot a value\n");
}

TEST_F(Server, DumpThatCannotBeWrittenFails) {
    ASSERT_EQ(comreg({kModule}), 0);
    const int st = std::system((kComreg + " --dump >/dev/full 2>/dev/null").c_str());
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 1);
}

TEST_F(Server, KilledComregLeavesTheRegistryBeforeOrAfterNeverBetween) {
    // A registry large enough that writing it takes a while, so that kills land during the write.
    reg::editRegistry([](reg::Key& root) {
        for (int i = 0; i < 40000; ++i)
            root.create("HKCR\\Filler\\Key" + std::to_string(i)).setValue("Value", std::string(40, 'v'));
    });
    ASSERT_EQ(comreg({kModule}), 0);
    const std::string afterText = reg::formatRegistry(reg::loadRegistry());
    ASSERT_EQ(comreg({"-u", kModule}), 0);

    int killedMidway = 0;
    for (long delay = 0; delay <= 400000; delay = delay < 1000 ? delay + 250 : delay * 3 / 2) {
        const std::string state = reg::formatRegistry(reg::loadRegistry());
        const bool registering = state.find("Tarvo.s572gdbCmd") == std::string::npos;
        const int status = registering ? comreg({kModule}, delay) : comreg({"-u", kModule}, delay);
        if (status == -SIGKILL) ++killedMidway;
        std::string text;
        ASSERT_NO_THROW(text = reg::formatRegistry(reg::loadRegistry())) << "after a kill at " << delay << " us";
        // Whole: the state before the run, or the state the run makes.
        const bool whole = text == state || (registering ? text == afterText
                                                          : text.find("Tarvo.") == std::string::npos);
        EXPECT_TRUE(whole) << "after a kill at " << delay << " us";
    }
    EXPECT_GT(killedMidway, 0);
    // The next whole run clears what killed runs left beside the registry.
    ASSERT_EQ(comreg({"-u", kModule}), 0);
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir_)) left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"registry", "registry.lock"}));
}

}  // namespace
