// The data module's side of the host settings: connection set-up in both connection
// modes, fonts, skin, reconnecting, the date and time formats, and its life by phases.
#include "DataTestUtil.h"

#include "CForms.h"
#include "QvForms.h"
#include "QvLookAndFeel.h"

namespace {

using TTrace = std::shared_ptr<std::vector<TRecorded>>;

class TDataSettingsTest : public THostedTest {
protected:
    std::vector<int> DataSetTimeouts() {
        return {CoreDM->queDataSet1.CommandTimeout(), CoreDM->queDataSet2.CommandTimeout(),
                CoreDM->queCommand.CommandTimeout()};
    }
};

// ---------------------------------------------------------------------------------------
// Connection set-up

struct TTimeOutCase {
    const char* Name;
    std::optional<std::string> Value; // host value ".TimeOut"
    int Expected;
};
void PrintTo(const TTimeOutCase& ACase, std::ostream* AOut) {
    *AOut << ACase.Name;
}

const TTimeOutCase TimeOutCases[] = {
    {"Absent", std::nullopt, 30},
    {"NotANumber", "abc", 30},
    {"Seconds", "120", 120},
    {"Blanks", " 60 ", 60},
    {"Fraction", "12.5", 30},
    // A negative time-out would make every statement fail at the provider.
    {"Negative", "-5", 30},
};

class TDataTimeOutTest : public TDataSettingsTest, public ::testing::WithParamInterface<TTimeOutCase> {};

TEST_P(TDataTimeOutTest, OwnConnectionTakesHostStringAndTimeOut) {
    const TTimeOutCase& c = GetParam();
    Config.ConnectionMode = 0;
    Config.ConnectionString = HospitalConnectionString();
    if (c.Value) Config.Values[".TimeOut"] = *c.Value;
    Start();
    CoreDM->SetupHostConnection();

    EXPECT_EQ(CoreDM->ADOConnection1.ConnectionString(), HospitalConnectionString());
    EXPECT_EQ(CoreDM->ADOConnection1.CommandTimeout(), c.Expected);
    EXPECT_EQ(DataSetTimeouts(), std::vector<int>(3, c.Expected));
    EXPECT_EQ(CoreDM->NewQuery(true)->CommandTimeout(), c.Expected);
    EXPECT_TRUE(CoreDM->LogEventsAttached());
    // The statement runs with that time-out on a connection of its own.
    EXPECT_TRUE(CoreDM->HasRows("SELECT * FROM BLP1"));
    int32_t timeout = -1;
    CoreDM->ADOConnection1.ConnectionObject()->GetCommandTimeout(&timeout);
    EXPECT_EQ(timeout, c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Data, TDataTimeOutTest, ::testing::ValuesIn(TimeOutCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(TDataSettingsTest, SharedConnectionIsAdoptedWithoutLogEvents) {
    ComPtr<_Connection> db = OpenHospitalObject();
    db->SetCommandTimeout(77);
    Config.ConnectionMode = 1;
    Config.Connection = Share(db);
    Config.Values[".TimeOut"] = "120"; // not used for a shared connection
    Start();
    CoreDM->SetupHostConnection();

    EXPECT_EQ(CoreDM->ADOConnection1.ConnectionObject(), db);
    EXPECT_FALSE(CoreDM->LogEventsAttached());
    EXPECT_EQ(DataSetTimeouts(), std::vector<int>(3, 77));

    // Finalize lets go of the host's object without closing it.
    CoreDM->DetachConnection();
    EXPECT_EQ(CoreDM->ADOConnection1.ConnectionObject(), nullptr);
    int32_t state = 0;
    db->GetState(&state);
    EXPECT_EQ(state, adStateOpen);
}

TEST_F(TDataSettingsTest, SharedConnectionMissingOrForeignIsAClearError) {
    Config.ConnectionMode = 1; // the host has no connection object
    Start();
    EXPECT_EQ(RaisedMessage<Exception>([] { CoreDM->SetupHostConnection(); }), "主应用程序没有数据库连接。");

    struct TNotAConnection : TInterfacedObject<IQVInterface> {
        HRESULT QV_STDCALL GetVersion(double*) override { return E_NOTIMPL; }
        HRESULT QV_STDCALL GetName(BSTR*) override { return E_NOTIMPL; }
        HRESULT QV_STDCALL GetMessage(BSTR*) override { return E_NOTIMPL; }
    };
    ComPtr<IInterface> foreign = MakeCom<TNotAConnection>();
    EXPECT_EQ(RaisedMessage<Exception>([&] { CoreDM->SetConnection(foreign); }),
              "主应用程序提供的数据库连接对象不是ADO连接(_Connection)。");
}

TEST_F(TDataSettingsTest, WithoutHostApplicationNothingIsSetUp) {
    CreateQvApp();
    CreateCoreDM();
    CoreDM->SetupHostConnection();
    EXPECT_EQ(CoreDM->ADOConnection1.ConnectionString(), "Provider=SQLOLEDB.1");
    EXPECT_EQ(CoreDM->ADOConnection1.CommandTimeout(), 30);
    EXPECT_TRUE(CoreDM->LogEventsAttached());
    EXPECT_EQ(CoreDM->SlaveConnection(), &CoreDM->ADOConnection1);
    FreeCoreDM();
}

TEST_F(TDataSettingsTest, ReconnectIgnoresAFailingReopen) {
    TTrace trace = std::make_shared<std::vector<TRecorded>>();
    auto db = NewRecording("main", trace);
    Start();
    CoreDM->SetConnection(ComPtr<IInterface>(db.get()));

    CoreDM->Reconnect();
    EXPECT_EQ(db->CloseCount, 1);
    EXPECT_EQ(db->OpenCount, 2);
    EXPECT_TRUE(CoreDM->ADOConnection1.Connected());

    db->OpenError = "无法连接到数据库服务器。";
    EXPECT_NO_THROW(CoreDM->Reconnect());
    EXPECT_EQ(db->CloseCount, 2);
    EXPECT_FALSE(CoreDM->ADOConnection1.Connected());
    // The next statement tries again and reports what it finds.
    EXPECT_EQ(RaisedMessage<Exception>([] { CoreDM->HasRows("SELECT 1"); }), "无法连接到数据库服务器。");
    db->OpenError.clear();
    EXPECT_TRUE(CoreDM->HasRows("SELECT 1"));
}

// ---------------------------------------------------------------------------------------
// Fonts and skin

TEST_F(TDataSettingsTest, EditorFontsFollowTheHostFontRecord) {
    const QFont system = GetSystemMessageFont();
    const int systemSize =
        system.pointSize() > 0 ? system.pointSize() : static_cast<int>(system.pointSizeF() + 0.5);
    struct TCase {
        const char* Name;
        bool UseFont;
        int32_t Size, Style;
        TQvFont Expected;
        TQvFont Caption;
    } cases[] = {
        {"黑体", true, 12, 2, {"黑体", 12, fsBold}, {"黑体", 12, fsBold}},
        {"黑体", true, 20, 3, {"黑体", 20, fsBold | fsItalic}, {"黑体", 16, fsBold | fsItalic}},
        {"黑体", true, 10, 1, {"黑体", 10, fsItalic}, {"黑体", 10, fsBold | fsItalic}},
        // Any other style code is regular.
        {"黑体", true, 11, 7, {"黑体", 11, 0}, {"黑体", 11, fsBold}},
        // The flag off: the system message font, whatever name the record holds.
        {"黑体",
         false,
         30,
         2,
         {system.family().toStdString(), systemSize, 0},
         {system.family().toStdString(), std::min(systemSize, 16), fsBold}},
    };
    Start();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.UseFont) + "/" + std::to_string(c.Style));
        IQVFontInfo info;
        info.Name = Utf8ToBstr(c.Name);
        info.UseFont = c.UseFont ? -1 : 0;
        info.Size = c.Size;
        info.Style = c.Style;
        CoreDM->ApplyHostFont(info);
        const TEditStyleController& s = CoreDM->cxtEditStyle;
        for (const TEditStyle* style : {&s.Style, &s.StyleDisabled, &s.StyleFocused, &s.StyleHot})
            EXPECT_EQ(style->Font, c.Expected);
        EXPECT_EQ(CoreDM->cxHintStyle.Font, c.Expected);
        EXPECT_EQ(CoreDM->cxHintStyle.CaptionFont, c.Caption);
    }
}

TEST_F(TDataSettingsTest, FocusedButtonStyleFollowsTheSkinIndex) {
    struct TCase {
        int32_t Skin;
        TEditButtonStyle Button;
        TLookAndFeelKind Kind;
    } cases[] = {
        {0, TEditButtonStyle::Flat, TLookAndFeelKind::Flat},
        {1, TEditButtonStyle::Office11, TLookAndFeelKind::Office2003},
        {2, TEditButtonStyle::Default, TLookAndFeelKind::Standard},
        {3, TEditButtonStyle::UltraFlat, TLookAndFeelKind::UltraFlat},
        // Unknown codes change nothing (the last style and kind stay).
        {7, TEditButtonStyle::UltraFlat, TLookAndFeelKind::UltraFlat},
    };
    Config.UseFont = true;
    Start();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Skin);
        Host->State().Config.SkinIndex = c.Skin;
        CoreDM->ApplyHostSkin();
        EXPECT_EQ(CoreDM->cxtEditStyle.StyleFocused.ButtonStyle, c.Button);
        EXPECT_EQ(RootLookAndFeel().Kind(), c.Kind);
    }
}

