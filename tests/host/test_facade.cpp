// The host application facade against the stand-in host.
#include "QvHostSim.h"
#include "TestUtil.h"
#include "uIApplication.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

// ---------------------------------------------------------------------------------------
// Helpers

struct TConnected {
    TQvHost Host;
    TQvApplication App;
    explicit TConnected(TQvHostConfig AConfig = {}) : Host(std::move(AConfig)) {
        App.SetApplication(Host.Application().get());
        App.Connect();
    }
    std::vector<THostLogEntry>& Log() { return Host.State().Log; }
};

std::vector<std::string> gEvents;
TQvApplication* gWatched = nullptr;

void ListenerA(uint8_t APhase) {
    gEvents.push_back("A" + std::to_string(APhase) + (gWatched && gWatched->HasLibrary() ? "+lib" : ""));
}
void ListenerB(uint8_t APhase) {
    gEvents.push_back("B" + std::to_string(APhase));
}
void ListenerFails(uint8_t APhase) {
    gEvents.push_back("F" + std::to_string(APhase));
    throw Exception("监听器失败");
}
void ListenerSeesQvApp(uint8_t APhase) {
    gEvents.push_back(QvApp ? "QvApp" : "nil");
}

// The host's recyclable query, scripted with the rows of one column "ID".
struct TQueryTrace {
    std::string Sql;
    bool Opened = false;
    bool Closed = false;
};

class TFakeQuery : public TInterfacedObject<IQVRecycledQuery> {
public:
    TFakeQuery(std::shared_ptr<TQueryTrace> ATrace, std::vector<OleVariant> ARows, std::string AOpenError)
        : FTrace(std::move(ATrace)), FRows(std::move(ARows)), FOpenError(std::move(AOpenError)) {}
    HRESULT QV_STDCALL SetSQL(BSTR ASql) override {
        return SafeCall([&] { FTrace->Sql = BstrToUtf8(ASql); });
    }
    HRESULT QV_STDCALL Open() override {
        return SafeCall([&] {
            if (!FOpenError.empty()) throw Exception(FOpenError);
            FTrace->Opened = true;
        });
    }
    HRESULT QV_STDCALL GetEof(WordBool* AEof) override {
        return SafeCall([&] { *AEof = FPos >= FRows.size() ? -1 : 0; });
    }
    HRESULT QV_STDCALL Next() override {
        return SafeCall([&] { ++FPos; });
    }
    HRESULT QV_STDCALL GetFieldValue(BSTR AName, VARIANT* AValue) override {
        return SafeCall([&] {
            if (BstrToUtf8(AName) != "ID") throw Exception("字段不存在");
            const VARIANT& v = FRows.at(FPos).get();
            *AValue = v;
            if (v.vt == VT_BSTR) AValue->bstrVal = SysAllocStringLen(v.bstrVal, SysStringLen(v.bstrVal));
        });
    }
    HRESULT QV_STDCALL Close() override {
        return SafeCall([&] { FTrace->Closed = true; });
    }

private:
    std::shared_ptr<TQueryTrace> FTrace;
    std::vector<OleVariant> FRows;
    std::string FOpenError;
    size_t FPos = 0;
};

// A host component handing out one object.
class TFakeComponent : public TInterfacedObject<IQVExtention> {
public:
    explicit TFakeComponent(ComPtr<IInterface> AObject) : FObject(std::move(AObject)) {}
    HRESULT QV_STDCALL GetVersion(double*) override { return E_NOTIMPL; }
    HRESULT QV_STDCALL GetName(BSTR*) override { return E_NOTIMPL; }
    HRESULT QV_STDCALL GetMessage(BSTR*) override { return E_NOTIMPL; }
    HRESULT QV_STDCALL GetModuleHandle(QvHandle*) override { return E_NOTIMPL; }
    HRESULT QV_STDCALL GetInitialized(WordBool*) override { return E_NOTIMPL; }
    HRESULT QV_STDCALL Execute(int32_t, int32_t, BSTR*, int32_t*) override { return E_NOTIMPL; }
    HRESULT QV_STDCALL CreateObject(IInterface** AObject, int32_t AFlags, BSTR AName,
                                    int32_t* AResult) override {
        return SafeCall([&] {
            LastName = BstrToUtf8(AName);
            LastFlags = AFlags;
            *AObject = ComPtr<IInterface>(FObject).Detach();
            *AResult = 0; // the facade does not look at it
        });
    }
    std::string LastName;
    int32_t LastFlags = -1;

private:
    ComPtr<IInterface> FObject;
};

