// The core data module: the single owner of the plug-in's database connection and the one
// executor of its statements.
//
// Every statement is a query made by NewQuery and run by ExecuteQuery, which picks the
// connection ("--UseSlave" statements go to the host's read replica when it gives one),
// writes the statement as a runnable script to the host log, and on failure logs the
// script again and rolls back any open server transaction before the error travels on to
// the caller unchanged. While its events are attached the main connection also logs every
// statement it runs and every database error.
//
// There is one instance, the global CoreDM, created at phase 0 and freed at phase 1 by the
// unit's phase listener, and configured by the package from the host's settings:
//   Initialize            -> SetupHostConnection, then FixDateTimeFormats
//   settings kind 1       -> ApplyHostFont(host font record)
//   settings kind 2       -> ApplyHostSkin
//   settings kind 3       -> HostNotified
//   settings kind 10      -> Reconnect
//   Finalize              -> DetachConnection
#pragma once

#include "QvADO.h"
#include "QvEditorLib.h"
#include "QvHostIntf.h"
#include "QvText.h"
#include "kbmMemTable.h"
#include "uQvRes.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

class TLookAndFeel;

// Receives the table after its fields were copied from the query and before its rows are.
using TMemTableStructureProc = std::function<void(TkbmMemTable& ATable)>;

// The host icons of the module's image lists, in list order.
inline constexpr int CoreImageNumbers[] = {1116, 1100, 1101, 1102, 1105, 1106, 1115, 1113, 1108, 1107, 1109,
                                           1110, 1112, 1013, 1118, 1117, 1128, 1129, 1131, 1130, 1119, 1103,
                                           1122, 1123, 1125, 1126, 1132, 1137, 1104, 1127, 1140};

class TCoreDM {
public:
    // Creation: the look-and-feel, the components, and the replica connection decided
    // from the host library (version 3.0 or later with a replica: a second connection on
    // it; otherwise the main connection serves "--UseSlave" statements too).
    TCoreDM();
    // Clears the global CoreDM when it is this module.
    ~TCoreDM();
    TCoreDM(const TCoreDM&) = delete;
    TCoreDM& operator=(const TCoreDM&) = delete;

    static constexpr const char* Name() { return "CoreDM"; }

    // --- Components (in the module's declaration order)

    TADOConnection ADOConnection1{"ADOConnection1"};
    TADOQuery queDataSet2{"queDataSet2"};
    TADOQuery queDataSet1{"queDataSet1"};
    TADOQuery queCommand{"queCommand"};
    TEditStyleController cxtEditStyle;
    TStyleRepository cxStyle;
    TImageList ImgList_16{16, 16};
    TImageList ImgList_24{24, 24};
    THintStyle cxHintStyle;

    // The connection of "--UseSlave" statements: the module's second connection on the
    // host's replica, or ADOConnection1. Decided at creation; never nil.
    TADOConnection* SlaveConnection() const { return FSlaveConnection; }
    bool HasOwnSlaveConnection() const { return FSlaveOwned != nullptr; }

    // --- Statements

    // A new query on ADOConnection1 with its command timeout; the caller owns it.
    std::unique_ptr<TADOQuery> NewQuery(bool AParamCheck);

    // --- Connection set-up and host settings

    // Adopts a connection object handed over by the host as ADOConnection1's underlying
    // connection (nil lets the current one go). Raises when the object is no connection.
    void SetConnection(const ComPtr<IInterface>& AConnection);
    // The package's connection set-up (only with a host application): connection mode 1
    // detaches the logging events and adopts the host's connection object; any other mode
    // takes the host's connection string and the command timeout from host value
    // ".TimeOut" (30 when missing, not a whole number or negative). The three datasets
    // then take ADOConnection1's command timeout.
    void SetupHostConnection();
    // Closes ADOConnection1 and opens it again; an error of the opening is ignored.
    void Reconnect();
    // Lets go of ADOConnection1's connection object without closing it (it may be the
    // host's own).
    void DetachConnection();
    // Attaches (or removes) the logging events of ADOConnection1.
    void AttachLogEvents(bool AAttach);
    bool LogEventsAttached() const { return static_cast<bool>(ADOConnection1.OnWillExecute); }

    // --- Host SQL texts and result sets

    // The host's numbered SQL text; empty without the host library.
    std::string GetSQL(int32_t ASQLID);
    // Runs a SELECT; true when it returned at least one row.
    bool HasRows(const std::string& ASQL);
    // Runs a SELECT and copies its result into the table. A text containing "为空" or
    // "不存在" is the host library's message for a missing SQL text: it is raised as the
    // error and nothing runs.
    void OpenToMemTable(TkbmMemTable& ATable, const std::string& ASQL, bool AKeepReadOnly, bool AReplace,
                        bool AUseConnectionExecute, const TMemTableStructureProc& AOnStructure = nullptr);
    // The same with host SQL text ASQLID formatted with AArgs.
    void OpenSQLToMemTable(TkbmMemTable& ATable, std::initializer_list<TVarRec> AArgs, int32_t ASQLID,
                           bool AKeepReadOnly, bool AReplace, bool AUseConnectionExecute,
                           const TMemTableStructureProc& AOnStructure = nullptr);