TEST_F(TDataSettingsTest, GroupStyleFollowsTheLookAndFeel) {
    Start();
    SetLookAndFeelKind(TLookAndFeelKind::Office2003);
    EXPECT_EQ(CoreDM->cxStyle.Find("S_Group")->Color, RootLookAndFeel().Office2003DockColor1());
    SetLookAndFeelKind(TLookAndFeelKind::Flat);
    EXPECT_EQ(CoreDM->cxStyle.Find("S_Group")->Color, QColor(212, 208, 200));
    EXPECT_EQ(CoreDM->cxStyle.Find("S_MustInput")->TextColor, QColor(255, 0, 0));
    ASSERT_EQ(CoreDM->cxStyle.StyleSheets.size(), 2u);
    EXPECT_EQ(CoreDM->cxStyle.StyleSheets[0].Styles.size(), 11u);
}

// ---------------------------------------------------------------------------------------
// Date and time formats

TEST_F(TDataSettingsTest, FixDateTimeFormatsLogsTheEnvironmentBeforeAndAfter) {
    EditFormatController().Reset();
    Start();
    const int changes = EditFormatController().ChangeCount();
    CoreDM->FixDateTimeFormats();
    EXPECT_EQ(EditFormatController().ChangeCount(), changes + 1) << "one notification for the bracket";
    EXPECT_TRUE(EditFormatController().UseProcessDateTimeFormats());

    ASSERT_EQ(Titles(), (std::vector<std::string>{"(系统)系统环境变量", "(修正后)系统环境变量"}));
    const char* const labels[] = {"-C++ 环境",
                                  "CurrencyString:",
                                  "CurrencyDecimals:6",
                                  "DateSeparator:-",
                                  "TimeSeparator::",
                                  "LongDateFormat:",
                                  "ShortDateFormatYYYY-MM-DD",
                                  "LongTimeFormat:HH:NN:SS",
                                  "ShortTimeFormat:HH:NN",
                                  "",
                                  "-Dev 环境",
                                  "AssignedCurrencyFormat:False",
                                  "AssignedRegExprDateEditMask:False",
                                  "AssignedRegExprDateTimeEditMask:False",
                                  "AssignedStandardDateEditMask:False",
                                  "AssignedStandardDateTimeEditMask:False",
                                  "AssignedStartOfWeek:False",
                                  "CurrencyFormat:",
                                  "DateEditFormat:",
                                  "DateEditMask:",
                                  "MaskedDateEditFormat:",
                                  "MaskedDateTimeEditFormat:",
                                  "RegExprDateEditMask:",
                                  "RegExprDateTimeEditMask:",
                                  "StandardDateEditMask:",
                                  "StandardDateTimeEditMask:",
                                  "UseProcessDateTimeFormats:"};
    for (int entry = 0; entry < 2; ++entry) {
        SCOPED_TRACE(entry);
        EXPECT_EQ(Log()[entry].Level, 0);
        const std::vector<std::string> lines =
            SplitString(StringReplace(Log()[entry].Detail, "\r\n", "\n", true, false), "\n");
        ASSERT_EQ(lines.size(), std::size(labels));
        for (size_t i = 0; i < lines.size(); ++i)
            EXPECT_EQ(lines[i].rfind(labels[i], 0), 0u) << lines[i];
        EXPECT_EQ(Log()[entry].Detail.find("\r\n\r\n-Dev 环境\r\n") != std::string::npos, true);
    }
    EXPECT_NE(Log()[0].Detail.find("UseProcessDateTimeFormats:False"), std::string::npos);
    const std::string& after = Log()[1].Detail;
    for (const char* line :
         {"UseProcessDateTimeFormats:True", "DateEditFormat:YYYY-MM-DD", "CurrencyFormat:0.000000",
          "MaskedDateTimeEditFormat:yyyy-mm-dd hh:nn:ss", "StandardDateEditMask:!0000-00-00;1;_",
          "RegExprDateEditMask:\\d\\d\\d\\d-\\d\\d?-\\d\\d?"})
        EXPECT_NE(after.find(line), std::string::npos) << line;
}

