// The extension package in-process: framework commands, the window registry, showing
// registered windows, the settings hooks and the teardown, against the stand-in host.
#include "FrameworkTestForms.h"

#include "QvScriptedUser.h"

#include <QApplication>
#include <QLineEdit>
#include <QTimer>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <algorithm>
#include <functional>

namespace {

std::vector<uint8_t>& Phases() {
    static std::vector<uint8_t> phases;
    return phases;
}
void RecordPhase(uint8_t APhase) {
    Phases().push_back(APhase);
}

// Runs a call inside the next modal loop (queued before the window is shown).
void InsideModalLoop(std::function<void()> ACall) {
    QMetaObject::invokeMethod(qApp, std::move(ACall), Qt::QueuedConnection);
}

class PackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        TFormTrace::Clear();
        TRecordingPackage::Hooks().clear();
        Phases().clear();
        if (!QvApp) CreateQvApp();
    }
    void TearDown() override {
        Package = nullptr;
        FreeQvApp();
        Host.reset();
        // Nothing of a test may survive it.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(CasePackage, nullptr);
    }

    TRecordingPackage& Connect(TQvHostConfig AConfig = {}) {
        Host = std::make_unique<TQvHost>(std::move(AConfig));
        QvApp->SetApplication(Host->Application().get());
        QvApp->AddListener(&RecordPhase);
        Package = TRecordingPackage::Create();
        CasePackage = Package.get();
        return *Package;
    }

    // IQVExtention::Execute with UTF-8 text.
    int32_t Run(int32_t ACommand, int32_t AParam, std::string& AData) {
        BSTR data = Utf8ToBstr(AData);
        int32_t result = -99;
        EXPECT_EQ(Package->Execute(ACommand, AParam, &data, &result), S_OK);
        AData = BstrToUtf8(data);
        SysFreeString(data);
        return result;
    }
    int32_t Run(int32_t ACommand, int32_t AParam = 0) {
        std::string data;
        return Run(ACommand, AParam, data);
    }

    std::vector<std::string> Trace() const { return TFormTrace::Get().Events; }

    std::unique_ptr<TQvHost> Host;
    ComPtr<TRecordingPackage> Package;
};

// --- Showing registered windows

TEST_F(PackageTest, DialogFormShowsModallyAndHandsBackItsResultTextOnlyOnOk) {
    struct Case {
        const char* Name;
        TScriptStep Step;
        int32_t Result;
        const char* Data;
    };
    const Case cases[] = {
        {"ok", TScriptStep::Press("btn_OK"), 1, "reply:ACF01=1"},
        {"closed", TScriptStep::Close(), 2, "ACF01=1"},
        {"escape", TScriptStep::Escape(), 2, "ACF01=1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        SetUp();
        Connect().RegisterForm(7, FormClassOf<TTestDialog>(), "对话框", true, "");
        TScriptedUser user({c.Step});
        std::string data = "ACF01=1";
        EXPECT_EQ(Run(7, 0, data), c.Result);
        EXPECT_EQ(data, c.Data);
        ASSERT_EQ(user.Windows().size(), 1u);
        EXPECT_EQ(user.Windows()[0].ClassName, "TTestDialog");
        // The window got the command number and the text before it was shown, and is gone.
        EXPECT_EQ(Trace(),
                  (std::vector<std::string>{"created", "program:7", "runparam:ACF01=1", "destroyed"}));
        EXPECT_TRUE(Package->OpenForms().empty());
        TearDown();
    }
}

TEST_F(PackageTest, ModalWindowIsListedWhileShownAndBlocksReleasingCaches) {
    Connect().RegisterForm(7, FormClassOf<TTestDialog>(), "对话框", true, "");
    TScriptedUser user({TScriptStep::Close()});
    std::string openList;
    int32_t openResult = 0, idleResult = 0;
    InsideModalLoop([&] {
        openResult = Run(-3, 0, openList);
        idleResult = Run(-7);
    });
    std::string data;
    EXPECT_EQ(Run(7, 0, data), 2);

    EXPECT_EQ(openResult, 1);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(openList.c_str())) << openList;
    const pugi::xml_node item = doc.child("FormList").child("Item");
    EXPECT_STREQ(item.attribute("ID").value(), "0");
    EXPECT_STREQ(item.attribute("FormClass").value(), "TTestDialog");
    EXPECT_STREQ(item.attribute("Caption").value(), "测试对话框");
    EXPECT_STREQ(item.attribute("Visible").value(), "True");
    EXPECT_NE(std::string(item.attribute("Handle").value()), "0");
    EXPECT_FALSE(item.next_sibling("Item"));

    // With the modal window open the listeners were not told to release caches...
    EXPECT_EQ(idleResult, 3);
    EXPECT_TRUE(std::find(Phases().begin(), Phases().end(), QvPhaseReleaseCaches) == Phases().end());
    // ...without one they are.
    EXPECT_EQ(Run(-7), 1);
    EXPECT_EQ(Phases().back(), QvPhaseReleaseCaches);
}

