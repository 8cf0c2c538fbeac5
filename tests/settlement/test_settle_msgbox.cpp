// The plug-in's settlement context shows its messages in the plug-in's own message box:
// a refused settlement as "提示" with the stop icon and an OK button, a failed stock
// deduction with the application's caption.
#include "QvHostSim.h"
#include "QvScriptedUser.h"
#include "UQVChargeAdapter.h"
#include "uIApplication.h"
#include "uSettleCoreDM.h"
#include "uMsgBox.h"
#include "uSettleLocal.h"

#include <QApplication>
#include <QEvent>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using Step = TScriptStep;

namespace {

// The stand-in host behind QvApp, for its XML documents.
class SettleMessageBox : public ::testing::Test {
protected:
    void SetUp() override {
        QvApp->SetApplication(Host.Application().get());
        QvApp->Connect();
    }
    void TearDown() override {
        QvApp->Disconnect();
        QvApp->SetApplication(nullptr);
    }
    TQvHost Host;
};

// Notes the flags of every plug-in message box when it is shown.
class TBoxFlagsSpy : public QObject {
public:
    TBoxFlagsSpy() { qApp->installEventFilter(this); }
    ~TBoxFlagsSpy() override { qApp->removeEventFilter(this); }
    std::vector<int> Flags;

protected:
    bool eventFilter(QObject* AWatched, QEvent* AEvent) override {
        if (AEvent->type() == QEvent::Show)
            if (auto* box = dynamic_cast<TMsgBoxEx*>(AWatched)) Flags.push_back(box->BoxFlags());
        return false;
    }
};

} // namespace

TEST_F(SettleMessageBox, RefusalShownAsNoteWithStopIcon) {
    TQvSettleContext context;
    TScriptedUser user({Step::ExpectClass("TMsgBoxEx"), Step::Press("确定")});
    TBoxFlagsSpy spy;
    TQVCharge charge(context);
    charge.SetRequest("<Root><VAA1><Ie VAA01=\"11\" VAA07=\"0\" ACF01=\"1\"/></VAA1></Root>");
    EXPECT_EQ(charge.Execute(), 0);
    ASSERT_EQ(user.Windows().size(), 1u);
    const TScriptedWindow& box = user.Windows()[0];
    EXPECT_EQ(box.Caption, "提示");
    EXPECT_EQ(box.Text, "就诊ID不能为空。");
    ASSERT_EQ(box.Buttons.size(), 1u);
    EXPECT_THAT(box.Buttons[0].Caption, ::testing::StartsWith("确定"));
    EXPECT_THAT(spy.Flags, ::testing::ElementsAre(16));
    EXPECT_TRUE(user.Failures().empty());
    EXPECT_FALSE(user.RanOut());
}

TEST_F(SettleMessageBox, StockFailureShownWithPatientName) {
    TQvSettleContext context; // no data module: the statement cannot run
    TScriptedUser user({Step::Press("确定")});
    TBoxFlagsSpy spy;
    DeductMaterialStock(context, "1023,1024", "王小明", 1, 11, 22);
    ASSERT_EQ(user.Windows().size(), 1u);
    EXPECT_THAT(user.Windows()[0].Text,
                ::testing::StartsWith("发送【王小明】医嘱，冲减材料库存出现错误，详细信息："));
    EXPECT_FALSE(user.RanOut());
    EXPECT_THAT(spy.Flags, ::testing::ElementsAre(0));
}