// ---------------------------------------------------------------------------------------
// Life by phases

TEST_F(TDataSettingsTest, ListenersCreateOnceKeepThroughIdleAndFreeOnDisconnect) {
    Start();
    ASSERT_EQ(QvApp->Listeners(), (std::vector<TQvAppListener>{&QvResPhaseListener, &CoreDMPhaseListener}));
    ASSERT_NE(CoreDM, nullptr);
    ASSERT_NE(QvRes, nullptr);
    TCoreDM* first = CoreDM;
    EXPECT_EQ(CoreDM->ImgList_16.Count(), static_cast<int>(std::size(CoreImageNumbers)));
    EXPECT_EQ(CoreDM->ImgList_24.Count(), static_cast<int>(std::size(CoreImageNumbers)));
    EXPECT_EQ(CoreDM->ImgList_24.Image(0).width(), 24);

    QvApp->NotifyIdle();
    QvApp->Connect(); // phase 0 again: the existing module stays, its lists are not refilled
    EXPECT_EQ(CoreDM, first);
    EXPECT_EQ(CoreDM->ImgList_16.Count(), static_cast<int>(std::size(CoreImageNumbers)));

    QvApp->Disconnect();
    EXPECT_EQ(CoreDM, nullptr);
    EXPECT_EQ(QvRes, nullptr);
}

} // namespace
