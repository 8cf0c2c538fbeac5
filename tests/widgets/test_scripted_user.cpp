// The scripted user drives modal windows through their own modal loops: nested windows,
// running out of steps, finding controls as a person would, and never hanging.
#include "QvForms.h"
#include "QvScriptedUser.h"

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <functional>
#include <memory>

namespace {

using Step = TScriptStep;

// A dialog with named buttons; a button either ends the dialog with a result or runs a
// handler.
class TTestDialog : public QDialog {
public:
    explicit TTestDialog(const QString& ACaption, QWidget* AParent = nullptr) : QDialog(AParent) {
        setWindowTitle(ACaption);
        setLayout(new QVBoxLayout);
    }
    QPushButton* AddButton(const QString& AName, const QString& ACaption, int AResult) {
        return AddButton(AName, ACaption, [this, AResult] { done(AResult); });
    }
    QPushButton* AddButton(const QString& AName, const QString& ACaption, std::function<void()> AOnClick) {
        auto* b = new QPushButton(ACaption, this);
        b->setObjectName(AName);
        layout()->addWidget(b);
        QObject::connect(b, &QPushButton::clicked, this, [h = std::move(AOnClick)] { GuardedHandler(h); });
        return b;
    }
};

std::vector<std::string> Names(const std::vector<TScriptedWindow>& AWindows) {
    std::vector<std::string> r;
    for (const auto& w : AWindows)
        r.push_back(w.Caption);
    return r;
}

TEST(ScriptedUser, NestedWindowTakesTheNextStepsAndItsOpenerGoesOn) {
    TScriptedUser user({Step::Press("btn_Open"), Step::ExpectCaption("Inner"), Step::Press("是(&Y)"),
                        Step::Press("btn_OK")});
    int innerResult = -1;
    TTestDialog outer("Outer");
    outer.AddButton("btn_Open", "打开", [&] {
        TTestDialog inner("Inner", &outer);
        inner.AddButton("btn_Yes", "是(&Y)", 6);
        inner.AddButton("btn_No", "否(&N)", 7);
        innerResult = inner.exec();
    });
    outer.AddButton("btn_OK", "确定(&O)", 1);

    EXPECT_EQ(outer.exec(), 1);
    EXPECT_EQ(innerResult, 6);
    ASSERT_EQ(Names(user.Windows()), (std::vector<std::string>{"Outer", "Inner"}));
    EXPECT_EQ(user.Windows()[0].Actions, (std::vector<std::string>{"press btn_Open", "press btn_OK"}));
    EXPECT_EQ(user.Windows()[1].Actions, (std::vector<std::string>{"press 是(&Y)"}));
    EXPECT_EQ(user.Windows()[1].Result, 6);
    EXPECT_TRUE(user.Windows()[0].Closed);
    EXPECT_EQ(user.Windows()[0].Result, 1);
    EXPECT_EQ(user.StepsLeft(), 0u);
    EXPECT_TRUE(user.Failures().empty());
    EXPECT_FALSE(user.RanOut());
}

TEST(ScriptedUser, WindowsLeftWithoutStepsAreClosedFromTheTitleBar) {
    TScriptedUser user({Step::Press("btn_Open")});
    int innerResult = -1;
    TTestDialog outer("Outer");
    outer.AddButton("btn_Open", "打开", [&] {
        TTestDialog inner("Inner", &outer);
        inner.AddButton("btn_OK", "确定", 1);
        innerResult = inner.exec();
    });

    EXPECT_EQ(outer.exec(), QDialog::Rejected);
    EXPECT_EQ(innerResult, QDialog::Rejected);
    ASSERT_EQ(user.Windows().size(), 2u);
    for (const auto& w : user.Windows()) {
        EXPECT_TRUE(w.RanOut) << w.Caption;
        EXPECT_TRUE(w.Closed) << w.Caption;
        EXPECT_FALSE(w.Forced) << w.Caption;
        EXPECT_EQ(w.Actions.back(), "close (ran out)");
    }
    EXPECT_TRUE(user.RanOut());
}

TEST(ScriptedUser, PressFindsAButtonByObjectNameOrCaption) {
    struct Case {
        const char* Target;
        int Result;
    };
    const Case cases[] = {
        {"btn_OK", 1}, {"确定(&O)", 1}, {"确定(O)", 1}, // caption with or without the mnemonic marker
        {"确定", 1},   {"取消", 2},     {"btn_Cancel", 2},
    };
    for (const auto& c : cases) {
        TScriptedUser user({Step::Press(c.Target)});
        TTestDialog dlg("Pick");
        dlg.AddButton("btn_OK", "确定(&O)", 1);
        dlg.AddButton("btn_Cancel", "取消(&C)", 2);
        EXPECT_EQ(dlg.exec(), c.Result) << c.Target;
        EXPECT_TRUE(user.Failures().empty()) << c.Target;
        ASSERT_EQ(user.Windows().size(), 1u);
        EXPECT_EQ(user.Windows()[0].Buttons.size(), 2u);
        EXPECT_EQ(user.Windows()[0].Buttons[0].Name, "btn_OK");
        EXPECT_EQ(user.Windows()[0].Buttons[0].Caption, "确定(&O)");
    }
}

TEST(ScriptedUser, ChoosesAComboValueAsAPersonWould) {
    struct Case {
        Step Choice;
        const char* Activated; // nullptr: the choice fails
    };
    const Case cases[] = {
        {Step::Choose("cmb_Pay", "微信"), "微信"},
        {Step::ChooseIndex("cmb_Pay", 2), "支付宝"},
        {Step::Choose("cmb_Pay", "现金"), nullptr},   // no such item
        {Step::Choose("cmb_Other", "微信"), nullptr}, // no such combo
    };
    for (const auto& c : cases) {
        TScriptedUser user({c.Choice, Step::Press("btn_OK")});
        TTestDialog dlg("Pay");
        auto* combo = new QComboBox(&dlg);
        combo->setObjectName("cmb_Pay");
        combo->addItems({"银行卡", "微信", "支付宝"});
        dlg.layout()->addWidget(combo);
        QString activated;
        QObject::connect(combo, &QComboBox::textActivated, [&](const QString& t) { activated = t; });
        dlg.AddButton("btn_OK", "确定", 1);

        EXPECT_EQ(dlg.exec(), 1);
        if (c.Activated) {
            EXPECT_EQ(activated.toStdString(), c.Activated);
            EXPECT_EQ(combo->currentText().toStdString(), c.Activated);
            EXPECT_TRUE(user.Failures().empty());
        } else {
            EXPECT_TRUE(activated.isEmpty());
            EXPECT_EQ(user.Failures().size(), 1u);
        }
    }
}

TEST(ScriptedUser, TypesIntoAnEditAsUserInput) {
    TScriptedUser user({Step::Type("edt_Name", "张三"), Step::Press("btn_OK")});
    TTestDialog dlg("Name");
    auto* edit = new QLineEdit("旧值", &dlg);
    edit->setObjectName("edt_Name");
    dlg.layout()->addWidget(edit);
    QString edited;
    QObject::connect(edit, &QLineEdit::textEdited, [&](const QString& t) { edited = t; });
    dlg.AddButton("btn_OK", "确定", 1);

    EXPECT_EQ(dlg.exec(), 1);
    EXPECT_EQ(edit->text().toStdString(), "张三"); // the old text was replaced
    EXPECT_EQ(edited.toStdString(), "张三");       // and the change came as a user edit
}

TEST(ScriptedUser, AFailedStepIsRecordedAndTheRunGoesOn) {
    struct Case {
        const char* Name;
        std::function<void(TTestDialog&)> Setup;
        const char* Failure;
    };
    const Case cases[] = {
        {"missing button", [](TTestDialog&) {}, "press btn_Pay: no such button"},
        {"disabled button", [](TTestDialog& d) { d.AddButton("btn_Pay", "支付", 5)->setEnabled(false); },
         "press btn_Pay: the button is disabled"},
        {"hidden button", [](TTestDialog& d) { d.AddButton("btn_Pay", "支付", 5)->setVisible(false); },
         "press btn_Pay: no such button"},
    };
    for (const auto& c : cases) {
        TScriptedUser user({Step::Press("btn_Pay"), Step::Press("btn_OK")});
        TTestDialog dlg("Pay");
        c.Setup(dlg);
        dlg.AddButton("btn_OK", "确定", 1);
        EXPECT_EQ(dlg.exec(), 1) << c.Name;
        EXPECT_EQ(user.Failures(), (std::vector<std::string>{std::string("QDialog: ") + c.Failure}))
            << c.Name;
    }
}

// Ignores the title bar and Escape: only the force of the scripted user ends it.
class TStubbornDialog : public TTestDialog {
public:
    using TTestDialog::TTestDialog;
    void reject() override {}

protected:
    void closeEvent(QCloseEvent* e) override { e->ignore(); }
};

TEST(ScriptedUser, AWindowThatWillNotCloseIsForcedShut) {
    TScriptedUser user({Step::Escape(), Step::Close()});
    TStubbornDialog dlg("Stubborn");
    dlg.AddButton("btn_OK", "确定", 1);

    EXPECT_EQ(dlg.exec(), QDialog::Rejected);
    ASSERT_EQ(user.Windows().size(), 1u);
    const TScriptedWindow& w = user.Windows()[0];
    EXPECT_EQ(w.Actions, (std::vector<std::string>{"escape", "close", "close (ran out)"}));
    EXPECT_TRUE(w.RanOut);
    EXPECT_TRUE(w.Forced);
    EXPECT_TRUE(w.Closed);
    EXPECT_EQ(w.Failures.size(), 3u); // escape and close stayed open, then forced
}

// Raises while it is being shown: the standard error display opens inside its showing.
class TFailingShowDialog : public TTestDialog {
public:
    using TTestDialog::TTestDialog;

protected:
    void showEvent(QShowEvent* e) override {
        TTestDialog::showEvent(e);
        GuardedHandler([] { throw Exception("请先进行支付方式设置."); });
    }
};

TEST(ScriptedUser, AWindowOpenedWhileItsOpenerIsShowingIsServedFirst) {
    Application->Title = "诊间收费";
    TScriptedUser user({Step::ExpectClass("TMessageForm"), Step::ExpectText("支付方式"), Step::Press("OK"),
                        Step::Press("btn_OK")});
    TFailingShowDialog dlg("Outer");
    dlg.AddButton("btn_OK", "确定", 1);

    EXPECT_EQ(dlg.exec(), 1);
    ASSERT_EQ(user.Windows().size(), 2u);
    const TScriptedWindow& err = user.Windows()[1];
    EXPECT_EQ(err.ClassName, "TMessageForm");
    EXPECT_EQ(err.Caption, "诊间收费");
    EXPECT_EQ(err.Text, "请先进行支付方式设置.");
    EXPECT_EQ(err.Actions, (std::vector<std::string>{"press OK"}));
    EXPECT_EQ(user.Windows()[0].Actions, (std::vector<std::string>{"press btn_OK"}));
    EXPECT_TRUE(user.Failures().empty());
}

TEST(ScriptedUser, UnmetExpectationsAreRecorded) {
    TScriptedUser user({Step::ExpectClass("TMsgBoxEx"), Step::ExpectCaption("询问"), Step::ExpectText("结算"),
                        Step::Press("btn_OK")});
    TTestDialog dlg("提示");
    dlg.setProperty(QV_CLASS_NAME_PROPERTY, "TDForm");
    dlg.setProperty(QV_TEXT_PROPERTY, "确认进行诊间收费结算吗？");
    dlg.AddButton("btn_OK", "确定", 1);

    EXPECT_EQ(dlg.exec(), 1);
    EXPECT_EQ(user.Failures(), (std::vector<std::string>{"TDForm: expect-class TMsgBoxEx (was: TDForm)",
                                                         "TDForm: expect-caption 询问 (was: 提示)"}));
    EXPECT_EQ(user.Windows()[0].Text, "确认进行诊间收费结算吗？");
}

TEST(ScriptedUser, KeysGoToTheFocusedControl) {
    struct Case {
        const char* Name;
        std::vector<Step> Steps;
        int Result;
    };
    const Case cases[] = {
        {"escape rejects", {Step::Escape()}, QDialog::Rejected},
        {"enter presses the default button", {Step::Enter()}, 1},
        {"enter on a focused button presses it", {Step::Focus("btn_Two"), Step::Enter()}, 2},
        {"title bar closes", {Step::Close()}, QDialog::Rejected},
    };
    for (const auto& c : cases) {
        TScriptedUser user(c.Steps);
        TTestDialog dlg("Keys");
        dlg.AddButton("btn_One", "一", 1)->setDefault(true);
        dlg.AddButton("btn_Two", "二", 2);
        EXPECT_EQ(dlg.exec(), c.Result) << c.Name;
        EXPECT_FALSE(user.RanOut()) << c.Name;
        EXPECT_TRUE(user.Failures().empty()) << c.Name;
    }
}

TEST(ScriptedUser, CtrlCCopiesFromTheFocusedEdit) {
    TScriptedUser user({Step::Focus("edt_Text"), Step::Copy(), Step::Press("btn_OK")});
    ClipboardSetText("");
    TTestDialog dlg("Copy");
    auto* edit = new QLineEdit("住院号123", &dlg);
    edit->setObjectName("edt_Text");
    dlg.layout()->addWidget(edit);
    QObject::connect(edit, &QLineEdit::selectionChanged, [] {});
    edit->selectAll();
    dlg.AddButton("btn_OK", "确定", 1);
    EXPECT_EQ(dlg.exec(), 1);
    EXPECT_EQ(ClipboardText(), "住院号123");
}

TEST(ScriptedUser, AnObserverSeesEachWindowBeforeEachAction) {
    TScriptedUser user({Step::Press("btn_Open"), Step::Close(), Step::Press("btn_OK")});
    std::vector<std::string> seen;
    user.OnBeforeAction = [&](QWidget* w, const TScriptedWindow& r) {
        seen.push_back(r.Caption + " " + std::to_string(w->isVisible()) + " " +
                       std::to_string(w->grab().size().width() > 0));
    };
    TTestDialog outer("Outer");
    outer.AddButton("btn_Open", "打开", [&] {
        TTestDialog inner("Inner", &outer);
        inner.exec();
    });
    outer.AddButton("btn_OK", "确定", 1);
    EXPECT_EQ(outer.exec(), 1);
    EXPECT_EQ(seen, (std::vector<std::string>{"Outer 1 1", "Inner 1 1", "Outer 1 1"}));
}

TEST(ScriptedUser, NonModalWindowsAreLeftAlone) {
    TScriptedUser user({Step::Close()});
    TTestDialog dlg("Modeless");
    dlg.show();
    Application->ProcessMessages();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(user.Windows().empty());
    EXPECT_EQ(user.StepsLeft(), 1u);
    dlg.hide();
}

TEST(ScriptedUser, StepKindsRoundTripThroughTheirNames) {
    using K = Step::TKind;
    for (K k : {K::Press, K::Choose, K::Type, K::Focus, K::Escape, K::Enter, K::Copy, K::Close,
                K::ExpectClass, K::ExpectCaption, K::ExpectText})
        EXPECT_EQ(Step::KindFromName(Step::KindName(k)), k);
    EXPECT_FALSE(Step::KindFromName("click").has_value());
}

} // namespace
