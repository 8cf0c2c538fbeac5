// The core data module: creation, connection set-up, statements, logging and rollback.
#include "CoreDataModule.h"

#include "CForms.h"
#include "QvLookAndFeel.h"
#include "uIApplication.h"

TCoreDM* CoreDM = nullptr;

namespace {

const char* const LogSource = "CoreDm";
const char* const NoHostText = "主应用程序接口未连接。";

// Writes a host log entry; a failing log never changes what a statement does, so its
// error is dropped (and without the host library the facade drops the entry anyway).
void LogQuietly(int32_t ALevel, const std::string& ATitle, const std::string& ADetail) {
    try {
        if (QvApp) QvApp->WriteLog(ALevel, LogSource, ATitle, ADetail);
    } catch (...) {
    }
}

TQvApplication& NeedQvApp() {
    if (!QvApp) throw Exception(NoHostText);
    return *QvApp;
}

// Group colours of the grid's group rows under each look-and-feel kind.
struct TGroupColors {
    QColor Color, TextColor;
};

TGroupColors GroupColorsOf(TLookAndFeelKind AKind) {
    switch (AKind) {
    case TLookAndFeelKind::Office2003:
        return {RootLookAndFeel().Office2003DockColor1(), QColor(0, 0, 0)};
    case TLookAndFeelKind::UltraFlat:
        return {QColor(240, 240, 240), QColor(0, 0, 0)};
    case TLookAndFeelKind::Flat:
    case TLookAndFeelKind::Standard:
    default:
        return {QColor(212, 208, 200), QColor(0, 0, 0)};
    }
}

// The styles of the repository, in order; the grid style sheets combine the first eleven.
const char* const StyleNames[] = {"S_Content",        "S_ContentEven", "S_ContentOdd", "S_Footer",
                                  "S_Group",          "S_GroupByBox",  "S_Header",     "S_Inactive",
                                  "S_Indicator",      "S_Preview",     "S_Selection",  "S_MustInput",
                                  "S_MoneyBackground"};
constexpr int GridStyleCount = 11;

bool IsIntegerType(TFieldType t) {
    return t == ftSmallint || t == ftInteger || t == ftWord || t == ftLargeint;
}
bool IsDecimalType(TFieldType t) {
    return t == ftFloat || t == ftCurrency || t == ftBCD;
}

// "IF @@TRANCOUNT>0 ROLLBACK TRAN" on ADOConnection1. A failure of the rollback is logged;
// the statement's own error is what the caller must see, so it does not replace it.
void RollbackOpenTransaction() {
    if (!CoreDM) return;
    try {
        std::unique_ptr<TADOQuery> query = CoreDM->NewQuery(false);
        query->SQL().SetText("IF @@TRANCOUNT>0 ROLLBACK TRAN");
        ExecuteQuery(*query, false, 0, "取消事务", false, false, false);
    } catch (const std::exception& e) {
        LogQuietly(5, "回滚事物失败", e.what());
    }
}

} // namespace

// ---------------------------------------------------------------------------------------
// Creation and destruction