TEST_F(PackageTest, PlainWindowShowsWithoutWaitingAndIsReusedForItsCommand) {
    Connect().RegisterForm(8, FormClassOf<TTestWindow>(), "窗口", true, "");
    std::string data = "X=1";
    EXPECT_EQ(Run(8, 0, data), 1);
    EXPECT_EQ(data, "X=1");
    ASSERT_EQ(Package->OpenForms().size(), 1u);
    QWidget* window = Package->OpenForms()[0];
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isModal());
    EXPECT_TRUE(window->windowState() & Qt::WindowMaximized);

    // The same command again brings the open window forward with the new text.
    data = "X=2";
    EXPECT_EQ(Run(8, 0, data), 1);
    ASSERT_EQ(Package->OpenForms().size(), 1u);
    EXPECT_EQ(Package->OpenForms()[0], window);
    EXPECT_EQ(Trace(), (std::vector<std::string>{"created", "program:8", "runparam:X=1", "runparam:X=2"}));

    // The user closes it: it frees itself and leaves the open list.
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(Trace().back(), "destroyed");
    std::string list = "junk";
    EXPECT_EQ(Run(-3, 0, list), 0);
    EXPECT_EQ(list, "");
}

TEST_F(PackageTest, WindowModeOneDropsTheBorderUnlessTheHostKeepsIt) {
    struct Case {
        int32_t WindowMode;
        bool BorderFlag;
        bool Frameless;
    };
    const Case cases[] = {{0, false, false}, {1, false, true}, {1, true, false}, {2, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.WindowMode << " border " << c.BorderFlag);
        SetUp();
        TQvHostConfig config;
        config.WindowMode = c.WindowMode;
        config.BorderFlag = c.BorderFlag;
        Connect(config).RegisterForm(8, FormClassOf<TTestWindow>(), "窗口", true, "");
        EXPECT_EQ(Package->WindowMode(), c.WindowMode);
        EXPECT_EQ(Run(8), 1);
        ASSERT_EQ(Package->OpenForms().size(), 1u);
        EXPECT_EQ(bool(Package->OpenForms()[0]->windowFlags() & Qt::FramelessWindowHint), c.Frameless);
        TearDown();
    }
}

