// The stand-in host: SQL library data files, failure switches, records and recordings.
#include "QvHostSim.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A fresh folder under the temporary directory, removed afterwards.
class TTempFolder {
public:
    explicit TTempFolder(const std::string& AName)
        : FPath(fs::temp_directory_path() / ("qvhost_" + std::to_string(::getpid()) + "_" + AName)) {
        fs::remove_all(FPath);
        fs::create_directories(FPath);
    }
    ~TTempFolder() {
        std::error_code ec;
        fs::remove_all(FPath, ec);
    }
    const fs::path& Path() const { return FPath; }
    void Write(const std::string& ARelative, const std::string& AContent) const {
        fs::create_directories((FPath / ARelative).parent_path());
        std::ofstream(FPath / ARelative, std::ios::binary) << AContent;
    }

private:
    fs::path FPath;
};

std::string Text(BSTR s) {
    return WideString::Attach(s).str();
}

} // namespace

TEST(HostSim, SqlLibraryReadsNumberedTextsAndScriptsFromDataFiles) {
    TTempFolder data("data");
    data.Write("sql/86.sql", "\xEF\xBB\xBF"
                             "select ID from QVScript where Code = %s\r\n\r\n");
    data.Write("sql/7515.sql", "select BLP03, BLP04, BLP05 from BLP1 where BLP01 = %d\n");
    data.Write("sql/README.md", "ignored: not a .sql file");
    data.Write("scripts/1001.QV.Clinical.PaymentSet.01.sql", "select 1 as fid, 1 as IsUse\n");

    TQvHostSqlLibrary sql;
    sql.LoadFolder(data.Path());
    EXPECT_EQ(sql.SqlCount(), 2u);
    EXPECT_EQ(sql.FindSql(86).value_or("?"),
              "select ID from QVScript where Code = %s"); // mark and blank lines dropped
    EXPECT_EQ(sql.ScriptText(7515), "select BLP03, BLP04, BLP05 from BLP1 where BLP01 = %d");
    EXPECT_NE(sql.ScriptText(1).find("不存在"), std::string::npos);

    const TQvHostScript* script = sql.FindScriptByCode("qv.clinical.paymentset.01");
    ASSERT_NE(script, nullptr);
    EXPECT_EQ(script->ID, 1001);
    EXPECT_EQ(script->Code, "QV.Clinical.PaymentSet.01");
    EXPECT_EQ(script->Text, "select 1 as fid, 1 as IsUse");
    EXPECT_EQ(sql.FindScriptByID(1001), script);
    EXPECT_EQ(sql.FindScriptByID(1002), nullptr);
}