TCoreDM::TCoreDM() {
    FLookAndFeel = std::make_unique<TLookAndFeel>([this] { LookAndFeelChanged(); });
    // A module unloaded while the data module still exists (the host never let the
    // package go) frees it here, before the root look-and-feel it listens to is gone:
    // this guard is made after that root, so it is destroyed before it.
    struct TUnloadGuard {
        ~TUnloadGuard() { FreeCoreDM(); }
    };
    static TUnloadGuard unloadGuard;

    ADOConnection1.SetConnectionString("Provider=SQLOLEDB.1");
    ADOConnection1.SetLoginPrompt(false);
    AttachLogEvents(true);
    for (TADOQuery* q : {&queDataSet2, &queDataSet1, &queCommand}) {
        q->SetConnection(&ADOConnection1);
        q->SetParamCheck(false);
    }

    // The module's look-and-feel controller: Office 11 for every editor and form.
    SetLookAndFeelKind(TLookAndFeelKind::Office2003);

    for (TEditStyle* s : {&cxtEditStyle.Style, &cxtEditStyle.StyleDisabled, &cxtEditStyle.StyleFocused,
                          &cxtEditStyle.StyleHot})
        s->BorderStyle = TEditBorderStyle::Thick;
    cxtEditStyle.StyleFocused.BorderColor = QColor(0, 128, 128); // teal

    for (const char* name : StyleNames)
        cxStyle.Add(name);
    cxStyle.Find("S_MustInput")->TextColor = QColor(255, 0, 0);
    cxStyle.Find("S_MoneyBackground")->Color = QColor(192, 220, 192); // money green
    const std::vector<std::string> gridStyles(std::begin(StyleNames),
                                              std::begin(StyleNames) + GridStyleCount);
    cxStyle.StyleSheets = {{"GridTableVS", gridStyles}, {"GridBandedTableVS", gridStyles}};
    LookAndFeelChanged();

    // The replica connection: only a library of version 3.0 or later can give one.
    if (QvApp && QvApp->HasLibrary()) {
        double version = 0;
        OleCheck(QvApp->Library()->GetVersion(&version));
        if (version >= 3.0) {
            ComPtr<_Connection> slave = ComPtr<_Connection>::Attach(QvApp->GetSlaveConnection());
            if (slave) {
                FSlaveOwned = std::make_unique<TADOConnection>("SlaveConnection");
                FSlaveOwned->SetLoginPrompt(false);
                FSlaveOwned->SetConnectionObject(std::move(slave));
                FSlaveConnection = FSlaveOwned.get();
            }
        }
    }
}

TCoreDM::~TCoreDM() {
    FLookAndFeel.reset();
    if (CoreDM == this) CoreDM = nullptr;
}

void TCoreDM::LookAndFeelChanged() {
    if (TStyleItem* group = cxStyle.Find("S_Group")) {
        const TGroupColors colors = GroupColorsOf(RootLookAndFeel().Kind());
        group->Color = colors.Color;
        group->TextColor = colors.TextColor;
    }
}

void CreateCoreDM() {
    if (!CoreDM) CoreDM = std::make_unique<TCoreDM>().release();
}

void FreeCoreDM() noexcept {
    std::unique_ptr<TCoreDM> dm(std::exchange(CoreDM, nullptr));
}

// ---------------------------------------------------------------------------------------
// Connection

std::unique_ptr<TADOQuery> TCoreDM::NewQuery(bool AParamCheck) {
    auto query = std::make_unique<TADOQuery>();
    query->SetConnection(&ADOConnection1);
    query->SetCommandTimeout(ADOConnection1.CommandTimeout());
    query->SetParamCheck(AParamCheck);
    return query;
}

void TCoreDM::SetConnection(const ComPtr<IInterface>& AConnection) {
    if (!AConnection) {
        ADOConnection1.SetConnectionObject(nullptr);
        return;
    }
    ComPtr<_Connection> connection = AConnection.As<_Connection>();
    if (!connection) throw Exception("主应用程序提供的数据库连接对象不是ADO连接(_Connection)。");
    ADOConnection1.SetConnectionObject(std::move(connection));
}

void TCoreDM::SetupHostConnection() {
    if (!QvApp || !QvApp->HasApplication()) return;
    if (QvApp->GetConnectionMode() == 1) {
        // Statements on the host's own connection are not logged by the data module.
        AttachLogEvents(false);
        ComPtr<IInterface> connection = ComPtr<_Connection>::Attach(QvApp->GetConnection());
        if (!connection) throw Exception("主应用程序没有提供数据库连接。");
        SetConnection(connection);
    } else {
        if (ADOConnection1.Connected()) ADOConnection1.Close();
        ADOConnection1.SetConnectionString(QvApp->GetConnectionString());
        int timeout = 30;
        std::string value;
        int number = 0;
        if (QvApp->GetEnvValue(".TimeOut", value) == 1 && TryStrToInt(Trim(value), number) && number >= 0)
            timeout = number;
        ADOConnection1.SetCommandTimeout(timeout);
    }
    for (TADOQuery* q : {&queDataSet1, &queDataSet2, &queCommand})
        q->SetCommandTimeout(ADOConnection1.CommandTimeout());
}