class TFakeIDCard : public TInterfacedObject<IQVIDCard> {};

class HostFacade : public ::testing::Test {
protected:
    void SetUp() override {
        gEvents.clear();
        gWatched = nullptr;
    }
};

} // namespace

// ---------------------------------------------------------------------------------------
// Connection and listeners

TEST_F(HostFacade, ConnectObtainsTheLibraryThenTellsListenersOnceEachInOrder) {
    TQvHost host;
    TQvApplication app;
    gWatched = &app;
    app.AddListener(&ListenerA);
    app.AddListener(&ListenerB);
    app.AddListener(&ListenerA); // a duplicate is ignored
    ASSERT_EQ(app.Listeners().size(), 2u);

    app.SetApplication(host.Application().get());
    EXPECT_TRUE(app.HasApplication());
    EXPECT_FALSE(app.HasLibrary());
    app.Connect();
    EXPECT_EQ(gEvents, (std::vector<std::string>{"A0+lib", "B0"}));
    EXPECT_TRUE(app.HasLibrary());
    EXPECT_NE(app.Library3(), nullptr);

    app.NotifyIdle();
    app.Disconnect();
    EXPECT_EQ(gEvents, (std::vector<std::string>{"A0+lib", "B0", "A2+lib", "B2", "A1+lib", "B1"}));
    EXPECT_FALSE(app.HasLibrary());
    EXPECT_EQ(app.Library3(), nullptr);
    EXPECT_TRUE(app.Listeners().empty());
    EXPECT_TRUE(app.HasApplication()); // the application stays until it is let go
}

