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

// Whether the module's command object is the package's stand-in, which answers 0 to every
// command and appends nothing (the clinic payment command always answers an unserved
// number with 1 and the reply lines).
bool CommandIsStandIn() {
    static const bool standIn = [] {
        const json t =
            RunScenario(ParseScenario(R"({"calls": [{"execute": 1, "text": ""}]})"), Options("probe"));
        return t["calls"][0].value("result", 0) == 0;
    }();
    return standIn;
}

class ExampleScenario : public ::testing::TestWithParam<std::string> {};

TEST_P(ExampleScenario, MeetsItsExpectations) {
    const fs::path file = fs::path(QV_SCENARIO_DIR) / (GetParam() + ".json");
    const TScenario scenario = LoadScenario(file);
    const bool usesCommand =
        std::any_of(scenario.Calls.begin(), scenario.Calls.end(),
                    [](const TScenarioCall& c) { return c.Kind == TScenarioCall::TKind::Execute; });
    if (usesCommand && CommandIsStandIn())
        GTEST_SKIP() << "the module still hands out the stand-in command object";

    const json transcript = RunScenario(scenario, Options(GetParam()));
    std::ofstream(fs::path(QV_RUN_DIR) / (GetParam() + ".transcript.json")) << transcript.dump(2) << "\n";
    for (const json& c : transcript["checks"])
        EXPECT_TRUE(c["ok"].get<bool>()) << c.dump(2);
    EXPECT_FALSE(transcript["checks"].empty()) << "a scenario without expectations checks nothing";
    EXPECT_TRUE(transcript["unloaded"].get<bool>()) << "the module must leave the process";
    for (const json& w : transcript["windows"])
        EXPECT_FALSE(w["forced"].get<bool>()) << w.dump(2);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ExampleScenario, ::testing::ValuesIn(ScenarioNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace_if(
                                 name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
                             return name;
                         });

} // namespace