void TCoreDM::Reconnect() {
    ADOConnection1.Close();
    try {
        ADOConnection1.Open();
    } catch (...) {
        // The next statement tries again and reports what it finds.
    }
}

void TCoreDM::DetachConnection() {
    ADOConnection1.SetConnectionObject(nullptr);
}

void TCoreDM::AttachLogEvents(bool AAttach) {
    if (AAttach) {
        ADOConnection1.OnWillExecute = [this](TADOConnection& ASender, std::string& AText) {
            WillExecute(ASender, AText);
        };
        ADOConnection1.OnExecuteComplete = [this](TADOConnection& ASender, int ARecords,
                                                  const TADOError* AError) {
            ExecuteComplete(ASender, ARecords, AError);
        };
    } else {
        ADOConnection1.OnWillExecute = nullptr;
        ADOConnection1.OnExecuteComplete = nullptr;
    }
}

void TCoreDM::WillExecute(TADOConnection& ASender, std::string& ACommandText) {
    LogQuietly(4, "SQL执行", ACommandText.substr(0, ACommandText.find('\0')));
}

void TCoreDM::ExecuteComplete(TADOConnection& ASender, int ARecordsAffected, const TADOError* AError) {
    if (!AError) return;
    LogQuietly(5, "SQL执行失败",
               "错误ID:" + IntToStr(AError->Number) + "\r\n来源:" + AError->Source +
                   "\r\n描述:" + AError->Description);
    // A broken connection: close it so the next statement reconnects, and end the wait
    // notice the host may be showing. The statement's own error follows either way.
    try {
        if (ASender.Connected() && AError->Number == E_FAIL) {
            ASender.Close();
            if (QvApp) QvApp->AbortWait();
        }
    } catch (...) {
    }
}

// ---------------------------------------------------------------------------------------
// Statements

std::string BuildDebugScript(TADOQuery& AQuery) {
    std::string sql = AQuery.SQL().Text();
    if (!AQuery.ParamCheck()) return "--脚本:\r\n" + sql;
    std::string declarations, assignments;
    TParameters& params = AQuery.Parameters();
    for (int i = 0; i < params.Count(); ++i) {
        const TParameter& p = params[i];
        const std::string name = "@Debug_" + p.Name();
        sql = StringReplace(sql, ":" + p.Name(), name, true, false);
        const TFieldType type = p.DataType();
        switch (type) {
        case ftString:
        case ftMemo:
        case ftWideString:
        case ftUnknown:
            declarations += "DECLARE " + name + " VARCHAR(8000)\r\n";
            break;
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftLargeint:
            declarations += "DECLARE " + name + " Int\r\n";
            break;
        case ftFloat:
        case ftCurrency:
        case ftBCD:
            declarations += "DECLARE " + name + " numeric(18, 6)\r\n";
            break;
        case ftDate:
        case ftTime:
        case ftDateTime:
            declarations += "DECLARE " + name + " Datetime\r\n";
            break;
        default:
            break;
        }
        const Variant& value = p.Value();
        if (value.IsNullOrEmpty())
            assignments += "SET " + name + " = NULL\r\n";
        else if (IsIntegerType(type) || IsDecimalType(type))
            assignments += "SET " + name + " =" + value.AsString() + "\r\n";
        else
            assignments += "SET " + name + " = " + QuotedStr(value.AsString()) + "\r\n";
    }
    return "--脚本:\r\n" + declarations + assignments + sql;
}