TEST_F(HostFacade, ListenersHearPhaseZeroWithoutALibrary) {
    struct Case {
        const char* Name;
        bool WithApplication;
        bool LibraryNil;
    };
    const Case cases[] = {
        {"no host application", false, false},
        {"host answers no library", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        gEvents.clear();
        TQvHostConfig config;
        config.LibraryNil = c.LibraryNil;
        TQvHost host(config);
        TQvApplication app;
        gWatched = &app;
        app.AddListener(&ListenerA);
        if (c.WithApplication) app.SetApplication(host.Application().get());
        app.Connect();
        EXPECT_EQ(gEvents, std::vector<std::string>{"A0"});
        EXPECT_FALSE(app.HasLibrary());
    }
}

TEST_F(HostFacade, ConnectAsksForTheLibraryOnlyOnce) {
    TConnected c;
    // Asking again would now fail; a held library is not asked for again.
    c.Host.State().Config.Failures["GetLibrary"] = "不应再次请求";
    EXPECT_NO_THROW(c.App.Connect());
    EXPECT_TRUE(c.App.HasLibrary());
}

TEST_F(HostFacade, ConnectRaisesTheHostsFailureBeforeTellingListeners) {
    TQvHostConfig config;
    config.Failures["GetLibrary"] = "主程序库加载失败";
    TQvHost host(config);
    TQvApplication app;
    app.AddListener(&ListenerA);
    app.SetApplication(host.Application().get());
    EXPECT_EQ(RaisedMessage([&] { app.Connect(); }), "主程序库加载失败");
    EXPECT_TRUE(gEvents.empty());
}

TEST_F(HostFacade, LibraryBelowVersionThreeHasNoThirdInterface) {
    TQvHostConfig config;
    config.LibraryVersion = 2.5;
    config.SlaveConnection = [] { return reinterpret_cast<_Connection*>(0x1234); };
    TConnected c(config);
    EXPECT_TRUE(c.App.HasLibrary());
    EXPECT_EQ(c.App.Library3(), nullptr);
    EXPECT_EQ(c.App.GetSlaveConnection(), nullptr);
}

TEST_F(HostFacade, DisconnectTellsEveryListenerEvenWhenOneFails) {
    TConnected c;
    c.App.AddListener(&ListenerFails);
    c.App.AddListener(&ListenerB);
    gEvents.clear();
    EXPECT_EQ(RaisedMessage([&] { c.App.Disconnect(); }), "监听器失败");
    EXPECT_EQ(gEvents, (std::vector<std::string>{"F1", "B1"}));
    EXPECT_FALSE(c.App.HasLibrary());
    EXPECT_TRUE(c.App.Listeners().empty());
}

TEST_F(HostFacade, DestructionDisconnectsAndLetsTheHostGo) {
    TQvHost host;
    {
        TQvApplication app;
        app.SetApplication(host.Application().get());
        app.Connect();
        app.AddListener(&ListenerFails); // a failing listener does not stop the destruction
        app.AddListener(&ListenerB);
    }
    EXPECT_EQ(gEvents, (std::vector<std::string>{"F1", "B1"}));
    // Only the host's own references remain.
    EXPECT_EQ(host.Application()->AddRef(), 3u);
    host.Application()->Release();
}

TEST_F(HostFacade, SetTerminatedLogsEachChangeOnce) {
    TConnected c;
    c.App.SetTerminated(false); // no change
    c.App.SetTerminated(true);
    c.App.SetTerminated(true); // no change
    c.App.SetTerminated(false);
    ASSERT_EQ(c.Log().size(), 2u);
    for (const THostLogEntry& e : c.Log()) {
        EXPECT_EQ(e.Level, 2);
        EXPECT_EQ(e.AppName, "Quorvia");
        EXPECT_EQ(e.Source, "QvApplication");
        EXPECT_EQ(e.Title, "Terminated");
        EXPECT_EQ(e.Detail, "Terminated 终止应用程序接口");
    }
    EXPECT_FALSE(c.App.Terminated());
}

// ---------------------------------------------------------------------------------------
// Nothing reaches the host before the library is connected

TEST_F(HostFacade, LibraryOperationsAnswerNothingBeforeTheLibraryIsConnected) {
    TQvHostConfig config;
    config.SqlTexts[7515] = "select 1";
    config.SysParams[{100, 103010, 6, 1}] = "2";
    config.Values[".TimeOut"] = "60";
    config.Values[".Programs Quorvia;5"] = "1;2";
    TQvHost host(config);
    TQvApplication app;
    app.SetApplication(host.Application().get()); // application held, library not yet

    app.WriteLog(5, "src", "title", "detail");
    EXPECT_EQ(app.GetScript(7515), "");
    EXPECT_EQ(app.FormatScript(7515, {}), "");
    EXPECT_EQ(app.GetSysParam(100, 103010, 6, 1), "");
    std::string value = "stale";
    EXPECT_EQ(app.GetEnvValue(".TimeOut", value), 0);
    EXPECT_EQ(value, "");
    int32_t first = 7, second = 8;
    EXPECT_FALSE(app.GetProgramInfo(5, first, second));
    EXPECT_EQ(first, 7);
    EXPECT_EQ(second, 8);
    app.SetTerminated(true);
    EXPECT_TRUE(host.State().Log.empty());
}

TEST_F(HostFacade, ObjectsFromTheHostNeedTheLibrary) {
    TQvApplication app;
    EXPECT_EQ(RaisedMessage([&] { app.CreateXMLDocument(); }), "创建XML文档管理接口失败.");
    EXPECT_EQ(RaisedMessage([&] { app.CreateRecycledQuery(); }), "创建可回收的查询表失败.");
    EXPECT_EQ(RaisedMessage([&] { app.GetProgramID("QV.Clinical.PaymentSet.01"); }),
              "创建可回收的查询表失败.");
    // Operations used only while connected say so instead of failing obscurely.
    EXPECT_EQ(RaisedMessage([&] { app.GetConnectionMode(); }), "主应用程序库接口未连接。");
    EXPECT_EQ(RaisedMessage([&] { app.GetApplicationName(); }), "主应用程序接口未连接。");
    EXPECT_EQ(RaisedMessage([&] { app.ShowHostMessage("x", 0); }), "主应用程序接口未连接。");
    // Notices to an absent host are dropped.
    EXPECT_NO_THROW(app.ShowWait("请稍候"));
    EXPECT_NO_THROW(app.NotifyForm(2, 1));
}

// ---------------------------------------------------------------------------------------
// Log and texts

TEST_F(HostFacade, WriteLogSendsTheApplicationNameWithEveryEntry) {
    TConnected c;
    c.App.WriteLog(0, "CoreDm", "执行详情", "select 1");
    c.App.SetAppName("Plugin.QVClinicalPayCmd");
    c.App.WriteLog(5, "CoreDm", "SQL执行失败", "第二条");
    ASSERT_EQ(c.Log().size(), 2u);
    EXPECT_EQ(c.Log()[0].AppName, "Quorvia");
    EXPECT_EQ(c.Log()[0].Title, "执行详情");
    EXPECT_EQ(c.Log()[1].Level, 5);
    EXPECT_EQ(c.Log()[1].AppName, "Plugin.QVClinicalPayCmd");
    EXPECT_EQ(c.Log()[1].Detail, "第二条");
}

TEST_F(HostFacade, FormatScriptFillsPlaceholders) {
    TQvHostConfig config;
    config.SqlTexts[7523] = "select sVAI01 from VAK1 where VAK01 = %d and Code = %s";
    TConnected c(config);
    EXPECT_EQ(c.App.FormatScript(7523, {12, QuotedStr("a'b")}),
              "select sVAI01 from VAK1 where VAK01 = 12 and Code = 'a''b'");
    EXPECT_TRUE(c.Log().empty());
}

TEST_F(HostFacade, FormatScriptLogsTheScriptThenRaisesTheFormattingError) {
    TQvHostConfig config;
    config.Name = "QuorviaHost"; // the host's name is the entry's source
    config.SqlTexts[7400] = "select * from IAI1 where ACF01 = %d and IAA01 = %d";
    TConnected c(config);
    c.App.SetAppName("Plugin.QVClinicalPayCmd");

    std::string expected;
    try {
        Format("select * from IAI1 where ACF01 = %d and IAA01 = %d", {"x", 1});
    } catch (const std::exception& e) {
        expected = e.what();
    }
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(RaisedMessage([&] { c.App.FormatScript(7400, {"x", 1}); }), expected);
    ASSERT_EQ(c.Log().size(), 1u);
    EXPECT_EQ(c.Log()[0].Level, 5);
    EXPECT_EQ(c.Log()[0].AppName, "Plugin.QVClinicalPayCmd");
    EXPECT_EQ(c.Log()[0].Source, "QuorviaHost");
    EXPECT_EQ(c.Log()[0].Title, "提取脚本");
    EXPECT_EQ(c.Log()[0].Detail, "select * from IAI1 where ACF01 = %d and IAA01 = %d");
}

TEST_F(HostFacade, TextsAndValuesComeFromTheLibrary) {
    TQvHostConfig config;
    config.SqlTexts[2251] = "select IAA01, IAA03, ROWNR from IAA1";
    config.SysParams[{9999, 9999, 98, 1}] = "15";
    config.Values[".TimeOut"] = "60";
    config.Vars["DeptId"] = "12";
    config.ResourceTexts["DEVRES4.3"] = "[zh-CN]";
    config.ConnectionMode = 2;
    config.ConnectionString = "Provider=QvHospitalLite;Data Source=demo.db";
    config.ResourceModule = 77;
    TConnected c(config);
    EXPECT_EQ(c.App.GetScript(2251), "select IAA01, IAA03, ROWNR from IAA1");
    EXPECT_NE(c.App.GetScript(1).find("不存在"), std::string::npos); // the library's own message
    EXPECT_EQ(c.App.GetSysParam(9999, 9999, 98, 1), "15");
    EXPECT_EQ(c.App.GetSysParam(1, 2, 3, 4), "");
    std::string value;
    EXPECT_EQ(c.App.GetEnvValue(".timeout", value), 1);
    EXPECT_EQ(value, "60");
    EXPECT_EQ(c.App.GetEnvValue(".Missing", value), 0);
    EXPECT_EQ(value, "");
    EXPECT_EQ(c.App.GetVar("DeptId"), "12");
    EXPECT_EQ(c.App.GetResourceText("DEVRES4.3"), "[zh-CN]");
    EXPECT_EQ(c.App.GetResourceModule(), 77u);
    EXPECT_EQ(c.App.GetConnectionMode(), 2);
    EXPECT_EQ(c.App.GetConnectionString(), "Provider=QvHospitalLite;Data Source=demo.db");
    EXPECT_EQ(c.App.GetHostName(), "QV-CLINIC-01");
    EXPECT_EQ(c.App.GetHostIP(), "127.0.0.1");
    EXPECT_EQ(c.App.GetHostMAC(), "00-16-3E-00-00-01");
}

TEST_F(HostFacade, HostFailuresReachTheCallerWithTheHostsMessage) {
    struct Case {
        const char* Operation;
        std::function<void(TQvApplication&)> Call;
    };
    const Case cases[] = {
        {"Library.GetScript", [](TQvApplication& a) { a.GetScript(86); }},
        {"Library.GetSysParam", [](TQvApplication& a) { a.GetSysParam(1, 2, 3, 4); }},
        {"Library.WriteLog", [](TQvApplication& a) { a.WriteLog(0, "s", "t", "d"); }},
        {"Library.CreateXMLDocument", [](TQvApplication& a) { a.CreateXMLDocument(); }},
        {"Library.GetConnection", [](TQvApplication& a) { a.GetConnection(); }},
        {"GetSystemInfo",
         [](TQvApplication& a) {
             IQvSystemInfo r;
             a.GetSystemInfo(r);
         }},
        {"GetPathInfo",
         [](TQvApplication& a) {
             IQvPathInfo r;
             a.GetPathInfo(r);
         }},
        {"ShowMessageBox", [](TQvApplication& a) { a.ShowHostMessage("x", 0); }},
        {"Wait", [](TQvApplication& a) { a.ShowWait("x"); }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.Operation);
        TConnected c;
        c.Host.State().Config.Failures[k.Operation] = std::string("主机拒绝：") + k.Operation;
        try {
            k.Call(c.App);
            ADD_FAILURE() << "no error";
        } catch (const EOleException& e) {
            EXPECT_EQ(std::string(e.what()), std::string("主机拒绝：") + k.Operation);
            EXPECT_EQ(e.ErrorCode(), E_UNEXPECTED);
        }
    }
}

// ---------------------------------------------------------------------------------------
// Program numbers and ids

TEST_F(HostFacade, GetProgramInfoReadsTheHostValueOfTheProgram) {
    struct Case {
        const char* Name;
        const char* Value; // nullptr: the host has no such value
        bool Result;
        int32_t First, Second;
    };
    const Case cases[] = {
        {"two numbers", "3;4", true, 3, 4},          {"no separator: outputs unchanged", "12", true, 7, 8},
        {"not numbers give 0", "a;", true, 0, 0},    {"only the first separator splits", "3;4;5", true, 3, 0},
        {"host has no value", nullptr, false, 7, 8},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.Name);
        TQvHostConfig config;
        if (k.Value) config.Values[".Programs Plugin.QVClinicalPayCmd;1024"] = k.Value;
        config.Values[".Programs Quorvia;1024"] = "99;99"; // another application's entry
        TConnected c(config);
        c.App.SetAppName("Plugin.QVClinicalPayCmd");
        int32_t first = 7, second = 8;
        EXPECT_EQ(c.App.GetProgramInfo(1024, first, second), k.Result);
        EXPECT_EQ(first, k.First);
        EXPECT_EQ(second, k.Second);
    }
}

