// The example scenarios of tests/scenarios, each run through the real plug-in module: the
// scenario's own expectations must hold in its transcript.
#include "QvScenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::vector<std::string> ScenarioNames() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(QV_SCENARIO_DIR))
        if (entry.path().extension() == ".json") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

TScenarioRunOptions Options(const std::string& AName) {
    TScenarioRunOptions o = DefaultRunOptions();
    const fs::path base = fs::path(QV_RUN_DIR) / AName;
    o.WorkFolder = base.string() + ".work";
    o.PrintFolder = base.string() + ".prints";
    o.ShotFolder = base.string() + ".shots";
    return o;
}

class ExampleScenario : public ::testing::TestWithParam<std::string> {};

TEST_P(ExampleScenario, MeetsItsExpectations) {
    const fs::path file = fs::path(QV_SCENARIO_DIR) / (GetParam() + ".json");
    const TScenario scenario = LoadScenario(file);
    const json transcript = RunScenario(scenario, Options(GetParam()));
    std::ofstream(fs::path(QV_RUN_DIR) / (GetParam() + ".transcript.json")) << transcript.dump(2) << "\n";
    for (const json& c : transcript["checks"])
        EXPECT_TRUE(c["ok"].get<bool>()) << c.dump(2);
    EXPECT_FALSE(transcript["checks"].empty()) << "a scenario without expectations checks nothing";
    EXPECT_TRUE(transcript["unloaded"].get<bool>()) << "the module must leave the process";
    for (const json& w : transcript["windows"]) {
        EXPECT_FALSE(w["forced"].get<bool>()) << w.dump(2);
        EXPECT_EQ(w["failures"], json::array())
            << "steps and expectations of the scripted user: " << w.dump(2);
    }
}

// A text far larger than any order message comes back whole with the reply appended.
TEST(ClinicPaymentCommand, HugeTextComesBackWhole) {
    std::string text = "ACF01=1\r\nsVAI01=";
    for (int i = 0; text.size() < 2'000'000; ++i)
        text += std::to_string(i) + ",";
    TScenario scenario = ParseScenario(R"({"calls": [{"execute": 12345}]})");
    scenario.Calls[0].Text = text;
    const json t = RunScenario(scenario, Options("huge-text"));
    EXPECT_EQ(t["calls"][0]["result"], 1);
    EXPECT_EQ(t["calls"][0]["text"], text + "\r\nreMsgID= 0\r\nreMsg= ");
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ExampleScenario, ::testing::ValuesIn(ScenarioNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace_if(
                                 name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
                             return name;
                         });

// The runner's record of everything a module does, with a module that does one of each.
TEST(ScenarioRun, RecordsWindowsLogFilesRequestsAndRowsOfTheModule) {
    TScenario scenario = ParseScenario(R"J({
      "database": {"seed": null, "watch": ["ProbeT"],
                   "sql": ["CREATE TABLE ProbeT (id INTEGER PRIMARY KEY, v TEXT)",
                           "INSERT INTO ProbeT VALUES (1, 'old'), (3, 'kept')"]},
      "host": {"scripts": [{"id": 5001, "code": "QV.Clinical.PaymentSet.01", "text": "select 1"}]},
      "calls": [
        {"execute": 10000028, "text": "ACF01=1", "user": [{"do": "expect-caption", "value": "询问"},
                                                         {"do": "press", "target": "No"}]},
        {"execute": 10000029, "text": "ACF01=1", "user": [{"do": "press", "target": "Yes"}]},
        {"execute": 10000030, "text": "ACF01=1"}
      ]
    })J");
    scenario.Module = QV_PROBE_MODULE;
    // What an earlier run left in the output folders goes; other files stay.
    const TScenarioRunOptions options = Options("probe-run");
    for (const fs::path& f : {options.PrintFolder / "print-009-report-1.txt",
                              options.ShotFolder / "99-Old.png", options.ShotFolder / "keep.png"}) {
        fs::create_directories(f.parent_path());
        std::ofstream(f) << "old";
    }
    const json t = RunScenario(scenario, options);
    EXPECT_FALSE(fs::exists(options.PrintFolder / "print-009-report-1.txt"));
    EXPECT_FALSE(fs::exists(options.ShotFolder / "99-Old.png"));
    EXPECT_TRUE(fs::exists(options.ShotFolder / "keep.png"));

    // Declined: the question only.
    const json& declined = t["calls"][0];
    EXPECT_EQ(declined["result"], 0);
    EXPECT_EQ(declined["text"], "ACF01=1");
    ASSERT_EQ(declined["windows"].size(), 1u);
    const json& box = declined["windows"][0];
    EXPECT_EQ(box["class"], "QMessageBox");
    EXPECT_EQ(box["caption"], "询问");
    EXPECT_NE(box["text"].get<std::string>().find("继续吗？"), std::string::npos) << box.dump();
    EXPECT_EQ(box["actions"], json::array({"press No"}));
    EXPECT_EQ(box["failures"], json::array());
    EXPECT_EQ(box["screenshots"].size(), 1u) << "a screenshot before each action";
    EXPECT_TRUE(
        fs::exists(fs::path(QV_RUN_DIR) / "probe-run.shots" / box["screenshots"][0].get<std::string>()));
    EXPECT_EQ(
        declined["host_log"],
        json::parse(R"([{"level":0,"app":"Probe","source":"探针","title":"入参","detail":"ACF01=1"}])"));

    // Confirmed: the text, files, the clinic log line, the component request, the rows.
    const json& confirmed = t["calls"][1];
    EXPECT_EQ(confirmed["result"], 1);
    EXPECT_EQ(confirmed["text"], "ACF01=1\r\nreMsgID= 1");
    EXPECT_EQ(t["files"], json::parse(R"([{"path":"probe.xml","size":7,"change":"added"},
                                          {"path":"qvClinicLog2024-03-05.log","size":45,"change":"added"}])"));
    EXPECT_EQ(t["clinic_log"], json::array({"2024-03-05 09:30:00--诊间结算请求==10000029"}));
    EXPECT_EQ(t["requests"], json::parse(R"([{"component":"QV.System","operation":"Execute","command":23,
        "param":5001,"request":"","result":1,"reply":"$SQL=73656C6563742031"}])"));
    EXPECT_EQ(t["database"]["ProbeT"], json::parse(R"({"added":[{"id":"2","v":"new"}],
        "changed":[{"before":{"id":"1","v":"old"},"after":{"id":"1","v":"changed"}}],"removed":[]})"));

    // A window the script has no step for is closed from its title bar, and the run goes on.
    const json& ranOut = t["calls"][2];
    EXPECT_EQ(ranOut["result"], 0);
    ASSERT_EQ(ranOut["windows"].size(), 1u);
    EXPECT_TRUE(ranOut["windows"][0]["ran_out"].get<bool>());

    EXPECT_TRUE(t["ok"].get<bool>()) << "no expectations, nothing unmet";
    EXPECT_EQ(t["host_log"][0]["call"], 0);
}

