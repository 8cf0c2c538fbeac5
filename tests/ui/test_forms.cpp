// The base forms: their log entries, the OK validation, the dialog style, the host's font
// and skin, and errors raised while a form is shown.
#include "FakeHost.h"
#include "QvScriptedUser.h"
#include "uMsgBox.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <functional>

namespace {

using Step = TScriptStep;

// A dialog form as the plug-in's windows are built: caption and controls made in the
// constructor, buttons setting modal results.
class TFrmTestDialog : public TDForm {
    Q_OBJECT
public:
    explicit TFrmTestDialog(QWidget* AOwner = nullptr) : TDForm(AOwner) {
        SetCaption("诊间结算");
        resize(420, 220);
        auto* label = new QLabel("应收金额：128.50 元", this);
        label->setObjectName("lbl_Amount");
        label->setGeometry(20, 20, 300, 24);
        auto* edit = new QLineEdit(this);
        edit->setObjectName("edt_Card");
        edit->setGeometry(20, 60, 200, 24);
        auto* ok = new QPushButton("确定(&O)", this);
        ok->setObjectName("btn_OK");
        ok->setGeometry(230, 220 - 42 + 9, 80, 25);
        connect(ok, &QPushButton::clicked, this,
                [this] { GuardedHandler([this] { SetModalResult(mrOk); }); });
        auto* cancel = new QPushButton("取消(&C)", this);
        cancel->setObjectName("btn_Cancel");
        cancel->setGeometry(320, 220 - 42 + 9, 80, 25);
        connect(cancel, &QPushButton::clicked, this,
                [this] { GuardedHandler([this] { SetModalResult(mrCancel); }); });
    }

    int Validations = 0;
    std::function<void(bool&)> OnValidate;
    std::function<void()> OnFirstShow;
    int ProgramChanges = 0;