TEST_F(HostFacade, GetProgramIDRunsScript86WithTheQuotedCode) {
    struct Case {
        const char* Name;
        std::string Code;
        std::vector<OleVariant> Rows;
        std::string Sql;
        int32_t ID;
    };
    const Case cases[] = {
        {"first row's ID",
         "QV.Clinical.PaymentSet.01",
         {OleVariant(42), OleVariant(43)},
         "select ID from QVScript where Code = 'QV.Clinical.PaymentSet.01'",
         42},
        {"no row gives 0",
         "QV.Clinical.YS.ZJJSDY.01",
         {},
         "select ID from QVScript where Code = 'QV.Clinical.YS.ZJJSDY.01'",
         0},
        {"embedded quote doubled",
         "O'Neil",
         {OleVariant(7)},
         "select ID from QVScript where Code = 'O''Neil'",
         7},
        {"ID as text", "X", {OleVariant("17")}, "select ID from QVScript where Code = 'X'", 17},
        {"null ID", "X", {OleVariant::Null()}, "select ID from QVScript where Code = 'X'", 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.Name);
        auto trace = std::make_shared<TQueryTrace>();
        TQvHostConfig config;
        config.SqlTexts[86] = "select ID from QVScript where Code = %s";
        config.RecycledQuery = [&] {
            return ComPtr<IQVRecycledQuery>(MakeCom<TFakeQuery>(trace, k.Rows, ""));
        };
        TConnected c(config);
        EXPECT_EQ(c.App.GetProgramID(k.Code), k.ID);
        EXPECT_EQ(trace->Sql, k.Sql);
        EXPECT_TRUE(trace->Opened);
        EXPECT_TRUE(trace->Closed);
    }
}