// The host's message box as a real dialog answered by the scripted user.
TEST(ScenarioRun, ShowsTheHostMessageBoxForTheScriptedUser) {
    struct TCase {
        const char* Name;
        int32_t Flags;
        const char* Step; // scripted step as JSON
        int32_t Result;
        std::vector<std::string> Buttons;
    };
    const TCase cases[] = {
        {"Yes of Yes/No", 0x24, R"({"do": "press", "target": "Yes"})", 6, {"Yes", "No"}},
        {"No of Yes/No/Cancel", 0x23, R"({"do": "press", "target": "否"})", 7, {"Yes", "No", "Cancel"}},
        {"Escape on OK/Cancel gives Cancel", 0x31, R"({"do": "escape"})", 2, {"OK", "Cancel"}},
        {"closed OK box gives OK", 0x40, R"({"do": "close"})", 1, {"OK"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TScenario scenario = ParseScenario(
            std::string(R"({"host": {"message_box_dialog": true}, "calls": [)") +
            R"({"command": 77, "param": )" + std::to_string(c.Flags) + R"(, "user": [)" + c.Step + "]}]}");
        scenario.Module = QV_PROBE_MODULE;
        const json t = RunScenario(scenario, Options("probe-box"));
        EXPECT_EQ(t["calls"][0]["result"], c.Result);
        ASSERT_EQ(t["windows"].size(), 1u);
        const json& w = t["windows"][0];
        EXPECT_EQ(w["class"], "QvHostMessageBox");
        EXPECT_EQ(w["caption"], "主程序");
        std::vector<std::string> names;
        for (const json& b : w["buttons"])
            names.push_back(b["name"]);
        EXPECT_EQ(names, c.Buttons);
        EXPECT_EQ(t["host_message_boxes"][0]["result"], c.Result);
        EXPECT_EQ(t["host_message_boxes"][0]["text"], "保存吗？");
    }
}

} // namespace
