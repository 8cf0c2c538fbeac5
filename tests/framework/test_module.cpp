// The real plug-in module, loaded with dlopen by the stand-in host: its exports, its
// connection checks, the framework commands, its teardown and its unloading.
#include "QvClinicalPayIntf.h"
#include "QvHostSim.h"
#include "QvPluginModule.h"

#include <QApplication>
#include <QDialog>

#include <dlfcn.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

namespace {

const std::string ModulePath = QVTEST_PLUGIN_MODULE;

// The current reference count of an interface.
uint32_t Refs(IInterface* AIntf) {
    AIntf->AddRef();
    return AIntf->Release();
}

// Whether the module file is mapped into the process.
bool ModuleMapped() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find("Plugin.QVClinicalPaymentCmd.so") != std::string::npos) return true;
    return false;
}

bool ModuleLoaded() {
    void* handle = dlopen(ModulePath.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return false;
    dlclose(handle);
    return true;
}

std::string Text(BSTR AText) {
    return BstrToUtf8(AText);
}

// One host with the module loaded into it.
class ModuleTest : public ::testing::Test {
protected:
    // The host hands out a connection string to an empty stand-in database (opened only
    // when a statement runs), so the package's connection set-up has what it needs.
    static TQvHostConfig HostConfig() {
        TQvHostConfig config;
        config.ConnectionMode = 0;
        config.ConnectionString = "Provider=QvHospitalLite;Data Source=:memory:";
        return config;
    }
    void Load(TQvHostConfig AConfig = HostConfig()) {
        Host = std::make_unique<TQvHost>(std::move(AConfig));
        AppRefs = Refs(Host->Application().get());
        LibraryRefs = Refs(Host->Library().get());
        Module = std::make_unique<TPluginModule>(ModulePath);
    }
    ComPtr<IQVExtention> Create(bool AWithApplication = true) {
        ComPtr<IQVExtention> ext;
        Module->CreateInstance()(ext.out(), AWithApplication ? Host->Application().get() : nullptr);
        return ext;
    }
    // Releases the package, then the facade, then unloads; the host is as before.
    void Unload(ComPtr<IQVExtention>& AExt) {
        AExt = nullptr;
        EXPECT_EQ(Module->ReleaseInstance()(), 0);
        Module.reset();
        ExpectHostAsBefore();
    }
    void ExpectHostAsBefore() {
        EXPECT_EQ(Refs(Host->Application().get()), AppRefs);
        EXPECT_EQ(Refs(Host->Library().get()), LibraryRefs);
    }

    static int32_t Run(IQVExtention* AExt, int32_t ACommand, int32_t AParam, std::string& AData) {
        BSTR data = Utf8ToBstr(AData);
        int32_t result = -99;
        EXPECT_EQ(AExt->Execute(ACommand, AParam, &data, &result), S_OK);
        AData = Text(data);
        SysFreeString(data);
        return result;
    }
    static std::string Message(IQVExtention* AExt) {
        BSTR text = nullptr;
        EXPECT_EQ(AExt->GetMessage(&text), S_OK);
        std::string s = Text(text);
        SysFreeString(text);
        return s;
    }
    static bool Initialized(IQVExtention* AExt) {
        WordBool value = 1;
        EXPECT_EQ(AExt->GetInitialized(&value), S_OK);
        EXPECT_TRUE(value == 0 || value == -1);
        return value == -1;
    }
    size_t LogCount(const std::string& ASource, const std::string& ATitle) const {
        return std::count_if(Host->State().Log.begin(), Host->State().Log.end(), [&](const THostLogEntry& e) {
            return e.Source == ASource && e.Title == ATitle;
        });
    }

    std::unique_ptr<TQvHost> Host;
    std::unique_ptr<TPluginModule> Module;
    uint32_t AppRefs = 0, LibraryRefs = 0;
};

// --- The binary boundary

TEST(ModuleFile, ExportsExactlyTheTwoEntryPoints) {
    FILE* pipe = popen(("nm -D --defined-only '" + ModulePath + "' 2>&1").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buf[512];
    while (fgets(buf, sizeof buf, pipe))
        output += buf;
    ASSERT_EQ(pclose(pipe), 0) << output;
    std::set<std::string> names;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name) names.insert(name);
    }
    EXPECT_EQ(names, (std::set<std::string>{"CreateInstance", "ReleaseInstance"})) << output;
}

TEST(ModuleFile, HasNoPrefixAndSitsInTheModuleFolder) {
    EXPECT_EQ(ModulePath.substr(ModulePath.rfind('/') + 1), "Plugin.QVClinicalPaymentCmd.so");
}

// --- Connecting