    void ValidateOK(bool& ACanClose) override {
        ++Validations;
        TDForm::ValidateOK(ACanClose);
        if (OnValidate) OnValidate(ACanClose);
    }
    void ProgramChanged() override { ++ProgramChanges; }

protected:
    void FirstShow() override {
        TDForm::FirstShow();
        if (OnFirstShow) OnFirstShow();
    }
};

std::vector<std::string> Titles(const std::vector<TFakeLogEntry>& ALog) {
    std::vector<std::string> r;
    for (const auto& e : ALog)
        r.push_back(e.Title);
    return r;
}

TEST(BaseForms, LogCreationFirstShowAndEveryClose) {
    TFakeHost host;
    TScriptedUser user({Step::Press("btn_Cancel"), Step::Close()});
    {
        TFrmTestDialog form;
        EXPECT_EQ(form.ShowModal(), mrCancel);
        EXPECT_EQ(form.ShowModal(), mrCancel); // shown again: no second "显示窗体"
        EXPECT_TRUE(form.FirstShowDone());
        EXPECT_TRUE(form.FirstActivateDone());
        EXPECT_EQ(user.Windows()[0].ClassName, "TFrmTestDialog");
    }
    const std::vector<TFakeLogEntry> expected = {
        {0, "Quorvia", "TFrmTestDialog", "创建窗体", "诊间结算"},
        {0, "Quorvia", "TFrmTestDialog", "显示窗体", "诊间结算"},
        {0, "Quorvia", "TFrmTestDialog", "关闭窗体", "诊间结算"},
        {0, "Quorvia", "TFrmTestDialog", "关闭窗体", "诊间结算"},
    };
    EXPECT_EQ(host.State.Log, expected);
}

TEST(BaseForms, ValidateOKRunsOnlyWhenClosingWithOK) {
    struct Case {
        const char* Name;
        std::vector<Step> Steps;
        bool Refuse;
        int Result;
        int Validations;
    };
    const Case cases[] = {
        {"OK, accepted", {Step::Press("btn_OK")}, false, mrOk, 1},
        {"OK, refused, then cancel", {Step::Press("btn_OK"), Step::Press("btn_Cancel")}, true, mrCancel, 1},
        {"cancel", {Step::Press("btn_Cancel")}, false, mrCancel, 0},
        {"title bar", {Step::Close()}, false, mrCancel, 0},
        {"escape", {Step::Escape()}, false, mrCancel, 0},
    };
    for (const auto& c : cases) {
        TFrmTestDialog form;
        form.OnValidate = [&](bool& can) { can = !c.Refuse; };
        TScriptedUser user(c.Steps);
        EXPECT_EQ(form.ShowModal(), c.Result) << c.Name;
        EXPECT_EQ(form.Validations, c.Validations) << c.Name;
        EXPECT_FALSE(user.RanOut()) << c.Name;
    }
}

TEST(BaseForms, AValidationErrorKeepsTheFormOpenAndGoesToTheHostMessageBox) {
    TFakeHost host;
    TFrmTestDialog form;
    QvHandle formHandle = 0;
    form.OnValidate = [&](bool&) {
        formHandle = static_cast<QvHandle>(form.winId());
        throw Exception("请选择医保类别。");
    };
    TScriptedUser user({Step::Press("btn_OK"), Step::Press("btn_Cancel")});
    EXPECT_EQ(form.ShowModal(), mrCancel);
    ASSERT_EQ(host.State.Messages.size(), 1u);
    const TFakeMessage& m = host.State.Messages[0];
    EXPECT_EQ(m.Flags, 16);
    EXPECT_EQ(m.Text, "请选择医保类别。");
    EXPECT_EQ(m.Caption, "Quorvia 门诊医生站");
    EXPECT_EQ(m.Owner, formHandle); // the active form owns the host's box
    EXPECT_EQ(form.Validations, 1);
}

TEST(BaseForms, WithoutAHostAValidationErrorIsShownByTheStandardDisplay) {
    TFrmTestDialog form;
    form.OnValidate = [](bool&) { throw Exception("请选择医保类别。"); };
    TScriptedUser user({Step::Press("btn_OK"), Step::ExpectClass("TMessageForm"), Step::Press("OK"),
                        Step::Press("btn_Cancel")});
    EXPECT_EQ(form.ShowModal(), mrCancel);
    ASSERT_EQ(user.Windows().size(), 2u);
    EXPECT_EQ(user.Windows()[1].Text, "请选择医保类别。");
    EXPECT_TRUE(user.Failures().empty());
}

TEST(BaseForms, AnErrorWhileShowingIsDisplayedAndTheFormStaysOpen) {
    TFrmTestDialog form;
    form.OnFirstShow = [] {
        throw Exception("请先进行诊间支付场合支付方式设置(QV.Clinical.PaymentSet.01).");
    };
    TScriptedUser user({Step::ExpectClass("TMessageForm"), Step::Press("OK"),
                        Step::ExpectClass("TFrmTestDialog"), Step::Close()});
    EXPECT_EQ(form.ShowModal(), mrCancel);
    ASSERT_EQ(user.Windows().size(), 2u);
    EXPECT_EQ(user.Windows()[1].Text, "请先进行诊间支付场合支付方式设置(QV.Clinical.PaymentSet.01).");
    EXPECT_EQ(user.Windows()[0].Actions, (std::vector<std::string>{"close"}));
    EXPECT_TRUE(user.Failures().empty());
}

TEST(BaseForms, DialogStyleBottomBarAndBlinkingMarker) {
    QPointer<QTimer> timer;
    {
        TFrmTestDialog form;
        EXPECT_TRUE(form.DialogStyle());
        EXPECT_EQ(form.ExStyle(), 0x101u);
        EXPECT_FALSE(form.TitleBarIcon());
        const QImage icon = form.windowIcon().pixmap(16, 16).toImage();
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x)
                ASSERT_EQ(qAlpha(icon.pixel(x, y)), 0); // nothing to see
        EXPECT_EQ(form.BottomBarHeight(), 42);
        EXPECT_TRUE(form.ShowBottomBar());

        TAnimateControl* marker = form.AnimateControl();
        ASSERT_NE(marker, nullptr);
        EXPECT_TRUE(marker->isHidden());
        EXPECT_FALSE(marker->Blink());
        EXPECT_EQ(marker->Color(), QColor(255, 0, 0));
        timer = marker->Timer();
        EXPECT_EQ(timer->interval(), 500);
        EXPECT_FALSE(timer->isActive());
        marker->Tick(); // blink switch off: nothing
        EXPECT_TRUE(marker->isHidden());
        marker->SetBlink(true);
        EXPECT_TRUE(timer->isActive());
        marker->Tick();
        EXPECT_FALSE(marker->isHidden());
        marker->Tick();
        EXPECT_TRUE(marker->isHidden());
    }
    EXPECT_TRUE(timer.isNull()); // the timer went with the form
}

TEST(BaseForms, SizeGripAnswersTheSizingCornerOnlyForSizeableForms) {
    TQvForm form;
    form.resize(300, 200);
    form.show();
    const QPoint corner(298, 198), middle(150, 100);
    EXPECT_EQ(form.GripRect(), QRect(300 - VerticalScrollBarWidth(), 200 - HorizontalScrollBarHeight(),
                                     VerticalScrollBarWidth(), HorizontalScrollBarHeight()));
    EXPECT_EQ(form.HitTest(corner), HTBOTTOMRIGHT);
    EXPECT_EQ(form.HitTest(middle), HTCLIENT);
    form.SetBorderStyle(TFormBorderStyle::Dialog);
    EXPECT_EQ(form.HitTest(corner), HTCLIENT);
    form.hide();
}

