// Reading scenario files: every fault names its place (JSON pointer) so that whoever wrote
// the file finds it at once.
#include "QvScenario.h"

#include "QvText.h"

#include <fstream>
#include <initializer_list>
#include <set>
#include <sstream>

using nlohmann::json;

namespace {

[[noreturn]] void Fail(const std::string& APointer, const std::string& AMessage) {
    throw Exception("场景文件 " + (APointer.empty() ? std::string("/") : APointer) + "：" + AMessage);
}

std::string Child(const std::string& APointer, const std::string& AKey) {
    std::string escaped;
    for (char c : AKey) {
        if (c == '~')
            escaped += "~0";
        else if (c == '/')
            escaped += "~1";
        else
            escaped += c;
    }
    return APointer + "/" + escaped;
}

std::string Child(const std::string& APointer, size_t AIndex) {
    return APointer + "/" + std::to_string(AIndex);
}

// An object whose keys are all among the allowed ones (a misspelt key would otherwise be
// ignored without a word).
const json& Object(const json& AValue, const std::string& APointer,
                   std::initializer_list<const char*> AKeys) {
    if (!AValue.is_object()) Fail(APointer, "应为对象");
    const std::set<std::string> allowed(AKeys.begin(), AKeys.end());
    for (const auto& [key, value] : AValue.items())
        if (!allowed.count(key)) Fail(Child(APointer, key), "未知的键");
    return AValue;
}

const json* Find(const json& AObject, const char* AKey) {
    const auto it = AObject.find(AKey);
    return it == AObject.end() ? nullptr : &*it;
}

std::string Text(const json& AValue, const std::string& APointer) {
    if (!AValue.is_string()) Fail(APointer, "应为文本");
    return AValue.get<std::string>();
}

int32_t Int(const json& AValue, const std::string& APointer) {
    if (!AValue.is_number_integer()) Fail(APointer, "应为整数");
    const int64_t v = AValue.get<int64_t>();
    if (v < INT32_MIN || v > INT32_MAX) Fail(APointer, "整数超出范围");
    return static_cast<int32_t>(v);
}

double Number(const json& AValue, const std::string& APointer) {
    if (!AValue.is_number()) Fail(APointer, "应为数值");
    return AValue.get<double>();
}

bool Bool(const json& AValue, const std::string& APointer) {
    if (!AValue.is_boolean()) Fail(APointer, "应为 true 或 false");
    return AValue.get<bool>();
}

const json& Array(const json& AValue, const std::string& APointer) {
    if (!AValue.is_array()) Fail(APointer, "应为数组");
    return AValue;
}

// Reads an optional member into ATarget with the reader AReader.
template <class T, class F>
void Opt(const json& AObject, const std::string& APointer, const char* AKey, T& ATarget, F AReader) {
    if (const json* v = Find(AObject, AKey)) ATarget = AReader(*v, Child(APointer, AKey));
}

std::filesystem::path PathFrom(const std::string& AText, const std::filesystem::path& ABase) {
    std::filesystem::path p(AText);
    return p.is_relative() && !ABase.empty() ? ABase / p : p;
}

std::map<std::string, std::string, TQvNameLess> TextMap(const json& AValue, const std::string& APointer) {
    if (!AValue.is_object()) Fail(APointer, "应为对象");
    std::map<std::string, std::string, TQvNameLess> map;
    for (const auto& [key, value] : AValue.items())
        map[key] = Text(value, Child(APointer, key));
    return map;
}

std::vector<TScriptStep> Steps(const json& AValue, const std::string& APointer) {
    std::vector<TScriptStep> steps;
    for (size_t i = 0; i < Array(AValue, APointer).size(); ++i) {
        const std::string ptr = Child(APointer, i);
        const json& s = Object(AValue[i], ptr, {"do", "target", "value", "index"});
        const json* kind = Find(s, "do");
        if (!kind)
            Fail(Child(ptr, "do"), "缺少动作（press、choose、type、focus、escape、enter、copy、close、expect-"
                                   "class、expect-caption、expect-text）");
        const std::string name = Text(*kind, Child(ptr, "do"));
        const auto k = TScriptStep::KindFromName(name);
        if (!k) Fail(Child(ptr, "do"), "未知的动作“" + name + "”");
        TScriptStep step;
        step.Kind = *k;
        Opt(s, ptr, "target", step.Target, Text);
        Opt(s, ptr, "value", step.Value, Text);
        Opt(s, ptr, "index", step.Index, Int);
        using K = TScriptStep::TKind;
        const bool needsTarget =
            step.Kind == K::Press || step.Kind == K::Choose || step.Kind == K::Type || step.Kind == K::Focus;
        if (needsTarget && step.Target.empty()) Fail(Child(ptr, "target"), "动作“" + name + "”需要目标控件");
        if (step.IsExpectation() && !Find(s, "value")) Fail(Child(ptr, "value"), "动作“" + name + "”需要值");
        if (step.Kind == K::Choose && !Find(s, "value") && !Find(s, "index"))
            Fail(ptr, "动作“choose”需要 value 或 index");
        steps.push_back(std::move(step));
    }
    return steps;
}

TScriptedReply Reply(const json& AValue, const std::string& APointer) {
    const json& r = Object(AValue, APointer, {"command", "result", "reply", "fail"});
    TScriptedReply reply;
    if (const json* c = Find(r, "command")) reply.Command = Int(*c, Child(APointer, "command"));
    Opt(r, APointer, "result", reply.Result, Int);
    if (const json* t = Find(r, "reply")) reply.Reply = Text(*t, Child(APointer, "reply"));
    Opt(r, APointer, "fail", reply.Fail, Text);
    return reply;
}

void ParseHost(const json& AValue, const std::string& P, TScenario& S) {
    const json& h = Object(AValue, P,
                           {"name",
                            "version",
                            "message",
                            "title",
                            "library_name",
                            "library_version",
                            "connection_mode",
                            "connection_string",
                            "user",
                            "host_name",
                            "host_ip",
                            "host_mac",
                            "values",
                            "vars",
                            "resource_texts",
                            "sys_params",
                            "sql",
                            "scripts",
                            "failures",
                            "library_nil",
                            "message_box_answers",
                            "message_box_dialog",
                            "font"});
    TQvHostConfig& c = S.Host;
    Opt(h, P, "name", c.Name, Text);
    Opt(h, P, "version", c.Version, Number);
    Opt(h, P, "message", c.Message, Text);
    Opt(h, P, "title", c.Title, Text);
    Opt(h, P, "library_name", c.LibraryName, Text);
    Opt(h, P, "library_version", c.LibraryVersion, Number);
    Opt(h, P, "connection_mode", c.ConnectionMode, Int);
    Opt(h, P, "connection_string", c.ConnectionString, Text);
    Opt(h, P, "host_name", c.HostName, Text);
    Opt(h, P, "host_ip", c.HostIP, Text);
    Opt(h, P, "host_mac", c.HostMAC, Text);
    Opt(h, P, "library_nil", c.LibraryNil, Bool);
    if (const json* u = Find(h, "user")) {
        const std::string up = Child(P, "user");
        Object(*u, up, {"id", "code", "name", "login_time"});
        Opt(*u, up, "id", c.UserID, Int);
        Opt(*u, up, "code", c.UserCode, Text);
        Opt(*u, up, "name", c.UserName, Text);
        Opt(*u, up, "login_time", c.LoginTime, Number);
    }
    if (const json* f = Find(h, "font")) {
        const std::string fp = Child(P, "font");
        Object(*f, fp, {"name", "use", "size", "style"});
        Opt(*f, fp, "name", c.FontName, Text);
        Opt(*f, fp, "use", c.UseFont, Bool);
        Opt(*f, fp, "size", c.FontSize, Int);
        Opt(*f, fp, "style", c.FontStyle, Int);
    }
    Opt(h, P, "values", c.Values, TextMap);
    Opt(h, P, "vars", c.Vars, TextMap);
    Opt(h, P, "resource_texts", c.ResourceTexts, TextMap);
    if (const json* f = Find(h, "failures")) {
        for (const auto& [op, msg] : TextMap(*f, Child(P, "failures")))
            c.Failures[op] = msg;
    }
    if (const json* sp = Find(h, "sys_params")) {
        const std::string ap = Child(P, "sys_params");
        for (size_t i = 0; i < Array(*sp, ap).size(); ++i) {
            const std::string ip = Child(ap, i);
            const json& r = Object((*sp)[i], ip, {"system", "param", "kind", "flag", "value"});
            int32_t sys = 0, param = 0, kind = 0, flag = 0;
            std::string value;
            if (!Find(r, "param")) Fail(Child(ip, "param"), "缺少参数编号");
            Opt(r, ip, "system", sys, Int);
            Opt(r, ip, "param", param, Int);
            Opt(r, ip, "kind", kind, Int);
            Opt(r, ip, "flag", flag, Int);
            Opt(r, ip, "value", value, Text);
            c.SysParams[{sys, param, kind, flag}] = value;
        }
    }
    if (const json* sql = Find(h, "sql")) {
        const std::string sp = Child(P, "sql");
        if (!sql->is_object()) Fail(sp, "应为对象（编号 -> SQL文本）");
        for (const auto& [key, value] : sql->items()) {
            int32_t number = 0;
            if (!TryStrToInt(key, number) || number < 0) Fail(Child(sp, key), "SQL编号应为非负整数");
            c.SqlTexts[number] = Text(value, Child(sp, key));
        }
    }
    if (const json* scripts = Find(h, "scripts")) {
        const std::string sp = Child(P, "scripts");
        for (size_t i = 0; i < Array(*scripts, sp).size(); ++i) {
            const std::string ip = Child(sp, i);
            const json& r = Object((*scripts)[i], ip, {"id", "code", "text"});
            TQvHostScript script;
            if (!Find(r, "id") || !Find(r, "code")) Fail(ip, "脚本需要 id 和 code");
            Opt(r, ip, "id", script.ID, Int);
            Opt(r, ip, "code", script.Code, Text);
            Opt(r, ip, "text", script.Text, Text);
            c.Scripts.push_back(std::move(script));
        }
    }
    Opt(h, P, "message_box_dialog", S.MessageBoxDialog, Bool);
    if (const json* a = Find(h, "message_box_answers")) {
        const std::string ap = Child(P, "message_box_answers");
        for (size_t i = 0; i < Array(*a, ap).size(); ++i)
            S.MessageBoxAnswers.push_back(Int((*a)[i], Child(ap, i)));
    }
}

void ParseDatabase(const json& AValue, const std::string& P, const std::filesystem::path& ABase,
                   TScenario& S) {
    const json& d = Object(AValue, P, {"seed", "clock", "sql", "slave", "watch"});
    TScenarioDatabase db;
    db.Seed = std::filesystem::path(); // the default seed, filled in by the run
    if (const json* seed = Find(d, "seed")) {
        if (seed->is_null())
            db.Seed.reset();
        else
            db.Seed = PathFrom(Text(*seed, Child(P, "seed")), ABase);
    }
    Opt(d, P, "clock", db.Clock, Text);
    Opt(d, P, "slave", db.Slave, Bool);
    if (const json* sql = Find(d, "sql")) {
        const std::string sp = Child(P, "sql");
        for (size_t i = 0; i < Array(*sql, sp).size(); ++i)
            db.Sql.push_back(Text((*sql)[i], Child(sp, i)));
    }
    if (const json* w = Find(d, "watch")) {
        const std::string wp = Child(P, "watch");
        for (size_t i = 0; i < Array(*w, wp).size(); ++i) {
            std::string table = Text((*w)[i], Child(wp, i));
            // Table names go into SQL text: only plain names are accepted.
            if (table.empty() ||
                table.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_") !=
                    std::string::npos)
                Fail(Child(wp, i), "表名只能包含字母、数字和下划线");
            db.Watch.push_back(std::move(table));
        }
    }
    S.Database = std::move(db);
}

void ParseComponents(const json& AValue, const std::string& P, TScenario& S) {
    if (!AValue.is_object()) Fail(P, "应为对象（组件名 -> 设置）");
    for (const auto& [name, value] : AValue.items()) {
        const std::string cp = Child(P, name);
        if (SameText(name, "Qv.Print")) {
            if (value.is_null()) {
                S.Print.reset();
                continue;
            }
            const json& o = Object(value, cp, {"fail", "check_user", "print_succeeds", "no_object"});
            TQvPrintSettings print;
            Opt(o, cp, "fail", print.FailText, Text);
            Opt(o, cp, "check_user", print.CheckUser, Int);
            Opt(o, cp, "print_succeeds", print.PrintSucceeds, Bool);
            Opt(o, cp, "no_object", print.NoObject, Bool);
            S.Print = print;
        } else if (SameText(name, "QV.System")) {
            if (value.is_null()) {
                S.System.reset();
                continue;
            }
            const json& o = Object(value, cp, {"result", "reply"});
            TQvSystemSettings system;
            if (const json* r = Find(o, "result")) system.Result = Int(*r, Child(cp, "result"));
            if (const json* r = Find(o, "reply")) system.Reply = Text(*r, Child(cp, "reply"));
            S.System = system;
        } else {
            const json& o = Object(value, cp, {"interface", "version", "ready", "replies", "default"});
            TScenarioComponent comp;
            comp.Name = name;
            Opt(o, cp, "interface", comp.Interface, Bool);
            Opt(o, cp, "version", comp.Settings.Version, Number);
            Opt(o, cp, "ready", comp.Settings.Ready, Bool);
            if (const json* d = Find(o, "default")) comp.Settings.Default = Reply(*d, Child(cp, "default"));
            if (const json* r = Find(o, "replies")) {
                const std::string rp = Child(cp, "replies");
                for (size_t i = 0; i < Array(*r, rp).size(); ++i)
                    comp.Settings.Replies.push_back(Reply((*r)[i], Child(rp, i)));
            }
            S.Components.push_back(std::move(comp));
        }
    }
}

TScenarioCall Call(const json& AValue, const std::string& P) {
    const json& c = Object(AValue, P, {"execute", "command", "param", "text", "user"});
    TScenarioCall call;
    const json* exec = Find(c, "execute");
    const json* cmd = Find(c, "command");
    if ((exec != nullptr) == (cmd != nullptr))
        Fail(P, "一个调用需要 execute（命令对象）或 command（框架命令）之一");
    if (exec) {
        call.Kind = TScenarioCall::TKind::Execute;
        call.Number = Int(*exec, Child(P, "execute"));
        if (Find(c, "param")) Fail(Child(P, "param"), "param 只用于框架命令（command）");
    } else {
        call.Kind = TScenarioCall::TKind::Command;
        call.Number = Int(*cmd, Child(P, "command"));
        Opt(c, P, "param", call.Param, Int);
    }
    Opt(c, P, "text", call.Text, Text);
    if (const json* u = Find(c, "user")) call.User = Steps(*u, Child(P, "user"));
    return call;
}

} // namespace