void ExecuteQuery(TADOQuery& AQuery, bool AOpen, int32_t ALogLevel, const std::string& ARemark,
                  bool ALogScript, bool ARollbackOnError, bool AUseConnectionExecute) {
    // The query gets its connection and execute options back whatever happens.
    struct TRestore {
        TADOQuery& Query;
        TADOConnection* Connection;
        TExecuteOptions Options;
        ~TRestore() {
            Query.SetExecuteOptions(Options);
            Query.SetConnection(Connection);
        }
    } restore{AQuery, AQuery.Connection(), AQuery.ExecuteOptions()};

    if (CoreDM &&
        (restore.Connection == &CoreDM->ADOConnection1 || restore.Connection == CoreDM->SlaveConnection())) {
        const bool slave = AQuery.SQL().Text().find("--UseSlave") != std::string::npos;
        AQuery.SetConnection(slave ? CoreDM->SlaveConnection() : &CoreDM->ADOConnection1);
    }

    if (ALogScript) LogQuietly(ALogLevel, "执行详情", BuildDebugScript(AQuery) + "\r\n备注:" + ARemark);

    try {
        TExecuteOptions options = restore.Options;
        if (AUseConnectionExecute) {
            TADOConnection* connection = AQuery.Connection();
            if (!connection) throw Exception("缺少数据库连接。");
            AQuery.SetRecordset(connection->Execute(AQuery.SQL().Text(), adOptionUnspecified));
        } else if (AOpen) {
            AQuery.SetExecuteOptions(options.Exclude(eoExecuteNoRecords));
            AQuery.Open();
        } else {
            AQuery.SetExecuteOptions(options.Include(eoExecuteNoRecords));
            AQuery.ExecSQL();
        }
    } catch (const Exception&) {
        if (ARollbackOnError) {
            LogQuietly(ALogLevel, "回滚事物", BuildDebugScript(AQuery) + "\r\n备注:" + ARemark);
            RollbackOpenTransaction();
        }
        throw;
    }
}

// ---------------------------------------------------------------------------------------
// Host SQL texts and result sets

std::string TCoreDM::GetSQL(int32_t ASQLID) {
    return QvApp ? QvApp->GetScript(ASQLID) : std::string();
}

bool TCoreDM::HasRows(const std::string& ASQL) {
    std::unique_ptr<TADOQuery> query = NewQuery(false);
    query->SQL().SetText(ASQL);
    ExecuteQuery(*query, true, 0, "", true, true, false);
    const bool rows = !query->Eof();
    query->Close();
    return rows;
}

void TCoreDM::OpenToMemTable(TkbmMemTable& ATable, const std::string& ASQL, bool AKeepReadOnly, bool AReplace,
                             bool AUseConnectionExecute, const TMemTableStructureProc& AOnStructure) {
    // The host library's message for a missing numbered text, not a statement.
    if (ASQL.find("为空") != std::string::npos || ASQL.find("不存在") != std::string::npos)
        throw Exception(ASQL);

    std::unique_ptr<TADOQuery> query = NewQuery(false);
    query->SQL().SetText(ASQL);
    ExecuteQuery(*query, true, 0, "", true, false, AUseConnectionExecute);

    auto makeWritable = [&ATable] {
        for (int i = 0; i < ATable.FieldCount(); ++i)
            ATable.Fields()[i].SetReadOnly(false);
    };
    if (AReplace) {
        ATable.Close();
        ATable.DeleteFields();
        if (AOnStructure && !AKeepReadOnly) {
            ATable.CreateTableAs(*query, {.Structure = true, .IgnoreErrors = true});
            makeWritable();
            AOnStructure(ATable);
            ATable.Open();
            ATable.LoadFromDataSet(*query, {.Structure = false, .Append = true, .IgnoreErrors = true});
        } else {
            ATable.LoadFromDataSet(*query, {.Structure = true, .IgnoreErrors = true});
            if (!AKeepReadOnly) makeWritable();
        }
    } else if (!query->IsEmpty()) {
        ATable.LoadFromDataSet(*query, {.Structure = false, .Append = true, .IgnoreErrors = true});
    }
}

void TCoreDM::OpenSQLToMemTable(TkbmMemTable& ATable, std::initializer_list<TVarRec> AArgs, int32_t ASQLID,
                                bool AKeepReadOnly, bool AReplace, bool AUseConnectionExecute,
                                const TMemTableStructureProc& AOnStructure) {
    const std::string sql = NeedQvApp().FormatScript(ASQLID, AArgs);
    OpenToMemTable(ATable, sql, AKeepReadOnly, AReplace, AUseConnectionExecute, AOnStructure);
}

// ---------------------------------------------------------------------------------------
// Formats and appearance