TEST_F(HostFacade, GetProgramIDClosesTheQueryWhenItFails) {
    auto trace = std::make_shared<TQueryTrace>();
    TQvHostConfig config;
    config.SqlTexts[86] = "select ID from QVScript where Code = %s";
    config.RecycledQuery = [&] {
        return ComPtr<IQVRecycledQuery>(
            MakeCom<TFakeQuery>(trace, std::vector<OleVariant>{}, "对象名 'QVScript' 无效。"));
    };
    TConnected c(config);
    EXPECT_EQ(RaisedMessage([&] { c.App.GetProgramID("X"); }), "对象名 'QVScript' 无效。");
    EXPECT_TRUE(trace->Closed);
}

TEST_F(HostFacade, CreateRecycledQueryRaisesTheHostsMessageWithoutADatabase) {
    TConnected c; // no RecycledQuery configured
    EXPECT_EQ(RaisedMessage([&] { c.App.CreateRecycledQuery(); }),
              "主应用程序没有数据库连接，无法创建查询。");
}

// ---------------------------------------------------------------------------------------
// Components

TEST_F(HostFacade, CreateInterfaceRaisesTheHostsMessageForAMissingComponent) {
    TConnected c;
    EXPECT_EQ(RaisedMessage([&] { c.App.CreateInterface("IQVPOSClient", 0); }), "组件IQVPOSClient不存在");
    EXPECT_EQ(RaisedMessage([&] { c.App.GetIDCard(); }), "组件IQVIDCard不存在");
}

