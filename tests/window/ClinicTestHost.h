// A small host for the command, window and service tests: host application and library
// that record log entries and host message boxes, answer numbered SQL texts and script
// ids, and hand out fake "QV.System" and "Qv.Print" components; plus an in-memory answer
// table for the statements the plug-in opens.
#pragma once

#include "QvDataSet.h"
#include "kbmMemTable.h"
#include "uCoreDlg.h"
#include "uIApplication.h"

#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

struct TLogEntry {
    int Level;
    std::string Source, Title, Detail;
    friend bool operator==(const TLogEntry&, const TLogEntry&) = default;
};

// ---------------------------------------------------------------------------------------
// Components

// Base of the fake components: the IQVExtention bookkeeping.
template <class TSelf> class TFakeComponentBase : public TInterfacedObject<IQVExtention> {
public:
    HRESULT QV_STDCALL GetVersion(double* v) override { return *v = 1.0, S_OK; }
    HRESULT QV_STDCALL GetName(BSTR* n) override { return *n = nullptr, S_OK; }
    HRESULT QV_STDCALL GetMessage(BSTR* m) override { return *m = nullptr, S_OK; }
    HRESULT QV_STDCALL GetModuleHandle(QvHandle* h) override { return *h = 0, S_OK; }
    HRESULT QV_STDCALL GetInitialized(WordBool* v) override { return *v = -1, S_OK; }
    HRESULT QV_STDCALL Execute(int32_t, int32_t, BSTR*, int32_t* r) override { return *r = 0, S_OK; }
    HRESULT QV_STDCALL CreateObject(IInterface** o, int32_t, BSTR, int32_t* r) override {
        *o = nullptr;
        *r = 0;
        return S_OK;
    }
};

// "QV.System": command 23 answers Reply with Result and records each request.
class TFakeSystemComponent : public TFakeComponentBase<TFakeSystemComponent> {
public:
    struct TRequest {
        int32_t Command, Param;
        std::string Text;
    };
    std::vector<TRequest> Requests;
    std::string Reply;
    int32_t Result = 1;
    int32_t ScriptID = 0; // when set, any other script id answers 0 with an empty reply

    HRESULT QV_STDCALL Execute(int32_t ACommand, int32_t AParam, BSTR* AData, int32_t* AResult) override {
        Requests.push_back({ACommand, AParam, BstrToUtf8(*AData)});
        SysFreeString(*AData);
        const bool known = ScriptID == 0 || AParam == ScriptID;
        *AData = Utf8ToBstr(known ? Reply : std::string());
        *AResult = known ? Result : 0;
        return S_OK;
    }
};

// The print interface of the fake "Qv.Print".
class TFakePrint : public TInterfacedObject<IQVPrint2> {
public:
    std::vector<std::string> Commands;
    struct TOpened {
        std::string Code, Variables, Data;
    };
    std::vector<TOpened> Opened;
    struct TPrinted {
        int32_t ID;
        bool Flag1, Flag2;
    };
    std::vector<TPrinted> Printed;
    int Resets = 0;
    bool Fail = false;
    std::string LastError = "打印机未就绪";
    int32_t CheckUserAnswer = 1;

    HRESULT QV_STDCALL GetVersion(double* v) override { return *v = 1.0, S_OK; }
    HRESULT QV_STDCALL GetName(BSTR* n) override { return *n = nullptr, S_OK; }
    HRESULT QV_STDCALL GetMessage(BSTR* m) override { return *m = nullptr, S_OK; }
    HRESULT QV_STDCALL ReservedP1() override { return E_NOTIMPL; }
    HRESULT QV_STDCALL ReservedP2() override { return E_NOTIMPL; }
    HRESULT QV_STDCALL GetLastError(BSTR* t) override { return *t = Utf8ToBstr(LastError), S_OK; }
    HRESULT QV_STDCALL ReservedP4() override { return E_NOTIMPL; }
    HRESULT QV_STDCALL ReservedP5() override { return E_NOTIMPL; }
    HRESULT QV_STDCALL Print(int32_t id, WordBool f1, WordBool f2, WordBool* ok) override {
        if (Fail) return E_FAIL;
        Printed.push_back({id, f1 != 0, f2 != 0});
        *ok = -1;
        return S_OK;
    }
    HRESULT QV_STDCALL ReservedP7() override { return E_NOTIMPL; }
    HRESULT QV_STDCALL ReservedP8() override { return E_NOTIMPL; }
    HRESULT QV_STDCALL ReservedP9() override { return E_NOTIMPL; }
    HRESULT QV_STDCALL ReservedP10() override { return E_NOTIMPL; }
    HRESULT QV_STDCALL ReservedP11() override { return E_NOTIMPL; }
    HRESULT QV_STDCALL OpenReport(BSTR code, BSTR vars, BSTR data, int32_t* v) override {
        if (Fail) return E_FAIL;
        Opened.push_back({BstrToUtf8(code), BstrToUtf8(vars), BstrToUtf8(data)});
        *v = 0;
        return S_OK;
    }
    int32_t QV_STDCALL Command(BSTR c) override {
        Commands.push_back(BstrToUtf8(c));
        return Commands.back() == ".CheckUser" ? CheckUserAnswer : 0;
    }
    HRESULT QV_STDCALL ReservedP14() override { return E_NOTIMPL; }
    HRESULT QV_STDCALL Reset() override { return ++Resets, S_OK; }
};

// "Qv.Print": creates the print object (or none).
class TFakePrintComponent : public TFakeComponentBase<TFakePrintComponent> {
public:
    ComPtr<TFakePrint> Print = MakeCom<TFakePrint>();
    bool GiveObject = true;
    std::vector<int32_t> CreateFlags;

    HRESULT QV_STDCALL CreateObject(IInterface** o, int32_t AFlags, BSTR AName, int32_t* r) override {
        CreateFlags.push_back(AFlags);
        *o = nullptr;
        *r = 0;
        if (GiveObject) {
            *o = static_cast<IQVPrint*>(Print.get());
            (*o)->AddRef();
            *r = 1;
        }
        return S_OK;
    }
};

// ---------------------------------------------------------------------------------------
// Statements: rows answered for a SQL text.

using TCell = std::variant<std::monostate, int, double, std::string>;
struct TRows {
    std::vector<std::string> Columns;
    std::vector<std::vector<TCell>> Rows;
};

struct TClinicHostState {
    std::vector<TLogEntry> Log;
    std::vector<std::string> HostMessages;
    std::map<int32_t, std::string> Scripts;    // numbered SQL texts
    std::map<std::string, int32_t> ProgramIDs; // script code -> id
    std::map<std::string, ComPtr<IQVExtention>> Components;
    std::string NoComponentMessage = "未注册的组件";
    std::map<std::string, TRows> Answers; // SQL text -> rows (a missing text raises)
    std::vector<std::string> Statements;  // every statement opened, in order
    std::vector<bool> StatementsLogged;
};

// Connects the fake host to QvApp and answers the plug-in's statements while it lives.
class TClinicTestHost {
public:
    TClinicTestHost();
    ~TClinicTestHost();
    TClinicTestHost(const TClinicTestHost&) = delete;
    TClinicTestHost& operator=(const TClinicTestHost&) = delete;

    // Entries of one source, in order.
    std::vector<TLogEntry> LogOf(const std::string& ASource) const;

    TClinicHostState State;

private:
    ComPtr<IQvApplication> FApp;
};

// Fills a memory table with the rows (used by the statement answer and by tests).
void FillTable(TkbmMemTable& ATable, const TRows& ARows);
