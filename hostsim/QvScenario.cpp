// Running a scenario: host set-up, the real module, the calls, and the transcript.
#include "QvScenario.h"

#include "QvClinicalPayIntf.h"
#include "QvForms.h"
#include "QvPluginModule.h"
#include "QvText.h"
#ifdef QVHOST_WITH_DB
#include "QvHostDb.h"
#endif

#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

#include <cctype>
#include <fstream>
#include <map>
#include <sstream>

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

// Marks a working folder as made by a run, so that the next run may empty it.
const char* const WorkMarker = ".qvhost-run";
// Inside the working folder; not listed among the files the plug-in wrote.
const char* const HostFolder = ".qvhost";

void PrepareWorkFolder(const fs::path& AFolder) {
    std::error_code ec;
    if (fs::exists(AFolder, ec)) {
        if (!fs::is_directory(AFolder, ec)) throw Exception("工作目录不是目录：" + AFolder.string());
        const bool empty = fs::is_empty(AFolder, ec);
        if (!empty && !fs::exists(AFolder / WorkMarker, ec))
            throw Exception("工作目录不是空的，也不是以前运行留下的目录，不能清空：" + AFolder.string());
        for (const auto& entry : fs::directory_iterator(AFolder))
            fs::remove_all(entry.path());
    }
    fs::create_directories(AFolder / HostFolder);
    std::ofstream(AFolder / WorkMarker) << "qvhost run\n";
}

struct TFileState {
    uintmax_t Size = 0;
    fs::file_time_type Time;
    std::string Content;
};

