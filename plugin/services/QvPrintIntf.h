// The host's report component interfaces (implemented by the host's "Qv.Print" component,
// used by the print package). Fifteen operations follow the three of IQVInterface; only
// the ones the plug-in calls are named, the others are reserved so that each named one
// sits at its slot. Operations report failure by code unless marked direct.
#pragma once

#include "QvHostIntf.h"

struct IQVPrint : IQVInterface {
    QV_INTERFACE("{8E516F06-7594-4967-8ED8-C2975725E80E}", IQVInterface);
    QV_RESERVED_SLOT(P1);                                     // 1
    QV_RESERVED_SLOT(P2);                                     // 2
    virtual HRESULT QV_STDCALL GetLastError(BSTR* AText) = 0; // 3
    QV_RESERVED_SLOT(P4);                                     // 4
    QV_RESERVED_SLOT(P5);                                     // 5
    virtual HRESULT QV_STDCALL Print(int32_t AReportID, WordBool AFlag1, WordBool AFlag2,
                                     WordBool* ASuccess) = 0; // 6
    QV_RESERVED_SLOT(P7);                                     // 7
    QV_RESERVED_SLOT(P8);                                     // 8
    QV_RESERVED_SLOT(P9);                                     // 9
    QV_RESERVED_SLOT(P10);                                    // 10
    QV_RESERVED_SLOT(P11);                                    // 11
    virtual HRESULT QV_STDCALL OpenReport(BSTR AReportCode, BSTR AVariables, BSTR AData,
                                          int32_t* AValue) = 0; // 12
    // Direct: 1 = allowed for ".CheckUser".
    virtual int32_t QV_STDCALL Command(BSTR ACommand) = 0; // 13
    QV_RESERVED_SLOT(P14);                                 // 14
    virtual HRESULT QV_STDCALL Reset() = 0;                // 15
};

// The second print interface: asked for when connecting and kept; no operation of its
// own is used by the plug-in.
struct IQVPrint2 : IQVPrint {
    QV_INTERFACE("{B4517C83-C7D7-44D8-A579-A12870C47BD9}", IQVPrint);
};