TEST_F(HostFacade, CreateInterfaceAsksTheComponentForTheNamedObject) {
    TConnected c;
    ComPtr<IInterface> card(static_cast<IInterface*>(MakeCom<TFakeIDCard>().get()));
    auto component = MakeCom<TFakeComponent>(card);
    c.Host.State().InterfaceComponents["IQVIDCard"] = ComPtr<IQVExtention>(component);

    ComPtr<IInterface> object = c.App.CreateInterface("IQVIDCard", 5);
    EXPECT_EQ(object.get(), card.get());
    EXPECT_EQ(component->LastName, "IQVIDCard");
    EXPECT_EQ(component->LastFlags, 5);
    EXPECT_TRUE(static_cast<bool>(c.App.GetIDCard()));
    EXPECT_EQ(component->LastFlags, 0);
}

TEST_F(HostFacade, GetIDCardRaisesWhenTheObjectIsNoCardReader) {
    TConnected c;
    ComPtr<IInterface> other(static_cast<IInterface*>(NewHostXMLDocument().get()));
    c.Host.State().InterfaceComponents["IQVIDCard"] = ComPtr<IQVExtention>(MakeCom<TFakeComponent>(other));
    EXPECT_EQ(RaisedMessage([&] { c.App.GetIDCard(); }), "接口组件IQVIDCard不支持IQVIDCard接口。");
}