TEST_F(ModuleTest, ConnectsToAProperHost) {
    Load();
    ComPtr<IQVExtention> ext = Create();
    ASSERT_TRUE(ext);
    EXPECT_TRUE(Initialized(ext.get())) << Message(ext.get());
    double version = 0;
    EXPECT_EQ(ext->GetVersion(&version), S_OK);
    EXPECT_DOUBLE_EQ(version, 2.8);
    BSTR name = nullptr;
    EXPECT_EQ(ext->GetName(&name), S_OK);
    EXPECT_EQ(Text(name), "Plugin.QVClinicalPayCmd");
    SysFreeString(name);
    QvHandle handle = 0;
    EXPECT_EQ(ext->GetModuleHandle(&handle), S_OK);
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(Module->CreateInstance()), &info), 0);
    EXPECT_EQ(handle, reinterpret_cast<QvHandle>(info.dli_fbase));
    Unload(ext);
}

// Every way the host can fail or answer nothing while the package is made: the package
// still comes back, not initialised, with the message; nothing is kept of the host.
TEST_F(ModuleTest, HostThatFailsDuringCreationLeavesAnUninitialisedPackage) {
    struct Case {
        const char* Name;
        std::function<void(TQvHostConfig&)> Setup;
        bool WithApplication;
        std::string Message;
    };
    const std::string tooOld = "验证 Quorvia 应用程序版本过低，请升级 Quorvia.exe 到 8.0.1.33 及以上版本。";
    const Case cases[] = {
        {"no application interface", [](TQvHostConfig&) {}, false, "设置主应用程序接口失败."},
        {"another application", [](TQvHostConfig& c) { c.Name = "OtherHIS"; }, true,
         "该文件不是当前应用程序的子系统."},
        {"empty application name", [](TQvHostConfig& c) { c.Name = ""; }, true,
         "该文件不是当前应用程序的子系统."},
        {"name fails", [](TQvHostConfig& c) { c.Failures["GetName"] = "名称不可用"; }, true, "名称不可用"},
        {"version 1.58", [](TQvHostConfig& c) { c.Version = 1.58; }, true, tooOld},
        {"version 0", [](TQvHostConfig& c) { c.Version = 0; }, true, tooOld},
        {"version fails", [](TQvHostConfig& c) { c.Failures["GetVersion"] = "版本不可用"; }, true,
         "版本不可用"},
        {"library fails", [](TQvHostConfig& c) { c.Failures["GetLibrary"] = "库不可用"; }, true, "库不可用"},
        {"no library", [](TQvHostConfig& c) { c.LibraryNil = true; }, true, "加载核心接口失败。"},
        {"configuration fails", [](TQvHostConfig& c) { c.Failures["GetConfigInfo"] = "配置不可用"; }, true,
         "配置不可用"},
        {"system record fails", [](TQvHostConfig& c) { c.Failures["GetSystemInfo"] = "系统信息不可用"; },
         true, "系统信息不可用"},
        {"font record fails", [](TQvHostConfig& c) { c.Failures["GetFontInfo"] = "字体不可用"; }, true,
         "字体不可用"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TQvHostConfig config = HostConfig();
        c.Setup(config);
        Load(config);
        ComPtr<IQVExtention> ext = Create(c.WithApplication);
        ASSERT_TRUE(ext);
        EXPECT_FALSE(Initialized(ext.get()));
        EXPECT_EQ(Message(ext.get()), c.Message);
        // A package that is not initialised logs no termination when it goes.
        ext = nullptr;
        EXPECT_EQ(LogCount("Dll 接口", "Terminated"), 0u);
        EXPECT_EQ(Module->ReleaseInstance()(), 0);
        Module.reset();
        ExpectHostAsBefore();
        EXPECT_FALSE(ModuleLoaded());
    }
}

TEST_F(ModuleTest, PackageWithoutApplicationRefusesCommands) {
    Load();
    ComPtr<IQVExtention> ext = Create(false);
    std::string data;
    EXPECT_EQ(Run(ext.get(), -10, 0, data), 3);
    EXPECT_EQ(Message(ext.get()), "加载核心接口失败。");
    Unload(ext);
}

// --- Framework commands

TEST_F(ModuleTest, FrameworkCommandsOnTheClinicPackage) {
    struct Case {
        int32_t Command, Param;
        const char* DataIn;
        int32_t Result;
        const char* DataOut;
        const char* Message; // nullptr: unchanged
    };
    const Case cases[] = {
        {-1, 0, "x", 0, "", nullptr},  // no registrations: empty list
        {-3, 0, "x", 0, "", nullptr},  // no open windows
        {-5, 0, "x", 1, "x", nullptr}, // the clinic package has the feature
        {-6, 0, "x", 2, "x", nullptr},
        {-4, 0, "x", 2, "x", nullptr},
        {-9, 0, "x", 2, "x", nullptr},
        {-12, 0, "x", 2, "x", nullptr},
        {INT_MIN, INT_MAX, "x", 2, "x", nullptr},
        {-10, 0, "x", 1, "0", nullptr},
        {-11, 0, "x", 1, "x", nullptr},
        {-8, 0, "x", 1, "x", nullptr},
        {-7, 0, "x", 1, "x", nullptr}, // no modal window
        {-2, 0, "x", 1, "x", nullptr},
        {-2, INT_MIN, "x", 1, "x", nullptr},
        {0, 0, "x", 0, "x", nullptr},
        {5, 0, "x", 3, "x", "命令(5)不存在或没有注册窗口"},
        {INT_MAX, -1, "x", 3, "x", "命令(2147483647)不存在或没有注册窗口"},
    };
    Load();
    ComPtr<IQVExtention> ext = Create();
    ASSERT_TRUE(Initialized(ext.get()));
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "command " << c.Command << " param " << c.Param);
        const std::string before = Message(ext.get());
        std::string data = c.DataIn;
        EXPECT_EQ(Run(ext.get(), c.Command, c.Param, data), c.Result);
        EXPECT_EQ(data, c.DataOut);
        EXPECT_EQ(Message(ext.get()), c.Message ? c.Message : before);
    }
    Unload(ext);
}