TEST(HostSim, SqlLibraryRefusesFilesOutsideTheLayout) {
    struct Case {
        const char* Name;
        const char* File;
        const char* Message;
    };
    const Case cases[] = {
        {"numbered text without number", "sql/abc.sql", "SQL文件名应为<编号>.sql"},
        {"script without id", "scripts/QV.Clinical.PaymentSet.01.sql", "脚本文件名应为<编号>.<代码>.sql"},
        {"script without code", "scripts/1001.sql", "脚本文件名应为<编号>.<代码>.sql"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempFolder data("bad");
        data.Write(c.File, "select 1");
        TQvHostSqlLibrary sql;
        const std::string message = RaisedMessage([&] { sql.LoadFolder(data.Path()); });
        EXPECT_NE(message.find(c.Message), std::string::npos) << message;
        EXPECT_NE(message.find(fs::path(c.File).filename().string()), std::string::npos) << message;
    }
}

TEST(HostSim, ConfigurationAddsAndOverridesDataFiles) {
    TTempFolder data("override");
    data.Write("sql/86.sql", "from file");
    data.Write("scripts/1001.QV.Clinical.PaymentSet.01.sql", "from file");
    TQvHostConfig config;
    config.DataFolder = data.Path();
    config.SqlTexts[86] = "from configuration";
    config.SqlTexts[90] = "added";
    config.Scripts.push_back({1001, "QV.Clinical.PaymentSet.01", "script from configuration"});
    TQvHost host(config);
    EXPECT_EQ(host.State().Sql.ScriptText(86), "from configuration");
    EXPECT_EQ(host.State().Sql.ScriptText(90), "added");
    EXPECT_EQ(host.State().Sql.FindScriptByCode("QV.Clinical.PaymentSet.01")->Text,
              "script from configuration");

    // One id cannot name two scripts.
    EXPECT_NE(RaisedMessage([&] { host.State().Sql.SetScript({1001, "Other.Code", "x"}); }), "");
}

TEST(HostSim, GetLibraryAnswersNilWithAMessageWhenConfiguredSo) {
    TQvHostConfig config;
    config.LibraryNil = true;
    TQvHost host(config);
    ComPtr<IQVLibrary> library;
    BSTR message = nullptr;
    ASSERT_EQ(host.Application()->GetLibrary(library.out(), 0, &message), S_OK);
    EXPECT_FALSE(library);
    EXPECT_EQ(Text(message), "主应用程序库未加载。");
}

TEST(HostSim, OnlyALibraryOfVersionThreeOffersTheThirdInterface) {
    struct Case {
        double Version;
        bool Offers;
    };
    for (const Case c : {Case{2.9, false}, Case{3.0, true}, Case{3.5, true}}) {
        TQvHostConfig config;
        config.LibraryVersion = c.Version;
        TQvHost host(config);
        ComPtr<IQVLibrary> library;
        BSTR message = nullptr;
        ASSERT_EQ(host.Application()->GetLibrary(library.out(), 0, &message), S_OK);
        SysFreeString(message);
        EXPECT_TRUE(static_cast<bool>(library.As<IQVLibrary2>()));
        EXPECT_EQ(static_cast<bool>(library.As<IQVLibrary3>()), c.Offers) << c.Version;
        double version = 0;
        EXPECT_EQ(library->GetVersion(&version), S_OK);
        EXPECT_DOUBLE_EQ(version, c.Version);
    }
}

TEST(HostSim, FailureSwitchesMakeTheNamedStepFail) {
    TQvHostConfig config;
    config.Failures["GetName"] = "名称不可用";
    config.Version = 1.58;
    TQvHost host(config);
    BSTR name = nullptr;
    EXPECT_EQ(host.Application()->GetName(&name), E_UNEXPECTED);
    EXPECT_EQ(GetErrorInfoText(), "名称不可用");
    EXPECT_EQ(name, nullptr);
    double version = 0;
    EXPECT_EQ(host.Application()->GetVersion(&version), S_OK);
    EXPECT_DOUBLE_EQ(version, 1.58);
}

TEST(HostSim, UnusedSlotsAnswerNotImplemented) {
    TQvHost host;
    ComPtr<IQVLibrary3> library = host.Library();
    ComPtr<IQvApplication> app = host.Application();
    EXPECT_EQ(library->Reserved10(), E_NOTIMPL);
    EXPECT_EQ(library->Reserved38(), E_NOTIMPL);
    EXPECT_EQ(library->Reserved62(), E_NOTIMPL);
    EXPECT_EQ(library->Reserved80(), E_NOTIMPL);
    EXPECT_EQ(app->Reserved11(), E_NOTIMPL);
    EXPECT_EQ(app->Reserved19(), E_NOTIMPL);
}

TEST(HostSim, ComponentsAreFoundByNameOrAnsweredWithAMessage) {
    TQvHost host;
    ComPtr<IQVExtention> component;
    BSTR message = nullptr;
    ASSERT_EQ(
        host.Application()->GetLibraryComponent(WideString("Qv.Print").c_bstr(), &message, component.out()),
        S_OK);
    EXPECT_FALSE(component);
    EXPECT_EQ(Text(message), "组件Qv.Print不存在");

    host.State().LibraryComponents["QV.System"] = ComPtr<IQVExtention>(host.Library());
    message = nullptr;
    ASSERT_EQ(
        host.Application()->GetLibraryComponent(WideString("qv.system").c_bstr(), &message, component.out()),
        S_OK);
    EXPECT_TRUE(static_cast<bool>(component));
    SysFreeString(message);
}

TEST(HostSim, MessageBoxesAreRecordedAndAnsweredFromTheScript) {
    TQvHost host;
    host.State().MessageBoxAnswers = {6, 7};
    auto ask = [&](const char* text) {
        IQVMsgInfo info;
        info.Text = Utf8ToBstr(text);
        info.Flags = 36;
        int32_t result = 0;
        EXPECT_EQ(host.Application()->ShowMessageBox(&info, &result), S_OK);
        return result;
    };
    EXPECT_EQ(ask("第一"), 6);
    EXPECT_EQ(ask("第二"), 7);
    EXPECT_EQ(ask("第三"), 1); // script used up: OK
    host.State().MessageBoxHandler = [](const THostMessageBox& box) { return box.Text == "第四" ? 2 : 0; };
    EXPECT_EQ(ask("第四"), 2);
    ASSERT_EQ(host.State().MessageBoxes.size(), 4u);
    EXPECT_EQ(host.State().MessageBoxes[1].Text, "第二");
    EXPECT_EQ(host.State().MessageBoxes[1].Result, 7);
    EXPECT_EQ(host.State().MessageBoxes[3].Flags, 36);
}

TEST(HostSim, LogEntriesAreKeptAndAppendedToTheLogFile) {
    TTempFolder folder("log");
    TQvHostConfig config;
    config.LogFile = folder.Path() / "主机日志.log";
    { std::ofstream(config.LogFile) << "earlier line\n"; }
    TQvHost host(config);
    const WideString app("Plugin.QVClinicalPayCmd"), source("CoreDm"), title("执行详情"),
        detail("--脚本:\r\nselect 1\tx");
    ASSERT_EQ(host.Library()->WriteLog(3, app.c_bstr(), source.c_bstr(), title.c_bstr(), detail.c_bstr()),
              S_OK);
    ASSERT_EQ(host.State().Log.size(), 1u);
    EXPECT_EQ(host.State().Log[0].Detail, "--脚本:\r\nselect 1\tx");

    std::ifstream in(config.LogFile);
    std::string first, second, extra;
    std::getline(in, first);
    std::getline(in, second);
    EXPECT_EQ(first, "earlier line");
    // One line per entry: time, level, application, source, title, detail.
    EXPECT_NE(second.find("\t3\tPlugin.QVClinicalPayCmd\tCoreDm\t执行详情\t--脚本:\\r\\nselect 1\\tx"),
              std::string::npos)
        << second;
    EXPECT_FALSE(std::getline(in, extra));
}

TEST(HostSim, HostValuesAnswerFoundOrNot) {
    TQvHostConfig config;
    config.Values[".Programs Plugin.QVClinicalPayCmd;5"] = "0;3";
    TQvHost host(config);
    BSTR value = nullptr;
    EXPECT_EQ(host.Library()->GetValue(WideString(".programs plugin.qvclinicalpaycmd;5").c_bstr(), &value),
              1);
    EXPECT_EQ(Text(value), "0;3");
    value = nullptr;
    EXPECT_EQ(host.Library()->GetValue(WideString(".TimeOut").c_bstr(), &value), 0);
    EXPECT_EQ(value, nullptr);
}
