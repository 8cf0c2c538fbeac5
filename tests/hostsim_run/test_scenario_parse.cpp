// Scenario files: what a well-formed file sets up, and the place named for each fault;
// the exit codes of `qvhost run` and `qvhost demo`.
#include "QvScenario.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

TEST(ScenarioFile, SetsUpTheHostAsWritten) {
    const TScenario s = ParseScenario(R"({
      "name": "n",
      "host": {"name": "H", "version": 1.58, "library_version": 2.0, "connection_mode": 0,
               "user": {"id": 7, "code": "0007", "name": "李医生"},
               "values": {".TimeOut": "60"}, "vars": {"v": "1"},
               "sys_params": [{"system": 100, "param": 97, "value": "1"}],
               "sql": {"86": "SELECT 1"}, "scripts": [{"id": 9, "code": "C.01", "text": "select 9"}],
               "message_box_answers": [6, 7]},
      "database": {"seed": null, "clock": "2024-03-05 09:30:00", "sql": ["DELETE FROM VAK1"], "watch": ["VAK1"]},
      "components": {"Qv.Print": {"fail": "缺纸"}, "QV.System": null,
                     "POS": {"interface": true, "replies": [{"command": 1, "reply": "OK"}]}},
      "user": [{"do": "press", "target": "Yes"}, {"do": "choose", "target": "cmb", "index": 2}],
      "calls": [{"execute": 10000028, "text": "ACF01=1"}, {"command": 5, "param": 1, "text": "x"}],
      "expect": {"/calls/0/result": 1}
    })");
    EXPECT_EQ(s.Host.Name, "H");
    EXPECT_DOUBLE_EQ(s.Host.Version, 1.58);
    EXPECT_EQ(s.Host.ConnectionMode, 0);
    EXPECT_EQ(s.Host.UserName, "李医生");
    EXPECT_EQ(s.Host.Values.at(".timeout"), "60") << "host keys ignore case";
    EXPECT_EQ(s.Host.SysParams.at({100, 97, 0, 0}), "1");
    EXPECT_EQ(s.Host.SqlTexts.at(86), "SELECT 1");
    ASSERT_EQ(s.Host.Scripts.size(), 1u);
    EXPECT_EQ(s.Host.Scripts[0].Code, "C.01");
    EXPECT_EQ(s.MessageBoxAnswers, (std::vector<int32_t>{6, 7}));
    ASSERT_TRUE(s.Database);
    EXPECT_FALSE(s.Database->Seed) << "null: no seed";
    EXPECT_EQ(s.Database->Watch, std::vector<std::string>{"VAK1"});
    ASSERT_TRUE(s.Print);
    EXPECT_EQ(s.Print->FailText, "缺纸");
    EXPECT_FALSE(s.System) << "null takes the component away";
    ASSERT_EQ(s.Components.size(), 1u);
    EXPECT_TRUE(s.Components[0].Interface);
    ASSERT_EQ(s.User.size(), 2u);
    EXPECT_EQ(s.User[1].Describe(), "choose cmb=#2");
    ASSERT_EQ(s.Calls.size(), 2u);
    EXPECT_EQ(s.Calls[0].Kind, TScenarioCall::TKind::Execute);
    EXPECT_EQ(s.Calls[1].Kind, TScenarioCall::TKind::Command);
    EXPECT_EQ(s.Calls[1].Param, 1);
}

TEST(ScenarioFile, AHostWithoutComponentsSectionHasPrintAndSystem) {
    const TScenario s = ParseScenario(R"({"calls": []})");
    EXPECT_TRUE(s.Print);
    EXPECT_TRUE(s.System);
    EXPECT_FALSE(s.Database);
}

