// A fake host for the tests: an IQvApplication and its IQVLibrary2 that record log entries
// and message boxes, answer font, configuration, system and program records, host values,
// numbered SQL texts and the script-id query, and hand out registered components.
// TFakeHostConnection connects one to the facade QvApp for its lifetime.
#pragma once

#include "uIApplication.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

struct TFakeLogEntry {
    int Level;
    std::string AppName, Source, Title, Detail;
    friend bool operator==(const TFakeLogEntry&, const TFakeLogEntry&) = default;
};

struct TFakeMessage {
    QvHandle Owner;
    int Flags;
    std::string Caption, Text;
};

struct TFakeHostState {
    std::vector<TFakeLogEntry> Log;
    std::vector<TFakeMessage> Messages;
    int MessageResult = 1;
    // Font record
    std::string FontName = "WenQuanYi Micro Hei";
    bool UseFont = false;
    int FontSize = 12;
    int FontStyle = 0;
    // Configuration record
    int SkinIndex = 2;
    bool ColorSchemeFlag = false;
    int ColorSchemeIndex = 0;
    // System record
    std::string Title = "Quorvia 门诊医生站";
    // Host values (GetValue)
    std::map<std::string, std::string> Values;
    bool OfferLibrary = true;
    // Numbered SQL texts; a number not listed answers UnknownScript(number).
    std::map<int32_t, std::string> Scripts;
    std::function<std::string(int32_t)> UnknownScript = [](int32_t AID) {
        return "SELECT " + std::to_string(AID);
    };
    // Script code -> id, answered by the host's query (numbered SQL 86).
    std::map<std::string, int32_t> ProgramIDs;
    // Library components by name; an unknown name answers NoComponentMessage.
    std::map<std::string, ComPtr<IQVExtention>> Components;
    std::string NoComponentMessage = "未注册的组件";
};

// The IQVExtention bookkeeping shared by the fake library and fake components.
template <class TIntf> class TFakeExtention : public TInterfacedObject<TIntf> {
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

// Connects a fake host application over AState to QvApp (created when missing) for the
// life of the object. The state must outlive it.
class TFakeHostConnection {
public:
    explicit TFakeHostConnection(TFakeHostState& AState);
    ~TFakeHostConnection();
    TFakeHostConnection(const TFakeHostConnection&) = delete;
    TFakeHostConnection& operator=(const TFakeHostConnection&) = delete;

private:
    ComPtr<IQvApplication> FApp;
};

// A fake host with its own state, connected while it lives.
class TFakeHost {
public:
    explicit TFakeHost(bool AOfferLibrary = true);

    TFakeHostState State;

private:
    TFakeHostConnection FConnection;
};
