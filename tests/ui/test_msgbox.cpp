// The plug-in's message box: flags to icon and buttons, results, keys, layout, the text
// form and its log entry.
#include "FakeHost.h"
#include "QvScriptedUser.h"
#include "uMsgBox.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QLabel>
#include <QPlainTextEdit>

#include <cmath>

namespace {

using Step = TScriptStep;

std::vector<std::string> Captions(const TMsgBoxEx& ABox) {
    std::vector<std::string> r;
    for (QPushButton* b : ABox.Buttons())
        r.push_back(b->text().toStdString());
    return r;
}

// Shows a box modally, as MsgBoxDetails does, keeping it for inspection afterwards.
struct TShownBox {
    std::unique_ptr<TMsgBoxEx> Box = std::make_unique<TMsgBoxEx>();
    int Result = -1;
    TShownBox(const std::string& AText, const std::string& ADetails, const std::string& ACaption, int AFlags,
              std::vector<TScriptStep> ASteps) {
        Box->SetMessageText(AText);
        Box->SetDetailsText(ADetails);
        Box->SetBoxCaption(ACaption);
        Box->SetBoxFlags(AFlags);
        TScriptedUser user(std::move(ASteps));
        Result = Box->ShowModal();
        EXPECT_FALSE(user.RanOut());
    }
};

TEST(MsgBox, FlagsChooseIconButtonsAndResults) {
    struct Case {
        int Flags;
        int IconGroup; // 0: the application's icon
        std::vector<std::string> Buttons;
        std::vector<int> Results; // of each button, pressed in turn
    };
    const Case cases[] = {
        {0, 64, {"确定(&O)"}, {1}},               // no icon value: information
        {1, 0, {"确定(&O)", "取消(&C)"}, {1, 2}}, // buttons without icon value: application icon
        {2, 0, {"终止(&A)", "重试(&R)", "忽略(&I)"}, {3, 4, 5}},
        {3, 0, {"是(&Y)", "否(&N)", "取消(&C)"}, {6, 7, 2}},
        {4, 0, {"是(&Y)", "否(&N)"}, {6, 7}},
        {5, 0, {"重试(&R)", "取消(&C)"}, {4, 2}},
        {16, 16, {"确定(&O)"}, {1}},
        {36, 32, {"是(&Y)", "否(&N)"}, {6, 7}},
        {49, 48, {"确定(&O)", "取消(&C)"}, {1, 2}},
        {64, 64, {"确定(&O)"}, {1}},
        {128, 0, {"确定(&O)"}, {1}},
        {292, 64, {"确定(&O)"}, {1}}, // 36 with a default-button bit: not interpreted
        {6, 64, {"确定(&O)"}, {1}},   // no such button set
    };
    for (const auto& c : cases) {
        TMsgBoxEx box;
        box.SetBoxFlags(c.Flags);
        EXPECT_EQ(box.IconGroup(), c.IconGroup) << c.Flags;
        EXPECT_EQ(Captions(box), c.Buttons) << c.Flags;
        EXPECT_EQ(box.IconImage()->size(), QSize(32, 32));
        for (size_t i = 0; i < c.Buttons.size(); ++i) {
            TScriptedUser user({Step::ExpectClass("TMsgBoxEx"), Step::Press(c.Buttons[i])});
            EXPECT_EQ(MsgBox("确认进行诊间收费结算吗？", "询问", c.Flags), c.Results[i])
                << c.Flags << " " << i;
            EXPECT_TRUE(user.Failures().empty()) << c.Flags;
        }
    }
}

TEST(MsgBox, EscapeAndTheTitleBarGiveCancelAndEnterTheFirstButton) {
    struct Case {
        Step Key;
        int Flags;
        int Result;
    };
    const Case cases[] = {
        {Step::Escape(), 36, 2}, {Step::Escape(), 0, 2}, {Step::Escape(), 2, 2}, {Step::Close(), 36, 2},
        {Step::Close(), 4, 2},   {Step::Enter(), 36, 6}, {Step::Enter(), 5, 4},
    };
    for (const auto& c : cases) {
        TScriptedUser user({c.Key});
        EXPECT_EQ(MsgBox("继续吗？", "询问", c.Flags), c.Result) << c.Key.Describe() << " " << c.Flags;
        EXPECT_FALSE(user.RanOut());
    }
}

TEST(MsgBox, CaptionLosesItsLineBreaksAndAppMsgBoxUsesTheTitle) {
    Application->Title = "诊间收费";
    TScriptedUser user({Step::Press("确定"), Step::Press("确定")});
    MsgBox("文本", "第一行\r\n第二行\n第三行\r", 0);
    AppMsgBox("发送医嘱，冲减材料库存出现错误", 0);
    ASSERT_EQ(user.Windows().size(), 2u);
    EXPECT_EQ(user.Windows()[0].Caption, "第一行第二行第三行");
    EXPECT_EQ(user.Windows()[0].Text, "文本"); // the painted text, as the scripted user reads it
    EXPECT_EQ(user.Windows()[1].Caption, "诊间收费");
}

TEST(MsgBox, LayoutOfAnEmptyMessageWithAndWithoutDetails) {
    struct Case {
        const char* Details;
        int Width;
        int Height;     // 15 + icon 32 + bottom + 7 + 10
        int ButtonLeft; // centred, or right-aligned with details
        int ButtonTop;  // height - 40, or height - 33 with details
    };
    const Case cases[] = {
        {"", 320, 15 + 32 + 40 + 7 + 10, (320 - 75) / 2, 104 - 40},
        {"SQL: EXEC proc", 400, 15 + 32 + 120 + 7 + 10, 400 - 90, 184 - 33},
    };
    for (const auto& c : cases) {
        TShownBox shown("", c.Details, "提示", 0, {Step::Press("确定")});
        TMsgBoxEx& box = *shown.Box;
        EXPECT_EQ(shown.Result, 1);
        EXPECT_EQ(box.TextWidth(), 0);
        EXPECT_EQ(box.TextHeight(), 0);
        EXPECT_EQ(box.size(), QSize(c.Width, c.Height)) << c.Details;
        ASSERT_EQ(box.Buttons().size(), 1u);
        EXPECT_EQ(box.Buttons()[0]->geometry(), QRect(c.ButtonLeft, c.ButtonTop, 75, 25)) << c.Details;
        EXPECT_EQ(box.IconImage()->geometry(), QRect(15, 15, 32, 32));
        if (*c.Details) {
            EXPECT_EQ(box.DetailsMemo()->geometry(), QRect(15, c.Height - 120, c.Width - 30, 80));
            EXPECT_TRUE(box.DetailsMemo()->isReadOnly());
        } else {
            EXPECT_TRUE(box.DetailsMemo()->isHidden());
        }
    }
}

TEST(MsgBox, TextIsMeasuredWithTheBoxFontAndWrappedToTheScreen) {
    const std::string line = "卡上余额不够本次扣费，请先充费或用别的支付支付或到门诊收费处结账.";
    TShownBox one(line, "", "提示", 36, {Step::Press("否")});
    const QFontMetricsF fm(one.Box->font());
    EXPECT_EQ(one.Box->TextWidth(),
              static_cast<int>(std::ceil(fm.horizontalAdvance(QString::fromStdString(line)))));
    EXPECT_GT(one.Box->TextHeight(), 0);
    EXPECT_EQ(one.Box->width(), std::max(320, 15 + 32 + 15 + one.Box->TextWidth() + 15));
    EXPECT_EQ(one.Result, 7);

    // Many times that line wraps inside the work area beside the icon, and the box grows
    // downwards with the text, the buttons staying under it.
    std::string longText;
    for (int i = 0; i < 12; ++i)
        longText += line;
    TShownBox many(longText, "", "提示", 4, {Step::Press("是")});
    const int limit = ScreenWorkArea().width() - 32 - 45;
    EXPECT_LE(many.Box->TextWidth(), limit);
    EXPECT_GT(many.Box->TextHeight(), 3 * one.Box->TextHeight());
    EXPECT_EQ(many.Box->TextTop(), 15);
    EXPECT_EQ(many.Box->height(), 15 + many.Box->TextHeight() + 40 + 15 + 7 + 10);
    EXPECT_EQ(many.Box->Buttons()[0]->y(), many.Box->height() - 40);
}

TEST(MsgBox, TextFormHasItsExactLayout) {
    TShownBox shown("请选择支付方式", "", "提\r\n示", 1, {Step::Press("取消")});
    const TMsgBoxEx& box = *shown.Box;
    const int dashes = box.TextWidth() / QFontMetrics(box.font()).horizontalAdvance(QLatin1Char('-'));
    ASSERT_GT(dashes, 0);
    const std::string d = std::string(dashes, '-') + "\r\n";
    const std::string created = FormatDateTime("yyyy-mm-dd hh:nn:ss", box.CreatedAt());
    EXPECT_EQ(box.TextForm(), d + "提示\r\n" + d + "请选择支付方式\r\n" + d + "无详细信息\r\n" + d +
                                  "消息创建时间：" + created + "\r\n" + d + "确定(O)   取消(C)   \r\n" + d);

    // Before the first layout the dash lines are empty.
    TMsgBoxEx fresh;
    fresh.SetMessageText("甲");
    fresh.SetDetailsText("乙");
    fresh.SetBoxCaption("丙");
    fresh.SetBoxFlags(4);
    const std::string c = FormatDateTime("yyyy-mm-dd hh:nn:ss", fresh.CreatedAt());
    EXPECT_EQ(fresh.TextForm(),
              "\r\n丙\r\n\r\n甲\r\n\r\n乙\r\n\r\n消息创建时间：" + c + "\r\n\r\n是(Y)   否(N)   \r\n\r\n");
}

TEST(MsgBox, CtrlCCopiesTheDetailsOrTheTextForm) {
    struct Case {
        const char* Name;
        const char* Details;
        std::vector<Step> Steps;
        bool DetailsOnly;
    };
    const Case cases[] = {
        {"focus in the details",
         "错误号: 0x80004005",
         {Step::Focus("memDetails"), Step::Copy(), Step::Press("确定")},
         true},
        {"focus on a button",
         "错误号: 0x80004005",
         {Step::Focus("OK"), Step::Copy(), Step::Press("确定")},
         false},
        {"no details", "", {Step::Copy(), Step::Press("确定")}, false},
    };
    for (const auto& c : cases) {
        ClipboardSetText("");
        TShownBox shown("保存失败", c.Details, "错误", 16, c.Steps);
        const std::string copied = ClipboardText();
        if (c.DetailsOnly) {
            EXPECT_EQ(copied, c.Details) << c.Name;
        } else {
            EXPECT_EQ(copied, shown.Box->TextForm()) << c.Name;
            EXPECT_NE(copied.find(*c.Details ? c.Details : "无详细信息"), std::string::npos) << c.Name;
        }
    }
}

TEST(MsgBox, EveryBoxIsLoggedAtLevel7WithItsTextForm) {
    TFakeHost host;
    TScriptedUser user({Step::Press("是")});
    EXPECT_EQ(MsgBox("确认进行诊间收费结算吗？", "询问", 36), 6);
    ASSERT_EQ(host.State.Log.size(), 1u);
    const TFakeLogEntry& e = host.State.Log[0];
    EXPECT_EQ(e.Level, 7);
    EXPECT_EQ(e.AppName, "Quorvia");
    EXPECT_EQ(e.Source, "消息窗口");
    EXPECT_EQ(e.Title, "对话框");
    // Logged before the box is laid out: empty dash lines.
    EXPECT_EQ(
        e.Detail.rfind("\r\n询问\r\n\r\n确认进行诊间收费结算吗？\r\n\r\n无详细信息\r\n\r\n消息创建时间：", 0),
        0u);
    EXPECT_NE(e.Detail.find("是(Y)   否(N)   \r\n"), std::string::npos);
}

TEST(MsgBox, WithoutTheFacadeTheBoxStillShowsAndNothingIsLogged) {
    TFakeHost host;
    FreeQvApp();
    TScriptedUser user({Step::Press("确定")});
    EXPECT_EQ(MsgBox("无主程序", "提示", 0), 1);
    CreateQvApp();
    EXPECT_EQ(user.Windows().size(), 1u);
    EXPECT_TRUE(host.State.Log.empty());
}

TEST(MsgBox, ScreenshotWithChineseText) {
    TMsgBoxEx box;
    box.setFont(QFont("WenQuanYi Micro Hei", 10));
    box.SetMessageText("确认进行诊间收费结算吗？\r\n患者：张三  金额：128.50 元");
    box.SetDetailsText("处方号：20240102-0001\r\n科室：内科门诊");
    box.SetBoxCaption("询问");
    box.SetBoxFlags(35);
    box.show();
    const QString file = QDir(QStringLiteral(QV_UI_SHOT_DIR)).filePath("msgbox.png");
    EXPECT_TRUE(box.grab().save(file));
    box.hide();
}

} // namespace
