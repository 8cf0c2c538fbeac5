// Print, report and drop-down services of the plug-in (unit uCoreDlg).
//
// - TPrintPackage (global PrintPackage): the connection to the host's report component
//   "Qv.Print", the report list of a report code, the report variables, opening and
//   printing a report.
// - Report_Query: fetches the SQL text of a configured script through the host's system
//   component "QV.System".
// - LoadDropDown: fills a drop-down list's items from a SELECT.
// - The unit's phase listeners: phase 0 creates PrintPackage with the data-picker and
//   privileges wrappers, phase 1 frees them; the two cached-device-client listeners drop
//   their caches on phase 2.
//
// Statements reach the database through the data module (CoreDM); tests may put their own
// runner into QvOpenSQLProc.
#pragma once

#include "QvPrintIntf.h"
#include "QvText.h"
#include "kbmMemTable.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

class QObject;

// ---------------------------------------------------------------------------------------
// Opening a SELECT into an in-memory table (the table's fields are replaced by the
// statement's). ALogged: through the data module's statement runner (script logged,
// rollback on error); otherwise directly on a new query (no script log, no rollback).
using TQvOpenSQLProc = std::function<void(const std::string& ASQL, TkbmMemTable& ATable, bool ALogged)>;
// A replacement runner (tests); empty: the data module's.
extern TQvOpenSQLProc QvOpenSQLProc;
// Runs the statement; raises "数据库连接不可用。" when no data module is there.
void OpenSQLToTable(const std::string& ASQL, TkbmMemTable& ATable, bool ALogged = true);

// ---------------------------------------------------------------------------------------

class TPrintPackage {
public:
    TPrintPackage();
    ~TPrintPackage();
    TPrintPackage(const TPrintPackage&) = delete;
    TPrintPackage& operator=(const TPrintPackage&) = delete;

    // Connects when needed (or resets the held component) and empties both lists. True
    // when a print interface is held and, with ACheckUser, the component allows the user.
    bool Prepare(bool ACheckUser);
    // Fills a drop-down list (a QComboBox) with the reports of a report code: description
    // Name, value id. ADefaultID: the id of the last row marked xDefault = 1, else 0.
    // Anything that is not a drop-down list is left alone.
    void LoadReportList(QObject* AProperties, const std::string& AReportCode, int32_t& ADefaultID);
    // Empties the variables and sets "ReportVar.0", "ReportVar.1", ... to the values.
    void SetReportVars(std::initializer_list<std::string> AValues);
    // Sets one variable; an empty value removes it.
    void SetVar(const std::string& AName, const std::string& AValue);
    // Opens the report code in the component with the current variables; a component
    // failure raises its last error text.
    void OpenReport(const std::string& AReportCode);
    // Hands the variables over ("SetVars " command) and prints the report; the component's
    // success flag. A component failure raises its last error text.
    bool Print(int32_t AReportID, bool AFlag1, bool AFlag2);

    IQVPrint* PrintIntf() const { return FPrint.get(); }
    IQVPrint2* PrintIntf2() const { return FPrint2.get(); }
    const TStringList& Variables() const { return FVariables; }
    const TStringList& DataList() const { return FData; }

private:
    void Connect();
    IQVPrint& NeedPrint() const;
    std::string LastError() const;

    ComPtr<IQVPrint> FPrint;
    ComPtr<IQVPrint2> FPrint2;
    TStringList FVariables;
    TStringList FData; // handed to the component with a report; the plug-in never fills it
};

// The data-picker and privileges wrappers of the host: kept alive beside the print
// package; the plug-in uses no operation of theirs.
class TQVDataPicker {};
class TQVPrivileges {};

// Created by phase 0, freed by phase 1 (see the listeners below).
extern std::unique_ptr<TPrintPackage> PrintPackage;
extern std::unique_ptr<TQVDataPicker> DataPicker;
extern std::unique_ptr<TQVPrivileges> Privileges;

// ---------------------------------------------------------------------------------------

class Report_Query {
public:
    // Asks the host's system component for script AScriptID (command 23). With a result
    // other than 1 AResult is left unchanged; otherwise it becomes the whole reply (ARaw)
    // or the hex-decoded value of "$SQL" (empty when the reply has none). Raises the
    // host's message when the host has no system component.
    static void Run(int32_t AScriptID, bool ARaw, bool ANoDialog, const std::string& AParams,
                    std::string& AResult);
};

// Opens ASQL (logged, rollback on error) and fills a drop-down list's items: description
// = ADescField's text, value = AValueField's text. Raises "无效的下拉列表." for anything that
// is not a drop-down list (after the statement has run).
void LoadDropDown(QObject* AProperties, const std::string& ASQL, const std::string& AValueField,
                  const std::string& ADescField);

// A host library component by name; nil with the host's message when it has none (or
// when no host is connected).
ComPtr<IQVExtention> GetLibraryComponent(const std::string& AName, std::string& AMessage);

// ---------------------------------------------------------------------------------------
// Phase listeners of the unit, in their registration order.

// Data picker and print package (with the privileges wrapper).
void PrintPackageListener(uint8_t APhase);
// The cached card POS / member-card client and the cached scan-pay clients.
void POSClientCacheListener(uint8_t APhase);
void NetPOSClientCacheListener(uint8_t APhase);
// Adds the unit's listeners to QvApp (adding again changes nothing).
void RegisterCoreDlgListeners();