std::string ReadAll(const fs::path& AFile) {
    std::ifstream in(AFile, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The files of the working folder (without the host's own).
std::map<std::string, TFileState> ListFiles(const fs::path& AFolder) {
    std::map<std::string, TFileState> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(AFolder, ec); it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const fs::path rel = fs::relative(it->path(), AFolder, ec);
        const std::string name = rel.generic_string();
        if (name == WorkMarker || name == HostFolder || name.rfind(std::string(HostFolder) + "/", 0) == 0) {
            if (it->is_directory()) it.disable_recursion_pending();
            continue;
        }
        if (!it->is_regular_file()) continue;
        files[name] = {it->file_size(), it->last_write_time(), ReadAll(it->path())};
    }
    return files;
}

// Removes what an earlier run wrote into an output folder (files named as a run names them,
// nothing else), so that the folder shows this run only.
void ClearRunFiles(const fs::path& AFolder, const std::string& APrefix, const std::string& AExtension) {
    std::error_code ec;
    if (AFolder.empty() || !fs::is_directory(AFolder, ec)) return;
    for (const auto& entry : fs::directory_iterator(AFolder, ec)) {
        const std::string name = entry.path().filename().string();
        const bool numbered = APrefix.empty()
                                  ? name.size() > 3 && std::isdigit(static_cast<unsigned char>(name[0])) &&
                                        std::isdigit(static_cast<unsigned char>(name[1])) && name[2] == '-'
                                  : name.rfind(APrefix, 0) == 0;
        if (numbered && entry.path().extension() == AExtension && entry.is_regular_file())
            fs::remove(entry.path(), ec);
    }
}

json WindowJson(const TScriptedWindow& W, const std::vector<std::string>& AShots) {
    json buttons = json::array();
    for (const auto& b : W.Buttons)
        buttons.push_back({{"name", b.Name}, {"caption", b.Caption}, {"enabled", b.Enabled}});
    return {{"class", W.ClassName}, {"caption", W.Caption},   {"text", W.Text},       {"buttons", buttons},
            {"actions", W.Actions}, {"result", W.Result},     {"closed", W.Closed},   {"ran_out", W.RanOut},
            {"forced", W.Forced},   {"failures", W.Failures}, {"screenshots", AShots}};
}

json LogJson(const THostLogEntry& E) {
    return {{"level", E.Level},
            {"app", E.AppName},
            {"source", E.Source},
            {"title", E.Title},
            {"detail", E.Detail}};
}

json RequestJson(const TComponentRequest& R) {
    json j = {{"component", R.Component}, {"operation", R.Operation}, {"command", R.Command},
              {"param", R.Param},         {"request", R.Request},     {"result", R.Result},
              {"reply", R.Reply}};
    if (!R.Error.empty()) j["error"] = R.Error;
    return j;
}

// The clinic log files (ANSI text) as UTF-8 lines, file by file in name order.
json ClinicLogLines(const std::map<std::string, TFileState>& AFiles) {
    json lines = json::array();
    for (const auto& [name, file] : AFiles) {
        const std::string base = fs::path(name).filename().string();
        if (base.rfind("qvClinicLog", 0) != 0) continue;
        std::string text;
        try {
            text = AnsiToUtf8(file.Content);
        } catch (const std::exception&) {
            text = file.Content;
        }
        const TStringList list(text);
        for (int i = 0; i < list.Count(); ++i)
            lines.push_back(list[i]);
    }
    return lines;
}

std::string SafeFileName(std::string AText) {
    for (char& c : AText)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_')) c = '_';
    return AText.empty() ? std::string("window") : AText;
}

bool Meets(const json* AActual, const json& AExpected);

bool IsOperator(const json& AValue) {
    return AValue.is_object() && AValue.size() == 1 && AValue.begin().key().rfind('$', 0) == 0;
}

// Whether AValue has every member of APattern (objects recursively; an operator checks
// as in an expectation; anything else equal).
bool Matches(const json& AValue, const json& APattern) {
    if (IsOperator(APattern)) return Meets(&AValue, APattern);
    if (!APattern.is_object() || !AValue.is_object()) return AValue == APattern;
    for (const auto& [key, part] : APattern.items())
        if (!AValue.contains(key) || !Matches(AValue[key], part)) return false;
    return true;
}

// One expectation: a plain value must equal the transcript's; an object with one of the
// operators checks otherwise: {"$absent": true}, {"$size": n}, {"$contains": "text"},
// {"$has": pattern} (an array element has the pattern's members), {"$lacks": pattern}.
bool Meets(const json* AActual, const json& AExpected) {
    if (IsOperator(AExpected)) {
        const std::string op = AExpected.begin().key();
        const json& arg = AExpected.begin().value();
        if (op == "$absent") return (AActual == nullptr) == arg.get<bool>();
        if (!AActual) return false;
        if (op == "$size") return (AActual->is_array() || AActual->is_object()) && AActual->size() == arg;
        if (op == "$contains")
            return AActual->is_string() &&
                   AActual->get<std::string>().find(arg.get<std::string>()) != std::string::npos;
        if (op == "$has" || op == "$lacks") {
            if (!AActual->is_array()) return false;
            bool found = false;
            for (const json& e : *AActual)
                found = found || Matches(e, arg);
            return op == "$has" ? found : !found;
        }
        return false;
    }
    return AActual && *AActual == AExpected;
}

// Compares the expectations with the transcript.
json Checks(const json& AExpect, const json& ATranscript, bool& AOk) {
    json checks = json::array();
    AOk = true;
    for (const auto& [pointer, expected] : AExpect.items()) {
        const json::json_pointer ptr(pointer);
        const bool present = ATranscript.contains(ptr);
        const json* actual = present ? &ATranscript.at(ptr) : nullptr;
        const bool ok = Meets(actual, expected);
        if (!ok) AOk = false;
        json c = {{"pointer", pointer}, {"expected", expected}, {"ok", ok}};
        if (present)
            c["actual"] = *actual;
        else
            c["missing"] = true;
        checks.push_back(std::move(c));
    }
    return checks;
}

// The host's message box as a real dialog: the buttons of the flags' low four bits with
// object names as the plug-in's message box names them, answering the Windows codes.
int32_t ShowHostMessageBox(const THostMessageBox& ABox) {
    struct TButton {
        const char* Name;
        const char* Caption;
        int32_t Result;
    };
    static const TButton OK{"OK", "确定", 1}, Cancel{"Cancel", "取消", 2}, Abort{"Abort", "终止", 3},
        Retry{"Retry", "重试", 4}, Ignore{"Ignore", "忽略", 5}, Yes{"Yes", "是", 6}, No{"No", "否", 7};
    std::vector<TButton> buttons;
    switch (ABox.Flags & 0x0F) {
    case 1:
        buttons = {OK, Cancel};
        break;
    case 2:
        buttons = {Abort, Retry, Ignore};
        break;
    case 3:
        buttons = {Yes, No, Cancel};
        break;
    case 4:
        buttons = {Yes, No};
        break;
    case 5:
        buttons = {Retry, Cancel};
        break;
    default:
        buttons = {OK};
        break;
    }
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (ABox.Flags & 0xF0) {
    case 0x10:
        icon = QMessageBox::Critical;
        break;
    case 0x20:
        icon = QMessageBox::Question;
        break;
    case 0x30:
        icon = QMessageBox::Warning;
        break;
    case 0x40:
        icon = QMessageBox::Information;
        break;
    }
    QMessageBox box(icon, QString::fromStdString(ABox.Caption), QString::fromStdString(ABox.Text));
    box.setProperty(QV_CLASS_NAME_PROPERTY, QStringLiteral("QvHostMessageBox"));
    std::vector<std::pair<QAbstractButton*, int32_t>> results;
    for (const TButton& b : buttons) {
        QPushButton* button = box.addButton(QString::fromUtf8(b.Caption), QMessageBox::AcceptRole);
        button->setObjectName(QString::fromLatin1(b.Name));
        results.emplace_back(button, b.Result);
    }
    box.exec();
    for (const auto& [button, result] : results)
        if (box.clickedButton() == button) return result;
    // Closed from the title bar or with Escape: Cancel when offered, else OK alone, else the
    // last button (No, Ignore), as the system's box does.
    for (const TButton& b : buttons)
        if (b.Result == 2) return 2;
    return buttons.back().Result;
}

std::string Failure(HRESULT hr) {
    std::string message = GetErrorInfoText();
    if (message.empty()) message = SysErrorMessage(hr);
    return message;
}

} // namespace

json RunScenario(const TScenario& S, const TScenarioRunOptions& O) {
    auto progress = [&](const std::string& line) {
        if (O.Progress) O.Progress(line);
    };
    if (O.WorkFolder.empty()) throw Exception("没有指定工作目录。");
    const fs::path work = fs::absolute(O.WorkFolder);
    PrepareWorkFolder(work);
    ClearRunFiles(O.PrintFolder, "print-", ".txt");
    ClearRunFiles(O.ShotFolder, "", ".png");

    // The host
    TQvHostConfig config = S.Host;
    if (config.DataFolder.empty()) config.DataFolder = O.DataFolder;
    if (config.WorkPath.empty()) config.WorkPath = work.string() + "/";

    const fs::path modulePath = S.Module.empty() ? O.DefaultModule : S.Module;
    json dbBefore = json::object();
    std::map<std::string, std::string> dbKeys;
#ifdef QVHOST_WITH_DB
    std::unique_ptr<TQvHostDatabase> db;
    if (S.Database) {
        // The host and the plug-in find the database providers through this path (after
        // any folders already named in it): the built providers, then the module's folder.
        std::string path = std::getenv("QV_PROVIDER_PATH") ? std::getenv("QV_PROVIDER_PATH") : "";
        for (const fs::path& folder :
             {O.ProviderFolder, modulePath.empty() ? fs::path() : fs::absolute(modulePath).parent_path()}) {
            const std::string dir = folder.string();
            if (dir.empty() || (":" + path + ":").find(":" + dir + ":") != std::string::npos) continue;
            path += (path.empty() ? "" : ":") + dir;
        }
        setenv("QV_PROVIDER_PATH", path.c_str(), 1);
        const fs::path dbFile = work / HostFolder / "hospital.db";
        // Without a seed the database starts empty; the provider opens only existing files then.
        std::ofstream(dbFile, std::ios::app).close();
        std::string cs = "Provider=QvHospitalLite;Data Source=" + dbFile.string();
        if (S.Database->Seed) {
            const fs::path seed = S.Database->Seed->empty() ? O.DefaultSeed : *S.Database->Seed;
            if (!seed.empty()) cs += ";Seed=" + fs::absolute(seed).string();
        }
        if (!S.Database->Clock.empty()) cs += ";Clock=" + S.Database->Clock;
        progress("打开数据库：" + cs);
        db = std::make_unique<TQvHostDatabase>(cs);
        for (size_t i = 0; i < S.Database->Sql.size(); ++i) {
            try {
                db->Execute(S.Database->Sql[i]);
            } catch (const std::exception& e) {
                throw Exception("场景文件 /database/sql/" + std::to_string(i) + "：" + e.what());
            }
        }
        db->Attach(config, S.Database->Slave);
        if (!S.Host.ConnectionString.empty()) config.ConnectionString = S.Host.ConnectionString;
        for (const std::string& table : S.Database->Watch) {
            std::vector<std::string> columns;
            dbBefore[table] = db->Query("SELECT * FROM " + table, &columns);
            // Rows are matched by the table's first column, its key.
            if (!columns.empty()) dbKeys[table] = columns.front();
        }
    }
#else
    if (S.Database) throw Exception("此版本的qvhost不含数据库支持，不能运行带 database 的场景。");
#endif

    TQvHost host(config);
    TQvHostState& state = host.State();
    for (int32_t answer : S.MessageBoxAnswers)
        state.MessageBoxAnswers.push_back(answer);
    if (S.MessageBoxDialog) state.MessageBoxHandler = ShowHostMessageBox;

    auto journal = std::make_shared<TQvComponentJournal>();
    auto printRecord = std::make_shared<TQvPrintRecord>();
    if (S.Print) {
        TQvPrintSettings print = *S.Print;
        print.OutputFolder = O.PrintFolder.empty() ? work / HostFolder / "prints" : O.PrintFolder;
        state.LibraryComponents["Qv.Print"] = NewPrintComponent(print, journal, printRecord);
    }
    if (S.System) {
        TQvSystemSettings system = *S.System;
        std::weak_ptr<TQvHostState> weak = host.SharedState();
        system.ScriptSql = [weak](int32_t id) -> std::optional<std::string> {
            const auto st = weak.lock();
            if (!st) return std::nullopt;
            const TQvHostScript* script = st->Sql.FindScriptByID(id);
            return script ? std::optional<std::string>(script->Text) : std::nullopt;
        };
        state.LibraryComponents["QV.System"] = NewSystemComponent(std::move(system), journal);
    }
    for (const TScenarioComponent& c : S.Components) {
        auto& target = c.Interface ? state.InterfaceComponents : state.LibraryComponents;
        target[c.Name] = NewScriptedComponent(c.Name, c.Settings, journal);
    }

    // The user
    TScriptedUser user(S.User);
    std::map<size_t, std::vector<std::string>> shots;
    int shotCount = 0;
    if (!O.ShotFolder.empty()) {
        fs::create_directories(O.ShotFolder);
        user.OnBeforeAction = [&](QWidget* AWindow, const TScriptedWindow& ARecord) {
            const size_t index = static_cast<size_t>(&ARecord - user.Windows().data());
            char prefix[16];
            std::snprintf(prefix, sizeof prefix, "%02d-", ++shotCount);
            const std::string name = prefix + SafeFileName(ARecord.ClassName) + ".png";
            if (AWindow->grab().save(QString::fromStdString((O.ShotFolder / name).string()), "PNG"))
                shots[index].push_back(name);
        };
    }

    const auto filesBefore = ListFiles(work);

    // The module
    progress("加载模块：" + modulePath.string());
    TPluginModule module(modulePath.string());
    json transcript = {{"scenario", S.Name}, {"module", module.FileName()}};
    json calls = json::array();
    {
        ComPtr<IQVExtention> ext;
        module.CreateInstance()(ext.out(), host.Application().get());
        transcript["create_instance"] = static_cast<bool>(ext);
        ComPtr<IQVClinicalPayment> command;
        for (size_t i = 0; i < S.Calls.size(); ++i) {
            const TScenarioCall& call = S.Calls[i];
            user.AddSteps(call.User);
            const size_t windowsBefore = user.Windows().size();
            const size_t logBefore = state.Log.size();
            json c = {{"kind", call.Kind == TScenarioCall::TKind::Execute ? "execute" : "command"},
                      {"number", call.Number},
                      {"text_in", call.Text}};
            if (!ext) {
                c["error"] = "模块没有返回扩展接口";
            } else if (call.Kind == TScenarioCall::TKind::Command) {
                c["param"] = call.Param;
                progress("框架命令 " + std::to_string(call.Number) + ":" + std::to_string(call.Param));
                BSTR data = Utf8ToBstr(call.Text);
                int32_t result = 0;
                const HRESULT hr = ext->Execute(call.Number, call.Param, &data, &result);
                const WideString owned = WideString::Attach(data);
                c["result"] = result;
                c["text"] = owned.str();
                if (Failed(hr)) c["error"] = Failure(hr);
            } else {
                progress("命令对象 Execute(" + std::to_string(call.Number) + ")");
                if (!command) {
                    ComPtr<IInterface> object;
                    int32_t result = 0;
                    const WideString name("IQVClinicalPayment");
                    const HRESULT hr = ext->CreateObject(object.out(), 0, name.c_bstr(), &result);
                    if (Failed(hr)) c["error"] = "CreateObject(IQVClinicalPayment)：" + Failure(hr);
                    command = object.As<IQVClinicalPayment>();
                    if (!command && !c.contains("error"))
                        c["error"] = "模块没有交出命令对象IQVClinicalPayment";
                }
                if (command) {
                    BSTR data = Utf8ToBstr(call.Text);
                    ClearErrorInfo();
                    const int32_t result = command->Execute(call.Number, &data);
                    const WideString owned = WideString::Attach(data);
                    c["result"] = result;
                    c["text"] = owned.str();
                    if (const std::string err = GetErrorInfoText(); !err.empty()) c["error"] = err;
                }
            }
            // Filled in once the run is over (a window's record is complete when it closed).
            c["windows"] = json::array({windowsBefore, user.Windows().size()});
            c["host_log"] = json::array({logBefore, state.Log.size()});
            calls.push_back(std::move(c));
        }
        command.reset();
        ext.reset();
    }
    transcript["release_instance"] = module.ReleaseInstance()();
    transcript["unloaded"] = module.Unload();
    progress("已卸载模块");

    json windows = json::array();
    for (size_t w = 0; w < user.Windows().size(); ++w)
        windows.push_back(WindowJson(user.Windows()[w], shots[w]));
    std::vector<std::pair<size_t, size_t>> logRanges;
    // Each call carries copies of its own windows and host log entries, so that a check
    // can name them by their place within the call.
    for (json& c : calls) {
        const size_t w0 = c["windows"][0], w1 = c["windows"][1];
        const size_t l0 = c["host_log"][0], l1 = c["host_log"][1];
        logRanges.emplace_back(l0, l1);
        c["windows"] = json::array();
        for (size_t w = w0; w < w1; ++w)
            c["windows"].push_back(windows[w]);
        c["host_log"] = json::array();
        for (size_t l = l0; l < l1; ++l)
            c["host_log"].push_back(LogJson(state.Log[l]));
    }
    transcript["calls"] = calls;
    transcript["windows"] = windows;
    transcript["steps_left"] = user.StepsLeft();

    json boxes = json::array();
    for (const THostMessageBox& b : state.MessageBoxes)
        boxes.push_back({{"caption", b.Caption}, {"text", b.Text}, {"flags", b.Flags}, {"result", b.Result}});
    transcript["host_message_boxes"] = boxes;
    // Every entry, each with the call it came from (null: loading or unloading).
    json log = json::array();
    for (const THostLogEntry& e : state.Log)
        log.push_back(LogJson(e));
    for (json& l : log)
        l["call"] = nullptr;
    for (size_t i = 0; i < logRanges.size(); ++i)
        for (size_t l = logRanges[i].first; l < logRanges[i].second; ++l)
            log[l]["call"] = i;
    transcript["host_log"] = log;
    json waits = json::array();
    for (const THostWaitCall& w : state.WaitCalls)
        waits.push_back({{"text", w.Text}, {"kind", w.Kind}});
    transcript["wait_notices"] = waits;

    json requests = json::array();
    for (const TComponentRequest& r : journal->Requests)
        requests.push_back(RequestJson(r));
    transcript["requests"] = requests;
    json prints = json::array();
    for (const TPrintedReport& p : printRecord->Printed)
        prints.push_back({{"report_code", p.ReportCode},
                          {"report_id", p.ReportID},
                          {"flags", {p.Flag1, p.Flag2}},
                          {"variables", p.Variables},
                          {"file", p.File.string()}});
    transcript["prints"] = prints;

    const auto filesAfter = ListFiles(work);
    json files = json::array();
    for (const auto& [name, file] : filesAfter) {
        const auto it = filesBefore.find(name);
        if (it != filesBefore.end() && it->second.Content == file.Content) continue;
        files.push_back(
            {{"path", name}, {"size", file.Size}, {"change", it == filesBefore.end() ? "added" : "changed"}});
    }
    transcript["files"] = files;
    transcript["clinic_log"] = ClinicLogLines(filesAfter);

    json changes = json::object();
#ifdef QVHOST_WITH_DB
    if (db) {
        for (const std::string& table : S.Database->Watch)
            changes[table] =
                TableChanges(dbBefore[table], db->Query("SELECT * FROM " + table), dbKeys[table]);
    }
#endif
    transcript["database"] = changes;

    bool ok = true;
    transcript["checks"] = Checks(S.Expect, transcript, ok);
    transcript["ok"] = ok;
    return transcript;
}
