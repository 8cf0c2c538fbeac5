// `qvhost demo` and the readable account of a transcript.
#include "QvScenario.h"

#include <fstream>
#include <ostream>
#include <vector>

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

// The built-in demonstration: what the plug-in does today, from loading to a payment
// decision, against the hospital database stand-in with its demo patients.
struct TDemoScenario {
    const char* File;
    const char* Text;
};

const TDemoScenario DemoScenarios[] = {
    {"01-framework", R"({
  "name": "加载模块，创建扩展包，框架命令",
  "calls": [
    {"command": -10},
    {"command": -5},
    {"command": -1},
    {"command": -3}
  ]
})"},
    {"02-declined", R"({
  "name": "诊间收费：医生在确认框中选择“否”",
  "database": {"clock": "2024-03-05 09:30:00", "watch": ["VAK1"]},
  "calls": [
    {"execute": 10000028, "text": "ACF01=1\r\nsVAI01=1023,1024",
     "user": [{"do": "expect-caption", "value": "询问"}, {"do": "press", "target": "No"}]}
  ]
})"},
    {"03-window-closed", R"({
  "name": "诊间收费：确认后打开结算窗口，未付款关闭",
  "database": {"clock": "2024-03-05 09:30:00", "watch": ["VAK1", "VAI1"]},
  "calls": [
    {"execute": 10000028, "text": "ACF01=1\r\nsVAI01=1023,1024",
     "user": [{"do": "press", "target": "Yes"}, {"do": "close"}]}
  ]
})"},
    {"04-no-payment-set", R"({
  "name": "结算窗口：没有支付方式设置脚本，显示错误，按钮全部不可用，关闭窗口",
  "database": {"clock": "2024-03-05 09:30:00"},
  "components": {"QV.System": {"result": 1, "reply": "$SQL="}},
  "calls": [
    {"execute": 10000028, "text": "ACF01=1\r\nsVAI01=1023",
     "user": [{"do": "press", "target": "Yes"}, {"do": "enter"}, {"do": "close"}]}
  ]
})"},
    {"05-bad-fee-keys", R"({
  "name": "结算窗口：费用单据号不是数字列表，不执行任何SQL",
  "database": {"clock": "2024-03-05 09:30:00", "watch": ["VAI1"]},
  "calls": [
    {"execute": 10000028, "text": "ACF01=1\r\nsVAI01=1023') OR 1=1 --",
     "user": [{"do": "press", "target": "Yes"}, {"do": "enter"}, {"do": "close"}]}
  ]
})"},
    {"06-not-served", R"({
  "name": "诊间收费：不受理的命令号",
  "calls": [
    {"execute": 12345, "text": "ACF01=1\r\nsVAI01=1023"}
  ]
})"},
};

std::string Quoted(const json& AValue) {
    if (!AValue.is_string()) return AValue.dump();
    std::string out;
    for (char c : AValue.get<std::string>()) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return "“" + out + "”";
}

// A long value cut for the console (the transcript keeps it whole).
std::string Shortened(const std::string& AText) {
    constexpr size_t Limit = 400;
    if (AText.size() <= Limit) return AText;
    size_t cut = Limit;
    while (cut > 0 && (static_cast<unsigned char>(AText[cut]) & 0xC0) == 0x80)
        --cut; // not inside a UTF-8 sequence
    return AText.substr(0, cut) + "…（共 " + std::to_string(AText.size()) + " 字节，见记录文件）";
}

} // namespace

TScenarioRunOptions DefaultRunOptions() {
    TScenarioRunOptions o;
#ifdef QV_DEFAULT_MODULE_DIR
    o.DefaultModule = fs::path(QV_DEFAULT_MODULE_DIR) / "Plugin.QVClinicalPaymentCmd.so";
    o.ProviderFolder = QV_DEFAULT_MODULE_DIR;
#endif
#ifdef QV_HOST_DATA_DIR
    o.DataFolder = QV_HOST_DATA_DIR;
#endif
#ifdef QV_HOSPITAL_SEED
    o.DefaultSeed = QV_HOSPITAL_SEED;
#endif
    if (const char* dir = std::getenv("QV_MODULE_DIR"); dir && *dir) {
        o.DefaultModule = fs::path(dir) / "Plugin.QVClinicalPaymentCmd.so";
        o.ProviderFolder = dir;
    }
    if (const char* data = std::getenv("QV_HOST_DATA"); data && *data) o.DataFolder = data;
    return o;
}

