// The application object, the standard dialogs, the platform services and the root
// look-and-feel.
#include "QvForms.h"
#include "QvLookAndFeel.h"
#include "QvScriptedUser.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QVBoxLayout>

#include <functional>
#include <optional>

namespace {

using Step = TScriptStep;

TEST(Application, UsesTheProcessQApplicationAndNeverASecondOne) {
    QApplication* app = Application->EnsureQtApplication();
    EXPECT_EQ(app, QCoreApplication::instance());
    EXPECT_FALSE(Application->OwnsQtApplication());
}

TEST(Application, GuardedHandlerShowsAnyErrorInTheStandardErrorDisplay) {
    struct Case {
        const char* Name;
        std::function<void()> Handler;
        const char* Text;
    };
    const Case cases[] = {
        {"system error", [] { throw Exception("卡上余额不够本次扣费。"); }, "卡上余额不够本次扣费。"},
        {"standard error", [] { throw std::runtime_error("bad state"); }, "bad state"},
        {"anything else", [] { throw 42; }, "Unexpected exception"},
    };
    Application->Title = "门诊医生站";
    for (const auto& c : cases) {
        TScriptedUser user({Step::Press("OK")});
        GuardedHandler(c.Handler);
        ASSERT_EQ(user.Windows().size(), 1u) << c.Name;
        const TScriptedWindow& w = user.Windows()[0];
        EXPECT_EQ(w.ClassName, "TMessageForm") << c.Name;
        EXPECT_EQ(w.Caption, "门诊医生站") << c.Name;
        EXPECT_EQ(w.Text, c.Text) << c.Name;
        EXPECT_TRUE(w.Closed) << c.Name;
        EXPECT_TRUE(user.Failures().empty()) << c.Name;
    }
}

TEST(Application, OnExceptionReplacesTheErrorDisplay) {
    std::optional<std::string> seen;
    Application->OnException = [&](const std::string& m) { seen = m; };
    TScriptedUser user;
    GuardedHandler([] { throw Exception("连接数据库失败"); });
    Application->OnException = nullptr;
    EXPECT_EQ(seen, "连接数据库失败");
    EXPECT_TRUE(user.Windows().empty());
}

TEST(Application, ShowMessageIsAPlainBoxWithTheTitleAndOK) {
    Application->Title = "诊间收费";
    TScriptedUser user({Step::Press("OK")});
    ShowMessage("收费成功！");
    ASSERT_EQ(user.Windows().size(), 1u);
    const TScriptedWindow& w = user.Windows()[0];
    EXPECT_EQ(w.Caption, "诊间收费");
    EXPECT_EQ(w.Text, "收费成功！");
    ASSERT_EQ(w.Buttons.size(), 1u);
    EXPECT_EQ(w.Buttons[0].Name, "OK");
}

TEST(Application, ActiveFormIsTheModalWindowAndElseTheOwner) {
    QWidget host;
    host.setWindowTitle("host");
    Application->Handle = static_cast<QvHandle>(host.winId());
    EXPECT_EQ(Application->OwnerWidget(), &host);

    QDialog dlg;
    auto* b = new QPushButton("probe", &dlg);
    b->setObjectName("btn_Probe");
    QWidget* activeInside = nullptr;
    QvHandle handleInside = 0, dialogHandle = 0;
    QObject::connect(b, &QPushButton::clicked, [&] {
        activeInside = Application->ActiveForm();
        handleInside = Application->ActiveFormHandle();
        dialogHandle = static_cast<QvHandle>(dlg.winId());
        dlg.accept();
    });
    TScriptedUser user({Step::Press("btn_Probe")});
    dlg.exec();
    EXPECT_EQ(activeInside, &dlg);
    EXPECT_EQ(handleInside, dialogHandle);
    if (!Application->ActiveForm()) {
        EXPECT_EQ(Application->ActiveFormHandle(), Application->Handle);
    }
    Application->Handle = 0;
    EXPECT_EQ(Application->OwnerWidget(), nullptr);
}

TEST(Platform, ClipboardKeepsChineseText) {
    ClipboardSetText("消息创建时间：2024-01-02 03:04:05\r\n");
    EXPECT_EQ(ClipboardText(), "消息创建时间：2024-01-02 03:04:05\r\n");
}

TEST(Platform, SystemIconsAre32Pixels) {
    for (TSystemIcon i : {TSystemIcon::Stop, TSystemIcon::Question, TSystemIcon::Exclamation,
                          TSystemIcon::Information, TSystemIcon::Application}) {
        const QPixmap pm = SystemIconPixmap(i);
        EXPECT_FALSE(pm.isNull());
        EXPECT_EQ(pm.size(), QSize(32, 32));
    }
}

TEST(Platform, ScreenAndMetricsAreUsable) {
    EXPECT_GT(ScreenWorkArea().width(), 0);
    EXPECT_GT(ScreenWorkArea().height(), 0);
    EXPECT_GT(VerticalScrollBarWidth(), 0);
    EXPECT_GT(HorizontalScrollBarHeight(), 0);
    EXPECT_GT(GetSystemMessageFont().pointSizeF(), 0);
    QFont f("WenQuanYi Micro Hei", 11);
    SetHintFont(f);
    EXPECT_EQ(HintFont().family(), f.family());
}

class RootLookAndFeelTest : public ::testing::Test {
protected:
    void TearDown() override { RootLookAndFeel().Reset(); }
};

TEST_F(RootLookAndFeelTest, FormsFollowTheRootUntilTheyAreGone) {
    TRootLookAndFeel& root = RootLookAndFeel();
    int told = 0;
    {
        TLookAndFeel own([&] { ++told; });
        root.SetKind(TLookAndFeelKind::Office2003);
        EXPECT_EQ(own.Kind(), TLookAndFeelKind::Office2003);
        root.SetKind(TLookAndFeelKind::Office2003); // unchanged: nobody is told
        root.Refresh();
        EXPECT_EQ(told, 2);
    }
    root.SetKind(TLookAndFeelKind::Flat);
    EXPECT_EQ(told, 2);
}

TEST_F(RootLookAndFeelTest, Office2003ColoursComeFromTheChosenScheme) {
    TRootLookAndFeel& root = RootLookAndFeel();
    const QColor plain1 = root.Office2003DockColor1();
    root.SetOffice2003ColorIndex(1); // stored, but no scheme switched on
    EXPECT_EQ(root.Office2003DockColor1(), plain1);
    root.SetOffice2003ColorSwitch(true);
    const QColor olive = root.Office2003DockColor1();
    EXPECT_NE(olive, plain1);
    root.SetOffice2003ColorIndex(0);
    EXPECT_NE(root.Office2003DockColor1(), olive);
    EXPECT_NE(root.Office2003DockColor1(), root.Office2003DockColor2());
}

TEST_F(RootLookAndFeelTest, OnlyTheNativeStandardKindKeepsQtsOwnButtons) {
    TRootLookAndFeel& root = RootLookAndFeel();
    EXPECT_TRUE(root.ButtonStyleSheet().isEmpty());
    for (auto k : {TLookAndFeelKind::Flat, TLookAndFeelKind::UltraFlat, TLookAndFeelKind::Office2003}) {
        root.SetKind(k);
        EXPECT_FALSE(root.ButtonStyleSheet().isEmpty());
    }
}

} // namespace