TEST(BaseForms, HostFontStylesAndTheUseFontFlag) {
    struct Case {
        bool UseFont;
        int Style;
        bool Bold, Italic;
    };
    const Case cases[] = {
        {true, 0, false, false},  {true, 1, false, true},  {true, 2, true, false},
        {true, 3, true, true},    {true, 7, false, false}, // unknown style codes are regular
        {false, 2, false, false},                          // flag off: the system message font
    };
    for (const auto& c : cases) {
        TFakeHost host;
        host.State.UseFont = c.UseFont;
        host.State.FontStyle = c.Style;
        host.State.FontSize = 13;
        TFrmTestDialog form;
        TMsgBoxEx box;
        for (const QFont& f : {form.font(), box.font()}) {
            if (c.UseFont) {
                EXPECT_EQ(f.family(), QFont("WenQuanYi Micro Hei").family()) << c.Style;
                EXPECT_EQ(f.pointSize(), 13) << c.Style;
            } else {
                EXPECT_EQ(f, GetSystemMessageFont()) << c.Style;
            }
            EXPECT_EQ(f.bold(), c.Bold) << c.Style;
            EXPECT_EQ(f.italic(), c.Italic) << c.Style;
        }
    }
}

TEST(BaseForms, WithoutTheHostLibraryAFormKeepsItsOwnFont) {
    const QFont before = QApplication::font();
    TFakeHost host(false); // a host application that hands out no library
    host.State.UseFont = true;
    host.State.FontStyle = 3;
    TFrmTestDialog form;
    EXPECT_EQ(form.font(), before);
}

class HostAppearanceTest : public ::testing::Test {
protected:
    void TearDown() override { RootLookAndFeel().Reset(); }
};

TEST_F(HostAppearanceTest, SkinIndexSelectsTheLookAndFeelKind) {
    struct Case {
        int Index;
        bool Accepted;
        TLookAndFeelKind Kind;
        bool Native;
    };
    const Case cases[] = {
        {0, true, TLookAndFeelKind::Flat, false},        {1, true, TLookAndFeelKind::Office2003, false},
        {2, true, TLookAndFeelKind::Standard, true},     {3, true, TLookAndFeelKind::UltraFlat, false},
        {4, false, TLookAndFeelKind::UltraFlat, false}, // changes nothing: still the kind of 3
        {-1, false, TLookAndFeelKind::UltraFlat, false},
    };
    for (const auto& c : cases) {
        TFakeHost host;
        host.State.SkinIndex = c.Index;
        EXPECT_EQ(SetSkinIndex(c.Index), c.Accepted) << c.Index;
        ApplyHostAppearance();
        EXPECT_EQ(RootLookAndFeel().Kind(), c.Kind) << c.Index;
        EXPECT_EQ(RootLookAndFeel().NativeStyle(), c.Native) << c.Index;
    }
}

TEST_F(HostAppearanceTest, ColourSchemeIsTakenOnlyForOffice2003AndIndicesBelow5) {
    struct Case {
        int Skin;
        bool Flag;
        int Index;
        bool Switch; // the colour configuration afterwards
        int StoredIndex;
        bool Refreshed;
    };
    const Case cases[] = {
        {1, true, 2, true, 2, true},    // switched on
        {1, true, 2, true, 2, false},   // the same again: nobody is told
        {1, true, 4, true, 4, true},    // another scheme
        {1, true, 5, true, 4, false},   // 5 or more: untouched
        {1, false, 4, false, 4, true},  // switched off
        {1, false, 1, false, 1, false}, // off either way: stored, nobody told
        {0, true, 3, false, 1, false},  // not Office 2003: untouched
    };
    int step = 0;
    TFakeHost host;
    for (const auto& c : cases) {
        host.State.SkinIndex = c.Skin;
        host.State.ColorSchemeFlag = c.Flag;
        host.State.ColorSchemeIndex = c.Index;
        SetSkinIndex(c.Skin); // the kind first, so only the scheme can cause a refresh
        const int before = RootLookAndFeel().ChangeCount();
        ApplyHostAppearance();
        EXPECT_EQ(RootLookAndFeel().Office2003ColorSwitch(), c.Switch) << step;
        EXPECT_EQ(RootLookAndFeel().Office2003ColorIndex(), c.StoredIndex) << step;
        EXPECT_EQ(RootLookAndFeel().ChangeCount() > before, c.Refreshed) << step;
        ++step;
    }
}

