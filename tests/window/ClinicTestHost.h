// The fake host as the command, window and service tests use it: fake "QV.System" and
// "Qv.Print" components to register with it, and in-memory answer tables for the
// statements the plug-in opens.
#pragma once

#include "FakeHost.h"
#include "QvDataSet.h"
#include "kbmMemTable.h"
#include "uCoreDlg.h"

#include <map>
#include <string>
#include <variant>
#include <vector>

// A host log entry without the application name.
struct TLogEntry {
    int Level;
    std::string Source, Title, Detail;
    friend bool operator==(const TLogEntry&, const TLogEntry&) = default;
};

// ---------------------------------------------------------------------------------------
// Components

// Base of the fake components: the IQVExtention bookkeeping.
using TFakeComponent = TFakeExtention<IQVExtention>;

// "QV.System": command 23 answers Reply with Result and records each request.
class TFakeSystemComponent : public TFakeComponent {
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
class TFakePrintComponent : public TFakeComponent {
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

// The fake host's state plus the statements the plug-in opens. The host reports blank font,
// configuration and system records and answers an unknown numbered SQL text with the
// library's "missing" text.
struct TClinicHostState : TFakeHostState {
    TClinicHostState();

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
    // The texts of the host message boxes shown, in order.
    std::vector<std::string> HostMessages() const;

    TClinicHostState State;

private:
    TFakeHostConnection FConnection{State};
};

// Fills a memory table with the rows (used by the statement answer and by tests).
void FillTable(TkbmMemTable& ATable, const TRows& ARows);