TEST_F(ModuleTest, ReleasingCachesWaitsForModalWindows) {
    Load();
    ComPtr<IQVExtention> ext = Create();
    std::string data;
    int32_t insideModal = 0;
    QDialog dialog;
    QMetaObject::invokeMethod(
        qApp,
        [&] {
            insideModal = Run(ext.get(), -7, 0, data);
            dialog.reject();
        },
        Qt::QueuedConnection);
    dialog.exec();
    EXPECT_EQ(insideModal, 3);
    EXPECT_EQ(Run(ext.get(), -7, 0, data), 1);
    Unload(ext);
}

TEST_F(ModuleTest, AbsurdArgumentsAreRefusedWithoutHarm) {
    Load();
    ComPtr<IQVExtention> ext = Create();
    BSTR data = Utf8ToBstr("abc");
    int32_t result = 0;
    EXPECT_EQ(ext->Execute(-10, 0, nullptr, &result), E_POINTER);
    EXPECT_EQ(ext->Execute(-10, 0, &data, nullptr), E_POINTER);
    EXPECT_EQ(Text(data), "abc");
    SysFreeString(data);
    EXPECT_EQ(ext->GetVersion(nullptr), E_POINTER);
    EXPECT_EQ(ext->GetName(nullptr), E_POINTER);
    EXPECT_EQ(ext->GetMessage(nullptr), E_POINTER);
    EXPECT_EQ(ext->GetModuleHandle(nullptr), E_POINTER);
    EXPECT_EQ(ext->GetInitialized(nullptr), E_POINTER);
    EXPECT_EQ(ext->CreateObject(nullptr, 0, WideString("IQVClinicalPayment").c_bstr(), &result), E_POINTER);

    // A huge text is answered like any other.
    std::string big(1 << 20, 'A');
    EXPECT_EQ(Run(ext.get(), -10, 0, big), 1);
    EXPECT_EQ(big, "0");

    // An unknown, empty or missing name gives nothing and leaves the out-parameter alone.
    for (BSTR name : {WideString("IQVClinicalPaymentX").Detach(), static_cast<BSTR>(nullptr)}) {
        IInterface* object = nullptr;
        result = -1;
        EXPECT_EQ(ext->CreateObject(&object, -1, name, &result), S_OK);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(object, nullptr);
        SysFreeString(name);
    }
    Unload(ext);
}

// --- The command object

TEST_F(ModuleTest, CommandObjectIsTheSameForEveryRequest) {
    Load();
    ComPtr<IQVExtention> ext = Create();
    ComPtr<IInterface> first, second;
    int32_t result = 0;
    EXPECT_EQ(ext->CreateObject(first.out(), 0, WideString("iqvclinicalpayment").c_bstr(), &result), S_OK);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ext->CreateObject(second.out(), 0, WideString("iqvclinicalpayment").c_bstr(), &result), S_OK);
    EXPECT_EQ(result, 1);
    ASSERT_TRUE(first);
    EXPECT_EQ(first, second);
    ComPtr<IQVClinicalPayment> command = first.As<IQVClinicalPayment>();
    ASSERT_TRUE(command);
    EXPECT_TRUE(command->IsEnabled());
    EXPECT_EQ(command->Check(0, 0), 1);
    // The host lets go of the command before it releases the package.
    command = nullptr;
    first = nullptr;
    second = nullptr;
    Unload(ext);
}

// --- Disconnecting and unloading