std::string TCoreDM::EnvironmentText() const {
    const TFormatSettings& fs = FormatSettings();
    const TEditFormatController& fc = EditFormatController();
    auto flag = [](bool AValue) { return std::string(AValue ? "True" : "False"); };
    const std::string lines[] = {
        "-C++ 环境",
        "CurrencyString:" + fs.CurrencyString,
        "CurrencyDecimals:" + IntToStr(fs.CurrencyDecimals),
        "DateSeparator:" + std::string(1, fs.DateSeparator),
        "TimeSeparator:" + std::string(1, fs.TimeSeparator),
        "LongDateFormat:" + fs.LongDateFormat,
        "ShortDateFormat" + fs.ShortDateFormat,
        "LongTimeFormat:" + fs.LongTimeFormat,
        "ShortTimeFormat:" + fs.ShortTimeFormat,
        "",
        "-Dev 环境",
        "AssignedCurrencyFormat:" + flag(fc.AssignedCurrencyFormat()),
        "AssignedRegExprDateEditMask:" + flag(fc.AssignedRegExprDateEditMask()),
        "AssignedRegExprDateTimeEditMask:" + flag(fc.AssignedRegExprDateTimeEditMask()),
        "AssignedStandardDateEditMask:" + flag(fc.AssignedStandardDateEditMask()),
        "AssignedStandardDateTimeEditMask:" + flag(fc.AssignedStandardDateTimeEditMask()),
        "AssignedStartOfWeek:" + flag(fc.AssignedStartOfWeek()),
        "CurrencyFormat:" + fc.CurrencyFormat(),
        "DateEditFormat:" + fc.DateEditFormat(),
        "DateEditMask:" + fc.DateEditMask(),
        "MaskedDateEditFormat:" + fc.MaskedDateEditFormat(),
        "MaskedDateTimeEditFormat:" + fc.MaskedDateTimeEditFormat(),
        "RegExprDateEditMask:" + fc.RegExprDateEditMask(),
        "RegExprDateTimeEditMask:" + fc.RegExprDateTimeEditMask(),
        "StandardDateEditMask:" + fc.StandardDateEditMask(),
        "StandardDateTimeEditMask:" + fc.StandardDateTimeEditMask(),
        "UseProcessDateTimeFormats:" + flag(fc.UseProcessDateTimeFormats()),
    };
    std::string text;
    for (const std::string& line : lines) {
        if (&line != &lines[0]) text += "\r\n";
        text += line;
    }
    return text;
}

void TCoreDM::FixDateTimeFormats() {
    LogQuietly(0, "(系统)系统环境变量", EnvironmentText());
    TEditFormatController& fc = EditFormatController();
    fc.BeginUpdate();
    try {
        fc.SetUseProcessDateTimeFormats(true);
    } catch (...) {
        fc.EndUpdate();
        throw;
    }
    fc.EndUpdate();
    LogQuietly(0, "(修正后)系统环境变量", EnvironmentText());
}

void TCoreDM::SetEditorFont(bool AByName, const std::string& AName, int ASize, TFontStyles AStyle,
                            QvHandle AHandle) {
    TEditStyle* const styles[] = {&cxtEditStyle.Style, &cxtEditStyle.StyleDisabled,
                                  &cxtEditStyle.StyleFocused, &cxtEditStyle.StyleHot};
    if (AByName) {
        for (TEditStyle* s : styles)
            s->Font = TQvFont{AName, ASize, AStyle};
    } else if (AHandle) {
        const auto* font = reinterpret_cast<const TMessageFont*>(AHandle);
        for (TEditStyle* s : styles)
            s->Font = TQvFont{font->Name, font->Size, 0};
    }
    cxHintStyle.Font = cxtEditStyle.Style.Font;
    cxHintStyle.CaptionFont = cxtEditStyle.Style.Font;
    cxHintStyle.CaptionFont.Style |= fsBold;
    if (cxHintStyle.CaptionFont.Size > 16) cxHintStyle.CaptionFont.Size = 16;
}

void TCoreDM::ApplyHostFont(const IQVFontInfo& AFont) {
    if (AFont.UseFont) {
        SetEditorFont(true, BstrToUtf8(AFont.Name), AFont.Size, FontStylesFromHostCode(AFont.Style), 0);
        return;
    }
    struct TFontHandle {
        QvHandle Handle;
        ~TFontHandle() { FreeMessageFont(Handle); }
    } font{QvApp ? QvApp->CreateMessageFont() : 0};
    SetEditorFont(false, {}, 0, 0, font.Handle);
}