// ---------------------------------------------------------------------------------------
// Records and the user interface through the host

TEST_F(HostFacade, RecordsComeFromTheHostApplication) {
    TQvHostConfig config;
    config.Title = "门诊医生站";
    config.MainWindow = 0x1001;
    config.Icon = 0x2002;
    config.UserID = 15;
    config.UserCode = "0015";
    config.UserName = "张医生";
    config.LoginTime = 45356.5;
    config.WorkPath = "/tmp/工作目录";
    config.FontName = "微软雅黑";
    config.UseFont = true;
    config.FontSize = 10;
    config.FontStyle = 2;
    config.WindowMode = 1;
    config.BorderFlag = true;
    config.SkinIndex = 3;
    config.ImeName = "搜狗拼音输入法";
    config.ColorSchemeIndex = 4;
    TConnected c(config);

    IQvSystemInfo system;
    system.Title = Utf8ToBstr("旧标题"); // cleared before the call
    c.App.GetSystemInfo(system);
    EXPECT_EQ(BstrToUtf8(system.Title), "门诊医生站");
    EXPECT_EQ(system.MainWindow, 0x1001u);
    EXPECT_EQ(system.Icon, 0x2002u);

    IQvUserInfo user;
    c.App.GetUserInfo(user);
    EXPECT_EQ(user.UserID, 15);
    EXPECT_EQ(BstrToUtf8(user.UserCode), "0015");
    EXPECT_EQ(BstrToUtf8(user.UserName), "张医生");
    EXPECT_DOUBLE_EQ(user.LoginTime, 45356.5);

    IQvPathInfo paths;
    c.App.GetPathInfo(paths);
    EXPECT_EQ(BstrToUtf8(paths.WorkPath), "/tmp/工作目录/"); // file names are appended directly

    IQVFontInfo font;
    c.App.GetFontInfo(font);
    EXPECT_EQ(BstrToUtf8(font.Name), "微软雅黑");
    EXPECT_EQ(font.UseFont, -1);
    EXPECT_EQ(font.Size, 10);
    EXPECT_EQ(font.Style, 2);

    IQvConfigInfo cfg;
    c.App.GetConfigInfo(cfg);
    EXPECT_EQ(cfg.WindowMode, 1);
    EXPECT_EQ(cfg.BorderFlag, -1);
    EXPECT_EQ(cfg.SkinIndex, 3);
    EXPECT_EQ(cfg.ColorSchemeIndex, 4);
    EXPECT_EQ(BstrToUtf8(cfg.ImeName), "搜狗拼音输入法");

    EXPECT_EQ(c.App.GetApplicationName(), "Quorvia");
}

TEST_F(HostFacade, ShowHostMessageFillsTheMessageRecord) {
    TQvHostConfig config;
    config.Title = "门诊医生站";
    TConnected c(config);
    c.Host.State().MessageBoxAnswers = {6};
    const auto savedHook = QvActiveWindowHandleHook;
    QvActiveWindowHandleHook = [] { return static_cast<QvHandle>(0x4321); };
    const int32_t result = c.App.ShowHostMessage("结算失败！", 16, 3, 4);
    QvActiveWindowHandleHook = savedHook;

    EXPECT_EQ(result, 6);
    ASSERT_EQ(c.Host.State().MessageBoxes.size(), 1u);
    const THostMessageBox& box = c.Host.State().MessageBoxes[0];
    EXPECT_EQ(box.Owner, 0x4321u);
    EXPECT_EQ(box.Flags, 16);
    EXPECT_EQ(box.Param3, 3);
    EXPECT_EQ(box.Param4, 4);
    EXPECT_EQ(box.Caption, "门诊医生站");
    EXPECT_EQ(box.Text, "结算失败！");
    // Without a scripted answer the host answers OK.
    EXPECT_EQ(c.App.ShowHostMessage("second", 0), 1);
}