TEST_F(ModuleTest, ReleasingThePackageDisconnectsBeforeReleaseInstance) {
    Load();
    ComPtr<IQVExtention> ext = Create();
    ext = nullptr;
    EXPECT_EQ(LogCount("Dll 接口", "Terminated"), 1u);
    EXPECT_EQ(LogCount("CaseCore核心接口", "释放接口"), 1u);
    EXPECT_EQ(LogCount("QvApplication", "Terminated"), 1u);
    for (const THostLogEntry& e : Host->State().Log)
        if (e.Title == "释放接口") {
            EXPECT_EQ(e.Detail, "未释放的窗口：");
        }
    // The library is let go now; the application interface stays until ReleaseInstance.
    EXPECT_EQ(Refs(Host->Library().get()), LibraryRefs);
    EXPECT_GT(Refs(Host->Application().get()), AppRefs);
    EXPECT_EQ(Module->ReleaseInstance()(), 0);
    EXPECT_EQ(Module->ReleaseInstance()(), 0); // a second call does nothing
    EXPECT_EQ(Refs(Host->Application().get()), AppRefs);
    Module.reset();
    EXPECT_FALSE(ModuleLoaded());
}

TEST_F(ModuleTest, UnloadingWithoutReleaseInstanceStillFreesTheFacade) {
    Load();
    ComPtr<IQVExtention> ext = Create();
    ext = nullptr;
    Module.reset();
    ExpectHostAsBefore();
    EXPECT_FALSE(ModuleLoaded());
    EXPECT_FALSE(ModuleMapped());
}

TEST_F(ModuleTest, ReleaseInstanceBeforeThePackageDoesNotBreakIt) {
    Load();
    ComPtr<IQVExtention> ext = Create();
    EXPECT_EQ(Module->ReleaseInstance()(), 0);
    std::string data;
    EXPECT_EQ(Run(ext.get(), -1, 0, data), 3);
    EXPECT_EQ(Message(ext.get()), "加载核心接口失败。");
    const size_t logged = Host->State().Log.size();
    ext = nullptr; // the teardown skips every step that needs the facade
    EXPECT_EQ(Host->State().Log.size(), logged);
    Module.reset();
    ExpectHostAsBefore();
}

TEST_F(ModuleTest, ConnectingAgainAfterReleaseInstanceWorksAsTheFirstTime) {
    Load();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ComPtr<IQVExtention> ext = Create();
        ASSERT_TRUE(ext);
        EXPECT_TRUE(Initialized(ext.get())) << Message(ext.get());
        std::string data;
        EXPECT_EQ(Run(ext.get(), -10, 0, data), 1);
        ext = nullptr;
        EXPECT_EQ(Module->ReleaseInstance()(), 0);
        ExpectHostAsBefore();
    }
    Module.reset();
}

// Running the command (its text goes through the ANSI conversion) must not pin the module.
TEST_F(ModuleTest, UnloadsAfterItsCommandHasRun) {
    Load();
    ComPtr<IQVExtention> ext = Create();
    ComPtr<IInterface> object;
    int32_t result = 0;
    ASSERT_EQ(ext->CreateObject(object.out(), 0, WideString("IQVClinicalPayment").c_bstr(), &result), S_OK);
    ComPtr<IQVClinicalPayment> command = object.As<IQVClinicalPayment>();
    ASSERT_TRUE(command);
    BSTR data = Utf8ToBstr("ACF01=2\r\nsVAI01=门诊");
    EXPECT_EQ(command->Execute(10000029, &data), 0); // not for this service object: nothing to do
    EXPECT_EQ(Text(data), "ACF01=2\r\nsVAI01=门诊");
    SysFreeString(data);
    command = nullptr;
    object = nullptr;
    Unload(ext);
    EXPECT_FALSE(ModuleLoaded());
    EXPECT_FALSE(ModuleMapped());
}

TEST_F(ModuleTest, LoadsAndUnloadsManyTimesLeavingNothingBehind) {
    Host = std::make_unique<TQvHost>(HostConfig());
    AppRefs = Refs(Host->Application().get());
    LibraryRefs = Refs(Host->Library().get());
    const int comBefore = CoInitializeCount();
    for (int round = 0; round < 25; ++round) {
        SCOPED_TRACE(round);
        Module = std::make_unique<TPluginModule>(ModulePath);
        EXPECT_EQ(CoInitializeCount(), comBefore + 1);
        ComPtr<IQVExtention> ext = Create();
        ASSERT_TRUE(Initialized(ext.get())) << Message(ext.get());
        ComPtr<IInterface> command;
        int32_t result = 0;
        EXPECT_EQ(ext->CreateObject(command.out(), 0, WideString("IQVClinicalPayment").c_bstr(), &result),
                  S_OK);
        std::string data;
        EXPECT_EQ(Run(ext.get(), -1, 0, data), 0);
        command = nullptr;
        Unload(ext);
        EXPECT_FALSE(ModuleLoaded());
        EXPECT_FALSE(ModuleMapped());
        EXPECT_EQ(CoInitializeCount(), comBefore);
    }
}

} // namespace