void TCoreDM::SetFocusedButtonStyle(int32_t AKind) {
    ApplyHostAppearance();
    TEditButtonStyle& style = cxtEditStyle.StyleFocused.ButtonStyle;
    switch (AKind) {
    case 0:
        style = TEditButtonStyle::Flat;
        break;
    case 1:
        style = TEditButtonStyle::Office11;
        break;
    case 2:
        style = TEditButtonStyle::Default;
        break;
    case 3:
        style = TEditButtonStyle::UltraFlat;
        break;
    default:
        break;
    }
}

void TCoreDM::ApplyHostSkin() {
    IQvConfigInfo config;
    NeedQvApp().GetConfigInfo(config);
    SetFocusedButtonStyle(config.SkinIndex);
}

void TCoreDM::FillImageLists() {
    if (ImgList_16.Count() > 0) return;
    const TQvRes none(0);
    const TQvRes& res = QvRes ? *QvRes : none;
    res.FillImageList(ImgList_16, CoreImageNumbers, 0);
    res.FillImageList(ImgList_24, CoreImageNumbers, 0);
}

// ---------------------------------------------------------------------------------------
// System parameters and the server

void TCoreDM::ReadParamRow(int32_t AParamNo, const std::function<void(TADOQuery& AQuery)>& ARead) {
    std::unique_ptr<TADOQuery> query = NewQuery(true);
    query->SQL().SetText(NeedQvApp().FormatScript(7515, {AParamNo}));
    ExecuteQuery(*query, true, 0, "", true, true, false);
    ARead(*query);
}

std::string TCoreDM::GetParamText(int32_t AParamNo) {
    std::string value;
    ReadParamRow(AParamNo, [&](TADOQuery& q) {
        if (!q.Eof()) value = q.FieldByName("BLP03").AsString();
    });
    return value;
}

int32_t TCoreDM::GetParamInt(int32_t AParamNo) {
    int32_t value = 0;
    ReadParamRow(AParamNo, [&](TADOQuery& q) {
        if (!q.Eof()) value = q.FieldByName("BLP04").AsInteger();
    });
    return value;
}

int32_t TCoreDM::GetParamSwitch(int32_t AParamNo) {
    int32_t value = 0;
    ReadParamRow(AParamNo, [&](TADOQuery& q) {
        if (!q.Eof()) value = q.FieldByName("BLP05").AsInteger();
    });
    return value;
}

void TCoreDM::ParamExists(int32_t AParamNo, std::string& AResult) {
    bool exists = false;
    ReadParamRow(AParamNo, [&](TADOQuery& q) { exists = !q.Eof(); });
    AResult = exists ? "1" : "0";
}

void TCoreDM::GetSysParamValue(int32_t AKey1, int32_t AKey2, int32_t AKey3, std::string& AValue) {
    std::unique_ptr<TADOQuery> query = NewQuery(true);
    query->SQL().SetText(Format("Select dbo.GetSysParamValue(%d,%d,%d) as value", {AKey1, AKey2, AKey3}));
    ExecuteQuery(*query, true, 0, "获取单个公共参数值", true, true, false);
    AValue = query->Eof() ? "0" : Trim(query->FieldByName("value").AsString());
}

TDateTime TCoreDM::GetServerTime() {
    std::unique_ptr<TADOQuery> query = NewQuery(true);
    query->SQL().SetText("SELECT getdate()");
    ExecuteQuery(*query, true, 0, "获取服务器时间", true, true, false);
    const TDateTime now = query->Fields()[0].AsDateTime();
    query->Close();
    return now;
}

// ---------------------------------------------------------------------------------------
// Phase listener

void CoreDMPhaseListener(uint8_t APhase) {
    switch (APhase) {
    case QvPhaseConnected:
        CreateCoreDM();
        CoreDM->FillImageLists();
        break;
    case QvPhaseReleaseCaches:
        break;
    default:
        FreeCoreDM();
        break;
    }
}

void RegisterCoreDMListener() {
    if (QvApp) QvApp->AddListener(&CoreDMPhaseListener);
}