    // --- Formats and appearance

    // Logs the locale environment ("系统"), makes the editors follow the process's own
    // date and time formats, logs it again ("修正后").
    void FixDateTimeFormats();
    // The text of the environment log entry.
    std::string EnvironmentText() const;
    // Editor fonts by name, size and style (AByName) or from a font handle of the facade
    // (TQvApplication::CreateMessageFont; 0 leaves the fonts as they are); then the hint
    // fonts follow the normal style's font (the caption bold, at most 16 points).
    void SetEditorFont(bool AByName, const std::string& AName, int ASize, TFontStyles AStyle,
                       QvHandle AHandle);
    // Kind 1 of the host settings: the host font when its use-this-font flag is set, else
    // the system message font.
    void ApplyHostFont(const IQVFontInfo& AFont);
    // Re-applies the host appearance, then the focused editors' button style by the host
    // code: 0 flat, 1 Office 11, 2 default, 3 ultra-flat; any other code changes nothing.
    void SetFocusedButtonStyle(int32_t AKind);
    // Kind 2 of the host settings: SetFocusedButtonStyle with the host's skin index.
    void ApplyHostSkin();
    // Kind 3 of the host settings: nothing to do.
    void HostNotified() {}
    // Fills both image lists with the module's host icons when ImgList_16 is still empty.
    void FillImageLists();

    // --- System parameters and the server

    // Columns of the numbered parameter row (host SQL text 7515): BLP03 as text ("" when
    // there is no row), BLP04 and BLP05 as integers (0 when there is none).
    std::string GetParamText(int32_t AParamNo);
    int32_t GetParamInt(int32_t AParamNo);
    int32_t GetParamSwitch(int32_t AParamNo);
    // "1" when the parameter row exists, otherwise "0".
    void ParamExists(int32_t AParamNo, std::string& AResult);
    // The value of dbo.GetSysParamValue for the three numbers, trimmed; "0" without a row.
    void GetSysParamValue(int32_t AKey1, int32_t AKey2, int32_t AKey3, std::string& AValue);
    // The database server's current date and time (one round trip per call).
    TDateTime GetServerTime();

private:
    // Opens host SQL text 7515 for the parameter and hands its query to ARead.
    void ReadParamRow(int32_t AParamNo, const std::function<void(TADOQuery& AQuery)>& ARead);
    void WillExecute(TADOConnection& ASender, std::string& ACommandText);
    void ExecuteComplete(TADOConnection& ASender, int ARecordsAffected, const TADOError* AError);
    void LookAndFeelChanged();

    std::unique_ptr<TLookAndFeel> FLookAndFeel;
    std::unique_ptr<TADOConnection> FSlaveOwned;
    TADOConnection* FSlaveConnection = &ADOConnection1;
};

// The data module (see the top of this file for its life).
extern TCoreDM* CoreDM;

// Makes CoreDM when it does not exist; frees it (nothing when it is gone).
void CreateCoreDM();
void FreeCoreDM() noexcept;

// Runs a statement: the one way the plug-in runs one. Routing: a query on ADOConnection1
// or on the replica connection runs on the replica when its text contains "--UseSlave"
// (case-sensitive), otherwise on ADOConnection1; a query on any other connection stays
// where it is. ALogScript writes the debug script ("执行详情") first. Then exactly one of:
// AUseConnectionExecute runs the text as it is on the connection and opens the query on
// the result; AOpen opens the query; otherwise the query is executed as a command. On an
// error of the system's kind with ARollbackOnError, the script is logged again ("回滚事物")
// and "IF @@TRANCOUNT>0 ROLLBACK TRAN" runs on ADOConnection1. The statement's own error
// always reaches the caller unchanged. Afterwards the query has its execute options and
// its connection back; an opened result stays readable.
void ExecuteQuery(TADOQuery& AQuery, bool AOpen, int32_t ALogLevel, const std::string& ARemark,
                  bool ALogScript, bool ARollbackOnError, bool AUseConnectionExecute);

// The statement as a script for a SQL console: "--脚本:" and, with parameter checking, a
// declaration and an assignment for each parameter with the references rewritten to
// @Debug_<name>. Only for the log; the statement itself runs unchanged.
std::string BuildDebugScript(TADOQuery& AQuery);

// The phase listener: phase 0 makes CoreDM when it does not exist and fills its image
// lists, phase 2 does nothing, any other phase frees CoreDM.
void CoreDMPhaseListener(uint8_t APhase);
// Adds CoreDMPhaseListener to QvApp (after uQvRes's listener).
void RegisterCoreDMListener();