TEST_F(HostFacade, WaitNoticesAndWindowNotificationsReachTheHost) {
    TConnected c;
    c.App.ShowWait("正在结算，请稍候...");
    c.App.EndWait();
    c.App.AbortWait();
    c.App.NotifyForm(2, 0x99);
    const auto& waits = c.Host.State().WaitCalls;
    ASSERT_EQ(waits.size(), 3u);
    EXPECT_EQ(waits[0].Zero, 0);
    EXPECT_EQ(waits[0].Text, "正在结算，请稍候...");
    EXPECT_EQ(waits[0].Kind, 1);
    EXPECT_EQ(waits[1].Kind, 2);
    EXPECT_EQ(waits[2].Kind, 4);
    ASSERT_EQ(c.Host.State().FormNotices.size(), 1u);
    EXPECT_EQ(c.Host.State().FormNotices[0].Kind, 2);
    EXPECT_EQ(c.Host.State().FormNotices[0].Handle, 0x99u);
    EXPECT_EQ(c.Host.State().FormNotices[0].Zero, 0);
}

TEST_F(HostFacade, CreateMessageFontComesFromTheHook) {
    TQvApplication app;
    const auto saved = QvMessageFontHook;
    QvMessageFontHook = nullptr;
    EXPECT_EQ(app.CreateMessageFont(), 0u); // metrics cannot be read
    QvMessageFontHook = [](TMessageFont& f) {
        f.Name = "微软雅黑";
        f.Size = 9;
        return true;
    };
    const QvHandle font = app.CreateMessageFont();
    QvMessageFontHook = saved;
    ASSERT_NE(font, 0u);
    EXPECT_EQ(reinterpret_cast<TMessageFont*>(font)->Name, "微软雅黑");
    EXPECT_EQ(reinterpret_cast<TMessageFont*>(font)->Size, 9);
    FreeMessageFont(font);
    EXPECT_TRUE(TQvApplication::IsLibraryModule());
}

// ---------------------------------------------------------------------------------------
// The facade's life in the module

TEST_F(HostFacade, ModuleLoadCreatesQvAppAndReleaseDestroysIt) {
    ASSERT_NE(QvApp, nullptr); // created when the module loaded
    EXPECT_EQ(QvApp->AppName(), "Quorvia");
    EXPECT_FALSE(QvApp->Terminated());
    EXPECT_FALSE(QvApp->HasApplication());
    std::error_code ec;
    EXPECT_TRUE(std::filesystem::equivalent(QvApp->ModuleFileName(), "/proc/self/exe", ec));
    // This test program carries the project's version block.
    EXPECT_EQ(TQvApplication::GetModuleVersion(false), "0008.0000.0001.0033");
    EXPECT_EQ(TQvApplication::GetModuleVersion(true), "'0008.0000.0001.0033'");

    TQvHost host;
    QvApp->SetApplication(host.Application().get());
    QvApp->Connect();
    QvApp->AddListener(&ListenerSeesQvApp);
    FreeQvApp();
    EXPECT_EQ(QvApp, nullptr);
    // As FreeAndNil: the listeners already see no facade while they are told phase 1.
    EXPECT_EQ(gEvents, std::vector<std::string>{"nil"});
    FreeQvApp(); // a second release does nothing
    EXPECT_EQ(QvApp, nullptr);

    CreateQvApp();
    ASSERT_NE(QvApp, nullptr);
    EXPECT_FALSE(QvApp->HasLibrary());
}