TEST_F(PackageTest, ModeOneOrAlphaBlendNinetyNineShowsAnyWindowModally) {
    struct Case {
        const char* Name;
        TFormClass Class;
        int32_t Mode;
    };
    const Case cases[] = {
        {"plain form, mode 1", FormClassOf<TTestWindow>(), 1},
        {"Qt dialog with alpha-blend 99", FormClassOf<TPlainDialog>(), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        SetUp();
        Connect().RegisterForm(9, c.Class, "窗口", true, "");
        TScriptedUser user({TScriptStep::Close()});
        std::string data = "A=1";
        EXPECT_EQ(Run(9, c.Mode, data), 2);
        EXPECT_EQ(data, "A=1");
        EXPECT_EQ(user.Windows().size(), 1u); // the scripted user sees modal windows only
        EXPECT_EQ(Trace().back(), "destroyed");
        EXPECT_TRUE(Package->OpenForms().empty());
        TearDown();
    }
}

TEST_F(PackageTest, WindowThatFailsIsFreedOnceAndItsErrorBecomesTheMessage) {
    struct Case {
        const char* Name;
        TFormClass Class;
        std::vector<TScriptStep> Steps;
        const char* Message;
    };
    const Case cases[] = {
        {"refuses its text", FormClassOf<TRefusingWindow>(), {}, "窗口参数无效：abc"},
        {"fails to construct", FormClassOf<TBrokenWindow>(), {}, "窗口创建失败"},
        {"fails handing back its result",
         FormClassOf<TFailingResultDialog>(),
         {TScriptStep::Press("btn_OK")},
         "结果读取失败"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        SetUp();
        Connect().RegisterForm(11, c.Class, "窗口", true, "");
        TScriptedUser user(c.Steps);
        std::string data = "abc";
        EXPECT_EQ(Run(11, 0, data), 3);
        EXPECT_EQ(data, "abc");
        EXPECT_EQ(Package->Message(), c.Message);
        EXPECT_TRUE(Package->OpenForms().empty());
        const auto trace = Trace();
        EXPECT_EQ(std::count(trace.begin(), trace.end(), "created"),
                  std::count(trace.begin(), trace.end(), "destroyed"));
        TearDown();
    }
}

TEST_F(PackageTest, CommandWithoutWindowOrVetoedOpensNothing) {
    TRecordingPackage& package = Connect();
    package.RegisterForm(65535, nullptr, "", false, ""); // a separator has no window
    EXPECT_EQ(Run(5), 3);
    EXPECT_EQ(package.Message(), "命令(5)不存在或没有注册窗口");
    EXPECT_EQ(Run(65535), 3);
    EXPECT_EQ(package.Message(), "命令(65535)不存在或没有注册窗口");

    package.RegisterForm(7, FormClassOf<TTestDialog>(), "对话框", true, "");
    package.Veto = 9;
    EXPECT_EQ(Run(7), 9);
    EXPECT_TRUE(Trace().empty());
}

// --- The registry and the command list

TEST_F(PackageTest, CommandListHoldsVisibleRegistrationsAndSeparators) {
    TRecordingPackage& package = Connect();
    std::string data = "junk";
    EXPECT_EQ(Run(-1, 0, data), 0);
    EXPECT_EQ(data, "");

    package.RegisterForm(7, FormClassOf<TTestDialog>(), "对话框", true, "说明<一>");
    package.RegisterForm(8, FormClassOf<TTestWindow>(), "隐藏窗口", false, "");
    package.RegisterForm(65535, nullptr, "", false, "");
    EXPECT_EQ(Run(-1, 0, data), 1);

    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(data.c_str())) << data;
    const pugi::xml_node root = doc.child("FormList");
    EXPECT_STREQ(root.attribute("Ver").value(), "2.8");
    EXPECT_EQ(root.attribute("Cmd").value(), QvApp->ModuleFileName());
    std::vector<std::string> items;
    for (pugi::xml_node item : root.children("Item"))
        items.push_back(std::string(item.attribute("ID").value()) + "|" +
                        item.attribute("FormClass").value() + "|" + item.attribute("Caption").value() + "|" +
                        item.text().get());
    EXPECT_EQ(items, (std::vector<std::string>{"7|TTestDialog|对话框|说明<一>", "65535|Separator||"}));
}

TEST_F(PackageTest, RegistryAnswersFromTheLastRegistrationOfAnID) {
    TRecordingPackage& package = Connect();
    package.RegisterForm(7, FormClassOf<TTestDialog>(), "一", true, "");
    package.RegisterForm(7, FormClassOf<TTestWindow>(), "二", true, "");
    EXPECT_EQ(package.GetFormClass(7), FormClassOf<TTestWindow>());
    EXPECT_EQ(package.GetFormClass(6), nullptr);
    EXPECT_EQ(package.SetCommandData(7, 42), 42);
    EXPECT_EQ(package.Registrations()[0].Data, 0);
    EXPECT_EQ(package.Registrations()[1].Data, 42);
    EXPECT_EQ(package.SetCommandData(99, 5), 5); // no such registration: nothing stored
}

TEST_F(PackageTest, OpenListPositionsAndLookupByExactClassName) {
    TRecordingPackage& package = Connect();
    TTestWindow first, second;
    EXPECT_EQ(package.AddOpenForm(&first), 0);
    EXPECT_EQ(package.AddOpenForm(&second), 1);
    EXPECT_EQ(package.AddOpenForm(&first), 1); // already listed: its position plus one
    EXPECT_EQ(package.FindOpenForm("TTestWindow"), &first);
    EXPECT_EQ(package.FindOpenForm("ttestwindow"), nullptr);
    package.UnregisterForm(&first);
    package.UnregisterForm(&first); // absent: nothing
    EXPECT_EQ(package.OpenForms(), std::vector<QWidget*>{&second});
}

TEST_F(PackageTest, PackageThatDidNotInitialiseIgnoresRegistrations) {
    Host = std::make_unique<TQvHost>();
    QvApp->SetApplication(Host->Application().get());
    Package = TRecordingPackage::Create("其他系统");
    ASSERT_FALSE(Package->Initialized());
    Package->RegisterForm(7, FormClassOf<TTestDialog>(), "对话框", true, "");
    EXPECT_TRUE(Package->Registrations().empty());
    EXPECT_EQ(Run(7), 3);
}

// --- Host settings

TEST_F(PackageTest, InitialisationAdoptsTheHostInOrder) {
    TQvHostConfig config;
    config.Title = "门诊医生站";
    config.MainWindow = 0x1234;
    config.Icon = 0x99;
    TRecordingPackage& package = Connect(config);
    ASSERT_TRUE(package.Initialized()) << package.Message();
    EXPECT_DOUBLE_EQ(package.Version(), 2.8);
    EXPECT_EQ(TRecordingPackage::Hooks(),
              (std::vector<std::string>{"connection", "fonts", "appearance", "notify", "formats"}));
    EXPECT_EQ(QvApp->AppName(), "Plugin.QVClinicalPayCmd");
    EXPECT_EQ(Application->Title, "门诊医生站");
    EXPECT_EQ(Application->Handle, 0x1234u);
    EXPECT_EQ(Application->IconHandle, 0x99u);
    EXPECT_EQ(Phases(), std::vector<uint8_t>{QvPhaseConnected});
}

TEST_F(PackageTest, SettingsCommandAppliesTheKindsAsked) {
    struct Case {
        int32_t Param;
        std::vector<std::string> Hooks;
    };
    const Case cases[] = {
        {0, {"fonts", "appearance", "notify"}},
        {-5, {"fonts", "appearance", "notify"}},
        {1, {"fonts"}},
        {2, {"appearance"}},
        {3, {"notify"}},
        {4, {}},
        {10, {"reconnect"}},
        {2147483647, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Param);
        SetUp();
        Connect();
        TRecordingPackage::Hooks().clear();
        EXPECT_EQ(Run(-2, c.Param), 1);
        EXPECT_EQ(TRecordingPackage::Hooks(), c.Hooks);
        TearDown();
    }
}

TEST_F(PackageTest, InputMethodNameReachesEditorsThatHaveOne) {
    TQvHostConfig config;
    config.ImeName = "搜狗拼音输入法";
    TRecordingPackage& package = Connect(config);
    QWidget container;
    auto* cx = new TcxTextEdit(&container);
    auto* plain = new TPlainImeEdit(&container);
    auto* line = new QLineEdit(&container);
    package.ApplyImeName(&container);
    EXPECT_EQ(cx->EditProperties()->FImeName, "搜狗拼音输入法");
    EXPECT_EQ(plain->FImeName, "搜狗拼音输入法");
    EXPECT_FALSE(line->property("ImeName").isValid());

    // Kind 9 gives every open window the host's current name; a new form gets it on creation.
    package.RegisterForm(8, FormClassOf<TTestWindow>(), "窗口", true, "");
    ASSERT_EQ(Run(8), 1);
    auto* edit = new TPlainImeEdit(package.OpenForms()[0]);
    Host->State().Config.ImeName = "微软拼音";
    EXPECT_EQ(Run(-2, 9), 1);
    EXPECT_EQ(edit->FImeName, "微软拼音");
}

TEST_F(PackageTest, HostFontReachesOpenWindows) {
    TRecordingPackage& package = Connect();
    package.RegisterForm(8, FormClassOf<TTestWindow>(), "窗口", true, "");
    ASSERT_EQ(Run(8), 1);
    Host->State().Config.UseFont = true;
    Host->State().Config.FontSize = 15;
    Host->State().Config.FontStyle = 3;
    EXPECT_EQ(Run(-2, 1), 1);
    const QFont font = package.OpenForms()[0]->font();
    EXPECT_EQ(font.pointSize(), 15);
    EXPECT_TRUE(font.bold());
    EXPECT_TRUE(font.italic());
}

// --- Teardown

TEST_F(PackageTest, ReleasingThePackageClosesItsWindowsAndDisconnects) {
    TRecordingPackage& package = Connect();
    package.RegisterForm(8, FormClassOf<TTestWindow>(), "窗口", true, "");
    ASSERT_EQ(Run(8), 1);
    const QvHandle handle = static_cast<QvHandle>(package.OpenForms()[0]->winId());
    TRecordingPackage::Hooks().clear();
    Package = nullptr;

    EXPECT_EQ(CasePackage, nullptr);
    EXPECT_EQ(Trace().back(), "destroyed");
    ASSERT_EQ(Host->State().FormNotices.size(), 1u);
    EXPECT_EQ(Host->State().FormNotices[0].Kind, 2);
    EXPECT_EQ(Host->State().FormNotices[0].Handle, handle);
    EXPECT_EQ(TRecordingPackage::Hooks(), std::vector<std::string>{"detach"});
    // Termination entry, the release entry, the facade's termination, in that order.
    std::vector<std::string> entries;
    for (const THostLogEntry& e : Host->State().Log)
        if (e.Title == "Terminated" || e.Title == "释放接口")
            entries.push_back(std::to_string(e.Level) + "|" + e.Source + "|" + e.Title + "|" + e.Detail);
    EXPECT_EQ(entries, (std::vector<std::string>{"2|Dll 接口|Terminated|准备终止DLL接口",
                                                 "0|CaseCore核心接口|释放接口|未释放的窗口：",
                                                 "2|QvApplication|Terminated|Terminated 终止应用程序接口"}));
    EXPECT_EQ(Phases().back(), QvPhaseDisconnecting);
    EXPECT_FALSE(QvApp->HasLibrary());
    EXPECT_TRUE(QvApp->Listeners().empty());
}

TEST_F(PackageTest, WindowsStillOnTheScreenAreNamedWhenThePackageGoes) {
    Connect();
    TTestWindow stray; // a plug-in window that is not on the package's list
    Package = nullptr;
    bool found = false;
    for (const THostLogEntry& e : Host->State().Log)
        if (e.Title == "释放接口") found = e.Detail.find("TTestWindow\r\n") != std::string::npos;
    EXPECT_TRUE(found);
}

TEST_F(PackageTest, PackageReleasedAfterTheFacadeStillFreesItsWindows) {
    TRecordingPackage& package = Connect();
    package.RegisterForm(8, FormClassOf<TTestWindow>(), "窗口", true, "");
    ASSERT_EQ(Run(8), 1);
    FreeQvApp();
    // Without the facade every command is refused.
    EXPECT_EQ(Run(-10), 3);
    EXPECT_EQ(package.Message(), "加载核心接口失败。");
    const size_t logged = Host->State().Log.size();
    Package = nullptr;
    EXPECT_EQ(Trace().back(), "destroyed");
    EXPECT_EQ(Host->State().Log.size(), logged);
}

TEST_F(PackageTest, ReleasingAnOlderPackageKeepsTheNewestAsCasePackage) {
    Connect();
    ComPtr<TRecordingPackage> older = Package;
    Package = TRecordingPackage::Create();
    CasePackage = Package.get();
    ASSERT_TRUE(Package->Initialized());
    older = nullptr;
    EXPECT_EQ(CasePackage, Package.get());
}

// --- The command object

TEST_F(PackageTest, CommandObjectIsMadeOnceAndOutlivesThePackageWhileHeld) {
    Connect();
    ComPtr<IInterface> first, second;
    int32_t result = 0;
    EXPECT_EQ(Package->CreateObject(first.out(), 0, WideString("iqvclinicalpayment").c_bstr(), &result),
              S_OK);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Package->CreateObject(second.out(), 7, WideString("IQVCLINICALPAYMENT").c_bstr(), &result),
              S_OK);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(first, second);

    ComPtr<IQVClinicalPayment> command = first.As<IQVClinicalPayment>();
    ASSERT_TRUE(command);
    first = nullptr;
    second = nullptr;
    Package = nullptr;
    // The package let go of its cached reference; the host's keeps the command alive.
    command->AddRef();
    EXPECT_EQ(command->Release(), 1u);
    EXPECT_TRUE(command->IsEnabled());
}

} // namespace