TEST(ScenarioFile, NamesThePlaceOfEachFault) {
    struct TCase {
        const char* Text;
        const char* Message; // part of the message
    };
    const TCase cases[] = {
        {R"({"calls": [)", "场景文件不是有效的JSON"},
        {R"([])", "场景文件 /：应为对象"},
        {R"({})", "场景文件 /calls：缺少调用列表"},
        {R"({"calls": {}})", "场景文件 /calls：应为数组"},
        {R"({"calls": [], "hots": {}})", "场景文件 /hots：未知的键"},
        {R"({"calls": [{"execute": "1"}]})", "场景文件 /calls/0/execute：应为整数"},
        {R"({"calls": [{"execute": 99999999999}]})", "场景文件 /calls/0/execute：整数超出范围"},
        {R"({"calls": [{"text": "x"}]})", "场景文件 /calls/0：一个调用需要"},
        {R"({"calls": [{"execute": 1, "command": 2}]})", "场景文件 /calls/0：一个调用需要"},
        {R"({"calls": [{"execute": 1, "param": 2}]})", "场景文件 /calls/0/param："},
        {R"({"calls": [], "host": {"version": "1.59"}})", "场景文件 /host/version：应为数值"},
        {R"({"calls": [], "host": {"sql": {"abc": "x"}}})", "场景文件 /host/sql/abc：SQL编号应为非负整数"},
        {R"({"calls": [], "host": {"sys_params": [{"value": "1"}]}})", "场景文件 /host/sys_params/0/param："},
        {R"({"calls": [], "user": [{"do": "jump"}]})", "场景文件 /user/0/do：未知的动作“jump”"},
        {R"({"calls": [], "user": [{"do": "press"}]})", "场景文件 /user/0/target："},
        {R"({"calls": [{"execute": 1, "user": [{"target": "x"}]}]})", "场景文件 /calls/0/user/0/do："},
        {R"({"calls": [], "database": {"watch": ["VAK1; DROP TABLE VAK1"]}})",
         "场景文件 /database/watch/0："},
        {R"({"calls": [], "database": {"slave": 1}})", "场景文件 /database/slave：应为 true 或 false"},
        {R"({"calls": [], "components": {"POS": {"replies": [{"result": "1"}]}}})",
         "场景文件 /components/POS/replies/0/result：应为整数"},
        {R"({"calls": [], "components": {"a/b": {"x": 1}}})", "场景文件 /components/a~1b/x：未知的键"},
        {R"({"calls": [], "expect": {"calls": 1}})", "场景文件 /expect/calls：不是有效的JSON指针"},
        {R"({"calls": [], "expect": {"/x": {"$sized": 1}}})", "场景文件 /expect/~1x/$sized：未知的检查"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Text);
        try {
            ParseScenario(c.Text);
            ADD_FAILURE() << "accepted";
        } catch (const Exception& e) {
            EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << e.what();
        }
    }
}

// Runs the program; answers its exit code and leaves its output in AOutput.
// Runs qvhost and reads what it prints straight from a pipe, so tests that run at the same
// time never share an output file.
int RunQvhost(const std::string& AArgs, std::string& AOutput) {
    fs::create_directories(QV_RUN_DIR);
    const std::string cmd = std::string("\"") + QV_QVHOST + "\" " + AArgs + " 2>&1";
    AOutput.clear();
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
        AOutput.append(buf, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

fs::path WriteScenario(const std::string& AName, const std::string& AText) {
    const fs::path file = fs::path(QV_RUN_DIR) / AName;
    fs::create_directories(file.parent_path());
    std::ofstream(file) << AText;
    return file;
}

TEST(QvhostRun, ExitCodesSayWhatWentWrong) {
    struct TCase {
        const char* Name;
        std::string Args;
        int Code;
        const char* Output; // part of what it prints
    };
    const std::string dir = QV_RUN_DIR;
    const fs::path bad = WriteScenario("bad.json", R"({"calls": [{"execute": "x"}]})");
    const fs::path noModule = WriteScenario("no-module.json", R"({"module": "missing.so", "calls": []})");
    const fs::path unmet =
        WriteScenario("unmet.json", R"({"calls": [{"command": -10}], "expect": {"/calls/0/result": 99}})");
    const TCase cases[] = {
        {"no scenario", "run", 1, "用法"},
        {"unknown option", "run " + bad.string() + " --outt x", 1, "用法"},
        {"missing file", "run " + dir + "/none.json", 2, "无法读取场景文件"},
        {"malformed file", "run " + bad.string(), 2, "/calls/0/execute：应为整数"},
        {"module missing", "run " + noModule.string() + " --out " + dir + "/no-module.out.json", 3,
         "missing.so"},
        {"expectation unmet", "run " + unmet.string() + " --out " + dir + "/unmet.out.json", 4,
         "期望未满足：/calls/0/result"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::string output;
        EXPECT_EQ(RunQvhost(c.Args, output), c.Code) << output;
        EXPECT_NE(output.find(c.Output), std::string::npos) << output;
    }
}

TEST(QvhostDemo, RunsToTheEndAndLeavesTranscripts) {
    const fs::path out = fs::path(QV_RUN_DIR) / "demo";
    fs::remove_all(out);
    std::string output;
    ASSERT_EQ(RunQvhost("demo --out " + out.string(), output), 0) << output;
    EXPECT_NE(output.find("==== 01-framework ===="), std::string::npos) << output;
    EXPECT_EQ(output.find("无法运行"), std::string::npos) << output;
    EXPECT_TRUE(fs::exists(out / "01-framework.json"));
    EXPECT_TRUE(fs::exists(out / "03-window-closed.json"));
}

} // namespace