void PrintTranscript(const json& T, std::ostream& AOut) {
    AOut << "模块：" << T.value("module", "") << "\n";
    AOut << "CreateInstance：" << (T.value("create_instance", false) ? "返回扩展接口" : "没有返回扩展接口")
         << "\n";
    const json& log = T["host_log"];
    for (const json& c : T["calls"]) {
        const bool exec = c["kind"] == "execute";
        AOut << "\n" << (exec ? "命令对象 Execute(" : "框架命令 Execute(") << c["number"].dump();
        if (!exec) AOut << ", " << c.value("param", 0);
        AOut << ")，传入 " << Quoted(c["text_in"]) << "\n";
        for (const json& win : c["windows"]) {
            AOut << "  窗口 " << win["class"].get<std::string>() << "「" << win["caption"].get<std::string>()
                 << "」";
            if (!win["text"].get<std::string>().empty()) AOut << "：" << Quoted(win["text"]);
            AOut << "\n    按钮：";
            for (const json& b : win["buttons"])
                AOut << b["caption"].get<std::string>() << (b["enabled"].get<bool>() ? "" : "（不可用）")
                     << " ";
            AOut << "\n    用户：";
            for (const json& a : win["actions"])
                AOut << a.get<std::string>() << "；";
            if (win["ran_out"].get<bool>()) AOut << "（脚本已用完，从标题栏关闭）";
            AOut << " 结果 " << win["result"].dump() << "\n";
            for (const json& f : win["failures"])
                AOut << "    未满足：" << f.get<std::string>() << "\n";
            for (const json& s : win["screenshots"])
                AOut << "    截图：" << s.get<std::string>() << "\n";
        }
        if (c.contains("result"))
            AOut << "  返回 " << c["result"].dump() << "，文本 " << Quoted(c["text"]) << "\n";
        if (c.contains("error")) AOut << "  错误：" << c["error"].get<std::string>() << "\n";
        for (const json& e : c["host_log"]) {
            AOut << "  主机日志 [" << e["level"].dump() << "] " << e["source"].get<std::string>() << " | "
                 << e["title"].get<std::string>() << " | " << Quoted(e["detail"]) << "\n";
        }
    }
    AOut << "\nReleaseInstance 返回 " << T.value("release_instance", 0) << "；模块"
         << (T.value("unloaded", false) ? "已卸载" : "仍留在进程中") << "\n";
    AOut << "主机日志共 " << log.size() << " 条；加载和卸载时的：\n";
    for (size_t i = 0; i < log.size(); ++i) {
        if (!log[i]["call"].is_null()) continue;
        const json& e = log[i];
        AOut << "  [" << e["level"].dump() << "] " << e["app"].get<std::string>() << " | "
             << e["source"].get<std::string>() << " | " << e["title"].get<std::string>() << " | "
             << Quoted(e["detail"]) << "\n";
    }
    if (!T["host_message_boxes"].empty()) {
        AOut << "主机消息框：\n";
        for (const json& b : T["host_message_boxes"])
            AOut << "  「" << b["caption"].get<std::string>() << "」" << Quoted(b["text"]) << " -> "
                 << b["result"].dump() << "\n";
    }
    if (!T["requests"].empty()) {
        AOut << "组件请求：\n";
        for (const json& r : T["requests"]) {
            AOut << "  " << r["component"].get<std::string>() << "." << r["operation"].get<std::string>();
            if (r["operation"] == "Execute")
                AOut << "(" << r["command"].dump() << ", " << r["param"].dump() << ")";
            AOut << " 请求 " << Quoted(r["request"]) << " -> " << r["result"].dump() << " "
                 << Quoted(r["reply"]);
            if (r.contains("error")) AOut << " 错误：" << r["error"].get<std::string>();
            AOut << "\n";
        }
    }
    if (!T["prints"].empty()) {
        AOut << "打印：\n";
        for (const json& p : T["prints"]) {
            AOut << "  报表 " << p["report_code"].get<std::string>() << " #" << p["report_id"].dump()
                 << " -> " << p["file"].get<std::string>() << "\n";
            // The receipt as a person reads it.
            std::ifstream in(p["file"].get<std::string>());
            for (std::string line; std::getline(in, line);)
                AOut << "    | " << line << "\n";
        }
    }
    if (!T["clinic_log"].empty()) {
        AOut << "诊间日志：\n";
        for (const json& l : T["clinic_log"])
            AOut << "  " << l.get<std::string>() << "\n";
    }
    if (!T["files"].empty()) {
        AOut << "工作目录中写入的文件：\n";
        for (const json& f : T["files"])
            AOut << "  " << f["path"].get<std::string>() << "（" << f["size"].dump() << " 字节，"
                 << (f["change"] == "added" ? "新建" : "修改") << "）\n";
    }
    for (const auto& [table, change] : T["database"].items()) {
        AOut << "数据库表 " << table << "：新增 " << change["added"].size() << " 行，修改 "
             << change["changed"].size() << " 行，删除 " << change["removed"].size() << " 行\n";
        for (const json& row : change["added"])
            AOut << "  + " << row.dump() << "\n";
    }
    for (const json& c : T["checks"])
        if (!c["ok"].get<bool>())
            AOut << "期望未满足：" << c["pointer"].get<std::string>() << " 应为 " << c["expected"].dump()
                 << "，实际 "
                 << (c.contains("actual") ? Shortened(c["actual"].dump()) : std::string("（不存在）"))
                 << "\n";
}

int RunDemo(const fs::path& AOutFolder, const TScenarioRunOptions& ADefaults, std::ostream& AOut) {
    fs::create_directories(AOutFolder);
    const fs::path shots = AOutFolder / "screenshots";
    fs::create_directories(shots);
    AOut << "演示：替身主程序加载诊间支付插件 " << ADefaults.DefaultModule.string() << "\n"
         << "输出目录：" << fs::absolute(AOutFolder).string() << "\n";
    int code = 0;
    for (const TDemoScenario& d : DemoScenarios) {
        AOut << "\n==== " << d.File << " ====\n";
        try {
            const TScenario scenario = ParseScenario(d.Text);
            AOut << scenario.Name << "\n";
            TScenarioRunOptions o = ADefaults;
            o.WorkFolder = AOutFolder / (std::string(d.File) + ".work");
            o.PrintFolder = AOutFolder / (std::string(d.File) + ".prints");
            o.ShotFolder = shots / d.File;
            const json transcript = RunScenario(scenario, o);
            PrintTranscript(transcript, AOut);
            std::ofstream(AOutFolder / (std::string(d.File) + ".json")) << transcript.dump(2) << "\n";
            AOut << "记录：" << (AOutFolder / (std::string(d.File) + ".json")).string() << "\n";
        } catch (const std::exception& e) {
            AOut << "无法运行：" << e.what() << "\n";
            code = 1;
        }
    }
    AOut << "\n截图目录：" << fs::absolute(shots).string() << "\n";
    return code;
}
