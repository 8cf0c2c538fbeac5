// Loading a plug-in module through its contract: TPluginModule, RunLoad and qvhost itself.
#include "QvHostLoad.h"
#include "QvPluginModule.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool StillLoaded(const std::string& AFile) {
    void* handle = dlopen(AFile.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

// Runs a command line, answering its exit code and standard output.
std::pair<int, std::string> RunCommandLine(const std::string& ACommand) {
    std::string output;
    FILE* pipe = popen((ACommand + " 2>&1").c_str(), "r");
    if (!pipe) return {-1, {}};
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
        output.append(buf, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

const fs::path& TextFile() {
    static const fs::path file = [] {
        auto path = fs::temp_directory_path() / ("qvhost_" + std::to_string(::getpid()) + "_notmodule.so");
        std::ofstream(path) << "this is text\n";
        return path;
    }();
    return file;
}

} // namespace

TEST(HostLoad, ModuleFailuresHaveClearMessages) {
    struct Case {
        const char* Name;
        std::string File;
        const char* Message;
    };
    const Case cases[] = {
        {"missing file", "/nonexistent/Plugin.QVClinicalPaymentCmd.so", "模块文件不存在：/nonexistent/"},
        {"not a module", TextFile().string(), "无法加载模块"},
        {"a folder", fs::temp_directory_path().string(), "不是模块文件"},
        {"missing export", QVTEST_PLUGIN_CREATE_ONLY, "缺少导出函数：ReleaseInstance"},
        {"no file name", "", "模块文件不存在"},
    };
    for (const Case& c : cases) {
        const std::string message = RaisedMessage([&] { TPluginModule module(c.File); });
        EXPECT_NE(message.find(c.Message), std::string::npos) << c.Name << ": " << message;
    }
    // The module lacking an export is not left loaded.
    EXPECT_FALSE(StillLoaded(QVTEST_PLUGIN_CREATE_ONLY));
}

TEST(HostLoad, ModuleIsLoadedWithBothExportsAndUnloaded) {
    {
        TPluginModule module(QVTEST_PLUGIN_FULL);
        EXPECT_TRUE(module.Loaded());
        EXPECT_NE(module.CreateInstance(), nullptr);
        EXPECT_NE(module.ReleaseInstance(), nullptr);
        EXPECT_TRUE(fs::path(module.FileName()).is_absolute());
        EXPECT_TRUE(StillLoaded(QVTEST_PLUGIN_FULL));
    }
    EXPECT_FALSE(StillLoaded(QVTEST_PLUGIN_FULL));
}

TEST(HostLoad, ParseLoadCommandReadsNumberParamAndData) {
    struct Case {
        const char* Text;
        int32_t Command, Param;
        const char* Data;
    };
    const Case cases[] = {
        {"-1", -1, 0, ""},
        {"5:1", 5, 1, ""},
        {"10000028=ACF01=1", 10000028, 0, "ACF01=1"}, // the data may hold "=" itself
        {"-2:9=", -2, 9, ""},
    };
    for (const Case& c : cases) {
        const TLoadCommand cmd = ParseLoadCommand(c.Text);
        EXPECT_EQ(cmd.Command, c.Command) << c.Text;
        EXPECT_EQ(cmd.Param, c.Param) << c.Text;
        EXPECT_EQ(cmd.Data, c.Data) << c.Text;
    }
    for (const char* bad : {"", "x", "5:y", " 5", "$10", "1.5"})
        EXPECT_NE(RaisedMessage([&] { ParseLoadCommand(bad); }), "") << bad;
}

TEST(HostLoad, RunLoadDrivesTheContractAndPrintsTheHostLog) {
    TQvHost host;
    std::ostringstream out;
    const int code = RunLoad(host, QVTEST_PLUGIN_FULL, {{-10, 0, ""}, {5, 1, "abc"}, {99, 0, ""}}, out);
    EXPECT_EQ(code, QvLoadOk);
    const std::string text = out.str();
    const char* expected[] = {
        "CreateInstance：返回扩展接口\n",
        "GetInitialized：True\n",
        "GetVersion：2.8\n",
        "GetName：Test.FakePlugin\n",
        "GetMessage：就绪\n",
        "Execute(-10, 0)：结果 1，AData=0\n",
        "Execute(5, 1)：结果 2，AData=abc|1\n",
        "Execute(99, 0)：失败（0x8000FFFF）：命令99失败\n",
        "CreateObject(IQVClinicalPayment)：结果 1，返回对象\n",
        "已释放扩展接口\n",
        "ReleaseInstance：0\n",
        "已卸载模块\n",
        "主机日志（1 条）：\n  [0] Test.FakePlugin | FakePlugin | CreateInstance | 已连接\n",
    };
    size_t at = 0;
    for (const char* line : expected) {
        const size_t found = text.find(line, at);
        EXPECT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << text;
        if (found != std::string::npos) at = found;
    }
    EXPECT_FALSE(StillLoaded(QVTEST_PLUGIN_FULL));
}

TEST(HostLoad, QvhostExitsWithAClearCodeForEachOutcome) {
    struct Case {
        const char* Name;
        std::string Args;
        int Code;
        const char* Output;
    };
    const Case cases[] = {
        {"loads and runs", std::string("load ") + QVTEST_PLUGIN_FULL + " -10", 0,
         "Execute(-10, 0)：结果 1，AData=0"},
        {"missing file", "load /nonexistent/Plugin.so", 2, "模块文件不存在"},
        {"not a module", "load " + TextFile().string(), 2, "无法加载模块"},
        {"missing export", std::string("load ") + QVTEST_PLUGIN_CREATE_ONLY, 2, "缺少导出函数"},
        {"no module named", "load", 1, "用法"},
        {"bad command", std::string("load ") + QVTEST_PLUGIN_FULL + " x", 1, "命令格式"},
    };
    for (const Case& c : cases) {
        const auto [code, output] =
            RunCommandLine(std::string(QVHOST_EXE) + " --data /nonexistent " + c.Args);
        EXPECT_EQ(code, c.Code) << c.Name << "\n" << output;
        EXPECT_NE(output.find(c.Output), std::string::npos) << c.Name << "\n" << output;
    }
}

TEST(HostLoad, FacadeModuleCreatesQvAppAtLoadAndReleaseInstanceFreesIt) {
    TQvHost host;
    auto references = [&] {
        IQvApplication* app = host.Application().get(); // the temporary's reference is gone again
        const uint32_t n = app->AddRef();
        app->Release();
        return n;
    };
    const uint32_t baseline = references();

    TPluginModule module(QVTEST_PLUGIN_FACADE);
    ComPtr<IQVExtention> ext;
    module.CreateInstance()(ext.out(), host.Application().get());
    const auto& log = host.State().Log;
    ASSERT_EQ(log.size(), 4u);
    // The listener registered by the module's own initialiser hears phase 0.
    EXPECT_EQ(log[0].Title + "=" + log[0].Detail, "Phase=0");
    EXPECT_EQ(log[0].AppName, "Quorvia");
    EXPECT_EQ(log[1].Title + "=" + log[1].Detail, "QvAppAtLoad=yes");
    // The version read at load from the module's own file.
    EXPECT_EQ(log[2].Title + "=" + log[2].Detail, "Version='0008.0000.0001.0033'");
    EXPECT_EQ(log[3].Title + "=" + log[3].Detail, "File=" + module.FileName());
    EXPECT_GT(references(), baseline);

    EXPECT_EQ(module.ReleaseInstance()(), 0);
    EXPECT_EQ(references(), baseline);        // the facade let the host application go
    EXPECT_EQ(module.ReleaseInstance()(), 0); // a second call does nothing
    EXPECT_EQ(log.size(), 4u);                // phase 1 finds QvApp already nil, as FreeAndNil leaves it
}
