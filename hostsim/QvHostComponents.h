// The host's components as the plug-in reaches them through GetLibraryComponent /
// GetInterfaceComponent: the report component "Qv.Print", the system component
// "QV.System" and scripted stand-ins for the payment devices. Each one records every
// request it receives and what it answered, in one journal shared by the host.
#pragma once

#include "QvHostSim.h"

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One request a component received and its answer.
struct TComponentRequest {
    std::string Component; // the component's name
    std::string Operation; // "CreateObject", "Execute", "OpenReport", "Print", ...
    int32_t Command = 0;   // Execute: command; Print: report id
    int32_t Param = 0;     // Execute: parameter
    std::string Request;   // the text handed over
    int32_t Result = 0;    // result code or success flag
    std::string Reply;     // the text handed back
    std::string Error;     // the failure raised, when the request failed
};

// Every request of every component, in order.
struct TQvComponentJournal {
    std::vector<TComponentRequest> Requests;
};

// A report opened or printed by "Qv.Print".
struct TPrintedReport {
    std::string ReportCode; // the last report code opened before printing
    int32_t ReportID = 0;   // 0 for an open without print
    bool Flag1 = false, Flag2 = false;
    std::string Variables;      // name=value lines as handed over
    std::filesystem::path File; // the receipt written for a print (empty when none)
};

// How "Qv.Print" behaves.
struct TQvPrintSettings {
    // When set, OpenReport and Print fail and GetLastError answers this text.
    std::string FailText;
    // The answer of Command(".CheckUser"): 1 allows the user.
    int32_t CheckUser = 1;
    // The success flag Print hands back when it does not fail.
    bool PrintSucceeds = true;
    // Printed reports are written here as readable text files (empty: not written).
    std::filesystem::path OutputFolder;
    // CreateObject hands out no object (the component is there but its object is not).
    bool NoObject = false;
};

// What "Qv.Print" saw: reports opened and printed.
struct TQvPrintRecord {
    std::vector<TPrintedReport> Opened;
    std::vector<TPrintedReport> Printed;
};

// How "QV.System" answers command 23. By default the reply is "$SQL=" followed by the
// configured script's SQL (looked up by id) as hex of its ANSI bytes, with result 1; a
// script id without a script answers 0 and leaves the text as it came.
struct TQvSystemSettings {
    // Looks up a script's SQL by id (set by the host from its SQL library).
    std::function<std::optional<std::string>(int32_t)> ScriptSql;
    // Fixed answers that replace the lookup: result and the whole reply text.
    std::optional<int32_t> Result;
    std::optional<std::string> Reply;
};

// One scripted answer of a device stand-in.
struct TScriptedReply {
    std::optional<int32_t> Command; // answers only this command; any when unset
    int32_t Result = 1;
    std::optional<std::string> Reply; // the text handed back; the request unchanged when unset
    std::string Fail;                 // when set, Execute fails with this message
};

// How a scripted device stand-in answers Execute: the first matching reply is used and
// consumed; without one, the default answer.
struct TScriptedComponentSettings {
    std::deque<TScriptedReply> Replies;
    TScriptedReply Default;
    // GetVersion's answer; GetInitialized answers whether the device is ready.
    double Version = 1.0;
    bool Ready = true;
};

ComPtr<IQVExtention> NewPrintComponent(TQvPrintSettings ASettings,
                                       std::shared_ptr<TQvComponentJournal> AJournal,
                                       std::shared_ptr<TQvPrintRecord> ARecord);
ComPtr<IQVExtention> NewSystemComponent(TQvSystemSettings ASettings,
                                        std::shared_ptr<TQvComponentJournal> AJournal);
ComPtr<IQVExtention> NewScriptedComponent(std::string AName, TScriptedComponentSettings ASettings,
                                          std::shared_ptr<TQvComponentJournal> AJournal);

// The "$SQL" reply of "QV.System" for a text: "$SQL=" and the hex of its ANSI bytes.
std::string SystemSqlReply(const std::string& ASql);