TScenario ParseScenario(const std::string& AText, const std::filesystem::path& ABaseFolder) {
    json j;
    try {
        j = json::parse(AText);
    } catch (const json::parse_error& e) {
        throw Exception("场景文件不是有效的JSON（第 " + std::to_string(e.byte) + " 个字节附近）：" +
                        e.what());
    }
    const std::string P;
    Object(j, P, {"name", "module", "host", "database", "components", "user", "calls", "expect"});
    TScenario S;
    // A host has the report and system components unless the scenario takes them away.
    S.Print = TQvPrintSettings{};
    S.System = TQvSystemSettings{};
    Opt(j, P, "name", S.Name, Text);
    if (const json* m = Find(j, "module")) S.Module = PathFrom(Text(*m, "/module"), ABaseFolder);
    if (const json* h = Find(j, "host")) ParseHost(*h, "/host", S);
    if (const json* d = Find(j, "database")) ParseDatabase(*d, "/database", ABaseFolder, S);
    if (const json* c = Find(j, "components")) ParseComponents(*c, "/components", S);
    if (const json* u = Find(j, "user")) S.User = Steps(*u, "/user");
    const json* calls = Find(j, "calls");
    if (!calls) Fail("/calls", "缺少调用列表");
    for (size_t i = 0; i < Array(*calls, "/calls").size(); ++i)
        S.Calls.push_back(Call((*calls)[i], Child("/calls", i)));
    if (const json* e = Find(j, "expect")) {
        if (!e->is_object()) Fail("/expect", "应为对象（JSON指针 -> 期望值）");
        for (const auto& [pointer, value] : e->items()) {
            try {
                (void)json::json_pointer(pointer);
            } catch (const json::exception&) {
                Fail(Child("/expect", pointer), "不是有效的JSON指针");
            }
            if (value.is_object() && value.size() == 1 && value.begin().key().rfind('$', 0) == 0) {
                const std::string op = value.begin().key();
                const json& arg = value.begin().value();
                const std::string at = Child(Child("/expect", pointer), op);
                if (op == "$absent") {
                    Bool(arg, at);
                } else if (op == "$size") {
                    if (!arg.is_number_unsigned()) Fail(at, "应为非负整数");
                } else if (op == "$contains") {
                    Text(arg, at);
                } else if (op != "$has" && op != "$lacks") {
                    Fail(at, "未知的检查（$absent、$size、$contains、$has、$lacks）");
                }
            }
        }
        S.Expect = *e;
    }
    return S;
}

TScenario LoadScenario(const std::filesystem::path& AFile) {
    std::ifstream in(AFile, std::ios::binary);
    if (!in) throw Exception("无法读取场景文件：" + AFile.string());
    std::ostringstream text;
    text << in.rdbuf();
    try {
        return ParseScenario(text.str(), AFile.parent_path());
    } catch (const Exception& e) {
        throw Exception(AFile.string() + "：" + e.what());
    }
}