TEST_F(HostAppearanceTest, HintFontFollowsTheHost) {
    {
        TFakeHost host;
        host.State.UseFont = true;
        host.State.FontStyle = 2;
        host.State.FontSize = 14;
        ApplyHostAppearance();
        EXPECT_EQ(HintFont().pointSize(), 14);
        EXPECT_TRUE(HintFont().bold());
    }
    ApplyHostAppearance(); // no host library: the system message font
    EXPECT_EQ(HintFont(), GetSystemMessageFont());
}

TEST_F(HostAppearanceTest, FormsFollowTheRootLookAndFeel) {
    TFrmTestDialog form;
    form.AfterConstruction();
    SetSkinIndex(2);
    EXPECT_TRUE(form.styleSheet().isEmpty());
    SetSkinIndex(1);
    EXPECT_EQ(form.LookAndFeel().Kind(), TLookAndFeelKind::Office2003);
    EXPECT_EQ(form.styleSheet(), RootLookAndFeel().ButtonStyleSheet());
}

QIcon GLoadedIcon;
std::vector<std::pair<int, int>> GImageRequests;
bool FakeLoadNumberedImage(QIcon& AIcon, int ANumber, int ASize) {
    GImageRequests.emplace_back(ANumber, ASize);
    QPixmap pm(ASize, ASize);
    pm.fill(Qt::blue);
    AIcon = QIcon(pm);
    return true;
}

TEST(BaseForms, ProgramIdTakesTheHostsIconNumber) {
    TFakeHost host;
    host.State.Values[".Programs Quorvia;12"] = "3;1116";
    QvLoadNumberedImageHook = &FakeLoadNumberedImage;
    GImageRequests.clear();
    TFrmTestDialog form;
    form.SetProgramID(12);
    form.SetProgramID(12); // unchanged: nothing
    form.SetProgramID(13); // the host knows nothing of 13: the icon number stays
    QvLoadNumberedImageHook = nullptr;
    EXPECT_EQ(form.ProgramID(), 13);
    EXPECT_EQ(form.ProgramIcon(), 1116);
    EXPECT_EQ(form.ProgramChanges, 2);
    EXPECT_EQ(GImageRequests, (std::vector<std::pair<int, int>>{{1116, 16}, {1116, 16}}));
    EXPECT_FALSE(form.Icon().isNull());
    EXPECT_EQ(form.GetSQL(7307), "SELECT 7307");
}

std::vector<std::string> GHookCalls;
void ImeHook(QWidget* AForm) {
    // Called once the form's controls exist.
    GHookCalls.push_back("ime " + std::string(AForm->metaObject()->className()) + " " +
                         (AForm->findChild<QLineEdit*>("edt_Card") ? "with controls" : "empty"));
}
void UnregisterHook(QWidget* AForm) {
    GHookCalls.push_back("unregister");
}

TEST(BaseForms, ThePackageSeesEveryFormCreatedAndDestroyed) {
    QvApplyImeNameHook = &ImeHook;
    QvUnregisterFormHook = &UnregisterHook;
    GHookCalls.clear();
    {
        TFrmTestDialog modalForm;
        TScriptedUser user({Step::Press("btn_Cancel")});
        modalForm.ShowModal();
    }
    {
        TFrmTestDialog neverShown;
        QCoreApplication::sendPostedEvents(&neverShown); // the event loop reaches it
    }
    QvApplyImeNameHook = nullptr;
    QvUnregisterFormHook = nullptr;
    EXPECT_EQ(GHookCalls, (std::vector<std::string>{"ime TFrmTestDialog with controls", "unregister",
                                                    "ime TFrmTestDialog with controls", "unregister"}));
}

TEST(BaseForms, ANonModalFormFreesItselfOnClose) {
    TFakeHost host;
    QPointer<TFrmTestDialog> form = new TFrmTestDialog;
    form->show();
    form->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(form.isNull());
    EXPECT_EQ(Titles(host.State.Log), (std::vector<std::string>{"创建窗体", "显示窗体", "关闭窗体"}));
}

TEST_F(HostAppearanceTest, ScreenshotOfADialogFormWithChineseText) {
    SetSkinIndex(1);
    RootLookAndFeel().SetOffice2003ColorSwitch(true);
    RootLookAndFeel().SetOffice2003ColorIndex(0);
    TFrmTestDialog form;
    form.setFont(QFont("WenQuanYi Micro Hei", 10));
    form.AnimateControl()->setGeometry(16, 16, 308, 32);
    form.AnimateControl()->show();
    form.show();
    const QString file = QDir(QStringLiteral(QV_UI_SHOT_DIR)).filePath("dform.png");
    EXPECT_TRUE(form.grab().save(file));
    form.hide();
}

} // namespace

#include "test_forms.moc"
