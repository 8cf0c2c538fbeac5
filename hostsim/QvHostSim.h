// The stand-in host: the host application (IQvApplication) and its library (IQVLibrary3)
// as the plug-in sees them, configured from a plain struct and recording what the
// plug-in asks of them (log entries, wait notices, window notifications, message boxes).
//
// Usage:
//   TQvHostConfig config;            // defaults describe a working host
//   config.Values[".TimeOut"] = "60";
//   TQvHost host(config);
//   create(ext.out(), host.Application().get());
//   ... host.State().Log ...
#pragma once

#include "QvHostData.h"
#include "QvHostIntf.h"

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

// Orders names without regard to ASCII case (host keys, variables, component names).
struct TQvNameLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

// How the host is set up. Every field has a default that makes a working host.
struct TQvHostConfig {
    // Host application
    std::string Name = "Quorvia";
    double Version = 1.59;
    std::string Message; // GetMessage

    // System record
    std::string Title = "Quorvia医院信息系统";
    QvHandle MainWindow = 0;
    QvHandle Icon = 0;

    // Configuration record
    bool BorderFlag = false;
    int16_t ColorSchemeFlag = 0;
    std::string ImeName;
    std::string ConfigText18, ConfigText22;
    int32_t WindowMode = 0;
    int32_t SkinIndex = 0;
    int32_t ColorSchemeIndex = 0;

    // User record
    int32_t UserID = 1;
    double LoginTime = 0; // OLE date-time
    std::string UserCode = "0001";
    std::string UserName = "系统管理员";
    std::string UserText22;

    // Path record; empty paths take the working folder (each ends with a separator)
    std::string FirstPath, Path4, WorkPath, Path12;

    // Font record
    std::string FontName = "宋体";
    bool UseFont = false;
    int32_t FontSize = 9;
    int32_t FontStyle = 0;

    // Host library
    std::string LibraryName = "Qv.Library";
    double LibraryVersion = 3.0; // 3 or more offers IQVLibrary3
    int32_t ConnectionMode = 1;
    std::string ConnectionString;
    // The database connection objects: each answers a new reference or nil. Set by whoever
    // configures the host's database; unset means the host has none.
    std::function<_Connection*()> Connection;
    std::function<_Connection*()> SlaveConnection;
    // Makes the host's recyclable query; unset means CreateRecycledQuery fails.
    std::function<ComPtr<IQVRecycledQuery>()> RecycledQuery;

    std::string HostName = "QV-CLINIC-01";
    std::string HostIP = "127.0.0.1";
    std::string HostMAC = "00-16-3E-00-00-01";
    QvHandle ResourceModule = 0;
    // Resource texts by name ("DEVRES4.3"), host values (GetValue: ".TimeOut",
    // ".Programs <app>;<id>"), host variables (GetVar).
    std::map<std::string, std::string, TQvNameLess> ResourceTexts;
    std::map<std::string, std::string, TQvNameLess> Values;
    std::map<std::string, std::string, TQvNameLess> Vars;
    // System parameters by (system, parameter, kind, flag); missing ones are empty.
    std::map<std::tuple<int32_t, int32_t, int32_t, int32_t>, std::string> SysParams;

    // Numbered SQL texts and scripts: the data folder (empty: none), then these additions
    // and overrides.
    std::filesystem::path DataFolder;
    std::map<int32_t, std::string> SqlTexts;
    std::vector<TQvHostScript> Scripts;

    // The host log file (appended; empty: memory only).
    std::filesystem::path LogFile;

    // Failing steps: operation name -> the message it fails with. Names are the operation
    // names of the host application ("GetName", "GetVersion", "GetLibrary",
    // "GetSystemInfo", ...) and of the library with the prefix "Library." ("Library.GetScript").
    std::map<std::string, std::string> Failures;
    // GetLibrary answers nil with this message (when LibraryNil is set).
    bool LibraryNil = false;
    std::string LibraryNilMessage = "主应用程序库未加载。";
};

struct THostLogEntry {
    int32_t Level = 0;
    std::string AppName, Source, Title, Detail;
};

struct THostWaitCall {
    int32_t Zero = 0;
    std::string Text;
    int32_t Kind = 0;
};

struct THostFormNotice {
    int32_t Kind = 0;
    QvHandle Handle = 0;
    int32_t Zero = 0;
    std::string Text;
};

struct THostMessageBox {
    QvHandle Owner = 0;
    int32_t Param3 = 0, Flags = 0, Param4 = 0;
    std::string Caption, Text;
    int32_t Result = 0;
};

// What the host knows and what it has seen; shared by the application and library objects.
class TQvHostState {
public:
    explicit TQvHostState(TQvHostConfig AConfig);

    TQvHostConfig Config;
    TQvHostSqlLibrary Sql;

    std::vector<THostLogEntry> Log;
    std::vector<THostWaitCall> WaitCalls;
    std::vector<THostFormNotice> FormNotices;
    std::vector<THostMessageBox> MessageBoxes;
    // Button results for the next message boxes, in order; 1 (OK) when empty.
    std::deque<int32_t> MessageBoxAnswers;
    // When set, answers every message box instead of the queue (a real dialog, say).
    std::function<int32_t(const THostMessageBox&)> MessageBoxHandler;

    // Components by name for GetLibraryComponent and GetInterfaceComponent.
    std::map<std::string, ComPtr<IQVExtention>, TQvNameLess> LibraryComponents;
    std::map<std::string, ComPtr<IQVExtention>, TQvNameLess> InterfaceComponents;

    // Records a log entry and appends it to the log file.
    void AddLog(THostLogEntry AEntry);
    // Raises the configured failure of an operation.
    void CheckFailure(const std::string& AOperation) const;
    // The working folder (ends with a separator): WorkPath or the current folder.
    std::string WorkFolder() const;
};

// The host: owns the shared state and the application and library objects.
class TQvHost {
public:
    explicit TQvHost(TQvHostConfig AConfig = {});
    ~TQvHost();
    TQvHost(const TQvHost&) = delete;
    TQvHost& operator=(const TQvHost&) = delete;

    TQvHostState& State() { return *FState; }
    const std::shared_ptr<TQvHostState>& SharedState() const { return FState; }
    ComPtr<IQvApplication> Application() const { return FApplication; }
    ComPtr<IQVLibrary3> Library() const { return FLibrary; }

private:
    std::shared_ptr<TQvHostState> FState;
    ComPtr<IQVLibrary3> FLibrary;
    ComPtr<IQvApplication> FApplication;
};

// A new host XML document (pugixml).
ComPtr<TQVXMLDocument> NewHostXMLDocument();

// Renders a variant as attribute text: integers in decimal, floating values with 15
// significant digits, currency as its shortest text, dates as "yyyy-mm-dd[ hh:nn:ss]",
// Booleans "True"/"False", null and empty as empty text.
std::string HostVariantText(const VARIANT& AValue);
