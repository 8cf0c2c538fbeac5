// What the local settlement needs from the rest of the plug-in, in one small seam: the
// data module (queries, server clock, system parameters), the user context (rate mode,
// operator element, user and host names) and the message boxes.
//
// The settlement window hands its context to every operation of this folder; the
// plug-in's context forwards to CoreDM, QVUserInfo and MsgBox. Host operations (XML
// documents, numbered SQL texts, system parameters of the host, paths, wait notice) go
// through QvApp directly.
#pragma once

#include "QvADO.h"
#include "QvDateTime.h"
#include "QvHostIntf.h"
#include "QvText.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

class TSettleContext {
public:
    virtual ~TSettleContext() = default;

    // --- Data module

    // A new query with parameter checking on, on the data module's connection.
    virtual std::unique_ptr<TADOQuery> NewQuery() = 0;
    // Runs the query: opened when AOpen, else executed without records; the script is
    // logged, and on error the open transaction is rolled back before the error is
    // raised again unchanged.
    virtual void ExecuteQuery(TADOQuery& AQuery, bool AOpen) = 0;
    // The database server's clock.
    virtual TDateTime GetServerTime() = 0;
    // "1" when the system parameter row exists, otherwise "0".
    virtual std::string ParamExists(int32_t AParamNo) = 0;

    // --- User context

    virtual int32_t RateMode() = 0;
    // Adds the operator element OperInfo to the document.
    virtual void WriteOperInfo(TQVXMLDocument& ADocument) = 0;
    virtual int32_t UserID() = 0;
    virtual std::string UserName() = 0;
    virtual std::string HostName() = 0;

    // --- Messages

    // The plug-in's message box (uMsgBox); returns the button pressed.
    virtual int ShowMsgBox(const std::string& AText, const std::string& ACaption, int AFlags) = 0;
    // The message box captioned with the application title.
    virtual int ShowAppMsgBox(const std::string& AText, int AFlags) = 0;
};

// --- Helpers shared by the settlement units

// The numbered host SQL text formatted with the arguments. The host library answers a
// missing or empty text with its own message, which contains "为空" or "不存在"; that
// message is raised.
std::string SettleSQL(int32_t ANumber, std::initializer_list<TVarRec> AArgs);

// A query opened on a text, owned by the caller (the rows stay in memory).
std::unique_ptr<TADOQuery> OpenSettleQuery(TSettleContext& AContext, const std::string& ASQL);

// The host's working folder (third path of the path information; ends with a separator).
std::string SettleWorkFolder();
